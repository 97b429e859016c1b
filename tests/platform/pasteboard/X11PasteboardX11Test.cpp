#include "platform/pasteboard/X11Pasteboard.h"

// Before SelectionOwner.h, which takes back the Xlib macros this header uses.
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

#include "ManualClockScope.h"
#include "SelectionOwner.h"
#include "Xclip.h"

#include "LargestAllocation.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QLoggingCategory>
#include <QMutex>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <deque>
#include <functional>
#include <future>
#include <optional>

#include <dlfcn.h>

using namespace lumra;
using lumra::test::SelectionOwner;

namespace {

// Run once, right before the next XConvertSelection of this process goes out.
std::function<void()> beforeNextConvert;

} // namespace

// Stands in for Xlib's, so that a test can act between a read's last look at the clipboard's owner
// and its request.
extern "C" int XConvertSelection(Display* display, Atom selection, Atom target, Atom property, Window requestor,
                                 Time time)
{
    using Real = int (*)(Display*, Atom, Atom, Atom, Window, Time);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "XConvertSelection"));
    if (auto before = std::exchange(beforeNextConvert, nullptr))
        before();
    return real(display, selection, target, property, requestor, time);
}

namespace {

// While set, the X Resource extension tells no client's process.
bool serverTellsNoProcess = false;

} // namespace

extern "C" int XResQueryClientIds(Display* display, long specCount, XResClientIdSpec* specs, long* idCount,
                                  XResClientIdValue** ids)
{
    using Real = int (*)(Display*, long, XResClientIdSpec*, long*, XResClientIdValue**);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "XResQueryClientIds"));
    if (!serverTellsNoProcess)
        return real(display, specCount, specs, idCount, ids);
    *idCount = 0;
    *ids = nullptr;
    return x11::XSuccess;
}

namespace {

class X11PasteboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pasteboard = X11Pasteboard::create();
        ASSERT_TRUE(pasteboard) << "needs an X server with XFixes";
    }

    // Waits (event driven, bounded) until the change count moves past `before` and someone
    // owns the clipboard.
    bool waitForChangeAfter(qint64 before)
    {
        QSignalSpy changed(pasteboard.get(), &Pasteboard::changed);
        while (pasteboard->changeCount() == before || pasteboard->ownerWindow() == 0) {
            if (!changed.wait(5000))
                return false;
        }
        QCoreApplication::sendPostedEvents(pasteboard.get(), QEvent::MetaCall); // a changed() still queued
        return true;
    }

    // Another process copies `data` as `type` with xclip.
    void copyWithXclip(const QByteArray& data, const QString& type = QString())
    {
        const qint64 before = pasteboard->changeCount();
        ASSERT_TRUE(test::xclipCopy(data, type));
        ASSERT_TRUE(waitForChangeAfter(before));
    }

    std::unique_ptr<X11Pasteboard> pasteboard;
};

TEST_F(X11PasteboardTest, SeesAnotherProcessCopyText)
{
    const QString text = QString::fromUtf8("Grüße aus dem Terminal");
    copyWithXclip(text.toUtf8());
    EXPECT_FALSE(pasteboard->isOwnedByUs());
    const PasteboardSnapshot snapshot = pasteboard->snapshot(true);
    EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
    EXPECT_TRUE(snapshot.types.contains("UTF8_STRING"));
    EXPECT_EQ(snapshot.text, text);
    EXPECT_FALSE(snapshot.ownedByUs);
    EXPECT_NE(snapshot.ownerWindow, 0u);
}

// A PNG far above one X request, so that it has to travel in INCR chunks.
QByteArray largePng()
{
    QImage image(900, 700, QImage::Format_RGB32);
    auto* random = QRandomGenerator::global();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, random->generate());
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

TEST_F(X11PasteboardTest, ReadsALargeImageSentInChunks)
{
    const QByteArray png = largePng();
    ASSERT_GT(png.size(), 1024 * 1024);

    copyWithXclip(png, "image/png");
    const PasteboardSnapshot snapshot = pasteboard->snapshot(false);
    EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
    EXPECT_EQ(snapshot.imageFormat, ImageFormat::png);
    EXPECT_TRUE(snapshot.imageData == png);
}

TEST_F(X11PasteboardTest, ReadsFileUrlsFromAUriList)
{
    copyWithXclip("# copied\r\nfile:///tmp/My%20Notes.txt\r\nfile:///etc/hosts\r\n", "text/uri-list");
    const PasteboardSnapshot snapshot = pasteboard->snapshot(false);
    EXPECT_EQ(snapshot.fileUrls, (QStringList {"file:///tmp/My%20Notes.txt", "file:///etc/hosts"}));
}

TEST_F(X11PasteboardTest, PasswordManagerHintMeansConcealed)
{
    const qint64 before = pasteboard->changeCount();
    SelectionOwner owner({{"text/plain;charset=utf-8", "hunter2"}, {"x-kde-passwordManagerHint", "secret"}});
    ASSERT_TRUE(waitForChangeAfter(before));
    const PasteboardSnapshot snapshot = pasteboard->snapshot(true);
    EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
    EXPECT_TRUE(snapshot.concealed);
    EXPECT_FALSE(snapshot.text.has_value());
    EXPECT_EQ(snapshot.ownerWindow, owner.window());
}

TEST_F(X11PasteboardTest, ReadsRichTextAlongWithText)
{
    const qint64 before = pasteboard->changeCount();
    SelectionOwner owner({{"UTF8_STRING", "bold"}, {"text/html", "<b>bold</b>"}, {"application/rtf", "{\\rtf1 b}"}});
    ASSERT_TRUE(waitForChangeAfter(before));
    const PasteboardSnapshot snapshot = pasteboard->snapshot(true);
    EXPECT_EQ(snapshot.text, "bold");
    EXPECT_EQ(snapshot.rtf, QByteArray("{\\rtf1 b}"));
    EXPECT_FALSE(snapshot.html.has_value()) << "HTML is read only when there is no RTF";
}

int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

TEST_F(X11PasteboardTest, AnOwnerThatDoesNotAnswerFailsTheReadAndItsLateAnswerIsNotTakenLater)
{
    pasteboard->setReadTimeout(std::chrono::milliseconds(200));
    // The owner's late answer goes to a requestor window that is gone by then.
    XErrorHandler previous = XSetErrorHandler(ignoreXErrors);
    {
        qint64 before = pasteboard->changeCount();
        SelectionOwner owner({{"UTF8_STRING", "late"}}, SelectionOwner::Mode::silent);
        ASSERT_TRUE(waitForChangeAfter(before));
        PasteboardSnapshot snapshot = pasteboard->snapshot(true);
        EXPECT_TRUE(snapshot.failed());
        EXPECT_FALSE(snapshot.text.has_value());
        // Further reads of the same change give up at once instead of waiting again.
        EXPECT_FALSE(pasteboard->text().has_value());

        before = pasteboard->changeCount();
        owner.wakeUp();
        ASSERT_TRUE(waitForChangeAfter(before));
        snapshot = pasteboard->snapshot(true);
        EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
        EXPECT_EQ(snapshot.text, "late");
    }
    XSetErrorHandler(previous);
}

TEST_F(X11PasteboardTest, OwnWritesAreOursCountedOnceAndServedToOthers)
{
    copyWithXclip("theirs");
    QSignalSpy changed(pasteboard.get(), &Pasteboard::changed);
    auto written = pasteboard->write({{"text/plain;charset=utf-8", QString::fromUtf8("unsere Grüße").toUtf8()},
                                      {"text/html", "<i>ours</i>"}});
    ASSERT_TRUE(written.ok()) << written.error().toStdString();
    EXPECT_TRUE(pasteboard->isOwnedByUs());

    // Another process reads what we wrote while our event loop runs; our own ownership event
    // has arrived by then and must not have moved the count again.
    EXPECT_EQ(test::xclipPaste("UTF8_STRING"), QString::fromUtf8("unsere Grüße").toUtf8());
    EXPECT_TRUE(decodeHtml(test::xclipPaste("text/html")).contains("<i>ours</i>"));
    EXPECT_EQ(pasteboard->changeCount(), written.value());
    EXPECT_EQ(changed.count(), 0);

    // Reading our own data must not ask our own (blocked) process over X.
    const PasteboardSnapshot snapshot = pasteboard->snapshot(true);
    EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
    EXPECT_TRUE(snapshot.ownedByUs);
    EXPECT_EQ(snapshot.text, QString::fromUtf8("unsere Grüße"));

    copyWithXclip("theirs again");
    EXPECT_FALSE(pasteboard->isOwnedByUs());
    EXPECT_GT(pasteboard->changeCount(), written.value());
}

TEST_F(X11PasteboardTest, ServesALargeImageOfOursInChunks)
{
    const QByteArray png = largePng();
    auto written = pasteboard->write({{"image/png", png}});
    ASSERT_TRUE(written.ok()) << written.error().toStdString();
    EXPECT_TRUE(test::xclipPaste("image/png") == png);
    EXPECT_TRUE(test::xclipPaste("TARGETS").contains("image/png"));
}

// A requestor asking on one property after another and never taking a piece: past the bound it is
// refused, and its transfers are dropped once it has stalled long enough.
TEST_F(X11PasteboardTest, TransfersOfARequestorThatStopsReadingAreBoundedAndDropped)
{
    test::ManualClockScope time;
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", QByteArray(200 * 1024, 'p')}}).ok());
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    const Window requestor = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const auto ask = [&](int count) {
        int answered = 0;
        int accepted = 0;
        for (int i = 0; i < count; ++i)
            XConvertSelection(display, XInternAtom(display, "CLIPBOARD", x11::XFalse), XInternAtom(display, "UTF8_STRING", x11::XFalse),
                              XInternAtom(display, QByteArray("UNREAD_" + QByteArray::number(i)).constData(), x11::XFalse),
                              requestor, x11::XCurrentTime);
        XFlush(display);
        EXPECT_TRUE(QTest::qWaitFor([&] {
            while (XPending(display)) {
                XEvent event;
                XNextEvent(display, &event);
                answered += event.type == SelectionNotify;
                accepted += event.type == SelectionNotify && event.xselection.property != Atom(x11::XNone);
            }
            return answered == count;
        }));
        return accepted;
    };

    EXPECT_EQ(ask(10), X11Pasteboard::maxTransfersPerClient);
    EXPECT_EQ(pasteboard->pendingTransfers(), X11Pasteboard::maxTransfersPerClient);
    time.clock.advance(X11Pasteboard::transferStallTimeout * 2);
    EXPECT_EQ(pasteboard->pendingTransfers(), 0);
    EXPECT_EQ(ask(1), 1) << "a dropped requestor may ask again";
    XCloseDisplay(display);
}

// Another program asking for what Lumra serves, in a process of its own (HostileX11Requestor).
class Requestor {
public:
    explicit Requestor(const QStringList& arguments) { m_process.start(QStringLiteral(LUMRA_HOSTILE_X11_REQUESTOR), arguments); }
    ~Requestor()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // Serves while it waits; the first line that starts with `text` or `orText`, empty when none came.
    QByteArray waitForLine(const QByteArray& text, const QByteArray& orText = QByteArray())
    {
        QByteArray found;
        QTest::qWaitFor(
            [&] {
                m_output += m_process.readAllStandardOutput();
                for (const QByteArray& line : m_output.split('\n')) {
                    if (found.isEmpty() && (line.startsWith(text) || (!orText.isEmpty() && line.startsWith(orText))))
                        found = line;
                }
                return !found.isEmpty();
            },
            20000);
        return found;
    }
    void goOn() { m_process.write("\n"); }

private:
    QProcess m_process;
    QByteArray m_output;
};

QByteArray randomText(qsizetype size)
{
    QByteArray text(size, Qt::Uninitialized);
    for (char& c : text)
        c = char('a' + QRandomGenerator::global()->bounded(26));
    return text;
}

QByteArray doneLine(const QByteArray& data)
{
    quint64 hash = 14695981039346656037ull;
    for (char c : data)
        hash = (hash ^ quint8(c)) * 1099511628211ull;
    return "DONE " + QByteArray::number(data.size()) + ' ' + QByteArray::number(hash);
}

// A program that quits in the middle of a large paste leaves an error for the piece written to its
// gone window; the next program's large paste must not be blamed for it.
TEST_F(X11PasteboardTest, ARequestorLeavingMidwayCostsTheNextPasteNothing)
{
    const QByteArray text = randomText(2 * 1024 * 1024);
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", text}}).ok());
    for (int round = 0; round < 3; ++round) {
        Requestor leaving({QStringLiteral("leave-midway")});
        ASSERT_FALSE(leaving.waitForLine("LEFT").isEmpty());
        EXPECT_TRUE(test::xclipPaste("UTF8_STRING") == text) << "round " << round;
    }
}

// One program asking from many windows holds as many transfers as one asking from one.
TEST_F(X11PasteboardTest, OneProgramAskingFromManyWindowsLeavesRoomForOthers)
{
    const QByteArray text = randomText(200 * 1024);
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", text}}).ok());
    Requestor flood({QString::number(X11Pasteboard::maxTransfers), QStringLiteral("now")});
    ASSERT_FALSE(flood.waitForLine("FLOODING").isEmpty());
    EXPECT_TRUE(test::xclipPaste("UTF8_STRING") == text);
}

// Enough programs, each in a process of its own, to take every transfer and never read: another
// program's paste still gets its bytes.
TEST_F(X11PasteboardTest, ACrowdOfProgramsHoldingEveryTransferLeavesRoomForAPaste)
{
    test::ManualClockScope time; // none of them is dropped for stalling
    const QByteArray text = randomText(200 * 1024);
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", text}}).ok());
    constexpr int programs = X11Pasteboard::maxTransfers / X11Pasteboard::maxTransfersPerClient;
    std::deque<Requestor> crowd;
    for (int i = 0; i < programs; ++i) {
        crowd.emplace_back(QStringList {QString::number(X11Pasteboard::maxTransfersPerClient), QStringLiteral("now")});
        ASSERT_FALSE(crowd.back().waitForLine("FLOODING").isEmpty());
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return pasteboard->pendingTransfers() == X11Pasteboard::maxTransfers; }));
    EXPECT_TRUE(test::xclipPaste("UTF8_STRING") == text);
}

// A program quits in the middle of a paste: the error for the next piece, written to its gone
// window, ends its transfer at once rather than when it has stalled long enough.
TEST_F(X11PasteboardTest, ATransferEndsAtTheErrorForItsGoneWindow)
{
    test::ManualClockScope time;
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", randomText(2 * 1024 * 1024)}}).ok());
    Requestor leaving({QStringLiteral("leave-midway")});
    ASSERT_FALSE(leaving.waitForLine("LEFT").isEmpty());
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    const Atom poke = XInternAtom(display, "LUMRA_TEST_POKE", x11::XFalse);
    // Each poke is an event for Lumra, which settles the errors that came in before it.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        XChangeProperty(display, Window(pasteboard->ownerWindow()), poke, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
        XFlush(display);
        return pasteboard->pendingTransfers() == 0;
    }));
    XCloseDisplay(display);
}

// Lines logged by this process while it lives.
class LogLines {
public:
    explicit LogLines(const QString& rules)
    {
        QLoggingCategory::setFilterRules(rules);
        s_lines = &m_lines;
        s_previous = qInstallMessageHandler(keep);
    }
    ~LogLines()
    {
        qInstallMessageHandler(s_previous);
        s_lines = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }
    bool contains(const QString& text)
    {
        QMutexLocker lock(&s_mutex);
        return std::any_of(m_lines.cbegin(), m_lines.cend(), [&](const QString& line) { return line.contains(text); });
    }

private:
    static void keep(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        {
            QMutexLocker lock(&s_mutex);
            if (s_lines)
                s_lines->append(message);
        }
        if (s_previous)
            s_previous(type, context, message);
    }
    QStringList m_lines;
    static inline QMutex s_mutex;
    static inline QStringList* s_lines = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
};

// A made-up request naming another id of Lumra's X client is no one's: nothing is sent for it and no
// transfer kept.
TEST_F(X11PasteboardTest, ARequestNamingAnotherIdOfLumrasClientIsIgnored)
{
    LogLines log(QStringLiteral("lumra.pasteboard.debug=true"));
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", randomText(200 * 1024)}}).ok());
    Requestor forged({QStringLiteral("owner-client")});
    ASSERT_FALSE(forged.waitForLine("ASKED").isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.contains(QStringLiteral("ignored a clipboard request")); }));
    EXPECT_EQ(pasteboard->pendingTransfers(), 0);
}

// Another program takes the clipboard after a read last looked at the owner and before its request
// reached the server: the request went to that program, and its answer is not the copy being read.
TEST_F(X11PasteboardTest, AnAnswerFromAProgramThatTookTheClipboardBeforeTheRequestIsRefused)
{
    copyWithXclip("the copy being read");
    auto reader = pasteboard->offerReader();
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    beforeNextConvert = [display] {
        const Atom clipboard = XInternAtom(display, "CLIPBOARD", x11::XFalse);
        const Window first = XGetSelectionOwner(display, clipboard);
        EXPECT_TRUE(test::xclipCopy("a later copy"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return XGetSelectionOwner(display, clipboard) != first; }));
    };
    const OfferRead read = reader->data(QStringLiteral("UTF8_STRING"), 1024, QDeadlineTimer(10000));
    beforeNextConvert = nullptr;
    EXPECT_FALSE(read.ok()) << read.bytes.constData();
    EXPECT_EQ(read.error.toStdString(), "The clipboard changed while it was read");
    XCloseDisplay(display);
}

// A request naming Lumra's own window as requestor must leave that window as it was: Lumra learns
// the server's time for each write from its property changes.
TEST_F(X11PasteboardTest, ARequestNamingLumrasOwnWindowChangesNothing)
{
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", randomText(200 * 1024)}}).ok());
    Requestor forged({QStringLiteral("owner-window")});
    ASSERT_FALSE(forged.waitForLine("ASKED").isEmpty());
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", "second"}}).ok());
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", "third"}}).ok());
    // xclip prints the time in decimal; 0 means the write gave up waiting for the server's time.
    bool number = false;
    EXPECT_GT(test::xclipPaste("TIMESTAMP").trimmed().toULongLong(&number), 0u);
    EXPECT_TRUE(number);
    EXPECT_EQ(test::xclipPaste("UTF8_STRING"), "third");
}

// A requestor that takes a piece of a 2 MB text every second finishes, however long it takes in
// all, and a step of the wall clock does not count as time it stalled.
TEST_F(X11PasteboardTest, ASlowButSteadyRequestorFinishesAcrossAStepOfTheClock)
{
    test::ManualClockScope time;
    const QByteArray text = randomText(2 * 1024 * 1024);
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", text}}).ok());
    Requestor slow({QStringLiteral("slow")});
    for (int piece = 0;; ++piece) {
        const QByteArray line = slow.waitForLine("PIECE " + QByteArray::number(piece), "DONE");
        if (!line.startsWith("PIECE"))
            break;
        if (piece == 2)
            time.clock.setNow(time.clock.now().addSecs(3600));
        time.clock.advance(std::chrono::seconds(1));
        slow.goOn();
    }
    EXPECT_EQ(slow.waitForLine("DONE"), doneLine(text));
}

} // namespace

namespace {

// A HostileX11Owner in a process of its own. Its output is waited for without running the event
// loop, so that the pasteboard under test hears nothing meanwhile.
class OwnerProcess {
public:
    explicit OwnerProcess(const QStringList& arguments)
    {
        m_process.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER), arguments);
    }
    ~OwnerProcess()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // The first whole line that starts with `text`, empty when none came within 20 s.
    QByteArray waitForLine(const QByteArray& text)
    {
        const QDeadlineTimer deadline(20000);
        for (;;) {
            for (const QByteArray& line : m_output.left(m_output.lastIndexOf('\n') + 1).split('\n')) {
                if (line.startsWith(text))
                    return line;
            }
            if (deadline.hasExpired() || !m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                return QByteArray();
            m_output += m_process.readAllStandardOutput();
        }
    }
    // A line on its input (see the modes of HostileX11Owner).
    void tell()
    {
        m_process.write("\n");
        m_process.waitForBytesWritten();
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

template <typename T>
bool isReady(const std::future<T>& future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// A read on a thread of its own, as the capture reads: the types, then the text.
std::future<Result<QByteArray>> readTextAside(const std::shared_ptr<OfferReader>& reader, std::chrono::milliseconds within)
{
    // The reader goes (with its channel) when the read ends, not when the future does.
    return std::async(std::launch::async, [held = reader, within]() mutable {
        const std::shared_ptr<OfferReader> reader = std::move(held);
        const QDeadlineTimer deadline(within);
        const Result<QStringList> types = reader->types(deadline);
        if (!types.ok())
            return Result<QByteArray>::failure(types.error());
        OfferRead read = reader->data(QStringLiteral("UTF8_STRING"), 1024, deadline);
        if (!read.ok())
            return Result<QByteArray>::failure(read.error);
        return Result<QByteArray>(std::move(read.bytes));
    });
}

// Owners that never answer, well within the reads' patience, and each replaced by the next.
class StalledOwnersX11Test : public X11PasteboardTest {
protected:
    static constexpr std::chrono::minutes patience {2};

    void SetUp() override
    {
        X11PasteboardTest::SetUp();
        pasteboard->setReadTimeout(patience);
    }
    void TearDown() override
    {
        for (auto& owner : owners)
            owner->tell(); // refuses what it held: every read still waiting ends
        for (auto& read : reads) {
            if (read.valid())
                read.wait();
        }
    }

    // A read kept with the others, so that a failed test still ends it before its patience is up.
    std::future<Result<QByteArray>>& readAside(const std::shared_ptr<OfferReader>& reader)
    {
        reads.push_back(readTextAside(reader, patience));
        return reads.back();
    }

    // A silent owner takes the clipboard, and a read of its copy waits on it.
    void startStalledOwner(const QString& label, int readsOfIt = 1)
    {
        const qint64 before = pasteboard->changeCount();
        owners.push_back(std::make_unique<OwnerProcess>(QStringList {QStringLiteral("silent"), label}));
        ASSERT_FALSE(owners.back()->waitForLine("READY").isEmpty());
        ASSERT_TRUE(waitForChangeAfter(before));
        for (int i = 1; i <= readsOfIt; ++i) {
            readAside(pasteboard->offerReader());
            ASSERT_FALSE(owners.back()->waitForLine("ASKED " + QByteArray::number(i) + ' ').isEmpty());
        }
    }

    std::vector<std::unique_ptr<OwnerProcess>> owners;
    std::deque<std::future<Result<QByteArray>>> reads; // a deque: references to it stay valid
};

// Eight owners of copies each replaced by the next hold every read channel, never answering: the
// newest copy, from a program that answers, is still read at once.
TEST_F(StalledOwnersX11Test, StalledOwnersOfReplacedCopiesDoNotHoldBackTheNewestCopy)
{
    for (int i = 0; i < X11Pasteboard::maxReadChannels; ++i)
        ASSERT_NO_FATAL_FAILURE(startStalledOwner(QString::number(i)));
    for (const auto& read : reads)
        ASSERT_FALSE(isReady(read)) << "a stalled read ended before the newest copy came";

    copyWithXclip("the newest copy");
    auto& newest = readAside(pasteboard->offerReader());
    ASSERT_TRUE(QTest::qWaitFor([&] { return isReady(newest); }, 20000)) << "the newest copy waited for a channel";
    const Result<QByteArray> text = newest.get();
    ASSERT_TRUE(text.ok()) << text.error().toStdString();
    EXPECT_EQ(text.value(), "the newest copy");
}

// Every channel is held by reads of the copy on the clipboard, and one more read of it waits: once
// a later copy is made, that read gives up at once rather than waiting for a channel.
TEST_F(StalledOwnersX11Test, AReadWaitingForAChannelGivesUpOnceALaterCopyIsMade)
{
    ASSERT_NO_FATAL_FAILURE(startStalledOwner(QStringLiteral("held"), X11Pasteboard::maxReadChannels));
    const size_t holding = reads.size();
    auto& waiting = readAside(pasteboard->offerReader());
    ASSERT_TRUE(QTest::qWaitFor([&] { return pasteboard->readsWaitingForAChannel() == 1; }, 20000));

    copyWithXclip("a later copy");
    ASSERT_TRUE(QTest::qWaitFor([&] { return isReady(waiting); }, 20000)) << "the read went on waiting";
    EXPECT_FALSE(waiting.get().ok());
    for (size_t i = 0; i < holding; ++i)
        EXPECT_FALSE(isReady(reads[i])) << "reads that hold a channel read on";
}

// A window takes the clipboard again before the read of its first copy begins, and only that read's
// own connection has heard of it: the read must not take the second copy's answers for the first's.
TEST_F(X11PasteboardTest, AReadBegunAfterItsWindowTookTheClipboardAgainReadsNothing)
{
    const qint64 before = pasteboard->changeCount();
    OwnerProcess owner({QStringLiteral("retake-on-input")});
    ASSERT_FALSE(owner.waitForLine("READY").isEmpty());
    ASSERT_TRUE(waitForChangeAfter(before));
    const auto reader = pasteboard->offerReader();
    // No event loop runs from here on: the pasteboard itself does not learn of the second taking.
    owner.tell();
    ASSERT_FALSE(owner.waitForLine("RETAKEN").isEmpty());

    const Result<QStringList> types = reader->types(QDeadlineTimer(20000));
    EXPECT_FALSE(types.ok()) << "read the second copy's types: " << types.value().join(u' ').toStdString();
}

// A flood of takings made while the main thread was busy is taken in whole when the event loop next
// turns, and announced once: not handed over a batch a turn, each batch a change to look at.
TEST_F(X11PasteboardTest, AFloodOfTakingsIsTakenInWholeAndAnnouncedOnce)
{
    constexpr int takings = 20000;
    const qint64 before = pasteboard->changeCount();
    QSignalSpy changed(pasteboard.get(), &Pasteboard::changed);
    OwnerProcess flood({QStringLiteral("flood"), QString::number(takings)});
    ASSERT_FALSE(flood.waitForLine("FLOODED").isEmpty());

    ASSERT_TRUE(changed.wait(20000));
    EXPECT_EQ(pasteboard->changeCount(), before + takings);
    QCoreApplication::sendPostedEvents(pasteboard.get(), QEvent::MetaCall); // a changed() still queued
    EXPECT_EQ(changed.count(), 1);
}

// A read channel hears every taking while it is idle; the next read takes them in a piece at a time
// instead of holding the whole flood in memory at once.
TEST_F(X11PasteboardTest, AReadAfterAFloodHoldsNoneOfItsTakingsAtOnce)
{
    copyWithXclip("before the flood");
    ASSERT_TRUE(pasteboard->offerReader()->types(QDeadlineTimer(20000)).ok()); // a channel, idle from here on
    constexpr int takings = 100000;
    const qint64 before = pasteboard->changeCount();
    {
        OwnerProcess flood({QStringLiteral("flood"), QString::number(takings)});
        ASSERT_FALSE(flood.waitForLine("FLOODED").isEmpty());
    }
    QSignalSpy changed(pasteboard.get(), &Pasteboard::changed);
    while (pasteboard->changeCount() < before + takings + 1) // the flood's window went with it
        ASSERT_TRUE(changed.wait(20000));

    const auto peak = test::peakHeldDuring([&] { (void)pasteboard->offerReader()->types(QDeadlineTimer(20000)); });
    if (!peak)
        GTEST_SKIP() << "what is held is not measured without the sanitizer runtime";
    EXPECT_LT(*peak, size_t(takings) * 32); // the flood's events as they came over the wire
}

// An owner that never answers leaves Lumra's requestor window in place for its late answer; when no
// other read comes to use that channel, the window is still destroyed in time.
TEST_F(X11PasteboardTest, AWindowKeptForALateAnswerGoesInTimeThoughTheChannelIsNotUsedAgain)
{
    test::ManualClockScope time;
    pasteboard->setReadTimeout(std::chrono::milliseconds(100));
    const qint64 before = pasteboard->changeCount();
    OwnerProcess owner({QStringLiteral("silent")});
    ASSERT_FALSE(owner.waitForLine("READY").isEmpty());
    ASSERT_TRUE(waitForChangeAfter(before));
    EXPECT_FALSE(pasteboard->offerReader()->types(QDeadlineTimer(20000)).ok());
    const QList<QByteArray> asked = owner.waitForLine("ASKED 1 ").split(' ');
    ASSERT_EQ(asked.size(), 3);
    const Window requestor = asked[2].toULong();

    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    XErrorHandler previous = XSetErrorHandler(ignoreXErrors);
    const auto exists = [&] {
        XWindowAttributes attributes;
        return XGetWindowAttributes(display, requestor, &attributes) != 0;
    };
    EXPECT_TRUE(exists()) << "the window went before its late answer could come";
    time.clock.advance(std::chrono::minutes(1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !exists(); }, 20000)) << "the window outlived its time";
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    pasteboard.reset(); // its timers are on the manual clock
}

} // namespace

namespace {

// A program hands its copy over, then marks it secret from a second X connection of its own: the
// copy read is not the one it meant, though the marked one came from another client.
TEST_F(X11PasteboardTest, ACopyItsProgramMarkedFromAnotherConnectionIsNotTakenAsRead)
{
    const qint64 before = pasteboard->changeCount();
    SelectionOwner unmarked(QList<PasteboardRepresentation> {{"UTF8_STRING", "hunter2"}});
    ASSERT_TRUE(waitForChangeAfter(before));
    const auto reader = pasteboard->offerReader();
    ASSERT_TRUE(reader->types(QDeadlineTimer(20000)).ok());
    ASSERT_EQ(reader->data(QStringLiteral("UTF8_STRING"), 1024, QDeadlineTimer(20000)).bytes, "hunter2");

    SelectionOwner marked({{"UTF8_STRING", "hunter2"}, {"x-kde-passwordManagerHint", "secret"}});
    EXPECT_FALSE(reader->readFromItsOwner());
    EXPECT_EQ(reader->whyNotFromItsOwner().toStdString(), "Its owner copied again while it was read");
}

// Programs that exit once replaced (as xclip does) leave their client number to the next one to
// connect: a copy followed by other programs, one of them on its owner's number and even its
// window id, was still read from its owner.
TEST_F(X11PasteboardTest, ACopyFollowedByAnotherProgramOnItsOwnersClientNumberIsTakenAsRead)
{
    Display* display = XOpenDisplay(nullptr); // before the first owner goes, so as not to take its number
    ASSERT_TRUE(display);
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", x11::XFalse);
    const qint64 before = pasteboard->changeCount();
    auto first = std::make_unique<OwnerProcess>(QStringList {QStringLiteral("rich"), QStringLiteral("first")});
    ASSERT_FALSE(first->waitForLine("READY").isEmpty());
    ASSERT_TRUE(waitForChangeAfter(before));
    const auto reader = pasteboard->offerReader();
    const Window firstWindow = reader->ownerWindow();
    ASSERT_TRUE(reader->types(QDeadlineTimer(20000)).ok());
    ASSERT_TRUE(reader->data(QStringLiteral("UTF8_STRING"), 1024, QDeadlineTimer(20000)).ok());

    OwnerProcess second({QStringLiteral("rich"), QStringLiteral("second")});
    ASSERT_FALSE(second.waitForLine("READY").isEmpty());
    first.reset();
    XErrorHandler previous = XSetErrorHandler(ignoreXErrors);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        XWindowAttributes attributes;
        return XGetWindowAttributes(display, firstWindow, &attributes) == 0;
    }));
    XSetErrorHandler(previous);
    OwnerProcess third({QStringLiteral("rich"), QStringLiteral("third")});
    ASSERT_FALSE(third.waitForLine("READY").isEmpty());
    ASSERT_EQ(XGetSelectionOwner(display, clipboard), firstWindow) << "the third program got a client number of its own";
    XCloseDisplay(display);

    EXPECT_TRUE(reader->readFromItsOwner()) << reader->whyNotFromItsOwner().toStdString();
}

class OwnerSnapshotX11Test : public X11PasteboardTest {
protected:
    // What Lumra reads of a HostileX11Owner copying in `mode`.
    PasteboardSnapshot snapshotOf(const char* mode)
    {
        const qint64 before = pasteboard->changeCount();
        OwnerProcess owner({QString::fromLatin1(mode)});
        if (owner.waitForLine("READY").isEmpty() || !waitForChangeAfter(before)) {
            ADD_FAILURE() << "the owner did not copy";
            return {};
        }
        return pasteboard->snapshot(true);
    }
};

TEST_F(OwnerSnapshotX11Test, AMarkerListedAfterThousandsOfTypesConcealsTheCopy)
{
    const PasteboardSnapshot snapshot = snapshotOf("late-hint");
    EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
    EXPECT_TRUE(snapshot.concealed);
    EXPECT_FALSE(snapshot.text.has_value());
}

// A list too long to look through for markers costs the copy, and says why.
TEST_F(OwnerSnapshotX11Test, ATypeListTooLongToReadWholeIsRefused)
{
    const PasteboardSnapshot snapshot = snapshotOf("long-list");
    EXPECT_FALSE(snapshot.text.has_value());
    EXPECT_EQ(snapshot.refusal.toStdString(), "its owner lists more than 1048576 types, too many to look for markers in");
}

} // namespace

namespace {

// A server that tells no client's process (an old one, or a remote program).
class UntoldProcessX11Test : public X11PasteboardTest {
protected:
    void SetUp() override
    {
        X11PasteboardTest::SetUp();
        serverTellsNoProcess = true;
        display = XOpenDisplay(nullptr);
        ASSERT_TRUE(display);
    }
    void TearDown() override
    {
        serverTellsNoProcess = false;
        if (display)
            XCloseDisplay(display);
    }

    // What the owner of `window` says its process is.
    void claimProcess(unsigned long window, unsigned long pid)
    {
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", x11::XFalse), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
        XSync(display, x11::XFalse);
    }

    // A copy read whole, then another program's copy.
    std::shared_ptr<OfferReader> readThenCopyAgain(unsigned long firstPid, unsigned long secondPid)
    {
        const qint64 before = pasteboard->changeCount();
        first.emplace(QList<PasteboardRepresentation> {{"UTF8_STRING", "first"}});
        if (firstPid)
            claimProcess(first->window(), firstPid);
        EXPECT_TRUE(waitForChangeAfter(before));
        auto reader = pasteboard->offerReader();
        EXPECT_TRUE(reader->types(QDeadlineTimer(20000)).ok());
        EXPECT_TRUE(reader->data(QStringLiteral("UTF8_STRING"), 1024, QDeadlineTimer(20000)).ok());
        second.emplace(QList<PasteboardRepresentation> {{"UTF8_STRING", "second"}});
        if (secondPid)
            claimProcess(second->window(), secondPid);
        return reader;
    }

    Display* display = nullptr;
    std::optional<SelectionOwner> first;
    std::optional<SelectionOwner> second;
};

TEST_F(UntoldProcessX11Test, TheOwnersOwnWordTellsTwoProgramsApart)
{
    const auto reader = readThenCopyAgain(4000001, 4000002);
    EXPECT_TRUE(reader->readFromItsOwner()) << reader->whyNotFromItsOwner().toStdString();
}

// Had the same program marked it secret, keeping it would keep a secret: it is given up, and said.
TEST_F(UntoldProcessX11Test, ACopyFollowedAtOnceByAnUntoldProgramIsNotTakenAsRead)
{
    const auto reader = readThenCopyAgain(0, 0);
    EXPECT_FALSE(reader->readFromItsOwner());
    EXPECT_EQ(reader->whyNotFromItsOwner().toStdString(),
              "Another copy followed it at once, and which program made either is unknown");
}

} // namespace
