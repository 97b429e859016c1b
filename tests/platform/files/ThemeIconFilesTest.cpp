#include "platform/files/IconFiles.h"

#include "FifoWatchdog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace lumra;

namespace {

// Two icon folders as a desktop has them: the user's, where any program may write, and the
// system's; theme "Mine" inherits "Base", every theme falls back to hicolor, then to "pixmaps".
class ThemeIconFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        theme(m_system.filePath("icons/Mine"), "Mine", "Base", {"48x48/apps", "scalable/apps"});
        theme(m_system.filePath("icons/Base"), "Base", "", {"32x32/mimetypes"});
        theme(m_system.filePath("icons/hicolor"), "Hicolor", "", {"48x48/apps", "16x16/mimetypes"});
        ASSERT_TRUE(QDir().mkpath(m_user.filePath("icons/hicolor/48x48/apps")));
        ASSERT_TRUE(QDir().mkpath(m_system.filePath("pixmaps")));
        file(m_system.filePath("icons/Mine/48x48/apps/editor.png"));
        file(m_system.filePath("icons/hicolor/16x16/mimetypes/text-x-generic.svg"));
        search = {QStringLiteral("Mine"), QStringLiteral("Base"), {m_user.filePath("icons"), m_system.filePath("icons")},
                  {m_system.filePath("pixmaps")}};
    }

    static void file(const QString& path)
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly)) << path.toStdString();
        out.write("picture");
    }
    static void theme(const QString& folder, const char* name, const char* inherits, const QStringList& folders)
    {
        for (const QString& sub : folders)
            ASSERT_TRUE(QDir().mkpath(folder + '/' + sub));
        QByteArray index = QByteArray("[Icon Theme]\nName=") + name + "\nInherits=" + inherits
            + "\nDirectories=" + folders.join(',').toUtf8() + "\n";
        for (const QString& sub : folders)
            index += "\n[" + sub.toUtf8() + "]\nSize=48\nType=Fixed\n";
        QFile out(folder + "/index.theme");
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(index);
    }
    // A FIFO planted at `path` for the length of the test; a check that opened it would trip it.
    void plant(const QString& path)
    {
        m_fifos.push_back(std::make_unique<test::FifoWatchdog>(path, std::chrono::milliseconds(500)));
        ASSERT_TRUE(m_fifos.back()->made()) << path.toStdString();
    }
    void TearDown() override
    {
        for (const auto& fifo : m_fifos)
            EXPECT_FALSE(fifo->tripped()) << "the check opened a FIFO";
    }

    QTemporaryDir m_user;
    QTemporaryDir m_system;
    IconThemeSearch search;
    std::vector<std::unique_ptr<test::FifoWatchdog>> m_fifos;
};

TEST_F(ThemeIconFilesTest, RegularAndMissingFilesPass)
{
    EXPECT_TRUE(themeIconFilesAreRegular("editor", search));
    EXPECT_TRUE(themeIconFilesAreRegular("text-x-generic", search));
    EXPECT_TRUE(themeIconFilesAreRegular("not-installed", search));
    EXPECT_FALSE(themeIconFilesAreRegular("", search));
    EXPECT_FALSE(themeIconFilesAreRegular("../../editor", search)) << "a name is no path";
}

// Wherever the theme could find a picture for the name, a FIFO there refuses it, and only it.
TEST_F(ThemeIconFilesTest, AFifoWhereTheThemeLooksRefusesThatName)
{
    struct Case {
        const char* planted; // relative to the user's or the system's folder
        bool user;
        const char* refused;
    };
    const Case cases[] = {
        {"icons/hicolor/48x48/apps/tool.png", true, "tool"}, // the user's folder of an inherited theme
        {"icons/Mine/scalable/apps/drawing.svg", false, "drawing"},
        {"icons/Base/32x32/mimetypes/text-x-script.png", false, "text-x-script"}, // inherited
        {"icons/hicolor/16x16/mimetypes/text-x.png", false, "text-x-python"}, // a shorter form of the name
        {"pixmaps/legacy.xpm", false, "legacy"}, // the fallback folders
    };
    for (const Case& c : cases)
        plant((c.user ? m_user : m_system).filePath(c.planted));
    for (const Case& c : cases)
        EXPECT_FALSE(themeIconFilesAreRegular(c.refused, search)) << c.planted;
    EXPECT_TRUE(themeIconFilesAreRegular("editor", search));
    EXPECT_TRUE(themeIconFilesAreRegular("text-y", search));
}

TEST_F(ThemeIconFilesTest, AFifoForAThemesIndexOrCacheRefusesEveryName)
{
    plant(m_user.filePath("icons/hicolor/icon-theme.cache"));
    EXPECT_FALSE(themeIconFilesAreRegular("editor", search));

    QTemporaryDir own;
    ASSERT_TRUE(QDir().mkpath(own.filePath("Other")));
    plant(own.filePath("Other/index.theme"));
    const IconThemeSearch other {QStringLiteral("Other"), {}, {own.path()}, {}};
    EXPECT_FALSE(themeIconFilesAreRegular("editor", other));
}

} // namespace
