#pragma once

#include "platform/keys/KeyInjector.h"

#include <memory>

struct wl_proxy;

namespace lumra {

class WaylandConnection;

// Ctrl+V through the compositor's virtual-keyboard protocol (zwp_virtual_keyboard_v1), on a
// connection of its own: a compositor that refuses the keyboard ends that connection only. The
// keyboard carries a US keymap of its own, so Ctrl+V is the same keys whatever layout the user
// types with; the modifiers are stated explicitly, so keys the user still holds from a shortcut
// do not turn the paste into another chord.
class WaylandKeyInjector final : public KeyInjector {
public:
    // Never null on a Wayland session; canPost() says whether the compositor offers the protocol.
    static std::unique_ptr<WaylandKeyInjector> create();
    ~WaylandKeyInjector() override;

    bool canPost() const override;
    Status postPaste() override;
    QString unavailableReason() const override { return KeyInjectorMessages::noVirtualKeyboard(); }

private:
    explicit WaylandKeyInjector(std::unique_ptr<WaylandConnection> connection);
    Status createKeyboard();

    std::unique_ptr<WaylandConnection> m_connection;
    wl_proxy* m_seat = nullptr;
    wl_proxy* m_manager = nullptr;
    wl_proxy* m_keyboard = nullptr;
    quint32 m_controlMask = 0;
};

} // namespace lumra
