#include "app/StatusMenu.h"

#include "Screenshots.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QSignalSpy>
#include <QTest>

namespace lumra {
namespace {

QStringList titles(const QMenu* menu)
{
    QStringList result;
    for (const QAction* action : menu->actions())
        result.append(action->isSeparator() ? QStringLiteral("---") : action->text());
    return result;
}

QAction* entry(const QMenu* menu, const QString& title)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

const QMenu* diagnosticsMenu(const StatusMenu& statusMenu)
{
    QAction* action = entry(statusMenu.menu(), QStringLiteral("Diagnostics"));
    return action ? action->menu() : nullptr;
}

TEST(StatusMenuTest, EntriesInOrderAfterOnboarding)
{
    StatusMenu menu([] { return StatusMenuState{}; });
    EXPECT_EQ(titles(menu.menu()),
              (QStringList{"Settings", "Feature Request", "Help", "About Lumra", "Check for Updates\u2026", "---",
                           "Keep Window Open", "---", "Diagnostics", "---", "Quit Lumra"}));
    EXPECT_EQ(entry(menu.menu(), "Quit Lumra")->shortcut(), QKeySequence("Ctrl+Q"));
}

TEST(StatusMenuTest, UnfinishedOnboardingAddsItsEntryBeforeTheFirstSeparator)
{
    StatusMenuState state;
    state.hasCompletedOnboarding = false;
    StatusMenu menu([state] { return state; });
    const QStringList t = titles(menu.menu());
    ASSERT_GE(t.size(), 7);
    EXPECT_EQ(t[4], "Check for Updates\u2026");
    EXPECT_EQ(t[5], "Continue Onboarding");
    EXPECT_EQ(t[6], "---");
}

TEST(StatusMenuTest, UpdatesEntryFollowsTheUpdater)
{
    StatusMenuState state;
    state.canCheckForUpdates = false;
    StatusMenu menu([&state] { return state; });
    EXPECT_FALSE(entry(menu.menu(), "Check for Updates\u2026")->isEnabled());
    state.canCheckForUpdates = true;
    emit menu.menu()->aboutToShow();
    EXPECT_TRUE(entry(menu.menu(), "Check for Updates\u2026")->isEnabled());
}

TEST(StatusMenuTest, KeepWindowOpenEntryReflectsTheSettingEachTimeItOpens)
{
    StatusMenuState state;
    StatusMenu menu([&state] { return state; });
    QSignalSpy toggled(&menu, &StatusMenu::toggleKeepWindowOpenRequested);
    entry(menu.menu(), "Keep Window Open")->trigger();
    EXPECT_EQ(toggled.count(), 1);

    state.keepWindowOpen = true;
    emit menu.menu()->aboutToShow();
    EXPECT_EQ(entry(menu.menu(), "Keep Window Open"), nullptr);
    ASSERT_NE(entry(menu.menu(), "Auto Close Window"), nullptr);
    entry(menu.menu(), "Auto Close Window")->trigger();
    EXPECT_EQ(toggled.count(), 2);
}

TEST(StatusMenuTest, DiagnosticsSubmenuFollowsLoggingAndTheLogFile)
{
    struct Row { bool enabled, logExists; QStringList expected; };
    const Row rows[] = {
        {false, false, {"Start Diagnostics\u2026"}},
        {false, true, {"Start Diagnostics\u2026", "Copy Diagnostics"}},
        {true, true, {"Stop Diagnostics", "Copy Diagnostics"}},
        {true, false, {"Stop Diagnostics"}},
    };
    StatusMenuState state;
    StatusMenu menu([&state] { return state; });
    for (const Row& row : rows) {
        state.diagnosticsEnabled = row.enabled;
        state.diagnosticsLogExists = row.logExists;
        emit menu.menu()->aboutToShow();
        const QMenu* sub = diagnosticsMenu(menu);
        ASSERT_NE(sub, nullptr);
        EXPECT_EQ(titles(sub), row.expected) << row.enabled << row.logExists;
    }
    EXPECT_EQ(menu.menu()->findChildren<QMenu*>().size(), 1) << "old submenus are not left behind";
}

TEST(StatusMenuTest, EachEntryEmitsItsOwnRequest)
{
    StatusMenuState state;
    state.hasCompletedOnboarding = false;
    state.diagnosticsLogExists = true;
    StatusMenu menu([&state] { return state; });
    struct Row { QString title; void (StatusMenu::*signal)(); bool inSubmenu; };
    const Row rows[] = {
        {"Settings", &StatusMenu::openSettingsRequested, false},
        {"Feature Request", &StatusMenu::featureRequestRequested, false},
        {"Help", &StatusMenu::helpRequested, false},
        {"About Lumra", &StatusMenu::aboutRequested, false},
        {"Check for Updates\u2026", &StatusMenu::checkForUpdatesRequested, false},
        {"Continue Onboarding", &StatusMenu::continueOnboardingRequested, false},
        {"Quit Lumra", &StatusMenu::quitRequested, false},
        {"Start Diagnostics\u2026", &StatusMenu::startDiagnosticsRequested, true},
        {"Copy Diagnostics", &StatusMenu::copyDiagnosticsRequested, true},
    };
    for (const Row& row : rows) {
        QSignalSpy spy(&menu, row.signal);
        const QMenu* from = row.inSubmenu ? diagnosticsMenu(menu) : menu.menu();
        QAction* action = entry(from, row.title);
        ASSERT_NE(action, nullptr) << row.title.toStdString();
        action->trigger();
        EXPECT_EQ(spy.count(), 1) << row.title.toStdString();
    }

    state.diagnosticsEnabled = true;
    emit menu.menu()->aboutToShow();
    QSignalSpy stop(&menu, &StatusMenu::stopDiagnosticsRequested);
    entry(diagnosticsMenu(menu), "Stop Diagnostics")->trigger();
    EXPECT_EQ(stop.count(), 1);
}

// The average colour of a symbol's drawn pixels.
QColor inkOf(const QIcon& icon)
{
    const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    double red = 0, green = 0, blue = 0, weight = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.redF() * c.alphaF();
            green += c.greenF() * c.alphaF();
            blue += c.blueF() * c.alphaF();
            weight += c.alphaF();
        }
    }
    return weight > 0 ? QColor::fromRgbF(float(red / weight), float(green / weight), float(blue / weight)) : QColor();
}

// On a dark menu the symbols are drawn in the menu's light ink, not the themes' dark grey.
TEST(StatusMenuTest, SymbolsTakeTheInkOfADarkMenu)
{
    StatusMenu menu([] { return StatusMenuState {}; });
    menu.menu()->setPalette(test::darkPalette());
    emit menu.menu()->aboutToShow();
    const QColor text = test::darkPalette().color(QPalette::WindowText);
    for (const char* title : {"Settings", "Help", "Keep Window Open", "Diagnostics"}) {
        const QColor ink = inkOf(entry(menu.menu(), title)->icon());
        ASSERT_TRUE(ink.isValid()) << title;
        EXPECT_GT(ink.lightness(), 160) << title << " is " << ink.name().toStdString() << " on a dark menu";
        EXPECT_LT(std::abs(ink.lightness() - text.lightness()), 30) << title;
    }
    menu.menu()->popup(QPoint(0, 0));
    QTest::qWait(50);
    test::saveArtifact(*menu.menu(), QStringLiteral("status-menu-dark"));
    menu.menu()->close();
}

} // namespace
} // namespace lumra
