#include "ui/items/RowFormatters.h"

#include <QLocale>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace lumra {
namespace {

TEST(RowFormattersTest, RelativeAges)
{
    const QTimeZone utc = QTimeZone::utc();
    const QDateTime now(QDate(2026, 6, 15), QTime(12, 0), utc);
    struct Case {
        QDateTime date;
        const char* text;
    };
    for (const Case& c : {
             Case{now.addSecs(-45), "45 sec ago"},
             Case{now.addMSecs(-59900), "59 sec ago"},
             Case{now.addSecs(30), "0 sec ago"},
             Case{now.addSecs(-60), "1 mins ago"},
             Case{now.addSecs(-90), "1 mins ago"},
             Case{now.addSecs(-3600), "1 hour ago"},
             Case{now.addSecs(-5000), "1 hour ago"},
             Case{now.addSecs(-7300), "2 hours ago"},
             Case{now.addSecs(-86400), "1 day ago"},
             Case{now.addDays(-3), "3 days ago"},
             Case{now.addMonths(-1).addDays(-4), "1 month and 4 days ago"},
             Case{now.addMonths(-1), "1 month ago"},
             Case{now.addMonths(-2), "2 months ago"},
             Case{now.addYears(-1).addMonths(-2).addDays(-3), "1 year, 2 months and 3 days ago"},
             Case{now.addYears(-2).addDays(-5), "2 years and 5 days ago"},
             Case{now.addYears(-3), "3 years ago"},
             Case{now.addYears(-1), "1 year ago"},
         })
        EXPECT_EQ(relativeAgeText(c.date, now), QString::fromUtf8(c.text)) << c.date.toString().toStdString();
}

TEST(RowFormattersTest, AgesAcrossClockChangesCountWallClockDaysAndNeverZeroDays)
{
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    // The autumn day has 25 hours: 24 h before 23:30 is still that day's 00:30.
    const QDateTime autumnNow(QDate(2025, 10, 26), QTime(23, 30), berlin);
    EXPECT_EQ(relativeAgeText(autumnNow.addSecs(-86400), autumnNow), QStringLiteral("1 day ago"));
    // The spring day has 23 hours: two calendar days back is two days, not one.
    const QDateTime springNow(QDate(2025, 3, 31), QTime(12, 0), berlin);
    EXPECT_EQ(relativeAgeText(QDateTime(QDate(2025, 3, 29), QTime(12, 0), berlin), springNow), QStringLiteral("2 days ago"));
    EXPECT_EQ(relativeAgeText(QDateTime(QDate(2025, 2, 28), QTime(12, 0), berlin), springNow),
              QStringLiteral("1 month and 3 days ago"));
}

TEST(RowFormattersTest, ColourCodesInText)
{
    struct Case {
        const char* text;
        std::optional<QColor> colour;
    };
    for (const Case& c : {Case{"#FFF.", QColor(255, 255, 255)}, Case{"#12AbEf", QColor(18, 171, 239)},
                          Case{"#12AB", std::nullopt}, Case{"#12ABEF0", std::nullopt},
                          Case{"#12ABEF00", std::nullopt}, Case{"rgb(1, 2, 3)", std::nullopt},
                          Case{"a #00FF00 then #F00", QColor(0, 255, 0)}})
        EXPECT_EQ(detectedColor(QString::fromUtf8(c.text)), c.colour) << c.text;
}

TEST(RowFormattersTest, CaptionsAndCounts)
{
    EXPECT_EQ(fileCountCaption(0, 1), QStringLiteral("1 File"));
    EXPECT_EQ(fileCountCaption(0, 0), QStringLiteral("0 Files"));
    EXPECT_EQ(fileCountCaption(2, 0), QStringLiteral("2 Folders"));
    EXPECT_EQ(fileCountCaption(1, 2), QStringLiteral("2 Files & 1 Folder"));
    EXPECT_EQ(imageSizeText(1920, 1080), QStringLiteral("1920x1080"));

    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(itemCountText(12345), QStringLiteral("12.345 items"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(itemCountText(100000), QStringLiteral("100,000 items"));
    EXPECT_EQ(itemCountText(1), QStringLiteral("1 item"));
    QLocale::setDefault(before);
}

} // namespace
} // namespace lumra
