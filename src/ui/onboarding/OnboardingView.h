#pragma once

#include "engine/SettingOptions.h"
#include "model/ClipboardItem.h"
#include "ui/onboarding/OnboardingFlow.h"

#include <QMap>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QAbstractButton;
class QLabel;
class QPushButton;
class QStackedWidget;

namespace lumra {

class ClipboardManager;
class Clock;
class GlobalShortcutLine;
class HotKeyManager;
class IgnoredAppsBox;
class KeyInjector;
class LoginItem;
class PageDots;
class PageTransition;
class PromptService;
class StyleCard;
class TipsPage;

// What the walkthrough works with besides the engine and the hot keys; null members get the app's own.
struct OnboardingServices {
    PromptService* prompts = nullptr;     // PromptService::shared()
    LoginItem* loginItem = nullptr;       // the autostart entry
    KeyInjector* keyInjector = nullptr;   // none: Lumra cannot send keys, and says so
    Clock* clock = nullptr;               // Clock::shared()
    bool animated = true;                 // page changes slide and fade
    // Picks an application to ignore (the privacy page's +); the chooser of installed applications.
    std::function<std::optional<IgnoredApp>(QWidget* parent)> chooseApplication;
};

// The first-run walkthrough, a window of its own. It owns what its pages share, opens at the
// page saved last, saves the page at each change, sizes itself to each page (within the screen)
// and ends a shortcut recording whenever the page changes or the window goes away.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    OnboardingView(ClipboardManager& manager, HotKeyManager& hotKeys, OnboardingServices services,
                   std::function<void()> onFinish, QWidget* parent = nullptr);
    ~OnboardingView() override;

    int page() const { return m_page; }
    OnboardingPage currentPage() const { return OnboardingFlow::pageAt(m_page, m_needsPermission); }
    void setPage(int index);
    bool needsPermission() const { return m_needsPermission; }
    // The page's size bounded by the screen's available area.
    QSize contentSize() const;

    // Shows the window centred on the screen the user works on.
    void present();
    // The page widget shown for `page` (made on first use).
    QWidget* pageWidget(OnboardingPage page);
    // The control Return presses on the page shown.
    QAbstractButton* forwardButton() const;
    GlobalShortcutLine* shortcutLine() const { return m_shortcutLine; }
    void stopShortcutRecording();

    // Shared state of the pages.
    bool didRequestAccess() const { return m_didRequestAccess; }
    std::optional<AppearanceStyle> selectedLayoutStyle() const { return m_selectedLayout; }
    // The application selected on the privacy page; kept while the window lives.
    std::optional<QString> selectedAppId() const;
    IgnoredAppsBox* ignoredAppsBox() const { return m_appsBox; }
    TipsPage* tipsPage() const { return m_tipsPage; }

signals:
    void pageChanged(int index);
    void closed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* buildPage(OnboardingPage page);
    QWidget* welcomePage();
    QWidget* finishPage();
    QWidget* getSetUpPage();
    QWidget* whatToCapturePage();
    QWidget* privacyPage();
    QWidget* permissionPage();
    QWidget* layoutChoicePage();
    QWidget* tipsPageWidget();
    QWidget* centredPage(int iconSize, const QString& title, int titleSpace, const QString& text, QWidget* middle,
                         QPushButton* button, int buttonSpace);
    // The page's header, its rows in a scrolling body, and "Back" and "Continue".
    QWidget* framedPage(OnboardingPage page, QWidget* header, const QList<QWidget*>& rows);
    QPushButton* goButton(QPushButton* button, int target);
    QWidget* navigationFooter(OnboardingPage page);
    void updateFinishHints();
    void requestAccessibilityAccess();
    void updatePermissionPage();
    void selectLayoutStyle(AppearanceStyle style);
    void prepareLayoutPage();
    void updateLayoutPage();
    void showCurrentPage(bool animate);
    void applySize();
    void recentre();

    ClipboardManager& m_manager;
    HotKeyManager& m_hotKeys;
    OnboardingServices m_services;
    std::unique_ptr<LoginItem> m_ownLoginItem;
    std::function<void()> m_onFinish;
    const bool m_needsPermission;
    int m_page = 0;

    bool m_didRequestAccess = false;
    std::optional<AppearanceStyle> m_selectedLayout;

    QStackedWidget* m_stack = nullptr;
    PageDots* m_dots = nullptr;
    PageTransition* m_transition = nullptr;
    QMap<OnboardingPage, QWidget*> m_pages;
    QMap<OnboardingPage, QAbstractButton*> m_forward;
    GlobalShortcutLine* m_shortcutLine = nullptr;
    QWidget* m_shortcutHint = nullptr;
    QLabel* m_shortcutHintText = nullptr;
    QPushButton* m_requestButton = nullptr;
    QLabel* m_stillMissing = nullptr;
    QMap<AppearanceStyle, StyleCard*> m_layoutCards;
    class LayoutPreview* m_layoutPreview = nullptr;
    TipsPage* m_tipsPage = nullptr;
    IgnoredAppsBox* m_appsBox = nullptr;
};

} // namespace lumra
