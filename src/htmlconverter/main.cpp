// lumra-html-converter: turns the HTML other programs put on the clipboard into the RTF Lumra
// keeps. Lumra runs it as a process of its own (see platform/richtext/HtmlConverter.h) because Qt's
// HTML parser cannot be interrupted and some markup costs it seconds and hundreds of megabytes:
// here it is killed at its deadline instead of holding up Lumra's capture.
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

} // namespace

int main(int argc, char** argv)
{
    if (!lumra::process::HelperProcess::beginProgram(argc, argv, "lumra-html-cvt", addressSpaceLimit))
        return 2;
    // Rich text is added to a copy already stored: a costly page gives the processor up to the
    // copies made after it, whose pictures are being decoded meanwhile. Its budget counts only
    // the processor time it gets.
    (void)::nice(10);
    // Fonts need a GUI application; no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    using namespace lumra::RichText;
    using lumra::process::HelperProcess;
    if (!HelperProcess::writeAll(reinterpret_cast<const char*>(&HtmlConverter::readyMark), sizeof HtmlConverter::readyMark))
        return 0;
    for (;;) {
        HtmlConverter::Header request;
        if (!HelperProcess::readAll(reinterpret_cast<char*>(&request), sizeof request) || request.bytes < 0 || request.bytes % 2 != 0
            || request.bytes > 2 * kMaxHtmlCharacters)
            return 0;
        QString html(request.bytes / 2, Qt::Uninitialized);
        if (!HelperProcess::readAll(reinterpret_cast<char*>(html.data()), request.bytes))
            return 0;
        QByteArray rtf;
        {
            UnlinkedDocument document;
            document.setHtml(html);
            rtf = writeRtf(document, kMaxConvertedRtfBytes);
        }
        const HtmlConverter::Header answer {request.id, rtf.isEmpty() ? -1 : rtf.size()};
        if (!HelperProcess::writeAll(reinterpret_cast<const char*>(&answer), sizeof answer) || !HelperProcess::writeAll(rtf.constData(), rtf.size()))
            return 0;
    }
}
