#include "ui/items/ShortcutRecorder.h"

#include "app/ShellTestSupport.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QTest>
#include <QVBoxLayout>

#include <X11/keysym.h>

namespace lumra {
namespace {

using ChordRules::KeyKind;
using test::ctrlAlt;

constexpr quint64 shift = ItemShortcut::shiftFlag, ctrl = ItemShortcut::commandFlag, super = ItemShortcut::controlFlag;
constexpr unsigned x11Lock = 1u << 1, x11NumLock = 1u << 4;

TEST(ChordRules, KeepOnlyCtrlAltShiftSuperAndNeedOneOfCtrlAltSuperUnlessAFunctionKey)
{
    struct Row {
        int key;
        Qt::KeyboardModifiers modifiers;
        quint32 native;
        KeyKind kind;
        ItemShortcut shortcut;
    };
    const Row rows[] = {
        {Qt::Key_V, Qt::ControlModifier | Qt::AltModifier, 0, KeyKind::chord, {9, ctrlAlt}},
        {Qt::Key_Exclam, Qt::MetaModifier | Qt::ShiftModifier, 0, KeyKind::chord, {18, super | shift}},
        {Qt::Key_F5, Qt::NoModifier, 0, KeyKind::chord, {96, 0}},
        {Qt::Key_F12, Qt::ShiftModifier, 0, KeyKind::chord, {111, shift}},
        // The keypad bit goes; keypad Enter keeps its own key.
        {Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier, 0, KeyKind::chord, {76, ctrl}},
        {Qt::Key_Return, Qt::NoModifier, 0, KeyKind::plainKey, {}},
        {Qt::Key_Enter, Qt::KeypadModifier, 0, KeyKind::plainKey, {}},
        {Qt::Key_Escape, Qt::NoModifier, 0, KeyKind::plainKey, {}},
        {Qt::Key_A, Qt::ShiftModifier, 0, KeyKind::plainKey, {}},
        {Qt::Key_Return, Qt::ShiftModifier, 0, KeyKind::plainKey, {}},
        {Qt::Key_Control, Qt::ControlModifier, 0, KeyKind::modifierOnly, {}},
        {Qt::Key_CapsLock, Qt::NoModifier, 0, KeyKind::modifierOnly, {}},
        {Qt::Key_Super_L, Qt::MetaModifier, 0, KeyKind::modifierOnly, {}},
        {Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier, XK_KP_1, KeyKind::unsupported, {}},
        {0x0416, Qt::ControlModifier, XK_Cyrillic_ZHE, KeyKind::unsupported, {}},
    };
    for (const Row& row : rows) {
        const ChordRules::KeyPress press = ChordRules::classify(row.key, row.modifiers, row.native);
        EXPECT_EQ(press.kind, row.kind) << std::hex << row.key;
        if (row.kind == KeyKind::chord)
            EXPECT_EQ(press.shortcut, row.shortcut) << std::hex << row.key;
    }
}

class ShortcutRecorderTest : public test::ShellTest {
protected:
    void SetUp() override
    {
        manager = makeManager();
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
        ASSERT_TRUE(hotKeys->setupHotKeyManager(manager.get()).ok());
    }

    struct Window {
        std::unique_ptr<QDialog> dialog = std::make_unique<QDialog>();
        ShortcutRecorder* recorder = nullptr;
    };
    Window window()
    {
        Window w;
        w.recorder = new ShortcutRecorder(hotKeys.get(), w.dialog.get());
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QObject::connect(buttons, &QDialogButtonBox::accepted, w.dialog.get(), &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, w.dialog.get(), &QDialog::reject);
        auto* layout = new QVBoxLayout(w.dialog.get());
        layout->addWidget(w.recorder);
        layout->addWidget(buttons);
        w.dialog->show();
        return w;
    }

    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> hotKeys;
};

TEST_F(ShortcutRecorderTest, HotKeysStaySuspendedUntilTheLastRecorderEnds)
{
    const QList<GlobalHotKeys::HotKey> open {{9, ctrlAlt}};
    ASSERT_EQ(keys.grabbed(), open);
    Window first = window();
    Window second = window();

    first.recorder->startRecording();
    second.recorder->startRecording();
    EXPECT_EQ(hotKeys->suspensionDepth(), 2);
    EXPECT_TRUE(keys.grabbed().isEmpty());

    first.recorder->stopRecording();
    EXPECT_TRUE(keys.grabbed().isEmpty()) << "the second recorder still listens";
    EXPECT_FALSE(keys.press(9, ctrlAlt));

    second.dialog->close(); // closing a window while it records ends its recording
    EXPECT_FALSE(second.recorder->isRecording());
    EXPECT_EQ(hotKeys->suspensionDepth(), 0);
    EXPECT_EQ(keys.grabbed(), open);

    // Ending twice, or a recorder that outlives its manager, does nothing.
    first.recorder->stopRecording();
    EXPECT_EQ(keys.grabbed(), open);
    first.recorder->startRecording();
    hotKeys.reset();
    first.recorder->stopRecording();
}

TEST_F(ShortcutRecorderTest, AChordEndsTheRecordingBeforeItIsReported)
{
    Window w = window();
    std::optional<ItemShortcut> got;
    bool listeningWhenReported = true;
    bool suspendedWhenReported = true;
    QObject::connect(w.recorder, &ShortcutRecorder::recorded, [&](const ItemShortcut& shortcut) {
        got = shortcut;
        listeningWhenReported = w.recorder->isRecording();
        suspendedWhenReported = hotKeys->isSuspended();
    });

    w.recorder->startRecording();
    EXPECT_EQ(w.recorder->displayText(), QStringLiteral("Press shortcut..."));
    QTest::keyClick(w.recorder, Qt::Key_Control, Qt::ControlModifier);
    QTest::keyClick(w.recorder, Qt::Key_A, Qt::ShiftModifier); // typing: not a chord
    EXPECT_TRUE(w.recorder->isRecording());
    QTest::keyClick(w.recorder, Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);

    ASSERT_EQ(got, (ItemShortcut {2, ctrlAlt}));
    EXPECT_FALSE(listeningWhenReported);
    EXPECT_FALSE(suspendedWhenReported) << "an alert shown now must not meet swallowed keys";
    w.recorder->setShortcut(got);
    EXPECT_EQ(w.recorder->displayText(), QStringLiteral("Ctrl+Alt+D"));
}

TEST_F(ShortcutRecorderTest, ReturnAndEscapeReachTheWindowWithLocksOn)
{
    for (const int key : {Qt::Key_Return, Qt::Key_Escape}) {
        Window w = window();
        w.recorder->setFocus();
        w.recorder->startRecording();
        // Caps Lock and Num Lock are in the native state only.
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, 36, 0, x11Lock | x11NumLock);
        QApplication::sendEvent(w.recorder, &press);
        EXPECT_EQ(w.dialog->result(), key == Qt::Key_Return ? QDialog::Accepted : QDialog::Rejected) << key;
        EXPECT_FALSE(w.dialog->isVisible()) << key;
        EXPECT_FALSE(w.recorder->isRecording()) << key;
        EXPECT_FALSE(hotKeys->isSuspended()) << key;
    }
}

TEST_F(ShortcutRecorderTest, WithoutPassingPlainKeysEscapeCancelsAndTypingIsDropped)
{
    Window w = window();
    w.recorder->setPlainKeysPassOn(false);
    bool cancelled = false;
    QObject::connect(w.recorder, &ShortcutRecorder::cancelled, [&] { cancelled = true; });
    w.recorder->startRecording();
    QTest::keyClick(w.recorder, Qt::Key_Return);
    QTest::keyClick(w.recorder, Qt::Key_B, Qt::ShiftModifier);
    EXPECT_TRUE(w.recorder->isRecording());
    EXPECT_TRUE(w.dialog->isVisible());
    QTest::keyClick(w.recorder, Qt::Key_Escape);
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(w.recorder->isRecording());
    EXPECT_TRUE(w.dialog->isVisible());
}

TEST_F(ShortcutRecorderTest, AChordAnotherApplicationHoldsIsReportedAsInUse)
{
    keys.setTakenElsewhere(3, ctrlAlt | shift);
    const Status taken = hotKeys->checkAvailable(3, ctrlAlt | shift | 0x10000);
    ASSERT_FALSE(taken.ok());
    EXPECT_EQ(taken.error(), QStringLiteral("This shortcut is in use by another application."));
    EXPECT_TRUE(hotKeys->checkAvailable(9, ctrlAlt).ok()) << "the open-popup key is Lumra's own";
    EXPECT_TRUE(hotKeys->checkAvailable(96, 0).ok()) << "a function key may stand alone";
    EXPECT_FALSE(hotKeys->checkAvailable(0, shift).ok());
    EXPECT_EQ(keys.grabbed(), (QList<GlobalHotKeys::HotKey>{{9, ctrlAlt}})) << "probing leaves no grab behind";
}

} // namespace
} // namespace lumra
