#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "platform/keys/FakeGlobalHotKeys.h"
#include "platform/login/LoginItem.h"
#include "ui/settings/ApplicationChooser.h"
#include "ui/settings/IgnoredAppsBox.h"
#include "ui/settings/PrivacyPage.h"
#include "ui/settings/SettingsWindow.h"

#include "WindowManager.h"
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

// A small Tk window of a known class that takes the focus, then copies what it reads from its
// standard input.
QByteArray tkWindow(const QByteArray& windowClass)
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
           "after 60000 exit\n";
}
QByteArray tkCopy(const QByteArray& text)
{
    return "clipboard clear\n"
           "clipboard append \"" + text + "\"\n"
           "puts copied\n"
           "flush stdout\n";
}

// The road of an application the user ignores: its desktop entry installed, chosen in the Privacy
// page's chooser, and its copies left out while another window's copies are kept.
class IgnoredApplicationX11Test : public test::X11EngineTest {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("wish")).isEmpty() || !test::WindowManager::installed())
            GTEST_SKIP() << "needs wish and openbox";
        // Which window is in front is the window manager's to say.
        ASSERT_TRUE(windowManager.start());

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
        for (QProcess* process : {&vault, &notes}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        windowManager.stop();
        window.reset();
        hotKeys.reset();
        manager.reset();
    }

    // The Tk window `windowClass` comes to the front (as the window manager tells it), copies
    // `text`, and the engine has looked at that copy.
    void copyFromTk(QProcess& process, const QByteArray& windowClass, const QString& bundleId, const QByteArray& text)
    {
        process.start(QStringLiteral("wish"), {});
        ASSERT_TRUE(process.waitForStarted());
        process.write(tkWindow(windowClass));
        ASSERT_TRUE(QTest::qWaitFor([&] {
            const auto front = workspace->frontmostApplication();
            return front && front->bundleId == bundleId;
        }, 20000)) << windowClass.constData() << " never came to the front";
        const qint64 before = pasteboard->changeCount();
        process.write(tkCopy(text));
        ASSERT_TRUE(QTest::qWaitFor([&] { return process.canReadLine(); }, 20000)) << windowClass.constData();
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return pasteboard->changeCount() > before && manager->lastChangeCount() == pasteboard->changeCount();
        }, 20000)) << "the copy from " << windowClass.constData() << " was never looked at";
        test::finishPendingCaptures(*manager);
    }

    FakeGlobalHotKeys keys;
    InMemoryLoginItem loginItem;
    ScriptedPromptService prompts;
    std::unique_ptr<HotKeyManager> hotKeys;
    std::unique_ptr<SettingsWindow> window;
    test::WindowManager windowManager;
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

    copyFromTk(vault, "TkVault", "org.example.TkVault", "secret from the vault");
    EXPECT_TRUE(manager->clipboardItems().isEmpty());
    copyFromTk(notes, "TkNotes", "TkNotes", "note from another window");
    ASSERT_EQ(manager->clipboardItems().size(), 1);
    const ClipboardItem& kept = manager->clipboardItems().first();
    EXPECT_EQ(kept.textContent, "note from another window");
    EXPECT_EQ(kept.sourceAppBundleId, "TkNotes");
}

} // namespace
