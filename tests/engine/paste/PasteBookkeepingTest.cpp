#include "PasteTestSupport.h"
#include "platform/keys/EventWait.h"
#include "engine/HistoryFilter.h"

#include "engine/filter/FilteredItems.h"
#include "engine/ItemMedia.h"
#include "model/store/HistoryReader.h"
#include "platform/image/ImageDecoding.h"

#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace lumra;
using namespace std::chrono_literals;

namespace {

// After every paste the history in memory, and the list shown from it, must be what a fresh read of
// the store gives: the paste takes its stamped rows into the history instead of reading it all again.
// The list shows pasted items only, so every paste changes what is shown.
class PasteBookkeepingTest : public test::PasteTest {
protected:
    void SetUp() override
    {
        test::PasteTest::SetUp();
        ASSERT_TRUE(files.isValid());
        // The file refresh a start runs must not pick up rows stored below halfway through.
        QSignalSpy startupRefresh(&manager->media(), &ItemMedia::fileBookmarksRefreshed);
        ASSERT_TRUE(startupRefresh.wait(10000));
        const QString path = files.filePath("report.txt");
        QFile(path).open(QIODevice::WriteOnly);

        QImage pixels(8, 6, QImage::Format_RGB32);
        pixels.fill(Qt::darkGreen);
        for (int i = 0; i < 4; ++i)
            texts << addText(QStringLiteral("note %1").arg(i));
        picture = addImage(image::encodePng(pixels).value());
        file = addFiles({bookmark(path)}, {fileUrl(path)});
        older = addText(QStringLiteral("older note"));

        manager->filters().setShowPastedOnly(true);
        expectSameAsFreshLoad("before any paste");
    }

    FilterState shownState() const
    {
        FilterState state;
        state.showPastedOnly = manager->filters().showPastedOnly();
        state.searchText = manager->filters().searchText();
        state.searchMode = manager->searchMode();
        return state;
    }

    void expectSameAsFreshLoad(const std::string& step)
    {
        SCOPED_TRACE(step);
        HistoryReader reader(*manager->persistence());
        const Result<QList<ClipboardItem>> stored = reader.loadItems();
        ASSERT_TRUE(stored.ok());
        EXPECT_EQ(manager->clipboardItems(), *stored);

        const QList<ClipboardItem> shown = lumra::filteredItems(*stored, shownState(), clock.now(), CalendarSettings::current());
        EXPECT_EQ(manager->filters().filteredItems(), shown);
        ASSERT_EQ(manager->filters().filteredItemCount(), shown.size());
        for (qsizetype i = 0; i < shown.size(); ++i)
            EXPECT_EQ(manager->filters().filteredItemAt(i), shown[i]) << "at " << i;
    }

    // Runs a sequential paste to its end, comparing after each item is written.
    void runSequentialPaste(int items, const std::string& step)
    {
        const auto turn = manager->pasteOnNewLines() ? 550ms : 400ms;
        const qsizetype writes = pasteboard.writes().size();
        for (int i = 0; i < items; ++i) {
            clock.advance(i == 0 ? 0ms : turn - 100ms);
            // A picture's forms are made on a lane.
            ASSERT_TRUE(test::processEventsUntil([&] { return pasteboard.writes().size() > writes + i; }, 10000));
            expectSameAsFreshLoad(step + ", item " + std::to_string(i + 1) + " written");
            clock.advance(100ms); // its Ctrl+V
        }
    }

    QTemporaryDir files;
    QList<ClipboardItem> texts;
    ClipboardItem picture;
    ClipboardItem file;
    ClipboardItem older;
};

} // namespace

TEST_F(PasteBookkeepingTest, SinglePastesOfEachKindMatchAFreshLoad)
{
    struct Case {
        const char* name;
        const ClipboardItem* item;
        bool moveToTop;
    };
    const Case cases[] = {
        {"image kept in place", &picture, false},
        {"file moved to the top", &file, true},
        {"text moved to the top", &older, true},
    };
    for (const Case& c : cases) {
        clock.advance(2s);
        ASSERT_TRUE(test::copyToPasteboard(*manager, *c.item, c.moveToTop)) << c.name;
        expectSameAsFreshLoad(c.name);
        const std::optional<ClipboardItem> now = current(c.item->id);
        ASSERT_TRUE(now);
        EXPECT_EQ(now->lastPastedDate, clock.now()) << c.name;
        EXPECT_EQ(now->dateAdded == clock.now(), c.moveToTop) << c.name;
    }

    clock.advance(2s);
    manager->paste().markPastedAndCount(texts[1]);
    expectSameAsFreshLoad("dragged out");
    EXPECT_EQ(manager->filters().filteredItems().value(0).id, texts[1].id) << "the newest item heads the list";
}

TEST_F(PasteBookkeepingTest, CombinedPasteMatchesAFreshLoad)
{
    manager->setCombineTextsMode("vertical");
    clock.advance(2s);
    manager->paste().pasteItems({texts[2], older, texts[0]});
    expectSameAsFreshLoad("combined paste written");
    clock.advance(100ms);
    EXPECT_EQ(injector.pasteCount(), 1);
    expectSameAsFreshLoad("combined paste sent");
}

TEST_F(PasteBookkeepingTest, SequentialPastesMatchAFreshLoadAtEveryItem)
{
    manager->setCombineTextsMode("off");
    clock.advance(2s);
    manager->paste().pasteItems({texts[3], picture, file, older});
    expectSameAsFreshLoad("selection marked pasted");
    runSequentialPaste(4, "mixed kinds");
    EXPECT_EQ(injector.pasteCount(), 4);

    // Text only but not combined: one after another as well, and a second selection over the first.
    manager->setPasteOnNewLines(false);
    clock.advance(2s);
    manager->paste().pasteItems({texts[0], texts[1]});
    expectSameAsFreshLoad("second selection marked pasted");
    runSequentialPaste(2, "texts");
    EXPECT_EQ(injector.pasteCount(), 6);
}

TEST_F(PasteBookkeepingTest, AnItemDeletedBeforeItsTurnLeavesTheRestMatchingAFreshLoad)
{
    manager->setCombineTextsMode("off");
    clock.advance(2s);
    manager->paste().pasteItems({texts[0], texts[2], older});
    ASSERT_TRUE(manager->deleteItemPermanently(texts[2].id).ok());
    expectSameAsFreshLoad("deleted after the selection was marked");
    runSequentialPaste(3, "with a deleted item");
    EXPECT_FALSE(current(texts[2].id));
}
