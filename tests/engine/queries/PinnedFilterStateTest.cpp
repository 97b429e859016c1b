#include "QueriesTestSupport.h"

#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"

#include "EngineFixture.h"

#include <functional>

using namespace lumra;

namespace {

const QUuid work = QUuid::fromString(QStringLiteral("{0b7f3a9e-58c1-4f0e-a3d2-1c6e9b4f7a21}"));

class PinReleaseTest : public test::QueriesTest { };

// ---------------------------------------------------------------------------- release on switch-off

struct ReleaseCase {
    const char* name;
    std::function<void(PinnedFilters&)> pinIt;
    std::function<void(HistoryFilter&)> switchOn;
    std::function<void(HistoryFilter&)> switchOff;
};
void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.name; }

class PinReleaseByFilterTest : public test::QueriesTest, public ::testing::WithParamInterface<ReleaseCase> { };

TEST_P(PinReleaseByFilterTest, SwitchingOffReleasesAndSavesSwitchingOnKeeps)
{
    PinnedFilters pin;
    GetParam().pinIt(pin);
    manager->filters().setPinnedFilters(pin);

    GetParam().switchOn(manager->filters());
    EXPECT_EQ(manager->filters().pinnedFilters(), pin);
    EXPECT_FALSE(storedPin());

    GetParam().switchOff(manager->filters());
    EXPECT_EQ(manager->filters().pinnedFilters(), PinnedFilters());
    ASSERT_TRUE(storedPin());
    EXPECT_EQ(*storedPin(), PinnedFilters());
}

const QDateTime july(QDate(2025, 7, 4), QTime(8, 0), Qt::UTC);

INSTANTIATE_TEST_SUITE_P(
    Filters, PinReleaseByFilterTest,
    ::testing::Values(
        ReleaseCase{"star", [](PinnedFilters& p) { p.star = true; },
                    [](HistoryFilter& m) { m.setShowStarredOnly(true); },
                    [](HistoryFilter& m) { m.setShowStarredOnly(false); }},
        ReleaseCase{"pasted", [](PinnedFilters& p) { p.pasted = true; },
                    [](HistoryFilter& m) { m.setShowPastedOnly(true); },
                    [](HistoryFilter& m) { m.setShowPastedOnly(false); }},
        ReleaseCase{"tag", [](PinnedFilters& p) { p.tag = true; },
                    [](HistoryFilter& m) { m.setSearchTagsOnly(true); },
                    [](HistoryFilter& m) { m.setSearchTagsOnly(false); }},
        ReleaseCase{"excludeStar", [](PinnedFilters& p) { p.excludeStar = true; },
                    [](HistoryFilter& m) { m.setExcludeStarred(true); },
                    [](HistoryFilter& m) { m.setExcludeStarred(false); }},
        ReleaseCase{"type", [](PinnedFilters& p) { p.type = TypeFilterOption::links; },
                    [](HistoryFilter& m) { m.setTypeFilterOption(TypeFilterOption::images); },
                    [](HistoryFilter& m) { m.setTypeFilterOption(std::nullopt); }},
        ReleaseCase{"app", [](PinnedFilters& p) { p.appBundleId = QStringLiteral("org.example"); },
                    [](HistoryFilter& m) { m.setAppFilterBundleId(QStringLiteral("org.other")); },
                    [](HistoryFilter& m) { m.setAppFilterBundleId(std::nullopt); }},
        ReleaseCase{"category", [](PinnedFilters& p) { p.categoryId = work; },
                    [](HistoryFilter& m) { m.setSelectedCategoryId(work); },
                    [](HistoryFilter& m) { m.setSelectedCategoryId(std::nullopt); }},
        ReleaseCase{"customDate",
                    [](PinnedFilters& p) {
                        p.date = DateFilterOption::custom;
                        p.customDateStart = july;
                        p.customDateEnd = july;
                    },
                    [](HistoryFilter& m) { m.setDateFilterOption(DateFilterOption::custom); },
                    [](HistoryFilter& m) { m.setDateFilterOption(std::nullopt); }},
        ReleaseCase{"excludedCustomDate",
                    [](PinnedFilters& p) {
                        p.excludedDate = DateFilterOption::custom;
                        p.excludedCustomDateStart = july;
                        p.excludedCustomDateEnd = july;
                    },
                    [](HistoryFilter& m) { m.setExcludedDateOption(DateFilterOption::today); },
                    [](HistoryFilter& m) { m.setExcludedDateOption(std::nullopt); }},
        ReleaseCase{"excludedApps", [](PinnedFilters& p) { p.excludedApps = {"org.a"}; },
                    [](HistoryFilter& m) { m.setExcludedAppBundleIds({"org.a", "org.b"}); },
                    [](HistoryFilter& m) { m.setExcludedAppBundleIds({"org.b"}); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PinReleaseTest, TakingOneTypeOutOfTheExclusionReleasesOnlyThatType)
{
    PinnedFilters pin;
    pin.excludedTypes = {TypeFilterOption::links, TypeFilterOption::images};
    manager->filters().setPinnedFilters(pin);
    manager->filters().setExcludedTypes({TypeFilterOption::links, TypeFilterOption::images});

    manager->filters().setExcludedTypes({TypeFilterOption::links, TypeFilterOption::images, TypeFilterOption::colors});
    EXPECT_EQ(manager->filters().pinnedFilters(), pin);

    manager->filters().setExcludedTypes({TypeFilterOption::images, TypeFilterOption::colors});
    EXPECT_EQ(manager->filters().pinnedFilters().excludedTypes, QSet<TypeFilterOption>({TypeFilterOption::images}));
    ASSERT_TRUE(storedPin());
    EXPECT_EQ(storedPin()->excludedTypes, QSet<TypeFilterOption>({TypeFilterOption::images}));
}

TEST_F(PinReleaseTest, NothingPinnedNothingSaved)
{
    manager->filters().setExcludedTypes({TypeFilterOption::links});
    manager->filters().setExcludedTypes({});
    manager->filters().setShowStarredOnly(false);
    EXPECT_FALSE(defaults->hasStoredValue(QString::fromLatin1(pinnedFiltersKey)));
}

// ---------------------------------------------------------------------------- pin and reset

TEST_F(PinReleaseTest, ResetKeepsWhatIsPinnedAndClearsTheRest)
{
    manager->filters().setShowStarredOnly(true);
    manager->filters().setTypeFilterOption(TypeFilterOption::links);
    manager->filters().setExcludedTypes({TypeFilterOption::links});
    manager->filters().setDateFilterOption(DateFilterOption::last7Days);
    manager->filters().pinCurrentFilters();
    const PinnedFilters pin = manager->filters().pinnedFilters();
    ASSERT_TRUE(storedPin());
    EXPECT_EQ(*storedPin(), pin);
    EXPECT_FALSE(pin.customDateStart); // only a custom period is kept

    manager->filters().setTypeFilterOption(TypeFilterOption::images); // another kind does not release the pin
    manager->filters().setExcludedTypes({TypeFilterOption::links, TypeFilterOption::colors});
    manager->filters().setShowImagesOnly(true);
    manager->filters().setShowPastedOnly(true);
    manager->filters().setShowRecycleBin(true);
    manager->filters().setAppFilterBundleId(QStringLiteral("org.example"));

    const quint64 before = manager->filters().filterRecomputations();
    manager->filters().resetFiltersToPinned();
    EXPECT_EQ(manager->filters().filterRecomputations(), before + 1);
    EXPECT_TRUE(manager->filters().showStarredOnly());
    EXPECT_EQ(manager->filters().typeFilterOption(), TypeFilterOption::images);
    EXPECT_EQ(manager->filters().excludedTypes(), QSet<TypeFilterOption>({TypeFilterOption::links}));
    EXPECT_EQ(manager->filters().dateFilterOption(), DateFilterOption::last7Days);
    EXPECT_FALSE(manager->filters().showImagesOnly());
    EXPECT_FALSE(manager->filters().showPastedOnly());
    EXPECT_FALSE(manager->filters().showRecycleBin());
    EXPECT_FALSE(manager->filters().appFilterBundleId());
    EXPECT_EQ(manager->filters().pinnedFilters(), pin);
}

TEST_F(PinReleaseTest, ResetWithNothingPinnedEmptiesTheExclusions)
{
    manager->filters().setExcludedTypes({TypeFilterOption::colors});
    manager->filters().setExcludedAppBundleIds({"org.example"});
    manager->filters().resetFiltersToPinned();
    EXPECT_TRUE(manager->filters().excludedTypes().isEmpty());
    EXPECT_TRUE(manager->filters().excludedAppBundleIds().isEmpty());
}

// ---------------------------------------------------------------------------- with the store

class PinnedStoreTest : public test::EngineTest {
protected:
    // As at the next launch: the settings are written and read again.
    void restart()
    {
        manager.reset();
        openDefaults();
        manager = start();
    }

    void addCategory(const QUuid& id, const QString& name)
    {
        auto row = manager->persistence()->viewContext().insert(store::EntityKind::category);
        row->set(store::CategoryAttr::id, id);
        row->set(store::CategoryAttr::name, name);
        ASSERT_TRUE(manager->persistence()->save().ok());
    }

    void deleteCategory(const QUuid& id)
    {
        auto row = manager->fetchManagedCategory(id);
        ASSERT_TRUE(row);
        manager->persistence()->viewContext().deleteObject(row);
        ASSERT_TRUE(manager->persistence()->save().ok());
    }

    std::optional<PinnedFilters> storedPin() const { return test::storedPin(*defaults); }

    std::unique_ptr<ClipboardManager> manager;
};

TEST_F(PinnedStoreTest, PinSurvivesARestart)
{
    restart();
    addCategory(work, "Work");
    manager->loadCategories();
    manager->filters().setShowStarredOnly(true);
    manager->filters().setSelectedCategoryId(work);
    manager->filters().setExcludedAppBundleIds({"org.example.secret"});
    manager->filters().setExcludedDateOption(DateFilterOption::custom);
    manager->filters().setExcludedCustomDateStart(QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC));
    manager->filters().setShowLinksOnly(true); // never pinned
    manager->filters().pinCurrentFilters();
    EXPECT_EQ(defaults->object(QString::fromLatin1(pinnedFiltersKey)).typeId(), QMetaType::QByteArray);

    restart();
    EXPECT_TRUE(manager->filters().showStarredOnly());
    EXPECT_EQ(manager->filters().selectedCategoryId(), work);
    EXPECT_EQ(manager->filters().excludedAppBundleIds(), QSet<QString>({"org.example.secret"}));
    EXPECT_EQ(manager->filters().excludedDateOption(), DateFilterOption::custom);
    EXPECT_EQ(manager->filters().excludedCustomDateStart(), QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_FALSE(manager->filters().showLinksOnly());
}

TEST_F(PinnedStoreTest, UnreadablePinStartsUnpinnedAndIsKeptUntilTheNextSave)
{
    restart();
    const QByteArray broken = R"({"star": true, "pasted": false, "tag": false, "excludeStar": false, "excludedTypes": []})";
    defaults->set(QString::fromLatin1(pinnedFiltersKey), broken);
    restart();
    EXPECT_FALSE(manager->filters().showStarredOnly());
    EXPECT_EQ(manager->filters().pinnedFilters(), PinnedFilters());
    EXPECT_EQ(defaults->data(QString::fromLatin1(pinnedFiltersKey)), broken);
}

TEST_F(PinnedStoreTest, APinnedCategoryDeletedBeforeLaunchIsReleased)
{
    restart();
    addCategory(work, "Work");
    manager->loadCategories();
    manager->filters().setSelectedCategoryId(work);
    manager->filters().pinCurrentFilters();
    deleteCategory(work);

    restart();
    EXPECT_FALSE(manager->filters().selectedCategoryId());
    EXPECT_FALSE(manager->filters().pinnedFilters().categoryId);
    ASSERT_TRUE(storedPin());
    EXPECT_FALSE(storedPin()->categoryId);
}

TEST_F(PinnedStoreTest, ASelectedCategoryThatDisappearsIsClearedWithItsPin)
{
    restart();
    addCategory(work, "Work");
    manager->loadCategories();
    manager->filters().setSelectedCategoryId(work);
    manager->filters().pinCurrentFilters();

    manager->loadCategories();
    EXPECT_EQ(manager->filters().selectedCategoryId(), work);

    deleteCategory(work);
    manager->loadCategories();
    EXPECT_FALSE(manager->filters().selectedCategoryId());
    EXPECT_FALSE(manager->filters().pinnedFilters().categoryId);
    ASSERT_TRUE(storedPin());
    EXPECT_FALSE(storedPin()->categoryId);
}

} // namespace
