#include "ui/settings/CleanupPage.h"
#include "engine/HistoryFilter.h"

#include "ui/shell/Prompt.h"
#include "platform/symbols/Symbols.h"
#include "ui/settings/BoundRows.h"
#include "ui/settings/CleanupTables.h"
#include "ui/settings/SettingsWidgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace lumra {

namespace Tables = CleanupTables;
using Candidates = QList<ClearCandidate>;

namespace {

QPushButton* destructiveButton(const QString& text, bool plain = false)
{
    auto* button = new QPushButton(text);
    button->setFlat(plain);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, SettingsStyle::errorColor());
    button->setPalette(palette);
    return button;
}

int answer(PromptService& prompts, const Tables::Prompt& prompt, PromptService::Style style)
{
    return prompts.alert(prompt.title, prompt.text, prompt.buttons, style);
}

} // namespace

// ------------------------------------------------------------------------------------------ accessory

ClearAccessory::ClearAccessory(bool recycleBinOn, const Candidates* counted, QWidget* parent)
    : QWidget(parent)
    , m_counted(counted)
    , m_starred(new QCheckBox(QStringLiteral("Also delete starred and pinned items"), this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (counted) {
        m_count = new QLabel(this);
        m_count->setFont(SettingsStyle::font(13, true, font()));
        layout->addWidget(m_count);
        connect(m_starred, &QCheckBox::toggled, this, &ClearAccessory::boxesChanged);
    }
    layout->addWidget(m_starred);
    if (recycleBinOn) {
        m_skip = new QCheckBox(QStringLiteral("Skip recycle bin (delete permanently)"), this);
        layout->addWidget(m_skip);
    }
    auto* header = SettingsStyle::label(QStringLiteral("Delete these item types:"), 11, true, true, this);
    layout->addWidget(header);
    for (const Tables::ClearType& type : Tables::clearTypes()) {
        auto* box = new QCheckBox(type.label, this);
        box->setChecked(true);
        connect(box, &QCheckBox::toggled, this, &ClearAccessory::boxesChanged);
        layout->addWidget(box);
        m_types.append(box);
    }
    boxesChanged();
}

bool ClearAccessory::includeStarredAndPinned() const { return m_starred->isChecked(); }
bool ClearAccessory::skipRecycleBin() const { return m_skip && m_skip->isChecked(); }

QList<bool> ClearAccessory::ticked() const
{
    QList<bool> ticked;
    for (const QCheckBox* box : m_types)
        ticked.append(box->isChecked());
    return ticked;
}

void ClearAccessory::boxesChanged()
{
    const QList<bool> boxes = ticked();
    emit firstButtonEnabledChanged(boxes.contains(true));
    if (m_count)
        m_count->setText(Tables::countLabel(int(Tables::itemsToClear(*m_counted, includeStarredAndPinned(), boxes).size())));
}

// ------------------------------------------------------------------------------------------ page

CleanupPage::CleanupPage(SettingsContext context, QWidget* parent)
    : QScrollArea(parent)
    , m_context(context)
{
    SettingsStyle::setUpPage(this);
    ClipboardManager& manager = context.manager;
    auto* content = new QWidget;
    content->setFont(SettingsStyle::font(14, false, font()));

    // Block 1: clearing, auto-clean, the recycle bin.
    m_period = new QComboBox;
    m_period->setAccessibleName(QStringLiteral("Clear items from"));
    for (const Tables::ClearPeriod& period : Tables::clearPeriods())
        m_period->addItem(period.label, period.hours);
    m_clear = destructiveButton(QStringLiteral("Clear"));
    auto* recentRow = new SettingRow(QStringLiteral("Clear items from"),
                                     QStringLiteral("Delete clipboard items from a specific time period. Starred and "
                                                    "pinned items are kept by default."),
                                     m_period);
    recentRow->addTrailing(m_clear);
    m_clearAll = destructiveButton(QStringLiteral("Clear All"));
    auto* allRow = new SettingRow(QStringLiteral("Clear all Items"),
                                  QStringLiteral("Remove all clipboard items at once. Starred and pinned items are kept "
                                                 "by default."),
                                  m_clearAll);
    connect(m_clear, &QPushButton::clicked, this, [this] { startClear(true); });
    connect(m_clearAll, &QPushButton::clicked, this, [this] { startClear(false); });

    m_autoClean = new SettingPickerRow(manager, Tables::autoClean(), [this](SettingPickerRow& row, const SettingValue& value) {
        applyAutoClean(row, std::get<qint64>(value));
    });
    m_autoClean->setUnlistedLabel([](const SettingValue& v) { return Tables::minutesLabel(std::get<qint64>(v)); });

    m_binSwitch = new ToggleSwitch;
    m_binSwitch->setAccessibleName(QStringLiteral("Recycle bin"));
    auto* binRow = new SettingRow(QStringLiteral("Recycle bin"),
                                  QStringLiteral("Move deleted items to a recycle bin instead of deleting them "
                                                 "permanently. Use /trash to view and restore items. Items are "
                                                 "permanently deleted after the set number of days."),
                                  m_binSwitch);
    // The prompt decides; the switch only shows the stored value.
    connect(m_binSwitch, &ToggleSwitch::clicked, this, [this](bool on) { switchRecycleBin(on); });

    m_binDetails = new QWidget;
    auto* details = new QVBoxLayout(m_binDetails);
    details->setContentsMargins(0, 0, 0, 0);
    details->setSpacing(8);
    m_binDays = new SettingPickerRow(manager, {QStringLiteral("Keep deleted items for"), QString(), Setting::recycleBinDays,
                                               Tables::recycleBinDays()});
    m_binDays->titleLabel()->setFont(SettingsStyle::font(14, false, font()));
    m_binDays->titleLabel()->setForegroundRole(QPalette::PlaceholderText);
    m_binDays->combo()->setFixedWidth(110);
    m_binDays->setUnlistedLabel([](const SettingValue& v) { return Tables::daysLabel(std::get<qint64>(v)); });
    details->addWidget(m_binDays);
    auto* tip = new QLabel(QStringLiteral("Type <b>/trash</b> in the search bar to view and restore deleted items."));
    tip->setTextFormat(Qt::RichText);
    tip->setWordWrap(true);
    tip->setForegroundRole(QPalette::PlaceholderText);
    tip->setFont(SettingsStyle::font(13, false, font()));
    details->addWidget(tip);
    m_syncNote = new QWidget;
    auto* note = new QHBoxLayout(m_syncNote);
    note->setContentsMargins(0, 0, 0, 0);
    note->setSpacing(4);
    auto* cloud = new QLabel;
    cloud->setPixmap(Symbols::icon(QStringLiteral("icloud")).pixmap(12, 12));
    note->addWidget(cloud);
    auto* noteText = SettingsStyle::label(QStringLiteral("This setting is synced across your computers through the sync folder."),
                                          11, false, true);
    noteText->setWordWrap(true);
    note->addWidget(noteText, 1);
    details->addWidget(m_syncNote);
    m_emptyBin = destructiveButton(QStringLiteral("Empty Recycle Bin"), true);
    connect(m_emptyBin, &QPushButton::clicked, this, &CleanupPage::emptyRecycleBin);
    auto* emptyLine = new QHBoxLayout;
    emptyLine->addStretch(1);
    emptyLine->addWidget(m_emptyBin);
    details->addLayout(emptyLine);

    auto* block1 = new QVBoxLayout;
    block1->setSpacing(12);
    block1->addWidget(recentRow);
    block1->addWidget(allRow);
    block1->addWidget(m_autoClean);
    block1->addWidget(SettingsStyle::divider());
    block1->addWidget(binRow);
    block1->addWidget(m_binDetails);

    // Block 2: the reset.
    m_reset = destructiveButton(QStringLiteral("Reset Everything"));
    connect(m_reset, &QPushButton::clicked, this, &CleanupPage::confirmReset);
    auto* resetRow = new SettingRow(QStringLiteral("Reset App"),
                                    QStringLiteral("Completely reset Lumra to factory state. This deletes all clipboard "
                                                   "history, categories, settings, and local data. The app will quit "
                                                   "after reset."),
                                    m_reset);
    auto* block2 = new QVBoxLayout;
    block2->setSpacing(12);
    block2->addWidget(SettingsStyle::divider());
    block2->addWidget(resetRow);
    auto* resetNote = SettingsStyle::label(QStringLiteral("This will delete all clipboard history, settings, categories, "
                                                          "and local data on this computer. The app will quit and start "
                                                          "fresh on next launch."),
                                           12, false, true);
    resetNote->setWordWrap(true);
    block2->addWidget(resetNote);

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addLayout(block1);
    layout->addLayout(block2);
    layout->addStretch(1);
    setWidget(content);

    connect(&manager, &ClipboardManager::settingChanged, this, [this](Setting setting) {
        if (setting == Setting::recycleBinEnabled || setting == Setting::iCloudSyncEnabled)
            updateRecycleBinDetails();
    });
    updateRecycleBinDetails();
}

void CleanupPage::updateRecycleBinDetails()
{
    const QSignalBlocker blocker(m_binSwitch);
    const bool on = m_context.manager.recycleBinEnabled();
    m_binSwitch->setChecked(on);
    m_binDetails->setVisible(on);
    m_syncNote->setVisible(m_context.manager.iCloudSyncEnabled());
}

void CleanupPage::setBusy(bool busy)
{
    m_busy = busy;
    m_clear->setEnabled(!busy);
    m_clearAll->setEnabled(!busy);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

// The items are counted before the first prompt opens, kinds and all, so the number shown is the
// number removed: the confirmed ids are what the clear is given.
void CleanupPage::startClear(bool recent)
{
    if (m_busy)
        return;
    setBusy(true);
    const Tables::ClearPeriod period = Tables::clearPeriod(m_period->currentData().toInt());
    std::optional<QDateTime> since;
    if (recent)
        since = m_context.manager.clock().now().addSecs(-qint64(period.hours) * 3600);
    QPointer<CleanupPage> self(this);
    m_context.manager.clearing().findClearCandidates(since, [self, recent, label = period.label](Candidates candidates) {
        if (!self)
            return;
        self->askToClear(recent, label, candidates);
    });
}

void CleanupPage::askToClear(bool recent, const QString& periodLabel, const Candidates& candidates)
{
    ClipboardManager& manager = m_context.manager;
    const bool binOn = manager.recycleBinEnabled();
    const Tables::Prompt first = recent ? Tables::clearRecent(periodLabel) : Tables::clearAll();
    ClearAccessory accessory(binOn, recent ? &candidates : nullptr);
    if (m_context.prompts.alertWithAccessory(first.title, first.text, first.buttons, PromptService::Style::warning,
                                             &accessory)
        != 0) {
        setBusy(false);
        return;
    }
    const bool permanently = !binOn || accessory.skipRecycleBin();
    const bool includeStarred = accessory.includeStarredAndPinned();
    const QList<QUuid> ids = Tables::itemsToClear(candidates, includeStarred, accessory.ticked());
    if (ids.isEmpty()
        || answer(m_context.prompts, Tables::confirmDeletion(int(ids.size()), permanently), PromptService::Style::critical)
            != 0) {
        setBusy(false);
        return;
    }
    QPointer<CleanupPage> self(this);
    manager.clearing().clearItems(ids, includeStarred, permanently, [self](Status status, int removed) {
        if (!self)
            return;
        self->setBusy(false);
        if (!status)
            self->m_context.prompts.alert(QStringLiteral("The items could not be removed"), status.error(),
                                          {QStringLiteral("OK")}, PromptService::Style::warning);
        emit self->clearFinished(status, removed);
    });
}

void CleanupPage::applyAutoClean(SettingPickerRow& row, qint64 minutes)
{
    ClipboardManager& manager = m_context.manager;
    if (minutes == manager.autoCleanMinutes()) {
        row.refresh();
        return;
    }
    const int count = minutes == 0 ? 0 : manager.countAutoCleanCandidates(int(minutes));
    if (count == 0) {
        row.store(SettingValue(minutes));
        return;
    }
    const bool binOn = manager.recycleBinEnabled();
    if (answer(m_context.prompts, Tables::applyAutoClean(count, binOn, manager.iCloudSyncEnabled() && !manager.syncFolderPath().trimmed().isEmpty()),
               PromptService::Style::warning)
        != 0) {
        row.refresh();
        return;
    }
    if (row.store(SettingValue(minutes)))
        manager.autoCleanNow();
}

void CleanupPage::switchRecycleBin(bool on)
{
    ClipboardManager& manager = m_context.manager;
    const qsizetype binned = on ? 0 : manager.filters().trashedItems().size();
    if (binned > 0) {
        const int choice = answer(m_context.prompts, Tables::disableRecycleBin(int(binned)), PromptService::Style::warning);
        if (choice == 0) {
            if (const Status s = manager.emptyRecycleBin(); !s) {
                m_context.prompts.alert(QStringLiteral("The recycle bin could not be emptied"), s.error(),
                                        {QStringLiteral("OK")}, PromptService::Style::warning);
                updateRecycleBinDetails();
                return;
            }
        } else if (choice != 1) {
            updateRecycleBinDetails(); // Cancel: the switch stays on
            return;
        }
    }
    manager.setRecycleBinEnabled(on);
    updateRecycleBinDetails();
}

void CleanupPage::emptyRecycleBin()
{
    ClipboardManager& manager = m_context.manager;
    const int count = int(manager.filters().trashedItems().size());
    const Tables::Prompt prompt = Tables::emptyRecycleBin(count);
    if (count == 0) {
        answer(m_context.prompts, prompt, PromptService::Style::informational);
        return;
    }
    if (answer(m_context.prompts, prompt, PromptService::Style::warning) != 0)
        return;
    if (const Status s = manager.emptyRecycleBin(); !s)
        m_context.prompts.alert(QStringLiteral("The recycle bin could not be emptied"), s.error(), {QStringLiteral("OK")},
                                PromptService::Style::warning);
}

void CleanupPage::confirmReset()
{
    if (answer(m_context.prompts, Tables::resetFirst(), PromptService::Style::critical) != 0)
        return;
    if (answer(m_context.prompts, Tables::resetSecond(), PromptService::Style::critical) != 0)
        return;
    if (m_context.resetEverything)
        m_context.resetEverything();
}

} // namespace lumra
