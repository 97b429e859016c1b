#pragma once

#include "model/ClipboardItem.h"

#include <QtGlobal>
#include <Qt>

#include <array>
#include <optional>
#include <span>

// Stored shortcuts use US-layout virtual key codes (0 = A, 9 = V, 49 = Space …) and the
// modifier flags shift 0x20000, control 0x40000, option 0x80000, command 0x100000, so that
// settings and backups stay exchangeable. This is the only place that knows how they map to
// X keysyms, X modifier masks and Qt key events.
namespace lumra::KeyCodes {

struct Entry {
    quint16 keyCode;
    quint32 keysym; // the unshifted symbol (letters in lower case)
    int qtKey;
};

// Every key a stored shortcut can name.
std::span<const Entry> table();

std::optional<quint32> keysymForKeyCode(quint16 keyCode);
// Accepts shifted symbols of the US layout too: "A" and "!" give the codes of "a" and "1".
std::optional<quint16> keyCodeForKeysym(quint32 keysym);
std::optional<quint16> keyCodeForQtKey(int qtKey);

constexpr quint64 shiftFlag = ItemShortcut::shiftFlag;
constexpr quint64 controlFlag = ItemShortcut::controlFlag;
constexpr quint64 optionFlag = ItemShortcut::optionFlag;
constexpr quint64 commandFlag = ItemShortcut::commandFlag;
constexpr quint64 modifierFlagsMask = shiftFlag | controlFlag | optionFlag | commandFlag;

// Drops Caps Lock, numeric-pad, function-key and device bits before storing or comparing.
constexpr quint64 maskedModifierFlags(quint64 flags)
{
    return flags & modifierFlagsMask;
}

// A global shortcut needs at least one of Ctrl, Alt or Super; Shift alone would steal typing.
constexpr bool isValidShortcutModifiers(quint64 flags)
{
    return (flags & (commandFlag | optionFlag | controlFlag)) != 0;
}

// F1 to F12: they type nothing, so they may stand alone or with Shift.
bool isFunctionKey(quint16 keyCode);

// Whether a chord may be stored and grabbed: a known key, with Ctrl, Alt or Super, or a
// function key alone or with Shift. Lock and keypad bits do not count either way.
bool isAcceptableShortcut(quint16 keyCode, quint64 flags);

// US-layout key codes of the digits 1 to 9 (quick paste).
constexpr std::array<quint16, 9> digitKeyCodes { 18, 19, 20, 21, 23, 22, 26, 28, 25 };

// X core modifier masks, spelled out so that callers need not include Xlib.
namespace X11Mask {
constexpr unsigned shift = 1u << 0;
constexpr unsigned lock = 1u << 1;
constexpr unsigned control = 1u << 2;
constexpr unsigned mod1 = 1u << 3; // Alt
constexpr unsigned mod2 = 1u << 4; // usually Num Lock
constexpr unsigned mod4 = 1u << 6; // Super
} // namespace X11Mask

// command ↔ Ctrl, option ↔ Alt, control ↔ Super, shift ↔ Shift.
unsigned x11ModifierMask(quint64 flags);
// Lock, Num Lock and any other bit without a flag are ignored.
quint64 modifierFlagsFromX11(unsigned mask);

quint64 modifierFlagsFromQt(Qt::KeyboardModifiers modifiers);

// The stored form of a key press in the shortcut recorder. `nativeVirtualKey` is the X keysym
// Qt reports on xcb, used when the Qt key is not one of ours. Nothing for modifier keys alone,
// keys outside the table and keypad keys other than Enter.
std::optional<ItemShortcut> shortcutFromKeyEvent(
    int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey = 0);

} // namespace lumra::KeyCodes
