#pragma once

#include "platform/core/Result.h"

#include <functional>

class QObject;

namespace lumra {

// Sends the synthetic paste (Ctrl+V) to whichever window has the keyboard focus.
class KeyInjector {
public:
    virtual ~KeyInjector() = default;

    // Whether synthetic keys can be sent at all (on X11: the XTest extension is present).
    virtual bool canPost() const = 0;
    // Ctrl+V to the focused window, with no other modifier in effect. Fails, saying why, when
    // nothing could be sent. An injector that sends from a thread of its own returns once the
    // paste is handed over, and tells a later failure through the failure handler.
    virtual Status postPaste() = 0;
    // As postPaste(); `sent` runs on the calling thread once the keys went, which for an injector
    // that sends on a thread of its own is after this returns (and never when it fails).
    virtual Status postPasteThen(std::function<void()> sent)
    {
        Status status = postPaste();
        if (status)
            sent();
        return status;
    }
    // Called on `context`'s thread, while `context` lives, with what to tell the user of a paste
    // that failed after postPaste() returned.
    virtual void setFailureHandler(QObject* context, std::function<void(const QString&)> handler)
    {
        (void)context;
        (void)handler;
    }
    // What to tell the user when canPost() is false.
    virtual QString unavailableReason() const;
};

namespace KeyInjectorMessages {
inline QString noXTest()
{
    return QStringLiteral("Lumra cannot paste: the X server does not offer the XTest extension needed to send Ctrl+V.");
}
inline QString noWindowInFront()
{
    return QStringLiteral("Lumra did not paste: no window is in front to paste into. The item is on the clipboard: paste "
                          "it with Ctrl+V.");
}
inline QString noVirtualKeyboard()
{
    return QStringLiteral("Lumra cannot paste here: the compositor offers no virtual keyboard. A chosen item is put on "
                          "the clipboard: paste it with Ctrl+V.");
}
} // namespace KeyInjectorMessages

inline QString KeyInjector::unavailableReason() const { return KeyInjectorMessages::noXTest(); }

} // namespace lumra
