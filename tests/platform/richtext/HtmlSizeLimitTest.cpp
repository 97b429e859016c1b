#include "platform/richtext/RtfCodec.h"

#include <gtest/gtest.h>

using namespace lumra;

namespace {

TEST(HtmlSizeLimit, HtmlOverTheLimitGivesNoRichText)
{
    // Plain characters with no markup: without the limit this would be parsed as a whole.
    const QString html = QStringLiteral("<p>") + QString(RichText::kMaxHtmlCharacters, QLatin1Char('a'))
        + QStringLiteral("</p>");
    EXPECT_TRUE(RichText::rtfFromHtml(html).isEmpty());
}

TEST(HtmlSizeLimit, HtmlWithinTheLimitIsConverted)
{
    const QByteArray rtf = RichText::rtfFromHtml(QStringLiteral("<p><b>bold</b> text</p>"));
    ASSERT_FALSE(rtf.isEmpty());
    EXPECT_EQ(RichText::plainTextFromRtf(rtf), QStringLiteral("bold text"));
}

} // namespace
