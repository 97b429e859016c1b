#pragma once

#include <QFuture>
#include <QPromise>
#include <QRunnable>
#include <QStringList>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

class QThread;
class QThreadPool;

namespace lumra {

// Every worker thread Lumra's own work runs on, in named lanes, and the one shutdown that ends
// them. Owned by the application (and by each test program); the process-wide one is set by its
// owner, never made on first use. Lanes take work from any thread.
class BackgroundWork {
public:
    enum class Lane {
        checkpoints,    // store log checkpoints
        mediaFiles,     // opening sound and video files
        fileLooks,      // the popup's looks at copied files (stall tolerant)
        fileChecks,     // existence checks of copied files (stall tolerant)
        iconFiles,      // icon theme folders and pictures
        thumbnails,     // history pictures made small
        history,        // the history read at start
        backups,        // export, import and the reload after them
        previews,       // preview contents
        desktopEntries, // installed applications
        bookmarks,      // file bookmarks resolved again
        syncFolder,     // the Sync page's check of a chosen folder
        captureReads,     // each clipboard change read from its owner
        captureRichText,  // rich text made from a copied page
        capturePictures,  // copied pictures made into PNG
        captureFiles,     // copied files looked up
        captureResumed,   // what the last run left unfinished
        captureJournal,   // the capture journal's writes, in order
        housekeeping,   // auto-clean passes and clears of the history, one at a time
        syncPasses,     // the sync folder's passes and account checks, one at a time
        thumbLookups,   // copied files' pictures looked for in the caches
        thumbMakers,    // copied files' pictures drawn
        textRecognition, // text read from pictures, in order (the side program does the work)
        search,          // a search's share of the history beside the thread that runs it
        spawns,          // side programs started, on one thread that lives as long as the lanes
    };
    static constexpr int laneCount = int(Lane::spawns) + 1;

    BackgroundWork();
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // The process's owner, as set by the application or the test program; fatal when none is.
    static BackgroundWork& current();
    // Null when none is set, or no longer: for work that may outlive the owner and must then stop.
    static BackgroundWork* currentIfAny();
    static void setCurrent(BackgroundWork* work);

    // The lane's thread name, as `ps -L` and /proc/self/task show it.
    static const char* threadName(Lane lane);
    // Names the calling thread after the lane (done as each task begins).
    static void nameThread(Lane lane);

    // Queues the task; false once shutDown has begun (the task is dropped).
    bool start(Lane lane, std::function<void()> task);

    // For long work on a lane (a document read, a conversion) to check now and then: the task on
    // this thread should give up, since shutDown has begun or its future was cancelled. A lane
    // left running at the quit must not run on into the process's exit. False off the lanes.
    static bool stopAsked();

    // `work` on the lane, as QtConcurrent::run would (it may take a QPromise<T>&). Once shutDown
    // has begun, and for work still queued then, the future is cancelled with no result.
    // A task of higher `priority` is taken before the lane's other queued ones.
    template <typename Work>
    auto run(Lane lane, Work work, int priority = 0);

    int maxThreadCount(Lane lane) const;
    // Stall-tolerant lanes let stuck tasks stop counting against their threads.
    void setMaxThreadCount(Lane lane, int count);
    bool accepting() const { return !m_closed->load(); }
    // The lanes running a task now, by thread name.
    QStringList busyLanes() const;

    // Stops taking work, drops what is queued and waits up to `bound` for what runs. Returns (and
    // logs) the lanes still busy then: their threads are left to the process's exit, since one stuck
    // in a stalled file system call cannot be joined (the quit deadline is the last resort).
    QStringList shutDown(std::chrono::milliseconds bound);
    // Tests only: called as a task is queued, after the check that shutdown has not begun and before
    // its lane has it (the window only each task's own check covers). Null: none.
    static void setQueueHookForTests(void (*hook)(BackgroundWork& work));

    // A thread of its own, for one loop that lasts as long as its owner (a connection's events, a
    // program's end, the log's writes), where a lane's task would hold a pool thread for good.
    // Named as the lanes are, so every thread of Lumra's own is one this object made.
    class OwnThread {
    public:
        ~OwnThread() { end(); }
        OwnThread(const OwnThread&) = delete;
        OwnThread& operator=(const OwnThread&) = delete;
        QThread* thread() const { return m_thread; }
        // Ends its event loop (a loop of its own must be told apart) and waits up to `bound`.
        // False: it is stuck in a call (a hung mount, say) and is left to the process's exit.
        bool end(std::chrono::milliseconds bound = std::chrono::milliseconds::max());

    private:
        friend class BackgroundWork;
        explicit OwnThread(QThread* thread) : m_thread(thread) { }
        QThread* m_thread;
    };
    // Started, with Qt's event loop for objects moved onto it.
    std::unique_ptr<OwnThread> thread(const char* name);
    // Started, running `loop` until it returns.
    std::unique_ptr<OwnThread> thread(const char* name, std::function<void()> loop);

    // One piece of work waited for when its owner goes: its context must not outlive what it uses.
    struct Joined {
        QFuture<void> future;
        ~Joined() { future.waitForFinished(); }
    };

    // The tasks one owner handed to the lanes, which the lanes (shared, outliving it) cannot tell
    // apart: each holds a token() for as long as it lives, run or dropped. Waits are for the
    // owner's thread; once shutDown has begun they return at once, since what ran then had its
    // bounded wait and what still runs is left to the process's exit.
    class Tasks {
    public:
        explicit Tasks(const BackgroundWork& work);
        std::shared_ptr<void> token();
        void wait() const;
        bool wait(std::chrono::milliseconds bound) const; // true: all of them ended

    private:
        friend class BackgroundWork;
        struct Count;
        std::shared_ptr<Count> m_count;
        std::shared_ptr<std::atomic_bool> m_closed;
    };

private:
    using Gate = std::shared_ptr<std::atomic_bool>;

    // What stopAsked() reads on the thread running the task.
    class RunningTask {
    public:
        virtual bool stopAsked() const = 0;

    protected:
        ~RunningTask() = default;
    };
    class RunningScope {
    public:
        explicit RunningScope(const RunningTask* task);
        ~RunningScope();
        RunningScope(const RunningScope&) = delete;
        RunningScope& operator=(const RunningScope&) = delete;

    private:
        const RunningTask* m_outer;
    };
    friend class GatedTask;

    template <typename T, typename Work>
    class PromisedTask final : public QRunnable, private RunningTask {
    public:
        PromisedTask(QPromise<T> promise, Work work, Gate closed, Lane lane)
            : m_promise(std::move(promise)), m_work(std::move(work)), m_closed(std::move(closed)), m_lane(lane)
        {
        }
        void run() override
        {
            // A task dropped at shutdown, or cancelled while queued, leaves its promise cancelled as it goes.
            if (m_closed->load() || m_promise.isCanceled())
                return;
            nameThread(m_lane);
            const RunningScope running(this);
            if constexpr (std::is_invocable_v<Work&, QPromise<T>&>)
                m_work(m_promise);
            else if constexpr (std::is_void_v<T>)
                m_work();
            else
                m_promise.addResult(m_work());
            m_promise.finish();
        }
        bool stopAsked() const override { return m_closed->load() || m_promise.isCanceled(); }

    private:
        QPromise<T> m_promise;
        Work m_work;
        Gate m_closed;
        Lane m_lane;
    };

    bool queue(Lane lane, QRunnable* task, int priority = 0);

    Gate m_closed = std::make_shared<std::atomic_bool>(false);
    std::array<QThreadPool*, laneCount> m_lanes {};
    // Every owner's count, woken when shutDown begins: no owner's wait outlasts it.
    mutable std::mutex m_countsMutex;
    mutable std::vector<std::weak_ptr<Tasks::Count>> m_counts;
};

namespace backgroundwork_detail {
template <typename Work, typename = void>
struct PromiseType {
    using type = void;
    static constexpr bool takesPromise = false;
};
template <typename C, typename T>
struct PromiseType<void (C::*)(QPromise<T>&) const> {
    using type = T;
    static constexpr bool takesPromise = true;
};
template <typename C, typename T>
struct PromiseType<void (C::*)(QPromise<T>&)> {
    using type = T;
    static constexpr bool takesPromise = true;
};
// What the work hands back: the T of a QPromise<T>& it takes, else what it returns.
template <typename Work, bool takesPromise = PromiseType<decltype(&Work::operator())>::takesPromise>
struct ResultOf {
    using type = std::invoke_result_t<Work&>;
};
template <typename Work>
struct ResultOf<Work, true> {
    using type = typename PromiseType<decltype(&Work::operator())>::type;
};
} // namespace backgroundwork_detail

template <typename Work>
auto BackgroundWork::run(Lane lane, Work work, int priority)
{
    using T = typename backgroundwork_detail::ResultOf<Work>::type;
    QPromise<T> promise;
    // Running from now on, as QtConcurrent's futures are: whoever asks sees queued work under way.
    promise.start();
    QFuture<T> future = promise.future();
    // Refused work is dropped with its promise, which cancels the future.
    queue(lane, new PromisedTask<T, Work>(std::move(promise), std::move(work), m_closed, lane), priority);
    return future;
}

} // namespace lumra
