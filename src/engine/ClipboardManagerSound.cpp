#include "engine/ClipboardManager.h"

#include "engine/PasteService.h"
#include "model/NotificationCenter.h"
#include "platform/sound/SoundPlayer.h"

namespace lumra {

using namespace std::chrono_literals;

namespace {
const QString reminderSnoozedUntilKey = QStringLiteral("reminderSnoozedUntil");
constexpr qint64 reminderWindowMs = 60'000;
constexpr auto reminderHold = 120s;
} // namespace

void ClipboardManager::playCopySound() { playCopySoundNow(); }

void ClipboardManager::recordCopyForReminder(bool countsForReminder)
{
    if (countsForReminder)
        countCopyForReminder();
}

void ClipboardManager::playCopySoundNow()
{
    SoundPlayer* player = m_services.soundPlayer;
    const auto option = fromRawValue<CopySoundOption>(copySoundOption());
    if (!player || !option || *option == CopySoundOption::none)
        return;
    if (*option == CopySoundOption::custom) {
        if (!customSoundPath().isEmpty())
            player->playFile(customSoundPath());
        return;
    }
    player->playStored(copySoundOption());
}

QDateTime ClipboardManager::reminderSnoozedUntil() const { return m_defaults.date(reminderSnoozedUntilKey).value_or(QDateTime()); }

void ClipboardManager::countCopyForReminder()
{
    const qint64 threshold = reminderThreshold();
    const QDateTime now = m_clock.now();
    if (threshold <= 0)
        return;
    if (const QDateTime snoozedUntil = reminderSnoozedUntil(); snoozedUntil.isValid() && now < snoozedUntil)
        return;
    if (m_reminderHeldBySnooze) {
        // The snooze is over; its hold must not silence the reminder until the next paste.
        m_reminderHeldBySnooze = false;
        m_reminderShownForCurrentBurst = false;
    }
    m_recentCopyTimestamps.append(now);
    const QDateTime windowStart = now.addMSecs(-reminderWindowMs);
    m_recentCopyTimestamps.removeIf([&](const QDateTime& copied) { return copied < windowStart; });
    if (m_recentCopyTimestamps.size() < threshold || m_reminderShownForCurrentBurst)
        return;
    const QDateTime lastPaste = m_paste->lastPasteDate();
    if (lastPaste.isValid() && lastPaste.msecsTo(now) <= reminderWindowMs)
        return;

    m_reminderShownForCurrentBurst = true;
    m_reminderHeldBySnooze = false;
    m_recentCopyTimestamps.clear();
    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    // Only the latest reminder's hold may end the burst; an older one would cut a newer hold short.
    const quint64 serial = ++m_reminderSerial;
    m_clock.after(reminderHold, this, [this, serial] {
        if (serial == m_reminderSerial)
            m_reminderShownForCurrentBurst = false;
    });
}

void ClipboardManager::snoozeReminder()
{
    // The next local midnight by the calendar, not now + 24 h: on a 25-hour day that would land
    // in the same day and snooze nothing.
    const QDate today = m_clock.now().toTimeZone(m_reminderTimeZone).date();
    const QDateTime until = today.addDays(1).startOfDay(m_reminderTimeZone);
    m_defaults.set(reminderSnoozedUntilKey, until);
    m_reminderShownForCurrentBurst = true;
    m_reminderHeldBySnooze = true;
    m_recentCopyTimestamps.clear();
}

void ClipboardManager::endReminderBurst()
{
    m_reminderShownForCurrentBurst = false;
    m_reminderHeldBySnooze = false;
    m_recentCopyTimestamps.clear();
    ++m_reminderSerial;
}

} // namespace lumra
