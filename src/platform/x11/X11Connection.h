#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <chrono>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct _XDisplay;
union _XEvent;
class QSocketNotifier;

namespace lumra {

class Timer;

// An Xlib connection of Lumra's own to the display Qt uses, read on the main thread through a
// socket notifier. Keeping it apart from Qt's connection lets a layer wait for one reply with a
// bounded timeout without running Qt's event loop, and X errors (a window that vanished) are
// recorded here instead of ending the process.
class X11Connection final : public QObject {
    Q_OBJECT
public:
    // nullptr when Qt is not running on X11 or the display cannot be opened. An unwatched
    // connection has no socket notifier: it is read only through waitFor(), on whichever single
    // thread uses it.
    enum class Watch { mainThread, unwatched };
    static std::unique_ptr<X11Connection> open(Watch watch = Watch::mainThread);
    // The most bytes one request on Qt's own connection carries; none when Qt is not on X11. Qt
    // answers a drop's data in one request, and a longer one ends its connection, and Lumra.
    static std::optional<qint64> qtLargestRequestBytes();
    ~X11Connection() override;

    _XDisplay* display() const { return m_display; }
    unsigned long rootWindow() const;

    // Every event not consumed by waitFor() goes here.
    void setEventHandler(std::function<void(_XEvent&)> handler) { m_handler = std::move(handler); }
    // The events the handler takes in at next to no cost (it coalesces them): they count against
    // maxCheapEventsPerDispatch only.
    void setCheapEvents(std::function<bool(const _XEvent&)> isCheap) { m_isCheap = std::move(isCheap); }

    // Reads events until `match` accepts one (copied to `out`) or the deadline passes; other
    // events go to the handler. False on timeout or a broken connection.
    bool waitFor(const std::function<bool(const _XEvent&)>& match, QDeadlineTimer deadline, _XEvent* out);
    // A file descriptor that, once readable, makes waitFor() return false at once (another thread
    // wants the waiter to stop); -1 for none. The connection does not own it.
    void setWakeFd(int fd) { m_wakeFd = fd; }
    // Hands the events received to the handler as they come, all that Xlib holds and the server has
    // sent, so that a burst never piles up in Xlib's queue. At most maxEventsPerDispatch of them that
    // are not cheap, and maxCheapEventsPerDispatch in all; the rest follow from the event loop.
    // After a burst of at least burstEvents, once burstQuiet passes with no other, the memory the
    // burst took is given back to the system.
    void dispatchPending();
    static constexpr int maxEventsPerDispatch = 256;
    static constexpr int maxCheapEventsPerDispatch = 65536;
    static constexpr int burstEvents = 4096;
    static constexpr std::chrono::milliseconds burstQuiet {1000};
    // Frees what Xlib keeps of a burst: it keeps the storage of as many events as its queue ever
    // held, for the next ones, until the connection closes. Then gives the allocator's free pages
    // back to the system.
    void releaseBurstMemory();

    // The server's current time, learnt from a zero-length append to a property of `window`
    // (which must select PropertyChangeMask); CurrentTime (0) when no answer comes in time.
    unsigned long serverTime(unsigned long window, QDeadlineTimer deadline);

    unsigned long atom(const char* name);
    QString atomName(unsigned long atom);

    // The first X error since the last call, 0 when none (XSync first to see late errors).
    int takeError();

    // The X errors received since the last call, each with the serial of the request it answers,
    // so that it can be tied to that request rather than to whatever is current (also resets
    // takeError()). The oldest are forgotten past maxKeptErrors.
    struct Error {
        unsigned long serial = 0;
        int code = 0;
    };
    std::vector<Error> takeErrors();
    static constexpr int maxKeptErrors = 4096;
    // The serial the next request will carry, and the last one the server is known to have
    // handled: every error of requests up to that one has been received.
    unsigned long nextRequest() const;
    unsigned long lastRequestHandled() const;
    // The bits of an X resource id that name the client that made it. The server hands them to
    // the next client once this one is gone: they tell programs apart only while both are there.
    unsigned long clientOf(unsigned long resource) const;
    // The process of the client that made `window`, from the X Resource extension, else the
    // window's _NET_WM_PID; 0 when neither tells it (a remote client, an old server).
    qint64 processOf(unsigned long window);

private:
    X11Connection(_XDisplay* display, Watch watch);
    void dispatchLater();

    _XDisplay* m_display;
    QSocketNotifier* m_notifier = nullptr;
    std::function<void(_XEvent&)> m_handler;
    std::function<bool(const _XEvent&)> m_isCheap;
    std::unique_ptr<Timer> m_burstEnd; // runs from a burst until it is over
    QHash<QByteArray, unsigned long> m_atoms;
    bool m_dispatchQueued = false;
    int m_wakeFd = -1;
    int m_hasResExtension = -1; // -1: not asked yet
};

} // namespace lumra
