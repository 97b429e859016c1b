#include "engine/ClipboardManager.h"

#include "engine/filter/ItemClassification.h"
#include "engine/filter/LinkDetector.h"
#include "model/store/HistoryReader.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "platform/keys/KeyCodes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>

#include <limits>
#include <QTextBoundaryFinder>

#include <algorithm>

Q_LOGGING_CATEGORY(lcEditing, "lumra.editing")

namespace lumra {

using namespace store;

namespace {

// Only Ctrl, Alt, Shift and Super count: Caps Lock, Num Lock, keypad and function bits never make a
// shortcut different, as they never make a different grab.
constexpr quint64 comparedModifiers = KeyCodes::modifierFlagsMask;
constexpr int quotedClusters = 40;

QString firstClusters(const QString& text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int clusters = 0;
    for (qsizetype boundary = finder.toNextBoundary(); boundary >= 0; boundary = finder.toNextBoundary()) {
        if (++clusters == count)
            return boundary < text.size() ? text.left(boundary) + QStringLiteral("...") : text;
    }
    return text;
}

// The kind an edited text now has: colour, e-mail, link or plain text.
CaptureCategory classifyEditedText(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.isEmpty() && isColorText(trimmed))
        return CaptureCategory::color;
    if (!trimmed.isEmpty() && emailMatch(trimmed).whole)
        return CaptureCategory::email;
    return isLinkText(text) ? CaptureCategory::link : CaptureCategory::text;
}

// The stored form of a tag list; fails instead of storing something that reads back differently
// (a lone surrogate would come back as a replacement character).
Result<sql::Value> encodeTags(const QStringList& tags)
{
    if (tags.isEmpty())
        return sql::Value {};
    const QByteArray json = QJsonDocument(QJsonArray::fromStringList(tags)).toJson(QJsonDocument::Compact);
    QStringList readBack;
    for (const QJsonValue& v : QJsonDocument::fromJson(json).array())
        readBack << v.toString();
    if (readBack != tags)
        return Result<sql::Value>::failure(QStringLiteral("the tags cannot be stored as text"));
    return sql::Value(QString::fromUtf8(json));
}

} // namespace

Status ClipboardManager::toggleItemFlag(const ClipboardItem& item, int attribute)
{
    ManagedObjectPtr row = fetchManagedItem(item.id);
    if (!row)
        return {};
    const std::optional<bool> current = row->boolean(attribute);
    row->set(attribute, current ? !*current : true);
    return commitRows({row}, "Toggling a flag");
}

Status ClipboardManager::togglePinned(const ClipboardItem& item) { return toggleItemFlag(item, ItemAttr::isPinned); }
Status ClipboardManager::togglePinnedToTop(const ClipboardItem& item) { return toggleItemFlag(item, ItemAttr::isPinnedToTop); }
Status ClipboardManager::toggleSensitive(const ClipboardItem& item)
{
    ManagedObjectPtr row = fetchManagedItem(item.id);
    if (!row)
        return {};
    const bool sensitive = !row->boolean(ItemAttr::isSensitive).value_or(false);
    row->set(ItemAttr::isSensitive, sensitive);
    // Text read out of a sensitive picture would stay searchable and stored.
    if (sensitive)
        row->setValue(ItemAttr::ocrText, sql::Value {});
    const Status saved = commitRows({row}, "Toggling a flag");
    if (saved && !sensitive && enableImageOCR() && row->string(ItemAttr::contentType) == toRawValue(ClipboardContentType::image))
        if (std::optional<QByteArray> png = row->bytes(ItemAttr::imageData))
            recognizeText(*png, item.id);
    return saved;
}

Status ClipboardManager::updateItemContent(const ClipboardItem& item, const QString& text, const std::optional<QByteArray>& rtfData)
{
    ManagedObjectPtr row = fetchManagedItem(item.id);
    if (!row)
        return {};
    row->set(ItemAttr::textContent, text);
    row->set(ItemAttr::rtfData, rtfData);
    const bool inCloudStore = m_persistence->iCloudEnabled() && m_persistence->cloudStore()
        && row->store() == m_persistence->cloudStore();
    // Edits only ever move a row into the cloud store, never out of it.
    if (!inCloudStore && shouldSync(classifyEditedText(text))) {
        Result<ManagedObjectPtr> moved = recreateManagedObject(row);
        if (!moved)
            return moved.status();
        return {};
    }
    return commitRows({row}, "Saving the edited text");
}

Result<ManagedObjectPtr> ClipboardManager::recreateManagedObject(const ManagedObjectPtr& row)
{
    using R = Result<ManagedObjectPtr>;
    const PersistentStore* target = m_persistence ? m_persistence->cloudStore() : nullptr;
    if (!row || !m_persistence->iCloudEnabled() || !target || row->store() == target)
        return row;
    ManagedObjectContext& context = m_persistence->viewContext();
    ManagedObjectPtr copy = context.insert(EntityKind::item, target);
    for (int a = 0; a < itemEntity().count(); ++a)
        copy->setValue(a, row->value(a));

    // The copy is committed before the original goes, so a crash in between leaves a duplicate, never a loss.
    const Status inserted = m_persistence->save();
    if (copy->isInserted() || copy->isDeleted()) {
        qCWarning(lcEditing).noquote() << "Moving an item to the synced store failed:" << inserted.error();
        mergeSavedRows({row});
        return R::failure(inserted.error());
    }
    context.deleteObject(row);
    const Status removed = m_persistence->save();
    if (!removed)
        qCWarning(lcEditing).noquote() << "The moved item's old row stays until the next load:" << removed.error();
    mergeSavedRows({row, copy});
    if (!inserted)
        return R::failure(inserted.error());
    return copy;
}

Status ClipboardManager::setItemComment(const ClipboardItem& item, const std::optional<QString>& comment)
{
    ManagedObjectPtr row = fetchManagedItem(item.id);
    if (!row)
        return {};
    row->set(ItemAttr::comment, comment);
    return commitRows({row}, "Saving the comment");
}

Status ClipboardManager::setItemTags(const ClipboardItem& item, const QStringList& tags)
{
    return setTagsForItems({item.id}, tags);
}

Status ClipboardManager::setTagsForItems(const QList<QUuid>& itemIds, const QStringList& tags)
{
    const Result<sql::Value> value = encodeTags(tags);
    if (!value) {
        qCWarning(lcEditing).noquote() << "Tags left unchanged:" << value.error();
        return value.status();
    }
    QList<ManagedObjectPtr> rows;
    for (const QUuid& id : itemIds) {
        if (ManagedObjectPtr row = fetchManagedItem(id)) {
            row->setValue(ItemAttr::tagsJSON, *value);
            rows << row;
        }
    }
    if (rows.isEmpty())
        return {};
    return commitRows(rows, "Saving tags");
}

Status ClipboardManager::setItemShortcut(const QUuid& itemId, const std::optional<ItemShortcut>& shortcut)
{
    Status status;
    if (ManagedObjectPtr row = fetchManagedItem(itemId)) {
        row->set(ItemAttr::shortcutKeyCode, shortcut ? qint64(shortcut->keyCode) : qint64(-1));
        row->set(ItemAttr::shortcutModifiers, shortcut ? qint64(shortcut->modifiers) : qint64(0));
        status = commitRows({row}, "Saving the item shortcut");
        if (status)
            qCDebug(lcEditing).noquote() << "Item shortcut:" << (shortcut ? shortcut->displayString() : QStringLiteral("none"));
    }
    announceShortcutsChanged();
    return status;
}

std::optional<quint64> ClipboardManager::quickPasteModifierFlag() const
{
    switch (fromRawValue<QuickPasteModifier>(quickPasteModifier()).value_or(QuickPasteModifier::disabled)) {
    case QuickPasteModifier::command: return KeyCodes::commandFlag;
    case QuickPasteModifier::control: return KeyCodes::controlFlag;
    case QuickPasteModifier::option: return KeyCodes::optionFlag;
    case QuickPasteModifier::disabled: break;
    }
    return std::nullopt;
}

std::optional<QString> ClipboardManager::shortcutConflictMessage(quint16 keyCode, quint64 modifiers,
                                                                 const std::optional<QUuid>& excludingItemId,
                                                                 bool skipOpenPopupShortcut) const
{
    const quint64 wanted = modifiers & comparedModifiers;
    if (!skipOpenPopupShortcut) {
        const std::optional<qint64> openKey = m_defaults.readableInteger(QStringLiteral("hotKeyKeyCode"));
        const std::optional<qint64> openModifiers = m_defaults.readableInteger(QStringLiteral("hotKeyModifiers"));
        if (openKey && *openKey == keyCode && openModifiers && (quint64(*openModifiers) & comparedModifiers) == wanted)
            return tr("This shortcut is already used to open Lumra.");
    }
    // The digits with the quick-paste modifier are grabbed as well, so they can never be an item's.
    const std::optional<quint64> quickPaste = quickPasteModifierFlag();
    if (quickPaste && wanted == *quickPaste
        && std::find(KeyCodes::digitKeyCodes.begin(), KeyCodes::digitKeyCodes.end(), keyCode) != KeyCodes::digitKeyCodes.end())
        return tr("This shortcut is already used for quick paste.");
    for (const ClipboardItem& item : m_clipboardItems) {
        if (!item.shortcut || item.isTrashed || (excludingItemId && item.id == *excludingItemId))
            continue;
        if (item.shortcut->keyCode != keyCode || (item.shortcut->modifiers & comparedModifiers) != wanted)
            continue;
        // A sensitive item's text is never spelled out here.
        const QString text = item.isSensitive ? item.maskedDisplayText() : item.displayText();
        return tr("This shortcut is already assigned to \"%1\".").arg(firstClusters(text, quotedClusters));
    }
    return std::nullopt;
}

void ClipboardManager::appendIgnoredApp(const QString& bundleIdentifier, const QString& name)
{
    QList<IgnoredApp> apps = ignoredApplications();
    if (std::any_of(apps.begin(), apps.end(), [&](const IgnoredApp& a) { return a.bundleIdentifier == bundleIdentifier; }))
        return;
    apps << IgnoredApp {bundleIdentifier, name};
    setIgnoredApplications(apps);
}

void ClipboardManager::removeIgnoredAppEntry(const QString& bundleIdentifier)
{
    QList<IgnoredApp> apps = ignoredApplications();
    apps.removeIf([&](const IgnoredApp& a) { return a.bundleIdentifier == bundleIdentifier; });
    setIgnoredApplications(apps); // writes the list also when nothing matched
}

// MARK: Categories

Status ClipboardManager::commitCategories(const char* operation)
{
    Status status = m_persistence->save();
    if (!status)
        qCWarning(lcEditing).noquote() << operation << "failed:" << status.error();
    loadCategories();
    return status;
}

Status ClipboardManager::addCategory(const ClipboardCategory& category)
{
    if (!m_persistence)
        return Status::failure(QStringLiteral("no history store"));
    qint64 next = 0;
    for (const ClipboardCategory& c : m_categories)
        next = std::max(next, c.sortOrder == std::numeric_limits<qint64>::max() ? c.sortOrder : c.sortOrder + 1);
    ManagedObjectPtr row = m_persistence->viewContext().insert(EntityKind::category);
    row->set(CategoryAttr::id, category.id);
    row->set(CategoryAttr::name, category.name);
    row->set(CategoryAttr::iconName, category.iconName);
    row->set(CategoryAttr::isHiddenFromFooter, category.isHiddenFromFooter);
    row->set(CategoryAttr::sortOrder, next);
    return commitCategories("Adding a category");
}

Status ClipboardManager::updateCategory(const ClipboardCategory& category)
{
    if (!m_persistence)
        return Status::failure(QStringLiteral("no history store"));
    ManagedObjectPtr row = fetchManagedCategory(category.id);
    if (!row) {
        loadCategories();
        return {};
    }
    row->set(CategoryAttr::name, category.name);
    row->set(CategoryAttr::iconName, category.iconName);
    row->set(CategoryAttr::isHiddenFromFooter, category.isHiddenFromFooter);
    return commitCategories("Saving a category");
}

Status ClipboardManager::moveCategories(const QList<int>& sourceOffsets, int destinationOffset)
{
    if (!m_persistence)
        return Status::failure(QStringLiteral("no history store"));
    QList<ClipboardCategory> moved;
    QList<ClipboardCategory> kept;
    int insertAt = 0;
    for (int i = 0; i < m_categories.size(); ++i) {
        if (sourceOffsets.contains(i)) {
            moved << m_categories[i];
        } else {
            if (i < destinationOffset)
                ++insertAt;
            kept << m_categories[i];
        }
    }
    for (int i = 0; i < moved.size(); ++i)
        kept.insert(insertAt + i, moved[i]);
    for (int index = 0; index < kept.size(); ++index)
        if (ManagedObjectPtr row = fetchManagedCategory(kept[index].id))
            row->set(CategoryAttr::sortOrder, qint64(index));
    return commitCategories("Reordering categories");
}

Status ClipboardManager::setCategoryHidden(const QUuid& categoryId, bool hidden)
{
    if (!m_persistence)
        return Status::failure(QStringLiteral("no history store"));
    ManagedObjectPtr row = fetchManagedCategory(categoryId);
    if (!row) {
        loadCategories();
        return {};
    }
    row->set(CategoryAttr::isHiddenFromFooter, hidden);
    return commitCategories("Hiding or showing a category");
}

Status ClipboardManager::deleteCategory(const QUuid& categoryId, bool alsoDeleteItems)
{
    if (!m_persistence)
        return Status::failure(QStringLiteral("no history store"));
    auto rows = fetchItemRows(Predicate::eq("categoryId", categoryId));
    if (!rows)
        qCWarning(lcEditing).noquote() << "The category's items could not be read:" << rows.error();
    const QList<ManagedObjectPtr> items = rows ? rows.value() : QList<ManagedObjectPtr>();
    for (const ManagedObjectPtr& row : items) {
        if (alsoDeleteItems)
            removeRow(row, false);
        else
            row->setValue(ItemAttr::categoryId, sql::Value {});
    }
    if (ManagedObjectPtr category = fetchManagedCategory(categoryId))
        m_persistence->viewContext().deleteObject(category);
    didDeleteCategory(categoryId);
    const Status status = commitRows(items, "Deleting a category", alsoDeleteItems);
    loadCategories();
    return status;
}

Status ClipboardManager::setItemCategory(const ClipboardItem& item, const std::optional<QUuid>& categoryId)
{
    ManagedObjectPtr row = fetchManagedItem(item.id);
    if (!row)
        return {};
    row->set(ItemAttr::categoryId, categoryId);
    return commitRows({row}, "Setting the category");
}

std::optional<QDateTime> ClipboardManager::latestDate(const QList<QDateTime>& dates)
{
    if (dates.isEmpty())
        return std::nullopt;
    return *std::max_element(dates.begin(), dates.end());
}

} // namespace lumra
