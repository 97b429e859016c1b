#pragma once

#include "platform/keys/KeyInjector.h"

#include <QHash>
#include <QString>

#include <memory>

struct wl_proxy;

namespace lumra {

class WaylandConnection;

// Ctrl+V through the compositor's virtual-keyboard protocol (zwp_virtual_keyboard_v1), on a
// connection of its own: a compositor that refuses the keyboard ends that connection only. The
// keyboard carries a US keymap of its own, so Ctrl+V is the same keys whatever layout the user
// types with; the modifiers are stated explicitly, so keys the user still holds from a shortcut
// do not turn the paste into another chord. Where the compositor lists its windows (wlroots'
// foreign-toplevel protocol), a terminal in front gets the key it pastes with instead.
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
    QString focusedAppId();

    struct Toplevel {
        QString appId;
        bool activated = false;
    };
    friend struct ToplevelListeners;

    std::unique_ptr<WaylandConnection> m_connection;
    wl_proxy* m_seat = nullptr;
    wl_proxy* m_manager = nullptr;
    wl_proxy* m_keyboard = nullptr;
    wl_proxy* m_toplevels = nullptr; // the compositor's list of windows, when it offers one
    QHash<wl_proxy*, Toplevel> m_toplevelStates;
    quint32 m_controlMask = 0;
    quint32 m_shiftMask = 0;
};

} // namespace lumra
