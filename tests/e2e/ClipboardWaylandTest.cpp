// The clipboard road of a Wayland session: wl-clipboard is the other application, each side in
// a process of its own, under a headless Sway.
#include "EngineFixture.h"
#include "StoppedCompositor.h"
#include "TempDataDir.h"
#include "WlClipboard.h"
#include "engine/ItemMedia.h"
#include "platform/image/ImageDecoding.h"
#include "platform/keys/EventWait.h"
#include "platform/pasteboard/PasteboardTypes.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/pasteboard/OfferReader.h"
#include "ThisProgram.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QUrl>

#include <iostream>

#include <csignal>
#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>

using namespace lumra;

namespace {

const char* const sourceVariable = "LUMRA_WAYLAND_SOURCE";

// Noise compresses badly: the PNG is many times a pipe's buffer, so it crosses in many pieces.
QByteArray noisePng()
{
    QImage picture(400, 400, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            picture.setPixel(x, y, seed >> 8);
        }
    }
    return image::encodePng(picture).value();
}

// The compositor's end of every connection this process holds to it goes away, as when the
// compositor drops a client: the socket is shut down under the connection's feet.
int breakCompositorConnections()
{
    const QByteArray socketPath = qgetenv("WAYLAND_DISPLAY");
    int broken = 0;
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds)
        return 0;
    while (dirent* entry = ::readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_un peer {};
        socklen_t length = sizeof peer;
        if (fd <= 2 || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || peer.sun_family != AF_UNIX)
            continue;
        if (socketPath == peer.sun_path && ::shutdown(fd, SHUT_RDWR) == 0)
            ++broken;
    }
    ::closedir(fds);
    return broken;
}

// The warnings logged while it lives.
class LoggedWarnings {
public:
    LoggedWarnings()
    {
        s_current = this;
        m_previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (type == QtWarningMsg) {
                QMutexLocker lock(&s_current->m_mutex);
                s_current->m_texts << text;
            }
            s_current->m_previous(type, context, text);
        });
    }
    ~LoggedWarnings()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QString joined() const
    {
        QMutexLocker lock(&m_mutex);
        return m_texts.join('\n');
    }

private:
    static inline LoggedWarnings* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex; // the connection's thread logs too
    QStringList m_texts;
};

class ClipboardWaylandTest : public test::EngineTest {
protected:
    void SetUp() override
    {
        wayland = WaylandPasteboard::create();
        ASSERT_NE(wayland, nullptr) << "needs a Wayland compositor with a clipboard data-control protocol";
        manager = start([this](ClipboardManagerServices& services) { services.pasteboard = wayland.get(); });
    }
    void TearDown() override
    {
        manager.reset();
        if (source.state() != QProcess::NotRunning) {
            source.kill();
            source.waitForFinished();
        }
    }

    // Another application (this program in source mode) takes the clipboard; true once Lumra saw it.
    bool startSource(const QString& mode)
    {
        QSignalSpy changed(wayland.get(), &Pasteboard::changed);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(sourceVariable, mode);
        source.setProcessEnvironment(environment);
        lumra::test::startThisProgram(source, {"--gtest_filter=WaylandSourceProcess.*"});
        return test::processEventsUntil([&] { return source.readAllStandardOutput().contains("READY"); }, 10000)
            && test::processEventsUntil([&] { return !changed.isEmpty(); }, 10000);
    }

    bool waitForItems(qsizetype count)
    {
        return test::processEventsUntil([&] { return manager->clipboardItems().size() >= count; }, 20000);
    }
    const ClipboardItem& newest() const { return manager->clipboardItems().last(); }

    std::unique_ptr<WaylandPasteboard> wayland;
    std::unique_ptr<ClipboardManager> manager;
    QProcess source;
};

} // namespace

namespace {

// Whether a helper printed a line starting with `text`; the lines after it are left to read, and
// those read while waiting for another are kept (a source may be asked before it says READY).
bool waitForLine(QProcess& helper, const QByteArray& text, int timeoutMs)
{
    return test::processEventsUntil(
        [&] {
            QList<QByteArray> kept = helper.property("keptLines").value<QList<QByteArray>>();
            bool found = false;
            for (qsizetype i = 0; i < kept.size() && !found; ++i) {
                if (kept[i].startsWith(text)) {
                    kept.remove(i);
                    found = true;
                }
            }
            while (!found && helper.canReadLine()) {
                const QByteArray line = helper.readLine();
                if (line.startsWith(text))
                    found = true;
                else
                    kept.append(line);
            }
            helper.setProperty("keptLines", QVariant::fromValue(kept));
            return found;
        },
        timeoutMs);
}

// A source of the trickling helper's, in a process of its own; true once it owns the clipboard.
bool startTricklingSource(QProcess& source, const QStringList& arguments)
{
    source.start(QStringLiteral(LUMRA_TRICKLING_WAYLAND_SOURCE), arguments);
    return source.waitForStarted() && waitForLine(source, "READY", 30000);
}

// The marking helper, in a process of its own: each command line's copies are made once it says SET.
class MarkingSource {
public:
    MarkingSource() { m_process.start(QStringLiteral(LUMRA_MARKING_WAYLAND_SOURCE)); }
    ~MarkingSource()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool started() { return m_process.waitForStarted() && waitForLine(m_process, "READY", 30000); }
    bool run(const QByteArray& steps)
    {
        m_process.write(steps + '\n');
        return test::processEventsUntil(
            [&] {
                while (m_process.canReadLine()) {
                    const QByteArray line = m_process.readLine().trimmed();
                    if (line.startsWith("SET")) {
                        m_span = std::chrono::milliseconds(line.mid(4).toLongLong());
                        return true;
                    }
                }
                return false;
            },
            20000);
    }
    // Between the first and the last copy of the last line run, as the helper sent them.
    std::chrono::milliseconds span() const { return m_span; }

private:
    QProcess m_process;
    std::chrono::milliseconds m_span {0};
};

// Every content the clipboard holds, in order, as another program watching it sees it.
class ClipboardWatch {
public:
    ClipboardWatch()
    {
        m_process.start("wl-paste", {"--no-newline", "--watch", "sh", "-c", "printf '[%s]\\n' \"$(cat)\""});
    }
    ~ClipboardWatch()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool waitFor(const QString& text)
    {
        return test::processEventsUntil([&] { return seen().contains(text); }, 20000);
    }
    QStringList seen()
    {
        m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        QStringList contents;
        for (const QString& line : m_output.split('\n', Qt::SkipEmptyParts))
            contents << line.mid(1, line.size() - 2);
        return contents;
    }

private:
    QProcess m_process;
    QString m_output;
};

} // namespace

// Source mode only: another application copies a password with the password manager's hint and
// keeps serving it.
TEST(WaylandSourceProcess, OffersAConcealedCopy)
{
    if (!qEnvironmentVariableIsSet(sourceVariable))
        GTEST_SKIP() << "runs as the other application of ClipboardWaylandTest";
    auto pasteboard = WaylandPasteboard::create();
    ASSERT_NE(pasteboard, nullptr);
    ASSERT_TRUE(pasteboard->write({{PasteboardMime::textUtf8, "hunter2"}, {PasteboardMime::passwordManagerHint, "secret"}}));
    std::cout << "READY" << std::endl;
    test::processEventsUntil([&] { return !pasteboard->isOwnedByUs(); }, 20000);
}

TEST_F(ClipboardWaylandTest, CopiesMadeWithWlCopyAreStored)
{
    ASSERT_TRUE(test::wlCopy(QString::fromUtf8("Grüße from wl-copy").toUtf8()));
    ASSERT_TRUE(waitForItems(1));
    EXPECT_EQ(newest().contentType, ClipboardContentType::text);
    EXPECT_EQ(newest().textContent, QString::fromUtf8("Grüße from wl-copy"));

    ASSERT_TRUE(test::wlCopy(noisePng(), "image/png"));
    ASSERT_TRUE(waitForItems(2));
    EXPECT_EQ(newest().contentType, ClipboardContentType::image);
    const std::optional<QByteArray> stored = manager->media().imageData(newest());
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(image::decodeImage(*stored).value().size(), QSize(400, 400));

    test::TempDataDir files;
    QDir(files.root()).mkdir("folder");
    const QString folder = QUrl::fromLocalFile(files.root() + "/folder").toString();
    const QString file = QUrl::fromLocalFile(files.root() + "/notes.txt").toString();
    QFile(files.root() + "/notes.txt").open(QIODevice::WriteOnly);
    ASSERT_TRUE(test::wlCopy((file + "\r\n" + folder + "\r\n").toUtf8(), "text/uri-list"));
    ASSERT_TRUE(waitForItems(3));
    EXPECT_EQ(newest().contentType, ClipboardContentType::file);
    EXPECT_EQ(newest().fileURLStrings, (QStringList {file, folder + "/"}));

    // Each copy was captured once, by the change event or the poll but not both: a second
    // capture would bring the row forward.
    const QDateTime added = newest().dateAdded;
    manager->captureService()->checkClipboard();
    test::finishPendingCaptures(*manager);
    EXPECT_EQ(manager->clipboardItems().size(), 3);
    EXPECT_EQ(newest().dateAdded, added);
}

TEST_F(ClipboardWaylandTest, APasswordManagerCopyIsNotStored)
{
    ASSERT_TRUE(startSource("concealed"));
    EXPECT_TRUE(wayland->types().value().contains(PasteboardMime::passwordManagerHint));
    manager->captureService()->checkClipboard();

    ASSERT_TRUE(test::wlCopy("after the password"));
    ASSERT_TRUE(waitForItems(1));
    ASSERT_EQ(manager->clipboardItems().size(), 1);
    EXPECT_EQ(newest().textContent, "after the password");
}

// A password manager offers a text and marks it as a secret a moment later: the plain offer was
// the secret, and no row holds it, however soon within the settle window the marked one came. A
// round the machine stretched past the window is made again.
TEST_F(ClipboardWaylandTest, ATextMarkedSecretRightAfterItWasOfferedIsNotStored)
{
    MarkingSource source;
    ASSERT_TRUE(source.started());
    QStringList secrets;
    int attempt = 0;
    for (int delay : {0, 5, 40, 100}) {
        for (int round = 0; round < 4; ++round) {
            for (bool held = false; !held;) {
                ASSERT_LT(++attempt, 100) << "the machine never made a round within the window";
                const QString secret = QStringLiteral("secret %1 after %2 ms (%3)").arg(round).arg(delay).arg(attempt);
                ASSERT_TRUE(source.run(QStringLiteral("copy %1;pause %2;mark %1").arg(secret).arg(delay).toUtf8()));
                held = source.span() < OfferLimits::concealedCopyWithin;
                if (held)
                    secrets << secret;
                // Lumra is done with both once it stored the next copy.
                const QString next = QStringLiteral("next to ") + secret;
                ASSERT_TRUE(test::wlCopy(next.toUtf8()));
                ASSERT_TRUE(test::processEventsUntil(
                    [&] { return !manager->clipboardItems().isEmpty() && newest().textContent == next; }, 20000))
                    << next.toStdString();
            }
        }
    }
    for (const ClipboardItem& item : manager->clipboardItems())
        EXPECT_FALSE(secrets.contains(item.textContent.value_or(QString()))) << item.textContent->toStdString();
}

// Wayland does not say which program copied: only a marked copy voids the one before it, and any
// other copy that follows leaves what was read of it to be stored.
TEST_F(ClipboardWaylandTest, OnlyACopyMarkedSecretVoidsTheCopyBeforeIt)
{
    MarkingSource source;
    ASSERT_TRUE(source.started());
    const auto readThenFollow = [&](const QByteArray& first, const QByteArray& then) {
        const qint64 before = wayland->changeCount();
        EXPECT_TRUE(source.run("copy " + first));
        EXPECT_TRUE(test::processEventsUntil([&] { return wayland->changeCount() > before; }, 10000));
        std::shared_ptr<OfferReader> reader = wayland->offerReader();
        EXPECT_EQ(reader->data(PasteboardMime::textUtf8, 1024, QDeadlineTimer(OfferLimits::wholeOffer)).bytes, first);
        const qint64 read = wayland->changeCount();
        EXPECT_TRUE(source.run(then));
        EXPECT_TRUE(test::processEventsUntil([&] { return wayland->changeCount() > read; }, 10000));
        return reader->readFromItsOwner();
    };
    EXPECT_TRUE(readThenFollow("an address", "copy another address"));
    EXPECT_FALSE(readThenFollow("hunter2", "mark hunter2"));

    // Answered past the window since the copy (a busy program): it may still mark what it has
    // just handed over.
    const qint64 before = wayland->changeCount();
    ASSERT_TRUE(source.run("slow hunter3"));
    ASSERT_TRUE(test::processEventsUntil([&] { return wayland->changeCount() > before; }, 10000));
    std::shared_ptr<OfferReader> reader = wayland->offerReader();
    EXPECT_EQ(reader->data(PasteboardMime::textUtf8, 1024, QDeadlineTimer(OfferLimits::wholeOffer)).bytes, "hunter3");
    EXPECT_FALSE(reader->readFromItsOwner());
}

// The copy marking the one before it lists 30,000 types: more than the compositor can pass on, so
// Lumra may never hear of it whole, and its connection is lost instead. The copy before it is
// voided all the same.
TEST_F(ClipboardWaylandTest, ACopyMarkedSecretWithTensOfThousandsOfTypesVoidsTheCopyBeforeIt)
{
    MarkingSource source;
    ASSERT_TRUE(source.started());
    const qint64 before = wayland->changeCount();
    ASSERT_TRUE(source.run("copy hunter2"));
    ASSERT_TRUE(test::processEventsUntil([&] { return wayland->changeCount() > before; }, 10000));
    std::shared_ptr<OfferReader> reader = wayland->offerReader();
    ASSERT_EQ(reader->data(PasteboardMime::textUtf8, 1024, QDeadlineTimer(OfferLimits::wholeOffer)).bytes, "hunter2");
    const qint64 read = wayland->changeCount();
    const int attempts = wayland->reconnectAttempts();
    ASSERT_TRUE(source.run("crowd hunter2"));
    // Heard whole, or the connection lost for it.
    ASSERT_TRUE(test::processEventsUntil(
        [&] { return wayland->changeCount() > read || wayland->reconnectAttempts() > attempts; }, 20000));
    EXPECT_FALSE(reader->readFromItsOwner());
}

TEST_F(ClipboardWaylandTest, AnOwnerThatNeverAnswersCostsOneTimeoutAndNothingIsStored)
{
    QSignalSpy changed(wayland.get(), &Pasteboard::changed);
    QProcess silent;
    ASSERT_TRUE(startTricklingSource(silent, {"--silent"}));
    ASSERT_TRUE(test::processEventsUntil([&] { return !changed.isEmpty(); }, 10000));
    QElapsedTimer clock;
    clock.start();
    manager->captureService()->checkClipboard();
    EXPECT_LT(clock.elapsed(), 5000) << "the read gave up instead of waiting for the owner";
    EXPECT_TRUE(manager->clipboardItems().isEmpty());

    ASSERT_TRUE(test::wlCopy("after the silent owner"));
    ASSERT_TRUE(waitForItems(1));
    EXPECT_EQ(newest().textContent, "after the silent owner");
}

TEST_F(ClipboardWaylandTest, WriteBackIsReadByWlPasteWithTheTypesOfX11)
{
    ClipboardItem text;
    text.textContent = QString::fromUtf8("Grüße back from the history");
    text = test::insertItem(*manager, text);
    ASSERT_TRUE(test::copyToPasteboardHeld(*manager, text));

    const QList<QByteArray> types = test::wlPaste({"--list-types"}).split('\n');
    for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT", "STRING"})
        EXPECT_TRUE(types.contains(type)) << type;
    EXPECT_EQ(test::wlPaste({"--no-newline", "--type", "text/plain;charset=utf-8"}),
              QString::fromUtf8("Grüße back from the history").toUtf8());
    EXPECT_EQ(test::wlPaste({"--no-newline", "--type", "STRING"}),
              QString::fromUtf8("Grüße back from the history").toLatin1());
    // Lumra's own write is not captured again (which would bring the row forward).
    const QDateTime written = manager->clipboardItems().first().dateAdded;
    manager->captureService()->checkClipboard();
    test::finishPendingCaptures(*manager);
    EXPECT_EQ(manager->clipboardItems().size(), 1);
    EXPECT_EQ(manager->clipboardItems().first().dateAdded, written);
    EXPECT_EQ(manager->lastChangeCount(), wayland->changeCount());

    const QByteArray png = noisePng();
    ASSERT_GT(png.size(), 256 * 1024);
    ClipboardItem image;
    image.contentType = ClipboardContentType::image;
    image.imageFileName = image::imageFileName(png);
    image = test::insertItem(*manager, image, test::withImageData(png));
    ASSERT_TRUE(test::copyToPasteboardHeld(*manager, image));
    const QList<QByteArray> imageTypes = test::wlPaste({"--list-types"}).split('\n');
    EXPECT_TRUE(imageTypes.contains("image/png"));
    EXPECT_TRUE(imageTypes.contains("text/uri-list"));
    EXPECT_EQ(test::wlPaste({"--type", "image/png"}), png);

    // Another application's copy takes the clipboard from Lumra and is captured.
    ASSERT_TRUE(test::wlCopy("taken over"));
    ASSERT_TRUE(test::processEventsUntil([&] { return !wayland->isOwnedByUs(); }, 10000));
    ASSERT_TRUE(test::processEventsUntil([&] { return newest().textContent == "taken over"; }, 20000));
}

// Another application takes the clipboard thousands of times while Lumra's main thread is busy;
// the next copy is stored and writing back still works.
TEST_F(ClipboardWaylandTest, AFloodOfCopiesWhileBusyLeavesRecordingAndWritingBack)
{
    ASSERT_TRUE(test::wlCopy("before the flood"));
    ASSERT_TRUE(waitForItems(1));

    LoggedWarnings warnings;
    QProcess flood;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ASAN_OPTIONS", "detect_leaks=0"); // it leaves the compositor's last offers alone
    flood.setProcessEnvironment(environment);
    flood.start(QStringLiteral(LUMRA_FLOODING_WAYLAND_SOURCE), {"4500"});
    ASSERT_TRUE(flood.waitForStarted());
    // The main thread hears nothing of the flood until it is over.
    ASSERT_TRUE(flood.waitForFinished(120000));
    ASSERT_EQ(flood.exitCode(), 0) << flood.readAllStandardError().toStdString();
    ASSERT_TRUE(flood.readAllStandardOutput().contains("DONE"));

    ASSERT_TRUE(test::wlCopy("after the flood"));
    EXPECT_TRUE(test::processEventsUntil([&] { return newest().textContent == "after the flood"; }, 20000));
    // A busy machine may still lose the connection to the flood; Lumra then said so and came back.
    EXPECT_EQ(warnings.joined().count("connection broke"), warnings.joined().count("recorded again"))
        << warnings.joined().toStdString();

    ClipboardItem item = manager->clipboardItems().first();
    ASSERT_TRUE(test::copyToPasteboardHeld(*manager, item));
    EXPECT_EQ(test::wlPaste({"--no-newline"}), item.textContent->toUtf8());
}

// When the compositor drops Lumra's clipboard connection, Lumra connects again and goes on.
TEST_F(ClipboardWaylandTest, RecordingAndWritingBackGoOnAfterTheConnectionBreaks)
{
    ASSERT_TRUE(test::wlCopy("before the break"));
    ASSERT_TRUE(waitForItems(1));

    ASSERT_EQ(breakCompositorConnections(), 1);
    ASSERT_TRUE(test::wlCopy("after the break"));
    EXPECT_TRUE(test::processEventsUntil([&] { return newest().textContent == "after the break"; }, 20000));

    ClipboardItem item = manager->clipboardItems().first();
    ASSERT_TRUE(test::processEventsUntil([&] { return test::copyToPasteboardHeld(*manager, item); }, 10000));
    EXPECT_EQ(test::wlPaste({"--no-newline"}), item.textContent->toUtf8());
}


// A copy offering a great many types makes the compositor give up on Lumra, which it learns only
// when it next speaks; Lumra finds out within seconds, says so once, connects again and records
// the next copy.
TEST_F(ClipboardWaylandTest, ACopyOfTwentyThousandTypesLeavesRecordingOn)
{
    LoggedWarnings warnings;
    QProcess manyTypes;
    ASSERT_TRUE(startTricklingSource(manyTypes, {"--silent", "--types", "20000"}));
    // Found out within seconds, before anything else happens on the clipboard.
    EXPECT_TRUE(test::processEventsUntil([&] { return warnings.joined().contains("connection broke"); }, 10000));
    // Connected again, or tried several times while the copy stands.
    EXPECT_TRUE(test::processEventsUntil(
        [&] { return warnings.joined().contains("recorded again") || wayland->reconnectAttempts() >= 3; }, 20000))
        << warnings.joined().toStdString();

    ASSERT_TRUE(test::wlCopy("after the many types"));
    EXPECT_TRUE(test::processEventsUntil(
        [&] { return !manager->clipboardItems().isEmpty() && newest().textContent == "after the many types"; }, 30000))
        << warnings.joined().toStdString();
    EXPECT_LE(warnings.joined().count("connection broke"), 1) << warnings.joined().toStdString();
    manyTypes.kill();
    manyTypes.waitForFinished();
}

// A copy of thousands of types costs Lumra the few it reads: the rest are dropped as they come,
// and the next copy is heard, also after a copy of more types than the compositor can pass on.
TEST_F(ClipboardWaylandTest, ACopyOfThousandsOfTypesKeepsOnlyTheTypesLumraReads)
{
    QProcess manyTypes;
    ASSERT_TRUE(startTricklingSource(manyTypes, {"--silent", "--types", "1500"}));
    QStringList types;
    ASSERT_TRUE(test::processEventsUntil(
        [&] {
            const Result<QStringList> listed = wayland->types();
            types = listed ? listed.value() : QStringList();
            return types.contains("application/x-made-up-type-0");
        },
        20000))
        << types.size() << " types";
    EXPECT_TRUE(types.contains(PasteboardMime::textUtf8));
    EXPECT_LE(types.size(), 64);
    ASSERT_TRUE(test::wlCopy("after fifteen hundred types"));
    EXPECT_TRUE(test::processEventsUntil(
        [&] { return !manager->clipboardItems().isEmpty() && newest().textContent == "after fifteen hundred types"; }, 20000));
    manyTypes.kill();
    manyTypes.waitForFinished();

    ASSERT_TRUE(startTricklingSource(manyTypes, {"--silent", "--types", "10000"}));
    ASSERT_TRUE(test::wlCopy("after ten thousand types"));
    EXPECT_TRUE(test::processEventsUntil(
        [&] { return newest().textContent == "after ten thousand types"; }, 20000));
    manyTypes.kill();
    manyTypes.waitForFinished();
}

// Reads of an offer end at once when the connection is gone: the copy is read again on the
// next connection, and the read threads are free for it.
TEST_F(ClipboardWaylandTest, AReadOnALostConnectionEndsAtOnce)
{
    QSignalSpy changed(wayland.get(), &Pasteboard::changed);
    QProcess silent;
    ASSERT_TRUE(startTricklingSource(silent, {"--silent"}));
    ASSERT_TRUE(test::processEventsUntil([&] { return !changed.isEmpty(); }, 10000));
    std::shared_ptr<OfferReader> reader = wayland->offerReader();
    ASSERT_EQ(breakCompositorConnections(), 1);
    const OfferRead read = reader->data(PasteboardMime::textUtf8, 1024, QDeadlineTimer(OfferLimits::wholeOffer));
    EXPECT_EQ(read.outcome, OfferRead::Outcome::refused) << read.error.toStdString();
    EXPECT_TRUE(read.error.contains("connection was lost")) << read.error.toStdString();
}

// Owners that never write hold reads; the user's copies made meanwhile are each stored.
TEST_F(ClipboardWaylandTest, OwnersThatNeverWriteLoseNoneOfTheUserCopiesAfterThem)
{
    std::vector<std::unique_ptr<QProcess>> silent;
    for (int i = 0; i < 6; ++i) {
        silent.push_back(std::make_unique<QProcess>());
        ASSERT_TRUE(startTricklingSource(*silent.back(), {"--silent"}));
        // Each owner is seen on its own: Lumra's read of it has reached it.
        ASSERT_TRUE(waitForLine(*silent.back(), "ASKED", 20000)) << i;
    }
    const auto stored = [&](const QString& text) {
        return std::any_of(manager->clipboardItems().begin(), manager->clipboardItems().end(),
                           [&](const ClipboardItem& item) { return item.textContent == text; });
    };
    const QStringList copies {"user copy one", "user copy two", "user copy three"};
    for (const QString& text : copies) {
        ASSERT_TRUE(test::wlCopy(text.toUtf8()));
        EXPECT_TRUE(test::processEventsUntil([&] { return stored(text); }, 20000)) << text.toStdString();
    }
    for (const QString& text : copies)
        EXPECT_TRUE(stored(text)) << text.toStdString();
    for (auto& process : silent) {
        process->kill();
        process->waitForFinished();
    }
}

// A write while the compositor is stopped is made at once as far as Lumra is concerned: it
// lands when the compositor resumes, and Lumra never takes the clipboard back from the user.
TEST_F(ClipboardWaylandTest, AWriteToAStoppedCompositorLandsWhenItResumesAndIsNeverUndone)
{
    ASSERT_TRUE(test::wlCopy("the user's own copy"));
    ASSERT_TRUE(waitForItems(1));
    ClipboardWatch watch;
    ASSERT_TRUE(watch.waitFor("the user's own copy")) << watch.seen().join('|').toStdString();
    QSignalSpy failed(&manager->paste(), &PasteService::pasteFailed);
    ClipboardItem chosen;
    chosen.textContent = QStringLiteral("written back while the compositor was stopped");
    chosen = test::insertItem(*manager, chosen);
    {
        test::StoppedCompositor busy;
        ASSERT_TRUE(busy.stopped());
        ASSERT_TRUE(test::copyToPasteboard(*manager, chosen, true));
        // The main thread goes on while the compositor cannot answer.
        bool handled = false;
        QMetaObject::invokeMethod(manager.get(), [&] { handled = true; }, Qt::QueuedConnection);
        ASSERT_TRUE(test::processEventsUntil([&] { return handled; }, 20000));
    }
    ASSERT_TRUE(watch.waitFor(*chosen.textContent)) << watch.seen().join('|').toStdString();
    // The answer to the first write is handled before a second one is sent.
    ClipboardItem next;
    next.textContent = QStringLiteral("chosen once the compositor answered");
    next = test::insertItem(*manager, next);
    ASSERT_TRUE(test::copyToPasteboard(*manager, next, true));
    ASSERT_TRUE(watch.waitFor(*next.textContent)) << watch.seen().join('|').toStdString();
    EXPECT_EQ(watch.seen(), (QStringList {"the user's own copy", *chosen.textContent, *next.textContent}));
    EXPECT_TRUE(failed.isEmpty()) << failed.value(0).value(0).toString().toStdString();
}

// The paste key waits for the compositor to have made Lumra's write the clipboard: while it cannot
// answer, the window in front would get what the clipboard held before (a password, say).
TEST_F(ClipboardWaylandTest, APasteWaitsUntilTheCompositorHasTakenTheWrite)
{
    manager.reset();
    manager = start([this](ClipboardManagerServices& services) {
        services.pasteboard = wayland.get();
        services.keyInjector = &injector;
    });
    ClipboardItem chosen;
    chosen.textContent = QStringLiteral("chosen while the compositor is busy");
    chosen = test::insertItem(*manager, chosen);
    QSignalSpy held(wayland.get(), &Pasteboard::writeHeld);
    QSignalSpy failed(wayland.get(), &Pasteboard::writeFailed);
    {
        test::StoppedCompositor busy;
        ASSERT_TRUE(busy.stopped());
        ASSERT_TRUE(manager->paste().pasteItem(chosen, true, false, std::chrono::milliseconds(80)));
        clock.advance(std::chrono::milliseconds(100));
        bool handled = false;
        QMetaObject::invokeMethod(manager.get(), [&] { handled = true; }, Qt::QueuedConnection);
        ASSERT_TRUE(test::processEventsUntil([&] { return handled; }, 20000));
        EXPECT_EQ(injector.pasteCount(), 0) << "the key went before the write held";
        EXPECT_FALSE(manager->clipboardItems().first().lastPastedDate);
    }
    ASSERT_TRUE(test::processEventsUntil([&] { return injector.pasteCount() == 1; }, 20000));
    ASSERT_EQ(held.count(), 1);
    EXPECT_TRUE(failed.isEmpty()) << failed.value(0).value(0).toString().toStdString();
    EXPECT_EQ(test::wlPaste({"--no-newline"}), chosen.textContent->toUtf8());
    EXPECT_TRUE(manager->clipboardItems().first().lastPastedDate);

    // Another program's copy ends the hold.
    const qint64 written = held.first().first().toLongLong();
    EXPECT_TRUE(wayland->holds(written));
    ASSERT_TRUE(test::wlCopy("taken over"));
    ASSERT_TRUE(test::processEventsUntil([&] { return !wayland->isOwnedByUs(); }, 10000));
    EXPECT_FALSE(wayland->holds(written));
}

// Choosing an item right after the clipboard connection broke writes it: the connection is
// restored for the write, not left to the next pause of the retries.
TEST_F(ClipboardWaylandTest, AWriteRightAfterTheConnectionBrokeIsMade)
{
    ASSERT_TRUE(test::wlCopy("before the break"));
    ASSERT_TRUE(waitForItems(1));
    ASSERT_EQ(breakCompositorConnections(), 1);
    const Result<qint64> written = wayland->write({{PasteboardMime::textUtf8, "chosen after the break"}});
    ASSERT_TRUE(written) << written.error().toStdString();
    // Connecting again is done on the clipboard connection's thread, not waited for here.
    EXPECT_TRUE(test::processEventsUntil([] { return test::wlPaste({"--no-newline"}) == "chosen after the break"; }, 20000));
}
