// lumra-html-converter: turns the HTML other programs put on the clipboard into the RTF Lumra
// keeps. Lumra runs it as a process of its own (see platform/richtext/HtmlConverter.h) because Qt's
// HTML parser cannot be interrupted and some markup costs it seconds and hundreds of megabytes:
// here it is killed at its deadline instead of holding up Lumra's capture.
#include "platform/richtext/HtmlConverter.h"
#include "platform/richtext/RtfCodec.h"

#include <QGuiApplication>
#include <QTextDocument>

#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define LUMRA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMRA_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

// The program with one conversion: Qt and its fonts take some 70 MB of address space, and the
// largest HTML Lumra sends (100,000 elements) under 250 MB more.
constexpr rlim_t addressSpaceLimit = rlim_t(1024) * 1024 * 1024;

bool readAll(char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t got = ::read(STDIN_FILENO, data, size_t(size));
        if (got > 0) {
            data += got;
            size -= got;
        } else if (got == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool writeAll(const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, size_t(size));
        if (written > 0) {
            data += written;
            size -= written;
        } else if (written < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Ends with Lumra, however Lumra ends; a Lumra gone before this line is told by the parent id.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc != 2 || QByteArray(argv[1]).toLongLong() != qint64(::getppid()))
        return 2;
    // Named anew from here on, so a watcher can tell a converter that ends with Lumra from one
    // still loading.
    ::prctl(PR_SET_NAME, "lumra-html-cvt");
    const rlimit noCore {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
#ifndef LUMRA_ADDRESS_SANITIZER // the sanitizer reserves terabytes of address space for itself
    const rlimit memory {addressSpaceLimit, addressSpaceLimit};
    ::setrlimit(RLIMIT_AS, &memory);
#endif
    // Fonts need a GUI application; no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    using namespace lumra::RichText;
    if (!writeAll(reinterpret_cast<const char*>(&HtmlConverter::readyMark), sizeof HtmlConverter::readyMark))
        return 0;
    for (;;) {
        HtmlConverter::Header request;
        if (!readAll(reinterpret_cast<char*>(&request), sizeof request) || request.bytes < 0 || request.bytes % 2 != 0
            || request.bytes > 2 * kMaxHtmlCharacters)
            return 0;
        QString html(request.bytes / 2, Qt::Uninitialized);
        if (!readAll(reinterpret_cast<char*>(html.data()), request.bytes))
            return 0;
        QByteArray rtf;
        {
            QTextDocument document;
            document.setHtml(html);
            rtf = writeRtf(document, kMaxConvertedRtfBytes);
        }
        const HtmlConverter::Header answer {request.id, rtf.isEmpty() ? -1 : rtf.size()};
        if (!writeAll(reinterpret_cast<const char*>(&answer), sizeof answer) || !writeAll(rtf.constData(), rtf.size()))
            return 0;
    }
}
