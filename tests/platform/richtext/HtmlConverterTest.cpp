// Outside HTML is parsed by the converter program, which is killed at its deadline: whatever the
// markup makes of Qt's parser, a conversion costs its caller no more than that deadline.
#include "platform/richtext/HtmlConverter.h"
#include "platform/richtext/RtfCodec.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

using namespace lumra;

namespace {

// Whether `work` returned within `bound`. One that did not is left running (the test has failed,
// and the old parse would otherwise hold the run for minutes).
bool returnsWithin(std::chrono::milliseconds bound, std::function<void()> work)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([done, work = std::move(work)] {
        work();
        *done = true;
    }).detach();
    QElapsedTimer clock;
    clock.start();
    while (!*done && clock.elapsed() < bound.count())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return *done;
}

// The deadline and the restart of the program, with room for a busy machine.
constexpr std::chrono::milliseconds bound = RichText::kHtmlConversionTime * 3;

TEST(HtmlConversion, MarkupThatNestsPastTheGuardsCostsNoMoreThanTheDeadline)
{
    // Each of these nests ever deeper in Qt's parser while looking flat to a count of tags; 20,000
    // of them cost it seconds to minutes.
    for (const char* unit : {"< b>", "<div></x>", "<p:x>", "<li_a>", "<div title=\"/>\">", "<&#100;iv>"}) {
        const QString html = QStringLiteral("<b>bold</b>") + QString::fromLatin1(unit).repeated(20'000)
            + QStringLiteral("text");
        EXPECT_TRUE(returnsWithin(bound, [html] { RichText::rtfFromHtml(html); })) << unit;
    }
    // The program killed at a deadline is replaced for the next copy.
    const QByteArray rtf = RichText::rtfFromHtml(QStringLiteral("<p><b>bold</b> text</p>"));
    EXPECT_EQ(RichText::plainTextFromRtf(rtf), QStringLiteral("bold text"));
}

TEST(HtmlConversion, ABigTableIsRefusedBeforeItIsParsed)
{
    // 4 MB: 400,000 cells, which cost the parser 450 MB and seconds.
    const QString table = QStringLiteral("<table>")
        + (QStringLiteral("<tr>") + QStringLiteral("<td>x</td>").repeated(10)).repeated(40'000)
        + QStringLiteral("</table>");
    ASSERT_LE(table.size(), RichText::kMaxHtmlCharacters);
    EXPECT_GT(RichText::htmlElementCount(table), RichText::kMaxHtmlElements);
    auto rtf = std::make_shared<QByteArray>("unset");
    EXPECT_TRUE(returnsWithin(bound, [table, rtf] { *rtf = RichText::rtfFromHtml(table); }));
    EXPECT_TRUE(rtf->isEmpty());
    // Every "<" that is not an end tag, comment or declaration counts, however it is spelled.
    EXPECT_EQ(RichText::htmlElementCount(u"<!-- c --><p>a</p>< b><&#100;iv x=\"<i>\"></x>"), 4);
}

TEST(HtmlConversion, TheProgramIsKeptBetweenCopiesAndEndedAfterALargeOne)
{
    auto& converter = RichText::HtmlConverter::shared();
    ASSERT_FALSE(RichText::rtfFromHtml(QStringLiteral("<i>one</i>")).isEmpty());
    const pid_t program = converter.runningProcess();
    ASSERT_GT(program, 0);
    ASSERT_FALSE(RichText::rtfFromHtml(QStringLiteral("<i>two</i>")).isEmpty());
    EXPECT_EQ(converter.runningProcess(), program);

    // The memory a large parse took goes back with the program, which is reaped, not left a zombie.
    const QString large = QStringLiteral("<p>paragraph <b>bold</b></p>").repeated(20'000);
    ASSERT_GT(large.size(), RichText::HtmlConverter::restartAboveCharacters);
    EXPECT_FALSE(RichText::rtfFromHtml(large).isEmpty());
    EXPECT_EQ(converter.runningProcess(), 0);
    EXPECT_NE(::kill(program, 0), 0) << "the program is still there";

    // A program that died between copies is replaced without losing the copy.
    ASSERT_FALSE(RichText::rtfFromHtml(QStringLiteral("<i>three</i>")).isEmpty());
    const pid_t third = converter.runningProcess();
    ASSERT_GT(third, 0); // kill(0) would end this test's own process group
    ::kill(third, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(RichText::rtfFromHtml(QStringLiteral("<i>four</i>")).isEmpty());
}

} // namespace
