#pragma once

#include "platform/core/BackgroundWork.h"
#include "platform/keys/KeyInjector.h"

#include <QPointer>
#include <QString>

#include <memory>


namespace lumra {

// Ctrl+V through the compositor's virtual-keyboard protocol (zwp_virtual_keyboard_v1), on a
// connection of its own, read and written on a thread of its own: nothing the paste waits for
// (the compositor naming the focused window) holds the main thread, and a compositor that refuses
// the keyboard ends that connection only. The keyboard carries a US keymap of its own, so Ctrl+V
// is the same keys whatever layout the user types with; the modifiers are stated explicitly, so
// keys the user still holds from a shortcut do not turn the paste into another chord. Where the
// compositor lists its windows (wlroots' foreign-toplevel protocol), a terminal in front gets the
// key it pastes with instead; when the compositor does not say in time which window is in front,
// no key is sent (Ctrl+V would reach a terminal's program as a control character) and the user
// is told to paste.
class WaylandKeyInjector final : public KeyInjector {
public:
    // Never null on a Wayland session; canPost() says whether the compositor offers the protocol.
    static std::unique_ptr<WaylandKeyInjector> create();
    ~WaylandKeyInjector() override;

    bool canPost() const override;
    Status postPaste() override { return postPasteThen({}); }
    Status postPasteThen(std::function<void()> sent) override;
    QString unavailableReason() const override { return KeyInjectorMessages::noVirtualKeyboard(); }
    void setFailureHandler(QObject* context, std::function<void(const QString&)> handler) override;

    class Keyboard;

private:
    WaylandKeyInjector();
    void tellFailure(const QString& message);

    std::unique_ptr<BackgroundWork::OwnThread> m_thread;
    Keyboard* m_keyboard = nullptr;
    std::unique_ptr<QObject> m_relay; // on the creating thread: failures are told from there
    QPointer<QObject> m_context;
    std::function<void(const QString&)> m_handler;
};

} // namespace lumra
