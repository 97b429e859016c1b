#include "platform/core/Folders.h"

#include "TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

using lumra::test::DataDirTest;
namespace Folders = lumra::Folders;

namespace {
int modeOf(const QString& path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}
} // namespace

using FoldersTest = DataDirTest;

TEST_F(FoldersTest, CreatesTheXdgFoldersPrivately)
{
    EXPECT_EQ(Folders::supportFolder(), dataDir.dataHome() + "/Lumra");
    EXPECT_EQ(Folders::configFolder(), dataDir.configHome() + "/Lumra");
    EXPECT_EQ(Folders::cacheFolder(), dataDir.cacheHome() + "/Lumra");
    for (const QString& path : {Folders::supportFolder(), Folders::configFolder(), Folders::cacheFolder()}) {
        EXPECT_TRUE(QFileInfo(path).isDir()) << path.toStdString();
        EXPECT_EQ(modeOf(path), 0700) << path.toStdString();
    }
}

TEST_F(FoldersTest, PrivateTempFolderLivesInTheRuntimeFolder)
{
    auto temp = Folders::privateTempFolder();
    ASSERT_TRUE(temp.ok()) << temp.error().toStdString();
    EXPECT_EQ(temp.value(), dataDir.runtimeDir() + "/lumra");
    EXPECT_EQ(modeOf(temp.value()), 0700);

    auto paste = Folders::privateTempSubfolder("LumraPaste");
    ASSERT_TRUE(paste.ok());
    EXPECT_TRUE(QFileInfo(paste.value()).isDir());
}

TEST_F(FoldersTest, ExistingLooseFolderIsTightenedTo0700)
{
    const QString path = dataDir.runtimeDir() + "/lumra";
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), 0755);
    ASSERT_TRUE(Folders::privateTempFolder().ok());
    EXPECT_EQ(modeOf(path), 0700);
}

TEST_F(FoldersTest, RefusesATemporaryFolderThatIsALink)
{
    const QString elsewhere = dataDir.root() + "/elsewhere";
    QDir().mkpath(elsewhere);
    ASSERT_TRUE(QFile::link(elsewhere, dataDir.runtimeDir() + "/lumra"));
    auto temp = Folders::privateTempFolder();
    EXPECT_FALSE(temp.ok());
    EXPECT_TRUE(temp.error().contains("link"));
}

TEST_F(FoldersTest, RefusesAFileWhereTheFolderShouldBe)
{
    QFile file(dataDir.runtimeDir() + "/lumra");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_FALSE(Folders::privateTempFolder().ok());
}

TEST_F(FoldersTest, FallsBackToTheCacheFolderWithoutARuntimeFolder)
{
    qunsetenv("XDG_RUNTIME_DIR");
    auto temp = Folders::privateTempFolder();
    ASSERT_TRUE(temp.ok());
    EXPECT_TRUE(temp.value().startsWith(dataDir.cacheHome()));
}

TEST_F(FoldersTest, RelativeHomeAndXdgPathsAreIgnored)
{
    const QByteArray home = qgetenv("HOME");
    const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("HOME", "relative/home");
    EXPECT_TRUE(QDir::isAbsolutePath(Folders::homeFolder())) << Folders::homeFolder().toStdString();
    qputenv("HOME", QFile::encodeName(dataDir.root()));
    qputenv("XDG_DATA_HOME", "relative/data");
    qputenv("XDG_DATA_DIRS", "relative/share:/usr/share");
    EXPECT_EQ(Folders::supportFolder(), dataDir.root() + "/.local/share/Lumra");
    EXPECT_EQ(Folders::dataFolders(), (QStringList {dataDir.root() + "/.local/share", "/usr/share"}));
    qputenv("XDG_DATA_DIRS", dataDirs);
    qputenv("HOME", home);
}
