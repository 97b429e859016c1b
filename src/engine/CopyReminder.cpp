#include "engine/CopyReminder.h"

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

CopyReminder::CopyReminder(ClipboardManager& manager)
    : m_manager(manager)
{
}

CopyReminder::~CopyReminder() = default;

void CopyReminder::playCopySoundNow()
{
    SoundPlayer* player = m_manager.services().soundPlayer;
    const auto option = fromRawValue<CopySoundOption>(m_manager.copySoundOption());
    if (!player || !option || *option == CopySoundOption::none)
        return;
    if (*option == CopySoundOption::custom) {
        if (!m_manager.customSoundPath().isEmpty())
            player->playFile(m_manager.customSoundPath());
        return;
    }
    player->playStored(m_manager.copySoundOption());
}

QDateTime CopyReminder::reminderSnoozedUntil() const
{
    return m_manager.userDefaults().date(reminderSnoozedUntilKey).value_or(QDateTime());
}

void CopyReminder::countCopyForReminder()
{
    const qint64 threshold = m_manager.reminderThreshold();
    const QDateTime now = m_manager.clock().now();
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
    const QDateTime lastPaste = m_manager.paste().lastPasteDate();
    if (lastPaste.isValid() && lastPaste.msecsTo(now) <= reminderWindowMs)
        return;

    m_reminderShownForCurrentBurst = true;
    m_reminderHeldBySnooze = false;
    m_recentCopyTimestamps.clear();
    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    // Only the latest reminder's hold may end the burst; an older one would cut a newer hold short.
    const quint64 serial = ++m_reminderSerial;
    m_manager.clock().after(reminderHold, this, [this, serial] {
        if (serial == m_reminderSerial)
            m_reminderShownForCurrentBurst = false;
    });
}

void CopyReminder::snoozeReminder()
{
    // The next local midnight by the calendar, not now + 24 h: on a 25-hour day that would land
    // in the same day and snooze nothing.
    const QDate today = m_manager.clock().now().toTimeZone(m_reminderTimeZone).date();
    const QDateTime until = today.addDays(1).startOfDay(m_reminderTimeZone);
    m_manager.userDefaults().set(reminderSnoozedUntilKey, until);
    m_reminderShownForCurrentBurst = true;
    m_reminderHeldBySnooze = true;
    m_recentCopyTimestamps.clear();
}

void CopyReminder::endReminderBurst()
{
    m_reminderShownForCurrentBurst = false;
    m_reminderHeldBySnooze = false;
    m_recentCopyTimestamps.clear();
    ++m_reminderSerial;
}

} // namespace lumra
