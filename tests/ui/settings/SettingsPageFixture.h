#pragma once

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "platform/login/LoginItem.h"
#include "ui/settings/SettingsWindow.h"

#include "app/ShellTestSupport.h"
#include "Screenshots.h"

#include <QApplication>
#include <QStyle>

namespace lumra::test {

// A settings window over the whole engine on doubles, with scripted alerts.
class SettingsPageTest : public ShellTest {
protected:
    SettingsPageTest()
    {
        manager = makeManager();
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
        std::ignore = hotKeys->setupHotKeyManager(manager.get());
        PromptService::setShared(&prompts);
    }
    ~SettingsPageTest() override
    {
        m_window.reset();
        PromptService::setShared(nullptr);
    }

    SettingsWindow& window(SettingsServices services = {})
    {
        if (!m_window) {
            services.loginItem = &loginItem;
            services.prompts = &prompts;
            m_window = std::make_unique<SettingsWindow>(*manager, *hotKeys, services);
        }
        return *m_window;
    }
    template <class Page>
    Page& page(SettingsTab tab)
    {
        auto* found = qobject_cast<Page*>(window().page(tab));
        EXPECT_NE(found, nullptr);
        return *found;
    }
    void closeWindow() { m_window.reset(); }

    // Saves `widget` as the artifacts `name`-light.png and `name`-dark.png.
    static void saveScreenshots(QWidget& widget, const QString& name)
    {
        const QPalette light = QApplication::style()->standardPalette();
        for (const auto& [palette, suffix] : {std::pair {light, "light"}, std::pair {darkPalette(), "dark"}}) {
            QApplication::setPalette(palette);
            QCoreApplication::processEvents();
            saveArtifact(widget, name + QLatin1Char('-') + QLatin1String(suffix));
        }
        QApplication::setPalette(light);
    }

    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> hotKeys;
    ScriptedPromptService prompts;
    InMemoryLoginItem loginItem;

private:
    std::unique_ptr<SettingsWindow> m_window;
};

} // namespace lumra::test
