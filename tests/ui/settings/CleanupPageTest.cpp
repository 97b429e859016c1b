#include "ui/settings/CleanupPage.h"

#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "ui/settings/BoundRows.h"
#include "ui/settings/CleanupTables.h"
#include "ui/settings/SettingsWidgets.h"

#include "SettingsPageFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>

namespace lumra {
namespace {

using namespace lumra::test;

class CleanupPageTest : public SettingsPageTest {
protected:
    CleanupPage& cleanup() { return page<CleanupPage>(SettingsTab::delete_); }

    // A history with one of each case a clear must tell apart, all but `old` within the last hour.
    void seed()
    {
        const QDateTime now = clock.now();
        auto item = [&](const QString& text, qint64 ageSeconds) { return test::textItem(text, now.addSecs(-ageSeconds)); };
        plain = item("a note", 60);
        link = item("https://example.org/page", 120);
        starred = item("starred", 180);
        starred.isPinned = true;
        pinned = item("pinned", 240);
        pinned.isPinnedToTop = true;
        atCutOff = item("copied exactly an hour ago", 3600);
        old = item("from two days ago", 2 * 86400);
        binned = item("binned", 300);
        binned.isTrashed = true;
        binned.trashedDate = now.addDays(-1);
        picture = item(QString(), 90);
        picture.textContent.reset();
        picture.contentType = ClipboardContentType::image;
        picture.imageFileName = QStringLiteral("0123456789abcdef0123456789abcdef.png");
        storeItems(*manager, {plain, link, starred, pinned, atCutOff, old, binned, picture});
    }

    // Presses a clear button; `tick` sets the boxes while the first prompt is up.
    void clear(QPushButton* button, const std::function<void(ClearAccessory&)>& tick, int firstAnswer = 0,
               std::optional<int> secondAnswer = 0)
    {
        prompts.onAccessory = [&](QWidget* accessory) {
            auto* clearAccessory = qobject_cast<ClearAccessory*>(accessory);
            ASSERT_NE(clearAccessory, nullptr);
            if (tick)
                tick(*clearAccessory);
        };
        prompts.answerNext(firstAnswer);
        if (secondAnswer)
            prompts.answerNext(*secondAnswer);
        button->click();
        waitUntilIdle();
    }
    void waitUntilIdle()
    {
        QDeadlineTimer deadline(20000);
        do
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        while (cleanup().isBusy() && !deadline.hasExpired());
        ASSERT_FALSE(cleanup().isBusy());
    }
    // Items outside the bin now, by id.
    QSet<QUuid> untrashed() const
    {
        QSet<QUuid> ids;
        for (const ClipboardItem& i : manager->clipboardItems())
            if (!i.isTrashed)
                ids << i.id;
        return ids;
    }
    // The number the confirmation named.
    int confirmedCount() const
    {
        const auto match = QRegularExpression(QStringLiteral("^(\\d+) item")).match(prompts.shown.last().text);
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }

    ClipboardItem plain, link, starred, pinned, atCutOff, old, binned, picture;
};

TEST_F(CleanupPageTest, EachClearRemovesExactlyTheItemsItCountedAndNeverTouchesTheBin)
{
    const QList<bool> all(9, true);
    QList<bool> textOnly(9, false);
    textOnly[0] = true;
    const QList<bool> none(9, false);
    const struct {
        const char* name;
        bool recent;
        bool includeStarred;
        bool binOn;
        bool skip;
        QList<bool> ticked;
        int removed; // of the seeded items
    } cases[] = {
        {"last hour, all kinds", true, false, true, false, all, 4},       // plain, link, at cut-off, picture
        {"last hour, with starred", true, true, true, false, all, 6},     // + starred, pinned
        {"last hour, text only", true, false, false, false, textOnly, 2}, // plain, at cut-off
        {"all, skip the bin", false, false, true, true, all, 5},          // + old
        {"all, with starred, bin off", false, true, false, false, all, 7},
        {"all, no kind ticked", false, false, true, false, none, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        manager->setRecycleBinEnabled(c.binOn);
        seed();
        const QSet<QUuid> before = untrashed();
        const int binnedBefore = int(manager->filters().trashedItems().size());
        prompts.shown.clear();
        clear(c.recent ? cleanup().clearButton() : cleanup().clearAllButton(), [&](ClearAccessory& a) {
            EXPECT_EQ(a.skipBox() != nullptr, c.binOn);
            a.starredBox()->setChecked(c.includeStarred);
            if (a.skipBox())
                a.skipBox()->setChecked(c.skip);
            for (int i = 0; i < 9; ++i)
                a.typeBoxes()[i]->setChecked(c.ticked[i]);
            if (a.countLabel())
                EXPECT_EQ(a.countLabel()->text(), CleanupTables::countLabel(c.removed));
        });
        const QSet<QUuid> after = untrashed();
        EXPECT_EQ(int((before - after).size()), c.removed);
        if (c.removed > 0) {
            ASSERT_EQ(prompts.shown.size(), 2);
            EXPECT_EQ(confirmedCount(), c.removed);
            const bool permanently = !c.binOn || c.skip;
            EXPECT_EQ(prompts.shown.last().buttons.first(),
                      permanently ? QStringLiteral("Delete Permanently") : QStringLiteral("Move to Recycle Bin"));
            EXPECT_EQ(int(manager->filters().trashedItems().size()) - binnedBefore, permanently ? 0 : c.removed);
        } else {
            EXPECT_EQ(prompts.shown.size(), 1) << "nothing to remove asks nothing more";
        }
        // The item already in the bin is never counted and never touched.
        bool binnedKept = false;
        for (const ClipboardItem& i : manager->filters().trashedItems())
            binnedKept = binnedKept || (i.id == binned.id && i.trashedDate == binned.trashedDate);
        EXPECT_TRUE(binnedKept);
        ASSERT_TRUE(manager->clearing().clearAllHistory(true).ok()); // next case starts empty
        ASSERT_TRUE(manager->emptyRecycleBin().ok());
    }
}

TEST_F(CleanupPageTest, ACopyMadeWhileThePromptsAreUpIsKeptAndCancelChangesNothing)
{
    manager->setRecycleBinEnabled(false);
    seed();
    ClipboardItem late;
    clear(cleanup().clearAllButton(), [&](ClearAccessory&) {
        late = insertItem(*manager, test::textItem("copied while asking", clock.now()));
    });
    EXPECT_EQ(untrashed(), (QSet<QUuid> {starred.id, pinned.id, late.id}));

    const qsizetype left = manager->clipboardItems().size();
    clear(cleanup().clearAllButton(), {}, 1, std::nullopt); // Cancel at the first prompt
    clear(cleanup().clearButton(), [](ClearAccessory& a) { a.starredBox()->setChecked(true); }, 0, 1); // at the second
    EXPECT_EQ(manager->clipboardItems().size(), left);
}

TEST_F(CleanupPageTest, TheAccessoryCountsLiveAndTheFirstButtonNeedsAKind)
{
    seed();
    std::optional<QSignalSpy> enabled;
    clear(cleanup().clearButton(), [&](ClearAccessory& a) {
        enabled.emplace(&a, &ClearAccessory::firstButtonEnabledChanged);
        EXPECT_EQ(a.countLabel()->text(), "4 items will be removed.");
        a.starredBox()->setChecked(true);
        EXPECT_EQ(a.countLabel()->text(), "6 items will be removed.");
        for (QCheckBox* box : a.typeBoxes())
            box->setChecked(false);
        EXPECT_EQ(a.countLabel()->text(), "0 items will be removed.");
        EXPECT_FALSE(enabled->last().first().toBool());
        a.typeBoxes()[3]->setChecked(true); // images
        EXPECT_EQ(a.countLabel()->text(), "1 item will be removed.");
        EXPECT_TRUE(enabled->last().first().toBool());
        a.setFixedWidth(a.sizeHint().width());
        saveScreenshots(a, QStringLiteral("cleanup-clear-accessory"));
    }, 1, std::nullopt);
}

TEST_F(CleanupPageTest, AutoCleanAndRecycleBinPromptsDoWhatTheirAnswersSay)
{
    manager->setRecycleBinEnabled(true);
    seed(); // `old` is two days old and never pasted
    SettingPickerRow& autoClean = *cleanup().autoCleanRow();
    const int oneDay = autoClean.combo()->findText(QStringLiteral("24 hours")) >= 0
        ? autoClean.combo()->findText(QStringLiteral("24 hours"))
        : autoClean.combo()->findText(QStringLiteral("1 day"));
    ASSERT_GE(oneDay, 0);
    prompts.answerNext(1);
    autoClean.combo()->activated(oneDay);
    EXPECT_EQ(manager->autoCleanMinutes(), 0) << "Cancel keeps the old interval";
    EXPECT_EQ(prompts.shown.last().text, "1 item will be moved to the recycle bin.");
    prompts.answerNext(0);
    autoClean.combo()->activated(oneDay);
    EXPECT_EQ(manager->autoCleanMinutes(), 1440);

    const qsizetype binnedCount = manager->filters().trashedItems().size();
    ASSERT_GT(binnedCount, 0);
    ToggleSwitch* bin = cleanup().recycleBinSwitch();
    prompts.answerNext(2); // Cancel
    bin->click();
    EXPECT_TRUE(manager->recycleBinEnabled());
    EXPECT_TRUE(bin->isChecked());
    EXPECT_EQ(prompts.shown.last().buttons, (QStringList {"Empty & Disable", "Keep & Disable", "Cancel"}));
    prompts.answerNext(1); // Keep & Disable
    bin->click();
    EXPECT_FALSE(manager->recycleBinEnabled());
    EXPECT_EQ(manager->filters().trashedItems().size(), binnedCount);

    bin->click(); // on again: nothing to ask
    prompts.answerNext(0); // Empty & Disable
    bin->click();
    EXPECT_FALSE(manager->recycleBinEnabled());
    EXPECT_TRUE(manager->filters().trashedItems().isEmpty());

    const qsizetype shown = prompts.shown.size();
    manager->setRecycleBinEnabled(true);
    cleanup().emptyBinButton()->click();
    ASSERT_EQ(prompts.shown.size(), shown + 1);
    EXPECT_EQ(prompts.shown.last().title, "Recycle bin is empty");
}

TEST_F(CleanupPageTest, AValueNoOptionHoldsIsShownAsItIsAndNotRewritten)
{
    ASSERT_TRUE(manager->setSetting(Setting::autoCleanMinutes, SettingValue(qint64(25))));
    ASSERT_TRUE(manager->setSetting(Setting::recycleBinDays, SettingValue(qint64(10))));
    manager->setRecycleBinEnabled(true);
    EXPECT_EQ(cleanup().autoCleanRow()->combo()->currentText(), "25 minutes");
    EXPECT_EQ(cleanup().recycleBinDaysRow()->combo()->currentText(), "10 days");
    EXPECT_EQ(manager->autoCleanMinutes(), 25);
    EXPECT_EQ(manager->recycleBinDays(), 10);

    window().resize(SettingsWindow::windowSize);
    window().present(SettingsTab::delete_);
    saveScreenshots(window(), QStringLiteral("settings-cleanup"));
}

TEST_F(CleanupPageTest, ResetAsksTwiceThenResets)
{
    int resets = 0;
    window({.resetEverything = [&] { ++resets; }});
    prompts.answerNext(0);
    prompts.answerNext(1);
    cleanup().resetButton()->click();
    EXPECT_EQ(resets, 0);
    prompts.answerNext(0);
    prompts.answerNext(0);
    cleanup().resetButton()->click();
    EXPECT_EQ(resets, 1);
    EXPECT_TRUE(prompts.shown[prompts.shown.size() - 2].text.contains("history your other computers keep"));
}

} // namespace
} // namespace lumra
