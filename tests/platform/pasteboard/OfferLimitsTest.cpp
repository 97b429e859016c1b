// What another program offers is read within bounds: a list of types, a text, an HTML body and
// the whole read each have a limit, and breaking one costs that copy only.
#include "platform/pasteboard/FakePasteboard.h"

#include <gtest/gtest.h>

using namespace lumra;

namespace {

PasteboardRepresentation rep(const char* type, const QByteArray& data) { return {QString::fromLatin1(type), data}; }

constexpr qint64 megabyte = 1024 * 1024;

TEST(OfferLimits, AHugeListOfTypesIsCutAndEachTypeListedOnce)
{
    FakePasteboard pasteboard;
    QList<PasteboardRepresentation> offer {rep("UTF8_STRING", "listed first"), rep("TARGETS", ""), rep("UTF8_STRING", "again")};
    for (int i = 0; i < 100'000; ++i)
        offer.append({QStringLiteral("application/x-made-up-%1").arg(i % 60'000), QByteArray()});
    pasteboard.setContents(offer);

    const PasteboardSnapshot snapshot = pasteboard.snapshot(false);
    ASSERT_EQ(snapshot.types.size(), OfferLimits::maxTypes);
    EXPECT_EQ(snapshot.types.first(), "UTF8_STRING");
    EXPECT_EQ(snapshot.types[1], "application/x-made-up-0");
    EXPECT_EQ(snapshot.types.count("UTF8_STRING"), 1);
    EXPECT_FALSE(snapshot.types.contains("TARGETS"));
    EXPECT_EQ(snapshot.text, "listed first");
}

TEST(OfferLimits, AMarkerListedPastTheCutStillConcealsTheCopy)
{
    FakePasteboard pasteboard;
    QList<PasteboardRepresentation> offer {rep("UTF8_STRING", "hunter2")};
    for (int i = 0; i < 5000; ++i)
        offer.append({QStringLiteral("application/x-made-up-%1").arg(i), QByteArray()});
    offer.append(rep("x-kde-passwordManagerHint", "secret"));
    pasteboard.setContents(offer);

    const PasteboardSnapshot snapshot = pasteboard.snapshot(true);
    EXPECT_TRUE(snapshot.concealed);
    EXPECT_FALSE(snapshot.text.has_value());
}

TEST(OfferLimits, ATextOverTheLimitIsRefusedWithItsSizeAndNothingElseIsTried)
{
    FakePasteboard pasteboard;
    pasteboard.setContents({rep("UTF8_STRING", QByteArray(17 * megabyte, 'a')), rep("image/png", "png")});
    const PasteboardSnapshot snapshot = pasteboard.snapshot(true);
    EXPECT_TRUE(snapshot.failed());
    EXPECT_EQ(snapshot.refusal, "a text of 17.0 MB");
    EXPECT_FALSE(snapshot.text.has_value());
    EXPECT_TRUE(snapshot.imageData.isEmpty());
    EXPECT_EQ(pasteboard.readsOf(), QStringList {"UTF8_STRING"});

    pasteboard.setContents({rep("UTF8_STRING", QByteArray(OfferLimits::maxTextBytes, 'a'))});
    const PasteboardSnapshot atTheLimit = pasteboard.snapshot(true);
    EXPECT_FALSE(atTheLimit.failed());
    EXPECT_EQ(atTheLimit.text->size(), OfferLimits::maxTextBytes);
}

TEST(OfferLimits, HtmlOverItsLimitLeavesThePlainText)
{
    FakePasteboard pasteboard;
    pasteboard.setContents({rep("UTF8_STRING", "plain"), rep("text/html", QByteArray(OfferLimits::maxHtmlBytes + 1, 'a'))});
    const PasteboardSnapshot snapshot = pasteboard.snapshot(true);
    EXPECT_FALSE(snapshot.failed());
    EXPECT_EQ(snapshot.text, "plain");
    EXPECT_FALSE(snapshot.html.has_value());
}

// An owner that hands over its types and then takes too long with `late`.
class LateReader final : public OfferReader {
public:
    explicit LateReader(QString late) : m_late(std::move(late)) {}
    qint64 changeCount() const override { return 7; }
    bool ownedByUs() const override { return false; }
    Result<QStringList> types(QDeadlineTimer) override { return QStringList {"UTF8_STRING", "text/html", "image/png"}; }
    OfferRead data(const QString& type, qint64, QDeadlineTimer) override
    {
        reads.append(type);
        if (type == m_late)
            return OfferRead::failure(OfferRead::Outcome::pastDeadline, "late");
        OfferRead read;
        read.bytes = "in time";
        return read;
    }
    bool readFromItsOwner() override { return true; }
    QStringList reads;

private:
    QString m_late;
};

TEST(OfferLimits, AnOwnerPastTheDeadlineCostsWhatItHadNotHandedOver)
{
    // The text came in time: the late HTML is left out, and nothing more is asked of the owner.
    LateReader lateHtml(QStringLiteral("text/html"));
    PasteboardSnapshot snapshot = readOffer(lateHtml, true, QDeadlineTimer(OfferLimits::wholeOffer));
    EXPECT_TRUE(snapshot.refusal.isEmpty()) << snapshot.refusal.toStdString();
    EXPECT_EQ(snapshot.text, "in time");
    EXPECT_FALSE(snapshot.html.has_value());
    EXPECT_EQ(lateHtml.reads, (QStringList {"UTF8_STRING", "text/html"}));

    // Nothing came in time: the copy is lost, and said to be.
    LateReader lateText(QStringLiteral("UTF8_STRING"));
    snapshot = readOffer(lateText, true, QDeadlineTimer(OfferLimits::wholeOffer));
    EXPECT_EQ(snapshot.refusal, "its owner took more than 2 s to hand it over");
    EXPECT_FALSE(snapshot.text.has_value());
}

} // namespace
