// lumra-html-converter: turns the HTML other programs put on the clipboard into the RTF Lumra
// keeps. Lumra runs it as a process of its own (see platform/richtext/HtmlConverter.h) because Qt's
// HTML parser cannot be interrupted and some markup costs it seconds and hundreds of megabytes:
// here it is killed at its deadline instead of holding up Lumra's capture.
#include "platform/process/Confinement.h"
#include "platform/process/HelperProcess.h"
#include "platform/richtext/HtmlConverter.h"
#include "platform/richtext/RtfCodec.h"

#include <QGuiApplication>
#include <QTextDocument>

#include <unistd.h>

namespace {

// The program with one conversion: Qt and its fonts take some 70 MB of address space, and the
// largest HTML Lumra sends (100,000 elements) under 250 MB more.
constexpr qint64 addressSpaceLimit = qint64(1024) * 1024 * 1024;

// Copied HTML names style sheets and pictures by URL; reading them would let a page make the
// converter open any file (a FIFO holds it for good). Nothing named is loaded.
class UnlinkedDocument final : public QTextDocument {
protected:
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

QByteArray convert(const QString& html)
{
    UnlinkedDocument document;
    document.setHtml(html);
    return lumra::RichText::writeRtf(document, lumra::RichText::kMaxConvertedRtfBytes);
}

} // namespace

int main(int argc, char** argv)
{
    // The user's copied pages pass through here: from the first line no other program of the user's
    // may attach to it, read its memory or take its socket to Lumra.
    lumra::process::keepOtherProcessesOut();
    if (!lumra::process::HelperProcess::beginProgram(argc, argv, "lumra-html-cvt", addressSpaceLimit))
        return 2;
    // Rich text is added to a copy already stored: a costly page gives the processor up to the
    // copies made after it, whose pictures are being decoded meanwhile. Its budget counts only
    // the processor time it gets.
    (void)::nice(10);
    // Fonts need a GUI application; no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    // The font database is read at the first conversion: before the program is confined.
    (void)convert(QStringLiteral("<p style='font-family:serif'><b>A</b><i>g</i></p><pre>A</pre>"));
    // From here on the program reads, converts and answers, and can do nothing else (see Confinement.h).
    if (!lumra::process::confine())
        return 3;

    using namespace lumra::RichText;
    using lumra::process::HelperProcess;
    // Leaving by _exit: a leak check at exit would want to open files and start a process it may not.
    if (!HelperProcess::writeAll(reinterpret_cast<const char*>(&HtmlConverter::readyMark), sizeof HtmlConverter::readyMark))
        ::_exit(0);
    for (;;) {
        HtmlConverter::Header request;
        if (!HelperProcess::readAll(reinterpret_cast<char*>(&request), sizeof request) || request.bytes < 0 || request.bytes % 2 != 0
            || request.bytes > 2 * kMaxHtmlCharacters)
            ::_exit(0);
        QString html(request.bytes / 2, Qt::Uninitialized);
        if (!HelperProcess::readAll(reinterpret_cast<char*>(html.data()), request.bytes))
            ::_exit(0);
        const QByteArray rtf = convert(html);
        const HtmlConverter::Header answer {request.id, rtf.isEmpty() ? -1 : rtf.size()};
        if (!HelperProcess::writeAll(reinterpret_cast<const char*>(&answer), sizeof answer) || !HelperProcess::writeAll(rtf.constData(), rtf.size()))
            ::_exit(0);
    }
}
