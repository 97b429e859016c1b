#pragma once

#include "ui/settings/SettingsWindow.h"

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

// With no handler the settings stay closed and quitting falls back to QCoreApplication::quit.
void setHandlers(Handlers handlers);
void openSettings(std::optional<SettingsTab> tab = std::nullopt);
void quit();

} // namespace AppActions
} // namespace lumra
