#include "platform/keys/KeyCodes.h"

#include <X11/keysym.h>

#include <array>

namespace lumra::KeyCodes {

namespace {

constexpr Entry ascii(quint16 keyCode, char symbol)
{
    const int upper = (symbol >= 'a' && symbol <= 'z') ? symbol - 'a' + 'A' : symbol;
    return { keyCode, quint32(symbol), upper };
}

constexpr std::array kTable {
    // clang-format off
    ascii(0, 'a'), ascii(1, 's'), ascii(2, 'd'), ascii(3, 'f'), ascii(4, 'h'), ascii(5, 'g'),
    ascii(6, 'z'), ascii(7, 'x'), ascii(8, 'c'), ascii(9, 'v'), ascii(11, 'b'), ascii(12, 'q'),
    ascii(13, 'w'), ascii(14, 'e'), ascii(15, 'r'), ascii(16, 'y'), ascii(17, 't'), ascii(18, '1'),
    ascii(19, '2'), ascii(20, '3'), ascii(21, '4'), ascii(22, '6'), ascii(23, '5'), ascii(24, '='),
    ascii(25, '9'), ascii(26, '7'), ascii(27, '-'), ascii(28, '8'), ascii(29, '0'), ascii(30, ']'),
    ascii(31, 'o'), ascii(32, 'u'), ascii(33, '['), ascii(34, 'i'), ascii(35, 'p'), ascii(37, 'l'),
    ascii(38, 'j'), ascii(39, '\''), ascii(40, 'k'), ascii(41, ';'), ascii(42, '\\'), ascii(43, ','),
    ascii(44, '/'), ascii(45, 'n'), ascii(46, 'm'), ascii(47, '.'), ascii(49, ' '), ascii(50, '`'),
    // clang-format on
    Entry { 36, XK_Return, Qt::Key_Return },
    Entry { 48, XK_Tab, Qt::Key_Tab },
    Entry { 51, XK_BackSpace, Qt::Key_Backspace },
    Entry { 53, XK_Escape, Qt::Key_Escape },
    Entry { 76, XK_KP_Enter, Qt::Key_Enter },
    Entry { 115, XK_Home, Qt::Key_Home },
    Entry { 116, XK_Prior, Qt::Key_PageUp },
    Entry { 119, XK_End, Qt::Key_End },
    Entry { 121, XK_Next, Qt::Key_PageDown },
    Entry { 123, XK_Left, Qt::Key_Left },
    Entry { 124, XK_Right, Qt::Key_Right },
    Entry { 125, XK_Down, Qt::Key_Down },
    Entry { 126, XK_Up, Qt::Key_Up },
    Entry { 122, XK_F1, Qt::Key_F1 },
    Entry { 120, XK_F2, Qt::Key_F2 },
    Entry { 99, XK_F3, Qt::Key_F3 },
    Entry { 118, XK_F4, Qt::Key_F4 },
    Entry { 96, XK_F5, Qt::Key_F5 },
    Entry { 97, XK_F6, Qt::Key_F6 },
    Entry { 98, XK_F7, Qt::Key_F7 },
    Entry { 100, XK_F8, Qt::Key_F8 },
    Entry { 101, XK_F9, Qt::Key_F9 },
    Entry { 109, XK_F10, Qt::Key_F10 },
    Entry { 103, XK_F11, Qt::Key_F11 },
    Entry { 111, XK_F12, Qt::Key_F12 },
};

// Shifted symbols of the US layout and the key that carries them. Qt keys and X keysyms of
// printable ASCII share their code points, so this serves both.
constexpr std::array<std::pair<char, char>, 21> kShifted { {
    { '!', '1' },
    { '@', '2' },
    { '#', '3' },
    { '$', '4' },
    { '%', '5' },
    { '^', '6' },
    { '&', '7' },
    { '*', '8' },
    { '(', '9' },
    { ')', '0' },
    { '_', '-' },
    { '+', '=' },
    { '{', '[' },
    { '}', ']' },
    { '|', '\\' },
    { ':', ';' },
    { '"', '\'' },
    { '<', ',' },
    { '>', '.' },
    { '?', '/' },
    { '~', '`' },
} };

constexpr std::array<std::pair<quint64, unsigned>, 4> kX11Modifiers { {
    { shiftFlag, X11Mask::shift },
    { commandFlag, X11Mask::control },
    { optionFlag, X11Mask::mod1 },
    { controlFlag, X11Mask::mod4 },
} };

quint32 unshifted(quint32 symbol)
{
    for (const auto& [shifted, base] : kShifted) {
        if (symbol == quint32(shifted))
            return quint32(base);
    }
    return symbol;
}

} // namespace

std::span<const Entry> table()
{
    return kTable;
}

std::optional<quint32> keysymForKeyCode(quint16 keyCode)
{
    for (const Entry& entry : kTable) {
        if (entry.keyCode == keyCode)
            return entry.keysym;
    }
    return std::nullopt;
}

std::optional<quint16> keyCodeForKeysym(quint32 keysym)
{
    if (keysym >= 'A' && keysym <= 'Z')
        keysym += 'a' - 'A';
    keysym = unshifted(keysym);
    for (const Entry& entry : kTable) {
        if (entry.keysym == keysym)
            return entry.keyCode;
    }
    return std::nullopt;
}

std::optional<quint16> keyCodeForQtKey(int qtKey)
{
    if (qtKey == Qt::Key_Backtab)
        qtKey = Qt::Key_Tab;
    else if (qtKey > 0 && qtKey < 0x7f)
        qtKey = int(unshifted(quint32(qtKey)));
    for (const Entry& entry : kTable) {
        if (entry.qtKey == qtKey)
            return entry.keyCode;
    }
    return std::nullopt;
}

bool isFunctionKey(quint16 keyCode)
{
    const std::optional<quint32> keysym = keysymForKeyCode(keyCode);
    return keysym && *keysym >= XK_F1 && *keysym <= XK_F12;
}

bool isAcceptableShortcut(quint16 keyCode, quint64 flags)
{
    if (!keysymForKeyCode(keyCode))
        return false;
    return isValidShortcutModifiers(maskedModifierFlags(flags)) || isFunctionKey(keyCode);
}

unsigned x11ModifierMask(quint64 flags)
{
    unsigned mask = 0;
    for (const auto& [flag, x11Mask] : kX11Modifiers) {
        if (flags & flag)
            mask |= x11Mask;
    }
    return mask;
}

quint64 modifierFlagsFromX11(unsigned mask)
{
    quint64 flags = 0;
    for (const auto& [flag, x11Mask] : kX11Modifiers) {
        if (mask & x11Mask)
            flags |= flag;
    }
    return flags;
}

quint64 modifierFlagsFromQt(Qt::KeyboardModifiers modifiers)
{
    quint64 flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= shiftFlag;
    if (modifiers & Qt::ControlModifier)
        flags |= commandFlag;
    if (modifiers & Qt::AltModifier)
        flags |= optionFlag;
    if (modifiers & Qt::MetaModifier) // Super on X11
        flags |= controlFlag;
    return flags;
}

std::optional<ItemShortcut> shortcutFromKeyEvent(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey)
{
    std::optional<quint16> keyCode;
    if (modifiers & Qt::KeypadModifier) {
        // Keypad digits and arrows would otherwise be taken for the main keys.
        if (qtKey == Qt::Key_Enter)
            keyCode = 76;
    } else {
        keyCode = keyCodeForQtKey(qtKey);
        if (!keyCode && nativeVirtualKey != 0)
            keyCode = keyCodeForKeysym(nativeVirtualKey);
    }
    if (!keyCode)
        return std::nullopt;
    return ItemShortcut { *keyCode, modifierFlagsFromQt(modifiers) };
}

} // namespace lumra::KeyCodes
