// Desktop entries are written by any package or any user in ~/.local/share/applications.
//
// Unfolded (see fuzz::unfold) to the size the readers take, an entry must cost about what its bytes
// are worth: its parse may take no more CPU time than many times a plain reading of the same bytes
// in the same process, so the bound holds however busy or slow the machine. A scan that goes over
// what it already read shows there, long before a timeout.
#include "FuzzSupport.h"

#include "platform/workspace/DesktopEntries.h"

#include <algorithm>
#include <iterator>
#include <ctime>

using namespace lumra;

namespace {

const QString locales[] = {QString(), QStringLiteral("de_CH"), QStringLiteral("sr@latin")};

double threadCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double parseAll(const QByteArray& contents)
{
    const double start = threadCpuSeconds();
    for (const QString& locale : locales) {
        const auto entry = parseDesktopEntry(contents, QStringLiteral("org.example.App"), locale);
        if (entry) {
            FUZZ_CHECK(entry->id == QStringLiteral("org.example.App"));
            FUZZ_CHECK(QStringView(entry->name).isValidUtf16());
        }
    }
    return threadCpuSeconds() - start;
}

// What a plain reader of the same bytes costs, once for each locale: every line cut, trimmed,
// split at its '=', its key copied and its value made text and walked through. Measured on the
// input itself, in this process, not on a sample: nothing the parser under test does is in it.
double plainReaderCost(const QByteArray& contents)
{
    const double start = threadCpuSeconds();
    qsizetype seen = 0;
    for (int pass = 0; pass < int(std::size(locales)); ++pass) {
        const QByteArrayView all(contents);
        for (qsizetype at = 0; at < all.size();) {
            qsizetype end = all.indexOf('\n', at);
            if (end < 0)
                end = all.size();
            const QByteArrayView line = all.sliced(at, end - at).trimmed();
            at = end + 1;
            const qsizetype equals = std::max<qsizetype>(line.indexOf('='), 0);
            const QByteArray key = line.first(equals).toByteArray();
            const QString value = QString::fromUtf8(line.sliced(equals));
            seen += key.size();
            for (QChar c : value)
                seen += c == u'\\';
        }
    }
    static volatile qsizetype sink;
    sink = seen;
    return threadCpuSeconds() - start;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // What the readers take of one entry (ApplicationChooser reads a MiB).
    const QByteArray contents = fuzz::unfold(data, size, 1024 * 1024, '\x01');
    // Many times the plain reader, and a fixed allowance that small inputs fall within; measured
    // twice before it counts, as one preemption or a cold cache can cost that much.
    const auto allowed = [&] { return 0.05 + 50 * plainReaderCost(contents); };
    if (parseAll(contents) > allowed() && parseAll(contents) > allowed())
        fuzz::fail("a desktop entry cost far more than a plain reading of its bytes");
    return 0;
}
