#include "ui/settings/CategoriesPage.h"

#include "engine/ClipboardManager.h"
#include "platform/symbols/Symbols.h"
#include "ui/settings/SettingsWidgets.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedWidget>
#include <QToolTip>
#include <QVBoxLayout>

namespace lumra {

namespace {

constexpr int rowHeight = 32;

// The list in its rounded box.
class ListBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        SettingsStyle::paintListBox(painter, rect(), palette());
    }
};

} // namespace

CategoryRowGeometry categoryRowGeometry(const QRect& row, int hiddenCaptionWidth)
{
    CategoryRowGeometry g;
    const int middle = row.center().y();
    const auto square = [middle](int left, int size) { return QRect(left, middle - size / 2, size, size); };
    g.handle = square(row.right() - 8 - 16, 16);
    g.eye = square(g.handle.left() - 10 - 24, 24);
    const int captionRight = g.eye.left() - 10;
    g.hiddenCaption = QRect(captionRight - hiddenCaptionWidth, row.top(), hiddenCaptionWidth, row.height());
    g.icon = QRect(row.left() + 10, row.top(), 20, row.height());
    g.name = QRect(g.icon.right() + 11, row.top(), g.hiddenCaption.left() - 10 - (g.icon.right() + 11), row.height());
    return g;
}

QString categoryEyeHelp(bool hidden)
{
    return hidden ? QStringLiteral("Show this category in the footer") : QStringLiteral("Hide this category from the footer");
}

// ----------------------------------------------------------------------------------------------------- model

CategoryListModel::CategoryListModel(ClipboardManager& manager, QObject* parent)
    : QAbstractListModel(parent)
    , m_manager(manager)
    , m_categories(manager.categories())
{
    connect(&manager, &ClipboardManager::categoriesChanged, this, [this] {
        beginResetModel();
        m_categories = m_manager.categories();
        endResetModel();
    });
}

int CategoryListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_categories.size()); }

QVariant CategoryListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_categories.size())
        return {};
    const ClipboardCategory& category = m_categories[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return category.name;
    case idRole:
        return category.id;
    case hiddenRole:
        return category.isHiddenFromFooter;
    case iconNameRole:
        return category.iconName;
    default:
        return {};
    }
}

Qt::ItemFlags CategoryListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList CategoryListModel::mimeTypes() const { return {QString::fromLatin1(mimeType)}; }

QMimeData* CategoryListModel::mimeData(const QModelIndexList& indexes) const
{
    QStringList ids;
    for (const QModelIndex& index : indexes)
        ids.append(index.data(idRole).toUuid().toString(QUuid::WithoutBraces));
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(mimeType), ids.join(QLatin1Char('\n')).toLatin1());
    return data;
}

bool CategoryListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int, const QModelIndex& parent)
{
    if (action != Qt::MoveAction || !data || !data->hasFormat(QString::fromLatin1(mimeType)))
        return false;
    QList<QUuid> ids;
    for (const QByteArray& id : data->data(QString::fromLatin1(mimeType)).split('\n'))
        ids.append(QUuid::fromString(QLatin1String(id)));
    // Dropped on a row: before it; between rows: at that gap; below the list: at the end.
    const int destination = row >= 0 ? row : (parent.isValid() ? parent.row() : rowCount());
    return moveCategories(ids, destination);
}

bool CategoryListModel::moveCategories(const QList<QUuid>& ids, int destination)
{
    QList<int> offsets;
    for (int i = 0; i < m_categories.size(); ++i) {
        if (ids.contains(m_categories[i].id))
            offsets.append(i);
    }
    if (offsets.isEmpty())
        return false;
    // The manager's list is the one the offsets refer to; it is this model's until its next reload.
    if (m_manager.categories() != m_categories)
        return false;
    return m_manager.moveCategories(offsets, std::clamp(destination, 0, int(m_categories.size()))).ok();
}

// ----------------------------------------------------------------------------------------------------- delegate

QSize CategoryRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {option.rect.width(), rowHeight};
}

void CategoryRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem base = option;
    initStyleOption(&base, index);
    base.text.clear();
    base.features &= ~QStyleOptionViewItem::HasDisplay;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // Alternate rows drawn here: palettes often leave AlternateBase light in dark themes.
    if (index.row() % 2 == 1 && !(option.state & QStyle::State_Selected))
        painter->fillRect(option.rect, SettingsStyle::withAlpha(option.palette.color(QPalette::Text), 0.04));
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &base, painter, widget);

    const bool hidden = index.data(CategoryListModel::hiddenRole).toBool();
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    const QColor text = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor secondary = selected ? text : palette.color(QPalette::PlaceholderText);
    const QColor tertiary = SettingsStyle::withAlpha(secondary, selected ? 0.8 : 0.7);
    QFont caption = option.font;
    caption.setPixelSize(11);
    const CategoryRowGeometry g = categoryRowGeometry(option.rect, QFontMetrics(caption).horizontalAdvance(QStringLiteral("Hidden")));

    painter->save();
    painter->setOpacity(hidden ? 0.55 : 1.0);
    const auto symbol = [&](const QString& name, const QRect& area, const QColor& colour, int size) {
        const QPixmap pixmap = SettingsStyle::tinted(Symbols::icon(name), colour, colour, size).pixmap(size, size);
        painter->drawPixmap(QRect(area.center() - QPoint(size / 2, size / 2), QSize(size, size)), pixmap);
    };
    symbol(index.data(CategoryListModel::iconNameRole).toString(), g.icon, secondary, 16);
    painter->setPen(text);
    painter->setFont(option.font);
    painter->drawText(g.name, Qt::AlignVCenter | Qt::AlignLeft,
                      QFontMetrics(option.font).elidedText(index.data().toString(), Qt::ElideRight, g.name.width()));
    if (hidden) {
        painter->setFont(caption);
        painter->setPen(tertiary);
        painter->drawText(g.hiddenCaption, Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("Hidden"));
    }
    symbol(hidden ? QStringLiteral("eye.slash") : QStringLiteral("eye"), g.eye, secondary, 16);
    symbol(QStringLiteral("line.3.horizontal"), g.handle, tertiary, 14);
    painter->restore();
}

bool CategoryRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                      const QModelIndex& index)
{
    if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonPress
        || event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const CategoryRowGeometry g = categoryRowGeometry(option.rect, 0);
        if (mouse->button() == Qt::LeftButton && g.eye.contains(mouse->position().toPoint())) {
            if (event->type() == QEvent::MouseButtonRelease)
                emit toggleHidden(index.data(CategoryListModel::idRole).toUuid(),
                                  !index.data(CategoryListModel::hiddenRole).toBool());
            return true; // the eye takes the whole click: no selection, no drag
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool CategoryRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                    const QModelIndex& index)
{
    if (event->type() == QEvent::ToolTip && categoryRowGeometry(option.rect, 0).eye.contains(event->pos())) {
        QToolTip::showText(event->globalPos(), categoryEyeHelp(index.data(CategoryListModel::hiddenRole).toBool()), view);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

// ----------------------------------------------------------------------------------------------------- page

CategoriesPage::CategoriesPage(ClipboardManager& manager, QWidget* parent)
    : QWidget(parent)
    , m_manager(manager)
    , m_model(new CategoryListModel(manager, this))
    , m_list(new QListView)
    , m_stack(new QStackedWidget(this))
    , m_syncNote(new QWidget)
{
    setFont(SettingsStyle::font(14, false, font()));
    auto* delegate = new CategoryRowDelegate(m_list);
    m_list->setModel(m_model);
    m_list->setItemDelegate(delegate);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setDragDropMode(QAbstractItemView::InternalMove);
    m_list->setDefaultDropAction(Qt::MoveAction);
    m_list->setDragEnabled(true);
    m_list->setDropIndicatorShown(true);
    m_list->setMouseTracking(true);
    m_list->setUniformItemSizes(true);
    m_list->setAccessibleName(QStringLiteral("Categories"));
    m_list->viewport()->setAutoFillBackground(false);
    m_list->installEventFilter(this);
    connect(delegate, &CategoryRowDelegate::toggleHidden, this, [this](const QUuid& id, bool hidden) {
        std::ignore = m_manager.setCategoryHidden(id, hidden);
    });

    auto* box = new ListBox;
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(4, 4, 4, 4);
    boxLayout->addWidget(m_list);

    m_syncSymbol = new QLabel(m_syncNote);
    auto* noteLayout = new QHBoxLayout(m_syncNote);
    noteLayout->setContentsMargins(0, 0, 0, 0);
    noteLayout->setSpacing(4);
    noteLayout->addWidget(m_syncSymbol);
    noteLayout->addWidget(SettingsStyle::label(
        QStringLiteral("Category order is synced across your computers through the sync folder."), 11, false, true, m_syncNote));
    noteLayout->addStretch(1);

    auto* listPage = new QWidget;
    auto* listLayout = new QVBoxLayout(listPage);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(16);
    listLayout->addWidget(box, 1);
    listLayout->addWidget(m_syncNote);
    m_stack->addWidget(emptyState());
    m_stack->addWidget(listPage);

    auto* header = new QVBoxLayout;
    header->setSpacing(2);
    header->addWidget(SettingsStyle::label(QStringLiteral("Reorder Categories"), 15, true, false, this));
    header->addWidget(SettingsStyle::label(QStringLiteral("Drag categories to change the order they appear in the footer."),
                                           12, false, true, this));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);
    layout->addLayout(header);
    layout->addWidget(m_stack, 1);

    connect(&manager, &ClipboardManager::categoriesChanged, this, &CategoriesPage::refresh);
    connect(&manager, &ClipboardManager::settingChanged, this, [this](Setting setting) {
        if (setting == Setting::iCloudSyncEnabled)
            refresh();
    });
    updateSymbols();
    refresh();
}

QWidget* CategoriesPage::emptyState()
{
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setSpacing(6);
    m_emptySymbol = new QLabel(holder);
    QLabel* title = SettingsStyle::label(QStringLiteral("No categories yet"), 13, false, true, holder);
    QLabel* hint = SettingsStyle::label(QStringLiteral("Create categories from the footer of the main window."), 11, false,
                                        true, holder);
    QPalette faded = hint->palette();
    faded.setColor(QPalette::WindowText, SettingsStyle::withAlpha(faded.color(QPalette::WindowText), 0.7));
    hint->setPalette(faded);
    layout->addStretch(1);
    for (QLabel* label : {m_emptySymbol, title, hint}) {
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    }
    layout->addStretch(1);
    return holder;
}

void CategoriesPage::updateSymbols()
{
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    m_emptySymbol->setPixmap(SettingsStyle::tinted(Symbols::icon(QStringLiteral("folder")), secondary, secondary, 28).pixmap(28, 28));
    m_syncSymbol->setPixmap(SettingsStyle::tinted(Symbols::icon(QStringLiteral("icloud")), secondary, secondary, 12).pixmap(12, 12));
}

void CategoriesPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange && m_emptySymbol)
        updateSymbols();
    QWidget::changeEvent(event);
}

void CategoriesPage::refresh()
{
    const bool empty = m_manager.categories().isEmpty();
    m_stack->setCurrentIndex(empty ? 0 : 1);
    m_syncNote->setVisible(!empty && m_manager.iCloudSyncEnabled());
}

bool CategoriesPage::isShowingEmptyState() const { return m_stack->currentIndex() == 0; }

bool CategoriesPage::isShowingSyncNote() const { return !isShowingEmptyState() && !m_syncNote->isHidden(); }

void CategoriesPage::toggleHidden(int row)
{
    const QModelIndex index = m_model->index(row, 0);
    if (index.isValid())
        std::ignore = m_manager.setCategoryHidden(index.data(CategoryListModel::idRole).toUuid(),
                                                  !index.data(CategoryListModel::hiddenRole).toBool());
}

bool CategoriesPage::eventFilter(QObject* watched, QEvent* event)
{
    // From the keyboard: Space hides or shows the current category, Alt+Up and Alt+Down move it.
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QModelIndex current = m_list->currentIndex();
        if (!current.isValid())
            return false;
        const QUuid id = current.data(CategoryListModel::idRole).toUuid();
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            toggleHidden(current.row());
        } else if (key->modifiers() == Qt::AltModifier && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            const bool up = key->key() == Qt::Key_Up;
            const int row = current.row();
            if ((up && row == 0) || (!up && row == m_model->rowCount() - 1))
                return true;
            m_model->moveCategories({id}, up ? row - 1 : row + 2);
        } else {
            return false;
        }
        // The model was reset: find the category again.
        for (int row = 0; row < m_model->rowCount(); ++row) {
            if (m_model->index(row, 0).data(CategoryListModel::idRole).toUuid() == id)
                m_list->setCurrentIndex(m_model->index(row, 0));
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lumra
