#include "CaptureFixture.h"

#include "platform/pasteboard/PasteboardTypes.h"

#include <gtest/gtest.h>

#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
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

TEST_F(CaptureTest, CopiedFilesAreLookedUpOffThePollAndStoredInCopyOrder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    const QString folder = QUrl::fromLocalFile(dir.filePath("folder")).toString();
    start();

    // The worker is held busy, so the lookup is still pending when the next copy arrives.
    QThreadPool& pool = *QThreadPool::globalInstance();
    const int threads = pool.maxThreadCount();
    pool.setMaxThreadCount(1);
    QSemaphore held;
    pool.start([&held] { held.acquire(); });

    workspace.setFrontmost(nautilus);
    pasteboard.setContents({rep(PasteboardMime::uriList, folder.toUtf8())});
    manager->checkClipboard();
    clock.advance(std::chrono::milliseconds(1));
    workspace.setFrontmost(firefox);
    pasteboard.setText("copied after the folder");
    manager->checkClipboard();
    // However fast the lookup was, the text never goes in before the files copied ahead of it.
    const QList<ClipboardItem> early = untrashed();
    EXPECT_TRUE(early.isEmpty() || (early.size() == 2 && early[0].fileURLStrings)) << early.size();

    held.release();
    pool.setMaxThreadCount(threads);
    manager->finishPendingCaptures();
    const QList<ClipboardItem> items = untrashed();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].fileURLStrings, QStringList {folder + "/"});
    EXPECT_EQ(items[0].fileURLIsDirectory, QList<bool> {true});
    EXPECT_EQ(manager->captureCategory(*row(items[0])), CaptureCategory::folder);
    EXPECT_EQ(items[1].textContent, "copied after the folder");
}

} // namespace
