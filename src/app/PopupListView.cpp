#include "app/PopupListView.h"

#include "app/EngineBridge.h"
#include "app/HotKeyManager.h"
#include "engine/ClipboardManager.h"
#include "model/NotificationCenter.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QVBoxLayout>

namespace lumra {

namespace {
constexpr qsizetype maxRowCharacters = 300;
}

void PopupListModel::setItems(QList<ClipboardItem> items)
{
    beginResetModel();
    m_items = std::move(items);
    endResetModel();
}

int PopupListModel::rowOf(const QUuid& id) const
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items[i].id == id)
            return int(i);
    }
    return -1;
}

int PopupListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(qMin<qsizetype>(m_items.size(), std::numeric_limits<int>::max()));
}

QVariant PopupListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return {};
    if (role == Qt::DisplayRole)
        return rowText(m_items[index.row()]);
    return {};
}

QString PopupListModel::rowText(const ClipboardItem& item)
{
    const QString text = item.isSensitive ? item.maskedDisplayText() : item.displayText();
    return text.left(maxRowCharacters).simplified();
}

PopupListView::PopupListView(ClipboardManager& manager, HotKeyManager* hotKeys, QWidget* parent)
    : QWidget(parent)
    , m_manager(&manager)
    , m_hotKeys(hotKeys)
{
    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("Search"));
    m_search->setClearButtonEnabled(true);
    m_model = new PopupListModel(this);
    m_list = new QListView(this);
    m_list->setModel(m_model);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->setFocusPolicy(Qt::NoFocus);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(m_search);
    layout->addWidget(m_list, 1);
    setFocusProxy(m_search);

    // Each opening starts with an empty search.
    EngineBridge::setSearchText(manager, QString());
    reload();

    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_manager)
            EngineBridge::setSearchText(*m_manager, text);
    });
    connect(&manager, &ClipboardManager::filteredItemsChanged, this, &PopupListView::reload);
    connect(&manager, &ClipboardManager::clipboardItemsChanged, this, &PopupListView::reload);
    connect(m_list, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid() && index.row() < m_model->items().size())
            pasteItem(m_model->items()[index.row()]);
    });
    m_search->installEventFilter(this);
}

PopupListView::~PopupListView() = default;

void PopupListView::reload()
{
    if (!m_manager)
        return;
    const std::optional<QUuid> selected = selectedItemId();
    m_model->setItems(EngineBridge::popupItems(*m_manager));
    if (selected) {
        if (const int row = m_model->rowOf(*selected); row >= 0)
            m_list->setCurrentIndex(m_model->index(row));
    }
}

std::optional<QUuid> PopupListView::selectedItemId() const
{
    const QModelIndex current = m_list->currentIndex();
    if (!current.isValid() || !m_list->selectionModel()->isSelected(current) || current.row() >= m_model->items().size())
        return std::nullopt;
    return m_model->items()[current.row()].id;
}

void PopupListView::moveSelection(int delta)
{
    const int count = m_model->rowCount();
    if (count == 0)
        return;
    const std::optional<QUuid> selected = selectedItemId();
    const int row = selected ? qBound(0, m_list->currentIndex().row() + delta, count - 1) : 0;
    const QModelIndex index = m_model->index(row);
    m_list->setCurrentIndex(index);
    m_list->scrollTo(index);
}

bool PopupListView::pasteSelected(bool plainText)
{
    const QModelIndex current = m_list->currentIndex();
    if (!selectedItemId())
        return false;
    return pasteItem(m_model->items()[current.row()], plainText);
}

bool PopupListView::pasteItem(const ClipboardItem& item, bool plainText)
{
    ClipboardManager* manager = m_manager;
    if (!manager || !EngineBridge::copyToPasteboard(*manager, item, true, plainText))
        return false;
    if (manager->keepWindowOpen())
        NotificationCenter::defaultCenter().post(Notifications::activatePreviousAppForPaste);
    else
        window()->close();
    // The window's close gives the focus back first; the keys follow once it has arrived.
    manager->clock().after(pasteDelay, manager, [manager] { EngineBridge::simulatePaste(*manager); });
    return true;
}

void PopupListView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_search->setFocus();
}

bool PopupListView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_search && event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent*>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool PopupListView::handleKey(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Down:
        moveSelection(1);
        return true;
    case Qt::Key_Up:
        moveSelection(-1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return pasteSelected(event->modifiers().testFlag(Qt::ShiftModifier));
    case Qt::Key_Escape:
        window()->close();
        return true;
    default:
        return false;
    }
}

} // namespace lumra
