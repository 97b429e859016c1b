#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QTimeZone>

namespace lumra {

class ClipboardManager;

// What follows a stored copy: the copy sound, and the reminder to paste from the history when the
// user copies often without doing so. The manager owns it and lends it its settings and clock.
class CopyReminder : public QObject {
    Q_OBJECT
public:
    explicit CopyReminder(ClipboardManager& manager);
    ~CopyReminder() override;

    // Plays the chosen copy sound (a stored one or the user's file); nothing for "none".
    void playCopySoundNow();
    // Counts a copy for the reminder; posts "showCopyReminder" when the user copies often
    // without pasting from the history.
    void countCopyForReminder();
    // Silences the reminder until the start of the next local day.
    void snoozeReminder();
    QDateTime reminderSnoozedUntil() const;
    bool reminderShownForCurrentBurst() const { return m_reminderShownForCurrentBurst; }
    const QList<QDateTime>& recentCopyTimestamps() const { return m_recentCopyTimestamps; }
    // The zone whose midnight ends a snooze; the system's unless set.
    void setReminderTimeZone(const QTimeZone& zone) { m_reminderTimeZone = zone; }
    // A write to the clipboard ends the current burst of copies.
    void endReminderBurst();

private:
    ClipboardManager& m_manager;
    QList<QDateTime> m_recentCopyTimestamps;
    bool m_reminderShownForCurrentBurst = false;
    bool m_reminderHeldBySnooze = false;
    quint64 m_reminderSerial = 0;
    QTimeZone m_reminderTimeZone = QTimeZone::systemTimeZone();
};

} // namespace lumra
