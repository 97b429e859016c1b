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
    std::function<void(ClipboardManager&)> switchOn;
    std::function<void(ClipboardManager&)> switchOff;
};
void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.name; }

class PinReleaseByFilterTest : public test::QueriesTest, public ::testing::WithParamInterface<ReleaseCase> { };

TEST_P(PinReleaseByFilterTest, SwitchingOffReleasesAndSavesSwitchingOnKeeps)
{
    PinnedFilters pin;
    GetParam().pinIt(pin);
    manager->setPinnedFilters(pin);

    GetParam().switchOn(*manager);
    EXPECT_EQ(manager->pinnedFilters(), pin);
    EXPECT_FALSE(storedPin());

    GetParam().switchOff(*manager);
    EXPECT_EQ(manager->pinnedFilters(), PinnedFilters());
    ASSERT_TRUE(storedPin());
    EXPECT_EQ(*storedPin(), PinnedFilters());
}

const QDateTime july(QDate(2025, 7, 4), QTime(8, 0), Qt::UTC);

INSTANTIATE_TEST_SUITE_P(
    Filters, PinReleaseByFilterTest,
    ::testing::Values(
        ReleaseCase{"star", [](PinnedFilters& p) { p.star = true; },
                    [](ClipboardManager& m) { m.setShowStarredOnly(true); },
                    [](ClipboardManager& m) { m.setShowStarredOnly(false); }},
        ReleaseCase{"pasted", [](PinnedFilters& p) { p.pasted = true; },
                    [](ClipboardManager& m) { m.setShowPastedOnly(true); },
                    [](ClipboardManager& m) { m.setShowPastedOnly(false); }},
        ReleaseCase{"tag", [](PinnedFilters& p) { p.tag = true; },
                    [](ClipboardManager& m) { m.setSearchTagsOnly(true); },
                    [](ClipboardManager& m) { m.setSearchTagsOnly(false); }},
        ReleaseCase{"excludeStar", [](PinnedFilters& p) { p.excludeStar = true; },
                    [](ClipboardManager& m) { m.setExcludeStarred(true); },
                    [](ClipboardManager& m) { m.setExcludeStarred(false); }},
        ReleaseCase{"type", [](PinnedFilters& p) { p.type = TypeFilterOption::links; },
                    [](ClipboardManager& m) { m.setTypeFilterOption(TypeFilterOption::images); },
                    [](ClipboardManager& m) { m.setTypeFilterOption(std::nullopt); }},
        ReleaseCase{"app", [](PinnedFilters& p) { p.appBundleId = QStringLiteral("org.example"); },
                    [](ClipboardManager& m) { m.setAppFilterBundleId(QStringLiteral("org.other")); },
                    [](ClipboardManager& m) { m.setAppFilterBundleId(std::nullopt); }},
        ReleaseCase{"category", [](PinnedFilters& p) { p.categoryId = work; },
                    [](ClipboardManager& m) { m.setSelectedCategoryId(work); },
                    [](ClipboardManager& m) { m.setSelectedCategoryId(std::nullopt); }},
        ReleaseCase{"customDate",
                    [](PinnedFilters& p) {
                        p.date = DateFilterOption::custom;
                        p.customDateStart = july;
                        p.customDateEnd = july;
                    },
                    [](ClipboardManager& m) { m.setDateFilterOption(DateFilterOption::custom); },
                    [](ClipboardManager& m) { m.setDateFilterOption(std::nullopt); }},
        ReleaseCase{"excludedCustomDate",
                    [](PinnedFilters& p) {
                        p.excludedDate = DateFilterOption::custom;
                        p.excludedCustomDateStart = july;
                        p.excludedCustomDateEnd = july;
                    },
                    [](ClipboardManager& m) { m.setExcludedDateOption(DateFilterOption::today); },
                    [](ClipboardManager& m) { m.setExcludedDateOption(std::nullopt); }},
        ReleaseCase{"excludedApps", [](PinnedFilters& p) { p.excludedApps = {"org.a"}; },
                    [](ClipboardManager& m) { m.setExcludedAppBundleIds({"org.a", "org.b"}); },
                    [](ClipboardManager& m) { m.setExcludedAppBundleIds({"org.b"}); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PinReleaseTest, TakingOneTypeOutOfTheExclusionReleasesOnlyThatType)
{
    PinnedFilters pin;
    pin.excludedTypes = {TypeFilterOption::links, TypeFilterOption::images};
    manager->setPinnedFilters(pin);
    manager->setExcludedTypes({TypeFilterOption::links, TypeFilterOption::images});

    manager->setExcludedTypes({TypeFilterOption::links, TypeFilterOption::images, TypeFilterOption::colors});
    EXPECT_EQ(manager->pinnedFilters(), pin);

    manager->setExcludedTypes({TypeFilterOption::images, TypeFilterOption::colors});
    EXPECT_EQ(manager->pinnedFilters().excludedTypes, QSet<TypeFilterOption>({TypeFilterOption::images}));
    ASSERT_TRUE(storedPin());
    EXPECT_EQ(storedPin()->excludedTypes, QSet<TypeFilterOption>({TypeFilterOption::images}));
}

TEST_F(PinReleaseTest, NothingPinnedNothingSaved)
{
    manager->setExcludedTypes({TypeFilterOption::links});
    manager->setExcludedTypes({});
    manager->setShowStarredOnly(false);
    EXPECT_FALSE(defaults->hasStoredValue(QString::fromLatin1(pinnedFiltersKey)));
}

// ---------------------------------------------------------------------------- pin and reset

TEST_F(PinReleaseTest, ResetKeepsWhatIsPinnedAndClearsTheRest)
{
    manager->setShowStarredOnly(true);
    manager->setTypeFilterOption(TypeFilterOption::links);
    manager->setExcludedTypes({TypeFilterOption::links});
    manager->setDateFilterOption(DateFilterOption::last7Days);
    manager->pinCurrentFilters();
    const PinnedFilters pin = manager->pinnedFilters();
    ASSERT_TRUE(storedPin());
    EXPECT_EQ(*storedPin(), pin);
    EXPECT_FALSE(pin.customDateStart); // only a custom period is kept

    manager->setTypeFilterOption(TypeFilterOption::images); // another kind does not release the pin
    manager->setExcludedTypes({TypeFilterOption::links, TypeFilterOption::colors});
    manager->setShowImagesOnly(true);
    manager->setShowPastedOnly(true);
    manager->setShowRecycleBin(true);
    manager->setAppFilterBundleId(QStringLiteral("org.example"));

    const quint64 before = manager->filterRecomputations();
    manager->resetFiltersToPinned();
    EXPECT_EQ(manager->filterRecomputations(), before + 1);
    EXPECT_TRUE(manager->showStarredOnly());
    EXPECT_EQ(manager->typeFilterOption(), TypeFilterOption::images);
    EXPECT_EQ(manager->excludedTypes(), QSet<TypeFilterOption>({TypeFilterOption::links}));
    EXPECT_EQ(manager->dateFilterOption(), DateFilterOption::last7Days);
    EXPECT_FALSE(manager->showImagesOnly());
    EXPECT_FALSE(manager->showPastedOnly());
    EXPECT_FALSE(manager->showRecycleBin());
    EXPECT_FALSE(manager->appFilterBundleId());
    EXPECT_EQ(manager->pinnedFilters(), pin);
}

TEST_F(PinReleaseTest, ResetWithNothingPinnedEmptiesTheExclusions)
{
    manager->setExcludedTypes({TypeFilterOption::colors});
    manager->setExcludedAppBundleIds({"org.example"});
    manager->resetFiltersToPinned();
    EXPECT_TRUE(manager->excludedTypes().isEmpty());
    EXPECT_TRUE(manager->excludedAppBundleIds().isEmpty());
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
    manager->setShowStarredOnly(true);
    manager->setSelectedCategoryId(work);
    manager->setExcludedAppBundleIds({"org.example.secret"});
    manager->setExcludedDateOption(DateFilterOption::custom);
    manager->setExcludedCustomDateStart(QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC));
    manager->setShowLinksOnly(true); // never pinned
    manager->pinCurrentFilters();
    EXPECT_EQ(defaults->object(QString::fromLatin1(pinnedFiltersKey)).typeId(), QMetaType::QByteArray);

    restart();
    EXPECT_TRUE(manager->showStarredOnly());
    EXPECT_EQ(manager->selectedCategoryId(), work);
    EXPECT_EQ(manager->excludedAppBundleIds(), QSet<QString>({"org.example.secret"}));
    EXPECT_EQ(manager->excludedDateOption(), DateFilterOption::custom);
    EXPECT_EQ(manager->excludedCustomDateStart(), QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_FALSE(manager->showLinksOnly());
}

TEST_F(PinnedStoreTest, UnreadablePinStartsUnpinnedAndIsKeptUntilTheNextSave)
{
    restart();
    const QByteArray broken = R"({"star": true, "pasted": false, "tag": false, "excludeStar": false, "excludedTypes": []})";
    defaults->set(QString::fromLatin1(pinnedFiltersKey), broken);
    restart();
    EXPECT_FALSE(manager->showStarredOnly());
    EXPECT_EQ(manager->pinnedFilters(), PinnedFilters());
    EXPECT_EQ(defaults->data(QString::fromLatin1(pinnedFiltersKey)), broken);
}

TEST_F(PinnedStoreTest, APinnedCategoryDeletedBeforeLaunchIsReleased)
{
    restart();
    addCategory(work, "Work");
    manager->loadCategories();
    manager->setSelectedCategoryId(work);
    manager->pinCurrentFilters();
    deleteCategory(work);

    restart();
    EXPECT_FALSE(manager->selectedCategoryId());
    EXPECT_FALSE(manager->pinnedFilters().categoryId);
    ASSERT_TRUE(storedPin());
    EXPECT_FALSE(storedPin()->categoryId);
}

TEST_F(PinnedStoreTest, ASelectedCategoryThatDisappearsIsClearedWithItsPin)
{
    restart();
    addCategory(work, "Work");
    manager->loadCategories();
    manager->setSelectedCategoryId(work);
    manager->pinCurrentFilters();

    manager->loadCategories();
    EXPECT_EQ(manager->selectedCategoryId(), work);

    deleteCategory(work);
    manager->loadCategories();
    EXPECT_FALSE(manager->selectedCategoryId());
    EXPECT_FALSE(manager->pinnedFilters().categoryId);
    ASSERT_TRUE(storedPin());
    EXPECT_FALSE(storedPin()->categoryId);
}

} // namespace
