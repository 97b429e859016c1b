#include "EditingTestSupport.h"

using namespace lumra;
using namespace lumra::test;

namespace {

class CategoriesTest : public EditingTest {
protected:
    ClipboardCategory category(const QString& name, int sortOrder = 99)
    {
        return ClipboardCategory {QUuid::createUuid(), name, QStringLiteral("folder"), false, sortOrder};
    }
    QStringList names() const
    {
        QStringList result;
        for (const ClipboardCategory& c : manager->categories())
            result << c.name + QLatin1Char(':') + QString::number(c.sortOrder);
        return result;
    }
};

} // namespace

TEST_F(CategoriesTest, NewCategoriesGoLastWhateverTheirOwnOrder)
{
    open();
    ASSERT_TRUE(manager->addCategory(category("First", 7)).ok());
    EXPECT_EQ(names(), QStringList {"First:0"});
    ASSERT_TRUE(manager->addCategory(category("Second")).ok());
    ASSERT_TRUE(manager->addCategory(category("Third")).ok());
    reopen();
    EXPECT_EQ(names(), QStringList({"First:0", "Second:1", "Third:2"}));
}

TEST_F(CategoriesTest, MovesRewriteTheOrderWithoutGaps)
{
    open();
    for (const char* name : {"A", "B", "C"})
        ASSERT_TRUE(manager->addCategory(category(name)).ok());
    const struct {
        QList<int> from;
        int to;
        QStringList expected;
    } cases[] = {
        {{2}, 0, {"C:0", "A:1", "B:2"}},
        {{0}, 3, {"A:0", "B:1", "C:2"}},
        {{0, 1}, 3, {"C:0", "A:1", "B:2"}},
        {{1}, 1, {"C:0", "A:1", "B:2"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(manager->moveCategories(c.from, c.to).ok());
        EXPECT_EQ(names(), c.expected);
    }
    reopen();
    EXPECT_EQ(names(), QStringList({"C:0", "A:1", "B:2"}));
}

TEST_F(CategoriesTest, DeletingACategoryKeepsOrRemovesItsItems)
{
    const struct {
        bool alsoItems;
        bool bin;
        int remaining;
        bool inBin;
    } cases[] = {{false, true, 3, false}, {true, true, 3, true}, {true, false, 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.alsoItems << c.bin);
        open();
        manager->setRecycleBinEnabled(c.bin);
        const ClipboardCategory doomed = category("Doomed");
        const ClipboardCategory other = category("Other");
        ASSERT_TRUE(manager->addCategory(doomed).ok());
        ASSERT_TRUE(manager->addCategory(other).ok());
        ClipboardItem a = text("a"), b = text("b"), kept = text("kept");
        a.categoryId = b.categoryId = doomed.id;
        kept.categoryId = other.id;
        store({a, b, kept});
        ASSERT_TRUE(manager->deleteCategory(doomed.id, c.alsoItems).ok());
        EXPECT_EQ(manager->deletedCategories, QList<QUuid> {doomed.id});
        expectHistoryMatchesStore();
        reopen();
        EXPECT_EQ(names(), QStringList {"Other:1"});
        EXPECT_EQ(manager->clipboardItems().size(), c.remaining);
        EXPECT_EQ(find(kept.id)->categoryId, other.id);
        if (c.remaining == 3) {
            EXPECT_EQ(find(a.id)->isTrashed, c.inBin);
            EXPECT_EQ(find(a.id)->categoryId, c.inBin ? std::optional<QUuid>(doomed.id) : std::nullopt);
        }
        manager.reset();
        QDir(dataDir.supportFolder()).removeRecursively();
    }
}

TEST_F(CategoriesTest, LatestDate)
{
    EXPECT_EQ(ClipboardManager::latestDate({}), std::nullopt);
    const QDateTime a = QDateTime::fromSecsSinceEpoch(100, Qt::UTC), b = QDateTime::fromSecsSinceEpoch(200, Qt::UTC);
    EXPECT_EQ(ClipboardManager::latestDate({b, a}), b);
}
