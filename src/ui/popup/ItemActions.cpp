#include "ui/popup/ItemActions.h"


#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "engine/ItemMedia.h"
#include "model/store/StoreSchema.h"
#include "ui/items/PopupAlert.h"
#include "ui/items/ShowInFileManager.h"


namespace lumra {

using store::ItemAttr::isPinned;
using store::ItemAttr::isPinnedToTop;
using store::ItemAttr::isSensitive;

ItemActions::ItemActions(ClipboardManager& manager, QObject* parent)
    : QObject(parent)
    , m_manager(&manager)
{
}

void ItemActions::run(const ItemMenuModel& menu, const ItemMenuEntry& entry)
{
    if (!m_manager || menu.targets.isEmpty())
        return;
    ClipboardManager& manager = *m_manager;
    const QList<ClipboardItem>& items = menu.targets;
    const ClipboardItem& item = items.first();
    // Several-item flags act on the targets as they are now, not as the menu saw them.
    const QList<ClipboardItem> current = [&] {
        QList<QUuid> ids;
        for (const ClipboardItem& i : items)
            ids << i.id;
        return listedItems(manager, ids);
    }();

    switch (entry.action) {
    case ItemMenuAction::none: break;
    case ItemMenuAction::restore: (void)manager.restoreItem(item.id); break;
    case ItemMenuAction::deletePermanently: (void)manager.deleteItemPermanently(item.id); break;
    case ItemMenuAction::restoreItems:
        (void)manager.restoreItems(items);
        emit selectionCleared();
        break;
    case ItemMenuAction::deleteItemsPermanently:
        for (const ClipboardItem& i : items)
            (void)manager.deleteItemPermanently(i.id);
        emit selectionCleared();
        break;
    case ItemMenuAction::emptyRecycleBin: confirmEmptyRecycleBin(); break;
    case ItemMenuAction::togglePinnedToTop: (void)manager.togglePinnedToTop(item); break;
    case ItemMenuAction::toggleStarred: (void)manager.togglePinned(item); break;
    case ItemMenuAction::toggleSensitive: (void)manager.toggleSensitive(item); break;
    case ItemMenuAction::setCategory:
        // A checked category is switched off.
        (void)manager.setItemCategory(item, entry.checked ? std::nullopt : entry.categoryId);
        break;
    case ItemMenuAction::revealInFileManager: revealInFileManager(item); break;
    case ItemMenuAction::takeMeThere: takeMeThere(item.id); break;
    case ItemMenuAction::deleteItem: confirmDeleteItem(item); break;
    case ItemMenuAction::setPinnedToTop: setFlagForItems(current, isPinnedToTop, entry.flag); break;
    case ItemMenuAction::setStarred: setFlagForItems(current, isPinned, entry.flag); break;
    case ItemMenuAction::setSensitive: setFlagForItems(current, isSensitive, entry.flag); break;
    case ItemMenuAction::setCategoryForItems: setCategoryForItems(current, entry.categoryId); break;
    case ItemMenuAction::deleteItems: confirmDeleteItems(current); break;
    case ItemMenuAction::editTags:
    case ItemMenuAction::editComment:
    case ItemMenuAction::editShortcut:
    case ItemMenuAction::editContent:
    case ItemMenuAction::editCategory:
    case ItemMenuAction::newCategory:
    case ItemMenuAction::editTagsOfItems:
    case ItemMenuAction::preview: emit windowRequested(entry.action, items, entry.categoryId); break;
    }
}

int ItemActions::confirm(const QString& title, const QString& text, const QStringList& buttons)
{
    return askHoldingPopup(panel(), [&] {
        return PromptService::shared().alert(title, text, buttons, PromptService::Style::warning);
    });
}

void ItemActions::confirmDeleteItem(const ClipboardItem& item)
{
    if (confirm(QStringLiteral("Delete this item?"), deleteConfirmationText(item),
                {QStringLiteral("Delete"), QStringLiteral("Cancel")})
            == 0
        && m_manager)
        (void)m_manager->deleteItem(item);
}

void ItemActions::confirmDeleteItems(const QList<ClipboardItem>& items)
{
    if (items.isEmpty())
        return;
    if (confirm(QStringLiteral("Delete ") + QString::number(items.size()) + QStringLiteral(" items?"), {},
                {QStringLiteral("Delete"), QStringLiteral("Cancel")})
        != 0)
        return;
    if (m_manager)
        (void)m_manager->deleteItems(items);
    emit selectionCleared();
}

void ItemActions::confirmEmptyRecycleBin()
{
    if (!m_manager)
        return;
    const qsizetype count = m_manager->filters().trashedItems().size();
    if (confirm(QStringLiteral("Empty recycle bin?"), emptyRecycleBinText(count),
                {QStringLiteral("Empty"), QStringLiteral("Cancel")})
            == 0
        && m_manager)
        (void)m_manager->emptyRecycleBin();
}

void ItemActions::revealInFileManager(const ClipboardItem& item)
{
    if (!m_manager)
        return;
    QList<QUrl> existing;
    // Only files found within a bound come back, so a hung mount does not hold the popup here.
    for (const FileBookmarkAccessPtr& access : m_manager->media().fileURLs(item)) {
        if (const QUrl url = access->url(); url.isLocalFile())
            existing << url;
    }
    if (!existing.isEmpty()) {
        showInFileManager(existing);
        return;
    }
    askHoldingPopup(panel(), [] {
        return PromptService::shared().alert(QStringLiteral("File missing"),
                                             QStringLiteral("The file or folder may have been moved or deleted."),
                                             {QStringLiteral("OK")}, PromptService::Style::warning);
    });
}

void ItemActions::takeMeThere(const QUuid& itemId)
{
    if (!m_manager)
        return;
    HistoryFilter& m = m_manager->filters();
    {
        HistoryFilter::FilterUpdateBatch batch(m);
        m.setSearchText({});
        m.setShowStarredOnly(false);
        m.setShowImagesOnly(false);
        m.setShowLinksOnly(false);
        m.setShowPastedOnly(false);
        m.setSelectedCategoryId(std::nullopt);
        m.setDateFilterOption(std::nullopt);
        m.setTypeFilterOption(std::nullopt);
        m.setAppFilterBundleId(std::nullopt);
        m.setExcludeStarred(false);
        m.setExcludedTypes({});
        m.setExcludedDateOption(std::nullopt);
        m.setExcludedAppBundleIds({});
    }
    emit scrollToItemRequested(itemId);
}

void ItemActions::setFlagForItems(const QList<ClipboardItem>& items, int attribute, bool value)
{
    if (!m_manager)
        return;
    for (const ClipboardItem& item : items) {
        const bool current = attribute == isPinned ? item.isPinned
            : attribute == isPinnedToTop           ? item.isPinnedToTop
                                                   : item.isSensitive;
        if (attribute == isSensitive && item.contentType != ClipboardContentType::text)
            continue;
        if (current != value)
            (void)m_manager->toggleItemFlag(item, attribute);
    }
}

void ItemActions::setCategoryForItems(const QList<ClipboardItem>& items, const std::optional<QUuid>& categoryId)
{
    if (!m_manager)
        return;
    for (const ClipboardItem& item : items)
        (void)m_manager->setItemCategory(item, categoryId);
}

} // namespace lumra
