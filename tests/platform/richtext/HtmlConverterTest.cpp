// Outside HTML is parsed by the converter program, which is killed at its deadline: whatever the
// markup makes of Qt's parser, a conversion costs its caller no more than that deadline.
#include "platform/richtext/HtmlConverter.h"
#include "platform/richtext/RtfCodec.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace lumra;

namespace {

// CPU time of the child processes reaped so far: what the converter programs cost.
std::chrono::milliseconds childrenCpuTime()
{
    rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) { return qint64(t.tv_sec) * 1000 + t.tv_usec / 1000; };
    return std::chrono::milliseconds(ms(usage.ru_utime) + ms(usage.ru_stime));
}

// This process's children still there (running or not yet reaped) whose name starts with `name`.
QList<pid_t> childProcesses(const QByteArray& name)
{
    QList<pid_t> found;
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(QStringLiteral("/proc/self/task/%1/children").arg(task));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& pid : children.readAll().split(' ')) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(pid.trimmed())));
            if (!pid.trimmed().isEmpty() && comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith(name))
                found.append(pid_t(pid.trimmed().toInt()));
        }
    }
    return found;
}

TEST(HtmlConversion, MarkupThatNestsPastTheGuardsCostsNoMoreThanTheDeadline)
{
    // Each of these nests ever deeper in Qt's parser while looking flat to a count of tags, at a
    // cost that grows with the square of their number: 20,000 of them take a fast machine about the
    // deadline, 60,000 many times it. Converted here on the test's own thread, so that a program
    // kept past its deadline is still there to be seen.
    for (const char* unit : {"< b>", "<div></x>", "<p:x>", "<li_a>", "<div title=\"/>\">", "<&#100;iv>"}) {
        const QString html = QStringLiteral("<b>bold</b>") + QString::fromLatin1(unit).repeated(60'000)
            + QStringLiteral("text");
        const auto before = childrenCpuTime();
        // The short page's budget: under the one sized to their length some of them finish.
        EXPECT_TRUE(RichText::rtfFromHtml(html, RichText::kHtmlConversionTime).isEmpty()) << unit;
        // The deadline, and the start of the program under a sanitizer.
        EXPECT_LT(childrenCpuTime() - before, RichText::kHtmlConversionTime + std::chrono::seconds(4)) << unit;
        EXPECT_EQ(RichText::HtmlConverter::shared().runningProcess(), 0) << unit;
        EXPECT_TRUE(childProcesses("lumra-html-c").isEmpty()) << unit << ": the program outlived its deadline";
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
    const auto before = childrenCpuTime();
    EXPECT_TRUE(RichText::rtfFromHtml(table).isEmpty());
    EXPECT_EQ(childrenCpuTime(), before) << "the table reached the converter";
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
    // Just past the restart size, with a budget no loaded machine reaches: the time is not what is held here.
    const QString large = QStringLiteral("<p>paragraph <b>bold</b></p>").repeated(10'000);
    ASSERT_GT(large.size(), RichText::HtmlConverter::restartAboveCharacters);
    EXPECT_FALSE(RichText::rtfFromHtml(large, std::chrono::minutes(2)).isEmpty());
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

// The converter program is another program: these run stand-ins that misbehave as one might.
struct StandIn {
    explicit StandIn(const char* mode)
        : converter(QStringLiteral(LUMRA_STAND_IN_HTML_CONVERTER), {QString::fromLatin1(mode)})
    {
    }
    QByteArray convert(const QString& html, std::chrono::milliseconds cpuTime = RichText::kHtmlConversionTime)
    {
        return converter.convert(html, cpuTime);
    }
    RichText::HtmlConverter converter;
};

TEST(HtmlConverterAnswers, AreTiedToTheirRequestAndCheckedBeforeTheyAreKept)
{
    // One answer too many would put every later copy's rich text on the copy after it.
    StandIn twice("two-answers");
    for (const QString& text : {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")})
        EXPECT_EQ(RichText::plainTextFromRtf(twice.convert(text)), text);

    StandIn tooLarge("too-large");
    EXPECT_TRUE(tooLarge.convert(QStringLiteral("x")).isEmpty());
    StandIn notRtf("not-rtf");
    EXPECT_TRUE(notRtf.convert(QStringLiteral("x")).isEmpty());
}

TEST(HtmlConverterTime, OnlyTheConversionsOwnCpuTimeCounts)
{
    // A program that starts slowly, or answers late on a busy machine, still converts the copy.
    constexpr std::chrono::milliseconds budget {1000};
    StandIn slowStart("slow-start");
    EXPECT_EQ(RichText::plainTextFromRtf(slowStart.convert(QStringLiteral("started"), budget)), QStringLiteral("started"));
    StandIn slowAnswer("slow-answer");
    EXPECT_EQ(RichText::plainTextFromRtf(slowAnswer.convert(QStringLiteral("late"), budget)), QStringLiteral("late"));

    // One that works on is ended once it has spent the budget, and is gone.
    StandIn spin("spin");
    const auto before = childrenCpuTime();
    EXPECT_TRUE(spin.convert(QStringLiteral("x"), budget).isEmpty());
    EXPECT_LT(childrenCpuTime() - before, budget + std::chrono::milliseconds(1000));
    EXPECT_EQ(spin.converter.runningProcess(), 0);
}

TEST(HtmlConverterProgram, ANewProgramTakesTheCopyWhenTheKeptOneHasDied)
{
    StandIn oneThenQuit("one-then-quit");
    EXPECT_EQ(RichText::plainTextFromRtf(oneThenQuit.convert(QStringLiteral("one"))), QStringLiteral("one"));
    EXPECT_EQ(RichText::plainTextFromRtf(oneThenQuit.convert(QStringLiteral("two"))), QStringLiteral("two"));
}

TEST(HtmlConverterProgram, OneThatEndsBetweenCopiesIsReapedAtOnce)
{
    RichText::HtmlConverter converter(RichText::HtmlConverter::installedProgram());
    ASSERT_FALSE(converter.convert(QStringLiteral("<i>one</i>"), RichText::kHtmlConversionTime).isEmpty());
    const pid_t program = converter.runningProcess();
    ASSERT_GT(program, 0);
    ::kill(program, SIGKILL);
    // Not left a zombie until the next copy of HTML, whenever that comes.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(QStringLiteral("/proc/%1").arg(program)); }, 10000));
}

} // namespace

TEST(HtmlConverterProgram, GivesTheProcessorUpToTheCopiesMadeAfterItsPage)
{
    // A page that spends its whole budget runs while later copies are read and their pictures
    // decoded; on a busy machine it must not slow them.
    RichText::HtmlConverter converter(RichText::HtmlConverter::installedProgram());
    ASSERT_FALSE(converter.convert(QStringLiteral("<i>one</i>"), RichText::kHtmlConversionTime).isEmpty());
    const pid_t program = converter.runningProcess();
    ASSERT_GT(program, 0);
    errno = 0;
    const int own = ::getpriority(PRIO_PROCESS, 0);
    ASSERT_EQ(errno, 0);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, id_t(program)), std::min(own + 10, 19));
}

TEST(HtmlConverterProgram, ReadsNothingAPageNames)
{
    // A style sheet or picture named by a page would be opened by the converter: a FIFO holds it
    // for good, /dev/zero reads until its memory is gone. The page converts as if they were absent.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QByteArray fifo = QFile::encodeName(folder.filePath(QStringLiteral("sheet.css")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    RichText::HtmlConverter converter(RichText::HtmlConverter::installedProgram());
    for (const QString& named : {QUrl::fromLocalFile(QFile::decodeName(fifo)).toString(), QStringLiteral("file:///dev/zero")}) {
        const QString page = QStringLiteral("<html><head><link rel=\"stylesheet\" href=\"%1\"></head>"
                                            "<body><b>kept</b><img src=\"%1\"></body></html>").arg(named);
        const QByteArray rtf = converter.convert(page, RichText::kHtmlConversionTime);
        EXPECT_TRUE(RichText::plainTextFromRtf(rtf).value_or(QString()).contains(QStringLiteral("kept"))) << named.toStdString();
    }
}
