#pragma once

#include "app/AppDelegate.h"
#include "app/DisplayBackend.h"

#include <memory>
#include <optional>

namespace lumra {

class GlobalHotKeys;
class KeyInjector;
class Pasteboard;
class SoundPlayer;
class TextRecognizer;
class Workspace;

// The real backends Lumra runs on, under X11 or Wayland, made once at start and kept for the
// process. Without a clipboard it can reach, Lumra runs without capture.
class DesktopServices {
public:
    explicit DesktopServices(DisplayBackend backend);
    ~DesktopServices();

    AppServices appServices();

private:
    void noteLaunchChange();

    std::unique_ptr<Pasteboard> m_pasteboard;
    std::optional<qint64> m_changeCountAtLaunch;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<KeyInjector> m_keyInjector;
    std::unique_ptr<TextRecognizer> m_textRecognizer;
    std::unique_ptr<SoundPlayer> m_soundPlayer;
    std::unique_ptr<GlobalHotKeys> m_hotKeys;
};

} // namespace lumra
