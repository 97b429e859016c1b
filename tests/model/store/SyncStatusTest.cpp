#include "model/store/PersistenceController.h"

#include "model/NotificationCenter.h"
#include "model/store/StoreTestSupport.h"

namespace lumra::test {
namespace {

CloudError cloudError(int code, const char* description = "underlying text")
{
    return CloudError {true, code, QString::fromUtf8(description), nullptr};
}

struct ErrorText {
    int code;
    const char* text;
};

class CloudErrorTextTest : public ::testing::TestWithParam<ErrorText> { };

TEST_P(CloudErrorTextTest, codesTurnIntoShortTexts)
{
    EXPECT_EQ(PersistenceController::cloudKitErrorMessage(cloudError(GetParam().code, "described")), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Codes, CloudErrorTextTest, ::testing::Values(
    ErrorText {2, "Some records were rejected (schema may be out of date)"},
    ErrorText {3, "No internet connection"}, ErrorText {4, "No internet connection"},
    ErrorText {5, "Sync container is misconfigured"}, ErrorText {24, "Sync container is misconfigured"},
    ErrorText {6, "Sync is temporarily unavailable"}, ErrorText {34, "Sync is temporarily unavailable"},
    ErrorText {7, "Sync is busy — will retry automatically"}, ErrorText {23, "Sync is busy — will retry automatically"},
    ErrorText {9, "Choose a sync folder in Lumra Settings"},
    ErrorText {10, "Sync denied permission for this container"},
    ErrorText {25, "Your sync storage is full"},
    ErrorText {1, "described"}));

TEST(CloudErrorText, anUnderlyingCloudErrorIsLookedAtButTheOuterTextIsTheFallback)
{
    CloudError outer {false, 134400, QStringLiteral("outer text"), std::make_shared<CloudError>(cloudError(25))};
    EXPECT_EQ(PersistenceController::cloudKitErrorMessage(outer), "Your sync storage is full");
    outer.underlying = std::make_shared<CloudError>(cloudError(1));
    EXPECT_EQ(PersistenceController::cloudKitErrorMessage(outer), "outer text");
    outer.underlying.reset();
    EXPECT_EQ(PersistenceController::cloudKitErrorMessage(outer), "outer text");
}

class SyncStatusTest : public StoreTest {
protected:
    SyncStatusTest()
    {
        NotificationCenter::defaultCenter().observe(Notifications::iCloudSyncStatusChanged, &receiver,
                                                    [this](const QVariantMap& info) { statuses << info.value("status").toString(); });
    }
    QObject receiver;
    QStringList statuses;
    InMemoryCloudContainer container;
};

TEST_F(SyncStatusTest, eachMirroringEventPostsItsStatus)
{
    PersistenceController p(true, &container);
    const QDateTime end = QDateTime::currentDateTimeUtc();
    container.report({CloudSyncEvent::setup, std::nullopt, std::nullopt});
    container.report({CloudSyncEvent::export_, end, std::nullopt});
    CloudError quota {false, 1, QStringLiteral("import failed"), std::make_shared<CloudError>(cloudError(25))};
    container.report({CloudSyncEvent::import, end, quota});
    container.report({42, end, std::nullopt});
    EXPECT_EQ(statuses, QStringList({"🔄 SETUP in progress...", "✅ EXPORT succeeded",
                                     "❌ IMPORT failed: Your sync storage is full", "✅ UNKNOWN succeeded"}));
}

TEST_F(SyncStatusTest, withoutSyncNoEventIsObserved)
{
    PersistenceController p(false, &container);
    container.report({CloudSyncEvent::setup, std::nullopt, std::nullopt});
    EXPECT_TRUE(statuses.isEmpty());
}

TEST_F(SyncStatusTest, onlyAnAvailableAccountCountsAsAvailable)
{
    auto ask = [](CloudContainer& c) {
        std::optional<bool> answer;
        PersistenceController::isICloudAvailable(c, [&](bool ok) { answer = ok; });
        return answer;
    };
    EXPECT_EQ(ask(container), true);
    for (CloudAccountStatus s : {CloudAccountStatus::couldNotDetermine, CloudAccountStatus::restricted,
                                 CloudAccountStatus::noAccount, CloudAccountStatus::temporarilyUnavailable}) {
        container.setAccountStatus(s);
        EXPECT_EQ(ask(container), false);
    }
    container.setAccountError(QStringLiteral("daemon gone"));
    EXPECT_EQ(ask(container), false);
    NoSyncFolderContainer app;
    EXPECT_EQ(ask(app), false);
}

} // namespace
} // namespace lumra::test
