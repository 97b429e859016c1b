#include "platform/keys/X11KeyInjector.h"

#include "EventWait.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#undef Status

using namespace std::chrono_literals;

namespace {

// A text field that also remembers the key chords it received.
class RecordingLineEdit : public QLineEdit {
public:
    QList<std::pair<int, Qt::KeyboardModifiers>> chords;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_V)
            chords.append({ event->key(), event->modifiers() });
        QLineEdit::keyPressEvent(event);
    }
};

bool isKeyDown(Display* display, KeySym keysym)
{
    char keys[32] = {};
    XQueryKeymap(display, keys);
    const KeyCode keycode = XKeysymToKeycode(display, keysym);
    return keys[keycode / 8] & (1 << (keycode % 8));
}

class KeyInjectorX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        field.show();
        field.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&field));
        field.setFocus();
        // Qt takes the clipboard at the time of the last event it saw; an owner another test made
        // since then holds a later time and the server keeps it. A property change on our own window
        // brings Qt's time up to date.
        Display* display = lumra::qtX11Display();
        const Atom touched = XInternAtom(display, "LUMRA_TEST_TOUCHED", False);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            XChangeProperty(display, field.winId(), touched, XA_STRING, 8, PropModeAppend, nullptr, 0);
            XFlush(display);
            QCoreApplication::processEvents();
            QGuiApplication::clipboard()->setText(QStringLiteral("from the clipboard"));
            return QGuiApplication::clipboard()->ownsClipboard();
        }));
    }

    RecordingLineEdit field;
};

} // namespace

TEST_F(KeyInjectorX11Test, PastesIntoTheFocusedWindow)
{
    lumra::X11KeyInjector injector;
    ASSERT_TRUE(injector.canPost());
    ASSERT_TRUE(injector.postPaste().ok());

    EXPECT_TRUE(lumra::test::processEventsUntil([&] { return field.text() == "from the clipboard"; }));
    ASSERT_EQ(field.chords.size(), 1);
    EXPECT_EQ(field.chords.first().second, Qt::ControlModifier);
}

TEST_F(KeyInjectorX11Test, ReleasesModifiersStillHeldFromTheHotKey)
{
    ASSERT_EQ(QProcess::execute("xdotool", { "keydown", "alt+super" }), 0);
    lumra::X11KeyInjector injector(lumra::qtX11Display(), 0ms);
    ASSERT_TRUE(injector.postPaste().ok());

    EXPECT_TRUE(lumra::test::processEventsUntil([&] { return field.text() == "from the clipboard"; }));
    ASSERT_EQ(field.chords.size(), 1);
    EXPECT_EQ(field.chords.first().second, Qt::ControlModifier);
    Display* display = lumra::qtX11Display();
    EXPECT_FALSE(isKeyDown(display, XK_Alt_L));
    EXPECT_FALSE(isKeyDown(display, XK_Super_L));
    EXPECT_FALSE(isKeyDown(display, XK_Control_L));
}
