#include "ui/items/FilterBadge.h"

#include "ui/items/SymbolIcon.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace lumra {

namespace {

constexpr int maxLabelWidth = 140;
constexpr int minLabelWidth = 56;

// One line that gives up width before anything else in a crowded bar, ending in an ellipsis.
class ElidingLabel : public QWidget {
public:
    ElidingLabel(const QString& text, const QFont& font, QWidget* parent)
        : QWidget(parent)
        , m_text(text)
    {
        setFont(font);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override
    {
        return {qMin(fontMetrics().horizontalAdvance(m_text) + 1, maxLabelWidth), fontMetrics().height()};
    }
    QSize minimumSizeHint() const override
    {
        // Short labels stay whole; long ones give way down to a few letters.
        return {qMin(sizeHint().width(), minLabelWidth), fontMetrics().height()};
    }
    bool isElided() const { return fontMetrics().horizontalAdvance(m_text) >= width(); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        // What the ellipsis hides is read from the tooltip.
        if (parentWidget())
            parentWidget()->setToolTip(isElided() ? m_text : QString());
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(m_text, Qt::ElideRight, width()));
    }

private:
    QString m_text;
};

QFont captionFont(const QFont& base, qreal points)
{
    QFont font = base;
    font.setPointSizeF(points);
    return font;
}

} // namespace

QColor badgeTintColor(BadgeTint tint, const QPalette& palette)
{
    switch (tint) {
    case BadgeTint::accent: return palette.color(QPalette::Highlight);
    case BadgeTint::purple: return QColor(0xAF, 0x52, 0xDE);
    case BadgeTint::green: return QColor(0x34, 0xC7, 0x59);
    case BadgeTint::yellow: return QColor(0xFF, 0xCC, 0x00);
    case BadgeTint::red: return QColor(0xFF, 0x3B, 0x30);
    }
    return palette.color(QPalette::Highlight);
}

FilterBadge::FilterBadge(const FilterBadgeSpec& spec, const QIcon& appIcon, QWidget* parent)
    : QWidget(parent)
    , m_spec(spec)
    , m_appIcon(appIcon)
{
    setAttribute(Qt::WA_StyledBackground, false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 3, 6, 3);
    layout->setSpacing(3);

    const QFont font = captionFont(this->font(), 8.5);
    m_icon = new QLabel(this);
    m_icon->setFixedSize(12, 12);
    m_icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_icon);

    m_label = new ElidingLabel(spec.label, font, this);
    layout->addWidget(m_label);

    if (spec.isPinned) {
        m_pin = new QLabel(this);
        m_pin->setFixedSize(9, 9);
        m_pin->setAccessibleName(tr("Pinned"));
        layout->addWidget(m_pin);
    }

    m_remove = new QToolButton(this);
    m_remove->setAutoRaise(true);
    m_remove->setFixedSize(12, 12);
    m_remove->setIconSize(QSize(8, 8));
    m_remove->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; background: transparent; }"));
    m_remove->setAccessibleName(tr("Remove %1").arg(spec.label));
    m_remove->setFocusPolicy(Qt::TabFocus);
    connect(m_remove, &QToolButton::clicked, this, &FilterBadge::removeRequested);
    layout->addWidget(m_remove);

    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    applyColours();
}

void FilterBadge::applyColours()
{
    const qreal dpr = devicePixelRatioF();
    const QColor text = palette().color(QPalette::WindowText);
    const auto symbol = [dpr](const QString& name, int side, const QColor& color) {
        return tintedSymbol(name, color).pixmap(QSize(side, side), dpr);
    };
    if (!m_spec.symbol.isEmpty())
        m_icon->setPixmap(symbol(m_spec.symbol, 12, text));
    else if (!m_appIcon.isNull())
        m_icon->setPixmap(m_appIcon.pixmap(QSize(12, 12), dpr));
    else
        m_icon->setPixmap(symbol(QStringLiteral("app"), 12, text));
    if (m_pin)
        m_pin->setPixmap(symbol(QStringLiteral("pin.fill"), 9, secondaryColor(palette())));
    m_remove->setIcon(tintedSymbol(QStringLiteral("xmark"), text));
}

void FilterBadge::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        applyColours();
}

void FilterBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = badgeTintColor(m_spec.tint, palette());
    fill.setAlphaF(float(m_spec.tintOpacity));
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 4, 4);
    painter.fillPath(path, fill);
}

} // namespace lumra
