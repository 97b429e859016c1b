#include "platform/keys/X11Keymap.h"

#include <QGuiApplication>

#include <X11/Xlib.h>

namespace lumra {

_XDisplay* qtX11Display()
{
    if (!qGuiApp)
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

X11Keymap::X11Keymap(_XDisplay* display)
{
    int maxKeycode = 0;
    XDisplayKeycodes(display, &m_minKeycode, &maxKeycode);
    const int count = maxKeycode - m_minKeycode + 1;
    if (KeySym* keysyms = XGetKeyboardMapping(display, KeyCode(m_minKeycode), count, &m_keysymsPerKeycode)) {
        m_keysyms.assign(keysyms, keysyms + count * m_keysymsPerKeycode);
        XFree(keysyms);
    }
    if (XModifierKeymap* map = XGetModifierMapping(display)) {
        m_keysPerModifier = map->max_keypermod;
        m_modifierMap.assign(map->modifiermap, map->modifiermap + 8 * map->max_keypermod);
        XFreeModifiermap(map);
    }
}

quint8 X11Keymap::keycodeFor(quint32 keysym) const
{
    if (m_keysymsPerKeycode == 0)
        return 0;
    const int keycodes = int(m_keysyms.size()) / m_keysymsPerKeycode;
    for (int column = 0; column < m_keysymsPerKeycode; ++column) {
        for (int i = 0; i < keycodes; ++i) {
            if (m_keysyms[i * m_keysymsPerKeycode + column] == keysym)
                return quint8(m_minKeycode + i);
        }
    }
    return 0;
}

unsigned X11Keymap::modifierMaskFor(quint32 keysym) const
{
    unsigned mask = 0;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int k = 0; k < m_keysPerModifier; ++k) {
            const int keycode = m_modifierMap[modifier * m_keysPerModifier + k];
            if (keycode == 0 || keycode < m_minKeycode)
                continue;
            const int row = keycode - m_minKeycode;
            for (int column = 0; column < m_keysymsPerKeycode; ++column) {
                const size_t index = size_t(row * m_keysymsPerKeycode + column);
                if (index < m_keysyms.size() && m_keysyms[index] == keysym)
                    mask |= 1u << modifier;
            }
        }
    }
    return mask;
}

std::vector<quint8> X11Keymap::modifierKeycodes(unsigned ignoredMasks) const
{
    std::vector<quint8> keycodes;
    for (int modifier = 0; modifier < 8; ++modifier) {
        if (ignoredMasks & (1u << modifier))
            continue;
        for (int k = 0; k < m_keysPerModifier; ++k) {
            const quint8 keycode = m_modifierMap[modifier * m_keysPerModifier + k];
            if (keycode != 0)
                keycodes.push_back(keycode);
        }
    }
    return keycodes;
}

} // namespace lumra
