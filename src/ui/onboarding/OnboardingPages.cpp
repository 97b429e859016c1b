// The welcome, closing, "Get Set Up" and "What to Capture" pages of the walkthrough.
#include "ui/onboarding/OnboardingView.h"

#include "app/HotKeyManager.h"
#include "engine/ClipboardManager.h"
#include "platform/login/LoginItem.h"
#include "ui/onboarding/OnboardingStyle.h"
#include "ui/settings/BoundRows.h"
#include "ui/settings/GlobalShortcutLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace lumra {

namespace {

QLabel* iconLabel(int size)
{
    auto* icon = new QLabel;
    icon->setPixmap(OnboardingStyle::appIcon(size));
    icon->setAlignment(Qt::AlignCenter);
    icon->setObjectName(QStringLiteral("appIcon"));
    return icon;
}

// A hint of the closing page: a symbol in the accent colour and a line of text.
QWidget* hintRow(const QString& symbol, QLabel* text)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* icon = new QLabel;
    icon->setFixedWidth(24);
    icon->setPixmap(OnboardingStyle::symbol(symbol, 16, row->palette().color(QPalette::Highlight)));
    text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layout->addWidget(icon);
    layout->addWidget(text, 1);
    return row;
}

} // namespace

QWidget* OnboardingView::welcomePage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);
    layout->addWidget(iconLabel(120));
    QLabel* title = OnboardingStyle::text(QStringLiteral("A Better Way to Copy and Paste"), 26, QFont::Bold);
    title->setObjectName(QStringLiteral("title"));
    title->setContentsMargins(40, 24, 40, 0);
    layout->addWidget(title);
    QLabel* text = OnboardingStyle::text(
        QStringLiteral("Lumra is a time machine for your clipboard that lets you instantly find anything you've ever "
                       "copied and use it whenever you need it again."),
        14, QFont::Normal, true);
    text->setContentsMargins(48, 12, 48, 0);
    layout->addWidget(text);
    auto* start = new PrimaryButton(QStringLiteral("Get Started"), 120);
    start->setObjectName(QStringLiteral("getStarted"));
    m_forward.insert(OnboardingPage::welcome, goButton(start, 1));
    layout->addSpacing(32);
    layout->addWidget(start, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return page;
}

QWidget* OnboardingView::finishPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);
    layout->addWidget(iconLabel(96));
    QLabel* title = OnboardingStyle::text(QStringLiteral("You're All Set!"), 26, QFont::Bold);
    title->setObjectName(QStringLiteral("title"));
    title->setContentsMargins(0, 22, 0, 0);
    layout->addWidget(title);
    QLabel* text = OnboardingStyle::text(
        QStringLiteral("Lumra is now running in your system tray and quietly saving everything you copy."), 14,
        QFont::Normal, true);
    text->setContentsMargins(48, 12, 48, 0);
    layout->addWidget(text);

    auto* hints = new QWidget;
    auto* hintLayout = new QVBoxLayout(hints);
    hintLayout->setContentsMargins(52, 30, 52, 0);
    hintLayout->setSpacing(14);
    m_shortcutHintText = OnboardingStyle::text(QString(), 13, QFont::Normal, true);
    m_shortcutHintText->setObjectName(QStringLiteral("shortcutHint"));
    m_shortcutHint = hintRow(QStringLiteral("keyboard"), m_shortcutHintText);
    hintLayout->addWidget(m_shortcutHint);
    QLabel* trayHint = OnboardingStyle::text(QStringLiteral("Or click the Lumra icon in the system tray."), 13, QFont::Normal, true);
    trayHint->setObjectName(QStringLiteral("trayHint"));
    hintLayout->addWidget(hintRow(QStringLiteral("menubar.arrow.up.rectangle"), trayHint));
    layout->addWidget(hints);

    auto* finish = new PrimaryButton(QStringLiteral("Start Using Lumra"), 140);
    finish->setObjectName(QStringLiteral("startUsing"));
    connect(finish, &QPushButton::clicked, this, [this] {
        if (m_onFinish)
            m_onFinish();
    });
    m_forward.insert(OnboardingPage::finish, finish);
    layout->addSpacing(34);
    layout->addWidget(finish, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    // The hint follows the shortcut as it is now, also when changed while the page shows.
    connect(&m_hotKeys, &HotKeyManager::shortcutRevisionChanged, this, &OnboardingView::updateFinishHints);
    connect(&m_hotKeys, &HotKeyManager::enabledChanged, this, &OnboardingView::updateFinishHints);
    updateFinishHints();
    return page;
}

void OnboardingView::updateFinishHints()
{
    const QString shortcut = m_hotKeys.shortcutDisplayString();
    const bool show = m_hotKeys.isEnabled() && !shortcut.isEmpty();
    m_shortcutHint->setVisible(show);
    m_shortcutHintText->setText(QStringLiteral("Press ") + shortcut + QStringLiteral(" anytime to open your clipboard history."));
}

QWidget* OnboardingView::scrollingBody(const QList<QWidget*>& rows)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(28, 4, 28, 4);
    layout->setSpacing(16);
    for (QWidget* row : rows)
        layout->addWidget(row);
    layout->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("body"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return scroll;
}

QWidget* OnboardingView::launchAtLoginRow()
{
    auto* toggle = new ToggleSwitch;
    auto* row = new SettingRow(QStringLiteral("Launch at login"),
                               QStringLiteral("Automatically open Lumra when you log in to your computer."), toggle,
                               SettingRow::Look::compact);
    toggle->setAccessibleName(row->title());
    LoginItem& loginItem = *m_services.loginItem;
    toggle->setChecked(loginItem.isEnabled());
    connect(toggle, &ToggleSwitch::toggled, this, [row, toggle, &loginItem](bool on) {
        row->clearMessage();
        const Status status = loginItem.setEnabled(on);
        // The switch shows what the login item is now, whatever was asked.
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(loginItem.isEnabled());
        if (!status)
            row->showMessage(status.error());
    });
    return row;
}

QWidget* OnboardingView::getSetUpPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(OnboardingStyle::header(
        QStringLiteral("Get Set Up"),
        QStringLiteral("Tune these to your liking \u2014 you can change them anytime in Settings."), 36, 20));

    m_shortcutLine = new GlobalShortcutLine(m_manager, m_hotKeys, *m_services.prompts);
    m_shortcutLine->setLabelVisible(false);
    m_shortcutLine->setEnablesHotKeyWhenRecorded(true);
    auto* shortcutRow = new SettingRow(
        QStringLiteral("Global shortcut"),
        QStringLiteral("Open Lumra from anywhere using a keyboard shortcut, even when the app is in the background."),
        m_shortcutLine, SettingRow::Look::compact);

    const auto look = SettingRow::Look::compact;
    PromptService& prompts = *m_services.prompts;
    QList<QWidget*> rows {
        launchAtLoginRow(),
        SettingsStyle::divider(),
        shortcutRow,
        SettingsStyle::divider(),
        new HistoryLimitRow(m_manager, prompts, HistoryLimitRow::Bound::retention, look),
        new HistoryLimitRow(m_manager, prompts, HistoryLimitRow::Bound::itemLimit, look),
        SettingsStyle::divider(),
        new SettingSwitchRow(m_manager,
                             {QStringLiteral("Sync"),
                              QStringLiteral("Sync clipboard history across your computers through a sync folder. "
                                             "Choose a sync folder in Lumra Settings for syncing to work."),
                              Setting::iCloudSyncEnabled},
                             look),
        SettingsStyle::divider(),
    };
    PickerSpec openAt = GeneralTables::openWindowAt();
    openAt.description = QStringLiteral("Choose where the Lumra window appears when opened with the global shortcut.");
    rows << new SettingPickerRow(m_manager, openAt, {}, look);
    layout->addWidget(scrollingBody(rows), 1);

    auto* forward = new PrimaryButton(QStringLiteral("Continue"), 100);
    forward->setObjectName(QStringLiteral("continue"));
    m_forward.insert(OnboardingPage::getSetUp, goButton(forward, 2));
    QPushButton* back = goButton(OnboardingStyle::backButton(), 0);
    back->setObjectName(QStringLiteral("back"));
    layout->addWidget(OnboardingStyle::footer(back, forward));
    return page;
}

QWidget* OnboardingView::whatToCapturePage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(OnboardingStyle::header(
        QStringLiteral("What to Capture"),
        QStringLiteral("Choose the kinds of clipboard items Lumra saves. Disabled types are never added to your history."),
        36, 20));
    QList<QWidget*> rows;
    for (const SwitchSpec& spec : OnboardingTexts::captureRows())
        rows << new SettingSwitchRow(m_manager, spec, SettingRow::Look::compact);
    layout->addWidget(scrollingBody(rows), 1);
    layout->addWidget(navigationFooter(OnboardingPage::whatToCapture));
    return page;
}

} // namespace lumra
