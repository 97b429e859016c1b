#pragma once

#include "engine/filter/FilteredItems.h"
#include "model/ClipboardItem.h"

#include <QStringList>
#include <QTimeZone>

namespace lumra::test {

inline QTimeZone berlin() { return QTimeZone("Europe/Berlin"); }
inline CalendarSettings berlinCalendar(Qt::DayOfWeek firstDay = Qt::Monday) { return {berlin(), firstDay}; }
inline QDateTime berlinTime(int y, int m, int d, int h, int min, int s = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min, s), berlin());
}

// Items carry their name in `comment`, which no search or filter reads.
inline ClipboardItem named(const QString& name, ClipboardItem item)
{
    item.id = QUuid::createUuid();
    item.comment = name;
    if (!item.dateAdded.isValid()) item.dateAdded = berlinTime(2024, 5, 15, 12, 0);
    return item;
}

inline ClipboardItem textItem(const QString& name, const QString& text)
{
    ClipboardItem item;
    item.contentType = ClipboardContentType::text;
    item.textContent = text;
    return named(name, item);
}

inline ClipboardItem fileItem(const QString& name, const QStringList& urls,
                              std::optional<QList<bool>> isDirectory = std::nullopt)
{
    ClipboardItem item;
    item.contentType = ClipboardContentType::file;
    item.fileURLStrings = urls;
    item.fileURLIsDirectory = std::move(isDirectory);
    return named(name, item);
}

inline ClipboardItem imageItem(const QString& name)
{
    ClipboardItem item;
    item.contentType = ClipboardContentType::image;
    item.imageFileName = QStringLiteral("0123456789abcdef0123456789abcdef.png");
    return named(name, item);
}

inline QStringList names(const QList<ClipboardItem>& items)
{
    QStringList result;
    for (const ClipboardItem& item : items) result.append(item.comment.value_or(QStringLiteral("?")));
    return result;
}

// The names the filtered list shows, in order.
inline QStringList filteredNames(const QList<ClipboardItem>& items, const FilterState& state,
                                 const QDateTime& now = berlinTime(2024, 5, 15, 18, 0),
                                 const CalendarSettings& calendar = berlinCalendar())
{
    return names(filteredItems(items, state, now, calendar));
}

} // namespace lumra::test

// Readable failures for QString-based expectations.
#include <ostream>
inline void PrintTo(const QString& s, std::ostream* out) { *out << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* out)
{
    *out << "[" << l.join(QStringLiteral(", ")).toStdString() << "]";
}
inline std::ostream& operator<<(std::ostream& out, const QString& s) { return out << s.toStdString(); }
