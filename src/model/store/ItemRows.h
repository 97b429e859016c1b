#pragma once

#include "model/ClipboardItem.h"
#include "model/store/ManagedObjectContext.h"

#include <QList>

#include <functional>
#include <optional>

namespace lumra {

// Conversions between store rows and values. Reading never touches image bytes or bookmarks.

// The item of a CDClipboardItem row, or none when its `id` is missing or not a UUID. Every other
// missing or unreadable attribute falls back (contentType text, no tags, no shortcut, ...).
std::optional<ClipboardItem> makeClipboardItem(const store::ManagedObject& row);
// The same as the history list holds it: the rich text left out (ClipboardItem::leaveOutRichText).
std::optional<ClipboardItem> makeListItem(const store::ManagedObject& row);
std::optional<ClipboardCategory> makeClipboardCategory(const store::ManagedObject& row);

// Writes the whole item into the row; leaves imageData, fileBookmarksJSON and ocrText alone,
// and neither chooses a store nor saves.
void populateManagedItem(store::ManagedObject& row, const ClipboardItem& item);

// By sortOrder, then by name in the user's locale, case-insensitively.
void sortCategories(QList<ClipboardCategory>& categories);

namespace detail {
// A row as the conversion sees it: the stored value of each attribute.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual sql::Value value(int attribute) const = 0;
    virtual std::optional<QUuid> uuid(int attribute) const { return store::uuidFrom(value(attribute)); }
    virtual bool holdsBytes(int attribute) const
    {
        const std::optional<QByteArray> bytes = store::bytesFrom(value(attribute));
        return bytes && !bytes->isEmpty();
    }
};
// `dateWasMissing` tells the caller to write a date back: firstCopiedDate, else lastPastedDate,
// else (dateAdded left invalid) the time the row was read. `leaveOutRichText` makes the list's value.
std::optional<ClipboardItem> makeClipboardItem(const RowSource& row, bool* dateWasMissing = nullptr,
                                               bool leaveOutRichText = false);
} // namespace detail

} // namespace lumra
