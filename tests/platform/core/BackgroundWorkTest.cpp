#include "platform/core/BackgroundWork.h"

#include "model/Diagnostics.h"
#include "platform/files/FileChecks.h"
#include "platform/files/FileLookups.h"
#include "platform/files/IconFiles.h"
#include "platform/image/ImageDecoder.h"
#include "platform/sound/MediaProbe.h"
#include "../image/ImageFixtures.h"
#include "WorkerThreads.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

using namespace lumra;
using namespace std::chrono_literals;
using Lane = BackgroundWork::Lane;

namespace {

// What a quit may take before the deadline ends the process: the rest of the teardown needs its share.
constexpr qint64 quitDeadlineMs = 1000;

TEST(BackgroundWorkTest, ShutDownDropsQueuedWorkAndGivesUpOnStalledWorkWithinItsBound)
{
    auto work = std::make_unique<BackgroundWork>();
    std::promise<void> began;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic_bool ended = false;
    // The thumbnail lane has one thread: a task stalled as on a hung mount holds it, the rest queue.
    BackgroundWork::Tasks owner(*work);
    ASSERT_TRUE(work->start(Lane::thumbnails, [&, token = owner.token()] {
        began.set_value();
        released.wait();
        ended = true;
    }));
    began.get_future().wait();
    // Its owner waits for it on a thread of its own, as a teardown may.
    std::atomic_bool ownerLetGo = false;
    std::atomic<pid_t> ownerTid = 0;
    std::thread ownerThread([&] {
        ownerTid = ::gettid();
        owner.wait();
        ownerLetGo = true;
    });
    const auto asleep = [&] {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(ownerTid.load()));
        return ownerTid && stat.open(QIODevice::ReadOnly) && stat.readAll().split(')').value(1).trimmed().startsWith('S');
    };
    ASSERT_TRUE(QTest::qWaitFor(asleep, 10000));
    std::atomic_int queuedRan = 0;
    const QFuture<int> queued = work->run(Lane::thumbnails, [&] { return ++queuedRan; });
    for (int i = 0; i < 5; ++i)
        work->start(Lane::thumbnails, [&] { ++queuedRan; });

    QElapsedTimer elapsed;
    elapsed.start();
    const QStringList busy = work->shutDown(200ms);
    EXPECT_LT(elapsed.elapsed(), quitDeadlineMs);
    EXPECT_EQ(busy, QStringList {"lumra-thumbs"});
    EXPECT_TRUE(queued.isFinished() && queued.isCanceled()) << "whoever waits for dropped work is let go";
    EXPECT_TRUE(QTest::qWaitFor([&] { return ownerLetGo.load(); }, 10000)) << "an owner's wait outlasts shutdown";

    release.set_value();
    ownerThread.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended && work->busyLanes().isEmpty(); }, 10000));
    work.reset();
    EXPECT_EQ(queuedRan, 0);
}

TEST(BackgroundWorkTest, NoLaneTakesWorkOnceShutDownBegan)
{
    BackgroundWork work;
    EXPECT_TRUE(work.shutDown(100ms).isEmpty());
    std::atomic_int ran = 0;
    for (int lane = 0; lane < BackgroundWork::laneCount; ++lane) {
        EXPECT_FALSE(work.start(Lane(lane), [&] { ++ran; })) << BackgroundWork::threadName(Lane(lane));
        const QFuture<int> refused = work.run(Lane(lane), [&] { return ++ran; });
        EXPECT_TRUE(refused.isFinished() && refused.isCanceled()) << BackgroundWork::threadName(Lane(lane));
    }
    EXPECT_TRUE(work.busyLanes().isEmpty());
    EXPECT_EQ(ran, 0);
}

// A task handed to its lane just after queuing found the lanes open, as shutdown begins on another
// thread: shutdown's clearing of the queues comes too soon for it, so it must see for itself.
TEST(BackgroundWorkTest, ATaskQueuedAsShutDownBeginsNeverRuns)
{
    static BackgroundWork* closing = nullptr;
    BackgroundWork::setQueueHookForTests([](BackgroundWork& work) {
        if (&work == closing)
            work.shutDown(0ms);
    });
    const auto unhook = qScopeGuard([] { BackgroundWork::setQueueHookForTests(nullptr); });
    for (const bool promised : {false, true}) {
        BackgroundWork work;
        closing = &work;
        std::atomic_bool ran = false;
        QSemaphore gone;
        std::shared_ptr<void> task(nullptr, [&](void*) { gone.release(); }); // goes with the task, run or not
        if (promised)
            work.run(Lane::previews, [&ran, task] { ran = true; });
        else
            work.start(Lane::previews, [&ran, task] { ran = true; });
        task.reset();
        ASSERT_TRUE(gone.tryAcquire(1, 10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return work.busyLanes().isEmpty(); }, 10000));
        EXPECT_FALSE(ran) << (promised ? "run()" : "start()");
    }
}

constexpr char laneChildVariable[] = "LUMRA_TEST_LANE_THREADS_CHILD";

// Child mode only: files other programs name are looked at on the lanes' threads, which `ps -L`
// names, and on no thread of Qt's shared pool or of their own; the log's writer and a side
// program's watcher are threads BackgroundWork made too.
TEST(BackgroundWorkProcess, FileWorkRunsOnLaneThreadsOnly)
{
    if (!qEnvironmentVariableIsSet(laneChildVariable))
        GTEST_SKIP() << "runs as the child of BackgroundWorkTest.FileWorkRunsOnLaneThreadsOnly";
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("copied.txt"));
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::WriteOnly) && written.write("copied") == 6);
    written.close();
    const QMap<int, QString> before = test::threadsOfThisProcess();

    const QList<std::optional<FileState>> checked = checkFiles({file, dir.path()}, 10s);
    ASSERT_TRUE(checked[0] && checked[0]->exists);
    const QString missingIcon = dir.filePath(QStringLiteral("missing.png"));
    IconFiles::instance().icon(missingIcon);
    ASSERT_TRUE(QTest::qWaitFor([&] { return IconFiles::instance().icon(missingIcon).has_value(); }, 10000));
    FileLookups::instance().look(file);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FileLookups::instance().look(file).has_value(); }, 10000));
    QObject context;
    bool answered = false;
    openMediaFile(file, &context, [&](const QUrl&) { answered = true; }, [&](const QString&) { answered = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered; }, 10000));
    Diagnostics log(dir.filePath(QStringLiteral("diagnostics.log")));
    log.setEnabled(true);
    log.info(QStringLiteral("Test"), QStringLiteral("written on the log's own thread"));
    log.flush();
    image::ImageDecoder decoder(QStringLiteral(LUMRA_STAND_IN_IMAGE_DECODER), 1);
    ASSERT_TRUE(decoder.png(test::encode(test::markedImage(8, 8), "png"), {}, 0).ok());

    EXPECT_EQ(test::threadsOutsideTheLanesSince(before).join(QStringLiteral(", ")).toStdString(), "");
}

TEST(BackgroundWorkTest, FileWorkRunsOnLaneThreadsOnly)
{
    const test::ChildRun child = test::runThisProgram(laneChildVariable, "BackgroundWorkProcess.*");
    EXPECT_EQ(child.exitCode, 0) << child.output.constData();
}

} // namespace
