#pragma once

#include "platform/keys/KeyInjector.h"
#include "platform/keys/X11Keymap.h"

#include <QStringList>

#include <chrono>

namespace lumra {

// Ctrl+V through XTest, or the key the focused window's application pastes with when that is
// another (terminals, told by WM_CLASS). Modifiers the user still holds from the hot key that started the paste
// would turn it into another chord (Ctrl+Alt+V opens the popup again), so it first waits up to
// `releaseWait` for them to be let go and then releases the rest itself.
class X11KeyInjector final : public KeyInjector {
public:
    explicit X11KeyInjector(
        _XDisplay* display = qtX11Display(), std::chrono::milliseconds releaseWait = std::chrono::milliseconds(500));

    bool canPost() const override { return m_display && m_hasXTest; }
    Status postPaste() override;

private:
    QStringList focusedWindowNames() const;

    _XDisplay* m_display;
    std::chrono::milliseconds m_releaseWait;
    bool m_hasXTest = false;
};

} // namespace lumra
