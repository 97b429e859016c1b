// Copied HTML made of one short unit repeated thousands of times: the shape of markup that drives
// Qt's parser ever deeper ("<div></x>", "< b>" ...) or costs it a lot per element. Whatever the
// unit, converting it must cost the caller no more than the conversion's deadline (the run's
// one-second -timeout catches any overrun, and -rss_limit_mb any growth), and what it gives must
// read back.
// Input: two bytes of repeat count, the unit (up to 64 bytes of UTF-8), a zero byte, and what
// follows the repeats.
#include "FuzzSupport.h"

#include "platform/richtext/RtfCodec.h"

using namespace lumra;

namespace {

constexpr int maxRepeats = 30'000;
constexpr qsizetype maxUnitBytes = 64;
// The converter's CPU time per conversion. Short, so that an overrun, a slow guard or a slow
// restart of the converter shows against the one-second timeout, with room for reading the
// answer back.
constexpr std::chrono::milliseconds deadline {250};
// Reading back is the rtf target's work; large answers here would only slow the run.
constexpr qsizetype maxReadBackBytes = 256 * 1024;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const int repeats = 1 + ((data[0] << 8) | data[1]) % maxRepeats;
    const QByteArray rest = fuzz::bytes(data + 2, size - 2);
    const qsizetype end = rest.indexOf('\0');
    const QString unit = QString::fromUtf8(rest.left(qMin(end < 0 ? rest.size() : end, maxUnitBytes)));
    const QString tail = end < 0 ? QString() : QString::fromUtf8(rest.mid(end + 1));
    const QString html = QStringLiteral("<b>bold</b>") + unit.repeated(repeats) + tail;

    const QByteArray rtf = RichText::rtfFromHtml(html, deadline);
    if (!rtf.isEmpty() && rtf.size() <= maxReadBackBytes)
        FUZZ_CHECK(RichText::plainTextFromRtf(rtf).has_value());
    return 0;
}
