#pragma once

#include "engine/HistoryClearing.h"
#include "ui/settings/SettingsContext.h"

#include <QScrollArea>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace lumra {

class SettingPickerRow;
class ToggleSwitch;

// What the clear prompts show under their text: the live count (clear-recent only), the two
// options and the nine type boxes. The prompt's first button follows firstButtonEnabledChanged.
class ClearAccessory : public QWidget {
    Q_OBJECT
public:
    ClearAccessory(bool recycleBinOn, const QList<ClearCandidate>* counted, QWidget* parent = nullptr);

    QCheckBox* starredBox() const { return m_starred; }
    QCheckBox* skipBox() const { return m_skip; } // null while the recycle bin is off
    const QList<QCheckBox*>& typeBoxes() const { return m_types; }
    QLabel* countLabel() const { return m_count; } // null without a count

    bool includeStarredAndPinned() const;
    bool skipRecycleBin() const;
    QList<bool> ticked() const;

signals:
    void firstButtonEnabledChanged(bool enabled);

private:
    void boxesChanged();

    const QList<ClearCandidate>* m_counted;
    QLabel* m_count = nullptr;
    QCheckBox* m_starred;
    QCheckBox* m_skip = nullptr;
    QList<QCheckBox*> m_types;
};

// The Cleanup page: clearing by period or all at once, auto-clean, the recycle bin and the reset.
class CleanupPage : public QScrollArea {
    Q_OBJECT
public:
    explicit CleanupPage(SettingsContext context, QWidget* parent = nullptr);

    QComboBox* periodPicker() const { return m_period; }
    QPushButton* clearButton() const { return m_clear; }
    QPushButton* clearAllButton() const { return m_clearAll; }
    SettingPickerRow* autoCleanRow() const { return m_autoClean; }
    ToggleSwitch* recycleBinSwitch() const { return m_binSwitch; }
    SettingPickerRow* recycleBinDaysRow() const { return m_binDays; }
    QPushButton* emptyBinButton() const { return m_emptyBin; }
    QPushButton* resetButton() const { return m_reset; }
    // Whether a clear is being counted or carried out (its buttons are off meanwhile).
    bool isBusy() const { return m_busy; }

signals:
    // A clear ended: removed items, or the failure.
    void clearFinished(const Status& status, int removed);

private:
    void startClear(bool recent);
    void askToClear(bool recent, const QString& periodLabel, const QList<ClearCandidate>& candidates);
    void setBusy(bool busy);
    void applyAutoClean(SettingPickerRow& row, qint64 minutes);
    void switchRecycleBin(bool on);
    void emptyRecycleBin();
    void confirmReset();
    void updateRecycleBinDetails();

    SettingsContext m_context;
    QComboBox* m_period;
    QPushButton* m_clear;
    QPushButton* m_clearAll;
    SettingPickerRow* m_autoClean;
    ToggleSwitch* m_binSwitch;
    QWidget* m_binDetails;
    SettingPickerRow* m_binDays;
    QWidget* m_syncNote;
    QPushButton* m_emptyBin;
    QPushButton* m_reset;
    bool m_busy = false;
};

} // namespace lumra
