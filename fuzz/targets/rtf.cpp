// RTF from the clipboard: read it, and whatever was read must write out and read back the same.
#include "FuzzSupport.h"
#include "RichTextSignature.h"

#include "platform/richtext/RtfCodec.h"

#include <QTextDocument>

namespace RichText = lumra::RichText;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray rtf = lumra::fuzz::bytes(data, size);
    QTextDocument document;
    if (!RichText::readRtf(rtf, &document)) {
        FUZZ_CHECK(document.isEmpty());
        return 0;
    }
    const QString text = document.toPlainText();
    FUZZ_CHECK(QStringView(text).isValidUtf16());
    FUZZ_CHECK(text.size() <= RichText::kMaxDocumentCharacters + RichText::kMaxParagraphs);

    QTextDocument again;
    FUZZ_CHECK(RichText::readRtf(RichText::writeRtf(document), &again));
    FUZZ_CHECK(lumra::test::signature(again) == lumra::test::signature(document));

    // The other readers of the same bytes must not fall over either.
    (void)RichText::htmlFromRtf(rtf);
    (void)RichText::rtfAppendingParagraph(rtf);
    return 0;
}
