// RTF from the clipboard: read it, and whatever was read must write out and read back the same.
// The input may repeat a unit thousands of times (see unfold), so that what one small input makes
// the reader do again and again, a field's result after a long instruction say, is within reach.
#include "FuzzSupport.h"
#include "RichTextSignature.h"

#include "platform/richtext/RtfCodec.h"

#include <QTextDocument>

namespace RichText = lumra::RichText;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray rtf = lumra::fuzz::unfold(data, size);
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
