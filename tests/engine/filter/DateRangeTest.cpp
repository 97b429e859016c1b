#include "FilterTestItems.h"

#include <gtest/gtest.h>

using namespace lumra;
using namespace lumra::test;

namespace {

struct RangeCase {
    const char* label;
    DateFilterOption option;
    QDateTime now;
    Qt::DayOfWeek firstDay;
    QDateTime start;
    QDateTime end; // invalid: the range ends now
};

void PrintTo(const RangeCase& c, std::ostream* out) { *out << c.label; }

class DateRanges : public testing::TestWithParam<RangeCase> { };

TEST_P(DateRanges, StartAndEndInTheUsersCalendar)
{
    const RangeCase& c = GetParam();
    const QDateTime customStart = berlinTime(2024, 5, 10, 15, 0);
    const QDateTime customEnd = berlinTime(2024, 5, 12, 9, 0);
    const DateRange range = dateRange(c.option, customStart, customEnd, c.now, berlinCalendar(c.firstDay));
    EXPECT_EQ(range.start, c.start) << range.start.toString(Qt::ISODateWithMs).toStdString();
    EXPECT_EQ(range.end, c.end.isValid() ? c.end : c.now) << range.end.toString(Qt::ISODateWithMs).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Table, DateRanges, testing::Values(
    RangeCase{"today just after midnight", DateFilterOption::today, berlinTime(2024, 5, 15, 0, 10), Qt::Monday,
              berlinTime(2024, 5, 15, 0, 0), {}},
    RangeCase{"last 24 hours is a fixed span", DateFilterOption::last24Hours, berlinTime(2024, 5, 15, 0, 10),
              Qt::Monday, berlinTime(2024, 5, 14, 0, 10), {}},
    RangeCase{"week from Monday", DateFilterOption::thisWeek, berlinTime(2024, 5, 15, 9, 0), Qt::Monday,
              berlinTime(2024, 5, 13, 0, 0), {}},
    RangeCase{"week from Sunday", DateFilterOption::thisWeek, berlinTime(2024, 5, 15, 9, 0), Qt::Sunday,
              berlinTime(2024, 5, 12, 0, 0), {}},
    RangeCase{"Monday is its own week start", DateFilterOption::thisWeek, berlinTime(2024, 5, 13, 0, 5), Qt::Monday,
              berlinTime(2024, 5, 13, 0, 0), {}},
    RangeCase{"Sunday week seen on a Saturday", DateFilterOption::thisWeek, berlinTime(2024, 5, 18, 23, 59),
              Qt::Sunday, berlinTime(2024, 5, 12, 0, 0), {}},
    RangeCase{"week across the new year", DateFilterOption::thisWeek, berlinTime(2025, 1, 1, 8, 0), Qt::Monday,
              berlinTime(2024, 12, 30, 0, 0), {}},
    RangeCase{"month from its first midnight", DateFilterOption::thisMonth, berlinTime(2024, 5, 1, 0, 10),
              Qt::Monday, berlinTime(2024, 5, 1, 0, 0), {}},
    RangeCase{"last 7 days include today", DateFilterOption::last7Days, berlinTime(2024, 5, 15, 10, 0), Qt::Monday,
              berlinTime(2024, 5, 9, 0, 0), {}},
    RangeCase{"last 30 days include today", DateFilterOption::last30Days, berlinTime(2024, 5, 15, 10, 0),
              Qt::Monday, berlinTime(2024, 4, 16, 0, 0), {}},
    RangeCase{"today on the spring-forward day", DateFilterOption::today, berlinTime(2024, 3, 31, 12, 0),
              Qt::Monday, QDateTime(QDate(2024, 3, 30), QTime(23, 0), Qt::UTC), {}},
    RangeCase{"24 hours across spring forward", DateFilterOption::last24Hours, berlinTime(2024, 3, 31, 12, 0),
              Qt::Monday, berlinTime(2024, 3, 30, 11, 0), {}},
    RangeCase{"7 days across spring forward", DateFilterOption::last7Days, berlinTime(2024, 4, 2, 10, 0),
              Qt::Monday, berlinTime(2024, 3, 27, 0, 0), {}},
    RangeCase{"24 hours across fall back", DateFilterOption::last24Hours, berlinTime(2024, 10, 27, 12, 0),
              Qt::Monday, berlinTime(2024, 10, 26, 13, 0), {}},
    RangeCase{"custom covers whole days", DateFilterOption::custom, berlinTime(2024, 5, 15, 10, 0), Qt::Monday,
              berlinTime(2024, 5, 10, 0, 0),
              QDateTime(QDate(2024, 5, 12), QTime(23, 59, 59, 999), QTimeZone("Europe/Berlin"))}));

TEST(DateFilter, TodayTenMinutesAfterMidnightShowsOnlyThoseMinutes)
{
    ClipboardItem yesterday = textItem("yesterday", "a");
    yesterday.dateAdded = berlinTime(2024, 5, 14, 23, 59, 59);
    ClipboardItem midnight = textItem("midnight", "b");
    midnight.dateAdded = berlinTime(2024, 5, 15, 0, 0);
    ClipboardItem utcLate = textItem("utc late", "c"); // 23:30 UTC is already 01:30 in Berlin
    utcLate.dateAdded = QDateTime(QDate(2024, 5, 14), QTime(22, 5), Qt::UTC);
    ClipboardItem future = textItem("future", "d");
    future.dateAdded = berlinTime(2024, 5, 15, 0, 15);

    FilterState state;
    state.dateFilterOption = DateFilterOption::today;
    EXPECT_EQ(filteredNames({yesterday, midnight, utcLate, future}, state, berlinTime(2024, 5, 15, 0, 10)),
              QStringList({"utc late", "midnight"}));
}

TEST(DateFilter, CustomSameDayKeepsThatDayAndReversedPeriodKeepsNothing)
{
    QList<ClipboardItem> items;
    for (const auto& [name, time] : {std::pair{"before", berlinTime(2024, 5, 9, 23, 59, 59)},
                                     std::pair{"first", berlinTime(2024, 5, 10, 0, 0)},
                                     std::pair{"last second", berlinTime(2024, 5, 10, 23, 59, 59).addMSecs(500)},
                                     std::pair{"after", berlinTime(2024, 5, 11, 0, 0)}}) {
        ClipboardItem item = textItem(name, name);
        item.dateAdded = time;
        items.append(item);
    }
    FilterState state;
    state.dateFilterOption = DateFilterOption::custom;
    state.customDateStart = berlinTime(2024, 5, 10, 18, 0);
    state.customDateEnd = berlinTime(2024, 5, 10, 6, 0);
    EXPECT_EQ(filteredNames(items, state), QStringList({"last second", "first"}));

    state.customDateStart = berlinTime(2024, 5, 11, 0, 0);
    state.customDateEnd = berlinTime(2024, 5, 10, 0, 0);
    EXPECT_TRUE(filteredNames(items, state).isEmpty());
}

TEST(DateFilter, ExcludingTheSamePeriodEmptiesTheList)
{
    ClipboardItem recent = textItem("recent", "a");
    recent.dateAdded = berlinTime(2024, 5, 15, 17, 0);
    ClipboardItem old = textItem("old", "b");
    old.dateAdded = berlinTime(2024, 5, 1, 17, 0);
    FilterState state;
    state.excludedDateOption = DateFilterOption::last7Days;
    EXPECT_EQ(filteredNames({recent, old}, state), QStringList({"old"}));
    state.dateFilterOption = DateFilterOption::last7Days;
    EXPECT_TRUE(filteredNames({recent, old}, state).isEmpty());
}

} // namespace
