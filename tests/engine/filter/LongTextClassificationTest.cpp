#include "engine/CaptureReading.h"
#include "engine/filter/ItemClassification.h"

#include <gtest/gtest.h>

using namespace lumra;

namespace {

ClipboardItem textItem(const QString& text)
{
    ClipboardItem item;
    item.contentType = ClipboardContentType::text;
    item.textContent = text;
    return item;
}

// A text padded to `length` characters by its middle, and the kind it then reads as.
struct LongCase {
    const char* what;
    QString head;
    QChar padding;
    QString tail;
    qsizetype length;
    CaptureCategory expected;
};

void PrintTo(const LongCase& c, std::ostream* out) { *out << c.what << " of " << c.length; }

QString padded(const LongCase& c)
{
    return c.head + QString(c.length - c.head.size() - c.tail.size(), c.padding) + c.tail;
}

class LongWholeValue : public testing::TestWithParam<LongCase> { };

TEST_P(LongWholeValue, CaptureAndTypeBitsAgree)
{
    const QString text = QStringLiteral("  \n") + padded(GetParam()) + QStringLiteral("\n ");
    const CaptureCategory expected = GetParam().expected;
    EXPECT_EQ(captureCategoryForText(text), expected);
    const ItemTypeBits bits = ItemTypeBits::of(textItem(text));
    EXPECT_EQ(bits.has(ItemTypeBits::link), expected == CaptureCategory::link);
    EXPECT_EQ(bits.has(ItemTypeBits::emailWhole), expected == CaptureCategory::email);
    EXPECT_EQ(bits.has(ItemTypeBits::color), expected == CaptureCategory::color);
}

constexpr qsizetype limit = maxWholeValueLength;

INSTANTIATE_TEST_SUITE_P(Bound, LongWholeValue, testing::Values(
    LongCase{"link", "https://example.org/?q=", 'a', "", limit, CaptureCategory::link},
    LongCase{"link", "https://example.org/?q=", 'a', "", limit + 1, CaptureCategory::text},
    LongCase{"e-mail", "", 'a', "@example.org", limit, CaptureCategory::email},
    LongCase{"e-mail", "", 'a', "@example.org", limit + 1, CaptureCategory::text},
    LongCase{"colour", "rgb(", ' ', "1)", limit, CaptureCategory::color},
    LongCase{"colour", "rgb(", ' ', "1)", limit + 1, CaptureCategory::text}));

// Colour values keep their white space rules with the simpler pattern.
TEST(ColourText, WhiteSpaceInsideTheParenthesesIsAnyWhere)
{
    EXPECT_TRUE(isColorText(u"rgb( 1, 2, 3 )"));
    EXPECT_TRUE(isColorText(u"hsla(\t10 20% 30% / 0.5\t)"));
    EXPECT_TRUE(isColorText(u"rgb(  )"));
    EXPECT_FALSE(isColorText(u"rgb()"));
    EXPECT_FALSE(isColorText(u"rgb( 1, 2, 3"));
    EXPECT_FALSE(isColorText(u"rgb( 1, a, 3 )"));
}

// Texts built to make a backtracking matcher give up (answering "no" where the answer is yes)
// or run for minutes.
TEST(HugeText, IsStillClassifiedCorrectly)
{
    const QString spaces = QStringLiteral("rgb(") + QString(4000, u' ');
    EXPECT_FALSE(isColorText(spaces + u'1'));
    EXPECT_TRUE(isColorText(spaces + QStringLiteral("1)")));

    const QString address = QString(1 << 20, u'a') + QStringLiteral("@ and then write to me@example.org");
    const EmailMatch email = emailMatch(address);
    EXPECT_TRUE(email.anywhere);
    EXPECT_FALSE(email.whole);
    EXPECT_TRUE(ItemTypeBits::of(textItem(address)).has(ItemTypeBits::emailAnywhere));
    EXPECT_EQ(captureCategoryForText(address), CaptureCategory::text);
}

} // namespace
