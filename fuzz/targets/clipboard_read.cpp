// What the capture worker reads of another program's offer: the type list (cut to its bounds) and
// the content of each type it takes, from an owner that answers whatever it likes.
#include "FuzzSupport.h"

#include "platform/pasteboard/Pasteboard.h"

#include <QSet>

using namespace lumra;

namespace {

// An owner that offers the first part's lines as types and the following parts as their bytes.
class Owner final : public OfferReader {
public:
    Owner(QStringList offered, QList<QByteArray> parts) : m_types(boundedTypes(offered)), m_parts(std::move(parts)) { }

    qint64 changeCount() const override { return 7; }
    bool ownedByUs() const override { return false; }
    Result<QStringList> types(QDeadlineTimer) override { return m_types; }
    OfferRead data(const QString& type, qint64 maxBytes, QDeadlineTimer) override
    {
        const qsizetype index = m_types.indexOf(type);
        if (index < 0)
            return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("not offered"));
        const QByteArray bytes = m_parts.value(index + 1);
        if (bytes.size() > maxBytes)
            return OfferRead::failure(OfferRead::Outcome::tooLarge, QStringLiteral("too large"), bytes.size());
        OfferRead read;
        read.bytes = bytes;
        return read;
    }
    bool readFromItsOwner() override { return true; }

private:
    QStringList m_types;
    QList<QByteArray> m_parts;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzz::unfold(data, size);
    const QList<QByteArray> parts = fuzz::parts(body, QByteArrayLiteral("\n--8<--\n"), 1);

    // The X11 and Wayland readers take at most a few more than maxTypes names from an owner.
    QStringList raw;
    for (const QByteArray& line : parts[0].split('\n')) {
        if (raw.size() > OfferLimits::maxTypes + 8)
            break;
        raw.append(QString::fromUtf8(line));
    }
    const QStringList bounded = boundedTypes(raw);
    FUZZ_CHECK(bounded.size() <= OfferLimits::maxTypes);
    FUZZ_CHECK(QSet<QString>(bounded.begin(), bounded.end()).size() == bounded.size());

    Owner owner(raw, parts);
    const PasteboardSnapshot snapshot = readOffer(owner, true, QDeadlineTimer(OfferLimits::wholeOffer));
    FUZZ_CHECK(snapshot.types == bounded);
    FUZZ_CHECK(!snapshot.text || snapshot.text->size() <= OfferLimits::maxTextBytes);
    FUZZ_CHECK(snapshot.imageData.size() <= OfferLimits::maxImageBytes);
    if (snapshot.concealed)
        FUZZ_CHECK(!snapshot.text && snapshot.fileUrls.isEmpty() && snapshot.imageData.isEmpty());
    return 0;
}
