#include "app/AppActions.h"

#include <QCoreApplication>
#include <QPointer>

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
    if (handlers().openSettings) {
        handlers().openSettings(tab);
        return;
    }
    static QPointer<SettingsWindow> window;
    if (!window)
        window = new SettingsWindow;
    window->present(tab);
}

void quit()
{
    if (handlers().quit)
        handlers().quit();
    else
        QCoreApplication::quit();
}

} // namespace lumra::AppActions
