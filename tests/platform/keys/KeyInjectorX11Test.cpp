#include "platform/keys/X11KeyInjector.h"

#include "EventWait.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

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
        QGuiApplication::clipboard()->setText(QStringLiteral("from the clipboard"));
        field.show();
        field.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&field));
        field.setFocus();
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
