#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "platform/keys/FakeGlobalHotKeys.h"
#include "platform/login/LoginItem.h"
#include "ui/settings/ApplicationChooser.h"
#include "ui/settings/IgnoredAppsBox.h"
#include "ui/settings/PrivacyPage.h"
#include "ui/settings/SettingsWindow.h"

#include "X11EngineTest.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace lumra;

namespace {

// A small Tk window of a known class that takes the focus and copies `text`.
QByteArray tkCopier(const QByteArray& windowClass, const QByteArray& text)
{
    return "wm withdraw .\n"
           "toplevel .w -class " + windowClass + "\n"
           "wm title .w " + windowClass + "\n"
           "label .w.l -text " + windowClass + "\n"
           "pack .w.l -padx 40 -pady 20\n"
           "tkwait visibility .w\n"
           "raise .w\n"
           "focus -force .w\n"
           "update\n"
           "after 500\n"
           "clipboard clear\n"
           "clipboard append \"" + text + "\"\n"
           "puts copied\n"
           "flush stdout\n"
           "after 30000 exit\n";
}

// The road of an application the user ignores: its desktop entry installed, chosen in the Privacy
// page's chooser, and its copies left out while another window's copies are kept.
class IgnoredApplicationX11Test : public test::X11EngineTest {
protected:
    void SetUp() override
    {
        for (const char* tool : {"wish", "openbox"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        }
        // Which window is in front is the window manager's to say.
        windowManager.start(QStringLiteral("openbox"), {});
        ASSERT_TRUE(windowManager.waitForStarted());

        ASSERT_TRUE(QDir().mkpath(dataDir.dataHome() + "/applications"));
        QFile entry(dataDir.dataHome() + "/applications/org.example.TkVault.desktop");
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Tk Vault\nExec=wish\nStartupWMClass=TkVault\n"
                    "Icon=dialog-password\n");
        entry.close();

        startEngine();
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults);
    }
    void TearDown() override
    {
        // Ended politely, so the window manager takes its root window properties with it and the
        // next test finds the display as it was.
        for (QProcess* process : {&vault, &notes, &windowManager}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        window.reset();
        hotKeys.reset();
        manager.reset();
    }

    void runTk(QProcess& process, const QByteArray& windowClass, const QByteArray& text)
    {
        process.start(QStringLiteral("wish"), {});
        ASSERT_TRUE(process.waitForStarted());
        process.write(tkCopier(windowClass, text));
        ASSERT_TRUE(QTest::qWaitFor([&] { return process.canReadLine(); }, 20000)) << windowClass.constData();
    }

    FakeGlobalHotKeys keys;
    InMemoryLoginItem loginItem;
    ScriptedPromptService prompts;
    std::unique_ptr<HotKeyManager> hotKeys;
    std::unique_ptr<SettingsWindow> window;
    QProcess windowManager;
    QProcess vault;
    QProcess notes;
};

TEST_F(IgnoredApplicationX11Test, AnApplicationChosenOnThePrivacyPageIsNotRecorded)
{
    SettingsServices services;
    services.prompts = &prompts;
    services.loginItem = &loginItem;
    window = std::make_unique<SettingsWindow>(*manager, *hotKeys, services);
    window->present(SettingsTab::privacy);
    auto* privacy = qobject_cast<PrivacyPage*>(window->page(SettingsTab::privacy));
    ASSERT_NE(privacy, nullptr);

    // The chooser opens modally over the settings window; the user searches and adds.
    QStringList offered;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* chooser = qobject_cast<ApplicationChooser*>(QApplication::activeModalWidget());
        if (!chooser || !chooser->isVisible())
            return;
        driver.stop();
        chooser->searchField()->setText("tk vau");
        offered = chooser->visibleNames();
        chooser->addButton()->click();
    });
    driver.start(50);
    privacy->appsBox()->addButton()->click();
    ASSERT_EQ(offered, (QStringList {"Tk Vault"}));
    ASSERT_TRUE(manager->ignoredApplications().contains(IgnoredApp {"org.example.TkVault", "Tk Vault"}));
    window->hide();

    runTk(vault, "TkVault", "secret from the vault");
    // Seen while the vault is still in front, before another window takes the focus.
    QTest::qWait(1000);
    manager->finishPendingCaptures();
    runTk(notes, "TkNotes", "note from another window");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !manager->clipboardItems().isEmpty(); }, 20000));
    manager->finishPendingCaptures();
    QTest::qWait(200);
    ASSERT_EQ(manager->clipboardItems().size(), 1);
    const ClipboardItem& kept = manager->clipboardItems().first();
    EXPECT_EQ(kept.textContent, "note from another window");
    EXPECT_EQ(kept.sourceAppBundleId, "TkNotes");
}

} // namespace
