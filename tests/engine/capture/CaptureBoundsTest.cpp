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

// A reader whose owner answers only when the test lets it.
class HeldReader final : public OfferReader {
public:
    HeldReader(std::shared_ptr<OfferReader> inner, QSemaphore& gate, const Pasteboard& pasteboard)
        : m_inner(std::move(inner))
        , m_gate(gate)
        , m_pasteboard(pasteboard)
    {
    }
    qint64 changeCount() const override { return m_inner->changeCount(); }
    bool ownedByUs() const override { return m_inner->ownedByUs(); }
    quint64 ownerWindow() const override { return m_inner->ownerWindow(); }
    Result<QStringList> types(QDeadlineTimer deadline) override { return m_inner->types(deadline); }
    OfferRead data(const QString& type, qint64 maxBytes, QDeadlineTimer deadline) override
    {
        waiting = true;
        m_gate.tryAcquire(1, 10000);
        waiting = false;
        return m_inner->data(type, maxBytes, deadline);
    }
    bool readFromItsOwner() override { return m_pasteboard.changeCount() == changeCount(); }

    std::atomic<bool> waiting = false;

private:
    std::shared_ptr<OfferReader> m_inner;
    QSemaphore& m_gate;
    const Pasteboard& m_pasteboard;
};

class HeldPasteboard final : public Pasteboard {
public:
    FakePasteboard inner;
    QSemaphore gate;
    bool holdNext = false;
    std::shared_ptr<HeldReader> held;

    qint64 changeCount() const override { return inner.changeCount(); }
    bool isOwnedByUs() const override { return inner.isOwnedByUs(); }
    Result<QStringList> types() override { return inner.types(); }
    Result<QByteArray> data(const QString& mimeType) override { return inner.data(mimeType); }
    Result<qint64> write(const QList<PasteboardRepresentation>& representations) override
    {
        return inner.write(representations);
    }
    std::shared_ptr<OfferReader> offerReader() override
    {
        if (!std::exchange(holdNext, false))
            return inner.offerReader();
        held = std::make_shared<HeldReader>(inner.offerReader(), gate, inner);
        return held;
    }
};

TEST_F(CaptureTest, AnOwnerThatHoldsItsReadHoldsNeitherThePollNorTheCopiesAfterIt)
{
    HeldPasteboard held;
    manager = EngineHarness::start<RecordingManager>([&](ClipboardManagerServices& services) {
        services.pasteboard = &held;
        services.workspace = &workspace;
    });

    workspace.setFrontmost(firefox);
    held.inner.setText("held by its owner");
    held.holdNext = true;
    manager->checkClipboard();
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.held->waiting.load(); }, 5000));
    EXPECT_TRUE(manager->hasPendingCaptures());
    // The application at the time of the copy is its source, whatever is in front by the time
    // the owner answers.
    workspace.setFrontmost(nautilus);
    EXPECT_TRUE(held.held->waiting) << "the poll waited for the owner";
    held.gate.release();
    manager->finishPendingCaptures();
    ASSERT_EQ(texts(), QStringList {"held by its owner"});
    EXPECT_EQ(untrashed().first().sourceAppBundleId, firefox.bundleId);

    // A copy made while the one before is still being read replaces it: what was read may be
    // the new copy's, so only the new one is stored, read afresh.
    workspace.setFrontmost(firefox);
    clock.advance(std::chrono::milliseconds(1));
    held.inner.setText("replaced while held");
    held.holdNext = true;
    manager->checkClipboard();
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.held->waiting.load(); }, 5000));
    clock.advance(std::chrono::milliseconds(1));
    held.inner.setText("copied next");
    manager->checkClipboard();
    held.gate.release();
    manager->finishPendingCaptures();
    EXPECT_EQ(texts(), (QStringList {"held by its owner", "copied next"}));
}

// Quitting does not wait for an owner that holds its read; the read, answered later, still finds
// somewhere to be converted rather than freed memory.
TEST_F(CaptureTest, QuittingWhileAnOwnerHoldsItsReadLeavesTheReadSomewhereToFinish)
{
    HeldPasteboard held;
    manager = EngineHarness::start<RecordingManager>([&](ClipboardManagerServices& services) {
        services.pasteboard = &held;
        services.workspace = &workspace;
    });
    held.inner.setText("held past quitting");
    held.holdNext = true;
    manager->checkClipboard();
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.held->waiting.load(); }, 5000));
    manager.reset();
    const std::shared_ptr<HeldReader> reader = std::exchange(held.held, nullptr);
    held.gate.release();
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
