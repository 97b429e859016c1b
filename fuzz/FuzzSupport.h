#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

// Shared by every fuzz target: the same target source builds into a libFuzzer program (clang,
// `make fuzz`) and into a replay program that runs the kept corpus once under `make test`.
namespace lumra::fuzz {

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Input with a unit repeated: faults of scale (a tag nested thousands deep, a name of thousands
// of parts, a chunk repeated until it costs gigabytes) need inputs that small mutations of a few
// kilobytes never reach. The first byte says how often: up to 0xF0 once, then 0xF1 … 0xFF twice
// … 32768 times; the next two and two say where the unit starts in the rest and how long it is
// (big-endian). The result is at most `maxBytes`. With a `counter` byte, each copy of the unit has
// that byte replaced by the copy's number, so that the copies differ (a key translated into
// thousands of languages).
QByteArray unfold(const uint8_t* data, size_t size, qsizetype maxBytes = 16 * 1024 * 1024, char counter = 0);

// `body` cut at each `separator`, padded with empty parts to at least `count`.
QList<QByteArray> parts(const QByteArray& body, const QByteArray& separator, qsizetype count);

// A private folder for targets that read files; HOME and the XDG folders point into it, so a
// reader that writes somewhere by mistake writes there and `checkNothingOutside` sees it.
const QString& scratchFolder();

// Writes `contents` to `name` inside the scratch folder and returns the path.
QString writeScratchFile(const QString& name, const QByteArray& contents);

// Aborts (a finding for the fuzzer) with the message.
[[noreturn]] void fail(const char* what);

} // namespace lumra::fuzz

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                    \
        if (!(condition))                                                                                   \
            ::lumra::fuzz::fail("check failed: " #condition " at " __FILE__);                               \
    } while (0)
