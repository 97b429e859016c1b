#include "ui/settings/SettingsWindow.h"
#include "engine/HistoryFilter.h"

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "platform/login/LoginItem.h"
#include "ui/settings/AppearancePage.h"
#include "ui/settings/BoundRows.h"
#include "ui/items/ShortcutRecorder.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/HistoryListView.h"
#include "ui/settings/GeneralPage.h"
#include "ui/settings/GlobalShortcutLine.h"

#include "app/ShellTestSupport.h"
#include "TestMedia.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QScrollBar>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QTest>
#include <QToolButton>

namespace lumra {
namespace {

using namespace lumra::test;

class SettingsWindowTest : public ShellTest {
protected:
    SettingsWindowTest()
    {
        manager = makeManager();
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
        std::ignore = hotKeys->setupHotKeyManager(manager.get());
        PromptService::setShared(&prompts);
    }
    ~SettingsWindowTest() override { PromptService::setShared(nullptr); }

    SettingsWindow& window()
    {
        if (!m_window) {
            SettingsServices services;
            services.loginItem = &loginItem;
            services.prompts = &prompts;
            services.chooseSoundFile = [this] { return chosenSoundFile; };
            m_window = std::make_unique<SettingsWindow>(*manager, *hotKeys, services);
        }
        return *m_window;
    }
    GeneralPage& general() { return *window().generalPage(); }
    template <class Row = SettingRow>
    Row* row(const QString& title)
    {
        auto* found = qobject_cast<Row*>(general().row(title));
        EXPECT_NE(found, nullptr) << title.toStdString();
        return found;
    }
    static void choose(SettingPickerRow* picker, const QString& label)
    {
        const int index = picker->combo()->findText(label);
        ASSERT_GE(index, 0) << label.toStdString();
        picker->combo()->setCurrentIndex(index);
        emit picker->combo()->activated(index);
    }

    // Saves the window as the build's artifact `name` in a light and a dark palette.
    void saveScreenshots(QWidget& widget, const QString& name)
    {
        const QString folder = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
        QDir().mkpath(folder);
        const QPalette light = QApplication::style()->standardPalette();
        QPalette dark = light;
        dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2e));
        dark.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
        dark.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x36));
        dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
        dark.setColor(QPalette::Mid, QColor(0x55, 0x55, 0x5a));
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(role, QColor(0xee, 0xee, 0xee));
        dark.setColor(QPalette::PlaceholderText, QColor(0xa0, 0xa0, 0xa6));
        dark.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xfd));
        for (const auto& [palette, suffix] : {std::pair {light, "light"}, std::pair {dark, "dark"}}) {
            QApplication::setPalette(palette);
            QCoreApplication::processEvents();
            EXPECT_TRUE(widget.grab().save(QStringLiteral("%1/%2-%3.png").arg(folder, name, QLatin1String(suffix))));
        }
        QApplication::setPalette(light);
    }

    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> hotKeys;
    ScriptedPromptService prompts;
    InMemoryLoginItem loginItem;
    QString chosenSoundFile;

private:
    std::unique_ptr<SettingsWindow> m_window;
};

TEST(SettingsTabsTest, TabsKeepTheirStoredNamesAndShowLinuxTitles)
{
    struct Row { SettingsTab tab; QString raw; QString title; };
    const Row rows[] = {
        {SettingsTab::general, "general", "General"},
        {SettingsTab::appearance, "appearance", "Appearance"},
        {SettingsTab::categories, "categories", "Categories"},
        {SettingsTab::privacy, "privacy", "Privacy"},
        {SettingsTab::shortcuts, "shortcuts", "Shortcuts"},
        {SettingsTab::commands, "commands", "Commands"},
        {SettingsTab::iCloud, "iCloud", "Sync"},
        {SettingsTab::delete_, "delete", "Cleanup"},
        {SettingsTab::data, "data", "Import/Export"},
    };
    ASSERT_EQ(allSettingsTabs().size(), std::size(rows));
    for (int i = 0; i < int(std::size(rows)); ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(allSettingsTabs()[i], row.tab);
        EXPECT_EQ(rawValue(row.tab), row.raw);
        EXPECT_EQ(settingsTabTitle(row.tab), row.title);
        EXPECT_EQ(settingsTabFromRawValue(row.raw), row.tab);
    }
    EXPECT_EQ(settingsTabFromRawValue("Sync"), std::nullopt);
    EXPECT_EQ(settingsTabFromRawValue("cleanup"), std::nullopt);
}

TEST_F(SettingsWindowTest, OpensCentredAtEachPageAndKeepsTheLastOne)
{
    SettingsWindow& w = window();
    EXPECT_EQ(w.windowTitle(), "Lumra Settings");
    EXPECT_EQ(w.size(), QSize(870, 609));
    EXPECT_EQ(w.currentTab(), SettingsTab::general);
    auto* pages = w.findChild<QStackedWidget*>();
    for (SettingsTab tab : allSettingsTabs()) {
        w.present(tab);
        EXPECT_EQ(w.currentTab(), tab);
        EXPECT_EQ(pages->currentWidget(), w.page(tab));
        if (w.page(tab)->objectName() == "placeholder")
            EXPECT_EQ(w.page(tab)->property("text").toString(), settingsTabTitle(tab));
    }
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((w.frameGeometry().center() - screen.center()).manhattanLength(), 40);
    w.present(SettingsTab::privacy);
    w.close();
    w.present();
    EXPECT_EQ(w.currentTab(), SettingsTab::privacy);
}

TEST_F(SettingsWindowTest, RowsWriteTheirSettingAndFollowChangesMadeElsewhere)
{
    auto* ocr = row<SettingSwitchRow>("Image text recognition");
    ASSERT_TRUE(ocr->toggle()->isChecked());
    ocr->toggle()->click();
    EXPECT_FALSE(manager->enableImageOCR());
    EXPECT_EQ(defaults->object("enableImageOCR"), false);
    ASSERT_TRUE(manager->setEnableImageOCR(true));
    EXPECT_TRUE(ocr->toggle()->isChecked());

    auto* search = row<SettingPickerRow>("Search mode");
    choose(search, "Fuzzy match");
    EXPECT_EQ(manager->searchMode(), "fuzzy");
    ASSERT_TRUE(manager->setSearchMode("regex"));
    EXPECT_EQ(search->combo()->currentText(), "Regular expression");

    // A value no option holds (brought in by a settings import) selects nothing and stays stored.
    auto* batch = row<SettingPickerRow>("Items to display");
    ASSERT_TRUE(manager->setDisplayBatchSize(75));
    EXPECT_EQ(batch->combo()->currentIndex(), -1);
    EXPECT_EQ(manager->displayBatchSize(), 75);

    ASSERT_TRUE(manager->setCaptureScreenshots(false));
    EXPECT_FALSE(row<SettingSwitchRow>("Screenshots")->toggle()->isChecked());

    // What the catalogue refuses is said on the row, and the control shows the stored value again.
    SettingPickerRow refused(*manager, {"Batch", "", Setting::displayBatchSize, {{"none", SettingValue(qint64(0)), {}}, {"50", SettingValue(qint64(50)), {}}}});
    choose(&refused, "none");
    EXPECT_EQ(manager->displayBatchSize(), 75);
    EXPECT_EQ(refused.message(), refusedValueMessage());
    EXPECT_EQ(refused.combo()->currentIndex(), -1);
    choose(&refused, "50");
    EXPECT_EQ(manager->displayBatchSize(), 50);
    EXPECT_TRUE(refused.message().isEmpty());
}

TEST_F(SettingsWindowTest, LaunchAtLoginSwitchesTheLoginItemAndSaysWhenItCannot)
{
    loginItem.enabled = true;
    auto* launch = row("Launch at login");
    auto* toggle = qobject_cast<ToggleSwitch*>(launch->control());
    EXPECT_TRUE(toggle->isChecked());
    toggle->click();
    EXPECT_FALSE(loginItem.enabled);
    loginItem.refuse = true;
    toggle->click();
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(loginItem.calls, 2) << "setting the switch back does not ask again";
    EXPECT_FALSE(launch->message().isEmpty());
}

TEST_F(SettingsWindowTest, TheGlobalShortcutSwitchShowsItsRowsOnlyWhileOn)
{
    window().present(SettingsTab::general);
    auto* openAt = row("Open window at");
    auto* toggle = qobject_cast<ToggleSwitch*>(row("Global shortcut")->control());
    ASSERT_TRUE(hotKeys->isEnabled());
    EXPECT_TRUE(openAt->isVisible());
    toggle->click();
    EXPECT_FALSE(hotKeys->isEnabled());
    EXPECT_FALSE(openAt->isVisible());
    EXPECT_TRUE(keys.registeredIds().isEmpty());
    ASSERT_TRUE(hotKeys->setHotKeyEnabled(true).ok());
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(openAt->isVisible());

    // Switching on while another application holds the combination says so.
    toggle->click();
    keys.setTakenElsewhere(9, ctrlAlt);
    toggle->click();
    EXPECT_TRUE(row("Global shortcut")->message().contains("Ctrl+Alt+V")) << row("Global shortcut")->message().toStdString();
}

TEST_F(SettingsWindowTest, WhereTheDesktopGivesNoGlobalKeysTheShortcutRowSaysHowToOpenLumra)
{
    keys.setLimitation("Bind the command \u201clumra\u201d to a key.");
    SettingsWindow& w = window();
    w.present(SettingsTab::general);
    auto* shortcut = row("Global shortcut");
    EXPECT_EQ(shortcut->message(), "Bind the command \u201clumra\u201d to a key.");
    // Switching off and on again keeps the advice.
    auto* toggle = qobject_cast<ToggleSwitch*>(shortcut->control());
    toggle->click();
    toggle->click();
    EXPECT_EQ(shortcut->message(), "Bind the command \u201clumra\u201d to a key.");
    saveScreenshots(w, "settings-general-no-global-keys");
}

TEST_F(SettingsWindowTest, TheShortcutRecorderSuspendsHotKeysAndRefusesChordsHeldElsewhere)
{
    constexpr quint16 keyB = 11, keyC = 8, keyV = 9;
    storeItems(*manager, {textItem("item with a key", ItemShortcut {keyB, ctrlAlt})});
    ASSERT_TRUE(manager->setQuickPasteModifier("command"));
    ASSERT_TRUE(hotKeys->registerAllHotKeys().ok());
    SettingsWindow& w = window();
    w.present(SettingsTab::general);
    GlobalShortcutLine* line = general().shortcutLine();
    ShortcutRecorder* recorder = line->recorder();
    EXPECT_EQ(recorder->displayText(), "Ctrl+Alt+V");
    const int registered = keys.registeredIds().size();

    recorder->click();
    EXPECT_TRUE(hotKeys->isSuspended());
    EXPECT_TRUE(line->removeButton()->isHidden());
    EXPECT_EQ(recorder->displayText(), "Press keys\u2026");
    QTest::keyClick(recorder, Qt::Key_A);
    EXPECT_TRUE(recorder->isRecording()) << "a key without Ctrl, Alt or Super is dropped";
    QTest::keyClick(recorder, Qt::Key_Escape, Qt::ControlModifier);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(hotKeys->isSuspended());
    EXPECT_EQ(line->storedShortcut(), (ItemShortcut {keyV, ctrlAlt}));

    // An item's chord and a chord another application holds are refused; the shortcut stays.
    recorder->click();
    QTest::keyClick(recorder, Qt::Key_B, Qt::ControlModifier | Qt::AltModifier);
    keys.setTakenElsewhere(keyC, ctrlAlt);
    recorder->click();
    QTest::keyClick(recorder, Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(prompts.shown.size(), 2);
    EXPECT_EQ(prompts.shown[0].title, "Shortcut already in use");
    EXPECT_TRUE(prompts.shown[0].text.contains("item with a key")) << prompts.shown[0].text.toStdString();
    EXPECT_TRUE(prompts.shown[0].text.endsWith(" Please use a different shortcut."));
    EXPECT_TRUE(prompts.shown[1].text.contains("another application")) << prompts.shown[1].text.toStdString();
    EXPECT_EQ(line->storedShortcut(), (ItemShortcut {keyV, ctrlAlt}));
    EXPECT_EQ(keys.registeredIds().size(), registered);

    recorder->click();
    QTest::keyClick(recorder, Qt::Key_X, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(recorder->displayText(), "Ctrl+Alt+X");
    EXPECT_EQ(keys.hotKey(HotKeyManager::mainHotKeyId)->keyCode, 7);

    // Removing drops only the open-popup key; item keys and quick paste keep working.
    prompts.answerNext(1);
    line->removeButton()->click();
    EXPECT_TRUE(keys.isRegistered(HotKeyManager::mainHotKeyId));
    prompts.answerNext(0);
    line->removeButton()->click();
    EXPECT_EQ(prompts.shown.last().title, "Remove global shortcut?");
    EXPECT_EQ(defaults->integer("hotKeyKeyCode"), 65535);
    EXPECT_EQ(defaults->integer("hotKeyModifiers"), 0);
    EXPECT_FALSE(keys.isRegistered(HotKeyManager::mainHotKeyId));
    EXPECT_EQ(keys.registeredIds().size(), registered - 1);
    EXPECT_EQ(recorder->displayText(), "Set\u2026");
    EXPECT_TRUE(line->removeButton()->isHidden());
    EXPECT_TRUE(hotKeys->isEnabled());

    // Closing the window ends a recording and gives the keys back.
    recorder->click();
    w.close();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(hotKeys->isSuspended());
}

TEST_F(SettingsWindowTest, TheLimitPromptsSpeakOfOtherComputersOnlyWhileSyncing)
{
    ASSERT_TRUE(manager->setRetentionDays(0));
    storeItems(*manager, {test::textItem("old", clock.now().addDays(-10))});
    auto* retention = row<SettingPickerRow>("Keep history for");

    // Sync on and no folder chosen (a fresh install): nothing leaves this computer.
    ASSERT_TRUE(manager->setICloudSyncEnabled(true));
    ASSERT_TRUE(manager->setSyncFolderPath(QString()));
    prompts.answerNext(1);
    choose(retention, "1 week");
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_EQ(prompts.shown[0].text, "1 item older than the new limit will be deleted.");

    QTemporaryDir folder;
    ASSERT_TRUE(manager->setSyncFolderPath(folder.path()));
    prompts.answerNext(1);
    choose(retention, "1 week");
    ASSERT_EQ(prompts.shown.size(), 2);
    EXPECT_EQ(prompts.shown[1].text, "1 item older than the new limit will be deleted across all your computers.");
}

TEST_F(SettingsWindowTest, LoweringTheLimitsAsksWithTheCountOfWhatGoes)
{
    ASSERT_TRUE(manager->setRetentionDays(0));
    ASSERT_TRUE(manager->setMaxItems(2000));
    QList<ClipboardItem> items;
    for (int i = 0; i < 4; ++i)
        items << test::textItem(QStringLiteral("old %1").arg(i), clock.now().addDays(-10 - i));
    items[0].isPinned = true; // starred: never deleted, never counted
    items << test::textItem("new", clock.now().addDays(-1));
    storeItems(*manager, items);

    auto* retention = row<SettingPickerRow>("Keep history for");
    prompts.answerNext(1);
    choose(retention, "1 week");
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_EQ(prompts.shown[0].title, "Apply new retention now?");
    EXPECT_EQ(prompts.shown[0].text, "3 items older than the new limit will be deleted.");
    EXPECT_EQ(prompts.shown[0].buttons, QStringList({"Apply", "Cancel"}));
    EXPECT_EQ(manager->retentionDays(), 0);
    EXPECT_EQ(retention->combo()->currentText(), "Unlimited");
    prompts.answerNext(0);
    choose(retention, "1 week");
    EXPECT_EQ(manager->retentionDays(), 7);
    EXPECT_EQ(manager->clipboardItems().size(), 2);
    choose(retention, "Unlimited");
    EXPECT_EQ(prompts.shown.size(), 2) << "nothing to delete: no question";
    EXPECT_EQ(manager->retentionDays(), 0);

    auto* limit = row<SettingPickerRow>("Max items to keep");
    choose(limit, "50");
    EXPECT_EQ(manager->maxItems(), 50);
    EXPECT_EQ(prompts.shown.size(), 2);
    for (int i = 0; i < 60; ++i)
        storeItems(*manager, {test::textItem(QStringLiteral("more %1").arg(i), clock.now().addSecs(-i))});
    prompts.answerNext(0);
    ASSERT_TRUE(manager->setMaxItems(100));
    choose(limit, "50");
    ASSERT_EQ(prompts.shown.size(), 3);
    EXPECT_EQ(prompts.shown[2].text, "12 oldest items will be deleted.");
    EXPECT_EQ(manager->maxItems(), 50);
    EXPECT_EQ(manager->clipboardItems().size(), 50);
}

TEST_F(SettingsWindowTest, AnOpenPopupListsTheNewestItemsLeftByALowerLimit)
{
    ASSERT_TRUE(manager->setRetentionDays(0));
    ASSERT_TRUE(manager->setMaxItems(2000));
    QList<ClipboardItem> items;
    for (int i = 0; i < 2000; ++i)
        items << test::textItem(QStringLiteral("copy %1").arg(i), clock.now().addSecs(-i));
    items[1500].isPinnedToTop = true;
    storeItems(*manager, items);
    ContentView popup(*manager, hotKeys.get());
    popup.resize(420, 600);
    popup.show();
    QCoreApplication::processEvents();

    prompts.answerNext(0); // Apply
    choose(row<SettingPickerRow>("Max items to keep"), "500");
    QCoreApplication::processEvents();
    ASSERT_EQ(manager->clipboardItems().size(), 500);
    QStringList labels;
    for (const QLabel* label : popup.findChildren<QLabel*>())
        if (label->isVisibleTo(&popup))
            labels << label->text();
    EXPECT_TRUE(labels.contains("500 items")) << labels.join(" | ").toStdString();
    EXPECT_FALSE(labels.contains("No clipboard history yet"));
    HistoryListView* list = popup.listView();
    ASSERT_TRUE(list->isVisibleTo(&popup));
    QStringList shown;
    for (int row = 0; row < 5; ++row)
        shown << list->model()->index(row, 0).data().toString();
    EXPECT_EQ(shown, (QStringList {"copy 1500", "copy 0", "copy 1", "copy 2", "copy 3"}));
    saveScreenshots(popup, "popup-after-lower-limit");

    // One more copy keeps the other 499 beside it.
    clock.advance(std::chrono::seconds(1));
    ASSERT_TRUE(manager->addTextItem("one more", std::nullopt, CaptureCategory::text, std::nullopt, std::nullopt));
    QCoreApplication::processEvents();
    shown.clear();
    for (int row = 0; row < 3; ++row)
        shown << list->model()->index(row, 0).data().toString();
    EXPECT_EQ(shown, (QStringList {"copy 1500", "one more", "copy 0"}));
    EXPECT_EQ(manager->filters().filteredItemCount(), 500);
}

TEST_F(SettingsWindowTest, ACustomSoundIsTheChoiceOnlyOnceAFileWasChosen)
{
    auto* sound = row<SettingPickerRow>("Capture sound");
    auto* preview = sound->findChild<QPushButton*>();
    choose(sound, "Chime"); // Lumra's name for the stored "Glass"
    EXPECT_EQ(manager->copySoundOption(), "Glass");
    EXPECT_TRUE(preview->isEnabled());
    choose(sound, "Custom...");
    EXPECT_EQ(manager->copySoundOption(), "Glass");
    EXPECT_EQ(sound->combo()->currentText(), "Chime");
    // A file the player cannot read is refused with the reason, and the choice stays.
    chosenSoundFile = dataDir.root() + "/ding.ogg";
    QFile broken(chosenSoundFile);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray(4096, 'x'));
    broken.close();
    choose(sound, "Custom...");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !sound->message().isEmpty(); }, 10000));
    EXPECT_TRUE(sound->message().startsWith("This file can't be played")) << sound->message().toStdString();
    EXPECT_EQ(manager->copySoundOption(), "Glass");
    EXPECT_TRUE(manager->customSoundPath().isEmpty());

    chosenSoundFile = dataDir.root() + "/ding.wav";
    QFile wav(chosenSoundFile);
    ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
    wav.write(test::wavOfSilence(1));
    wav.close();
    choose(sound, "Custom...");
    EXPECT_TRUE(QTest::qWaitFor([&] { return manager->copySoundOption() == "custom"; }, 10000)) << sound->message().toStdString();
    EXPECT_EQ(manager->customSoundPath(), chosenSoundFile);
    EXPECT_TRUE(sound->message().isEmpty());
    EXPECT_EQ(general().findChild<QLabel*>("customSoundName")->text(), "ding.wav");
    choose(sound, "None");
    EXPECT_FALSE(preview->isEnabled());
}

TEST_F(SettingsWindowTest, AppearanceRowsWriteAndFollowAndTheCardsTrackThePresets)
{
    auto* page = qobject_cast<AppearancePage*>(window().page(SettingsTab::appearance));
    ASSERT_NE(page, nullptr);
    auto* standard = page->card(AppearanceStyle::standard);
    auto* minimal = page->card(AppearanceStyle::minimal);
    // The registered item font size is in neither preset.
    EXPECT_FALSE(standard->isActive());
    EXPECT_FALSE(minimal->isActive());
    minimal->click();
    EXPECT_TRUE(minimal->isActive());
    EXPECT_FALSE(standard->isActive());
    auto* dates = qobject_cast<SettingSwitchRow*>(page->row("Show date labels"));
    EXPECT_FALSE(dates->toggle()->isChecked());
    dates->toggle()->click();
    EXPECT_TRUE(manager->showDateLabels());
    EXPECT_FALSE(minimal->isActive());
    dates->toggle()->click();
    EXPECT_TRUE(minimal->isActive());

    auto* dividers = qobject_cast<SettingPickerRow*>(page->row("Item dividers"));
    choose(dividers, "Full width");
    EXPECT_EQ(manager->dividerStyle(), "fullWidth");
    ASSERT_TRUE(manager->setDividerStyle("inset"));
    EXPECT_EQ(dividers->combo()->currentText(), "Inset");
    ASSERT_TRUE(manager->setDividerStyle("dotted"));
    EXPECT_EQ(dividers->combo()->currentIndex(), -1);
    EXPECT_EQ(defaults->object("dividerStyle"), "dotted");

    SettingRow* fileSize = page->row("Image file thumbnail size");
    ASSERT_TRUE(manager->setShowFileThumbnails(false));
    EXPECT_TRUE(fileSize->isHidden());
    qobject_cast<SettingSwitchRow*>(page->row("Show file thumbnails"))->toggle()->click();
    EXPECT_FALSE(fileSize->isHidden());

    auto* text = qobject_cast<SettingSliderRow*>(page->row("Clipboard item text"));
    text->slider()->setValue(18);
    EXPECT_EQ(manager->itemFontSize(), 18.0);
    EXPECT_EQ(text->valueLabel()->text(), "18 pt");
    ASSERT_TRUE(manager->setItemFontSize(24));
    EXPECT_EQ(text->valueLabel()->text(), "24 pt");
    EXPECT_EQ(text->slider()->value(), 20);
    EXPECT_EQ(manager->itemFontSize(), 24.0) << "showing a value never writes it";

    page->restoreDefaults();
    const QList<std::pair<const char*, double>> restored = {{"itemFontSize", 13}, {"itemLineSpacing", 2},
        {"metadataFontSize", 10}, {"tagsFontSize", 10}, {"commentFontSize", 10}, {"itemVerticalPadding", 6}, {"footerSize", 11}};
    for (const auto& [key, value] : restored)
        EXPECT_EQ(std::get<double>(manager->setting(*settingForKey(key))), value) << key;
    EXPECT_EQ(qobject_cast<SettingSliderRow*>(page->row("Item spacing"))->valueLabel()->text(), "6 px");
}

TEST_F(SettingsWindowTest, AnOpenPopupFollowsTheAppearancePage)
{
    storeItems(*manager, {test::textItem("a row to measure", clock.now())});
    ContentView popup(*manager, hotKeys.get());
    popup.resize(420, 500);
    popup.show();
    auto* page = qobject_cast<AppearancePage*>(window().page(SettingsTab::appearance));
    auto* text = qobject_cast<SettingSliderRow*>(page->row("Clipboard item text"));
    text->slider()->setValue(10);
    QCoreApplication::processEvents();
    HistoryListView* list = popup.listView();
    const int small = list->visualRect(list->model()->index(0, 0)).height();
    text->slider()->setValue(20);
    QCoreApplication::processEvents();
    EXPECT_GT(list->visualRect(list->model()->index(0, 0)).height(), small);
}

TEST_F(SettingsWindowTest, Screenshots)
{
    SettingsWindow& w = window();
    w.present(SettingsTab::general);
    saveScreenshots(w, "settings-general");
    general().verticalScrollBar()->setValue(general().verticalScrollBar()->maximum());
    saveScreenshots(w, "settings-general-end");
    manager->applyAppearanceStyle(AppearanceStyle::standard);
    w.present(SettingsTab::appearance);
    saveScreenshots(w, "settings-appearance");
    auto* appearance = qobject_cast<QScrollArea*>(w.page(SettingsTab::appearance));
    appearance->verticalScrollBar()->setValue(appearance->verticalScrollBar()->maximum());
    saveScreenshots(w, "settings-appearance-fonts");
    w.present(SettingsTab::commands);
    saveScreenshots(w, "settings-commands");
    w.present(SettingsTab::delete_);
    saveScreenshots(w, "settings-placeholder");
}

} // namespace
} // namespace lumra
