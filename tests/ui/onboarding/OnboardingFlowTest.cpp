#include "ui/onboarding/OnboardingFlow.h"

#include "platform/core/Clock.h"
#include "platform/defaults/UserDefaults.h"

#include "TempDataDir.h"

#include <gtest/gtest.h>

namespace lumra {
namespace {

using P = OnboardingPage;

struct PageRow {
    P page;
    int index;
    QSize size;
    std::optional<int> back;
    std::optional<int> next;
};

void expectSequence(bool needsPermission, const std::vector<PageRow>& rows)
{
    ASSERT_EQ(OnboardingFlow::sequence(needsPermission).size(), qsizetype(rows.size()));
    EXPECT_EQ(OnboardingFlow::dotCount(needsPermission), int(rows.size()) - 1);
    for (const PageRow& row : rows) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(OnboardingFlow::pageAt(row.index, needsPermission), row.page);
        EXPECT_EQ(OnboardingFlow::indexOf(row.page, needsPermission), row.index);
        EXPECT_EQ(OnboardingFlow::contentSize(row.page), row.size);
        EXPECT_EQ(OnboardingFlow::backTarget(row.page, needsPermission), row.back);
        EXPECT_EQ(OnboardingFlow::nextTarget(row.page, needsPermission), row.next);
    }
}

TEST(OnboardingFlowTest, SevenPagesWhenKeysReachOtherApplications)
{
    const QSize normal(500, 640);
    expectSequence(false, {
                              {P::welcome, 0, normal, std::nullopt, 1},
                              {P::getSetUp, 1, normal, 0, 2},
                              {P::whatToCapture, 2, normal, 1, 3},
                              {P::privacy, 3, normal, 2, 4},
                              {P::layout, 4, QSize(700, 640), 3, 5},
                              {P::tips, 5, QSize(1020, 768), 4, 6},
                              {P::finish, 6, normal, std::nullopt, std::nullopt},
                          });
}

TEST(OnboardingFlowTest, EightPagesWithThePermissionPage)
{
    const QSize normal(500, 640);
    expectSequence(true, {
                             {P::welcome, 0, normal, std::nullopt, 1},
                             {P::getSetUp, 1, normal, 0, 2},
                             {P::whatToCapture, 2, normal, 1, 3},
                             {P::privacy, 3, normal, 2, 4},
                             {P::permission, 4, normal, 3, 5},
                             {P::layout, 5, QSize(700, 640), 4, 6},
                             {P::tips, 6, QSize(1020, 768), 5, 7},
                             {P::finish, 7, normal, std::nullopt, std::nullopt},
                         });
}

TEST(OnboardingFlowTest, IndexesOutsideTheSequenceShowTheEnds)
{
    EXPECT_EQ(OnboardingFlow::pageAt(-3, false), P::welcome);
    EXPECT_EQ(OnboardingFlow::pageAt(7, false), P::finish);
    EXPECT_EQ(OnboardingFlow::pageAt(40, true), P::finish);
    EXPECT_EQ(OnboardingFlow::indexOf(P::permission, false), 4) << "the page after it";
}

TEST(OnboardingFlowTest, TheSavedPageIsFoundAgainWhenThePermissionPageComesOrGoes)
{
    struct Row {
        std::optional<qint64> stored;
        std::optional<bool> savedWithPermission; // none: saved by an older Lumra
        bool needsPermission;
        int expected;
        P page;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt, false, 0, P::welcome},
        {-2, std::nullopt, true, 0, P::welcome},
        {3, false, false, 3, P::privacy},
        {5, true, true, 5, P::layout},
        {5, true, false, 4, P::layout},       // permission granted since: the same page, one lower
        {4, false, true, 5, P::layout},       // permission lost since: the same page, one higher
        {4, true, false, 4, P::layout},       // saved on the permission page: the page after it
        {6, true, false, 5, P::tips},
        {7, true, false, 6, P::finish},
        {3, true, false, 3, P::privacy},      // before the permission page nothing moves
        {5, std::nullopt, false, 5, P::tips}, // an index alone is taken as it is
        {99, false, true, 7, P::finish},
        {99, std::nullopt, true, 99, P::finish},
    };
    for (const Row& row : rows) {
        test::TempDataDir dir;
        ManualClock clock;
        UserDefaults defaults(dir.configHome() + QStringLiteral("/settings.json"), &clock);
        if (row.stored)
            defaults.set(OnboardingFlow::pageKey, *row.stored);
        if (row.savedWithPermission)
            defaults.set(OnboardingFlow::pageWithPermissionKey, *row.savedWithPermission);
        const int index = OnboardingFlow::savedIndex(defaults, row.needsPermission);
        EXPECT_EQ(index, row.expected) << row.stored.value_or(-99) << " " << row.needsPermission;
        EXPECT_EQ(OnboardingFlow::pageAt(index, row.needsPermission), row.page);
    }
}

TEST(TipsProgressTest, ContinueNeedsAllTenTipsInAnyOrder)
{
    TipsProgress tips;
    EXPECT_EQ(tips.label(), "0%");
    tips.markCurrentViewed();
    EXPECT_EQ(tips.label(), "10%");
    EXPECT_FALSE(tips.canGoBack());
    for (int i = 0; i < 4; ++i)
        tips.forward();
    EXPECT_EQ(tips.index(), 4);
    for (int i = 0; i < 4; ++i)
        tips.back();
    EXPECT_EQ(tips.label(), "50%") << "going back counts nothing new";
    EXPECT_DOUBLE_EQ(tips.progress(), 0.5);
    for (int i = 0; i < 20; ++i)
        tips.forward();
    EXPECT_EQ(tips.index(), 9) << "bounded at the last tip";
    EXPECT_FALSE(tips.canGoForward());
    EXPECT_TRUE(tips.isComplete());
    EXPECT_EQ(tips.label(), "Continue");
    EXPECT_DOUBLE_EQ(tips.progress(), 1.0);

    TipsProgress percents;
    percents.markCurrentViewed();
    for (int seen = 2; seen <= 9; ++seen) {
        percents.forward();
        EXPECT_EQ(percents.label(), QStringLiteral("%1%").arg(seen * 10));
    }
}

} // namespace
} // namespace lumra
