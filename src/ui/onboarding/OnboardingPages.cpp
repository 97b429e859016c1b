// The welcome, closing, "Get Set Up" and "What to Capture" pages of the walkthrough.
#include "ui/onboarding/OnboardingView.h"

#include "ui/shell/HotKeyManager.h"
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

// Icon, title and text centred over `middle`, then the page's button; flexible space above and below.
QWidget* OnboardingView::centredPage(int iconSize, const QString& title, int titleSpace, const QString& text,
                                     QWidget* middle, QPushButton* button, int buttonSpace)
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);
    layout->addWidget(iconLabel(iconSize));
    QLabel* heading = OnboardingStyle::text(title, 26, QFont::Bold);
    heading->setObjectName(QStringLiteral("title"));
    heading->setContentsMargins(40, titleSpace, 40, 0);
    layout->addWidget(heading);
    QLabel* explanation = OnboardingStyle::text(text, 14, QFont::Normal, true);
    explanation->setContentsMargins(48, 12, 48, 0);
    layout->addWidget(explanation);
    if (middle)
        layout->addWidget(middle);
    layout->addSpacing(buttonSpace);
    layout->addWidget(button, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return page;
}

QWidget* OnboardingView::welcomePage()
{
    auto* start = new PrimaryButton(QStringLiteral("Get Started"), 120);
    start->setObjectName(QStringLiteral("getStarted"));
    m_forward.insert(OnboardingPage::welcome, goButton(start, 1));
    return centredPage(120, QStringLiteral("A Better Way to Copy and Paste"), 24,
                       QStringLiteral("Lumra is a time machine for your clipboard that lets you instantly find "
                                      "anything you've ever copied and use it whenever you need it again."),
                       nullptr, start, 32);
}

QWidget* OnboardingView::finishPage()
{
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

    auto* finish = new PrimaryButton(QStringLiteral("Start Using Lumra"), 140);
    finish->setObjectName(QStringLiteral("startUsing"));
    connect(finish, &QPushButton::clicked, this, [this] {
        if (m_onFinish)
            m_onFinish();
    });
    m_forward.insert(OnboardingPage::finish, finish);

    // The hint follows the shortcut as it is now, also when changed while the page shows.
    connect(&m_hotKeys, &HotKeyManager::shortcutRevisionChanged, this, &OnboardingView::updateFinishHints);
    connect(&m_hotKeys, &HotKeyManager::enabledChanged, this, &OnboardingView::updateFinishHints);
    updateFinishHints();
    return centredPage(96, QStringLiteral("You're All Set!"), 22,
                       QStringLiteral("Lumra is now running in your system tray and quietly saving everything you copy."),
                       hints, finish, 34);
}

void OnboardingView::updateFinishHints()
{
    const QString shortcut = m_hotKeys.shortcutDisplayString();
    const bool show = m_hotKeys.isEnabled() && !shortcut.isEmpty();
    m_shortcutHint->setVisible(show);
    m_shortcutHintText->setText(QStringLiteral("Press ") + shortcut + QStringLiteral(" anytime to open your clipboard history."));
}

QWidget* OnboardingView::framedPage(OnboardingPage page, QWidget* header, const QList<QWidget*>& rows)
{
    auto* content = new QWidget;
    auto* body = new QVBoxLayout(content);
    body->setContentsMargins(28, 4, 28, 4);
    body->setSpacing(16);
    for (QWidget* row : rows)
        body->addWidget(row);
    body->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("body"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);

    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(scroll, 1);
    layout->addWidget(navigationFooter(page));
    return widget;
}

QWidget* OnboardingView::getSetUpPage()
{
    m_shortcutLine = new GlobalShortcutLine(m_manager, m_hotKeys, *m_services.prompts);
    m_shortcutLine->setLabelVisible(false);
    m_shortcutLine->setEnablesHotKeyWhenRecorded(true);
    m_shortcutLine->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const auto look = SettingRow::Look::compact;
    auto* shortcutRow = new SettingRow(
        QStringLiteral("Global shortcut"),
        QStringLiteral("Open Lumra from anywhere using a keyboard shortcut, even when the app is in the background."),
        m_shortcutLine, look);
    PickerSpec openAt = GeneralTables::openWindowAt();
    openAt.description = QStringLiteral("Choose where the Lumra window appears when opened with the global shortcut.");
    PromptService& prompts = *m_services.prompts;
    return framedPage(
        OnboardingPage::getSetUp,
        OnboardingStyle::header(QStringLiteral("Get Set Up"),
                                QStringLiteral("Tune these to your liking \u2014 you can change them anytime in Settings."),
                                36, 20),
        {
            new LaunchAtLoginRow(*m_services.loginItem, look),
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
                                 nullptr, look),
            SettingsStyle::divider(),
            new SettingPickerRow(m_manager, openAt, {}, nullptr, look),
        });
}

QWidget* OnboardingView::whatToCapturePage()
{
    QList<QWidget*> rows;
    for (const SwitchSpec& spec : OnboardingTexts::captureRows())
        rows << new SettingSwitchRow(m_manager, spec, nullptr, SettingRow::Look::compact);
    return framedPage(OnboardingPage::whatToCapture,
                      OnboardingStyle::header(QStringLiteral("What to Capture"),
                                              QStringLiteral("Choose the kinds of clipboard items Lumra saves. Disabled "
                                                             "types are never added to your history."),
                                              36, 20),
                      rows);
}

} // namespace lumra
