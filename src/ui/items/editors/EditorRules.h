#pragma once

#include "model/ClipboardItem.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>

// What the item editors decide, kept apart from their windows.
namespace lumra::EditorRules {

// The item's text under an editor's title; a sensitive item's is masked.
QString itemCaption(const ClipboardItem& item);

// Tags are typed as one line: split at spaces only, empty pieces dropped, everything else kept as
// typed (a tab stays inside its tag, case and repeats are kept).
QStringList parseTags(const QString& text);
QString tagsText(const QStringList& tags);
// The tags of several items, each once in first-seen order.
QString unionTagsText(const QList<ClipboardItem>& items);
QString multiTagCaption(qsizetype itemCount);

// Blank comments are no comment; otherwise trimmed at both ends only.
std::optional<QString> commentToStore(const QString& text);
// "Edit Comment" for an item that has a comment, even an empty one.
QString commentTitle(const ClipboardItem& item);

struct TextStatistics {
    int characters = 0; // as the user sees them (grapheme clusters)
    int words = 0;
    int lines = 0;
};
TextStatistics textStatistics(const QString& text);
// How many characters textStatistics() has counted on the calling thread, ever: what the counts
// cost the window's thread.
qint64 charactersCountedOnThisThread();
// "12 characters · 3 words · 1 line".
QString statisticsText(const TextStatistics& statistics);

// A category name as stored: trimmed; nothing when blank.
std::optional<QString> categoryName(const QString& text);
QString deleteCategoryTitle(const QString& name);

// The fixed choice of category symbols, six to a row.
const QStringList& categoryIconChoices();

// The shortcut editor's Save stays off only after a refused chord on an item that had a shortcut,
// so that a refusal is never saved as removing the old one.
bool canSaveShortcut(const std::optional<ItemShortcut>& recorded, bool itemHadShortcut);

// Where an editor window's frame goes so that all of it lies in `area` (the free part of the popup's
// screen): moved no further than that, unchanged when it already does. A frame larger than the
// area keeps its top left corner, with the title and the first lines, in view.
QPoint placedOnScreen(const QRect& frame, const QRect& area);

} // namespace lumra::EditorRules
