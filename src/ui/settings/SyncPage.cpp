#include "ui/settings/SyncPage.h"

#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "platform/cloud/SyncFiles.h"
#include "platform/core/Folders.h"
#include "ui/DrawableText.h"
#include "ui/settings/BoundRows.h"

#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace lumra {

namespace {

QLabel* wrapped(QLabel* label)
{
    label->setWordWrap(true);
    return label;
}

} // namespace

SyncPage::SyncPage(SettingsContext context, Services services, QWidget* parent)
    : QScrollArea(parent)
    , m_context(std::move(context))
    , m_services(std::move(services))
{
    if (!m_services.folderUsable)
        m_services.folderUsable = [](const QString& folder) { return sync::SyncFiles::isUsable(folder); };
    if (!m_services.restartApp)
        m_services.restartApp = [] { return false; };
    SettingsStyle::setUpPage(this);
    m_content = new QWidget;
    m_content->setFont(SettingsStyle::font(14, false, m_content->font()));
    auto* layout = new QVBoxLayout(m_content);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addWidget(syncRow());

    m_statusBlock = new QWidget;
    auto* status = new QVBoxLayout(m_statusBlock);
    status->setContentsMargins(0, 0, 0, 0);
    status->addWidget(SettingsStyle::divider());
    auto* statusLine = new QHBoxLayout;
    statusLine->setSpacing(6);
    statusLine->addWidget(SettingsStyle::label(QStringLiteral("Sync status:"), 11, false, true), 0, Qt::AlignTop);
    // A status can name several computers and what each holds back: it wraps rather than being cut.
    m_status = wrapped(SettingsStyle::label(QString(), 11));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusLine->addWidget(m_status, 1);
    status->addLayout(statusLine);
    layout->addWidget(m_statusBlock);

    m_typesBlock = typesSection();
    layout->addWidget(m_typesBlock);
    layout->addStretch(1);
    setWidget(m_content);

    ClipboardManager& manager = m_context.manager;
    connect(&manager, &ClipboardManager::settingChanged, this, [this](Setting setting) {
        if (setting == Setting::iCloudSyncEnabled || setting == Setting::syncFolderPath)
            refresh();
    });
    connect(&manager, &ClipboardManager::iCloudSyncStatusChanged, this, &SyncPage::refresh);
    refresh();
}

SyncPage::~SyncPage() = default;

QWidget* SyncPage::syncRow()
{
    auto* block = new QWidget;
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    // The folder: sync here runs through a folder that a sync tool keeps alike on every computer.
    auto* folderRow = new QWidget;
    auto* folderTexts = new QVBoxLayout;
    folderTexts->setSpacing(2);
    folderTexts->addWidget(SettingsStyle::label(QStringLiteral("Sync folder"), 15, true));
    m_folder = wrapped(SettingsStyle::label(QString(), 12, false, true));
    m_folder->setTextFormat(Qt::PlainText);
    m_folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folderTexts->addWidget(m_folder);
    m_choose = new QPushButton(QStringLiteral("Choose\u2026"));
    m_choose->setAccessibleName(QStringLiteral("Choose sync folder"));
    auto* folderLine = new QHBoxLayout(folderRow);
    folderLine->setContentsMargins(0, 0, 0, 0);
    folderLine->addLayout(folderTexts, 1);
    folderLine->addWidget(m_choose, 0, Qt::AlignTop);
    connect(m_choose, &QPushButton::clicked, this, &SyncPage::chooseFolder);
    layout->addWidget(folderRow);

    m_switch = new ToggleSwitch;
    auto* row = new SettingRow(QStringLiteral("Sync"),
                               QStringLiteral("Sync clipboard history across your computers using a sync folder. "
                                              "Enabled by default; you must choose a sync folder for syncing to work. "
                                              "Restart the app after toggling for changes to take effect."),
                               m_switch);
    m_switch->setAccessibleName(row->title());
    // The switch shows the stored setting; a flip is a request that the page answers.
    connect(m_switch, &ToggleSwitch::clicked, this, [this](bool on) {
        const QSignalBlocker blocker(m_switch);
        m_switch->setChecked(m_context.manager.iCloudSyncEnabled());
        requestSync(on);
    });
    layout->addWidget(row);

    QLabel* note = SettingsStyle::label(QStringLiteral("Restart the app after changing this setting."), 12);
    QPalette red = note->palette();
    red.setColor(QPalette::WindowText, SettingsStyle::errorColor());
    note->setPalette(red);
    layout->addWidget(note);
    return block;
}

QWidget* SyncPage::typesSection()
{
    ClipboardManager& manager = m_context.manager;
    auto* block = new QWidget;
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(SettingsStyle::divider());
    auto* header = new QVBoxLayout;
    header->setSpacing(2);
    header->addWidget(SettingsStyle::label(QStringLiteral("Types to sync"), 15, true));
    header->addWidget(wrapped(SettingsStyle::label(
        QStringLiteral("Choose which clipboard item types this computer uploads to the sync folder. Files, image files "
                       "copied from the file manager, and folders always stay local because their data lives on the "
                       "source computer."),
        12, false, true)));
    layout->addLayout(header);
    for (const SwitchSpec& spec : SyncTables::typesToSync())
        layout->addWidget(new SettingSwitchRow(manager, spec));
    layout->addWidget(new SettingPickerRow(manager, SyncTables::maxImageSize()));
    layout->addWidget(wrapped(SettingsStyle::label(
        QStringLiteral("Changes only affect new items \u2014 existing synced items stay in the sync folder."), 11, false, true)));
    return block;
}

void SyncPage::refresh()
{
    ClipboardManager& manager = m_context.manager;
    const QString folder = manager.syncFolderPath();
    m_folder->setText(folder.trimmed().isEmpty()
                          ? QStringLiteral("No folder chosen. Choose a folder that a sync tool (Syncthing, Nextcloud, a "
                                           "network share) keeps the same on all your computers.")
                          : folder);
    {
        const QSignalBlocker blocker(m_switch);
        m_switch->setChecked(manager.iCloudSyncEnabled());
    }
    // While the check runs the switch shows the stored setting and takes no new flip.
    m_switch->setEnabled(!m_checking);
    const bool on = manager.iCloudSyncEnabled();
    // On with no folder chosen (a fresh install): nothing syncs yet, and the status says why.
    const QString status = folder.trimmed().isEmpty() ? QStringLiteral("No sync folder is chosen yet: nothing leaves this computer.")
                                                      : manager.iCloudSyncStatus();
    m_status->setText(drawableText(status, m_status->font()));
    m_statusBlock->setVisible(on && !status.isEmpty());
    m_typesBlock->setVisible(on);
}

bool SyncPage::isShowingTypes() const { return !m_typesBlock->isHidden(); }
bool SyncPage::isShowingStatus() const { return !m_statusBlock->isHidden(); }

QString folderChooserStart(const QString& chosen)
{
    // Never the program's working folder, which means nothing to the user.
    if (!chosen.isEmpty() && QDir::isAbsolutePath(chosen) && QFileInfo(chosen).isDir())
        return QDir::cleanPath(chosen);
    return Folders::homeFolder();
}

void SyncPage::chooseFolder()
{
    ClipboardManager& manager = m_context.manager;
    const QString chosen = m_services.chooseFolder ? m_services.chooseFolder(folderChooserStart(manager.syncFolderPath())) : QString();
    if (chosen.isEmpty())
        return;
    manager.setSyncFolderPath(chosen);
    // A check under way was about the folder chosen before; its answer no longer counts.
    if (m_checking)
        startCheck();
}

void SyncPage::requestSync(bool on)
{
    if (!on) {
        // Off needs no check. A check under way is dropped, so no prompt for "on" follows.
        ++m_checkGeneration;
        m_checking = false;
        m_context.manager.setICloudSyncEnabled(false);
        refresh();
        confirmRestart(false);
        return;
    }
    if (m_context.manager.iCloudSyncEnabled())
        return;
    startCheck();
}

void SyncPage::startCheck()
{
    const quint64 generation = ++m_checkGeneration;
    m_checking = true;
    refresh();
    auto* watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (watcher->future().resultCount() > 0) // none when dropped at quit
            finishCheck(generation, watcher->result());
    });
    watcher->setFuture(m_context.manager.work().run(BackgroundWork::Lane::syncFolder, [check = m_services.folderUsable, folder = m_context.manager.syncFolderPath()] {
        return check(folder);
    }));
}

void SyncPage::finishCheck(quint64 generation, bool usable)
{
    // Only the latest check answers; an earlier one was about another folder or another flip.
    if (generation != m_checkGeneration)
        return;
    m_checking = false;
    if (!usable) {
        refresh();
        m_context.prompts.alert(QStringLiteral("Sync Unavailable"),
                                QStringLiteral("Choose a sync folder that exists and that you can write to."),
                                {QStringLiteral("OK")}, PromptService::Style::warning);
        return;
    }
    m_context.manager.setICloudSyncEnabled(true);
    refresh();
    confirmRestart(true);
}

void SyncPage::confirmRestart(bool enabled)
{
    const int answer = m_context.prompts.alert(
        QStringLiteral("Restart Lumra?"),
        QStringLiteral("Sync has been %1. Lumra needs to restart for the change to take effect.")
            .arg(enabled ? QStringLiteral("enabled") : QStringLiteral("disabled")),
        {QStringLiteral("Restart Now"), QStringLiteral("Later")}, PromptService::Style::informational);
    if (answer != 0)
        return;
    if (m_services.restartApp())
        return;
    m_context.prompts.alert(QStringLiteral("Lumra Could Not Restart"),
                            QStringLiteral("Lumra could not start again and keeps running. The change takes effect "
                                           "the next time you start Lumra."),
                            {QStringLiteral("OK")}, PromptService::Style::warning);
}

} // namespace lumra
