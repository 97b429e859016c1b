#pragma once

#include "platform/process/HelperProcess.h"
#include "platform/richtext/RtfCodec.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <sys/types.h>

namespace lumra::RichText {

// Runs the converter program (lumra-html-converter) that turns outside HTML into RTF. Qt's HTML
// parser cannot be interrupted and costs time and memory out of all proportion on some markup, so
// it never runs inside Lumra (see HelperProcess). A request is UTF-16 HTML; an answer the RTF.
class HtmlConverter {
public:
    // Two programs serve the whole process, so one page that spends its whole budget does not hold
    // up the rich text of every copy after it.
    static HtmlConverter& shared();

    // `program` is run with Lumra's process id and `arguments`; tests run stand-ins, and give a test
    // whose bound is not the time a wall clock a loaded machine cannot reach.
    explicit HtmlConverter(const QString& program, const QStringList& arguments = {}, int programs = 1,
                           std::chrono::milliseconds wallClock = wallClockCap);

    // The RTF, empty when the program is missing, failed, answered out of turn or with something
    // that is not RTF within bounds, or was ended for the time it took. Only the program's own CPU
    // time spent on this request counts against `cpuTime`: a busy machine or the program's
    // start-up cost the copy nothing.
    QByteArray convert(const QString& html, std::chrono::milliseconds cpuTime);

    // The lumra-html-converter program beside Lumra, empty when it is not installed.
    static QString installedProgram();

    // The first program's process, 0 when none runs (tests).
    pid_t runningProcess() { return m_programs.runningProcesses().value(0); }

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

    using Header = process::HelperProcess::Header;

private:
    process::HelperPool m_programs;
};

} // namespace lumra::RichText
