#pragma once

#include "platform/core/BackgroundWork.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>
#include <sys/types.h>

namespace lumra::process {

// A side program Lumra hands outside bytes to, where work that cannot be interrupted (Qt's HTML
// parser, picture decoders) can be stopped: the program is killed, with all it holds, when a request
// has cost it more CPU time than allowed, at a wall-clock cap, when it breaks its memory cap or when
// it fails, and a new one takes the next request.
//
// Once started the program says it is ready (its ready mark). Requests on its standard input: an id,
// a 64-bit byte count and that many bytes. Answers on its standard output: the request's id, a 64-bit
// byte count and the answer, or -1 for none.
class HelperProcess {
public:
    struct Header {
        quint64 id = 0;
        qint64 bytes = 0;
    };

    struct Limits {
        quint64 readyMark = 0;
        qint64 maxAnswerBytes = 0;
        std::chrono::milliseconds wallClockCap {30'000};
        // The program is ended when it holds more memory than this, as measured from outside; the
        // address-space cap it sets itself does not hold under a sanitizer. 0: no bound.
        qint64 maxResidentBytes = 0;
        // Whether an answer of no bytes (or -1) is one; for a program that always answers with
        // something, it is a broken program.
        bool mayAnswerNothing = false;
    };

    // dropped: no longer wanted when its turn came (HelperPool), never sent.
    enum class Outcome { answered, lost, pastDeadline, unavailable, dropped };
    // How the program of a lost request ended: by SIGKILL from outside (the OOM killer, say), by
    // another signal or a failure code (a crash), or otherwise (it ended, or broke the exchange).
    enum class End { killed, crashed, failed };

    // `program` is run with Lumra's process id and `arguments`; tests run stand-ins.
    HelperProcess(QString program, QStringList arguments, Limits limits);
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // One request at a time; another caller waits its turn up to the wall-clock cap. Only the
    // program's own CPU time spent on this request counts against `cpuTime`: a busy machine or the
    // program's start-up cost the request nothing. `accept` checks an answer before it is kept: one
    // refused, like one to another request, ends the program. `descriptor` (>= 0) goes with the
    // request, as the program's own copy of it (HelperProcess::readAll takes it there). `more` is
    // sent right after `request` as part of it, so a large body need not be joined to its header.
    Outcome exchange(QByteArrayView request, std::chrono::milliseconds cpuTime, QByteArray* answer,
                     const std::function<bool(const QByteArray&)>& accept = {}, int descriptor = -1,
                     QByteArrayView more = {});

    // Ends the program (after a request that left it holding much memory); the next request starts a new one.
    void restart();
    // Ends the program at once, in the middle of a request too (which is then lost), and starts no
    // other: for an owner going away that must not wait for the request. Any thread.
    void shutDown();

    // For the caller of a lost request, before its next one.
    End lastEnd() const { return m_lastEnd.load(); }

    // The program's process, 0 when none runs.
    pid_t runningProcess();
    // The same without waiting for a request under way: what was started last and not yet stopped.
    pid_t currentProcess() const { return m_current.load(); }

    const QString& program() const { return m_program; }

    // The program installed beside Lumra (or under libexec, or where the build put it), empty when
    // there is none, which is logged with `whatIsLost`.
    static QString findProgram(const char* name, const QString& builtAt, const char* whatIsLost);

    // For the program itself, first thing: it ends with Lumra however Lumra ends (`argv[1]` names
    // Lumra's process; the program's own arguments follow), takes `name` (so a watcher tells one that
    // ends with Lumra from one still loading), leaves no core and caps its address space.
    static bool beginProgram(int argc, char** argv, const char* name, qint64 addressSpaceLimit);
    // For the program itself: reads and writes on its standard input and output.
    static bool readAll(char* data, qint64 size);
    // The same, taking a descriptor sent along into `descriptor` (when that holds -1); any more
    // are closed.
    static bool readAll(char* data, qint64 size, int* descriptor);
    static bool writeAll(const char* data, qint64 size);

private:
    pid_t runningProcessLocked(); // reaps one that has ended
    bool start();
    void stop();
    void watch(pid_t process);
    Outcome once(QByteArrayView request, std::chrono::milliseconds cpuTime, QByteArray* answer,
                 const std::function<bool(const QByteArray&)>& accept, int descriptor, QByteArrayView more);

    const QString m_program;
    const QStringList m_arguments;
    const Limits m_limits;
    std::timed_mutex m_turn;
    pid_t m_process = 0;
    std::atomic<pid_t> m_current {0};
    std::atomic_bool m_shutDown {false};
    std::atomic<End> m_lastEnd {End::failed};
    bool m_endedStarting = false; // the last start's program ended before it was ready
    int m_socket = -1;
    quint64 m_lastRequest = 0;
    std::unique_ptr<BackgroundWork::OwnThread> m_watcher; // reaps a program that ends between requests
};

// Who a request to a HelperPool is for, and until when it is wanted.
struct RequestTurn {
    QString source;
    // A request still waiting for a program then is dropped unsent.
    QDeadlineTimer wanted {QDeadlineTimer::Forever};
};

// A few programs alike, so that one slow request does not hold up the next: a request takes a
// program no other request is using, waiting for one to be free. Waiting requests are served by
// source, fewest at work first, newest first within that: one source's many slow requests never hold
// up another's, and a burst is served from its latest. Beyond the programs any request may take,
// a few more are kept for a source that has none at work.
class HelperPool {
public:
    using Turn = RequestTurn;

    HelperPool(const QString& program, const QStringList& arguments, HelperProcess::Limits limits, int programs,
               int programsForNewSources = 0);

    // As HelperProcess::exchange; `restartAfter` ends the program once it has answered (a request
    // that left it holding much memory).
    HelperProcess::Outcome exchange(QByteArrayView request, std::chrono::milliseconds cpuTime, QByteArray* answer,
                                    const std::function<bool(const QByteArray&)>& accept = {}, bool restartAfter = false,
                                    const Turn& turn = {}, int descriptor = -1, QByteArrayView more = {});

    // The programs' processes that run now.
    QList<pid_t> runningProcesses();
    // Requests waiting for a program (tests).
    int waiting();

private:
    struct Waiter {
        quint64 serial = 0;
        const Turn* turn = nullptr;
        int program = -1;
    };

    HelperProcess* take(const Turn& turn);
    void giveBack(HelperProcess& program);
    void handOut(); // with m_mutex held
    int atWork(const QString& source) const;

    std::vector<std::unique_ptr<HelperProcess>> m_programs;
    std::vector<bool> m_busy;
    std::vector<QString> m_servedSource;
    const size_t m_anyone; // programs any request may take; the rest are for a source with none at work
    std::vector<Waiter*> m_waiting;
    quint64 m_lastSerial = 0;
    std::mutex m_mutex;
    std::condition_variable m_free;
};

} // namespace lumra::process
