// What other programs offer on the clipboard besides images: HTML (UTF-8 or UTF-16), texts in
// their declared encodings, and file lists in both URI-list forms.
#include "FuzzSupport.h"

#include "platform/pasteboard/PasteboardTypes.h"
#include "platform/richtext/RtfCodec.h"

#include <QUrl>

using namespace lumra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks which reader gets the rest, so one corpus covers all of them.
    const uint8_t selector = data[0];
    const QByteArray body = fuzz::bytes(data + 1, size - 1);
    switch (selector % 4) {
    case 0: {
        const QString html = decodeHtml(body);
        const QByteArray rtf = RichText::rtfFromHtml(html);
        if (!rtf.isEmpty()) {
            // What capture stores must be readable when it is pasted back.
            FUZZ_CHECK(RichText::plainTextFromRtf(rtf).has_value());
        }
        break;
    }
    case 1: {
        static const char* const types[] = {PasteboardMime::textUtf8, PasteboardMime::textPlain,
                                            PasteboardMime::utf8String, PasteboardMime::latin1String};
        const QString text = decodeText(QString::fromLatin1(types[(selector / 4) % 4]), body);
        FUZZ_CHECK(!text.endsWith(QChar(0)));
        break;
    }
    default: {
        const QString type = QString::fromLatin1(selector % 4 == 2 ? PasteboardMime::uriList
                                                                   : PasteboardMime::gnomeCopiedFiles);
        const QStringList urls = parseFileUrls(body, type);
        for (const QString& url : urls) {
            const QUrl parsed(url, QUrl::StrictMode);
            FUZZ_CHECK(parsed.isValid() && parsed.isLocalFile());
        }
        // Written back and read again, a list is the same list.
        FUZZ_CHECK(parseFileUrls(uriListBody(urls), QString::fromLatin1(PasteboardMime::uriList)) == urls);
        FUZZ_CHECK(parseFileUrls(gnomeCopiedFilesBody(urls), QString::fromLatin1(PasteboardMime::gnomeCopiedFiles))
                   == urls);
        break;
    }
    }
    return 0;
}
