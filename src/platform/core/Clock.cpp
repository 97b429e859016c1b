#include "platform/core/Clock.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <tuple>

namespace lumra {

namespace {

Clock* g_shared = nullptr;

class QtTimer final : public Timer {
public:
    QtTimer(std::chrono::milliseconds interval, bool repeating, std::function<void()> callback)
    {
        m_timer.setSingleShot(!repeating);
        // A coarse timer may fire 5 % late. Short one-shots are delays a person waits out (the pause
        // in typing before a search, the steps of a paste), so they keep time; polls and
        // housekeeping may be coalesced.
        m_timer.setTimerType(!repeating && interval < std::chrono::seconds(1) ? Qt::PreciseTimer : Qt::CoarseTimer);
        m_timer.setInterval(interval);
        QObject::connect(&m_timer, &QTimer::timeout, [cb = std::move(callback)] { cb(); });
        m_timer.start();
    }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

// Covers an interval longer than one platform timer: each step ends at the due date or holds
// as much as a timer can, and is re-armed from the time it fired until the date is reached.
class SteppedTimer final : public Timer {
public:
    SteppedTimer(Clock& clock, std::chrono::milliseconds interval, bool repeating, std::function<void()> callback)
        : m_state(std::make_shared<State>(clock, interval, repeating, std::move(callback)))
    {
        m_state->due = clock.now().addMSecs(interval.count());
        arm(m_state);
    }
    ~SteppedTimer() override { stop(); }
    void stop() override
    {
        m_state->active = false;
        m_state->step.reset();
    }
    bool isActive() const override { return m_state->active; }

private:
    struct State {
        State(Clock& c, std::chrono::milliseconds i, bool r, std::function<void()> cb)
            : clock(c), interval(i), repeating(r), callback(std::move(cb))
        {
        }
        Clock& clock;
        std::chrono::milliseconds interval;
        bool repeating;
        std::function<void()> callback;
        QDateTime due;
        std::unique_ptr<Timer> step;
        bool active = true;
    };

    static void arm(const std::shared_ptr<State>& state);
    static void stepEnded(const std::shared_ptr<State>& state)
    {
        auto ending = std::move(state->step); // kept until this call returns: it is the timer firing
        if (state->clock.now() < state->due) {
            arm(state);
            return;
        }
        if (state->repeating) {
            state->due = state->due.addMSecs(state->interval.count());
            arm(state);
        } else {
            state->active = false;
        }
        auto callback = state->callback; // the callback may stop or replace its own timer
        callback();
    }

    std::shared_ptr<State> m_state;
};

} // namespace

// The platform timer behind each step.
class ClockSteps {
public:
    static std::unique_ptr<Timer> platformTimer(Clock& clock, std::chrono::milliseconds interval, std::function<void()> cb)
    {
        return clock.startTimer(interval, false, std::move(cb));
    }
};

void SteppedTimer::arm(const std::shared_ptr<State>& state)
{
    const qint64 left = std::max<qint64>(0, state->clock.now().msecsTo(state->due));
    const auto step = std::min(std::chrono::milliseconds(left), Clock::maxTimerStep);
    std::weak_ptr<State> weak = state;
    state->step = ClockSteps::platformTimer(state->clock, step, [weak] {
        if (auto locked = weak.lock(); locked && locked->active)
            stepEnded(locked);
    });
}

std::unique_ptr<Timer> Clock::start(std::chrono::milliseconds interval, bool repeating, std::function<void()> callback)
{
    if (interval <= maxTimerStep)
        return startTimer(interval, repeating, std::move(callback));
    return std::make_unique<SteppedTimer>(*this, interval, repeating, std::move(callback));
}

void Clock::pause(std::chrono::milliseconds step) { QThread::msleep(ulong(step.count())); }

Clock& Clock::shared()
{
    static SystemClock system;
    return g_shared ? *g_shared : system;
}

void Clock::setShared(Clock* clock) { g_shared = clock; }

namespace {

// A one-shot that belongs to its context: one still pending when the context goes (at quit, say)
// goes with it, instead of owning itself for ever.
class PendingCall final : public QObject {
public:
    using QObject::QObject;
    std::unique_ptr<Timer> timer;
};

} // namespace

void Clock::after(std::chrono::milliseconds delay, QObject* context, std::function<void()> callback)
{
    auto* pending = new PendingCall(context);
    pending->timer = start(delay, false, [pending, cb = std::move(callback)]() mutable {
        // The timer outlives its own call; the callback may end the context, and the call with it.
        auto keep = std::move(pending->timer);
        delete pending;
        cb();
        Q_UNUSED(keep);
    });
}

QDateTime SystemClock::now() const
{
    // Tests only: end-to-end runs put one instance's clock ahead or behind (no other use).
    static const qint64 offsetMs = qgetenv("LUMRA_TEST_CLOCK_OFFSET_MS").toLongLong();
    return QDateTime::currentDateTimeUtc().addMSecs(offsetMs);
}

std::chrono::milliseconds SystemClock::elapsed() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

std::unique_ptr<Timer> SystemClock::startTimer(std::chrono::milliseconds interval, bool repeating,
                                               std::function<void()> callback)
{
    return std::make_unique<QtTimer>(interval, repeating, std::move(callback));
}

struct ManualClock::Entry {
    QDateTime due;
    std::chrono::milliseconds dueElapsed {0}; // the same moment on elapsed(), which setNow() leaves alone
    std::chrono::milliseconds interval;
    bool repeating = false;
    bool active = true;
    quint64 sequence = 0;
    std::function<void()> callback;
};

class ManualClock::ManualTimer final : public Timer {
public:
    explicit ManualTimer(std::shared_ptr<Entry> entry) : m_entry(std::move(entry)) { }
    // Lets the callback go with the handle, as a platform timer does.
    ~ManualTimer() override
    {
        stop();
        m_entry->callback = nullptr;
    }
    void stop() override { m_entry->active = false; }
    bool isActive() const override { return m_entry->active; }

private:
    std::shared_ptr<Entry> m_entry;
};

ManualClock::ManualClock(QDateTime start)
    : m_now(std::move(start)), m_entries(std::make_shared<std::vector<std::shared_ptr<Entry>>>())
{
}

ManualClock::~ManualClock()
{
    // Callbacks of timers still pending go with the clock.
    for (const auto& entry : *m_entries)
        entry->callback = nullptr;
}

std::unique_ptr<Timer> ManualClock::startTimer(std::chrono::milliseconds interval, bool repeating,
                                               std::function<void()> callback)
{
    interval = std::chrono::milliseconds(qint32(quint32(quint64(interval.count()))));
    auto entry = std::make_shared<Entry>();
    if (interval.count() < 0)
        entry->active = false; // refused, as a platform timer refuses a negative interval
    entry->due = m_now.addMSecs(interval.count());
    entry->dueElapsed = m_elapsed + interval;
    entry->interval = interval;
    entry->repeating = repeating;
    entry->sequence = m_sequence++;
    entry->callback = std::move(callback);
    m_entries->push_back(entry);
    return std::make_unique<ManualTimer>(entry);
}

void ManualClock::advance(std::chrono::milliseconds by)
{
    const QDateTime target = m_now.addMSecs(by.count());
    const QDateTime start = m_now;
    const std::chrono::milliseconds elapsedAtStart = m_elapsed;
    // How far into this advance an entry fires. A timer left behind by a step forward of setNow()
    // fires at once, late, as a platform timer does after a jump; one that a step back left far
    // from its due date fires on time, as platform timers run on a monotonic clock.
    const auto firesAt = [&](const Entry& e) {
        return std::max<qint64>(0, std::min<qint64>(start.msecsTo(e.due), (e.dueElapsed - elapsedAtStart).count()));
    };
    for (;;) {
        auto& entries = *m_entries;
        std::erase_if(entries, [](const auto& e) { return !e->active; });
        auto next = std::min_element(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
            return std::tuple(firesAt(*a), a->due, a->sequence) < std::tuple(firesAt(*b), b->due, b->sequence);
        });
        if (next == entries.end() || firesAt(**next) > by.count())
            break;
        auto entry = *next;
        // Time never runs back to a due date, and a repeating timer goes on from now rather than
        // replaying every interval it missed.
        const qint64 at = std::max<qint64>(firesAt(*entry), start.msecsTo(m_now));
        m_now = start.addMSecs(at);
        m_elapsed = elapsedAtStart + std::chrono::milliseconds(at);
        if (entry->repeating) {
            const qint64 interval = std::max<qint64>(1, entry->interval.count());
            entry->due = m_now.addMSecs(interval);
            entry->dueElapsed = m_elapsed + std::chrono::milliseconds(interval);
            entry->sequence = m_sequence++;
        } else {
            entry->active = false;
        }
        auto callback = entry->callback; // the callback may stop or replace its own timer
        callback();
    }
    m_now = target;
    m_elapsed = elapsedAtStart + by;
}

void ManualClock::pause(std::chrono::milliseconds step)
{
    m_now = m_now.addMSecs(step.count());
    m_elapsed += step;
    if (m_onPause)
        m_onPause();
    Clock::pause(step);
}

int ManualClock::pendingTimers() const
{
    return int(std::count_if(m_entries->begin(), m_entries->end(), [](const auto& e) { return e->active; }));
}

} // namespace lumra
