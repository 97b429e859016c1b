#include "PasteTestSupport.h"
#include "engine/HistoryFilter.h"

#include "engine/filter/FilteredItems.h"
#include "engine/ItemMedia.h"
#include "model/store/HistoryReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace lumra;
using namespace std::chrono_literals;

namespace {

// Rows changed through another connection (the bookmark refresh, any background save) reach the
// history without a full read of the store, and the history then says what the store says.
class BookmarkRefreshTest : public test::PasteTest {
protected:
    void SetUp() override
    {
        test::PasteTest::SetUp();
        ASSERT_TRUE(files.isValid());
        waitForStartupRefresh();
    }

    QString makeFile(const QString& name)
    {
        const QString path = files.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile(path).open(QIODevice::WriteOnly);
        return path;
    }

    ClipboardItem addFileItem(const QString& bookmarkedPath, const QString& storedPath,
                              std::optional<QList<bool>> directories = QList<bool> {false})
    {
        ClipboardItem item;
        item.contentType = ClipboardContentType::file;
        item.fileURLStrings = QStringList {fileUrl(storedPath)};
        item.fileURLIsDirectory = std::move(directories);
        return addItem(item, [&](store::ManagedObject& row) {
            row.set(store::ItemAttr::fileBookmarksJSON, jsonArray({bookmark(bookmarkedPath)}));
        });
    }

    void search(const QString& text)
    {
        manager->filters().setSearchText(text);
        manager->filters().applyPendingSearch();
    }

    void expectSameAsFreshLoad()
    {
        const Result<QList<ClipboardItem>> stored = HistoryReader(*manager->persistence()).loadItems();
        ASSERT_TRUE(stored.ok());
        EXPECT_EQ(manager->clipboardItems(), *stored);
        FilterState state;
        state.searchText = manager->filters().searchText();
        state.searchMode = manager->searchMode();
        EXPECT_EQ(manager->filters().filteredItems(), lumra::filteredItems(*stored, state, clock.now(), CalendarSettings::current()));
    }

    // Runs the refresh the housekeeping timer starts and waits for a pass that changed rows.
    void refreshAndWait()
    {
        QSignalSpy refreshed(&manager->media(), &ItemMedia::fileBookmarksRefreshed);
        clock.advance(300s);
        const auto changedRows = [&] {
            return std::any_of(refreshed.begin(), refreshed.end(), [](const QList<QVariant>& args) { return args.value(0).toBool(); });
        };
        while (!changedRows())
            ASSERT_TRUE(refreshed.wait(10000)) << "no refresh pass changed rows";
    }

    // Writes a row's text straight into the store file, telling no one.
    void writeBehindTheEnginesBack(const QUuid& id, const QString& text)
    {
        const store::PersistentStore* file = manager->persistence()->viewContext().stores().front();
        sql::Database db;
        ASSERT_TRUE(db.open(file->path, false).ok());
        sql::Statement* st = db.prepare(QStringLiteral("UPDATE CDClipboardItem SET textContent = ? WHERE id = ?"));
        ASSERT_TRUE(st);
        st->bind(1, text);
        st->bind(2, store::storedValue(u"id", store::toValue(id)));
        st->step();
        ASSERT_TRUE(st->status().ok());
        st->reset();
    }

    QTemporaryDir files;
};

} // namespace

TEST_F(BookmarkRefreshTest, ChangedFileRowsReachTheHistoryAndTheShownList)
{
    const QString moved = makeFile("moved/renamed.txt");
    const QString folder = files.filePath("folder");
    QDir().mkpath(folder);
    const QString steady = makeFile("steady.txt");

    addText("a text");
    const ClipboardItem renamed = addFileItem(moved, files.filePath("original.txt"));
    const ClipboardItem unflagged = addFileItem(folder, folder, std::nullopt);
    const ClipboardItem unchanged = addFileItem(steady, steady);
    const ClipboardItem missing = addFileItem(files.filePath("gone.txt"), files.filePath("gone.txt"));
    search("renamed");
    EXPECT_EQ(manager->filters().filteredItemCount(), 0);

    refreshAndWait();

    expectSameAsFreshLoad();
    EXPECT_EQ(current(renamed.id)->fileURLStrings, QStringList {fileUrl(moved)});
    EXPECT_EQ(current(unflagged.id)->fileURLIsDirectory, QList<bool> {true});
    EXPECT_EQ(current(unchanged.id), unchanged);
    EXPECT_EQ(current(missing.id), missing);
    ASSERT_EQ(manager->filters().filteredItemCount(), 1) << "the new file name is searched";
    EXPECT_EQ(manager->filters().filteredItemAt(0).id, renamed.id);
}

TEST_F(BookmarkRefreshTest, OnlyTheRowsThePassChangedAreReadAgain)
{
    const QString moved = makeFile("moved.txt");
    const ClipboardItem text = addText("as the engine knows it");
    const ClipboardItem renamed = addFileItem(moved, files.filePath("before.txt"));
    writeBehindTheEnginesBack(text.id, "written behind the engine's back");

    refreshAndWait();

    EXPECT_EQ(current(renamed.id)->fileURLStrings, QStringList {fileUrl(moved)});
    EXPECT_EQ(current(text.id)->textContent, "as the engine knows it") << "the whole history was read again";
}

TEST_F(BookmarkRefreshTest, InsertsUpdatesAndDeletesFromAnotherConnectionMatchAFreshLoad)
{
    struct Case {
        const char* name;
        int inserted; // enough of them make reading the whole history the cheaper way
    };
    for (const Case& c : {Case {"a few rows", 8}, Case {"many rows", 80}}) {
        SCOPED_TRACE(c.name);
        clock.advance(1min);
        QList<ClipboardItem> items;
        for (int i = 0; i < 6; ++i)
            items << addText(QStringLiteral("line %1 %2").arg(c.name).arg(i));
        search(QStringLiteral("line"));
        {
            auto background = manager->persistence()->newBackgroundContext();
            background->deleteObject(background->fetchById(store::EntityKind::item, items[1].id));
            background->fetchById(store::EntityKind::item, items[3].id)->set(store::ItemAttr::textContent, QStringLiteral("no longer listed"));
            background->fetchById(store::EntityKind::item, items[4].id)->set(store::ItemAttr::dateAdded, clock.now());
            for (int i = 0; i < c.inserted; ++i) {
                ClipboardItem added = test::textItem(QStringLiteral("line added %1").arg(i), clock.now().addSecs(-i - 1));
                populateManagedItem(*background->insert(store::EntityKind::item), added);
            }
            ASSERT_TRUE(background->save().ok());
        }
        QCoreApplication::processEvents();

        expectSameAsFreshLoad();
        EXPECT_FALSE(current(items[1].id));
        EXPECT_EQ(current(items[3].id)->textContent, "no longer listed");
        EXPECT_EQ(manager->filters().filteredItemAt(0).id, items[4].id) << "moved to the top";
    }
}
