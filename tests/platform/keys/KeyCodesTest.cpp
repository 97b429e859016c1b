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

struct SpecialKey {
    quint16 keyCode;
    quint32 keysym;
    int qtKey;
};
const SpecialKey kSpecialKeys[] = {
    { 36, XK_Return, Qt::Key_Return },
    { 48, XK_Tab, Qt::Key_Tab },
    { 51, XK_BackSpace, Qt::Key_Backspace },
    { 53, XK_Escape, Qt::Key_Escape },
    { 123, XK_Left, Qt::Key_Left },
    { 124, XK_Right, Qt::Key_Right },
    { 125, XK_Down, Qt::Key_Down },
    { 126, XK_Up, Qt::Key_Up },
    { 76, XK_KP_Enter, Qt::Key_Enter },
    { 115, XK_Home, Qt::Key_Home },
    { 119, XK_End, Qt::Key_End },
    { 116, XK_Prior, Qt::Key_PageUp },
    { 121, XK_Next, Qt::Key_PageDown },
    { 122, XK_F1, Qt::Key_F1 },
    { 120, XK_F2, Qt::Key_F2 },
    { 99, XK_F3, Qt::Key_F3 },
    { 118, XK_F4, Qt::Key_F4 },
    { 96, XK_F5, Qt::Key_F5 },
    { 97, XK_F6, Qt::Key_F6 },
    { 98, XK_F7, Qt::Key_F7 },
    { 100, XK_F8, Qt::Key_F8 },
    { 101, XK_F9, Qt::Key_F9 },
    { 109, XK_F10, Qt::Key_F10 },
    { 103, XK_F11, Qt::Key_F11 },
    { 111, XK_F12, Qt::Key_F12 },
};

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

TEST(KeyCodes, SpecialKeysTranslateBothWays)
{
    for (const SpecialKey& key : kSpecialKeys) {
        EXPECT_EQ(KeyCodes::keysymForKeyCode(key.keyCode), std::optional<quint32>(key.keysym)) << key.keyCode;
        EXPECT_EQ(KeyCodes::keyCodeForKeysym(key.keysym), std::optional<quint16>(key.keyCode)) << key.keyCode;
        EXPECT_EQ(KeyCodes::keyCodeForQtKey(key.qtKey), std::optional<quint16>(key.keyCode)) << key.keyCode;
    }
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
    EXPECT_EQ(codes.size(), 48u + std::size(kSpecialKeys));
}

TEST(KeyCodes, ShiftedSymbolsNameTheKeyThatCarriesThem)
{
    const std::pair<quint32, quint16> cases[] = {
        { 'V', 9 },
        { 'A', 0 },
        { '!', 18 },
        { '@', 19 },
        { ')', 29 },
        { '_', 27 },
        { '+', 24 },
        { '{', 33 },
        { '}', 30 },
        { '|', 42 },
        { ':', 41 },
        { '"', 39 },
        { '<', 43 },
        { '>', 47 },
        { '?', 44 },
        { '~', 50 },
    };
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
