#include "model/sync/SyncEngineParts.h"

namespace lumra::sync {

using store::EntityKind;
using namespace detail;

// ------------------------------------------------------------------------------------------------ status

SyncEngine::Health SyncEngine::health(qint64 nowMs)
{
    Health h;
    if (!m_state.isOpen())
        return h;
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT COUNT(*) FROM keptLocal"));
    if (st->step())
        h.keptLocal = int(st->int64(0));
    st = m_state.prepare(QStringLiteral("SELECT COUNT(*) FROM pending WHERE why IS NULL OR why = 'image'"));
    if (st->step())
        h.waitingForImages = int(st->int64(0));
    // Records held for their stamp, by writer; its clock counts as ahead while what it wrote last is.
    // Our own former self is never named as another computer.
    const QStringList own = ownIds();
    st = m_state.prepare(QStringLiteral("SELECT device, COUNT(*) FROM pending WHERE why = 'ahead' GROUP BY device"));
    while (st->step()) {
        h.heldAhead += int(st->int64(1));
        if (!own.contains(st->text(0)))
            h.heldFrom.insert(st->text(0), int(st->int64(1)));
    }
    st = m_state.prepare(QStringLiteral("SELECT key, value FROM meta WHERE key LIKE 'clockAhead:%'"));
    while (st->step()) {
        const QStringList parts = st->text(1).split(u' ');
        if (parts.size() == 2 && parts[0].toLongLong() > clockBound(nowMs) && !own.contains(st->text(0).section(u':', 1)))
            h.clocksAhead.insert(st->text(0).section(u':', 1), parts[1].toLongLong());
    }
    st = m_state.prepare(QStringLiteral("SELECT key, value FROM meta WHERE key LIKE 'clockSeen:%'"));
    while (st->step()) {
        const QStringList parts = st->text(1).split(u' ');
        if (parts.size() != 3 || own.contains(st->text(0).section(u':', 1)))
            continue;
        // Our clock set back since it was read takes as much off.
        const qint64 behind = parts[1].toLongLong() - std::max<qint64>(0, parts[2].toLongLong() - nowMs);
        if (behind > m_config.maxClockAheadMs)
            h.clocksBehind.insert(st->text(0).section(u':', 1), behind);
    }
    st = m_state.prepare(QStringLiteral("SELECT device, COUNT(*) FROM refused GROUP BY device"));
    while (st->step())
        h.refused.insert(st->text(0), int(st->int64(1)));
    h.unreadable = m_unreadable;
    for (auto it = m_stalls.begin(); it != m_stalls.end(); ++it)
        if (nowMs - it.value().second >= m_config.stallGraceMs)
            h.stalled.append(it.key() + QStringLiteral(": ") + it.value().first);
    h.stalled.sort();
    return h;
}

} // namespace lumra::sync
