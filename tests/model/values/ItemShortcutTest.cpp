#include "model/ClipboardItem.h"

#include <gtest/gtest.h>


using namespace lumra;

static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {
constexpr quint64 ctrl = ItemShortcut::commandFlag;
constexpr quint64 alt = ItemShortcut::optionFlag;
constexpr quint64 shift = ItemShortcut::shiftFlag;
constexpr quint64 super = ItemShortcut::controlFlag;
} // namespace

struct LabelCase {
    quint16 keyCode;
    quint64 modifiers;
    const char* expected;
};

class ShortcutLabel : public ::testing::TestWithParam<LabelCase> { };

TEST_P(ShortcutLabel, ListsModifiersInFixedOrderThenTheKey)
{
    EXPECT_EQ(ItemShortcut::displayString(GetParam().keyCode, GetParam().modifiers), GetParam().expected);
    EXPECT_EQ((ItemShortcut {GetParam().keyCode, GetParam().modifiers}).displayString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ShortcutLabel,
    ::testing::Values(LabelCase {9, ctrl | alt, "Ctrl+Alt+V"}, LabelCase {0, ctrl | alt | shift | super, "Ctrl+Alt+Shift+Super+A"},
        LabelCase {0, super | shift | alt | ctrl, "Ctrl+Alt+Shift+Super+A"}, LabelCase {9, super | shift, "Shift+Super+V"},
        LabelCase {18, ctrl, "Ctrl+1"}, LabelCase {49, alt, "Alt+Space"}, LabelCase {36, shift, "Shift+Return"},
        LabelCase {53, super, "Super+Esc"}, LabelCase {9, 0, "V"}, LabelCase {122, 0, "?"},
        LabelCase {52, ctrl, "Ctrl+?"},
        // Lock and keypad bits are not modifiers of a label.
        LabelCase {9, ctrl | 0x10000 | 0x200000, "Ctrl+V"}));

TEST(FileBookmarkAccess, StopsOnceWhenTheLastHolderLetsGo)
{
    const int before = FileBookmarkAccess::stopCount();
    auto access = std::make_shared<FileBookmarkAccess>(QUrl("file:///home/ada/notes.txt"), true);
    FileBookmarkAccessPtr preview = access;
    FileBookmarkAccessPtr drag = access;

    access.reset();
    preview.reset();
    EXPECT_EQ(FileBookmarkAccess::stopCount(), before);
    drag.reset();
    EXPECT_EQ(FileBookmarkAccess::stopCount(), before + 1);
}

TEST(FileBookmarkAccess, AccessThatNeverStartedIsNeverStopped)
{
    const int before = FileBookmarkAccess::stopCount();
    {
        auto access = std::make_shared<FileBookmarkAccess>(QUrl("file:///home/ada/gone.txt"), false);
        FileBookmarkAccessPtr holder = access;
        EXPECT_FALSE(holder->startedAccess());
        EXPECT_EQ(holder->url(), QUrl("file:///home/ada/gone.txt"));
    }
    EXPECT_EQ(FileBookmarkAccess::stopCount(), before);
}
