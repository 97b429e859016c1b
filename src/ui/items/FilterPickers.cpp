#include "ui/items/FilterPickers.h"

#include "ui/items/FilterLabels.h"
#include "ui/items/SymbolIcon.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace lumra {

namespace {

// The rows run to the popover's edges, so their text sits inset by the list's padding plus their own.
constexpr int rowPaddingX = 12;
constexpr int rowPaddingY = 5;
constexpr int iconFrame = 16;
constexpr int maxListHeight = 250;
// Wider than this, a label is cut and reads in full from the row's tooltip.
constexpr int maxPickerWidth = 340;

QLabel* captionLabel(const QString& text, QPalette::ColorRole role, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setForegroundRole(role);
    return label;
}

} // namespace

PickerRow::PickerRow(const PickerRowSpec& spec, int iconSpacing, QWidget* parent)
    : QAbstractButton(parent)
    , m_spec(spec)
    , m_iconSpacing(iconSpacing)
{
    setText(spec.label);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

void PickerRow::setHighlighted(bool highlighted)
{
    if (m_highlighted == highlighted)
        return;
    m_highlighted = highlighted;
    update();
}

void PickerRow::resizeEvent(QResizeEvent* event)
{
    QAbstractButton::resizeEvent(event);
    setToolTip(sizeHint().width() > width() ? text() : QString());
}

QSize PickerRow::sizeHint() const
{
    const int textHeight = fontMetrics().height();
    return {rowPaddingX * 2 + iconFrame + m_iconSpacing + fontMetrics().horizontalAdvance(text()),
            rowPaddingY * 2 + qMax(textHeight, iconFrame)};
}

void PickerRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isHighlighted()) {
        QColor fill = palette().color(QPalette::Highlight);
        fill.setAlphaF(0.15f);
        painter.fillRect(rect(), fill);
    }
    const QRect content = rect().adjusted(rowPaddingX, rowPaddingY, -rowPaddingX, -rowPaddingY);
    const QRect iconRect(content.left(), content.center().y() - iconFrame / 2 + 1, iconFrame, iconFrame);
    if (!m_spec.symbol.isEmpty())
        painter.drawPixmap(iconRect.adjusted(1, 1, -1, -1),
                           tintedSymbol(m_spec.symbol, palette().color(QPalette::WindowText))
                               .pixmap(QSize(iconFrame - 2, iconFrame - 2), devicePixelRatioF()));
    else
        m_spec.icon.paint(&painter, iconRect.adjusted(1, 1, -1, -1));
    const QRect textRect = content.adjusted(iconFrame + m_iconSpacing, 0, 0, 0);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width()));
}

void PickerRow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

FilterPickerView::FilterPickerView(const Layout& layout, const QList<PickerRowSpec>& rows, QWidget* parent)
    : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 4, 0, 4);
    outer->setSpacing(2);

    QLabel* title = captionLabel(layout.title, QPalette::PlaceholderText, this);
    title->setContentsMargins(rowPaddingX, 4, rowPaddingX, 0);
    outer->addWidget(title);

    if (rows.isEmpty() && !layout.emptyText.isEmpty()) {
        QLabel* empty = captionLabel(layout.emptyText, QPalette::PlaceholderText, this);
        empty->setContentsMargins(rowPaddingX, 8, rowPaddingX, 8);
        empty->setWordWrap(true);
        outer->addWidget(empty);
        return;
    }

    QWidget* listHost = this;
    QVBoxLayout* list = outer;
    QScrollArea*& scroll = m_scroll;
    if (layout.scrolls) {
        scroll = new QScrollArea(this);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->viewport()->setAutoFillBackground(false);
        listHost = new QWidget(scroll);
        listHost->setAutoFillBackground(false);
        list = new QVBoxLayout(listHost);
        list->setContentsMargins(0, 0, 0, 0);
        list->setSpacing(2);
        outer->addWidget(scroll);
    }
    for (const PickerRowSpec& spec : rows) {
        auto* row = new PickerRow(spec, layout.iconSpacing, listHost);
        row->installEventFilter(this);
        connect(row, &PickerRow::clicked, this, [this, key = spec.key] { emit chosen(key); });
        list->addWidget(row);
        m_rows.append(row);
    }
    int widest = 0;
    for (PickerRow* row : m_rows)
        widest = qMax(widest, row->sizeHint().width());
    if (scroll) {
        scroll->setWidget(listHost);
        const int natural = listHost->sizeHint().height();
        scroll->setFixedHeight(qMin(natural, maxListHeight));
        if (natural > maxListHeight)
            widest += scroll->verticalScrollBar()->sizeHint().width();
    }
    setFixedWidth(qBound(layout.width, widest, qMax(layout.width, maxPickerWidth)));
}

void FilterPickerView::setHighlightedRow(PickerRow* row)
{
    for (PickerRow* each : m_rows)
        each->setHighlighted(each == row);
}

PickerRow* FilterPickerView::highlightedRow() const
{
    for (PickerRow* row : m_rows) {
        if (row->isHighlighted())
            return row;
    }
    return nullptr;
}

PickerRow* FilterPickerView::row(const QString& key) const
{
    for (PickerRow* row : m_rows) {
        if (row->key() == key)
            return row;
    }
    return nullptr;
}

bool FilterPickerView::eventFilter(QObject* watched, QEvent* event)
{
    // One highlight: the row last entered by the pointer or reached by the keyboard; the pointer
    // takes the focus along, so the keys go on from where it is.
    auto* row = static_cast<PickerRow*>(watched);
    switch (event->type()) {
    case QEvent::Enter:
        setHighlightedRow(row);
        row->setFocus(Qt::MouseFocusReason);
        break;
    case QEvent::Leave:
        if (row->isHighlighted())
            setHighlightedRow(nullptr);
        break;
    case QEvent::FocusIn:
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason)
            setHighlightedRow(row);
        break;
    default: break;
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const int at = int(m_rows.indexOf(static_cast<PickerRow*>(watched)));
        const int next = key == Qt::Key_Down ? at + 1 : key == Qt::Key_Up ? at - 1 : -1;
        if (at >= 0 && (key == Qt::Key_Down || key == Qt::Key_Up)) {
            if (next >= 0 && next < m_rows.size()) {
                m_rows[next]->setFocus(Qt::TabFocusReason);
                if (m_scroll)
                    m_scroll->ensureWidgetVisible(m_rows[next]);
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

FilterPickerView* makeDatePicker(QWidget* parent)
{
    QList<PickerRowSpec> rows;
    for (DateFilterOption option : allDateFilterOptions)
        rows.append({toRawValue(option), {}, FilterLabels::dateOption(option), FilterLabels::dateOptionSymbol(option)});
    return new FilterPickerView({QObject::tr("Filter by date"), 180, false, {}, 8}, rows, parent);
}

FilterPickerView* makeTypePicker(QWidget* parent)
{
    QList<PickerRowSpec> rows;
    for (TypeFilterOption option : allTypeFilterOptions)
        rows.append({toRawValue(option), {}, FilterLabels::typeOption(option), FilterLabels::typeOptionSymbol(option)});
    return new FilterPickerView({QObject::tr("Filter by type"), 180, false, {}, 8}, rows, parent);
}

FilterPickerView* makeAppPicker(const QList<SourceApp>& apps, const std::function<QIcon(const QString&)>& iconFor,
                                QWidget* parent)
{
    QList<PickerRowSpec> rows;
    rows.reserve(apps.size());
    for (const SourceApp& app : apps) {
        const QIcon icon = iconFor ? iconFor(app.bundleId) : QIcon();
        rows.append({app.bundleId, icon, app.name, icon.isNull() ? QStringLiteral("app") : QString()});
    }
    return new FilterPickerView({QObject::tr("Filter by app"), 200, true, QObject::tr("No source apps recorded yet"), 6},
                                rows, parent);
}

FilterPickerView* makeCategoryPicker(const QList<ClipboardCategory>& categories, QWidget* parent)
{
    QList<PickerRowSpec> rows;
    for (const ClipboardCategory& category : categories)
        rows.append({category.id.toString(QUuid::WithoutBraces), {}, category.name, category.iconName});
    return new FilterPickerView({QObject::tr("Filter by category"), 200, true, QObject::tr("No categories yet"), 6},
                                rows, parent);
}

} // namespace lumra
