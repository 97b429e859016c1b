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
    st = m_state.prepare(QStringLiteral("SELECT COUNT(*) FROM pending"));
    if (st->step())
        h.waitingForImages = int(st->int64(0));
    for (auto it = m_stalls.begin(); it != m_stalls.end(); ++it)
        if (nowMs - it.value().second >= m_config.stallGraceMs)
            h.stalled.append(it.key() + QStringLiteral(": ") + it.value().first);
    h.stalled.sort();
    return h;
}

} // namespace lumra::sync
