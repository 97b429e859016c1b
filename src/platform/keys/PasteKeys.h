#pragma once

#include <QStringList>

namespace lumra {

// The keys that paste the clipboard into an application.
enum class PasteChord {
    controlV,
    controlShiftV, // terminals: Ctrl+V reaches the program inside as a control character
    none,          // no key pastes the clipboard there by default
};

// Chosen by the names the focused window gives itself: WM_CLASS instance and class on X11, the
// app id on Wayland (reverse-DNS or plain, any case). Applications not known as terminals take Ctrl+V.
PasteChord pasteChordFor(const QStringList& windowNames);

// "Ctrl+Shift+V", for messages.
QString pasteChordName(PasteChord chord);

// Why nothing was sent to `application` (one of its window names) for `chord` none.
QString noPasteKeyMessage(const QString& application);

} // namespace lumra
