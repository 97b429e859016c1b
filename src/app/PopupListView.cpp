#include "app/PopupListView.h"

#include "app/HotKeyManager.h"
#include "engine/ClipboardManager.h"
#include "model/NotificationCenter.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QVBoxLayout>

#include <tuple>

namespace lumra {

namespace {
constexpr qsizetype maxRowCharacters = 300;
}

PopupListModel::PopupListModel(ClipboardManager& manager, QObject* parent)
    : QAbstractListModel(parent)
    , m_manager(&manager)
{
    reload();
}

void PopupListModel::reload()
{
    beginResetModel();
    m_count = m_manager ? int(qMin<qsizetype>(m_manager->filteredItemCount(), std::numeric_limits<int>::max())) : 0;
    endResetModel();
}

const ClipboardItem* PopupListModel::itemAt(int row) const
{
    if (!m_manager || row < 0 || row >= m_count || row >= m_manager->filteredItemCount())
        return nullptr;
    return &m_manager->filteredItemAt(row);
}

int PopupListModel::rowOf(const QUuid& id) const
{
    for (int row = 0; row < m_count; ++row) {
        if (const ClipboardItem* item = itemAt(row); item && item->id == id)
            return row;
    }
    return -1;
}

int PopupListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_count; }

QVariant PopupListModel::data(const QModelIndex& index, int role) const
{
    const ClipboardItem* item = index.isValid() && role == Qt::DisplayRole ? itemAt(index.row()) : nullptr;
    return item ? QVariant(rowText(*item)) : QVariant();
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
    // Each opening starts with an empty search and the pinned filters, computed once.
    {
        ClipboardManager::FilterUpdateBatch batch(manager);
        manager.setSearchText(QString());
        manager.resetFiltersToPinned();
    }
    m_model = new PopupListModel(manager, this);
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

    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_manager)
            m_manager->setSearchText(text);
    });
    connect(&manager, &ClipboardManager::filteredItemsChanged, this, &PopupListView::reload);
    connect(m_list, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (const ClipboardItem* item = m_model->itemAt(index.row()))
            pasteItem(*item);
    });
    m_search->installEventFilter(this);
}

PopupListView::~PopupListView() = default;

void PopupListView::reload()
{
    if (!m_manager)
        return;
    const std::optional<QUuid> selected = selectedItemId();
    m_model->reload();
    if (selected) {
        if (const int row = m_model->rowOf(*selected); row >= 0)
            m_list->setCurrentIndex(m_model->index(row));
    }
}

std::optional<QUuid> PopupListView::selectedItemId() const
{
    const QModelIndex current = m_list->currentIndex();
    const ClipboardItem* item = current.isValid() && m_list->selectionModel()->isSelected(current)
        ? m_model->itemAt(current.row())
        : nullptr;
    return item ? std::optional(item->id) : std::nullopt;
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
    const ClipboardItem* item = selectedItemId() ? m_model->itemAt(m_list->currentIndex().row()) : nullptr;
    return item && pasteItem(*item, plainText);
}

bool PopupListView::pasteItem(ClipboardItem item, bool plainText)
{
    // `item` is a copy: the paste reloads the list it came from.
    ClipboardManager* manager = m_manager;
    if (!manager || !manager->copyToPasteboard(item, true, plainText))
        return false;
    if (manager->keepWindowOpen())
        NotificationCenter::defaultCenter().post(Notifications::activatePreviousAppForPaste);
    else
        window()->close();
    // The window's close gives the focus back first; the keys follow once it has arrived.
    manager->clock().after(pasteDelay, manager, [manager] { std::ignore = manager->simulatePaste(); });
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
    const int key = event->key();
    if (m_manager && (key == Qt::Key_Down || key == Qt::Key_Up || key == Qt::Key_Return || key == Qt::Key_Enter))
        m_manager->applyPendingSearch();
    switch (key) {
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
