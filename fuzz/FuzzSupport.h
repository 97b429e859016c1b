#pragma once

#include <QByteArray>
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
