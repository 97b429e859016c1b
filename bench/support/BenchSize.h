#pragma once

#include <QtGlobal>

namespace lumra::bench {

// CI runs every benchmark in a short mode: the same code paths over a small history.
inline bool shortMode() { return qEnvironmentVariableIsSet("LUMRA_BENCH_SHORT"); }
inline int historySize(int full)
{
    if (const int forced = qEnvironmentVariableIntValue("LUMRA_BENCH_HISTORY"); forced > 0)
        return qMin(full, forced);
    return shortMode() ? qMin(full, 1000) : full;
}

} // namespace lumra::bench
