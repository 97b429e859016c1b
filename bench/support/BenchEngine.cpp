#include "BenchEngine.h"

#include "HistoryGenerator.h"

namespace lumra::bench {

void BenchEngine::fillHistory(int size)
{
    PersistenceController persistence(true, nullptr, storeFolder());
    HistoryGenerator generator;
    if (Status s = HistoryGenerator::fill(persistence, generator.items(size, clock.now()), generator.categories()); !s)
        qFatal("could not fill the store: %s", qPrintable(s.error()));
}

} // namespace lumra::bench
