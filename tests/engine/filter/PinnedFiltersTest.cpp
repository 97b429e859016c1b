#include "engine/filter/PinnedFilters.h"

#include "model/ClipboardItem.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace lumra;

namespace {

QByteArray fixture(const QString& name)
{
    QFile file(QDir(QStringLiteral(LUMRA_TEST_DATA_DIR "/filters")).filePath(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

TEST(PinnedFiltersJson, HandWrittenPinDecodesEveryFieldAndIgnoresUnknownKeys)
{
    QString error;
    const std::optional<PinnedFilters> pin = decodePinnedFilters(fixture("pin-full.json"), &error);
    ASSERT_TRUE(pin) << error.toStdString();
    EXPECT_TRUE(pin->star);
    EXPECT_FALSE(pin->pasted);
    EXPECT_TRUE(pin->tag);
    EXPECT_EQ(pin->type, TypeFilterOption::images);
    EXPECT_EQ(pin->appBundleId, QStringLiteral("org.mozilla.firefox"));
    EXPECT_EQ(pin->categoryId, QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00CF4FC964FF")));
    EXPECT_EQ(pin->date, DateFilterOption::custom);
    EXPECT_EQ(pin->customDateStart, QDateTime(QDate(2024, 5, 13), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(pin->customDateEnd, QDateTime(QDate(2024, 5, 13), QTime(23, 59, 59, 500), Qt::UTC));
    EXPECT_EQ(pin->excludedTypes, QSet<TypeFilterOption>({TypeFilterOption::links, TypeFilterOption::colors}));
    EXPECT_EQ(pin->excludedApps, QSet<QString>({"org.keepassxc.KeePassXC"}));
    EXPECT_EQ(pin->excludedDate, DateFilterOption::last7Days);
    EXPECT_FALSE(pin->excludedCustomDateStart);
}

TEST(PinnedFiltersJson, NullOptionalsReadAsAbsent)
{
    EXPECT_EQ(decodePinnedFilters(fixture("pin-nulls.json")), PinnedFilters());
}

class BrokenPin : public testing::TestWithParam<const char*> { };

TEST_P(BrokenPin, RejectsTheWholePinWithAReason)
{
    QString error;
    EXPECT_FALSE(decodePinnedFilters(fixture(QString::fromUtf8(GetParam())), &error));
    EXPECT_FALSE(error.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BrokenPin, testing::Values(
    "bad-missing-excludedApps.json", "bad-missing-star.json", "bad-unknown-type.json", "bad-number-as-bool.json",
    "bad-unknown-excluded-type.json", "bad-app-not-string.json", "bad-uuid-braces.json", "bad-date-string.json",
    "bad-date-out-of-range.json", "bad-types-not-array.json", "bad-date-option-case.json", "bad-not-object.json",
    "bad-truncated.json"));

TEST(PinnedFiltersJson, EmptyPinWritesFlagsAndArraysOnly)
{
    EXPECT_EQ(encodePinnedFilters(PinnedFilters()),
              QByteArray(R"({"star":false,"pasted":false,"tag":false,"excludeStar":false,"excludedTypes":[],"excludedApps":[]})"));
}

TEST(PinnedFiltersJson, WritesUpperCaseUuidAndOnlyThePresentDates)
{
    PinnedFilters pin;
    pin.categoryId = QUuid::fromString(QStringLiteral("6f9619ff-8b86-d011-b42d-00cf4fc964ff"));
    pin.date = DateFilterOption::last7Days;
    pin.excludedDate = DateFilterOption::custom;
    pin.excludedCustomDateStart = Json::dateFromReferenceSeconds(737251200.25);
    const QJsonObject json = QJsonDocument::fromJson(encodePinnedFilters(pin)).object();
    EXPECT_EQ(json.value("categoryId").toString(), QStringLiteral("6F9619FF-8B86-D011-B42D-00CF4FC964FF"));
    EXPECT_EQ(json.value("date").toString(), QStringLiteral("last7Days"));
    EXPECT_FALSE(json.contains("customDateStart"));
    EXPECT_FALSE(json.contains("customDateEnd"));
    EXPECT_DOUBLE_EQ(json.value("excludedCustomDateStart").toDouble(), 737251200.25);
    EXPECT_FALSE(json.contains("excludedCustomDateEnd"));
}

TEST(PinnedFiltersJson, EveryFieldSurvivesARoundTrip)
{
    const std::optional<PinnedFilters> pin = decodePinnedFilters(fixture("pin-full.json"));
    ASSERT_TRUE(pin);
    PinnedFilters full = *pin;
    full.excludedCustomDateStart = Json::dateFromReferenceSeconds(-100.5);
    full.excludedCustomDateEnd = Json::dateFromReferenceSeconds(1e9);
    full.appBundleId = QStringLiteral("quote\" and \\ backslash");
    EXPECT_EQ(decodePinnedFilters(encodePinnedFilters(full)), full);
}

} // namespace
