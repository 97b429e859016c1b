// A program that owns the clipboard and answers slowly, endlessly or in bulk must cost Lumra that
// one copy and nothing else: the popup still opens at once, the next copy is stored, and memory
// stays bounded. Lumra and the owner each run as processes of their own.
#include "DesktopTools.h"
#include "HostileOwners.h"
#include "StoredTexts.h"
#include "TempDataDir.h"
#include "Xclip.h"
#include "platform/pasteboard/OfferReader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

#include <array>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <sys/wait.h>

namespace {

using namespace lumra::test;

struct HostileCase {
    const char* mode;
    bool hostileCopyStored; // the owner's own text, once its excess is left out
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.mode; }

class HostileOwnerX11Test : public RunningLumraTest, public ::testing::WithParamInterface<HostileCase> { };

TEST_P(HostileOwnerX11Test, ThePopupOpensAtOnceAndTheNextCopyIsStored)
{
    const HostileCase& c = GetParam();
    dataDir.skipOnboarding();
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    // Memory is measured from a Lumra that has stored a copy: its store and reading threads are up.
    const QString first = QStringLiteral("a plain copy before the hostile one");
    ASSERT_TRUE(xclipCopy(first.toUtf8()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).contains(first); }, 20000))
        << lumra.output().toStdString();
    const qint64 before = lumra.residentBytes();
    // The owner may cost the popup no more than a second over its ordinary opening on this machine.
    const qint64 ordinary = ordinaryPopupOpening(popupShown);
    ASSERT_GE(ordinary, 0) << lumra.output().toStdString();

    HostileProgram owner;
    ASSERT_TRUE(owner.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER), {QString::fromLatin1(c.mode)}));
    ASSERT_TRUE(owner.waitForOutput("ASKED", 20000)) << lumra.output().toStdString();

    const QString hostileText = QStringLiteral("copied by a hostile owner: ") + QString::fromLatin1(c.mode);
    const auto copyNext = [&](const QByteArray& text) {
        // A copy made while the hostile one is still read rightly replaces it, so the copy a user
        // would keep is waited for before the next is made: the popup is still tried during the read.
        if (c.hostileCopyStored
            && !QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).contains(hostileText); }, 60000)) {
            ADD_FAILURE() << "the hostile owner's own text was not stored\n" << lumra.output().toStdString();
            return false;
        }
        return xclipCopy(text);
    };
    expectHostileOwnerHoldsNothing(lumra, dataDir.supportFolder(), before, popupShown, copyNext, int(1000 + ordinary));
    EXPECT_EQ(storedTexts(dataDir.supportFolder()).contains(hostileText), c.hostileCopyStored);
}

INSTANTIATE_TEST_SUITE_P(Owners, HostileOwnerX11Test,
                         ::testing::Values(HostileCase {"trickle", false}, HostileCase {"targets", true},
                                           HostileCase {"html", true}, HostileCase {"html-unmatched", true},
                                           HostileCase {"huge", false}),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                             std::string name = info.param.mode;
                             std::erase(name, '-');
                             return name;
                         });

// While Lumra owns a large text, another program asks for it 50,000 times and never reads the
// answers: Lumra still opens its popup at once and stores the next copy.
TEST_F(HostileOwnerX11Test, ARequestorThatNeverReadsHoldsNothing)
{
    dataDir.skipOnboarding();
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    const QString large = QStringLiteral("served in pieces ") + QString(200 * 1024, QLatin1Char('p'));
    ASSERT_TRUE(xclipCopy(large.toUtf8()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).contains(large); }, 20000));

    HostileProgram requestor;
    ASSERT_TRUE(requestor.start(QStringLiteral(LUMRA_HOSTILE_X11_REQUESTOR), {QStringLiteral("50000")}));
    // Return on the newest row writes it back: Lumra owns the clipboard, and the flood begins.
    ASSERT_TRUE(RunningLumra::askToTogglePopup());
    ASSERT_TRUE(QTest::qWaitFor(popupShown, 20000));
    // Mapped is not yet focused: keys typed in between go to the window that had the keyboard.
    const QString popup = xdotool({"search", "--onlyvisible", "--name", "^Lumra$"}).section(u'\n', 0, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return xdotool({"getwindowfocus", "-f"}) == popup; }, 20000));
    xdotool({"key", "Down", "Return"});
    ASSERT_TRUE(requestor.waitForOutput("FLOODING", 20000)) << lumra.output().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([] { return !popupShown(); }, 20000));

    expectHostileOwnerHoldsNothing(lumra, dataDir.supportFolder(), lumra.residentBytes(), popupShown,
                                   [](const QByteArray& text) { return xclipCopy(text); });
}

TEST_F(HostileOwnerX11Test, AnOversizedTextIsLoggedWithItsSizeAndNotStored)
{
    dataDir.skipOnboarding();
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    HostileProgram owner;
    ASSERT_TRUE(owner.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER), {QStringLiteral("huge")}));
    EXPECT_TRUE(lumra.waitForOutput(QStringLiteral("Copy not recorded: a text of more than 16.0 MB"), 10000))
        << lumra.output().toStdString();
    EXPECT_FALSE(lumra.output().contains("hostile owner")) << "the log carries none of the content";
}

// An owner within the bounds but slow (1.5 s for its text), then three quick copies 0.3 s apart
// while it is still sending: each of the four is stored, in the order they were made.
TEST_F(HostileOwnerX11Test, ASlowOwnerCostsNoCopyMadeWhileItIsRead)
{
    dataDir.skipOnboarding();
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    HostileProgram owner;
    ASSERT_TRUE(owner.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER), {QStringLiteral("slow")}));
    ASSERT_TRUE(owner.waitForOutput("SENDING", 10000)) << "Lumra did not ask for the text";

    // Each is seen and read before the next, all while the owner is still sending.
    const QStringList quick {QStringLiteral("quick one"), QStringLiteral("quick two"), QStringLiteral("quick three")};
    for (const QString& text : quick) {
        ASSERT_TRUE(xclipCopy(text.toUtf8()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).contains(text); }, 10000))
            << lumra.output().toStdString();
    }
    const QStringList expected {quick[2], quick[1], quick[0], QStringLiteral("copied by a hostile owner: slow")};
    EXPECT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()) == expected; }, 10000))
        << storedTexts(dataDir.supportFolder()).join(QLatin1String(" | ")).toStdString() << "\n"
        << lumra.output().toStdString();
}

bool processGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
}

TEST_F(HostileOwnerX11Test, TheHtmlConverterEndsWithLumraEvenInTheMiddleOfAConversion)
{
    // Lumra's orphans come to this process, in this session: a stopped one is then not sent the
    // hang-up the kernel sends to a stopped group left without a parent in the session.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    dataDir.skipOnboarding();
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    HostileProgram owner;
    ASSERT_TRUE(owner.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER), {QStringLiteral("html-unmatched")}));
    QList<qint64> converters;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !(converters = childProcesses(lumra.processId(), "lumra-html-cvt")).isEmpty(); }, 20000))
        << "no converter past its start";

    // Stopped, it cannot end by itself (its answer failing once Lumra is gone, say): only the
    // signal it asked for at its parent's death ends it.
    const qint64 converter = converters.first();
    ::kill(pid_t(converter), SIGSTOP);
    lumra.killOutright();
    EXPECT_TRUE(QTest::qWaitFor([&] { return processGone(converter); }, 10000)) << "the converter outlived Lumra";
    ::kill(pid_t(converter), SIGKILL);
    ::waitpid(pid_t(converter), nullptr, 0);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

} // namespace

namespace {

// Lumra and a hostile owner, each in a process of its own.
class ClipboardOwnerX11Test : public RunningLumraTest {
protected:
    void startLumra()
    {
        dataDir.skipOnboarding();
        ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    }
    void startLumraAndOwner(const char* mode)
    {
        ASSERT_NO_FATAL_FAILURE(startLumra());
        ASSERT_TRUE(owner.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER), {QString::fromLatin1(mode)}));
    }

    RunningLumra lumra;
    HostileProgram owner;
};

// One program window takes the clipboard again while Lumra reads its first copy, in the middle of
// the read, right after its last answer (whose bytes are the second copy's) or in the middle of an
// incremental transfer: the second copy, marked for a password manager, must not be stored under
// the first copy's offer, neither its text nor its HTML.
class OwnerTakesTheClipboardAgainX11Test : public ClipboardOwnerX11Test,
                                           public ::testing::WithParamInterface<const char*> { };

TEST_P(OwnerTakesTheClipboardAgainX11Test, NothingOfTheSecondCopyIsStored)
{
    ASSERT_NO_FATAL_FAILURE(startLumraAndOwner(GetParam()));
    ASSERT_TRUE(owner.waitForOutput("RETAKEN", 10000)) << lumra.output().toStdString();

    const QString support = dataDir.supportFolder();
    const auto secretStored = [&] {
        return storedColumnContains(support, "textContent", "copy two")
            || storedColumnContains(support, "rtfData", "copy two");
    };
    // The first copy's read ends refused, or stored with what it read, rich text and all. A refusal
    // that follows another report within 5 s is told in the summary that comes after them.
    const auto ended = [&] {
        return lumra.output().contains(QStringLiteral("not read:"))
            || lumra.output().contains(QStringLiteral("not handed over by their owner")) || secretStored();
    };
    EXPECT_TRUE(QTest::qWaitFor(ended, 20000))
        << lumra.output().toStdString();
    EXPECT_FALSE(secretStored()) << lumra.output().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Owners, OwnerTakesTheClipboardAgainX11Test,
                         ::testing::Values("retake-at-targets", "retake-at-text", "retake-in-answer", "retake-in-incr"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

// A program copies a text and soon after copies the same text again marked for a password manager:
// the text is a secret, and no row keeps it, however the two fall against Lumra's read. The program
// marks it on the same window within 20 ms, or from a second X connection of its own within 5 ms,
// right after handing the text over, or 10 ms after handing it over late.
struct Remark {
    const char* mode;
    const char* withinMs;
    const char* text;
};

void PrintTo(const Remark& r, std::ostream* os) { *os << r.mode; }

class TextMarkedRightAfterX11Test : public ClipboardOwnerX11Test, public ::testing::WithParamInterface<Remark> { };

TEST_P(TextMarkedRightAfterX11Test, IsNotStored)
{
    const Remark& remark = GetParam();
    ASSERT_NO_FATAL_FAILURE(startLumra());
    for (int i = 0; i < 10; ++i) {
        HostileProgram marking;
        ASSERT_TRUE(marking.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER),
                                  {QString::fromLatin1(remark.mode), QString::number(i), QString::fromLatin1(remark.withinMs)}));
        ASSERT_TRUE(marking.waitForOutput("RETAKEN", 10000)) << lumra.output().toStdString();
        // A copy made next is stored after Lumra has settled the marked one.
        const QString next = QStringLiteral("copied after marked copy %1").arg(i);
        ASSERT_TRUE(xclipCopy(next.toUtf8()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).contains(next); }, 10000))
            << lumra.output().toStdString();
    }
    EXPECT_FALSE(storedColumnContains(dataDir.supportFolder(), "textContent", remark.text))
        << storedTexts(dataDir.supportFolder()).join(QLatin1String(" | ")).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Owners, TextMarkedRightAfterX11Test,
                         ::testing::Values(Remark {"remark-soon", "20", "marked at once"},
                                           Remark {"remark-elsewhere", "5", "marked elsewhere"},
                                           Remark {"remark-elsewhere-at-text", "5", "marked elsewhere"},
                                           Remark {"remark-elsewhere-after-slow-text", "10", "marked elsewhere"}),
                         [](const ::testing::TestParamInfo<Remark>& info) {
                             std::string name = info.param.mode;
                             std::erase(name, '-');
                             return name;
                         });

// A password manager marks the text it has just offered 60 to 140 ms later,
// from the same connection, from a second one, or from a helper process it forked: whichever
// program marks it, no row keeps the text. A round the machine stretched past the settle window
// since the owner's last answer is made again.
TEST_F(ClipboardOwnerX11Test, ATextMarkedSecretWithinTheSettleWindowIsNotStored)
{
    ASSERT_NO_FATAL_FAILURE(startLumra());
    QStringList secrets;
    int attempt = 0;
    for (const char* mode : {"remark-soon", "remark-elsewhere", "remark-forked"}) {
        for (int delay : {60, 80, 100, 140}) {
            for (int round = 0; round < 2; ++round) {
                for (bool held = false; !held;) {
                    ASSERT_LT(++attempt, 100) << "the machine never made a round within the window";
                    HostileProgram marking;
                    ASSERT_TRUE(marking.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER),
                                              {QString::fromLatin1(mode), QString::number(attempt),
                                               QStringLiteral("=%1").arg(delay)}));
                    ASSERT_TRUE(marking.waitForOutput("MARKED", 10000)) << lumra.output().toStdString();
                    const QRegularExpressionMatch since
                        = QRegularExpression(QStringLiteral("MARKED (\\d+)")).match(QString::fromLatin1(marking.output()));
                    ASSERT_TRUE(since.hasMatch());
                    held = since.captured(1).toInt() < lumra::OfferLimits::concealedCopyWithin.count();
                    if (held)
                        secrets << QStringLiteral("%1 %2").arg(std::strcmp(mode, "remark-soon") == 0 ? "marked at once" : "marked elsewhere")
                                       .arg(attempt);
                    // Lumra is done with both once it stored the next copy.
                    const QString next = QStringLiteral("copied after marked copy %1").arg(attempt);
                    ASSERT_TRUE(xclipCopy(next.toUtf8()));
                    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).contains(next); }, 10000))
                        << lumra.output().toStdString();
                }
            }
        }
    }
    const QStringList stored = storedTexts(dataDir.supportFolder());
    for (const QString& secret : std::as_const(secrets))
        EXPECT_FALSE(stored.contains(secret)) << secret.toStdString();
}

// Twenty programs copy one right after the other, each exiting once the next takes the clipboard, as
// xclip does: the server hands a gone program's client number to the next one to connect, yet every
// copy is another program's, and every one is stored.
TEST_F(ClipboardOwnerX11Test, QuickCopiesOfSeparateProgramsAreAllStored)
{
    ASSERT_NO_FATAL_FAILURE(startLumraAndOwner("burst"));
    ASSERT_TRUE(owner.waitForOutput("BURST DONE", 60000)) << lumra.output().toStdString();
    const auto stored = [&] {
        QStringList burst = storedTexts(dataDir.supportFolder()).filter(QStringLiteral("burst copy"));
        burst.sort();
        return burst;
    };
    QStringList expected;
    for (int i = 1; i <= 20; ++i)
        expected.append(QStringLiteral("burst copy %1").arg(i));
    expected.sort();
    EXPECT_TRUE(QTest::qWaitFor([&] { return stored() == expected; }, 20000))
        << stored().join(QLatin1String(" | ")).toStdString() << "\n" << lumra.output().toStdString();
}

// A program whose second copy follows its first at once, on another window, and that dies of X
// errors as most programs do: Lumra's read of the first copy must not kill it.
TEST_F(ClipboardOwnerX11Test, TwoQuickCopiesOfAProgramThatDiesOfXErrorsAreBothSafe)
{
    ASSERT_NO_FATAL_FAILURE(startLumraAndOwner("twice"));
    ASSERT_TRUE(owner.waitForOutput("RETAKEN", 10000)) << lumra.output().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return storedTexts(dataDir.supportFolder()).contains(QStringLiteral("second of two quick copies")); },
        10000))
        << lumra.output().toStdString();
    EXPECT_TRUE(owner.running()) << "the owner died of an X error";
}

// An owner that hands its text over at once and its HTML never (a slow program with a large rich
// form): the text is stored without it, and the log names what was left out.
TEST_F(ClipboardOwnerX11Test, ARichFormPastTheDeadlineLeavesTheTextStored)
{
    ASSERT_NO_FATAL_FAILURE(startLumraAndOwner("trickle-rich"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return storedTexts(dataDir.supportFolder()).contains(QStringLiteral("copied by a hostile owner: trickle-rich")); },
        20000))
        << lumra.output().toStdString();
    EXPECT_TRUE(lumra.waitForOutput(QStringLiteral("Copy read without its text/html"), 10000)) << lumra.output().toStdString();
}

// An owner that answers after Lumra stopped waiting must find Lumra's window still there.
TEST_F(ClipboardOwnerX11Test, AnOwnerThatAnswersTooLateLivesOn)
{
    ASSERT_NO_FATAL_FAILURE(startLumraAndOwner("late"));
    EXPECT_TRUE(owner.waitForOutput("ANSWERED", 10000)) << lumra.output().toStdString();
    EXPECT_TRUE(owner.running()) << "the owner died of an X error";
}

// An owner that lists its types and exits before its text is read: the log says so.
TEST_F(ClipboardOwnerX11Test, AnOwnerThatExitsMidReadIsLoggedAsGone)
{
    ASSERT_NO_FATAL_FAILURE(startLumraAndOwner("once"));
    EXPECT_TRUE(lumra.waitForOutput(QStringLiteral("went away"), 10000)) << lumra.output().toStdString();
    EXPECT_FALSE(lumra.output().contains(QStringLiteral("changed while it was read"))) << lumra.output().toStdString();
}

// Six owners that answer slowly take the clipboard one after the other: the last two are still asked, and
// the last one's copy, which stays on the clipboard, is stored.
TEST_F(ClipboardOwnerX11Test, SlowOwnersInQuickSuccessionDoNotHideTheLastCopies)
{
    ASSERT_NO_FATAL_FAILURE(startLumra());
    std::array<HostileProgram, 6> owners;
    for (size_t i = 0; i < owners.size(); ++i) {
        ASSERT_TRUE(owners[i].start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER),
                                    {QStringLiteral("slow"), QStringLiteral("number %1").arg(i + 1)}));
        // The next takes the clipboard once Lumra has seen this one, while it is still answering.
        if (i + 1 < owners.size())
            ASSERT_TRUE(owners[i].waitForOutput("ASKED", 10000)) << lumra.output().toStdString();
    }
    const QString last = QStringLiteral("copied by a hostile owner: slow number 6");
    EXPECT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).contains(last); }, 10000))
        << lumra.output().toStdString();
    EXPECT_TRUE(owners[4].waitForOutput("ASKED", 1000)) << "owner 5 was never asked";
    EXPECT_TRUE(owners[5].waitForOutput("ASKED", 1000)) << "owner 6 was never asked";
}

} // namespace
