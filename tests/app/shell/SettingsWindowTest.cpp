#include "app/SettingsWindow.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QStackedWidget>

namespace lumra {
namespace {

TEST(SettingsWindowTest, TabsKeepTheirStoredNamesAndShowLinuxTitles)
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

TEST(SettingsWindowTest, OpensAtEachPage)
{
    SettingsWindow window;
    EXPECT_EQ(window.windowTitle(), "Lumra Settings");
    EXPECT_EQ(window.size(), QSize(870, 609));
    EXPECT_EQ(window.currentTab(), SettingsTab::general);
    auto* pages = window.findChild<QStackedWidget*>();
    ASSERT_NE(pages, nullptr);
    for (SettingsTab tab : allSettingsTabs()) {
        window.present(tab);
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.currentTab(), tab);
        EXPECT_EQ(pages->currentWidget(), window.page(tab));
        auto* placeholder = qobject_cast<QLabel*>(window.page(tab));
        ASSERT_NE(placeholder, nullptr);
        EXPECT_EQ(placeholder->text(), settingsTabTitle(tab));
    }
}

TEST(SettingsWindowTest, ReopeningWithoutAPageKeepsTheLastOne)
{
    SettingsWindow window;
    window.present(SettingsTab::privacy);
    window.close();
    EXPECT_FALSE(window.isVisible());
    window.present();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.currentTab(), SettingsTab::privacy);
}

TEST(SettingsWindowTest, ARealPageReplacesThePlaceholderInPlace)
{
    SettingsWindow window;
    window.present(SettingsTab::commands);
    QPointer<QWidget> placeholder = window.page(SettingsTab::commands);
    auto* page = new QLabel(QStringLiteral("slash commands"));
    window.setPage(SettingsTab::commands, page);
    EXPECT_TRUE(placeholder.isNull());
    EXPECT_EQ(window.page(SettingsTab::commands), page);
    EXPECT_EQ(window.findChild<QStackedWidget*>()->currentWidget(), page);
    EXPECT_EQ(window.page(SettingsTab::iCloud)->property("text").toString(), "Sync");

    window.present(SettingsTab::general);
    window.present(SettingsTab::commands);
    EXPECT_EQ(window.findChild<QStackedWidget*>()->currentWidget(), page);
}

} // namespace
} // namespace lumra
