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
    // Records held for their stamp name the computer whose clock is ahead, by how far the latest is.
    st = m_state.prepare(QStringLiteral("SELECT device, COUNT(*), MAX(stamp) FROM pending WHERE why = 'ahead' GROUP BY device ORDER BY device"));
    while (st->step()) {
        h.heldAhead += int(st->int64(1));
        h.clocksAhead.insert(st->text(0), st->int64(2) - nowMs);
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
