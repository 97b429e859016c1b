// How copies are read and stored when owners are slow: the newest change is read at once, a copy
// is stored as soon as it is read with its copy time, and what is costly to make of it comes later.
#include "CaptureFixture.h"
#include "engine/HistoryFilter.h"

#include "platform/pasteboard/PasteboardTypes.h"

#include <gtest/gtest.h>

#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

using namespace lumra;
using namespace lumra::test;
using namespace std::chrono_literals;

namespace {

constexpr int userWaitMs = 10000; // "at once" as a user sees it, on a busy machine too

class CaptureSchedulingTest : public CaptureTest {
protected:
    void startGated(const std::function<QByteArray(const QString&)>& htmlToRtf = {}, Pasteboard* pasteboard = nullptr)
    {
        manager = EngineHarness::start<RecordingManager>([&](ClipboardManagerServices& services) {
            services.pasteboard = pasteboard ? pasteboard : &gated;
            services.workspace = &workspace;
            services.htmlToRtf = htmlToRtf;
        });
        workspace.setFrontmost(firefox);
    }
    // An owner takes the clipboard and never answers until released; its read has begun.
    void copyHeld(const QString& text)
    {
        clock.advance(1s);
        gated.inner.setText(text);
        gated.holdNext = true;
        manager->captureService()->checkClipboard();
        const std::shared_ptr<GatedReader> reader = gated.held.last();
        ASSERT_TRUE(QTest::qWaitFor([&] { return reader->asked.load(); }, userWaitMs)) << "never asked: " << text.toStdString();
    }
    void copyNow(const QList<PasteboardRepresentation>& representations)
    {
        clock.advance(1s);
        gated.inner.setContents(representations);
        manager->captureService()->checkClipboard();
    }
    // The read's task is gone once only the test and the pasteboard hold its reader.
    static bool readEnded(const std::shared_ptr<GatedReader>& reader)
    {
        const QDeadlineTimer answered(userWaitMs);
        while (reader.use_count() > 2 && !answered.hasExpired())
            QThread::msleep(1);
        return reader.use_count() == 2;
    }
    bool stored(const QString& text) const { return texts().contains(text); }
    QStringList listed() const
    {
        QStringList shown;
        for (const ClipboardItem& item : manager->filters().filteredItems())
            shown.append(item.textContent.value_or(QString()));
        return shown;
    }

    void TearDown() override
    {
        // The owners answer at last, so no read outlives the engine.
        for (const GatedPasteboard* pasteboard : {&gated, &replacedWhileRead})
            for (const auto& reader : pasteboard->held)
                reader->gate.release(1000);
        if (manager)
            test::finishPendingCaptures(*manager);
    }

    GatedPasteboard gated;
    GatedPasteboard replacedWhileRead {false}; // a read answered after a later copy does not count
};

TEST_F(CaptureSchedulingTest, OwnersThatNeverAnswerHoldNeitherTheNewestCopyNorOneAnother)
{
    startGated();
    for (int i = 0; i < 8; ++i)
        copyHeld(QStringLiteral("never answered %1").arg(i));
    copyNow({textRep("the user's copy")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return stored("the user's copy"); }, userWaitMs))
        << "the newest copy waited behind owners that never answer";
}

TEST_F(CaptureSchedulingTest, WithEveryReadThreadBusyTheNewestCopyWaitsAndAReplacedOneIsDroppedAndSaid)
{
    DiagnosticsCapture log;
    startGated();
    for (int i = 0; i < BackgroundWork::current().maxThreadCount(BackgroundWork::Lane::captureReads); ++i)
        copyHeld(QStringLiteral("held %1").arg(i));
    copyNow({textRep("replaced before its turn")});
    copyNow({textRep("the newest copy")});
    gated.held.first()->gate.release();
    EXPECT_TRUE(QTest::qWaitFor([&] { return stored("the newest copy"); }, userWaitMs))
        << "a read was given up because every read thread was busy";
    EXPECT_FALSE(stored("replaced before its turn"));
    EXPECT_TRUE(log.text().contains("Copy not read: a later copy replaced it before its turn came")) << log.text().toStdString();
}

// A copy replaced while it was read (its owner copying twice at once, say) is counted as replaced,
// not as one its owner did not hand over.
TEST_F(CaptureSchedulingTest, ACopyReplacedWhileItWasReadIsCountedAsReplaced)
{
    DiagnosticsCapture log;
    startGated({}, &replacedWhileRead);
    FakePasteboard& owner = replacedWhileRead.inner;
    const auto copy = [&](const QList<PasteboardRepresentation>& representations, bool held) {
        clock.advance(1s);
        owner.setContents(representations);
        replacedWhileRead.holdNext = held;
        manager->captureService()->checkClipboard();
    };
    copy({rep("application/x-unknown-text", "opens a burst of losses")}, false);
    test::finishPendingCaptures(*manager);
    copy({textRep("copied first")}, true);
    const std::shared_ptr<GatedReader> first = replacedWhileRead.held.last();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first->asked.load(); }, userWaitMs));
    copy({textRep("copied again at once")}, false);
    first->gate.release();
    test::finishPendingCaptures(*manager);
    EXPECT_TRUE(stored("copied again at once"));
    EXPECT_FALSE(stored("copied first"));
    clock.advance(6s);
    EXPECT_TRUE(log.text().contains("Copies not recorded in the 5 s after: 1 (1 replaced before they were read)"))
        << log.text().toStdString();
}

// The order the user sees is the order of the copies, whichever read ended first.
TEST_F(CaptureSchedulingTest, ACopyReadAfterALaterOneIsListedAtItsCopyTime)
{
    startGated();
    copyHeld("a slow owner's copy");
    const QDateTime slowCopyTime = clock.now();
    copyNow({textRep("copied next")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("copied next"); }, userWaitMs));
    clock.advance(5s);
    gated.held.first()->gate.release();
    test::finishPendingCaptures(*manager);

    EXPECT_EQ(listed(), (QStringList {"copied next", "a slow owner's copy"}));
    const QList<ClipboardItem> items = untrashed();
    const auto slow = std::find_if(items.begin(), items.end(), [](const ClipboardItem& item) {
        return item.textContent == "a slow owner's copy";
    });
    ASSERT_NE(slow, items.end());
    EXPECT_EQ(slow->dateAdded, slowCopyTime);
}

TEST_F(CaptureSchedulingTest, PagesSlowToConvertAreStoredAtOnceAndGetTheirRichTextWhenItIsMade)
{
    QSemaphore conversions;
    std::atomic<int> asked = 0;
    startGated([&](const QString&) {
        ++asked;
        conversions.tryAcquire(1, 30000);
        return QByteArray("{\\rtf1 made late}");
    });
    QStringList copied;
    for (int i = 0; i < 8; ++i) {
        const QString text = QStringLiteral("page %1").arg(i);
        copyNow({textRep(text), rep(PasteboardMime::html, "<table><tr><td colspan=1000>" + text.toUtf8())});
        ASSERT_TRUE(QTest::qWaitFor([&] { return stored(text); }, userWaitMs)) << "held by the conversion: " << text.toStdString();
        copied.prepend(text);
    }
    copyNow({textRep("plain text after the pages")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("plain text after the pages"); }, userWaitMs));
    copied.prepend("plain text after the pages");
    EXPECT_EQ(listed(), copied);
    for (const ClipboardItem& item : untrashed())
        EXPECT_FALSE(row(item)->bytes(store::ItemAttr::rtfData)) << item.textContent->toStdString();

    const QList<QDateTime> copyTimes = [&] {
        QList<QDateTime> times;
        for (const ClipboardItem& item : manager->filters().filteredItems())
            times.append(item.dateAdded);
        return times;
    }();
    conversions.release(8);
    test::finishPendingCaptures(*manager);
    EXPECT_EQ(asked.load(), 8);
    EXPECT_EQ(listed(), copied);
    for (qsizetype i = 0; i < manager->filters().filteredItems().size(); ++i) {
        const ClipboardItem& item = manager->filters().filteredItems()[i];
        EXPECT_EQ(item.dateAdded, copyTimes[i]);
        EXPECT_EQ(row(item)->bytes(store::ItemAttr::rtfData).has_value(), item.textContent != "plain text after the pages")
            << item.textContent->toStdString();
    }
}

// Each kind has its own lane of a few threads: pages slow to convert hold neither a picture nor
// the next page's rich text.
TEST_F(CaptureSchedulingTest, APageSlowToConvertHoldsNeitherAPictureNorTheNextPage)
{
    QSemaphore conversions;
    std::atomic<int> asked = 0;
    startGated([&](const QString& html) {
        ++asked;
        if (html.contains(QLatin1String("slow")))
            conversions.tryAcquire(1, 60000);
        return QByteArray("{\\rtf1 made}");
    });
    // The conversions end before what they wait on goes, whatever fails: a lane thread still
    // waking in the semaphore would write into the stack of whatever runs next.
    const auto finish = qScopeGuard([&] {
        conversions.release(1000);
        test::finishPendingCaptures(*manager);
    });
    copyNow({textRep("slow page"), rep(PasteboardMime::html, "<b>slow</b>")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked == 1; }, userWaitMs));
    copyNow({textRep("next page"), rep(PasteboardMime::html, "<b>next</b>")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return asked == 2; }, userWaitMs)) << "the next page waited for the slow one";

    copyNow({textRep("another slow page"), rep(PasteboardMime::html, "<b>slow again</b>")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked == 3; }, userWaitMs));
    copyNow({rep(PasteboardMime::png, solidPng(Qt::red))});
    const auto pictureStored = [&] {
        const QList<ClipboardItem> items = untrashed();
        return std::any_of(items.begin(), items.end(),
                           [](const ClipboardItem& item) { return item.contentType == ClipboardContentType::image; });
    };
    EXPECT_TRUE(QTest::qWaitFor(pictureStored, userWaitMs)) << "the picture waited for the pages' rich text";
}

// What is made of copies waiting for their lane is made newest first: after a burst, the copy the
// user made last, and likely pastes next, gets its rich text first.
TEST_F(CaptureSchedulingTest, CopiesWaitingForTheirLaneAreMadeNewestFirst)
{
    BackgroundWork& work = BackgroundWork::current();
    const int threads = work.maxThreadCount(BackgroundWork::Lane::captureRichText);
    work.setMaxThreadCount(BackgroundWork::Lane::captureRichText, 1);
    const auto restore = qScopeGuard([&] { work.setMaxThreadCount(BackgroundWork::Lane::captureRichText, threads); });
    QSemaphore first;
    std::atomic_bool firstAsked = false;
    std::mutex mutex;
    QStringList made;
    startGated([&](const QString& html) {
        if (html.contains(QLatin1String("page 0"))) {
            firstAsked = true;
            first.tryAcquire(1, 60000);
        }
        const std::lock_guard lock(mutex);
        made.append(html.mid(html.indexOf(QLatin1String("page"))).left(6));
        return QByteArray("{\\rtf1 made}");
    });
    // Nothing made outlives what it writes to, whatever fails.
    const auto finish = qScopeGuard([&] {
        first.release(1000);
        test::finishPendingCaptures(*manager);
    });
    for (int i = 0; i < 4; ++i) {
        const QString text = QStringLiteral("page %1").arg(i);
        copyNow({textRep(text), rep(PasteboardMime::html, "<b>" + text.toUtf8() + "</b>")});
        ASSERT_TRUE(QTest::qWaitFor([&] { return stored(text) && firstAsked; }, userWaitMs)) << text.toStdString();
    }
    first.release();
    test::finishPendingCaptures(*manager);
    const std::lock_guard lock(mutex);
    EXPECT_EQ(made, (QStringList {"page 0", "page 3", "page 2", "page 1"}));
}

// At quit, a read already answered is stored; rich text still being made is not waited for, since
// the journal holds its page: the next start makes it.
TEST_F(CaptureSchedulingTest, AtQuitAnAnsweredReadIsStoredAndRichTextStillBeingMadeIsLeftToTheJournal)
{
    QSemaphore conversion;
    startGated([&](const QString&) {
        conversion.tryAcquire(1, 30000);
        return QByteArray("{\\rtf1 made too late}");
    });
    copyNow({textRep("a page"), rep(PasteboardMime::html, "<b>a page</b>")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("a page"); }, userWaitMs));

    clock.advance(1s);
    gated.inner.setText("answered before quit");
    gated.holdNext = true;
    manager->captureService()->checkClipboard();
    const std::shared_ptr<GatedReader> reader = gated.held.last();
    reader->gate.release();
    ASSERT_TRUE(readEnded(reader)); // no event is handled meanwhile

    manager->captureService()->storeCapturesAtQuit();
    conversion.release(1000);
    EXPECT_EQ(listed(), (QStringList {"answered before quit", "a page"}));
    const auto pageRtf = [&] {
        for (const ClipboardItem& item : untrashed()) {
            if (item.textContent == "a page")
                return row(item)->bytes(store::ItemAttr::rtfData).value_or(QByteArray());
        }
        return QByteArray();
    };
    EXPECT_TRUE(pageRtf().isEmpty());
    manager.reset();
    startGated([](const QString&) { return QByteArray("{\\rtf1 made at the next start}"); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !pageRtf().isEmpty(); }, userWaitMs));
    EXPECT_EQ(pageRtf(), QByteArray("{\\rtf1 made at the next start}"));
}

// Rich text the last run left is made at this start; quitting again before it is made leaves it to
// the next, whether its work had begun (put back) or was still queued (never begun once the quit
// closed the tries), and neither is taken for work Lumra died on.
TEST_F(CaptureSchedulingTest, ResumedWorkTheQuitInterruptsOrForestallsIsMadeAtTheNextStart)
{
    QSemaphore lastRun;
    startGated([&](const QString&) {
        lastRun.tryAcquire(1, 30000);
        return QByteArray();
    });
    for (const QString& text : {QStringLiteral("first page"), QStringLiteral("second page")}) {
        copyNow({textRep(text), rep(PasteboardMime::html, "<b>" + text.toUtf8() + "</b>")});
        ASSERT_TRUE(QTest::qWaitFor([&] { return stored(text); }, userWaitMs));
    }
    manager->captureService()->storeCapturesAtQuit();
    lastRun.release(1000);
    manager.reset();

    // One resumed page at a time: the first holds the lane, the second waits behind it.
    BackgroundWork& work = BackgroundWork::current();
    const int threads = work.maxThreadCount(BackgroundWork::Lane::captureResumed);
    work.setMaxThreadCount(BackgroundWork::Lane::captureResumed, 1);
    const auto restore = qScopeGuard([&] { work.setMaxThreadCount(BackgroundWork::Lane::captureResumed, threads); });
    QSemaphore held;
    std::atomic_int begun = 0;
    startGated([&](const QString&) {
        ++begun;
        held.tryAcquire(1, 30000);
        return QByteArray("{\\rtf1 made too late}");
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return begun == 1; }, userWaitMs));
    manager->captureService()->storeCapturesAtQuit();
    held.release(1000);
    // The queued page's task has run, or been refused, once a task queued after it has.
    QSemaphore lanePassed;
    ASSERT_TRUE(work.start(BackgroundWork::Lane::captureResumed, [&] { lanePassed.release(); }));
    ASSERT_TRUE(lanePassed.tryAcquire(1, userWaitMs));
    EXPECT_EQ(begun, 1) << "resumed work began after the quit";
    manager.reset();

    DiagnosticsCapture log;
    startGated([](const QString&) { return QByteArray("{\\rtf1 made at the next start}"); });
    const auto rtfOf = [&](const QString& text) {
        for (const ClipboardItem& item : untrashed()) {
            if (item.textContent == text)
                return row(item)->bytes(store::ItemAttr::rtfData).value_or(QByteArray());
        }
        return QByteArray();
    };
    for (const QString& text : {QStringLiteral("first page"), QStringLiteral("second page")}) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return rtfOf(text) == "{\\rtf1 made at the next start}"; }, userWaitMs))
            << text.toStdString() << ": " << log.text().toStdString();
    }
    EXPECT_FALSE(log.text().contains("dropped")) << log.text().toStdString();
}

// Opens `gate` the moment the engine logs a line starting with `line`, and not before. Several may
// be open at once: the first installs the handler, the last takes it away.
class OpenWhenLogged {
public:
    OpenWhenLogged(QSemaphore& gate, const char* line, std::function<void()> first = {})
        : m_watch {&gate, line, std::move(first)}
    {
        if (s_watches.empty())
            s_previous = qInstallMessageHandler(handle);
        s_watches.push_back(&m_watch);
    }
    ~OpenWhenLogged()
    {
        s_watches.erase(std::find(s_watches.begin(), s_watches.end(), &m_watch));
        if (s_watches.empty())
            qInstallMessageHandler(s_previous);
    }

private:
    struct Watch {
        QSemaphore* gate;
        const char* line;
        std::function<void()> first; // run before the gate opens
    };
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        for (const Watch* watch : s_watches) {
            if (!text.startsWith(QLatin1String(watch->line)))
                continue;
            if (watch->first)
                watch->first();
            watch->gate->release(1000);
        }
        if (s_previous)
            s_previous(type, context, text);
    }
    Watch m_watch;
    static inline std::vector<const Watch*> s_watches;
    static inline QtMessageHandler s_previous = nullptr;
};

// Copies made just before the quit: one whose owner hands it over as the quit begins, one Lumra had
// not looked at yet, one whose owner never answers. Each is stored or said lost; none goes in silence.
TEST_F(CaptureSchedulingTest, AtQuitEveryCopyStillBeingReadIsStoredOrSaidLost)
{
    DiagnosticsCapture log;
    startGated();
    copyHeld("handed over as Lumra quits");
    copyHeld("never handed over");
    clock.advance(1s);
    gated.inner.setText("not looked at yet");
    const qint64 lostBefore = Diagnostics::shared().lostCopies();
    {
        // A held owner answers as the engine says it is quitting.
        OpenWhenLogged answer(gated.held.first()->gate, "Quitting with copies still being read");
        manager->captureService()->storeCapturesAtQuit();
    }
    const qint64 lost = Diagnostics::shared().lostCopies() - lostBefore;
    EXPECT_EQ(int(stored("handed over as Lumra quits")) + int(stored("not looked at yet")) + lost, 3) << log.text().toStdString();
    EXPECT_FALSE(stored("never handed over"));
    EXPECT_TRUE(log.text().contains("Lumra quit before")) << log.text().toStdString();
}

// A copy made before the quit whose change reaches Lumra only while it waits for a read (from a slow
// X server, say) is read as well: else it would be lost with nothing said.
TEST_F(CaptureSchedulingTest, AtQuitACopyHeardOfWhileAReadIsWaitedForIsReadToo)
{
    startGated();
    copyHeld("being read as Lumra quits");
    {
        OpenWhenLogged answer(gated.held.first()->gate, "Quitting with copies still being read", [&] {
            clock.advance(1s);
            gated.inner.setText("heard of as Lumra quits");
        });
        manager->captureService()->storeCapturesAtQuit();
    }
    EXPECT_TRUE(stored("being read as Lumra quits"));
    EXPECT_TRUE(stored("heard of as Lumra quits"));
}

// The quit's wait for an owner is measured on the engine's clock: one that hands its copy over
// 200 ms into the quit is still in time.
TEST_F(CaptureSchedulingTest, AtQuitAnOwnerAnsweringWithinTheWaitIsStored)
{
    startGated();
    copyHeld("handed over 200 ms into the quit");
    const std::shared_ptr<GatedReader> reader = gated.held.last();
    const std::chrono::milliseconds quitBegan = clock.elapsed();
    bool answered = false;
    clock.setOnPause([&] {
        if (answered || clock.elapsed() - quitBegan < 200ms)
            return;
        answered = true;
        reader->gate.release();
        ASSERT_TRUE(readEnded(reader));
    });
    const auto unhook = qScopeGuard([&] { clock.setOnPause({}); });
    const qint64 lostBefore = Diagnostics::shared().lostCopies();
    manager->captureService()->storeCapturesAtQuit(false);
    EXPECT_TRUE(stored("handed over 200 ms into the quit"));
    EXPECT_EQ(Diagnostics::shared().lostCopies() - lostBefore, 0);
}

// Quitting as the app does: capture gives up a read whose owner never answers, and the lanes' shutdown
// then drops what is still queued. The journal's write of a page read just before is on disk by then,
// so the next start makes its rich text.
TEST_F(CaptureSchedulingTest, AtQuitAReadInFlightIsLeftBehindAndTheJournalIsOnDiskBeforeTheLanesShutDown)
{
    DiagnosticsCapture log;
    BackgroundWork work;
    QSemaphore conversion;
    manager = EngineHarness::start<RecordingManager>([&](ClipboardManagerServices& services) {
        services.pasteboard = &gated;
        services.workspace = &workspace;
        services.work = &work;
        services.htmlToRtf = [&](const QString&) {
            conversion.tryAcquire(1, 30000);
            return QByteArray();
        };
    });
    workspace.setFrontmost(firefox);
    copyHeld("never handed over");
    // The journal's lane is taken until the engine says the read is lost, the last thing before it
    // waits for the journal: the page's entry is written only then.
    QSemaphore journalHeld;
    work.start(BackgroundWork::Lane::captureJournal, [&] { journalHeld.acquire(); });
    clock.advance(1s);
    gated.inner.setContents({textRep("a page"), rep(PasteboardMime::html, "<b>a page</b>")});
    gated.holdNext = true;
    manager->captureService()->checkClipboard();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gated.held.last()->asked.load(); }, userWaitMs));
    const qint64 lostBefore = Diagnostics::shared().lostCopies();
    {
        OpenWhenLogged pageRead(gated.held.last()->gate, "Quitting with copies still being read");
        OpenWhenLogged journalFree(journalHeld, "Copy not read: Lumra quit before");
        manager->captureService()->storeCapturesAtQuit(false);
    }
    const QStringList busy = work.shutDown(0ms);
    EXPECT_TRUE(busy.contains(BackgroundWork::threadName(BackgroundWork::Lane::captureReads))) << busy.join(", ").toStdString();
    EXPECT_EQ(Diagnostics::shared().lostCopies() - lostBefore, 1);
    EXPECT_TRUE(stored("a page"));
    EXPECT_FALSE(stored("never handed over"));
    manager.reset();
    for (const auto& reader : gated.held)
        reader->gate.release(1000);
    conversion.release(1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return work.busyLanes().isEmpty(); }, userWaitMs));

    startGated([](const QString&) { return QByteArray("{\\rtf1 made at the next start}"); });
    const auto pageRtf = [&] {
        for (const ClipboardItem& item : untrashed()) {
            if (item.textContent == "a page")
                return row(item)->bytes(store::ItemAttr::rtfData).value_or(QByteArray());
        }
        return QByteArray();
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return !pageRtf().isEmpty(); }, userWaitMs)) << log.text().toStdString();
    EXPECT_EQ(pageRtf(), QByteArray("{\\rtf1 made at the next start}"));
}

// Rich text made for a copy arrives after the row has moved on: a later copy's own rich text,
// and a row in the bin, are left as they are.
class LateRichTextTest : public CaptureSchedulingTest {
protected:
    void SetUp() override
    {
        CaptureSchedulingTest::SetUp();
        startGated([&](const QString&) {
            conversion.tryAcquire(1, 30000);
            return QByteArray("{\\rtf1 made late}");
        });
        copyNow({textRep("a page"), rep(PasteboardMime::html, "<b>a page</b>")});
        ASSERT_TRUE(QTest::qWaitFor([&] { return stored("a page"); }, userWaitMs));
    }
    void TearDown() override
    {
        conversion.release(1000);
        CaptureSchedulingTest::TearDown();
    }
    std::optional<QByteArray> richTextOf(const QList<ClipboardItem>& items) const
    {
        for (const ClipboardItem& item : items) {
            if (item.textContent == "a page")
                return row(item)->bytes(store::ItemAttr::rtfData);
        }
        ADD_FAILURE() << "a page is gone";
        return std::nullopt;
    }
    QSemaphore conversion;
};

TEST_F(LateRichTextTest, ACopyMadeAgainWithItsOwnRichTextKeepsIt)
{
    copyNow({textRep("a page"), rep(PasteboardMime::rtf, "{\\rtf1 copied again}")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return richTextOf(untrashed()) == QByteArray("{\\rtf1 copied again}"); }, userWaitMs));
    conversion.release();
    test::finishPendingCaptures(*manager);
    EXPECT_EQ(richTextOf(untrashed()), QByteArray("{\\rtf1 copied again}"));
}

TEST_F(LateRichTextTest, ACopyPutInTheBinGetsNoRichText)
{
    manager->setRecycleBinEnabled(true);
    ASSERT_TRUE(manager->deleteItem(untrashed().first()).ok());
    ASSERT_EQ(manager->filters().trashedItems().size(), 1);
    conversion.release();
    test::finishPendingCaptures(*manager);
    EXPECT_EQ(richTextOf(manager->filters().trashedItems()), std::nullopt);
}

// A slow owner's copy of a text copied again meanwhile leaves the row at the later time.
TEST_F(CaptureSchedulingTest, ALateOlderCopyOfATextCopiedAgainLeavesItAtTheLaterTime)
{
    startGated();
    copyHeld("copied twice");
    copyNow({textRep("copied twice")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("copied twice"); }, userWaitMs));
    const QDateTime later = clock.now();
    gated.held.first()->gate.release();
    test::finishPendingCaptures(*manager);
    ASSERT_EQ(untrashed().size(), 1);
    EXPECT_EQ(untrashed().first().dateAdded, later);
}

// Skipped, such a copy is no new copy: no sound, no count for the reminder, no conversion.
TEST_F(CaptureSchedulingTest, ALateOlderCopySkippedIsNeitherHeardNorCountedNorConverted)
{
    std::atomic<int> asked = 0;
    startGated([&](const QString&) {
        ++asked;
        return QByteArray("{\\rtf1 late}");
    });
    clock.advance(1s);
    gated.inner.setContents({textRep("copied twice"), rep(PasteboardMime::html, "<b>copied twice</b>")});
    gated.holdNext = true;
    manager->captureService()->checkClipboard();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gated.held.last()->asked.load(); }, userWaitMs));
    copyNow({textRep("copied twice")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("copied twice"); }, userWaitMs));
    ASSERT_EQ(manager->sounds, 1);
    gated.held.first()->gate.release(1000);
    test::finishPendingCaptures(*manager);
    EXPECT_EQ(manager->sounds, 1);
    EXPECT_EQ(manager->reminders.size(), 1);
    EXPECT_EQ(asked.load(), 0);
}

TEST_F(CaptureSchedulingTest, AConcealedPageIsNeitherStoredNorConverted)
{
    std::atomic<int> asked = 0;
    startGated([&](const QString&) {
        ++asked;
        return QByteArray("{\\rtf1 secret}");
    });
    QSignalSpy changes(manager.get(), &ClipboardManager::clipboardItemsChanged);
    copyNow({textRep("hunter2"), rep(PasteboardMime::html, "<b>hunter2</b>"), rep(PasteboardMime::concealed, "1")});
    test::finishPendingCaptures(*manager);
    QCoreApplication::processEvents();
    EXPECT_TRUE(untrashed().isEmpty());
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(asked.load(), 0);
}

} // namespace
