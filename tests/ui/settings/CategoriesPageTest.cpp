#include "ui/settings/CategoriesPage.h"

#include "engine/ClipboardManager.h"
#include "model/store/ManagedObjectContext.h"
#include "model/store/PersistenceController.h"

#include "SettingsPageFixture.h"

#include <QListView>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

namespace lumra {
namespace {

using namespace lumra::test;

class CategoriesPageTest : public SettingsPageTest {
protected:
    void addCategories(const QStringList& names)
    {
        for (const QString& name : names)
            ASSERT_TRUE(manager->addCategory({QUuid::createUuid(), name, "folder", false, 0}).ok());
    }
    CategoriesPage& categories() { return page<CategoriesPage>(SettingsTab::categories); }
    QStringList order() const
    {
        QStringList names;
        for (const ClipboardCategory& c : manager->categories())
            names.append(c.name + ":" + QString::number(c.sortOrder));
        return names;
    }
    const ClipboardCategory& category(int row) const { return manager->categories()[row]; }
    QRect rowRect(int row) { return categories().list()->visualRect(categories().model()->index(row, 0)); }
};

TEST_F(CategoriesPageTest, ADropMovesTheDraggedCategoriesAndNumbersAllOfThemInOneSave)
{
    struct Case {
        const char* name;
        QList<int> dragged;
        int row;       // the gap dropped on; -1 when dropped on a row or below the list
        int onRow;     // the row dropped on; -1 when none
        QStringList expected;
    };
    const Case cases[] = {
        {"the first below the last", {0}, 3, -1, {"B:0", "C:1", "A:2"}},
        {"the last to the top", {2}, 0, -1, {"C:0", "A:1", "B:2"}},
        {"onto a row: before it", {2}, -1, 1, {"A:0", "C:1", "B:2"}},
        {"below the list: at the end", {0}, -1, -1, {"B:0", "C:1", "A:2"}},
        {"two rows keep their order", {0, 2}, 2, -1, {"B:0", "A:1", "C:2"}},
        {"in place: positions numbered again", {1}, 1, -1, {"A:0", "B:1", "C:2"}},
    };
    for (const Case& c : cases) {
        for (const ClipboardCategory& existing : QList<ClipboardCategory>(manager->categories()))
            ASSERT_TRUE(manager->deleteCategory(existing.id, false).ok());
        addCategories({"A", "B", "C"});
        // Duplicates from older versions go with the first move; equal positions list by name.
        for (const ClipboardCategory& made : manager->categories())
            manager->fetchManagedCategory(made.id)->set(store::CategoryAttr::sortOrder, qint64(7));
        ASSERT_TRUE(manager->persistence()->save().ok());
        manager->loadCategories();
        ASSERT_EQ(order(), (QStringList {"A:7", "B:7", "C:7"}));
        CategoryListModel model(*manager);
        QModelIndexList dragged;
        for (int row : c.dragged)
            dragged.append(model.index(row, 0));
        std::unique_ptr<QMimeData> data(model.mimeData(dragged));
        QSignalSpy reloaded(manager.get(), &ClipboardManager::categoriesChanged);
        const QModelIndex parent = c.onRow >= 0 ? model.index(c.onRow, 0) : QModelIndex();
        EXPECT_TRUE(model.dropMimeData(data.get(), Qt::MoveAction, c.row, 0, parent)) << c.name;
        EXPECT_EQ(order(), c.expected) << c.name;
        EXPECT_EQ(reloaded.size(), 1) << c.name;
        EXPECT_FALSE(model.dropMimeData(data.get(), Qt::CopyAction, 0, 0, {})) << c.name;
    }
}

TEST_F(CategoriesPageTest, TheEyeChangesOnlyTheFlagAndKeepsARenameMadeMeanwhile)
{
    addCategories({"Work", "Home"});
    window().present(SettingsTab::categories);
    processEvents();
    const QUuid work = category(0).id;

    // Renamed on another connection; this page has not reloaded yet.
    auto row = manager->fetchManagedCategory(work);
    row->set(store::CategoryAttr::name, QStringLiteral("Office"));
    row->set(store::CategoryAttr::iconName, QStringLiteral("briefcase"));
    ASSERT_TRUE(manager->persistence()->save().ok());
    EXPECT_EQ(categories().model()->index(0, 0).data().toString(), "Work");

    const QRect eye = categoryRowGeometry(rowRect(0), 0).eye;
    QTest::mouseClick(categories().list()->viewport(), Qt::LeftButton, {}, eye.center());
    EXPECT_TRUE(category(0).isHiddenFromFooter);
    EXPECT_EQ(category(0).name, "Office");
    EXPECT_EQ(category(0).iconName, "briefcase");
    EXPECT_EQ(categories().model()->index(0, 0).data(CategoryListModel::hiddenRole), true);
    EXPECT_EQ(categoryEyeHelp(true), "Show this category in the footer");

    QTest::mouseClick(categories().list()->viewport(), Qt::LeftButton, {}, eye.center());
    EXPECT_FALSE(category(0).isHiddenFromFooter);
    EXPECT_EQ(categoryEyeHelp(false), "Hide this category from the footer");
    EXPECT_FALSE(categories().list()->currentIndex().isValid()) << "the eye takes the click, not the row";

    // From the keyboard: Space hides, Alt+Down moves the category and keeps it current.
    categories().list()->setFocus();
    categories().list()->setCurrentIndex(categories().model()->index(0, 0));
    QTest::keyClick(categories().list(), Qt::Key_Space);
    EXPECT_TRUE(category(0).isHiddenFromFooter);
    QTest::keyClick(categories().list(), Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(order(), (QStringList {"Home:0", "Office:1"}));
    EXPECT_EQ(categories().list()->currentIndex().row(), 1);
}

TEST_F(CategoriesPageTest, TheEmptyStateAndTheSyncNoteFollowTheCategoriesAndTheSetting)
{
    ASSERT_TRUE(manager->setICloudSyncEnabled(true));
    window().present(SettingsTab::categories);
    EXPECT_TRUE(categories().isShowingEmptyState());
    EXPECT_FALSE(categories().isShowingSyncNote());
    addCategories({"Work"});
    EXPECT_FALSE(categories().isShowingEmptyState());
    EXPECT_TRUE(categories().isShowingSyncNote());
    ASSERT_TRUE(manager->setICloudSyncEnabled(false));
    EXPECT_FALSE(categories().isShowingSyncNote());
}

TEST_F(CategoriesPageTest, Screenshots)
{
    window().present(SettingsTab::categories);
    saveScreenshots(window(), "settings-categories-empty");
    ASSERT_TRUE(manager->setICloudSyncEnabled(true));
    const std::pair<const char*, const char*> made[] = {
        {"Work", "folder.fill"}, {"Code snippets", "doc.text"}, {"Addresses", "house.fill"},
        {"Links", "link"}};
    for (const auto& [name, icon] : made)
        ASSERT_TRUE(manager->addCategory({QUuid::createUuid(), name, icon, false, 0}).ok());
    ASSERT_TRUE(manager->setCategoryHidden(category(2).id, true).ok());
    processEvents();
    saveScreenshots(window(), "settings-categories");
}

} // namespace
} // namespace lumra
