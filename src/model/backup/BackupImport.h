#pragma once

#include "model/backup/BackupFile.h"

#include <QDate>
#include <QHash>
#include <QSet>
#include <QTimeZone>

#include <optional>
#include <vector>

namespace lumra::store {
class ManagedObjectContext;
}

namespace lumra::backup {

// The export selection, also the import sheet's filter. Days are whole days of the local
// calendar: from the start of `dateFrom` up to, not including, the start of the day after `dateTo`.
struct ExportFilter {
    bool starredOnly = false;
    std::optional<QUuid> categoryId;
    std::optional<QDate> dateFrom;
    std::optional<QDate> dateTo;

    friend bool operator==(const ExportFilter&, const ExportFilter&) = default;
};

// The filter's test for one item (the recycle bin is the caller's business).
class ExportSelection {
public:
    ExportSelection(const ExportFilter& filter, const QTimeZone& zone);
    bool matches(const ClipboardItem& item) const;

private:
    ExportFilter m_filter;
    std::optional<qint64> m_fromMs;
    std::optional<qint64> m_untilMs; // excluded
};

// Drops items in the recycle bin, then applies the filter; the order is kept.
QList<ClipboardItem> itemsForExport(const QList<ClipboardItem>& items, const ExportFilter& filter, const QTimeZone& zone);

// ------------------------------------------------------------------------------------------- reading a file

// What was cleaned out of a file so that nothing in it reaches outside Lumra's folders.
struct CleaningReport {
    int imageNamesReplaced = 0;  // image items kept under the name the capture gives their bytes
    int imageItemsTooLarge = 0;  // image items left out: their picture is over the size limits
    int imageItemsNotPictures = 0; // image items left out: their bytes are no picture Lumra can read
    int imageItemsUnfilled = 0;  // image items left out: the file holds no bytes for them
    int fileEntriesDropped = 0;  // entries that are not absolute local file URLs
    int fileItemsDropped = 0;    // file items left with no entry at all

    int total() const
    {
        return imageNamesReplaced + imageItemsTooLarge + imageItemsNotPictures + imageItemsUnfilled + fileEntriesDropped + fileItemsDropped;
    }
};

struct LoadedBackup {
    ExportData data;
    CleaningReport cleaned;
};

// Whether `name` has the form the capture gives a stored image: 32 lower-case hex digits and ".png".
bool isCaptureImageName(const QString& name);
// An absolute local file URL without query or fragment.
bool isAcceptedFileUrl(const QString& urlString);

// Decodes the bytes (decodeBackup) and cleans the document: image bytes that do not decode as an
// image within the capture's limits are dropped; other images are kept as PNG; image names of
// another form are replaced by the name the capture gives those bytes; image items left without
// bytes are dropped, as a row without its picture would show nothing; file entries that are not absolute local file URLs are dropped, folder flags recomputed
// when the lists differ in length, and file items left empty are dropped. Needs no store or window.
Result<LoadedBackup> loadBackup(const QByteArray& bytes);
// The same from a file; a file over maxBackupFileBytes is refused before it is read.
Result<LoadedBackup> readBackupFile(const QString& path);

// ------------------------------------------------------------------------------------------- duplicates

// The content by which an import recognises an item already in the history: the text of a text
// item, the image name of an image item, the sorted file list of a file item (file items are
// compared with file items only).
QString contentKey(const ClipboardItem& item);

// The history as the duplicate check sees it, built once per file or import (on a worker).
class HistoryIndex {
public:
    HistoryIndex() = default;
    explicit HistoryIndex(const QList<ClipboardItem>& history);

    // The history outside the recycle bin holds an item with this content.
    bool holdsContent(const ClipboardItem& item) const;
    // An item of the history (the recycle bin included) has this id.
    bool holdsId(const QUuid& id) const { return m_keyById.contains(id); }
    // The item's id is held by a history item of the same content (then the file item is that item).
    bool holdsSameItem(const ClipboardItem& item) const;
    bool isDuplicate(const ClipboardItem& item) const { return holdsContent(item) || holdsSameItem(item); }
    // Shortcuts of the live history, as (key code, compared modifiers).
    const QSet<QPair<quint16, quint64>>& shortcuts() const { return m_shortcuts; }

private:
    QSet<QString> m_texts;
    QSet<QString> m_imageNames;
    QSet<QString> m_fileLists;
    QHash<QUuid, QString> m_keyById;
    QSet<QPair<quint16, quint64>> m_shortcuts;
};

// A loaded file with its duplicate facts worked out once (on a worker), so that the import sheet
// counts any filter without touching the history again.
struct BackupPreview {
    LoadedBackup backup;
    std::vector<int> contentIds;     // per item: equal ids mean equal content
    std::vector<bool> inHistory;     // per item: a duplicate of the history
    int textCount = 0;
    int imageCount = 0;
    int fileCount = 0;
    std::optional<QDateTime> earliest;
    std::optional<QDateTime> latest;
};
BackupPreview makePreview(LoadedBackup backup, const HistoryIndex& history);

struct SelectionCounts {
    int selected = 0;
    int duplicates = 0; // already in the history, or repeated earlier in the selection
    int newItems() const { return selected - duplicates; }
};
SelectionCounts countSelection(const BackupPreview& preview, const ExportFilter& filter, const QTimeZone& zone);
QList<ClipboardItem> selectedItems(const BackupPreview& preview, const ExportFilter& filter, const QTimeZone& zone);

// ------------------------------------------------------------------------------------------- planning

// What an imported shortcut must not take.
struct ShortcutRules {
    std::optional<QPair<quint16, quint64>> openPopup; // key code, compared modifiers
    std::optional<quint64> quickPasteFlag;
};

// Whether a shortcut from a file may be kept: Ctrl, Alt or Super, no unknown bits, a known key.
bool isImportableShortcut(const ItemShortcut& shortcut);

struct ImportPlan {
    QList<ClipboardItem> items;           // to insert, in file order
    QList<ClipboardCategory> newCategories;
    int duplicatesSkipped = 0;
    int idsRenewed = 0;
    int shortcutsDropped = 0;
    bool hasShortcuts = false;
};

// Which of `items` go in and how: duplicates (of the history or earlier in the list) are skipped;
// an id the history or an earlier item holds with other content gets a fresh id; shortcuts that
// are not importable or clash are dropped; the categories used by any item and not present yet
// are created.
ImportPlan planImport(const HistoryIndex& history, const QList<ClipboardCategory>& existingCategories,
                      const QList<ClipboardItem>& items, const QList<ClipboardCategory>& fileCategories,
                      const ShortcutRules& rules);

// Where an imported row goes and how large the history may be.
struct StoreRules {
    bool syncEnabled = false;
    bool syncText = true;
    bool syncImages = true;
    qint64 syncImageMaxSizeMB = 5;
    qint64 maxItems = 2000;
    // When the rows are received: the age rules count an imported row's age from it, as they count
    // a synced one's from when the sync first saw it. Invalid: the system clock's now.
    QDateTime receivedAt;
};
bool shouldSyncImportedItem(const StoreRules& rules, const ClipboardItem& item, std::optional<qint64> imageSize);

struct ImportOutcome {
    int inserted = 0;
    int removed = 0;        // older items of the history deleted for the item limit
    int notKept = 0;        // imported items that the limit would delete at once (not inserted)
    int categoriesCreated = 0;
    QList<QUuid> insertedIds;
};

// Writes the plan into `context` in one save: categories, items (with their image bytes and
// recognised text), and the deletions the item limit asks for. With `dryRun` only the limit's
// effect is worked out and nothing changes. A failure leaves the store as it was.
Result<ImportOutcome> applyImport(store::ManagedObjectContext& context, const ImportPlan& plan,
                                  const QHash<QString, QByteArray>& images, const StoreRules& rules, bool dryRun);

} // namespace lumra::backup
