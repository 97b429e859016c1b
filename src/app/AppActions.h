#pragma once

#include "app/SettingsWindow.h"

#include <functional>
#include <optional>

namespace lumra {

// What views deep inside the popup ask of the application: the settings window and quitting.
// The application delegate installs its own handlers; tests install recording ones.
namespace AppActions {

struct Handlers {
    std::function<void(std::optional<SettingsTab>)> openSettings;
    std::function<void()> quit;
};

// Empty members fall back to a settings window of this module and QCoreApplication::quit.
void setHandlers(Handlers handlers);
void openSettings(std::optional<SettingsTab> tab = std::nullopt);
void quit();

} // namespace AppActions
} // namespace lumra
