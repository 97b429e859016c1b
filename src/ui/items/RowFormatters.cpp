#include "ui/items/RowFormatters.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>

namespace lumra {

namespace {

QString counted(qint64 n, const char* one, const char* many)
{
    return n == 1 ? QStringLiteral("1 %1").arg(QLatin1String(one)) : QStringLiteral("%1 %2").arg(n).arg(QLatin1String(many));
}

// Whole years, months and days from `from` to `to` on the wall clock, like a calendar counts them.
struct CalendarAge {
    int years = 0;
    int months = 0;
    int days = 0;
};

CalendarAge calendarAge(const QDateTime& from, const QDateTime& to)
{
    CalendarAge age;
    // Both on the same wall clock: the zone of `to`.
    const QDateTime start = from.toTimeZone(to.timeZone());
    const QDateTime end = to;
    auto fits = [&](int y, int m, int d) { return start.addYears(y).addMonths(m).addDays(d) <= end; };
    if (start >= end)
        return age;
    int y = std::max(0, end.date().year() - start.date().year() - 1);
    while (fits(y + 1, 0, 0))
        ++y;
    int m = 0;
    while (m < 12 && fits(y, m + 1, 0))
        ++m;
    qint64 d = start.addYears(y).addMonths(m).date().daysTo(end.date());
    while (d > 0 && !fits(y, m, int(d)))
        --d;
    age.years = y;
    age.months = m;
    age.days = int(std::max<qint64>(d, 0));
    return age;
}

} // namespace

QString relativeAgeText(const QDateTime& date, const QDateTime& now)
{
    const double t = double(now.msecsTo(date)) / 1000.0; // negative for a past date
    if (t > -60)
        return QStringLiteral("%1 sec ago").arg(std::max<qint64>(qint64(-t), 0));
    if (t > -3600)
        return QStringLiteral("%1 mins ago").arg(qint64(t / -60));
    if (t > -86400) {
        const qint64 h = qint64(t / -3600);
        return h == 1 ? QStringLiteral("1 hour ago") : QStringLiteral("%1 hours ago").arg(h);
    }
    const CalendarAge age = calendarAge(date, now);
    if (age.years < 1 && age.months < 1)
        // At least a day has passed; a day shortened by a clock change still counts as one.
        return age.days <= 1 ? QStringLiteral("1 day ago") : QStringLiteral("%1 days ago").arg(age.days);
    if (age.years < 1) {
        if (age.days > 0)
            return QStringLiteral("%1 and %2 ago").arg(counted(age.months, "month", "months"), counted(age.days, "day", "days"));
        return counted(age.months, "month", "months") + QStringLiteral(" ago");
    }
    QStringList parts{counted(age.years, "year", "years")};
    if (age.months >= 1)
        parts << counted(age.months, "month", "months");
    if (age.days >= 1)
        parts << counted(age.days, "day", "days");
    if (parts.size() == 1)
        return parts.first() + QStringLiteral(" ago");
    const QString last = parts.takeLast();
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last + QStringLiteral(" ago");
}

QString exactTimestampText(const QDateTime& date)
{
    const QDateTime local = date.toLocalTime();
    return local.toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') + QLocale().toString(local.date(), QLocale::ShortFormat);
}

std::optional<QColor> detectedColor(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("#([0-9A-Fa-f]{6}|[0-9A-Fa-f]{3})\\b"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    QString digits = match.captured(1);
    if (digits.size() == 3)
        digits = QString(digits[0]) + digits[0] + digits[1] + digits[1] + digits[2] + digits[2];
    const uint v = digits.toUInt(nullptr, 16);
    return QColor(int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF));
}

QString fileCountCaption(int folders, int files)
{
    const QString filePart = counted(files, "File", "Files");
    if (folders <= 0)
        return filePart;
    const QString folderPart = counted(folders, "Folder", "Folders");
    if (files <= 0)
        return folderPart;
    return filePart + QStringLiteral(" & ") + folderPart;
}

QString itemCountText(qint64 count)
{
    return QLocale().toString(count) + (count == 1 ? QStringLiteral(" item") : QStringLiteral(" items"));
}

QString imageSizeText(int width, int height) { return QStringLiteral("%1x%2").arg(width).arg(height); }

} // namespace lumra
