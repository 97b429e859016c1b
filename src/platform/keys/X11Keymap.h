#pragma once

#include <QtGlobal>

#include <vector>

struct _XDisplay;

namespace lumra {

// Qt's own X connection, or nullptr when Qt does not run on xcb.
_XDisplay* qtX11Display();

// A snapshot of the server's current keyboard and modifier mappings, read fresh so that a
// layout switched since the last look is honoured.
class X11Keymap {
public:
    explicit X11Keymap(_XDisplay* display);

    // The X keycode that produces `keysym` in the current layout (unshifted positions first); 0 when none.
    quint8 keycodeFor(quint32 keysym) const;
    // The modifier mask a key producing `keysym` is bound to (Num_Lock → Mod2 usually); 0 when none.
    unsigned modifierMaskFor(quint32 keysym) const;
    // Keycodes bound to any modifier whose mask is not in `ignoredMasks`.
    std::vector<quint8> modifierKeycodes(unsigned ignoredMasks) const;

private:
    int m_minKeycode = 0;
    int m_keysymsPerKeycode = 0;
    std::vector<quint32> m_keysyms;
    int m_keysPerModifier = 0;
    std::vector<quint8> m_modifierMap; // 8 rows of m_keysPerModifier keycodes
};

} // namespace lumra
