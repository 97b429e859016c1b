#include "ui/shell/AppActions.h"

#include <QCoreApplication>

namespace lumra::AppActions {

namespace {
Handlers& handlers()
{
    static Handlers installed;
    return installed;
}
} // namespace

void setHandlers(Handlers installed) { handlers() = std::move(installed); }

void openSettings(std::optional<SettingsTab> tab)
{
    // The window needs the application's engine, which only the delegate has.
    if (handlers().openSettings)
        handlers().openSettings(tab);
}

void quit()
{
    if (handlers().quit)
        handlers().quit();
    else
        QCoreApplication::exit(0);
}

} // namespace lumra::AppActions
