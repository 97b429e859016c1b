#pragma once

#include <QString>

#include <functional>

namespace lumra {

class ClipboardManager;
class HotKeyManager;
class LoginItem;
class PromptService;

// What the settings pages work on; the window hands it to each page.
struct SettingsContext {
    ClipboardManager& manager;
    HotKeyManager& hotKeys;
    LoginItem& loginItem;
    PromptService& prompts;
    // Asks for the user's own capture sound; an empty path means cancelled.
    std::function<QString()> chooseSoundFile;
    // Deletes all of Lumra's data on this computer and quits.
    std::function<void()> resetEverything;
};

} // namespace lumra
