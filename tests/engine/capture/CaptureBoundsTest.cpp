// Capture within bounds: the offer is read and converted on the capture worker, so an owner that
// holds its read holds neither the engine's thread nor the copies after it, and content past a
// limit costs that copy only.
#include "CaptureFixture.h"

#include "platform/pasteboard/PasteboardTypes.h"

#include <gtest/gtest.h>

#include <QSemaphore>
#include <QTest>

#include <atomic>

using namespace lumra;
using namespace lumra::test;

namespace {

constexpr qint64 megabyte = 1024 * 1024;

TEST_F(CaptureTest, ATextOverTheLimitIsLoggedWithItsSizeAndTheNextCopyIsStored)
{
    DiagnosticsCapture log;
    start();
    copy({textRep(QString(17 * megabyte, QLatin1Char('a')))});
    EXPECT_TRUE(untrashed().isEmpty());
    EXPECT_TRUE(log.text().contains("[WARN] [Capture] Copy not recorded: a text of 17.0 MB")) << log.text().toStdString();
    EXPECT_EQ(manager->sounds, 0);

    copyText("the next copy");
    EXPECT_EQ(texts(), QStringList {"the next copy"});
}

TEST_F(CaptureTest, DeeplyNestedHtmlIsStoredAsPlainTextOnly)
{
    start();
    const QString deep = QStringLiteral("<b>deep</b>") + QStringLiteral("<div>").repeated(5000) + QStringLiteral("deep");
    copy({textRep("deep"), rep(PasteboardMime::html, deep.toUtf8())});
    copy({textRep("shallow"), rep(PasteboardMime::html, "<b>shallow</b>")});
    const QList<ClipboardItem> items = untrashed();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].textContent, "deep");
    EXPECT_FALSE(row(items[0])->bytes(store::ItemAttr::rtfData).has_value());
    EXPECT_TRUE(row(items[1])->bytes(store::ItemAttr::rtfData).has_value());
}

TEST_F(CaptureTest, AnOwnerThatHoldsItsReadHoldsNeitherThePollNorTheCopiesAfterIt)
{
    GatedPasteboard held(false);
    manager = EngineHarness::start<RecordingManager>([&](ClipboardManagerServices& services) {
        services.pasteboard = &held;
        services.workspace = &workspace;
    });

    workspace.setFrontmost(firefox);
    held.inner.setText("held by its owner");
    held.holdNext = true;
    manager->captureService()->checkClipboard();
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.held.last()->waiting.load(); }, 5000));
    EXPECT_TRUE(manager->captureService()->hasPendingCaptures());
    // The application at the time of the copy is its source, whatever is in front by the time
    // the owner answers.
    workspace.setFrontmost(nautilus);
    EXPECT_TRUE(held.held.last()->waiting) << "the poll waited for the owner";
    held.held.last()->gate.release();
    test::finishPendingCaptures(*manager);
    ASSERT_EQ(texts(), QStringList {"held by its owner"});
    EXPECT_EQ(untrashed().first().sourceAppBundleId, firefox.bundleId);

    // A copy made while the one before is still being read replaces it: what was read may be
    // the new copy's, so only the new one is stored, read afresh.
    workspace.setFrontmost(firefox);
    clock.advance(std::chrono::milliseconds(1));
    held.inner.setText("replaced while held");
    held.holdNext = true;
    manager->captureService()->checkClipboard();
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.held.last()->waiting.load(); }, 5000));
    clock.advance(std::chrono::milliseconds(1));
    held.inner.setText("copied next");
    manager->captureService()->checkClipboard();
    held.held.last()->gate.release();
    test::finishPendingCaptures(*manager);
    EXPECT_EQ(texts(), (QStringList {"held by its owner", "copied next"}));
}

// Quitting does not wait for an owner that holds its read; the read, answered later, still finds
// somewhere to be converted rather than freed memory.
TEST_F(CaptureTest, QuittingWhileAnOwnerHoldsItsReadLeavesTheReadSomewhereToFinish)
{
    GatedPasteboard held(false);
    manager = EngineHarness::start<RecordingManager>([&](ClipboardManagerServices& services) {
        services.pasteboard = &held;
        services.workspace = &workspace;
    });
    held.inner.setText("held past quitting");
    held.holdNext = true;
    manager->captureService()->checkClipboard();
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.held.last()->waiting.load(); }, 5000));
    manager.reset();
    const std::shared_ptr<GatedReader> reader = held.held.takeLast();
    reader->gate.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return reader.use_count() == 1; }, 5000));
}

} // namespace

namespace {

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Some programs offer a picture only as TIFF or WebP; their readers come with the image-format plugins.
TEST_F(CaptureTest, APictureOfferedOnlyAsTiffOrWebpIsStoredAndOneNoReaderTakesIsLogged)
{
    DiagnosticsCapture log;
    start();
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    copy({rep(PasteboardMime::tiff, encoded(picture, "tiff"))});
    picture.fill(Qt::darkRed);
    copy({rep("image/webp", encoded(picture, "webp"))});
    const QList<ClipboardItem> items = untrashed();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].contentType, ClipboardContentType::image);
    EXPECT_EQ(items[1].contentType, ClipboardContentType::image);

    copy({rep("image/x-unheard-of", "not a picture any reader knows")});
    EXPECT_EQ(untrashed().size(), 2);
    EXPECT_TRUE(log.text().contains("[WARN] [Capture] Image not captured: Image data is not in a format Lumra can read. "
                                    "(offered as image/x-unheard-of)"))
        << log.text().toStdString();
}

} // namespace
