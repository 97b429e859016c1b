// The road a person takes: Lumra runs as its own process, another program copies, the global
// shortcut opens the popup, typing narrows it, Return pastes into the window the user came from.
#include "DesktopTools.h"
#include "LumraProcess.h"
#include "StoredTexts.h"
#include "TempDataDir.h"
#include "WindowManager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/keysym.h>


namespace {

using lumra::test::runText;
using lumra::test::xdotool;
using lumra::test::storedTexts;

class ShellRoadX11Test : public lumra::test::LumraProcessTest {
protected:
    void copy(const QByteArray& text)
    {
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-i"});
        ASSERT_TRUE(xclip.waitForStarted());
        xclip.write(text);
        xclip.closeWriteChannel();
        ASSERT_TRUE(xclip.waitForFinished());
    }

    // The window the window manager made active, once it also holds the keyboard focus: the two are
    // set one after the other, and a key typed in between goes to the window that had the focus.
    static QString activeWindowName()
    {
        const QString active = runText(QStringLiteral("xdotool"), {"getactivewindow"});
        if (active.isEmpty() || runText(QStringLiteral("xdotool"), {"getwindowfocus", "-f"}) != active)
            return {};
        return runText(QStringLiteral("xdotool"), {"getwindowname", active});
    }

    // The window the user types in, in front and holding the keyboard.
    static void showInFront(QLineEdit& field)
    {
        field.setWindowTitle(QStringLiteral("Lumra test field"));
        field.resize(400, 40);
        field.show();
        field.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&field, startTimeoutMs));
        ASSERT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Lumra test field"); }, startTimeoutMs));
    }

    // Opens the chosen row's menu with the Menu key and waits until it is on screen. A changed
    // screen is no sign of a menu: the row highlight fades in on its own.
    bool openRowMenu()
    {
        if (lumra::test::popupShownBy(m_lumra.processId()))
            return false;
        xdotool({"key", "Menu"});
        return QTest::qWaitFor([&] { return lumra::test::popupShownBy(m_lumra.processId()); }, startTimeoutMs);
    }

    // Lumra running with one copy of `text`, and that row's tag editor open in front from the
    // popup's row menu ("Pin this on Top", "Star this Item", "Add Tags").
    void openTagEditorFor(const QByteArray& text)
    {
        startLumra();
        copy(text);
        ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).size() == 1; }, startTimeoutMs));
        xdotool({"key", "--clearmodifiers", "ctrl+alt+v"});
        ASSERT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Lumra"); }, startTimeoutMs))
            << output().toStdString();
        xdotool({"key", "Down"});
        ASSERT_TRUE(openRowMenu()) << "no menu";
        xdotool({"key", "Down", "Down", "Down", "Return"});
        ASSERT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Edit Tags"); }, startTimeoutMs))
            << "no tag editor; the window in front is " << activeWindowName().toStdString();
    }
};

TEST_F(ShellRoadX11Test, TheShortcutOpensThePopupAndReturnPastesTheChosenText)
{
    startLumra();
    copy("beta from the test");
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).size() == 1; }, startTimeoutMs));
    copy("alpha from the test");
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).size() == 2; }, startTimeoutMs))
        << storedTexts(dataDir.supportFolder()).join(" | ").toStdString();

    // The window the user is typing in.
    QLineEdit field;
    showInFront(field);
    if (HasFatalFailure())
        return;

    xdotool({"key", "--clearmodifiers", "ctrl+alt+v"});
    ASSERT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Lumra"); }, startTimeoutMs))
        << "the popup did not take the focus; Lumra said:\n" << output().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !field.isActiveWindow(); }, startTimeoutMs));

    // "bet" leaves only the older of the two copies; Down chooses it.
    const QImage before = screen();
    xdotool({"type", "--delay", "30", "bet"});
    QTest::qWaitFor([&] { return screen() != before; }, startTimeoutMs);
    saveScreenshot(QStringLiteral("popup.png"));
    xdotool({"key", "Down", "Return"});

    ASSERT_TRUE(QTest::qWaitFor([&] { return !field.text().isEmpty(); }, startTimeoutMs))
        << "nothing arrived in the test field; Lumra said:\n" << output().toStdString();
    QCoreApplication::processEvents();
    EXPECT_EQ(field.text(), QStringLiteral("beta from the test"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return field.isActiveWindow(); }, startTimeoutMs)) << "the focus came back";
}

TEST_F(ShellRoadX11Test, AShortcutHeldByAnotherProgramIsReported)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window root = DefaultRootWindow(display);
    const int keycode = XKeysymToKeycode(display, XK_v);
    XGrabKey(display, keycode, ControlMask | Mod1Mask, root, True, GrabModeAsync, GrabModeAsync);
    XSync(display, False);

    startLumra();
    EXPECT_TRUE(waitForOutput(QStringLiteral("Could not register global shortcut Ctrl+Alt+V"))) << output().toStdString();
    EXPECT_EQ(m_lumra.state(), QProcess::Running) << "Lumra keeps running without its shortcut";

    XUngrabKey(display, keycode, ControlMask | Mod1Mask, root);
    XCloseDisplay(display);
}

} // namespace

TEST_F(ShellRoadX11Test, AnItemDeletedFromThePopupWithTheKeyboardLeavesTheStore)
{
    startLumra();
    copy("keep this copy");
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).size() == 1; }, startTimeoutMs));
    copy("delete this copy");
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).size() == 2; }, startTimeoutMs));

    xdotool({"key", "--clearmodifiers", "ctrl+alt+v"});
    ASSERT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Lumra"); }, startTimeoutMs))
        << "the popup did not take the focus; Lumra said:\n" << output().toStdString();

    // Down chooses the newest row; the Menu key (typed while the search field has the caret) opens
    // its menu, whose last entries are "Delete" and "Preview"; Return in the confirmation presses
    // "Delete".
    xdotool({"key", "Down"});
    ASSERT_TRUE(openRowMenu()) << "no menu; the window in front is " << activeWindowName().toStdString();
    saveScreenshot(QStringLiteral("popup-item-menu.png"));
    xdotool({"key", "Up", "Up", "Return"});
    ASSERT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Delete this item?"); }, startTimeoutMs))
        << "no confirmation; the window in front is " << activeWindowName().toStdString();
    saveScreenshot(QStringLiteral("popup-delete-confirmation.png"));
    xdotool({"key", "Return"});

    EXPECT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()) == QStringList{"keep this copy"}; },
                                startTimeoutMs))
        << storedTexts(dataDir.supportFolder()).join(" | ").toStdString();
    EXPECT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Lumra"); }, startTimeoutMs))
        << "the popup stays open and comes back to the front";
}

TEST_F(ShellRoadX11Test, AnOpenEditorNeitherHoldsOffTheEndOfASessionNorGetsSaved)
{
    openTagEditorFor("tag me later");
    if (HasFatalFailure())
        return;
    xdotool({"type", "--delay", "30", "halfway"});

    // What a desktop sends at logout.
    m_lumra.terminate();
    EXPECT_TRUE(m_lumra.waitForFinished(10000)) << "Lumra refused to end while an editor was open";
    EXPECT_EQ(m_lumra.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_lumra.exitCode(), 0) << output().toStdString();
    EXPECT_EQ(storedTexts(dataDir.supportFolder()), QStringList{"tag me later"});
    EXPECT_FALSE(lumra::test::storedColumnContains(dataDir.supportFolder(), "tagsJSON", "halfway"));
}

TEST_F(ShellRoadX11Test, AMinimisedEditorAndItsPopupComeBackWithTheShortcutAndWithLumra)
{
    if (!s_windowManager)
        GTEST_SKIP() << "needs openbox, which draws a minimise button on every window";
    openTagEditorFor("tag me after a minimise");
    if (HasFatalFailure())
        return;
    const QString editor = runText(QStringLiteral("xdotool"), {"getactivewindow"});

    // The minimise button: the editor goes, and the popup with it.
    for (const char* road : {"shortcut", "lumra"}) {
        SCOPED_TRACE(road);
        xdotool({"windowminimize", editor});
        ASSERT_TRUE(QTest::qWaitFor([] { return activeWindowName() != QStringLiteral("Edit Tags"); }, startTimeoutMs));
        if (QByteArray(road) == "shortcut") {
            xdotool({"key", "--clearmodifiers", "ctrl+alt+v"});
        } else {
            QProcess again;
            again.setProcessEnvironment(m_lumra.processEnvironment());
            again.start(m_app, {});
            ASSERT_TRUE(again.waitForFinished(startTimeoutMs));
        }
        EXPECT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Edit Tags"); }, startTimeoutMs))
            << "the " << road << " did not bring the editor back; in front: " << activeWindowName().toStdString()
            << "\n" << output().toStdString();
    }
    // Both windows are mapped again.
    EXPECT_TRUE(QTest::qWaitFor([] {
        return !xdotool({"search", "--onlyvisible", "--name", "^Edit Tags$"}).isEmpty()
            && !xdotool({"search", "--onlyvisible", "--name", "^Lumra$"}).isEmpty();
    }, startTimeoutMs));
    saveScreenshot(QStringLiteral("editor-back-from-minimised.png"));

    // Cancelled, the editor hands the popup the keys; the next shortcut closes it at once.
    xdotool({"key", "Escape"});
    EXPECT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Lumra"); }, startTimeoutMs))
        << "in front: " << activeWindowName().toStdString();
    xdotool({"key", "--clearmodifiers", "ctrl+alt+v"});
    EXPECT_TRUE(QTest::qWaitFor([] { return activeWindowName() != QStringLiteral("Lumra"); }, startTimeoutMs))
        << "the first shortcut after the editor closed the popup";
    EXPECT_EQ(m_lumra.state(), QProcess::Running);
}

// A preview closed from the keyboard hands the keys back to the popup, not to the window the user
// came from: what is typed next narrows the list instead of landing in that window.
TEST_F(ShellRoadX11Test, ClosingThePreviewGivesTheKeysBackToThePopup)
{
    startLumra();
    copy("a text to preview");
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).size() == 1; }, startTimeoutMs));
    QLineEdit field;
    showInFront(field);
    if (HasFatalFailure())
        return;

    xdotool({"key", "--clearmodifiers", "ctrl+alt+v"});
    ASSERT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Lumra"); }, startTimeoutMs))
        << "in front: " << runText(QStringLiteral("xdotool"), {"getactivewindow", "getwindowname"}).toStdString()
        << "; focus: " << runText(QStringLiteral("xdotool"), {"getwindowfocus", "-f", "getwindowname"}).toStdString()
        << "; field text: " << field.text().toStdString() << "\n" << output().toStdString();
    xdotool({"key", "Down"});
    for (const char* closeKey : {"Escape", "space", "Escape", "space"}) {
        SCOPED_TRACE(closeKey);
        xdotool({"key", "space"});
        // The preview, named for the kind of item; between two windows the name is empty for a moment.
        ASSERT_TRUE(QTest::qWaitFor([] {
            const QString name = activeWindowName();
            return !name.isEmpty() && name != QStringLiteral("Lumra") && name != QStringLiteral("Lumra test field");
        }, startTimeoutMs)) << "no preview; in front: " << activeWindowName().toStdString();
        const QString preview = xdotool({"getactivewindow"});
        xdotool({"key", closeKey});
        // Closed: off the screen, and the popup has the keys. The next round's keys go to the popup.
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return !xdotool({"search", "--onlyvisible", "--name", "."}).split(u'\n').contains(preview)
                && activeWindowName() == QStringLiteral("Lumra");
        }, startTimeoutMs)) << "in front: " << activeWindowName().toStdString();
    }
    xdotool({"type", "--delay", "30", "zz"});
    // Keys typed in the field after the popup closed arrive after any of "zz" that went astray.
    xdotool({"key", "--clearmodifiers", "ctrl+alt+v"});
    ASSERT_TRUE(QTest::qWaitFor([] { return activeWindowName() != QStringLiteral("Lumra"); }, startTimeoutMs));
    field.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([] { return activeWindowName() == QStringLiteral("Lumra test field"); }, startTimeoutMs));
    xdotool({"type", "--delay", "30", "ok"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return field.text().endsWith(QStringLiteral("ok")); }, startTimeoutMs));
    EXPECT_EQ(field.text(), QStringLiteral("ok"));
}
