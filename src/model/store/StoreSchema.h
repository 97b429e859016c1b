#pragma once

#include "model/ClipboardItem.h"
#include "model/store/Sqlite.h"

#include <QAnyStringView>
#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <span>

namespace lumra::store {

enum class AttributeType { uuid, string, binary, date, boolean, int32, int64 };

struct Attribute {
    const char* name;
    AttributeType type;
    sql::Value defaultValue; // what a new row holds before anything is set
};

enum class EntityKind { item, category };

struct Entity {
    EntityKind kind;
    const char* name;
    std::span<const Attribute> attributes;

    // -1 when the entity has no such attribute.
    int indexOf(QStringView attribute) const;
    const Attribute& attribute(int index) const { return attributes[size_t(index)]; }
    int count() const { return int(attributes.size()); }
};

const Entity& itemEntity();     // CDClipboardItem, 25 attributes
const Entity& categoryEntity(); // CDClipboardCategory, 5 attributes
const Entity& entity(EntityKind kind);

// Attribute positions, in the order of the model.
namespace ItemAttr {
enum : int {
    id, contentType, textContent, rtfData, imageData, imageFileName, fileURLStringsJSON, fileURLIsDirectoryJSON,
    fileBookmarksJSON, dateAdded, isPinned, isPinnedToTop, tagsJSON, comment, categoryId, shortcutKeyCode,
    shortcutModifiers, isSensitive, sourceAppBundleId, sourceAppName, ocrText, lastPastedDate, firstCopiedDate,
    isTrashed, trashedDate, count
};
}
namespace CategoryAttr {
enum : int { id, name, iconName, isHiddenFromFooter, sortOrder, count };
}

// Image bytes live in their own table so that listing the history never reads them.
inline constexpr const char* imageTable = "CDClipboardItemImage";
// What capture has read but not yet stored (see CaptureJournal).
inline constexpr const char* captureJournalTable = "LumraCaptureJournal";
// Not an attribute: kept by the store layer for duplicate lookup of captured content.
inline constexpr const char* contentKeyColumn = "contentKey";
// Not an attribute, never leaves the file: when this history received a row whose dateAdded is older,
// by an import or by sync (NULL: dateAdded). The age rules measure a row from the later of the two.
inline constexpr const char* receivedDateColumn = "receivedDate";
// 2: the indexes of the columns most rows leave unset (trash date, shortcut) hold only the rows that set them.
// 3: ids kept as their 16 bytes and the content key as a 64-bit digest, about a fifth of the file.
// 4: the content key in 32 bits, a text row's contentType left unset, no index that no query uses, and
// 16 KB pages whose free ones can be handed back to the file system.
// 5: the capture journal, copies read from their owner whose item is not made yet.
// A nullable column that earlier builds of this schema neither read nor miss (receivedDate) is added
// where it is missing without a new version: a version raised for it would make those builds refuse
// the whole history.
inline constexpr int schemaVersion = 5;
// Written for receivedDate alone by one build: the same as 5, and written back as 5. A later schema skips it.
inline constexpr int receivedDateSchemaVersion = 6;

// Creates the tables and indexes in an empty database, or checks an existing one.
// Fails for a database of a newer schema, and then sets `newer`, or for one that is not a Lumra store,
// and then sets `notLumraStore` (other failures, a busy file say, leave both alone).
Status prepareSchema(sql::Database& db, bool* notLumraStore = nullptr, bool* newer = nullptr);

// After a removal: gives the store's free pages back to the file system once they make up a quarter
// of it and at least a megabyte. A store that cannot (made before incremental auto-vacuum, or busy)
// keeps them for its next rows.
void releaseFreePages(sql::Database& db);

// The duplicate-lookup key: a digest of the text, the image name, or the sorted URL list.
// Null when the row's content gives none.
QString contentKey(const QString& contentType, const std::optional<QString>& text,
                   const std::optional<QString>& imageFileName, const std::optional<QString>& fileURLStringsJSON);
QString contentKeyForText(const QString& text);
QString contentKeyForImage(const QString& imageFileName);
QString contentKeyForFiles(QStringList urls);

// What the file holds for a value of the model in `column`: a UUID (upper-case text in the model) as its
// 16 bytes, a content key as a 32-bit digest of it (a match is always checked against the content), the
// contentType "text" as NULL. Every other value, and a text that is no UUID, is kept as it is.
sql::Value storedValue(QAnyStringView column, sql::Value value);
// The model's value of what `column` holds: 16 stored bytes of an id as upper-case text, a NULL
// contentType as "text".
sql::Value modelValue(QAnyStringView column, sql::Value stored);
// Whether storedValue() may change a value of `column`.
bool isStoredDifferently(QAnyStringView column);

// How attribute values are given: UUIDs as upper-case text, dates as seconds since
// 1 January 2001 UTC, Booleans as 0/1.
sql::Value toValue(const QUuid& id);
sql::Value toValue(const QDateTime& date);
sql::Value toValue(bool flag);
sql::Value toValue(const QString& text);
sql::Value toValue(const QByteArray& bytes);
sql::Value toValue(qint64 number);
inline sql::Value toValue(int number) { return qint64(number); }
inline sql::Value toValue(const char* text) { return QString::fromUtf8(text); }
template <typename T>
sql::Value toValue(const std::optional<T>& v) { return v ? toValue(*v) : sql::Value {}; }
template <typename T>
sql::Value toValue(const SparseOptional<T>& v) { return v ? toValue(*v) : sql::Value {}; }

std::optional<QUuid> uuidFrom(const sql::Value& v);
std::optional<QDateTime> dateFrom(const sql::Value& v);
std::optional<bool> boolFrom(const sql::Value& v);
std::optional<QString> stringFrom(const sql::Value& v);
std::optional<QByteArray> bytesFrom(const sql::Value& v);
std::optional<qint64> integerFrom(const sql::Value& v);

QDateTime dateFromSeconds(double secondsSinceReferenceDate);
double secondsFromDate(const QDateTime& date);

} // namespace lumra::store
