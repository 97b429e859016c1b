// Copies that never reach the history are counted, and told a line per burst, not per copy.
#include "CaptureFixture.h"

#include "platform/richtext/RtfCodec.h"

#include <gtest/gtest.h>

using namespace lumra;
using namespace lumra::test;
using namespace std::chrono_literals;

namespace {

// An owner that offers text and answers no request for it, as one slower than the read's bound.
class UnansweringPasteboard final : public Pasteboard {
public:
    void takeAgain()
    {
        ++m_changeCount;
        emit changed();
    }
    qint64 changeCount() const override { return m_changeCount; }
    bool isOwnedByUs() const override { return false; }
    Result<QStringList> types() override { return QStringList {QString::fromLatin1(PasteboardMime::textUtf8)}; }
    Result<QByteArray> data(const QString&) override { return Result<QByteArray>::failure(QStringLiteral("timed out")); }
    Result<qint64> write(const QList<PasteboardRepresentation>&) override { return ++m_changeCount; }

private:
    qint64 m_changeCount = 1;
};

class CaptureLossesTest : public CaptureTest {
protected:
    static QStringList lossLines(const QString& log)
    {
        QStringList lines;
        for (const QString& line : log.split(QLatin1Char('\n')))
            if (line.contains("[Capture] Cop") && line.contains(" not re"))
                lines.append(line);
        return lines;
    }
    static qint64 lost() { return Diagnostics::shared().lostCopies(); }
};

TEST_F(CaptureLossesTest, ABurstOfCopiesReplacedBeforeLumraLookedIsCountedAndToldInTwoLines)
{
    DiagnosticsCapture log;
    start();
    const qint64 before = lost();
    for (int i = 0; i < 300; ++i) {
        pasteboard.setContents({textRep(QStringLiteral("burst %1").arg(i))});
        if (i % 3 == 2) {
            manager->captureService()->checkClipboard();
            test::finishPendingCaptures(*manager);
        }
    }
    EXPECT_EQ(texts().size(), 100);
    EXPECT_EQ(lost() - before, 200);
    const QStringList first = lossLines(log.text());
    ASSERT_EQ(first.size(), 1) << log.text().toStdString();
    EXPECT_TRUE(first[0].contains("[INFO] [Capture] Copies not read: 2 replaced before Lumra looked")) << first[0].toStdString();

    clock.advance(6s);
    const QStringList lines = lossLines(log.text());
    ASSERT_EQ(lines.size(), 2) << log.text().toStdString();
    EXPECT_TRUE(lines[1].contains("Copies not recorded in the 5 s after: 198 (198 replaced before Lumra looked)"))
        << lines[1].toStdString();
}

TEST_F(CaptureLossesTest, ASingleCopyReplacedBeforeLumraLookedIsCountedAndTold)
{
    DiagnosticsCapture log;
    start();
    const qint64 before = lost();
    pasteboard.setContents({textRep("replaced at once")});
    pasteboard.setContents({textRep("the copy Lumra sees")});
    manager->captureService()->checkClipboard();
    test::finishPendingCaptures(*manager);
    EXPECT_EQ(texts(), QStringList {"the copy Lumra sees"});
    EXPECT_EQ(lost() - before, 1);
    const QStringList lines = lossLines(log.text());
    ASSERT_EQ(lines.size(), 1) << log.text().toStdString();
    EXPECT_TRUE(lines[0].contains("Copy not read: a later copy replaced it before Lumra looked")) << lines[0].toStdString();
}

// An owner that ends (xclip after its loops) leaves the clipboard empty: no copy was made, so
// none is lost and nothing is told.
TEST_F(CaptureLossesTest, AClipboardEmptiedAsItsOwnerEndsIsNoLostCopy)
{
    DiagnosticsCapture log;
    start();
    copyText("served until its owner ended");
    const qint64 before = lost();
    pasteboard.clear();
    manager->captureService()->checkClipboard();
    test::finishPendingCaptures(*manager);
    clock.advance(6s);
    EXPECT_EQ(lost() - before, 0);
    EXPECT_TRUE(lossLines(log.text()).isEmpty()) << log.text().toStdString();
    EXPECT_EQ(texts(), QStringList {"served until its owner ended"});
}

// A text is kept without a rich form too large to read or to convert, and the log says which and
// why: never as a form its owner did not hand over.
TEST_F(CaptureLossesTest, ARichFormLeftOutForItsSizeIsNamed)
{
    DiagnosticsCapture log;
    start();
    manager->setPreserveFormatting(true);
    const QByteArray page = "<p>" + QByteArray(qsizetype(OfferLimits::maxHtmlBytes), 'w') + "</p>";
    copy({textRep("a page larger than Lumra reads"), rep(PasteboardMime::html, page)});
    const QByteArray converted = "<p>" + QByteArray(RichText::kMaxHtmlCharacters + 1, 'c') + "</p>";
    copy({textRep("a page longer than is converted"), rep(PasteboardMime::html, converted)});
    test::finishPendingCaptures(*manager);
    EXPECT_EQ(texts().size(), 2);
    const QString lines = log.text();
    EXPECT_TRUE(lines.contains("Copy read without its text/html (8.0 MB): larger than Lumra reads of it")) << lines.toStdString();
    EXPECT_FALSE(lines.contains("gave none of")) << lines.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("Copy kept without its formatting: its HTML of %1 characters is longer than rich "
                                              "text is made of").arg(converted.size())))
        << lines.toStdString();
}

// A program taking the clipboard over and over between every look is one loss, not one for each taking
// or each look; the copy left when it stops is still read.
TEST_F(CaptureLossesTest, AFloodOfTakingsCountsAsOneLoss)
{
    start();
    const qint64 before = lost();
    for (int look = 0; look < 30; ++look) {
        for (int i = 0; i < 200; ++i)
            pasteboard.setContents({textRep(QStringLiteral("taking %1").arg(i))});
        manager->captureService()->checkClipboard();
    }
    test::finishPendingCaptures(*manager);
    EXPECT_LE(lost() - before, 2);
    EXPECT_TRUE(texts().contains(QStringLiteral("taking 199")));
}

TEST_F(CaptureLossesTest, AHostileOwnersRefusedCopiesAreCountedAndToldOncePerBurst)
{
    DiagnosticsCapture log;
    start();
    const qint64 before = lost();
    for (int i = 0; i < 200; ++i)
        copy({rep("application/x-unknown-text", QByteArray::number(i))});
    EXPECT_TRUE(texts().isEmpty());
    EXPECT_EQ(lost() - before, 200);
    clock.advance(6s);
    // A later burst is told again.
    copy({rep("application/x-unknown-text", "again")});
    const QStringList lines = lossLines(log.text());
    ASSERT_EQ(lines.size(), 3) << log.text().toStdString();
    EXPECT_TRUE(lines[0].contains("[WARN] [Capture] Copy not recorded: none of its types can be read"));
    EXPECT_TRUE(lines[1].contains("[WARN] [Capture] Copies not recorded in the 5 s after: 199 (199 refused)"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("last refused: Copy not recorded: none of its types can be read"));
    EXPECT_TRUE(lines[2].contains("Copy not recorded: none of its types can be read"));
}

TEST_F(CaptureLossesTest, CopiesWhoseOwnerAnswersNoReadAreCountedAndTold)
{
    DiagnosticsCapture log;
    UnansweringPasteboard owner;
    manager = EngineHarness::start<RecordingManager>([&](ClipboardManagerServices& services) {
        services.pasteboard = &owner;
        services.workspace = &workspace;
    });
    const qint64 before = lost();
    for (int i = 0; i < 40; ++i) {
        owner.takeAgain();
        manager->captureService()->checkClipboard();
        test::finishPendingCaptures(*manager);
    }
    EXPECT_EQ(lost() - before, 40);
    clock.advance(6s);
    const QStringList lines = lossLines(log.text());
    ASSERT_EQ(lines.size(), 2) << log.text().toStdString();
    EXPECT_TRUE(lines[0].contains("[INFO] [Capture] Copy not read: its owner gave none of text/plain;charset=utf-8"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains("39 (39 not handed over by their owner)")) << lines[1].toStdString();
}

// Copies the settings or their owners keep out, and one the history cannot take, reach no row: each
// is counted, the first told with its reason and the rest summed up, beside the copy that is kept.
TEST_F(CaptureLossesTest, EveryCopyThatReachesNoRowIsCountedWithItsReason)
{
    DiagnosticsCapture log;
    start();
    manager->setIgnoredApplications({{keepass.bundleId, keepass.name}});
    manager->setIgnoreTransientContent(true);
    manager->setCaptureLinks(false);
    manager->setCaptureImages(false);
    manager->setCaptureScreenshots(false);
    const qint64 before = lost();
    copyText("from the password manager", keepass);
    copy({textRep("hunter2"), rep(PasteboardMime::passwordManagerHint, "secret")});
    copy({textRep("a moment's text"), rep(PasteboardMime::transient, "")});
    copyText("https://example.org/not-recorded");
    copy({rep(PasteboardMime::png, solidPng(Qt::red))});
    copy({textRep(QString())});
    copyText("kept");
    EXPECT_EQ(texts(), QStringList {"kept"});
    EXPECT_EQ(lost() - before, 6);

    clock.advance(6s);
    const QStringList lines = lossLines(log.text());
    ASSERT_EQ(lines.size(), 2) << log.text().toStdString();
    EXPECT_TRUE(lines[0].contains("[INFO] [Capture] Copy not recorded: KeePassXC is an ignored application"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains("5 (5 left out as the settings or their owner ask)")) << lines[1].toStdString();
}

} // namespace
