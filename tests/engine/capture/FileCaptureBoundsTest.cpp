#include "CaptureFixture.h"
#include "engine/HistoryFilter.h"

#include "platform/pasteboard/PasteboardTypes.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace lumra;
using namespace lumra::test;

namespace {

QByteArray uriList(qsizetype count)
{
    QStringList urls;
    for (qsizetype i = 0; i < count; ++i)
        urls.append(QStringLiteral("file:///nowhere/file-%1.txt").arg(i));
    return urls.join(QStringLiteral("\r\n")).toUtf8();
}

TEST_F(CaptureTest, ACopyOfTooManyFilesIsRefusedWholeAndLogged)
{
    DiagnosticsCapture log;
    start();
    copy({rep(PasteboardMime::uriList, uriList(10001))}, nautilus);
    EXPECT_TRUE(untrashed().isEmpty());
    EXPECT_TRUE(log.text().contains("[WARN] [Capture] Copy not recorded: 10001 files in one copy"));

    copy({rep(PasteboardMime::uriList, uriList(10000))}, nautilus);
    ASSERT_EQ(untrashed().size(), 1);
    EXPECT_EQ(untrashed().first().fileURLStrings->size(), 10000);
}

// The look-ups happen off the poll: nothing is stored until they are done, and a text copied
// meanwhile is listed after the folder, as it was copied.
TEST_F(CaptureTest, CopiedFilesAreLookedUpOffThePollAndListedInCopyOrder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    const QString folder = QUrl::fromLocalFile(dir.filePath("folder")).toString();
    start();

    workspace.setFrontmost(nautilus);
    pasteboard.setContents({rep(PasteboardMime::uriList, folder.toUtf8())});
    manager->captureService()->checkClipboard();
    EXPECT_TRUE(untrashed().isEmpty()) << "the files were looked up on the poll";
    EXPECT_TRUE(manager->captureService()->hasPendingCaptures());
    ASSERT_TRUE(QTest::qWaitFor([&] { return pasteboard.readsOf().contains(PasteboardMime::uriList); }, 10000));
    clock.advance(std::chrono::milliseconds(1));
    workspace.setFrontmost(firefox);
    pasteboard.setText("copied after the folder");
    manager->captureService()->checkClipboard();
    clock.advance(std::chrono::seconds(1)); // the folder is stored after the text, at its own copy time
    test::finishPendingCaptures(*manager);

    const QList<ClipboardItem> items = manager->filters().filteredItems();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[1].fileURLStrings, QStringList {folder + "/"});
    EXPECT_EQ(items[1].fileURLIsDirectory, QList<bool> {true});
    EXPECT_EQ(manager->captureCategory(*row(items[1])), CaptureCategory::folder);
    EXPECT_EQ(items[0].textContent, "copied after the folder");
}

} // namespace
