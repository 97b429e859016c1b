#include "platform/keys/KeyCodes.h"

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <set>

namespace KeyCodes = lumra::KeyCodes;
namespace X11Mask = lumra::KeyCodes::X11Mask;
using lumra::ItemShortcut;

namespace {

// The printable keys of the US layout by virtual key code, written out independently of the
// translation table ('\0' where a code is not a printable key).
constexpr char kUsLayout[] = "asdfhgzxcv\0bqweryt123465=97-80]ou[ip\0lj'k;\\,/nm.\0 `";

} // namespace

TEST(KeyCodes, PrintableKeysFollowTheUsLayout)
{
    int printable = 0;
    for (quint16 code = 0; code < sizeof(kUsLayout) - 1; ++code) {
        const char symbol = kUsLayout[code];
        if (symbol == '\0') {
            EXPECT_GE(KeyCodes::keysymForKeyCode(code).value_or(0xff00), 0xff00u) << code;
            continue;
        }
        ++printable;
        EXPECT_EQ(KeyCodes::keysymForKeyCode(code), std::optional<quint32>(quint32(symbol))) << code;
        EXPECT_EQ(KeyCodes::keyCodeForKeysym(quint32(symbol)), std::optional<quint16>(code)) << symbol;
        const int qtKey = (symbol >= 'a' && symbol <= 'z') ? symbol - 'a' + Qt::Key_A : symbol;
        EXPECT_EQ(KeyCodes::keyCodeForQtKey(qtKey), std::optional<quint16>(code)) << symbol;
    }
    EXPECT_EQ(printable, 48);
}

TEST(KeyCodes, TableHasOneRowPerCodeAndSymbol)
{
    std::set<quint16> codes;
    std::set<quint32> keysyms;
    std::set<int> qtKeys;
    for (const KeyCodes::Entry& entry : KeyCodes::table()) {
        EXPECT_TRUE(codes.insert(entry.keyCode).second) << entry.keyCode;
        EXPECT_TRUE(keysyms.insert(entry.keysym).second) << entry.keyCode;
        EXPECT_TRUE(qtKeys.insert(entry.qtKey).second) << entry.keyCode;
    }
}

TEST(KeyCodes, ShiftedSymbolsNameTheKeyThatCarriesThem)
{
    const std::pair<quint32, quint16> cases[] = { { 'V', 9 }, { '!', 18 }, { ')', 29 }, { '"', 39 }, { '~', 50 } };
    for (const auto& [symbol, code] : cases) {
        EXPECT_EQ(KeyCodes::keyCodeForKeysym(symbol), std::optional<quint16>(code)) << char(symbol);
        EXPECT_EQ(KeyCodes::keyCodeForQtKey(int(symbol)), std::optional<quint16>(code)) << char(symbol);
    }
    EXPECT_EQ(KeyCodes::keyCodeForQtKey(Qt::Key_Backtab), std::optional<quint16>(48));
}

TEST(KeyCodes, KeysOutsideTheTableHaveNoCode)
{
    for (quint16 code : { 10, 52, 65, 83, 200, 0xFFFF })
        EXPECT_FALSE(KeyCodes::keysymForKeyCode(code)) << code;
    for (quint32 keysym : { quint32(XK_KP_1), quint32(XK_Shift_L), quint32(XK_Cyrillic_a), quint32(XK_F13) })
        EXPECT_FALSE(KeyCodes::keyCodeForKeysym(keysym)) << keysym;
    for (int qtKey : { int(Qt::Key_Control), int(Qt::Key_Meta), int(Qt::Key_unknown), 0x0416 })
        EXPECT_FALSE(KeyCodes::keyCodeForQtKey(qtKey)) << qtKey;
}

TEST(KeyCodes, ModifierFlagsMapToX11MasksBothWays)
{
    const std::pair<quint64, unsigned> cases[] = {
        { 0, 0 },
        { KeyCodes::commandFlag, X11Mask::control },
        { KeyCodes::optionFlag, X11Mask::mod1 },
        { KeyCodes::controlFlag, X11Mask::mod4 },
        { KeyCodes::shiftFlag, X11Mask::shift },
        { 0x180000, X11Mask::control | X11Mask::mod1 },
        { KeyCodes::modifierFlagsMask, X11Mask::shift | X11Mask::control | X11Mask::mod1 | X11Mask::mod4 },
    };
    for (const auto& [flags, mask] : cases) {
        EXPECT_EQ(KeyCodes::x11ModifierMask(flags), mask) << flags;
        EXPECT_EQ(KeyCodes::modifierFlagsFromX11(mask), flags) << mask;
        EXPECT_EQ(KeyCodes::modifierFlagsFromX11(mask | X11Mask::lock | X11Mask::mod2), flags) << mask;
    }
}

TEST(KeyCodes, LockKeypadAndDeviceBitsAreMaskedOff)
{
    const quint64 capsLock = 0x10000, numericPad = 0x200000, function = 0x800000, deviceBits = 0x0108;
    EXPECT_EQ(KeyCodes::maskedModifierFlags(0x180000 | capsLock | numericPad | function | deviceBits), 0x180000u);
    EXPECT_EQ(KeyCodes::x11ModifierMask(capsLock | numericPad), 0u);
}

TEST(KeyCodes, ShortcutNeedsCtrlAltOrSuper)
{
    const std::pair<quint64, bool> cases[] = {
        { 0, false },
        { KeyCodes::shiftFlag, false },
        { KeyCodes::shiftFlag | 0x10000 | 0x200000, false },
        { KeyCodes::commandFlag, true },
        { KeyCodes::optionFlag, true },
        { KeyCodes::controlFlag, true },
        { KeyCodes::shiftFlag | KeyCodes::optionFlag, true },
    };
    for (const auto& [flags, valid] : cases)
        EXPECT_EQ(KeyCodes::isValidShortcutModifiers(flags), valid) << flags;
}

TEST(KeyCodes, FunctionKeysMayStandAloneOrWithShift)
{
    const quint16 f1 = 122, f12 = 111, a = 0, unknown = 10;
    const std::tuple<quint16, quint64, bool> cases[] = {
        { f1, 0, true },
        { f12, KeyCodes::shiftFlag | 0x10000 | 0x800000, true },
        { a, KeyCodes::shiftFlag, false },
        { a, 0x10000 | 0x200000, false },
        { a, KeyCodes::controlFlag, true },
        { unknown, KeyCodes::commandFlag, false },
    };
    for (const auto& [keyCode, flags, acceptable] : cases)
        EXPECT_EQ(KeyCodes::isAcceptableShortcut(keyCode, flags), acceptable) << keyCode << " " << flags;
}

TEST(KeyCodes, KeyEventsBecomeStoredShortcuts)
{
    using KeyCodes::shortcutFromKeyEvent;
    EXPECT_EQ(shortcutFromKeyEvent(Qt::Key_V, Qt::ControlModifier | Qt::AltModifier), (ItemShortcut { 9, 0x180000 }));
    EXPECT_EQ(shortcutFromKeyEvent(Qt::Key_Exclam, Qt::MetaModifier | Qt::ShiftModifier),
        (ItemShortcut { 18, KeyCodes::controlFlag | KeyCodes::shiftFlag }));
    EXPECT_EQ(shortcutFromKeyEvent(Qt::Key_F5, Qt::AltModifier), (ItemShortcut { 96, KeyCodes::optionFlag }));
    EXPECT_EQ(shortcutFromKeyEvent(Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier),
        (ItemShortcut { 76, KeyCodes::commandFlag }));
    // A key Qt cannot name falls back to the keysym Qt reports as the native key.
    EXPECT_EQ(
        shortcutFromKeyEvent(Qt::Key_unknown, Qt::ControlModifier, XK_v), (ItemShortcut { 9, KeyCodes::commandFlag }));

    EXPECT_FALSE(shortcutFromKeyEvent(Qt::Key_Control, Qt::ControlModifier));
    EXPECT_FALSE(shortcutFromKeyEvent(Qt::Key_Alt, Qt::AltModifier | Qt::ControlModifier));
    EXPECT_FALSE(shortcutFromKeyEvent(Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier, XK_KP_1));
    EXPECT_FALSE(shortcutFromKeyEvent(0x0416, Qt::ControlModifier, XK_Cyrillic_ZHE));
}
