#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

namespace lumra {

// A running timer; destroying the handle stops it.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// Time and timers behind one interface so that every delay in Lumra can be driven by
// tests without sleeping. All callbacks run on the thread that owns the clock (the main thread).
class Clock {
public:
    virtual ~Clock() = default;

    virtual QDateTime now() const = 0;
    // Time since an arbitrary origin that only moves forward, for measuring how long something
    // took: the wall clock may be stepped back or forward.
    virtual std::chrono::milliseconds elapsed() const = 0;
    // Waits `step` on the calling thread, for a loop that looks at other threads' work in turns.
    virtual void pause(std::chrono::milliseconds step);
    // Any length: an interval longer than one platform timer holds is covered in steps, each
    // re-armed for what is left until the due date.
    std::unique_ptr<Timer> start(std::chrono::milliseconds interval, bool repeating, std::function<void()> callback);

    // The longest interval a platform timer holds: a 32-bit count of milliseconds (about 24.8 days).
    static constexpr std::chrono::milliseconds maxTimerStep {0x7fffffff};

    // Fire-and-forget one-shot: does nothing once `context` is gone.
    void after(std::chrono::milliseconds delay, QObject* context, std::function<void()> callback);

    // The real clock; tests install a ManualClock with setShared().
    static Clock& shared();
    static void setShared(Clock* clock); // nullptr restores the system clock

protected:
    friend class ClockSteps;
    // One platform timer; never given more than maxTimerStep.
    virtual std::unique_ptr<Timer> startTimer(std::chrono::milliseconds interval, bool repeating,
                                              std::function<void()> callback) = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    std::chrono::milliseconds elapsed() const override;

protected:
    std::unique_ptr<Timer> startTimer(std::chrono::milliseconds interval, bool repeating,
                                      std::function<void()> callback) override;
};

// In-memory clock for tests and benchmarks: time moves only when advance() is called,
// and due timers fire in deadline order while it moves.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC));
    ~ManualClock() override;

    QDateTime now() const override { return m_now; }
    // Moved by advance() only.
    std::chrono::milliseconds elapsed() const override { return m_elapsed; }

    // A step of the wall clock: elapsed() does not move.
    void setNow(const QDateTime& now) { m_now = now; }
    void advance(std::chrono::milliseconds by);
    // Moves time by `step` with no timer fired (the event loop is not running meanwhile), then calls
    // the test's hook and waits `step` for real, so that other threads' work still gets on.
    void pause(std::chrono::milliseconds step) override;
    void setOnPause(std::function<void()> hook) { m_onPause = std::move(hook); }
    int pendingTimers() const;

protected:
    // Holds a 32-bit count of milliseconds as the platform's timers do: a longer interval wraps.
    std::unique_ptr<Timer> startTimer(std::chrono::milliseconds interval, bool repeating,
                                      std::function<void()> callback) override;

private:
    struct Entry;
    class ManualTimer;
    QDateTime m_now;
    std::chrono::milliseconds m_elapsed {0};
    std::shared_ptr<std::vector<std::shared_ptr<Entry>>> m_entries;
    quint64 m_sequence = 0;
    std::function<void()> m_onPause;
};

} // namespace lumra
