// Records a reader holds (stamped too far ahead of its clock) wait aside: a pass does not try them
// again until what held them can have changed.
#include "SyncSimulation.h"

#include "BytesRead.h"

namespace lumra::test::syncsim {
namespace {

constexpr qint64 day = 24LL * 60 * 60 * 1000;

TEST(SyncHeldRecordsTest, RecordsHeldForTheirStampCostLaterPassesNothingUntilTheClockComesNear)
{
    std::mt19937 rng {41};
    SeededIds ids {41};
    Computer reader {QStringLiteral("reader"), ids.source()};
    Computer ahead {QStringLiteral("ahead"), ids.source()};
    FileSyncTool tool {{&reader, &ahead}, rng};
    reader.start();
    ahead.start();
    reader.pass();

    ahead.skew = sync::latestMtime - ahead.now - 30 * day; // a clock in 2199
    for (int i = 0; i < 400; ++i)
        ahead.add(QStringLiteral("from 2199, %1").arg(i));
    ahead.pass();
    tool.scan();
    tool.deliverAll();

    // Imports only, as the worker's timer runs them every few seconds; what one costs is what it
    // reads of the folder, on this thread.
    auto importCost = [&] {
        reader.now += 5000;
        return bytesReadDuring([&] {
            const auto outcome = reader.engine->importChanges(reader.clock());
            EXPECT_TRUE(outcome.status.ok()) << outcome.status.error().toStdString();
        }, true);
    };
    const qint64 first = importCost();
    ASSERT_EQ(reader.health().heldAhead, 400);
    qint64 later = 0;
    for (int pass = 0; pass < 10; ++pass)
        later += importCost();
    EXPECT_LT(later, first) << "ten later passes read more than the one that held the records";
    EXPECT_EQ(reader.health().heldAhead, 400);
    EXPECT_TRUE(reader.rows().empty());

    // Once our clock comes within the bound of their stamps they go in.
    reader.now = sync::latestMtime - 30 * day - reader.engine->config().maxClockAheadMs + 60'000;
    reader.pass();
    EXPECT_EQ(reader.health().heldAhead, 0);
    EXPECT_EQ(reader.rows(), ahead.rows());
}

} // namespace
} // namespace lumra::test::syncsim
