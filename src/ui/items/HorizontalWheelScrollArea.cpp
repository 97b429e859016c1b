#include "ui/items/HorizontalWheelScrollArea.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace lumra {

std::optional<int> wheelScrollTarget(int offset, double horizontalDelta, double verticalDelta, int contentWidth,
                                     int visibleWidth)
{
    const double delta = std::abs(verticalDelta) > std::abs(horizontalDelta) ? verticalDelta : horizontalDelta;
    if (delta == 0)
        return std::nullopt;
    const int end = std::max(contentWidth - visibleWidth, 0);
    const int target = std::clamp(int(std::lround(offset - 30 * delta)), 0, end);
    if (target == offset)
        return std::nullopt;
    return target;
}

HiddenItems hiddenItems(const QList<std::pair<int, int>>& spans, int offset, int visibleWidth)
{
    HiddenItems hidden;
    for (const auto& [left, right] : spans) {
        // An item counts where its middle is: one cut by a few points still reads as shown.
        const int twiceMiddle = left + right;
        if (twiceMiddle > 2 * (offset + visibleWidth))
            ++hidden.after;
        else if (twiceMiddle < 2 * offset)
            ++hidden.before;
    }
    return hidden;
}

namespace {

// "+N" on an opaque chip that covers whatever is cut off beneath it.
class HiddenCountChip : public QAbstractButton {
public:
    explicit HiddenCountChip(QWidget* parent)
        : QAbstractButton(parent)
    {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        QFont small = font();
        if (small.pointSizeF() > 0)
            small.setPointSizeF(small.pointSizeF() * 0.85);
        else
            small.setPixelSize(std::max(8, int(small.pixelSize() * 0.85)));
        small.setWeight(QFont::DemiBold);
        setFont(small);
        hide();
    }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(text()) + 12, fontMetrics().height() + 4}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor window = palette().color(QPalette::Window);
        const QColor accent = palette().color(QPalette::Highlight);
        const qreal share = isDown() ? 0.45 : underMouse() ? 0.35 : 0.25;
        const QColor fill = QColor::fromRgbF(window.redF() + (accent.redF() - window.redF()) * share,
                                             window.greenF() + (accent.greenF() - window.greenF()) * share,
                                             window.blueF() + (accent.blueF() - window.blueF()) * share);
        QPainterPath chip;
        chip.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), height() / 2.0, height() / 2.0);
        painter.fillPath(chip, fill);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

} // namespace

HorizontalWheelScrollArea::HorizontalWheelScrollArea(QWidget* parent)
    : QScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    // A click on a chip or a badge lands here on its way up: the search field keeps the keyboard.
    setFocusPolicy(Qt::NoFocus);
    setWidgetResizable(false);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setBackgroundRole(QPalette::NoRole);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
}

QSize HorizontalWheelScrollArea::sizeHint() const
{
    const QSize content = widget() ? widget()->sizeHint() : QSize(0, 0);
    return {content.width(), content.height()};
}

QSize HorizontalWheelScrollArea::minimumSizeHint() const
{
    return {0, widget() ? widget()->sizeHint().height() : 0};
}

void HorizontalWheelScrollArea::wheelEvent(QWheelEvent* event)
{
    // A touchpad reports pixels: leave its two-axis scrolling as it is.
    if (!event->pixelDelta().isNull()) {
        QScrollArea::wheelEvent(event);
        return;
    }
    // One notch of a wheel is 120 eighths of a degree; it counts as a delta of 1.
    const QPointF steps = QPointF(event->angleDelta()) / 120.0;
    QScrollBar* bar = horizontalScrollBar();
    const int contentWidth = widget() ? widget()->width() : 0;
    const auto target = wheelScrollTarget(bar->value(), steps.x(), steps.y(), contentWidth, viewport()->width());
    if (!target) {
        event->ignore();
        return;
    }
    bar->setValue(*target);
    event->accept();
}

void HorizontalWheelScrollArea::showHiddenCounts(std::function<QString(int)> describe)
{
    m_describe = std::move(describe);
    if (m_before)
        return;
    m_before = new HiddenCountChip(this);
    m_after = new HiddenCountChip(this);
    m_before->setObjectName(QStringLiteral("hiddenBefore"));
    m_after->setObjectName(QStringLiteral("hiddenAfter"));
    QScrollBar* bar = horizontalScrollBar();
    connect(m_before, &QAbstractButton::clicked, this, [bar] { bar->setValue(bar->minimum()); });
    connect(m_after, &QAbstractButton::clicked, this, [bar] { bar->setValue(bar->maximum()); });
    connect(bar, &QScrollBar::valueChanged, this, &HorizontalWheelScrollArea::updateHiddenCounts);
    connect(bar, &QScrollBar::rangeChanged, this, &HorizontalWheelScrollArea::updateHiddenCounts);
    updateHiddenCounts();
}

HiddenItems HorizontalWheelScrollArea::hiddenNow() const { return hiddenAt(viewport()->width()); }

HiddenItems HorizontalWheelScrollArea::hiddenAt(int visibleWidth) const
{
    const QWidget* content = widget();
    if (!content)
        return {};
    QList<std::pair<int, int>> spans;
    for (const QWidget* child : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisibleTo(content))
            spans.append({child->x(), child->x() + child->width()});
    }
    return hiddenItems(spans, horizontalScrollBar()->value(), visibleWidth);
}

void HorizontalWheelScrollArea::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    updateHiddenCounts();
}

bool HorizontalWheelScrollArea::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watched && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        updateHiddenCounts();
    return QScrollArea::eventFilter(watched, event);
}

void HorizontalWheelScrollArea::updateHiddenCounts()
{
    if (!m_before || m_updating)
        return;
    const QScopedValueRollback updating(m_updating, true); // new margins move the scroll range
    if (widget() != m_watched) {
        if (m_watched)
            m_watched->removeEventFilter(this);
        m_watched = widget();
        if (m_watched)
            m_watched->installEventFilter(this);
    }
    // The chips stand beside the row, not over it: the viewport gives them room. A narrower
    // viewport only hides more, so the counts settle after one more pass.
    const auto room = [](QAbstractButton* chip, int count) {
        if (count == 0)
            return 0;
        chip->setText(QStringLiteral("+%1").arg(count));
        return chip->sizeHint().width() + 4;
    };
    QMargins margins;
    for (int pass = 0; pass < 3; ++pass) {
        const HiddenItems hidden = hiddenAt(width() - margins.left() - margins.right());
        const QMargins needed(room(m_before, hidden.before), 0, room(m_after, hidden.after), 0);
        if (needed == margins)
            break;
        margins = needed;
    }
    if (margins != viewportMargins())
        setViewportMargins(margins);
    const HiddenItems hidden = hiddenNow();
    const auto place = [this](QAbstractButton* chip, int count, bool atEnd) {
        chip->setVisible(count > 0);
        if (count == 0)
            return;
        chip->setText(QStringLiteral("+%1").arg(count));
        chip->setToolTip(m_describe ? m_describe(count) : QString());
        chip->setAccessibleName(chip->toolTip().isEmpty() ? chip->text() : chip->toolTip());
        const QSize size = chip->sizeHint();
        chip->setGeometry(atEnd ? width() - size.width() : 0, (height() - size.height()) / 2, size.width(), size.height());
        chip->raise();
    };
    place(m_before, hidden.before, false);
    place(m_after, hidden.after, true);
}

} // namespace lumra
