#include "ui/items/CategoryPill.h"

#include "ui/shell/AppActions.h"
#include "ui/shell/PopupPanel.h"
#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "ui/items/PopupAlert.h"
#include "ui/items/SymbolIcon.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace lumra {

namespace {

constexpr int horizontalPadding = 4;
constexpr int verticalPadding = 3;
constexpr int iconSpacing = 3;
constexpr qreal cornerRadius = 4;

std::function<void(const ClipboardCategory&)>& editHandler()
{
    static std::function<void(const ClipboardCategory&)> handler;
    return handler;
}

} // namespace

CategoryPill::CategoryPill(ClipboardManager& manager, const ClipboardCategory& category, bool selected, QWidget* parent)
    : QAbstractButton(parent)
    , m_manager(&manager)
    , m_category(category)
    , m_selected(selected)
{
    setText(category.name);
    setToolTip(category.name);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(category.name);
    setFontSize(manager.footerSize());
    connect(this, &QAbstractButton::clicked, this, &CategoryPill::toggleFilter);
}

void CategoryPill::setEditHandler(std::function<void(const ClipboardCategory&)> handler) { editHandler() = std::move(handler); }

void CategoryPill::setSelectedCategory(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void CategoryPill::setFontSize(double points)
{
    m_fontSize = points;
    QFont f = font();
    f.setPixelSize(std::max(1, qRound(points)));
    setFont(f);
    updateGeometry();
    update();
}

QSize CategoryPill::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int iconSide = metrics.height();
    return {horizontalPadding * 2 + iconSide + iconSpacing + metrics.horizontalAdvance(m_category.name),
            verticalPadding * 2 + metrics.height()};
}

void CategoryPill::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (m_selected) {
        QColor accent = palette().color(QPalette::Highlight);
        accent.setAlphaF(0.2);
        QPainterPath path;
        path.addRoundedRect(frame, cornerRadius, cornerRadius);
        painter.fillPath(path, accent);
    }
    if (hasFocus()) {
        QPen pen(palette().color(QPalette::Highlight), 1);
        painter.setPen(pen);
        painter.drawRoundedRect(frame, cornerRadius, cornerRadius);
    }
    const QColor foreground = m_selected ? palette().color(QPalette::WindowText) : secondaryColor(palette());
    const QFontMetrics metrics(font());
    const int iconSide = metrics.height();
    const QRect iconRect(horizontalPadding, (height() - iconSide) / 2, iconSide, iconSide);
    tintedSymbol(m_category.iconName, foreground).paint(&painter, iconRect.adjusted(1, 1, -1, -1));
    painter.setPen(foreground);
    const QRect textRect(iconRect.right() + 1 + iconSpacing, 0, width() - iconRect.right() - 1 - iconSpacing - horizontalPadding,
                         height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_category.name);
}

void CategoryPill::toggleFilter()
{
    if (!m_manager)
        return;
    if (m_selected)
        m_manager->filters().setSelectedCategoryId(std::nullopt);
    else
        m_manager->filters().setSelectedCategoryId(m_category.id);
}

void CategoryPill::contextMenuEvent(QContextMenuEvent* event)
{
    QPointer<PopupPanel> popup = PopupPanel::findOpen();
    const ClipboardCategory category = m_category;
    QPointer<CategoryPill> self(this);
    enum class Choice { none, edit, remove, reorder } choice = Choice::none;
    {
        PopupPanel::Hold hold = popup ? popup->hold() : PopupPanel::Hold();
        QMenu menu(this);
        const QColor text = palette().color(QPalette::Text);
        if (editHandler())
            connect(menu.addAction(tintedSymbol(QStringLiteral("pencil"), text), QStringLiteral("Edit Category...")),
                    &QAction::triggered, &menu, [&] { choice = Choice::edit; });
        connect(menu.addAction(tintedSymbol(QStringLiteral("trash"), destructiveRed(palette())), QStringLiteral("Delete Category")),
                &QAction::triggered, &menu, [&] { choice = Choice::remove; });
        menu.addSeparator();
        connect(menu.addAction(tintedSymbol(QStringLiteral("arrow.up.arrow.down"), text), QStringLiteral("Reorder Categories")),
                &QAction::triggered, &menu, [&] { choice = Choice::reorder; });
        menu.exec(event->globalPos());
    }
    switch (choice) {
    case Choice::none: break;
    case Choice::edit:
        if (editHandler())
            editHandler()(category);
        break;
    case Choice::remove:
        if (self)
            self->confirmDelete(popup);
        break;
    case Choice::reorder: AppActions::openSettings(SettingsTab::categories); break;
    }
}

void CategoryPill::confirmDelete(PopupPanel* popup)
{
    const ClipboardCategory category = m_category;
    QPointer<ClipboardManager> manager = m_manager;
    bool alsoItems = false;
    const int answer = askHoldingPopup(popup, [&] {
        return PromptService::shared().alertWithCheckBox(
            QStringLiteral("Delete \"") + category.name + QStringLiteral("\"?"),
            QStringLiteral("By default, items in this category are kept and simply unassigned from it. Enable the option "
                           "below to delete those items too."),
            {QStringLiteral("Delete"), QStringLiteral("Cancel")}, PromptService::Style::warning,
            QStringLiteral("Also delete items in this category"), alsoItems);
    });
    if (answer == 0 && manager)
        (void)manager->deleteCategory(category.id, alsoItems);
}

} // namespace lumra
