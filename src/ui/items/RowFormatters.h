#pragma once

#include <QColor>
#include <QDateTime>
#include <QString>

#include <optional>

namespace lumra {

// How old `date` is at `now`: "45 sec ago", "5 mins ago", "1 hour ago", then calendar ages in the
// zone of `now` ("3 days ago", "1 month and 4 days ago", "1 year, 2 months and 3 days ago").
// Calendar ages count wall-clock days, so a daylight-saving change never shifts a day, and an age
// of a day or more never reads "0 days ago".
QString relativeAgeText(const QDateTime& date, const QDateTime& now);

// "14:03:22 06/12/2026": the 24-hour time, then the locale's short date.
QString exactTimestampText(const QDateTime& date);

// The first "#rgb" or "#rrggbb" code in the text (whole word), as an opaque colour.
std::optional<QColor> detectedColor(const QString& text);

// "1 File", "3 Files", "1 Folder", "2 Files & 1 Folder".
QString fileCountCaption(int folders, int files);

// "12,345 items" with the locale's digit grouping; "1 item".
QString itemCountText(qint64 count);

// "1920x1080"; whole pixels.
QString imageSizeText(int width, int height);

} // namespace lumra
