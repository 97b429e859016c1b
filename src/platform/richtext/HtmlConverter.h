#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <mutex>
#include <sys/types.h>

namespace lumra::RichText {

// Runs the converter program (lumra-html-converter) that turns outside HTML into RTF. Qt's HTML
// parser cannot be interrupted and costs time and memory out of all proportion on some markup, so
// it never runs inside Lumra: the program is killed, with all it holds, at the deadline, when it
// breaks its memory cap or when it fails, and a new one takes the next conversion.
//
// Requests on the program's standard input: a 64-bit byte count and that many bytes of UTF-16
// HTML. Answers on its standard output: a 64-bit byte count and the RTF, or -1 for none.
class HtmlConverter {
public:
    // One program serves the whole process; conversions take turns.
    static HtmlConverter& shared();

    // The RTF, empty when the program is missing, failed or was ended at the deadline.
    QByteArray convert(const QString& html, QDeadlineTimer deadline);

    // The program's process, 0 when none runs (tests).
    pid_t runningProcess();

    // The converter program's answer to a request is never larger than this.
    static constexpr qint64 maxAnswerBytes = qint64(64) * 1024 * 1024;
    // After a conversion of more HTML than this the program is ended, so the memory its parse
    // took goes back to the system; the next copy starts a new one.
    static constexpr qsizetype restartAboveCharacters = 256 * 1024;

private:
    enum class Outcome { answered, lost, pastDeadline };

    pid_t runningProcessLocked(); // reaps one that has ended
    bool start();
    void stop();
    Outcome exchange(const QString& html, QDeadlineTimer deadline, QByteArray* rtf);

    std::timed_mutex m_turn;
    pid_t m_process = 0;
    int m_socket = -1;
};

} // namespace lumra::RichText
