// "Clear all Items" through the Cleanup page with the real alerts on a real X server: the starred
// item stays and every other one leaves the store file.
#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "model/store/Sqlite.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/keys/FakeGlobalHotKeys.h"
#include "platform/login/LoginItem.h"
#include "ui/settings/CleanupPage.h"
#include "ui/settings/SettingsWindow.h"

#include "EngineFixture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace lumra {
namespace {

using namespace lumra::test;

class CleanupX11Test : public EngineTest {};

// Presses, in each alert as it comes up, the button of the next label.
class AlertAnswerer {
public:
    explicit AlertAnswerer(QStringList labels) : m_labels(std::move(labels))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { answer(); });
        m_timer.start(50);
    }
    bool done() const { return m_labels.isEmpty(); }

private:
    void answer()
    {
        QWidget* alert = QApplication::activeModalWidget();
        if (!alert || m_labels.isEmpty() || !alert->isVisible())
            return;
        for (QPushButton* button : alert->findChildren<QPushButton*>()) {
            if (button->text() == m_labels.first() && button->isVisible()) {
                m_labels.removeFirst();
                QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
        }
    }
    QStringList m_labels;
    QTimer m_timer;
};

TEST_F(CleanupX11Test, ClearAllThroughThePageKeepsTheStarredItemAndEmptiesTheStore)
{
    auto manager = start();
    manager->setRecycleBinEnabled(false);
    ClipboardItem starred = test::textItem("keep me", clock.now().addSecs(-60));
    starred.isPinned = true;
    storeItems(*manager, {starred, test::textItem("a note", clock.now().addSecs(-120)),
                          test::textItem("https://example.org", clock.now().addDays(-40))});

    FakeGlobalHotKeys keys;
    HotKeyManager hotKeys(keys, *defaults, clock);
    std::ignore = hotKeys.setupHotKeyManager(manager.get());
    MessageBoxPromptService prompts;
    InMemoryLoginItem login;
    SettingsServices services;
    services.prompts = &prompts;
    services.loginItem = &login;
    SettingsWindow window(*manager, hotKeys, services);
    window.present(SettingsTab::delete_);
    auto* page = qobject_cast<CleanupPage*>(window.page(SettingsTab::delete_));
    ASSERT_TRUE(page);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    AlertAnswerer answers({QStringLiteral("Clear All"), QStringLiteral("Delete Permanently")});
    QTest::mouseClick(page->clearAllButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.done() && !page->isBusy(); }, 30000));

    sql::Database db;
    ASSERT_TRUE(db.open(dataDir.supportFolder() + "/Lumra.sqlite", false).ok());
    sql::Statement* st = db.prepare(QStringLiteral("SELECT textContent FROM CDClipboardItem"));
    ASSERT_TRUE(st);
    QStringList stored;
    while (st->step())
        stored << st->text(0);
    st->reset();
    EXPECT_EQ(stored, QStringList {"keep me"});
}

} // namespace
} // namespace lumra
