// The paste and the popup in a Wayland session, under a headless Sway: the target window and
// Lumra each run as processes of their own.
#include "DesktopTools.h"
#include "EngineFixture.h"
#include "StoredTexts.h"
#include "StoppedCompositor.h"
#include "TempDataDir.h"
#include "WlClipboard.h"
#include "platform/keys/EventWait.h"
#include "platform/wayland/WaylandKeyInjector.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "ui/preview/PreviewCoordinator.h"
#include "ui/shell/PopupPanel.h"
#include "ThisProgram.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QKeyEvent>
#include <QKeySequence>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <iostream>

using namespace lumra;

namespace {

const char* const targetVariable = "LUMRA_PASTE_TARGET";
const char* const terminalAppIdVariable = "LUMRA_TERMINAL_APP_ID";
constexpr int waitMs = 20000;

// Titles of the windows Sway shows, as its IPC reports them.
QStringList windowTitles()
{
    QProcess swaymsg;
    swaymsg.start("swaymsg", {"-r", "-t", "get_tree"});
    if (!swaymsg.waitForFinished(5000))
        return {};
    QStringList titles;
    std::function<void(const QJsonObject&)> walk = [&](const QJsonObject& node) {
        if (node.contains("pid") && !node.value("name").isNull())
            titles << node.value("name").toString();
        for (const char* children : {"nodes", "floating_nodes"}) {
            for (const QJsonValue& child : node.value(children).toArray())
                walk(child.toObject());
        }
    };
    walk(QJsonDocument::fromJson(swaymsg.readAllStandardOutput()).object());
    return titles;
}

// How many windows of process `pid` Sway shows, and how many of them have the keyboard focus.
std::pair<int, int> windowsOf(qint64 pid)
{
    QProcess swaymsg;
    swaymsg.start("swaymsg", {"-r", "-t", "get_tree"});
    if (!swaymsg.waitForFinished(5000))
        return {-1, -1};
    int shown = 0, focused = 0;
    std::function<void(const QJsonObject&)> walk = [&](const QJsonObject& node) {
        if (node.value("pid").toInteger(-1) == pid) {
            ++shown;
            focused += node.value("focused").toBool() ? 1 : 0;
        }
        for (const char* children : {"nodes", "floating_nodes"}) {
            for (const QJsonValue& child : node.value(children).toArray())
                walk(child.toObject());
        }
    };
    walk(QJsonDocument::fromJson(swaymsg.readAllStandardOutput()).object());
    return {shown, focused};
}

// Whether Sway floats every window of process `pid` titled other than `tiledTitle`, and there is one.
bool floatsAllBut(qint64 pid, const QString& tiledTitle, QString* tree)
{
    QProcess swaymsg;
    swaymsg.start("swaymsg", {"-r", "-t", "get_tree"});
    if (!swaymsg.waitForFinished(5000))
        return false;
    const QByteArray json = swaymsg.readAllStandardOutput();
    *tree = QString::fromUtf8(json);
    int floating = 0, tiled = 0;
    std::function<void(const QJsonObject&, bool)> walk = [&](const QJsonObject& node, bool isFloating) {
        if (node.value("pid").toInteger(-1) == pid && node.value("name").toString() != tiledTitle)
            ++(isFloating ? floating : tiled);
        for (const QJsonValue& child : node.value("nodes").toArray())
            walk(child.toObject(), isFloating);
        for (const QJsonValue& child : node.value("floating_nodes").toArray())
            walk(child.toObject(), true);
    };
    walk(QJsonDocument::fromJson(json).object(), false);
    return floating > 0 && tiled == 0;
}

class PasteWaylandTest : public test::EngineTest {
protected:
    void SetUp() override
    {
        wayland = WaylandPasteboard::create();
        keys = WaylandKeyInjector::create();
        ASSERT_TRUE(wayland && keys) << "needs a Wayland compositor";
        ASSERT_TRUE(keys->canPost()) << "the compositor offers no virtual keyboard";
        // The seat of a headless compositor has no keyboard until the virtual one joins; the
        // target must find it there when its window opens.
        ASSERT_TRUE(keys->postPaste().ok());
        manager = start([this](ClipboardManagerServices& services) {
            services.pasteboard = wayland.get();
            services.keyInjector = keys.get();
        });
    }
    void TearDown() override
    {
        manager.reset();
        if (target.state() != QProcess::NotRunning) {
            target.kill();
            target.waitForFinished();
        }
    }

    bool startTarget(const QString& tests = QStringLiteral("WaylandPasteTarget.*"), const QString& appId = QString())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(targetVariable, "1");
        if (!appId.isEmpty())
            environment.insert(terminalAppIdVariable, appId);
        // A real Wayland window; Qt's Wayland plugin keeps some of its objects until exit.
        environment.insert("QT_QPA_PLATFORM", "wayland");
        environment.insert("ASAN_OPTIONS", "detect_leaks=0");
        target.setProcessEnvironment(environment);
        lumra::test::startThisProgram(target, {"--gtest_filter=" + tests});
        return test::processEventsUntil([&] { return targetOutput().contains("READY"); }, waitMs);
    }
    // A window presenting itself as a terminal is in front, and an item of `text` on the clipboard.
    bool startTerminalWithItemOnTheClipboard(const QString& text)
    {
        if (!startTarget(QStringLiteral("WaylandTerminalTarget.*"), QStringLiteral("foot")))
            return false;
        ClipboardItem item;
        item.textContent = text;
        return test::copyToPasteboardHeld(*manager, test::insertItem(*manager, item));
    }
    QString targetOutput()
    {
        m_output += QString::fromUtf8(target.readAllStandardOutput());
        return m_output;
    }

    std::unique_ptr<WaylandPasteboard> wayland;
    std::unique_ptr<WaylandKeyInjector> keys;
    std::unique_ptr<ClipboardManager> manager;
    QProcess target;

private:
    QString m_output;
};

} // namespace

// Target mode only: a focused Wayland text field that reports each text it holds.
TEST(WaylandPasteTarget, ReportsWhatIsPasted)
{
    if (!qEnvironmentVariableIsSet(targetVariable))
        GTEST_SKIP() << "runs as the paste target of PasteWaylandTest";
    QLineEdit field;
    field.setWindowTitle("Lumra paste target");
    QObject::connect(&field, &QLineEdit::textChanged,
                     [](const QString& text) { std::cout << "PASTED:" << text.toStdString() << std::endl; });
    field.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&field, waitMs));
    field.setFocus();
    std::cout << "READY" << std::endl;
    test::processEventsUntil([&] { return !field.text().isEmpty(); }, waitMs);
    QCoreApplication::processEvents(); // a second, unwanted paste already queued shows up too
}

TEST_F(PasteWaylandTest, ATextItemLandsInTheFocusedWindowThroughTheVirtualKeyboard)
{
    ASSERT_TRUE(startTarget()) << qPrintable(targetOutput());
    ClipboardItem item;
    item.textContent = QString::fromUtf8("Grüße through the virtual keyboard");
    item = test::insertItem(*manager, item);

    ASSERT_TRUE(test::copyToPasteboardHeld(*manager, item));
    ASSERT_TRUE(manager->paste().simulatePaste().ok());

    EXPECT_TRUE(test::processEventsUntil([&] { return targetOutput().contains("PASTED:"); }, waitMs));
    test::processEventsUntil([&] { return target.state() == QProcess::NotRunning; }, waitMs);
    EXPECT_EQ(targetOutput().count("PASTED:"), 1) << qPrintable(targetOutput());
    EXPECT_TRUE(targetOutput().contains(QString::fromUtf8("PASTED:Grüße through the virtual keyboard\n")))
        << qPrintable(targetOutput());
}

// With no window in front the keys would go nowhere and the paste seem to have worked: nothing
// is sent, the item is not marked pasted, and the user is told.
TEST_F(PasteWaylandTest, WithNoWindowInFrontNothingIsSentOrMarkedAndTheUserIsTold)
{
    ASSERT_TRUE(windowTitles().isEmpty()) << windowTitles().join(", ").toStdString();
    ClipboardItem item;
    item.textContent = QStringLiteral("chosen with no window in front");
    item = test::insertItem(*manager, item);
    QSignalSpy failed(&manager->paste(), &PasteService::pasteFailed);
    ASSERT_TRUE(manager->paste().pasteItem(item, true, false, std::chrono::milliseconds(80)));
    clock.advance(std::chrono::milliseconds(100));
    ASSERT_TRUE(test::processEventsUntil([&] { return !failed.isEmpty(); }, waitMs));
    EXPECT_EQ(failed.first().first().toString(), KeyInjectorMessages::noWindowInFront());
    EXPECT_FALSE(manager->clipboardItems().first().lastPastedDate);
    EXPECT_EQ(test::wlPaste({"--no-newline"}), item.textContent->toUtf8()) << "the item is on the clipboard";
}

// Target mode only: a window presenting itself as a terminal by its app id, reporting the first
// key it gets with the modifiers held.
class KeyReporter : public QWidget {
protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Control || event->key() == Qt::Key_Shift)
            return;
        std::string line = "KEY " + QKeySequence(event->key()).toString().toLower().toStdString();
        if (event->modifiers() & Qt::ControlModifier)
            line += "+ctrl";
        if (event->modifiers() & Qt::ShiftModifier)
            line += "+shift";
        std::cout << line << std::endl;
    }
};

TEST(WaylandTerminalTarget, ReportsTheKeysItGets)
{
    if (!qEnvironmentVariableIsSet(terminalAppIdVariable))
        GTEST_SKIP() << "runs as the paste target of PasteWaylandTest";
    QGuiApplication::setDesktopFileName(qEnvironmentVariable(terminalAppIdVariable));
    KeyReporter window;
    window.setWindowTitle("Lumra terminal target");
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window, waitMs));
    std::cout << "READY" << std::endl;
    test::processEventsUntil([] { return false; }, waitMs);
}

// The focused window is another program presenting itself as a terminal by its app id: it gets
// the key that pastes there.
TEST_F(PasteWaylandTest, ATerminalGetsItsOwnPasteKey)
{
    ASSERT_TRUE(startTarget(QStringLiteral("WaylandTerminalTarget.*"), QStringLiteral("foot"))) << qPrintable(targetOutput());
    ClipboardItem item;
    item.textContent = QStringLiteral("ls -l");
    item = test::insertItem(*manager, item);

    ASSERT_TRUE(test::copyToPasteboardHeld(*manager, item));
    ASSERT_TRUE(manager->paste().simulatePaste().ok());
    EXPECT_TRUE(test::processEventsUntil([&] { return targetOutput().contains("KEY "); }, waitMs));
    EXPECT_TRUE(targetOutput().contains("KEY v+ctrl+shift\n")) << qPrintable(targetOutput());
}

// The focused window is asked for on the key injector's own thread: a paste asked for while the
// compositor is stopped returns at once and, once it resumes, sends the terminal its own key.
TEST_F(PasteWaylandTest, APasteWhileTheCompositorIsStoppedWaitsForTheFocusedWindowOffTheMainThread)
{
    ASSERT_TRUE(startTerminalWithItemOnTheClipboard("git status")) << qPrintable(targetOutput());
    QSignalSpy failed(&manager->paste(), &PasteService::pasteFailed);
    {
        test::StoppedCompositor busy;
        ASSERT_TRUE(busy.stopped());
        ASSERT_TRUE(manager->paste().simulatePaste().ok());
    }
    EXPECT_TRUE(test::processEventsUntil([&] { return targetOutput().contains("KEY "); }, waitMs));
    EXPECT_TRUE(targetOutput().contains("KEY v+ctrl+shift\n")) << qPrintable(targetOutput());
    EXPECT_TRUE(failed.isEmpty()) << failed.value(0).value(0).toString().toStdString();
}

// When the compositor does not name the focused window in time, no key is sent (Ctrl+V would
// reach a terminal's program as a control character) and the user is told how to paste.
TEST_F(PasteWaylandTest, WhenTheFocusedWindowIsNotNamedInTimeNoKeyIsSentAndTheUserIsTold)
{
    ASSERT_TRUE(startTerminalWithItemOnTheClipboard("make test")) << qPrintable(targetOutput());
    QSignalSpy failed(&manager->paste(), &PasteService::pasteFailed);
    {
        test::StoppedCompositor busy;
        ASSERT_TRUE(busy.stopped());
        ASSERT_TRUE(manager->paste().simulatePaste().ok());
        ASSERT_TRUE(test::processEventsUntil([&] { return !failed.isEmpty(); }, waitMs));
    }
    EXPECT_TRUE(failed.value(0).value(0).toString().contains("Ctrl+Shift+V in a terminal"))
        << failed.value(0).value(0).toString().toStdString();

    // The next paste is the first key the terminal gets.
    ASSERT_TRUE(manager->paste().simulatePaste().ok());
    ASSERT_TRUE(test::processEventsUntil([&] { return targetOutput().contains("KEY "); }, waitMs));
    EXPECT_TRUE(targetOutput().section("KEY ", 1).startsWith("v+ctrl+shift\n")) << qPrintable(targetOutput());
    EXPECT_EQ(failed.size(), 1);
}

// Lumra as the user runs it: a second `lumra` (bound to a key in the compositor) toggles the popup.
class ShellRoadWaylandTest : public test::DataDirTest {
protected:
    void SetUp() override
    {
        m_app = qEnvironmentVariable("LUMRA_APP");
        if (m_app.isEmpty() || !QFile::exists(m_app))
            GTEST_SKIP() << "LUMRA_APP does not name the lumra program";
    }
    void TearDown() override
    {
        if (m_lumra.state() != QProcess::NotRunning) {
            m_lumra.terminate();
            if (!m_lumra.waitForFinished(5000))
                m_lumra.kill();
        }
    }

    static QProcessEnvironment lumraEnvironment()
    {
        // Lumra chooses its platform itself, as when started from a desktop session.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("ASAN_OPTIONS", "detect_leaks=0");
        return environment;
    }

    QString output()
    {
        m_output += QString::fromUtf8(m_lumra.readAll());
        return m_output;
    }

    // Starts `lumra` once more and returns what it said.
    QString startAgain()
    {
        QProcess second;
        second.setProcessEnvironment(lumraEnvironment());
        second.setProcessChannelMode(QProcess::MergedChannels);
        second.start(m_app, {});
        test::processEventsUntil([&] { return second.state() == QProcess::NotRunning; }, waitMs);
        return QString::fromUtf8(second.readAll());
    }

    // A reminder after two copies in a minute.
    bool remindAfterTwoCopies()
    {
        QFile file(dataDir.settingsFile());
        if (!file.open(QIODevice::ReadOnly))
            return false;
        QJsonObject settings = QJsonDocument::fromJson(file.readAll()).object();
        file.close();
        settings.insert("reminderThreshold", 2);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(QJsonDocument(settings).toJson()) > 0;
    }

    QString m_app;
    QProcess m_lumra;
    QString m_output;
};

TEST_F(ShellRoadWaylandTest, ASecondLumraTogglesThePopupAndCopiesAreRecorded)
{
    dataDir.skipOnboarding();
    m_lumra.setProcessEnvironment(lumraEnvironment());
    m_lumra.setProcessChannelMode(QProcess::MergedChannels);
    m_lumra.start(m_app, {});
    ASSERT_TRUE(test::processEventsUntil([&] { return output().contains("Lumra started"); }, waitMs)) << qPrintable(output());
    EXPECT_TRUE(output().contains("clipboard through")) << qPrintable(output());

    ASSERT_TRUE(test::wlCopy("copied in a Wayland session"));
    ASSERT_TRUE(test::processEventsUntil(
        [&] { return test::storedTexts(dataDir.supportFolder()).contains("copied in a Wayland session"); }, waitMs))
        << qPrintable(output());

    EXPECT_TRUE(startAgain().contains("asked it to open or close its popup"));
    ASSERT_TRUE(test::processEventsUntil([] { return windowTitles().contains("Lumra"); }, waitMs))
        << windowTitles().join(", ").toStdString() << "\n" << qPrintable(output());

    startAgain();
    EXPECT_TRUE(test::processEventsUntil([] { return !windowTitles().contains("Lumra"); }, waitMs))
        << windowTitles().join(", ").toStdString() << "\n" << qPrintable(output());
    EXPECT_EQ(m_lumra.state(), QProcess::Running);
}

TEST_F(ShellRoadWaylandTest, WithNoTrayTheCopyReminderTakesNoWindowAndTheLogSaysHowToOpenLumra)
{
    dataDir.skipOnboarding();
    ASSERT_TRUE(remindAfterTwoCopies());
    // With no session bus the reminder's notification fails at once, and Lumra logs that it
    // showed nothing: the sign that the reminder was handled.
    QProcessEnvironment environment = lumraEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    m_lumra.setProcessEnvironment(environment);
    m_lumra.setProcessChannelMode(QProcess::MergedChannels);
    m_lumra.start(m_app, {});
    ASSERT_TRUE(test::processEventsUntil([&] { return output().contains("Lumra started"); }, waitMs)) << qPrintable(output());

    for (const char* text : {"first reminder copy", "second reminder copy", "third reminder copy"}) {
        ASSERT_TRUE(test::wlCopy(text));
        ASSERT_TRUE(test::processEventsUntil(
            [&] { return test::storedTexts(dataDir.supportFolder()).contains(QString::fromUtf8(text)); }, waitMs))
            << qPrintable(output());
    }
    ASSERT_TRUE(test::processEventsUntil([&] { return output().contains("Copy reminder not shown"); }, waitMs))
        << qPrintable(output());
    const auto [shown, focused] = windowsOf(test::lumraProcess(m_lumra.processId()));
    EXPECT_EQ(shown, 0) << "a reminder window with no tray to sit by";
    EXPECT_EQ(focused, 0) << "the reminder took the keyboard";

    // No shortcut reaches Lumra here: the log names the way that works, as the General page does.
    EXPECT_TRUE(output().contains(QString::fromUtf8("bind the command \u201clumra\u201d"))) << qPrintable(output());
    EXPECT_FALSE(output().contains("open Lumra with Ctrl+Alt+V")) << qPrintable(output());
    EXPECT_EQ(m_lumra.state(), QProcess::Running);
}

// A session of copies and a reminder ends as the user ends it, with nothing left behind: the
// sanitizer build checks every allocation at exit and fails the exit on a leak.
TEST_F(ShellRoadWaylandTest, QuittingAfterCopiesAndAReminderEndsCleanly)
{
    dataDir.skipOnboarding();
    ASSERT_TRUE(remindAfterTwoCopies());
    QProcessEnvironment environment = lumraEnvironment();
    environment.insert("ASAN_OPTIONS", "detect_leaks=1:intercept_tls_get_addr=0");
    environment.insert("LSAN_OPTIONS", QStringLiteral("suppressions=") + QStringLiteral(LUMRA_LSAN_SUPPRESSIONS));
    m_lumra.setProcessEnvironment(environment);
    m_lumra.setProcessChannelMode(QProcess::MergedChannels);
    m_lumra.start(m_app, {});
    ASSERT_TRUE(test::processEventsUntil([&] { return output().contains("Lumra started"); }, waitMs)) << qPrintable(output());
    for (const char* text : {"first copy before quitting", "second copy before quitting"}) {
        ASSERT_TRUE(test::wlCopy(text));
        ASSERT_TRUE(test::processEventsUntil(
            [&] { return test::storedTexts(dataDir.supportFolder()).contains(QString::fromUtf8(text)); }, waitMs))
            << qPrintable(output());
    }

    m_lumra.terminate();
    ASSERT_TRUE(test::processEventsUntil([&] { return m_lumra.state() == QProcess::NotRunning; }, waitMs));
    EXPECT_EQ(m_lumra.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_lumra.exitCode(), 0) << qPrintable(output());
    EXPECT_FALSE(output().contains("LeakSanitizer")) << qPrintable(output());
}

namespace {

const char* const previewVariable = "LUMRA_PREVIEW_WINDOWS";

class PreviewWaylandProcess : public test::EngineTest { };

} // namespace

// Windows mode only: the popup, and the preview of a text item opened from it, as real Wayland
// windows that stay until the process is killed.
TEST_F(PreviewWaylandProcess, ShowsThePopupAndAPreview)
{
    if (!qEnvironmentVariableIsSet(previewVariable))
        GTEST_SKIP() << "runs as the windows of PreviewWaylandTest";
    auto manager = start();
    PopupPanel popup(QSize(420, 360));
    popup.setWindowTitle("Lumra");
    popup.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&popup, waitMs));
    ClipboardItem item;
    item.textContent = QStringLiteral("previewed in a floating window");
    item = test::insertItem(*manager, item);
    UnifiedPreviewCoordinator coordinator(&clock);
    coordinator.showUnifiedPreview(item, *manager);
    ASSERT_TRUE(coordinator.panel());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(coordinator.panel(), waitMs));
    std::cout << "READY" << std::endl;
    test::processEventsUntil([] { return false; }, waitMs);
}

// A tiling compositor floats the preview (a dialog of the popup) instead of tiling it beside the
// user's windows.
TEST(PreviewWaylandTest, ThePreviewFloatsUnderATilingCompositor)
{
    QProcess windows;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(previewVariable, "1");
    environment.insert("QT_QPA_PLATFORM", "wayland");
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    windows.setProcessEnvironment(environment);
    lumra::test::startThisProgram(windows, {"--gtest_filter=PreviewWaylandProcess.*"});
    QString output;
    ASSERT_TRUE(test::processEventsUntil([&] {
        output += QString::fromUtf8(windows.readAllStandardOutput());
        return output.contains("READY") || windows.state() == QProcess::NotRunning;
    }, waitMs));
    ASSERT_TRUE(output.contains("READY")) << qPrintable(output) << windows.readAllStandardError().toStdString();
    QString tree;
    EXPECT_TRUE(test::processEventsUntil([&] { return floatsAllBut(windows.processId(), "Lumra", &tree); }, 5000))
        << qPrintable(tree);
    windows.kill();
    windows.waitForFinished();
}
