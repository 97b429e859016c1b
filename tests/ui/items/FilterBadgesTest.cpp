#include "ui/items/CustomRangeDates.h"
#include "ui/items/FilterBadgeModel.h"

#include "engine/filter/FilteredItems.h"

#include <gtest/gtest.h>

using namespace lumra;

namespace {

const QTimeZone berlin("Europe/Berlin");

QStringList labels(const QList<FilterBadgeSpec>& badges)
{
    QStringList out;
    for (const FilterBadgeSpec& b : badges)
        out << b.label + (b.isPinned ? QStringLiteral(" [pin]") : QString());
    return out;
}

FilterBadgeInputs inputs()
{
    FilterBadgeInputs in;
    in.locale = QLocale(QLocale::English, QLocale::UnitedStates);
    in.timeZone = berlin;
    return in;
}

TEST(FilterBadges, EveryFilterInTheBarsOrderWithItsPin)
{
    FilterBadgeInputs in = inputs();
    const QUuid work = QUuid::createUuid();
    in.categories = {ClipboardCategory{work, QStringLiteral("Work"), QStringLiteral("folder")}};
    in.sourceApps = {SourceApp{QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox")},
                     SourceApp{QStringLiteral("org.gnome.Terminal"), QStringLiteral("Terminal")}};
    FilterState& s = in.state;
    s.showRecycleBin = true;
    in.trashedCount = 0;
    s.excludedAppBundleIds = {QStringLiteral("org.gnome.Terminal"), QStringLiteral("gone.app"), QStringLiteral("org.mozilla.firefox")};
    s.excludedDateOption = DateFilterOption::custom;
    s.excludedCustomDateStart = QDateTime(QDate(2024, 5, 10), QTime(0, 0), berlin);
    s.excludedCustomDateEnd = QDateTime(QDate(2024, 5, 10), QTime(23, 59), berlin);
    s.excludedTypes = {TypeFilterOption::commands, TypeFilterOption::text, TypeFilterOption::links};
    s.excludeStarred = true;
    s.searchTagsOnly = true;
    s.showPastedOnly = true;
    s.showStarredOnly = true;
    s.selectedCategoryId = work;
    s.appFilterBundleId = QStringLiteral("org.mozilla.firefox");
    s.typeFilterOption = TypeFilterOption::colors;
    s.dateFilterOption = DateFilterOption::last7Days;
    in.pin.date = DateFilterOption::last7Days;
    in.pin.type = TypeFilterOption::images; // another kind pinned: not this badge's pin
    in.pin.star = true;
    in.pin.excludedTypes = {TypeFilterOption::links};
    in.pin.excludedApps = {QStringLiteral("gone.app")};

    EXPECT_EQ(labels(filterBadges(in)), (QStringList{
        "Last 7 Days [pin]", "#Colors", "Firefox", "Work", "Starred [pin]", "Pasted", "Tags", "Not Starred",
        "Not Text", "Not Links [pin]", "Not Terminal Commands", "Not 5/10/24 \u2013 5/10/24", "Not Firefox",
        "Not gone.app [pin]", "Not Terminal", "Recycle Bin (0)"}));
}

TEST(FilterBadges, ExclusionSetsKeepTheirOrderHoweverTheSetIsBuilt)
{
    FilterBadgeInputs a = inputs();
    FilterBadgeInputs b = inputs();
    for (const char* id : {"c.app", "a.app", "b.app", "d.app", "e.app"})
        a.state.excludedAppBundleIds.insert(QString::fromLatin1(id));
    for (const char* id : {"e.app", "d.app", "b.app", "a.app", "c.app"})
        b.state.excludedAppBundleIds.insert(QString::fromLatin1(id));
    b.state.excludedAppBundleIds.reserve(64); // a different bucket layout
    a.state.excludedTypes = {TypeFilterOption::folders, TypeFilterOption::images};
    b.state.excludedTypes = {TypeFilterOption::images, TypeFilterOption::folders};
    EXPECT_EQ(filterBadges(a), filterBadges(b));
    EXPECT_EQ(labels(filterBadges(a)).first(), QStringLiteral("Not Images"));
}

TEST(FilterBadges, DeletedCategoryShowsNoBadgeAndNothingShowsNoClearButton)
{
    FilterBadgeInputs in = inputs();
    in.state.selectedCategoryId = QUuid::createUuid();
    EXPECT_TRUE(filterBadges(in).isEmpty());
    EXPECT_FALSE(clearButtonShown(in.state));
    in.state.searchText = QStringLiteral(" ");
    EXPECT_TRUE(clearButtonShown(in.state));
}

struct DayCase {
    const char* label;
    QDate day;
    QDateTime start;
    QDateTime end;
};

void PrintTo(const DayCase& c, std::ostream* out) { *out << c.label; }

class CustomRangeBounds : public testing::TestWithParam<DayCase> { };

TEST_P(CustomRangeBounds, ADayRunsFromItsFirstMomentToItsLastMillisecond)
{
    const DayCase& c = GetParam();
    const CalendarSettings calendar{berlin, Qt::Monday};
    const QDateTime start = CustomRangeDates::startBound(c.day, calendar);
    const QDateTime end = CustomRangeDates::endBound(c.day, calendar);
    EXPECT_EQ(start, c.start);
    EXPECT_EQ(end, c.end);
    EXPECT_EQ(CustomRangeDates::dayOf(end, calendar), c.day);
    // The engine's period over these bounds holds the last millisecond and not the next day.
    const QDateTime now = end.addDays(3);
    const DateRange range = dateRange(DateFilterOption::custom, start, end, now, calendar);
    EXPECT_EQ(range.start, start);
    EXPECT_EQ(range.end, end);
    EXPECT_EQ(range.end.addMSecs(1), c.end.addMSecs(1));
    EXPECT_EQ(CustomRangeDates::dayOf(range.end.addMSecs(1), calendar), c.day.addDays(1));
}

INSTANTIATE_TEST_SUITE_P(Table, CustomRangeBounds, testing::Values(
    DayCase{"leap day ends February", QDate(2024, 2, 29), QDateTime(QDate(2024, 2, 29), QTime(0, 0), berlin),
            QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59, 999), berlin)},
    DayCase{"thirty-day month", QDate(2024, 4, 30), QDateTime(QDate(2024, 4, 30), QTime(0, 0), berlin),
            QDateTime(QDate(2024, 4, 30), QTime(23, 59, 59, 999), berlin)},
    DayCase{"end of the year", QDate(2024, 12, 31), QDateTime(QDate(2024, 12, 31), QTime(0, 0), berlin),
            QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59, 999), berlin)},
    DayCase{"23-hour day", QDate(2024, 3, 31), QDateTime(QDate(2024, 3, 30), QTime(23, 0), Qt::UTC),
            QDateTime(QDate(2024, 3, 31), QTime(21, 59, 59, 999), Qt::UTC)}));

TEST(DateFilterPeriods, WeekStartsOnTheCalendarsFirstDayAndMonthsEndOnTheirLastDay)
{
    // Sunday 2 June 2024 at noon: a Sunday week has just begun, a Monday week began six days ago.
    const QDateTime sunday(QDate(2024, 6, 2), QTime(12, 0), berlin);
    EXPECT_EQ(dateRange(DateFilterOption::thisWeek, {}, {}, sunday, {berlin, Qt::Sunday}).start,
              QDateTime(QDate(2024, 6, 2), QTime(0, 0), berlin));
    EXPECT_EQ(dateRange(DateFilterOption::thisWeek, {}, {}, sunday, {berlin, Qt::Monday}).start,
              QDateTime(QDate(2024, 5, 27), QTime(0, 0), berlin));
    // The last millisecond of May still belongs to May; the next one starts June's month.
    const QDateTime lastOfMay(QDate(2024, 5, 31), QTime(23, 59, 59, 999), berlin);
    EXPECT_EQ(dateRange(DateFilterOption::thisMonth, {}, {}, lastOfMay, {berlin, Qt::Monday}).start,
              QDateTime(QDate(2024, 5, 1), QTime(0, 0), berlin));
    EXPECT_EQ(dateRange(DateFilterOption::thisMonth, {}, {}, lastOfMay.addMSecs(1), {berlin, Qt::Monday}).start,
              lastOfMay.addMSecs(1));
}

} // namespace
