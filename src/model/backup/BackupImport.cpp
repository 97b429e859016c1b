#include "model/backup/BackupImport.h"

#include "model/store/ItemRows.h"
#include "model/store/ManagedObjectContext.h"
#include "platform/image/ImageDecoding.h"
#include "platform/keys/KeyCodes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace lumra::backup {

using namespace store;

// ------------------------------------------------------------------------------------------- selection

ExportSelection::ExportSelection(const ExportFilter& filter, const QTimeZone& zone) : m_filter(filter)
{
    if (filter.dateFrom)
        m_fromMs = filter.dateFrom->startOfDay(zone).toMSecsSinceEpoch();
    // Half open: the last second of the day, and its fractions, belong to it.
    if (filter.dateTo)
        m_untilMs = filter.dateTo->addDays(1).startOfDay(zone).toMSecsSinceEpoch();
}

bool ExportSelection::matches(const ClipboardItem& item) const
{
    if (m_filter.starredOnly && !item.isPinned && !item.isPinnedToTop)
        return false;
    if (m_filter.categoryId && item.categoryId != *m_filter.categoryId)
        return false;
    if (m_fromMs || m_untilMs) {
        const qint64 added = item.dateAdded.toMSecsSinceEpoch();
        if ((m_fromMs && added < *m_fromMs) || (m_untilMs && added >= *m_untilMs))
            return false;
    }
    return true;
}

QList<ClipboardItem> itemsForExport(const QList<ClipboardItem>& items, const ExportFilter& filter, const QTimeZone& zone)
{
    const ExportSelection selection(filter, zone);
    QList<ClipboardItem> selected;
    for (const ClipboardItem& item : items) {
        if (!item.isTrashed && selection.matches(item))
            selected.append(item);
    }
    return selected;
}

// ------------------------------------------------------------------------------------------- reading a file

bool isCaptureImageName(const QString& name)
{
    if (name.size() != 36 || !name.endsWith(QLatin1String(".png")))
        return false;
    for (qsizetype i = 0; i < 32; ++i) {
        const QChar c = name[i];
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

bool isAcceptedFileUrl(const QString& urlString)
{
    const QUrl url(urlString, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("file") || url.hasQuery() || url.hasFragment())
        return false;
    if (!url.host().isEmpty() && url.host() != QLatin1String("localhost"))
        return false;
    const QString path = url.toLocalFile();
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return false;
    const QStringList pieces = path.split(QLatin1Char('/'));
    return !pieces.contains(QStringLiteral("..")) && !pieces.contains(QStringLiteral("."));
}

namespace {

struct CheckedImage {
    QString name;
    QByteArray png; // empty: not an image within the limits
    bool tooLarge = false; // why it is empty: a picture, but over the limits
};

// Told apart after a refusal only: what is over the limits is never decoded to find out.
bool overLimits(const QByteArray& bytes)
{
    const image::DecodeLimits limits;
    if (bytes.size() > limits.maxBytes)
        return true;
    const std::optional<QSize> size = image::imageDimensions(bytes);
    return size && qint64(size->width()) * size->height() > limits.maxPixels;
}

CheckedImage checkImage(const QString& name, const QByteArray& bytes)
{
    CheckedImage checked {name, {}};
    const Result<image::ImageHeader> header = image::readImageHeader(bytes);
    if (!header) {
        checked.tooLarge = overLimits(bytes);
        return checked;
    }
    // Kept as the decoder program's PNG, whatever format the file held: what is stored from outside
    // is PNG, so nothing later decodes another format in Lumra.
    if (Result<QByteArray> png = image::pngData(bytes))
        checked.png = std::move(png).value();
    return checked;
}

void cleanImages(ExportData& data, CleaningReport& report)
{
    QList<QPair<QString, QByteArray>> entries;
    entries.reserve(data.images.size());
    for (auto it = data.images.begin(); it != data.images.end(); ++it)
        entries.append({it.key(), it.value()});
    data.images.clear();
    // One at a time: each is decoded by the decoder program, and Lumra holds only the PNGs.
    QList<CheckedImage> checked;
    checked.reserve(entries.size());
    for (QPair<QString, QByteArray>& entry : entries)
        checked.append(checkImage(entry.first, std::exchange(entry.second, {})));
    entries.clear();

    QHash<QString, QString> renamed;
    QHash<QString, bool> refused; // name: too large
    for (const CheckedImage& image : checked) {
        if (image.png.isEmpty()) {
            refused.insert(image.name, image.tooLarge);
            continue;
        }
        QString name = image.name;
        if (!isCaptureImageName(name)) {
            const QString newName = image::imageFileName(image.png);
            renamed.insert(name, newName);
            name = newName;
        }
        data.images.insert(name, image.png);
    }
    QList<ClipboardItem> kept;
    kept.reserve(data.items.size());
    for (ClipboardItem& item : data.items) {
        const QString name = item.imageFileName.value_or(QString());
        if (const auto it = renamed.constFind(name); it != renamed.constEnd()) {
            item.imageFileName = *it;
            ++report.imageNamesReplaced;
        } else if (item.contentType == ClipboardContentType::image && !data.images.contains(name)) {
            // A row without its picture would show nothing.
            const auto why = refused.constFind(name);
            ++(why == refused.constEnd() ? report.imageItemsUnfilled
                   : *why              ? report.imageItemsTooLarge
                                       : report.imageItemsNotPictures);
            continue;
        } else if (item.imageFileName && !isCaptureImageName(name)) {
            item.imageFileName = std::nullopt; // no bytes to name it by
        }
        kept.append(std::move(item));
    }
    data.items = std::move(kept);
}

// False when nothing of the item's file list is left.
bool cleanFiles(ClipboardItem& item, CleaningReport& report)
{
    if (!item.fileURLStrings) {
        if (item.contentType != ClipboardContentType::file)
            return true;
        ++report.fileItemsDropped;
        return false;
    }
    const QStringList urls = *item.fileURLStrings;
    const std::optional<QList<bool>> flags = item.fileURLIsDirectory;
    const bool flagsFit = flags && flags->size() == urls.size();
    QStringList kept;
    QList<bool> keptFlags;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        if (!isAcceptedFileUrl(urls[i])) {
            ++report.fileEntriesDropped;
            continue;
        }
        kept.append(urls[i]);
        if (flagsFit)
            keptFlags.append(flags->at(i));
    }
    if (!flagsFit && flags) {
        keptFlags.clear();
        for (const QString& url : std::as_const(kept)) {
            const QString path = QUrl(url).toLocalFile();
            keptFlags.append(path.endsWith(QLatin1Char('/')) || QFileInfo(path).isDir());
        }
    }
    if (kept.isEmpty() && item.contentType == ClipboardContentType::file) {
        ++report.fileItemsDropped;
        return false;
    }
    item.fileURLStrings = kept;
    if (flags)
        item.fileURLIsDirectory = keptFlags;
    return true;
}

} // namespace

Result<LoadedBackup> loadBackup(const QByteArray& bytes)
{
    Result<ExportData> decoded = decodeBackup(bytes);
    if (!decoded)
        return Result<LoadedBackup>::failure(decoded.error());
    LoadedBackup loaded {std::move(decoded).value(), {}};
    cleanImages(loaded.data, loaded.cleaned);
    QList<ClipboardItem> kept;
    kept.reserve(loaded.data.items.size());
    for (ClipboardItem& item : loaded.data.items) {
        if (cleanFiles(item, loaded.cleaned))
            kept.append(std::move(item));
    }
    loaded.data.items = std::move(kept);
    return loaded;
}

Result<LoadedBackup> readBackupFile(const QString& path)
{
    using R = Result<LoadedBackup>;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return R::failure(QStringLiteral("\"%1\" could not be read: %2").arg(QFileInfo(path).fileName(), file.errorString()));
    if (file.size() > maxBackupFileBytes)
        return R::failure(QStringLiteral("\"%1\" is larger than a backup can be (%2 MB at most).")
                              .arg(QFileInfo(path).fileName())
                              .arg(maxBackupFileBytes / (1024 * 1024)));
    // Mapped rather than read: the decoder takes what it needs piece by piece, and a file that is
    // refused early costs the pages read up to there.
    if (file.size() > 0)
        if (uchar* mapped = file.map(0, file.size()))
            return loadBackup(QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), qsizetype(file.size())));
    const QByteArray bytes = file.read(maxBackupFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return R::failure(QStringLiteral("\"%1\" could not be read: %2").arg(QFileInfo(path).fileName(), file.errorString()));
    return loadBackup(bytes);
}

// ------------------------------------------------------------------------------------------- duplicates

namespace {

QString fileListKey(const ClipboardItem& item)
{
    QStringList sorted = item.fileURLStrings.value_or(QStringList());
    sorted.sort();
    return sorted.join(QChar(0x1f));
}

QPair<quint16, quint64> comparedShortcut(const ItemShortcut& shortcut)
{
    return {shortcut.keyCode, KeyCodes::maskedModifierFlags(shortcut.modifiers)};
}

} // namespace

QString contentKey(const ClipboardItem& item)
{
    switch (item.contentType) {
    case ClipboardContentType::text: return QLatin1Char('t') + item.textContent.value_or(QString());
    case ClipboardContentType::image: return QLatin1Char('i') + item.imageFileName.value_or(QString());
    case ClipboardContentType::file: return QLatin1Char('f') + fileListKey(item);
    }
    return {};
}

HistoryIndex::HistoryIndex(const QList<ClipboardItem>& history)
{
    m_keyById.reserve(history.size());
    for (const ClipboardItem& item : history) {
        m_keyById.insert(item.id, contentKey(item));
        if (item.isTrashed)
            continue;
        if (item.textContent)
            m_texts.insert(*item.textContent);
        if (item.imageFileName)
            m_imageNames.insert(*item.imageFileName);
        if (item.contentType == ClipboardContentType::file)
            m_fileLists.insert(fileListKey(item));
        if (item.shortcut)
            m_shortcuts.insert(comparedShortcut(*item.shortcut));
    }
}

bool HistoryIndex::holdsContent(const ClipboardItem& item) const
{
    switch (item.contentType) {
    case ClipboardContentType::text: return m_texts.contains(item.textContent.value_or(QString()));
    case ClipboardContentType::image: return m_imageNames.contains(item.imageFileName.value_or(QString()));
    case ClipboardContentType::file: return m_fileLists.contains(fileListKey(item));
    }
    return false;
}

bool HistoryIndex::holdsSameItem(const ClipboardItem& item) const
{
    const auto it = m_keyById.constFind(item.id);
    return it != m_keyById.constEnd() && *it == contentKey(item);
}

BackupPreview makePreview(LoadedBackup backup, const HistoryIndex& history)
{
    BackupPreview preview;
    const QList<ClipboardItem>& items = backup.data.items;
    preview.contentIds.reserve(size_t(items.size()));
    preview.inHistory.reserve(size_t(items.size()));
    QHash<QString, int> ids;
    for (const ClipboardItem& item : items) {
        const QString key = contentKey(item);
        // The first item of a content numbers it; repeats take that number.
        auto id = ids.constFind(key);
        if (id == ids.constEnd())
            id = ids.insert(key, int(ids.size()));
        preview.contentIds.push_back(*id);
        preview.inHistory.push_back(history.isDuplicate(item));
        switch (item.contentType) {
        case ClipboardContentType::text: ++preview.textCount; break;
        case ClipboardContentType::image: ++preview.imageCount; break;
        case ClipboardContentType::file: ++preview.fileCount; break;
        }
        if (!preview.earliest || item.dateAdded < *preview.earliest)
            preview.earliest = item.dateAdded;
        if (!preview.latest || item.dateAdded > *preview.latest)
            preview.latest = item.dateAdded;
    }
    preview.backup = std::move(backup);
    return preview;
}

namespace {

template <typename Visit>
void walkSelection(const BackupPreview& preview, const ExportFilter& filter, const QTimeZone& zone, Visit visit)
{
    const ExportSelection selection(filter, zone);
    std::vector<bool> seen(preview.contentIds.size(), false);
    const QList<ClipboardItem>& items = preview.backup.data.items;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (!selection.matches(items[i]))
            continue;
        const size_t content = size_t(preview.contentIds[size_t(i)]);
        const bool duplicate = preview.inHistory[size_t(i)] || seen[content];
        // As the import does: only an item that goes in makes later ones of its content repeats
        // (an item skipped as the very item in the recycle bin leaves its content free).
        if (!duplicate)
            seen[content] = true;
        visit(items[i], duplicate);
    }
}

} // namespace

SelectionCounts countSelection(const BackupPreview& preview, const ExportFilter& filter, const QTimeZone& zone)
{
    SelectionCounts counts;
    walkSelection(preview, filter, zone, [&](const ClipboardItem&, bool duplicate) {
        ++counts.selected;
        counts.duplicates += duplicate ? 1 : 0;
    });
    return counts;
}

QList<ClipboardItem> selectedItems(const BackupPreview& preview, const ExportFilter& filter, const QTimeZone& zone)
{
    QList<ClipboardItem> items;
    walkSelection(preview, filter, zone, [&](const ClipboardItem& item, bool) { items.append(item); });
    return items;
}

// ------------------------------------------------------------------------------------------- planning

bool isImportableShortcut(const ItemShortcut& shortcut)
{
    // Caps Lock, numeric pad, function and device-dependent bits say nothing about the chord.
    constexpr quint64 ignoredBits = 0x10000 | 0x200000 | 0x800000 | 0xFFFF;
    const quint64 bits = shortcut.modifiers & ~ignoredBits;
    if (bits & ~KeyCodes::modifierFlagsMask)
        return false;
    return KeyCodes::isValidShortcutModifiers(bits) && KeyCodes::keysymForKeyCode(shortcut.keyCode).has_value();
}

ImportPlan planImport(const HistoryIndex& history, const QList<ClipboardCategory>& existingCategories,
                      const QList<ClipboardItem>& items, const QList<ClipboardCategory>& fileCategories,
                      const ShortcutRules& rules)
{
    ImportPlan plan;
    QSet<QUuid> used;
    for (const ClipboardItem& item : items) {
        if (item.categoryId)
            used.insert(*item.categoryId);
    }
    QSet<QUuid> present;
    for (const ClipboardCategory& category : existingCategories)
        present.insert(category.id);
    for (const ClipboardCategory& category : fileCategories) {
        if (used.contains(category.id) && !present.contains(category.id)) {
            plan.newCategories.append(category);
            present.insert(category.id);
        }
    }

    QSet<QString> seenContent;
    QSet<QUuid> takenIds;
    QSet<QPair<quint16, quint64>> takenShortcuts = history.shortcuts();
    const auto clashes = [&](const QPair<quint16, quint64>& chord) {
        if (rules.openPopup && *rules.openPopup == chord)
            return true;
        if (rules.quickPasteFlag && chord.second == *rules.quickPasteFlag
            && std::find(KeyCodes::digitKeyCodes.begin(), KeyCodes::digitKeyCodes.end(), chord.first)
                != KeyCodes::digitKeyCodes.end())
            return true;
        return takenShortcuts.contains(chord);
    };
    for (const ClipboardItem& given : items) {
        const QString key = contentKey(given);
        if (history.isDuplicate(given) || seenContent.contains(key)) {
            ++plan.duplicatesSkipped;
            continue;
        }
        seenContent.insert(key);
        ClipboardItem item = given;
        if (history.holdsId(item.id) || takenIds.contains(item.id)) {
            item.id = QUuid::createUuid();
            ++plan.idsRenewed;
        }
        takenIds.insert(item.id);
        if (item.shortcut) {
            const QPair<quint16, quint64> chord = comparedShortcut(*item.shortcut);
            if (!isImportableShortcut(*item.shortcut) || clashes(chord)) {
                item.shortcut = std::nullopt;
                ++plan.shortcutsDropped;
            } else {
                item.shortcut = ItemShortcut {chord.first, chord.second};
                takenShortcuts.insert(chord);
                plan.hasShortcuts = true;
            }
        }
        plan.items.append(std::move(item));
    }
    return plan;
}

bool shouldSyncImportedItem(const StoreRules& rules, const ClipboardItem& item, std::optional<qint64> imageSize)
{
    if (!rules.syncEnabled)
        return false;
    switch (item.contentType) {
    case ClipboardContentType::text: return rules.syncText;
    case ClipboardContentType::image: {
        if (!rules.syncImages)
            return false;
        if (!imageSize)
            return true;
        qint64 limit = 0;
        if (__builtin_mul_overflow(rules.syncImageMaxSizeMB, qint64(1'048'576), &limit))
            limit = rules.syncImageMaxSizeMB < 0 ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
        return *imageSize <= limit;
    }
    case ClipboardContentType::file: return false;
    }
    return false;
}

// ------------------------------------------------------------------------------------------- writing

namespace {

bool isOrdinaryLive(const ClipboardItem& item) { return !item.isTrashed && !item.isPinned && !item.isPinnedToTop; }

Result<int> liveRowCount(ManagedObjectContext& context)
{
    FetchRequest request;
    request.predicate = Predicate::eq("isTrashed", false);
    return context.count(request);
}

const PersistentStore* storeNamed(ManagedObjectContext& context, const char* configuration)
{
    for (const PersistentStore* store : context.stores()) {
        if (store->configuration == QLatin1String(configuration))
            return store;
    }
    return nullptr;
}

} // namespace

Result<ImportOutcome> applyImport(ManagedObjectContext& context, const ImportPlan& plan,
                                  const QHash<QString, QByteArray>& images, const StoreRules& rules, bool dryRun)
{
    using R = Result<ImportOutcome>;
    ImportOutcome outcome;

    // The item limit, worked out before anything is written: the oldest ordinary rows go, whether
    // they are already stored or come from the file (those are then not inserted at all).
    QList<ManagedObjectPtr> victims;
    std::vector<bool> dropped(size_t(plan.items.size()), false);
    const Result<int> live = liveRowCount(context);
    if (!live)
        return R::failure(live.error());
    const qint64 imported = std::count_if(plan.items.begin(), plan.items.end(), [](const ClipboardItem& i) { return !i.isTrashed; });
    const qint64 excess = qint64(*live) + imported - rules.maxItems;
    if (excess > 0) {
        FetchRequest oldest;
        oldest.predicate = Predicate::eq("isTrashed", false) && Predicate::eq("isPinned", false)
            && Predicate::eq("isPinnedToTop", false);
        oldest.sortDescriptors = {{QStringLiteral("dateAdded"), true}};
        oldest.fetchLimit = int(std::min<qint64>(excess, std::numeric_limits<int>::max()));
        Result<QList<ManagedObjectPtr>> stored = context.fetch(oldest);
        if (!stored)
            return R::failure(stored.error());
        std::vector<std::pair<qint64, qsizetype>> candidates; // date, index (stored rows as -1 - index)
        for (qsizetype i = 0; i < stored->size(); ++i)
            candidates.emplace_back(stored->at(i)->date(ItemAttr::dateAdded).value_or(QDateTime()).toMSecsSinceEpoch(), -1 - i);
        for (qsizetype i = 0; i < plan.items.size(); ++i) {
            if (isOrdinaryLive(plan.items[i]))
                candidates.emplace_back(plan.items[i].dateAdded.toMSecsSinceEpoch(), i);
        }
        const size_t take = size_t(std::min<qint64>(excess, qint64(candidates.size())));
        std::partial_sort(candidates.begin(), candidates.begin() + qsizetype(take), candidates.end());
        for (size_t i = 0; i < take; ++i) {
            const qsizetype index = candidates[i].second;
            if (index < 0) {
                victims.append(stored->at(-1 - index));
            } else {
                dropped[size_t(index)] = true;
                ++outcome.notKept;
            }
        }
        outcome.removed = int(victims.size());
    }
    outcome.categoriesCreated = int(plan.newCategories.size());
    if (dryRun)
        return outcome;

    if (context.hasChanges())
        return R::failure(QStringLiteral("The history has unsaved changes."));
    for (const ClipboardCategory& category : plan.newCategories) {
        ManagedObjectPtr row = context.insert(EntityKind::category);
        row->set(CategoryAttr::id, category.id);
        row->set(CategoryAttr::name, category.name);
        row->set(CategoryAttr::iconName, category.iconName);
        row->set(CategoryAttr::isHiddenFromFooter, category.isHiddenFromFooter);
        row->set(CategoryAttr::sortOrder, category.sortOrder);
    }
    const PersistentStore* cloud = context.stores().size() > 1 ? storeNamed(context, "Cloud") : nullptr;
    const PersistentStore* local = context.stores().size() > 1 ? storeNamed(context, "Local") : nullptr;
    const QDateTime receivedAt = rules.receivedAt.isValid() ? rules.receivedAt : QDateTime::currentDateTimeUtc();
    QList<ManagedObjectPtr> inserted;
    inserted.reserve(plan.items.size());
    for (qsizetype i = 0; i < plan.items.size(); ++i) {
        if (dropped[size_t(i)])
            continue;
        const ClipboardItem& item = plan.items[i];
        std::optional<QByteArray> bytes;
        if (item.imageFileName) {
            const auto it = images.constFind(*item.imageFileName);
            if (it != images.constEnd())
                bytes = *it;
        }
        const std::optional<qint64> size = bytes ? std::optional<qint64>(bytes->size()) : std::nullopt;
        const PersistentStore* target = cloud && local ? (shouldSyncImportedItem(rules, item, size) ? cloud : local) : nullptr;
        ManagedObjectPtr row = context.insert(EntityKind::item, target);
        populateManagedItem(*row, item);
        row->setReceivedDate(receivedAt);
        row->set(ItemAttr::ocrText, item.ocrText);
        if (bytes)
            row->set(ItemAttr::imageData, *bytes);
        inserted.append(row);
        outcome.insertedIds.append(item.id);
    }
    for (const ManagedObjectPtr& row : std::as_const(victims))
        context.deleteObject(row);

    if (Status saved = context.save(); !saved) {
        // With two store files one may have committed: take its new rows out again.
        context.rollback();
        for (const ManagedObjectPtr& row : std::as_const(inserted)) {
            if (!row->isInserted() && !row->isDeleted() && row->primaryKey() != 0)
                context.deleteObject(row);
        }
        if (context.hasChanges() && !context.save())
            context.rollback();
        return R::failure(saved.error());
    }
    outcome.inserted = int(inserted.size());
    return outcome;
}

} // namespace lumra::backup
