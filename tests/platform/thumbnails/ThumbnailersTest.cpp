#include "platform/thumbnails/SharedThumbnails.h"
#include "platform/thumbnails/Thumbnailers.h"

#include "TempDataDir.h"
#include "TestThumbnailer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTest>

using namespace lumra;
using namespace lumra::thumbnails;
using lumra::test::TestThumbnailer;

namespace {

QStringList split(const char* exec)
{
    return splitExec(QString::fromUtf8(exec)).value_or(QStringList { QStringLiteral("<none>") });
}

// The test thumbnailer as the index finds it, and a file for it to draw.
class ThumbnailerRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto index = ThumbnailerIndex::fromDataFolders({ installed.dataFolder() });
        const auto found = index.forMimeType(QString::fromLatin1(TestThumbnailer::mimeType));
        ASSERT_TRUE(found.has_value());
        thumbnailer = *found;
    }
    QString input(const QString& name) const
    {
        const QString path = files.filePath(name);
        TestThumbnailer::writeFile(path, "cartridge");
        return path;
    }

    TestThumbnailer installed;
    Thumbnailer thumbnailer;
    QTemporaryDir files;
};

} // namespace

TEST(ThumbnailersTest, ExecLinesSplitAsDesktopEntriesDoWithoutAShell)
{
    EXPECT_EQ(split("ffmpegthumbnailer -i %i  -o %o -s %s -f"),
        (QStringList { "ffmpegthumbnailer", "-i", "%i", "-o", "%o", "-s", "%s", "-f" }));
    EXPECT_EQ(
        split(R"("/opt/my tools/thumb" -s %s %u %o)"), (QStringList { "/opt/my tools/thumb", "-s", "%s", "%u", "%o" }));
    // Inside quotes \" \` \$ \\ stand for the character; the key file's own \\ comes first.
    EXPECT_EQ(
        split(R"(prog "say \\"hi\\" \\$HOME \\`x\\` a\\\\b")"), (QStringList { "prog", R"(say "hi" $HOME `x` a\b)" }));
    EXPECT_EQ(split(R"(prog a\sb)"), (QStringList { "prog", "a", "b" }));
    EXPECT_EQ(split(R"(prog ""empty)"), (QStringList { "prog", "empty" }));
    EXPECT_EQ(split("prog %u; rm -rf ~"), (QStringList { "prog", "%u;", "rm", "-rf", "~" })) << "no shell reads it";
    EXPECT_FALSE(splitExec(QStringLiteral(R"(prog "open)")).has_value());

    const QStringList args = expandExec(
        { "t", "-s", "%s", "%i", "%u", "%o", "x%s%%", "%f" }, "/a b/c.z64", "file:///a%20b/c.z64", "/out/t.png", 256);
    EXPECT_EQ(args, (QStringList { "t", "-s", "256", "/a b/c.z64", "file:///a%20b/c.z64", "/out/t.png", "x256%", "" }));
}

TEST(ThumbnailersTest, TheIndexFollowsDataFolderOrderAndTryExec)
{
    QTemporaryDir root;
    const auto install = [&](const QString& folder, const QString& name, const QByteArray& text) {
        QDir().mkpath(root.filePath(folder + "/thumbnailers"));
        TestThumbnailer::writeFile(root.filePath(folder + "/thumbnailers/" + name), text);
    };
    install(
        "home", "video.thumbnailer", "[Thumbnailer Entry]\nTryExec=sh\nExec=sh -c mine %i\nMimeType=video/x-mine;\n");
    install("system", "video.thumbnailer",
        "[Thumbnailer Entry]\nTryExec=sh\nExec=sh theirs %i\nMimeType=video/x-mine;video/x-hidden;\n");
    install("system", "gone.thumbnailer",
        "[Thumbnailer Entry]\nTryExec=/no/such/program\nExec=/no/such/program %i %o\nMimeType=image/x-gone;\n");
    install("system", "broken.thumbnailer", "[Thumbnailer Entry]\nExec=sh \"unclosed %i\nMimeType=image/x-broken;\n");
    install("system", "other.thumbnailer",
        "# A comment\n[Desktop Entry]\nExec=nothing\n[Thumbnailer Entry]\nExec=sh second "
        "%i\nMimeType=Video/X-Other;text/x-first;\n");

    const auto index = ThumbnailerIndex::fromDataFolders({ root.filePath("home"), root.filePath("system") });
    ASSERT_TRUE(index.forMimeType("video/x-mine"));
    EXPECT_EQ(index.forMimeType("video/x-mine")->exec, (QStringList { "sh", "-c", "mine", "%i" }))
        << "the earlier folder wins";
    EXPECT_FALSE(index.forMimeType("video/x-hidden")) << "the hidden file declares nothing";
    EXPECT_TRUE(index.forMimeType("video/x-other")) << "types compare without regard to case";
    EXPECT_FALSE(index.forMimeType("image/x-gone")) << "its program is not installed";
    EXPECT_FALSE(index.forMimeType("image/x-broken"));
    ASSERT_TRUE(index.forMimeType("TEXT/X-FIRST"));
    EXPECT_EQ(index.forMimeType("text/x-first")->exec.value(1), "second");
}

// The test thumbnailer is a script in a folder with a space, handed a file whose name would run a
// command in a shell; its picture comes back, and only the picture.
TEST_F(ThumbnailerRunTest, ARunHandsBackThePictureAndNothingElseRuns)
{
    const QString input = this->input("it's $(touch pwned) `touch pwned`.z64");

    const Result<QByteArray> png = runThumbnailer(thumbnailer, input, 128);
    ASSERT_TRUE(png) << png.error().toStdString();
    const Result<QImage> image = decodeThumbnailPng(*png);
    ASSERT_TRUE(image) << image.error().toStdString();
    EXPECT_EQ(image->size(), QSize(300, 150));
    EXPECT_EQ(installed.runs(),
        QStringList { "-s 128 " + fileUri(input) + " " + installed.runs().value(0).section(' ', -1) });
    EXPECT_FALSE(QFile::exists(files.filePath("pwned")));
    EXPECT_FALSE(QFile::exists(QDir::current().filePath("pwned")));

    installed.setMode(TestThumbnailer::Mode::fail);
    EXPECT_FALSE(runThumbnailer(thumbnailer, input, 128)) << "a failing exit status is no picture";

    installed.setMode(TestThumbnailer::Mode::picture);
    RunLimits small;
    small.maxOutputBytes = 100;
    const Result<QByteArray> tooBig = runThumbnailer(thumbnailer, input, 128, small);
    ASSERT_FALSE(tooBig);
    EXPECT_TRUE(tooBig.error().contains("too big")) << tooBig.error().toStdString();
}

// A thumbnailer that leaves a helper behind and exits at once takes the helper with it.
TEST_F(ThumbnailerRunTest, AHelperLeftBehindIsKilledWhenTheThumbnailerExits)
{
    installed.setMode(TestThumbnailer::Mode::detach);
    EXPECT_TRUE(runThumbnailer(thumbnailer, input("quick.z64"), 128));
    ASSERT_TRUE(QFile::exists(installed.folder() + "/helper"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !installed.helperAlive(); }, 5000))
        << "the helper it started was left running";
    // The process that held the group's id for the kill is reaped with the run, not left a zombie.
    siginfo_t ended {};
    EXPECT_TRUE(::waitid(P_ALL, 0, &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid == 0)
        << "an unreaped child " << ended.si_pid;
}

TEST_F(ThumbnailerRunTest, AThumbnailerPastItsTimeIsKilledWithItsHelpers)
{
    const QString input = this->input("slow.z64");
    installed.setMode(TestThumbnailer::Mode::hang);

    QElapsedTimer timer;
    timer.start();
    RunLimits limits;
    limits.timeout = std::chrono::milliseconds(700);
    EXPECT_FALSE(runThumbnailer(thumbnailer, input, 128, limits));
    EXPECT_GE(timer.elapsed(), 600);
    EXPECT_LT(timer.elapsed(), 20000); // ended near its limit, however busy the machine
    ASSERT_TRUE(QFile::exists(installed.folder() + "/helper"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !installed.helperAlive(); }, 2000))
        << "the helper it started was left running";

    // Quitting stops a run at once, long before its limit.
    std::atomic<bool> stop { true };
    RunLimits patient;
    patient.timeout = std::chrono::minutes(2);
    timer.restart();
    EXPECT_FALSE(runThumbnailer(thumbnailer, input, 128, patient, &stop));
    EXPECT_LT(timer.elapsed(), 30000);
}
