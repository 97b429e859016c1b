#include "model/ClipboardItem.h"

#include <gtest/gtest.h>

#include <QSet>

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

TEST(KeyName, CoversTheFixedUsLayoutTableAndNothingElse)
{
    const std::pair<quint16, const char*> known[] = {{0, "A"}, {1, "S"}, {2, "D"}, {3, "F"}, {4, "H"}, {5, "G"},
        {6, "Z"}, {7, "X"}, {8, "C"}, {9, "V"}, {11, "B"}, {12, "Q"}, {13, "W"}, {14, "E"}, {15, "R"}, {16, "Y"},
        {17, "T"}, {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"}, {24, "="}, {25, "9"}, {26, "7"},
        {27, "-"}, {28, "8"}, {29, "0"}, {30, "]"}, {31, "O"}, {32, "U"}, {33, "["}, {34, "I"}, {35, "P"},
        {36, "Return"}, {37, "L"}, {38, "J"}, {39, "'"}, {40, "K"}, {41, ";"}, {42, "\\"}, {43, ","}, {44, "/"},
        {45, "N"}, {46, "M"}, {47, "."}, {48, "Tab"}, {49, "Space"}, {50, "`"}, {51, "Backspace"}, {53, "Esc"},
        {123, "Left"}, {124, "Right"}, {125, "Down"}, {126, "Up"}};
    ASSERT_EQ(std::size(known), 56u);
    QSet<quint16> codes;
    for (const auto& [code, label] : known) {
        EXPECT_EQ(ItemShortcut::keyName(code), label) << code;
        codes.insert(code);
    }
    for (int code = 0; code <= 0xFFFF; ++code) {
        if (!codes.contains(quint16(code))) {
            ASSERT_EQ(ItemShortcut::keyName(quint16(code)), "?") << code;
        }
    }
}

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
