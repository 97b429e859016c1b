#pragma once

#include "platform/richtext/RtfCodec.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <mutex>
#include <thread>
#include <sys/types.h>

namespace lumra::RichText {

// Runs the converter program (lumra-html-converter) that turns outside HTML into RTF. Qt's HTML
// parser cannot be interrupted and costs time and memory out of all proportion on some markup, so
// it never runs inside Lumra: the program is killed, with all it holds, when a conversion has
// cost it more CPU time than allowed, at a generous wall-clock cap, when it breaks its memory cap
// or when it fails, and a new one takes the next conversion.
//
// Once started the program says it is ready (readyMark). Requests on its standard input: a
// request id, a 64-bit byte count and that many bytes of UTF-16 HTML. Answers on its standard
// output: the request's id, a 64-bit byte count and the RTF, or -1 for none.
class HtmlConverter {
public:
    // One program serves the whole process; conversions take turns.
    static HtmlConverter& shared();

    // `program` is run with Lumra's process id and `arguments`; tests run stand-ins.
    explicit HtmlConverter(QString program, QStringList arguments = {});
    ~HtmlConverter();
    HtmlConverter(const HtmlConverter&) = delete;
    HtmlConverter& operator=(const HtmlConverter&) = delete;

    // The RTF, empty when the program is missing, failed, answered out of turn or with something
    // that is not RTF within bounds, or was ended for the time it took. Only the program's own CPU
    // time spent on this request counts against `cpuTime`: a busy machine or the program's
    // start-up cost the copy nothing.
    QByteArray convert(const QString& html, std::chrono::milliseconds cpuTime);

    // The lumra-html-converter program beside Lumra, empty when it is not installed.
    static QString installedProgram();

    // The program's process, 0 when none runs (tests).
    pid_t runningProcess();

    // The converter program's answer to a request is never larger than this: RTF made from copied
    // HTML is kept up to the bound of copied text.
    static constexpr qint64 maxAnswerBytes = kMaxConvertedRtfBytes;
    // After a conversion of more HTML than this the program is ended, so the memory its parse
    // took goes back to the system; the next copy starts a new one.
    static constexpr qsizetype restartAboveCharacters = 256 * 1024;
    // What a conversion or a start may take on the clock however busy the machine is.
    static constexpr std::chrono::seconds wallClockCap {30};
    // The program's first words, once it can take a request.
    static constexpr quint64 readyMark = 0x31434d484152554cULL; // "LURAHMC1"

    struct Header {
        quint64 id = 0;
        qint64 bytes = 0;
    };

private:
    enum class Outcome { answered, lost, pastDeadline };

    pid_t runningProcessLocked(); // reaps one that has ended
    bool start();
    void stop();
    void watch(pid_t process);
    Outcome exchange(const QString& html, std::chrono::milliseconds cpuTime, QByteArray* rtf);

    const QString m_program;
    const QStringList m_arguments;
    std::timed_mutex m_turn;
    pid_t m_process = 0;
    int m_socket = -1;
    quint64 m_lastRequest = 0;
    std::thread m_watcher; // reaps a program that ends between conversions
};

} // namespace lumra::RichText
