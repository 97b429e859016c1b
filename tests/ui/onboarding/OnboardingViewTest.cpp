#include "ui/onboarding/OnboardingView.h"

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "platform/keys/KeyInjector.h"
#include "platform/login/LoginItem.h"
#include "ui/items/ShortcutRecorder.h"
#include "ui/onboarding/OnboardingPictures.h"
#include "ui/onboarding/TipsPage.h"
#include "ui/settings/AppearancePage.h"
#include "ui/settings/BoundRows.h"
#include "ui/settings/GlobalShortcutLine.h"
#include "ui/settings/IgnoredAppsBox.h"

#include "app/ShellTestSupport.h"
#include "Screenshots.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QToolButton>

namespace lumra {
namespace {

using namespace lumra::test;

class OnboardingViewTest : public ShellTest {
protected:
    OnboardingViewTest()
    {
        manager = makeManager();
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
        std::ignore = hotKeys->setupHotKeyManager(manager.get());
    }

    OnboardingView& open(bool canPost = true, OnboardingServices services = {})
    {
        injector.setCanPost(canPost);
        services.prompts = &prompts;
        services.loginItem = &loginItem;
        services.keyInjector = &injector;
        services.clock = &clock;
        services.animated = false;
        view = std::make_unique<OnboardingView>(*manager, *hotKeys, services, [this] { ++finished; });
        view->present();
        return *view;
    }

    // The page's size within the screen's available area (the offscreen screen is 800 x 800).
    static QSize fitted(OnboardingPage page)
    {
        const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size() - QSize(16, 48);
        return OnboardingFlow::contentSize(page).boundedTo(available);
    }

    template <class W = QAbstractButton>
    W* child(const QString& name)
    {
        QWidget* page = view->pageWidget(view->currentPage());
        auto* found = page->findChild<W*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString() << " on page " << view->page();
        return found;
    }
    SettingRow* row(const QString& title) { return findSettingRow(view->pageWidget(view->currentPage()), title); }
    static void choose(SettingPickerRow* picker, const QString& label)
    {
        const int index = picker->combo()->findText(label);
        ASSERT_GE(index, 0) << label.toStdString();
        picker->combo()->setCurrentIndex(index);
        emit picker->combo()->activated(index);
    }
    void pressReturn() { QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : view.get(), Qt::Key_Return); }
    void viewAllTips()
    {
        for (int i = 0; i < TipsProgress::tipCount; ++i)
            view->tipsPage()->showNextTip();
    }

    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> hotKeys;
    ScriptedPromptService prompts;
    InMemoryLoginItem loginItem;
    std::unique_ptr<OnboardingView> view;
    int finished = 0;
};

TEST_F(OnboardingViewTest, ContinueLeadsThroughEveryPageAndSavesEachOne)
{
    for (bool canPost : {true, false}) {
        SCOPED_TRACE(canPost);
        defaults->remove(OnboardingFlow::pageKey);
        OnboardingView& w = open(canPost);
        const bool needs = !canPost;
        EXPECT_EQ(w.needsPermission(), needs);
        EXPECT_EQ(w.page(), 0);
        EXPECT_EQ(w.size(), QSize(500, 640));
        const QList<OnboardingPage> pages = OnboardingFlow::sequence(needs);
        for (int index = 0; index + 1 < pages.size(); ++index) {
            ASSERT_EQ(w.currentPage(), pages[index]);
            EXPECT_EQ(w.size(), fitted(pages[index]));
            // Back leads where the page says, and Continue comes back.
            if (auto back = OnboardingFlow::backTarget(pages[index], needs)) {
                child<QPushButton>("back")->click();
                EXPECT_EQ(w.page(), *back);
                w.setPage(index);
            }
            if (pages[index] == OnboardingPage::tips) {
                child("continue")->click();
                EXPECT_EQ(w.page(), index) << "not before every tip was seen";
                viewAllTips();
            }
            if (pages[index] == OnboardingPage::permission) {
                child("request")->click(); // the check fails: the page stays and says so
                EXPECT_EQ(w.page(), index);
                EXPECT_TRUE(w.didRequestAccess());
            }
            ASSERT_NE(w.forwardButton(), nullptr);
            w.forwardButton()->click();
            EXPECT_EQ(w.page(), index + 1);
            EXPECT_EQ(defaults->integer(OnboardingFlow::pageKey), index + 1);
            EXPECT_EQ(defaults->boolean(OnboardingFlow::pageWithPermissionKey), needs);
        }
        EXPECT_EQ(w.currentPage(), OnboardingPage::finish);
        child("startUsing")->click();
        child("startUsing")->click();
        EXPECT_EQ(finished, 2) << "each press asks; the host ignores all but the first";
        finished = 0;
        view.reset();
    }
}

TEST_F(OnboardingViewTest, ReturnPressesTheForwardButtonFromAnyControl)
{
    OnboardingView& w = open();
    pressReturn();
    EXPECT_EQ(w.page(), 1);
    // A switch with the focus leaves Return to the page.
    auto* toggle = row("Launch at login")->findChild<ToggleSwitch*>();
    toggle->setFocus();
    QTest::keyClick(toggle, Qt::Key_Return);
    EXPECT_EQ(w.page(), 2);
    w.setPage(5);
    ASSERT_EQ(w.currentPage(), OnboardingPage::tips);
    for (int i = 0; i < 9; ++i)
        pressReturn();
    EXPECT_EQ(w.tipsPage()->progress().label(), "Continue");
    EXPECT_EQ(w.page(), 5);
    pressReturn();
    EXPECT_EQ(w.currentPage(), OnboardingPage::finish);
}

TEST_F(OnboardingViewTest, ReopensAtTheSavedPage)
{
    defaults->set(OnboardingFlow::pageKey, 3);
    EXPECT_EQ(open().currentPage(), OnboardingPage::privacy);
    defaults->set(OnboardingFlow::pageKey, -4);
    EXPECT_EQ(open().page(), 0);
    defaults->set(OnboardingFlow::pageKey, 12);
    EXPECT_EQ(open().currentPage(), OnboardingPage::finish);
    EXPECT_EQ(view->forwardButton()->objectName(), "startUsing");

    // Saved on the tips page while keys could not be sent; now they can.
    defaults->set(OnboardingFlow::pageKey, 6);
    defaults->set(OnboardingFlow::pageWithPermissionKey, true);
    OnboardingView& w = open(true);
    EXPECT_EQ(w.currentPage(), OnboardingPage::tips);
    EXPECT_EQ(w.page(), 5);
    EXPECT_EQ(w.size(), fitted(OnboardingPage::tips));
}

TEST_F(OnboardingViewTest, TheTipsUnlockContinueOnlyAfterAllTen)
{
    defaults->set(OnboardingFlow::pageKey, 5);
    OnboardingView& w = open();
    TipsPage* tips = w.tipsPage();
    TipsProgressButton* go = tips->continueButton();
    EXPECT_EQ(go->text(), "10%");
    EXPECT_FALSE(go->isEnabled());
    EXPECT_EQ(go->toolTip(), "Browse all the tips to continue");
    EXPECT_FALSE(tips->backArrow()->isEnabled());
    for (int i = 0; i < 4; ++i)
        tips->forwardArrow()->click();
    for (int i = 0; i < 4; ++i)
        tips->backArrow()->click();
    EXPECT_EQ(go->text(), "50%");
    QTest::keyClick(tips, Qt::Key_Right);
    EXPECT_EQ(tips->progress().index(), 1);
    // With the focus on one of the page's buttons, the arrows still change the tip.
    for (QWidget* focused : {static_cast<QWidget*>(tips->forwardArrow()), static_cast<QWidget*>(go)}) {
        QTest::keyClick(focused, Qt::Key_Right);
        QTest::keyClick(focused, Qt::Key_Right);
        QTest::keyClick(focused, Qt::Key_Left);
    }
    EXPECT_EQ(tips->progress().index(), 3);
    for (int i = 0; i < 2; ++i)
        tips->backArrow()->click();
    for (int i = 0; i < 12; ++i)
        tips->forwardArrow()->click();
    EXPECT_FALSE(tips->forwardArrow()->isEnabled());
    EXPECT_EQ(go->text(), "Continue");
    EXPECT_TRUE(go->isEnabled());
    EXPECT_TRUE(go->toolTip().isEmpty());

    // Leaving and coming back keeps the tip and the record.
    tips->backButton()->click();
    EXPECT_EQ(w.currentPage(), OnboardingPage::layout);
    w.setPage(5);
    EXPECT_EQ(tips->progress().index(), 9);
    go->click();
    EXPECT_EQ(w.currentPage(), OnboardingPage::finish);
    EXPECT_EQ(w.size(), QSize(500, 640));
}

// The first tip names the shortcut the user recorded a page earlier, not the default one.
TEST_F(OnboardingViewTest, TheFirstTipNamesTheShortcutThatIsSet)
{
    constexpr quint16 keyX = 7;
    defaults->set(OnboardingFlow::pageKey, 1);
    OnboardingView& w = open();
    GlobalShortcutLine* line = w.shortcutLine();
    line->recorder()->click();
    QTest::keyClick(line->recorder(), Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(keys.hotKey(HotKeyManager::mainHotKeyId)->keyCode, keyX);
    w.setPage(5);
    PictureView* picture = w.tipsPage()->picture();
    ASSERT_TRUE(picture->tipText());
    EXPECT_EQ(picture->tipText()->caption, "Press Ctrl+Shift+X in any application, then type to search everything you copied.");
    EXPECT_TRUE(picture->hasPicture());
    processEvents();
    saveArtifact(w, QStringLiteral("onboarding-tip-1-own-shortcut"));

    // Changed or switched off later, the tip follows; the other tips say what they always say.
    ASSERT_TRUE(hotKeys->updateMainHotKey(9, ctrlAlt).ok());
    EXPECT_TRUE(picture->tipText()->caption.startsWith("Press Ctrl+Alt+V "));
    ASSERT_TRUE(hotKeys->setHotKeyEnabled(false).ok());
    EXPECT_FALSE(picture->tipText()->caption.contains("Ctrl"));
    w.tipsPage()->showNextTip();
    EXPECT_EQ(picture->tipText()->title, "Slash commands");
}

TEST_F(OnboardingViewTest, APageLargerThanTheScreenFitsAndItsPictureScalesDown)
{
    defaults->set(OnboardingFlow::pageKey, 5);
    OnboardingView& w = open();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_LT(available.width(), 1020) << "the offscreen screen is smaller than the tips page";
    EXPECT_LE(w.frameGeometry().width(), available.width());
    EXPECT_LE(w.frameGeometry().height(), available.height());
    EXPECT_TRUE(available.contains(w.geometry()));
    processEvents();
    const QRectF picture = w.tipsPage()->picture()->pictureRect();
    EXPECT_LT(picture.height(), 576);
    EXPECT_NEAR(picture.width() / picture.height(), 1.6, 0.01);
    EXPECT_LE(picture.width(), w.width());
}

TEST_F(OnboardingViewTest, ARecordingEndsWithItsPageAndWithTheWindow)
{
    defaults->set(OnboardingFlow::pageKey, 1);
    OnboardingView& w = open();
    ShortcutRecorder* recorder = w.shortcutLine()->recorder();
    recorder->click();
    EXPECT_TRUE(hotKeys->isSuspended());
    child<QPushButton>("continue")->click();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(hotKeys->isSuspended()) << "the hot keys are back on the next page";
    EXPECT_TRUE(keys.isRegistered(HotKeyManager::mainHotKeyId));

    w.setPage(1);
    recorder->click();
    w.close();
    EXPECT_FALSE(hotKeys->isSuspended());
    recorder->click();
    view.reset();
    EXPECT_FALSE(hotKeys->isSuspended()) << "nor does a recording outlive the view";
}

TEST_F(OnboardingViewTest, RecordingSwitchesTheHotKeyOnAndRemovingKeepsItemKeys)
{
    constexpr quint16 keyB = 11, keyX = 7;
    storeItems(*manager, {textItem("item with a key", ItemShortcut {keyB, ctrlAlt})});
    ASSERT_TRUE(hotKeys->setHotKeyEnabled(false).ok());
    defaults->set(OnboardingFlow::pageKey, 1);
    OnboardingView& w = open();
    GlobalShortcutLine* line = w.shortcutLine();
    line->recorder()->click();
    QTest::keyClick(line->recorder(), Qt::Key_X, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(hotKeys->isEnabled());
    EXPECT_EQ(keys.hotKey(HotKeyManager::mainHotKeyId)->keyCode, keyX);
    EXPECT_TRUE(keys.isRegistered(HotKeyManager::firstItemHotKeyId));

    prompts.answerNext(0);
    line->removeButton()->click();
    EXPECT_EQ(prompts.shown.last().title, "Remove global shortcut?");
    EXPECT_FALSE(keys.isRegistered(HotKeyManager::mainHotKeyId));
    EXPECT_TRUE(keys.isRegistered(HotKeyManager::firstItemHotKeyId)) << "the item's shortcut keeps working";
    EXPECT_EQ(defaults->integer("hotKeyKeyCode"), 65535);

    w.setPage(6);
    EXPECT_FALSE(child<QLabel>("shortcutHint")->isVisibleTo(view.get())) << "no shortcut, no shortcut hint";
    ASSERT_TRUE(hotKeys->updateMainHotKey(9, ctrlAlt).ok());
    EXPECT_TRUE(child<QLabel>("shortcutHint")->isVisibleTo(view.get()));
    EXPECT_EQ(child<QLabel>("shortcutHint")->text(), "Press Ctrl+Alt+V anytime to open your clipboard history.");
}

TEST_F(OnboardingViewTest, LoweringTheLimitsOverAFullHistoryAsksFirst)
{
    ASSERT_TRUE(manager->setRetentionDays(0));
    ASSERT_TRUE(manager->setMaxItems(2000));
    QList<ClipboardItem> items;
    for (int i = 0; i < 3; ++i)
        items << test::textItem(QStringLiteral("old %1").arg(i), clock.now().addDays(-10 - i));
    items << test::textItem("new", clock.now().addDays(-1));
    storeItems(*manager, items);
    defaults->set(OnboardingFlow::pageKey, 1);
    open();

    auto* retention = qobject_cast<SettingPickerRow*>(row("Keep history for"));
    ASSERT_NE(retention, nullptr);
    prompts.answerNext(1);
    choose(retention, "1 week");
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_EQ(prompts.shown[0].text, "3 items older than the new limit will be deleted.");
    EXPECT_EQ(manager->retentionDays(), 0);
    EXPECT_EQ(manager->clipboardItems().size(), 4);
    EXPECT_EQ(retention->combo()->currentText(), "Unlimited");
    prompts.answerNext(0);
    choose(retention, "1 week");
    EXPECT_EQ(manager->retentionDays(), 7);
    EXPECT_EQ(manager->clipboardItems().size(), 1);

    for (int i = 0; i < 60; ++i)
        storeItems(*manager, {test::textItem(QStringLiteral("more %1").arg(i), clock.now().addSecs(-i))});
    auto* limit = qobject_cast<SettingPickerRow*>(row("Max items to keep"));
    prompts.answerNext(1);
    choose(limit, "50");
    ASSERT_EQ(prompts.shown.size(), 3);
    EXPECT_EQ(prompts.shown[2].title, "Apply new item limit now?");
    EXPECT_EQ(manager->maxItems(), 2000);
    EXPECT_EQ(manager->clipboardItems().size(), 61);
    prompts.answerNext(0);
    choose(limit, "50");
    EXPECT_EQ(manager->maxItems(), 50);
    EXPECT_EQ(manager->clipboardItems().size(), 50);
}

TEST_F(OnboardingViewTest, LaunchAtLoginShowsWhatTheLoginItemDid)
{
    defaults->set(OnboardingFlow::pageKey, 1);
    open();
    SettingRow* launch = row("Launch at login");
    auto* toggle = launch->findChild<ToggleSwitch*>();
    toggle->click();
    EXPECT_TRUE(loginItem.enabled);
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(launch->message().isEmpty());
    loginItem.refuse = true;
    toggle->click();
    EXPECT_TRUE(loginItem.enabled);
    EXPECT_TRUE(toggle->isChecked()) << "still on, as the login item still is";
    EXPECT_EQ(launch->message(), "The login item could not be changed.");
}

TEST_F(OnboardingViewTest, ThePermissionPageChecksAgainWhenAsked)
{
    defaults->set(OnboardingFlow::pageKey, 4);
    OnboardingView& w = open(false);
    ASSERT_EQ(w.currentPage(), OnboardingPage::permission);
    auto* request = child<QPushButton>("request");
    auto* missing = child<QLabel>("stillMissing");
    EXPECT_EQ(request->text(), "Check Again");
    EXPECT_TRUE(missing->isHidden());
    EXPECT_EQ(child<QLabel>("reason")->text(), KeyInjectorMessages::noXTest()) << "the key layer says why";
    request->click();
    EXPECT_EQ(w.page(), 4);
    EXPECT_EQ(request->text(), "Finish Setup");
    EXPECT_FALSE(missing->isHidden());
    child<QPushButton>("back")->click();
    EXPECT_EQ(w.page(), 3);
    w.setPage(4);
    EXPECT_TRUE(w.didRequestAccess());
    request->click();
    EXPECT_EQ(w.currentPage(), OnboardingPage::layout);

    // Keys became available after the window opened: the page stays in the walkthrough, and
    // the check moves on at once.
    defaults->set(OnboardingFlow::pageKey, 4);
    OnboardingView& again = open(false);
    injector.setCanPost(true);
    EXPECT_EQ(again.needsPermission(), true);
    child<QPushButton>("request")->click();
    EXPECT_EQ(again.currentPage(), OnboardingPage::layout);
    EXPECT_FALSE(again.didRequestAccess());
    again.setPage(4);
    child<QPushButton>("later")->click();
    EXPECT_EQ(again.page(), 5);
}

TEST_F(OnboardingViewTest, TheLayoutPageMarksThePresetInUseAndAppliesAChoice)
{
    manager->applyAppearanceStyle(AppearanceStyle::minimal);
    defaults->set(OnboardingFlow::pageKey, 4);
    OnboardingView& w = open();
    ASSERT_EQ(w.currentPage(), OnboardingPage::layout);
    EXPECT_EQ(w.selectedLayoutStyle(), AppearanceStyle::minimal);
    EXPECT_EQ(w.size(), QSize(700, 640));
    auto* preview = w.findChild<PictureView*>();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->pictureName(), "StylePreviewMinimal");
    EXPECT_TRUE(preview->hasPicture()) << "the pictures are compiled in";

    auto* standard = w.findChild<StyleCard*>("Default");
    standard->click();
    EXPECT_TRUE(manager->isAppearanceStyleActive(AppearanceStyle::standard));
    EXPECT_TRUE(standard->isActive());
    EXPECT_EQ(preview->pictureName(), "StylePreviewDefault");
}

TEST_F(OnboardingViewTest, ThePrivacyPageEditsTheLiveListAndKeepsItsSelection)
{
    defaults->set(OnboardingFlow::pageKey, 3);
    std::optional<IgnoredApp> chosen = IgnoredApp {QStringLiteral("org.example.Vault"), QStringLiteral("Vault")};
    OnboardingServices services;
    services.chooseApplication = [&chosen](QWidget*) { return chosen; };
    OnboardingView& w = open(true, services);
    ASSERT_EQ(w.currentPage(), OnboardingPage::privacy);
    IgnoredAppsBox* box = w.ignoredAppsBox();
    ASSERT_NE(box, nullptr);
    const int listed = box->list()->count();
    EXPECT_GE(listed, 2) << "the default password managers";
    box->addButton()->click();
    EXPECT_EQ(box->list()->count(), listed + 1);
    EXPECT_EQ(manager->ignoredApplications().last().bundleIdentifier, "org.example.Vault");

    auto* transient = qobject_cast<SettingSwitchRow*>(row("Ignore transient content"));
    ASSERT_NE(transient, nullptr);
    const bool before = manager->ignoreTransientContent();
    transient->toggle()->click();
    EXPECT_NE(manager->ignoreTransientContent(), before);

    // The selection survives a visit to another page.
    box->list()->setCurrentRow(listed);
    EXPECT_EQ(w.selectedAppId(), QStringLiteral("org.example.Vault"));
    child<QPushButton>("back")->click();
    EXPECT_EQ(w.page(), 2);
    child<QPushButton>("continue")->click();
    EXPECT_EQ(w.selectedAppId(), QStringLiteral("org.example.Vault"));
    EXPECT_TRUE(box->removeButton()->isEnabled());
    prompts.answerNext(1);
    box->removeButton()->click();
    EXPECT_EQ(box->list()->count(), listed + 1);
    prompts.answerNext(0);
    box->removeButton()->click();
    EXPECT_EQ(prompts.shown.last().title, "Remove Vault from ignored apps?");
    EXPECT_EQ(box->list()->count(), listed);
    EXPECT_EQ(w.selectedAppId(), std::nullopt);
    child<QPushButton>("continue")->click();
    EXPECT_EQ(w.page(), 4);
}

TEST_F(OnboardingViewTest, EveryPictureIsThereForLightAndDarkWindows)
{
    QStringList names {OnboardingPictures::stylePreviewName(AppearanceStyle::standard),
                       OnboardingPictures::stylePreviewName(AppearanceStyle::minimal)};
    for (int i = 0; i < TipsProgress::tipCount; ++i)
        names << OnboardingPictures::overviewName(i);
    for (const QString& name : names) {
        for (bool dark : {false, true}) {
            const QImage image(OnboardingPictures::path(name, dark));
            EXPECT_FALSE(image.isNull()) << name.toStdString() << " dark " << dark;
            if (name.startsWith("LumraOverview"))
                EXPECT_NEAR(double(image.width()) / image.height(), 1.6, 0.01) << name.toStdString();
        }
        // A dark picture is darker than its light one.
        const QImage light = QImage(OnboardingPictures::path(name, false)).scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage dark = QImage(OnboardingPictures::path(name, true)).scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_LT(QColor(dark.pixel(0, 0)).lightness(), QColor(light.pixel(0, 0)).lightness()) << name.toStdString();
    }
}

TEST_F(OnboardingViewTest, EveryPageInLightAndDark)
{
    storeItems(*manager, {textItem("sample")});
    for (bool canPost : {true, false}) {
        defaults->remove(OnboardingFlow::pageKey);
        OnboardingView& w = open(canPost);
        const QList<OnboardingPage> pages = OnboardingFlow::sequence(w.needsPermission());
        for (int index = 0; index < pages.size(); ++index) {
            if (!canPost && pages[index] != OnboardingPage::permission)
                continue;
            w.setPage(index);
            if (pages[index] == OnboardingPage::tips)
                view->tipsPage()->showNextTip();
            if (pages[index] == OnboardingPage::layout)
                w.findChild<StyleCard*>("Default")->click();
            for (const auto& [palette, suffix] : {std::pair {QApplication::style()->standardPalette(), "light"},
                                                  std::pair {darkPalette(), "dark"}}) {
                QApplication::setPalette(palette);
                processEvents();
                const QString name = canPost ? QStringLiteral("onboarding-%1").arg(index) : QStringLiteral("onboarding-permission");
                saveArtifact(w, QStringLiteral("%1-%2").arg(name, QLatin1String(suffix)));
            }
            QApplication::setPalette(QApplication::style()->standardPalette());
        }
    }
}

} // namespace
} // namespace lumra
