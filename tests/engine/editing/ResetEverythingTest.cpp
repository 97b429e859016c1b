#include "engine/ResetEverything.h"

#include "platform/cloud/SyncFiles.h"
#include "platform/cloud/SyncFolderKeyValueStore.h"
#include "platform/core/Folders.h"
#include "platform/login/LoginItem.h"

#include "EditingTestSupport.h"

#include <QDir>
#include <QFile>

using namespace lumra;
using namespace lumra::test;

namespace {

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
}

class ResetEverythingTest : public EditingTest {};

TEST_F(ResetEverythingTest, RemovesLumrasDataAndNothingBeside)
{
    EditingManager& m = open();
    store({text("a secret")});
    AutostartLoginItem login;
    ASSERT_TRUE(login.setEnabled(true).ok());
    const QString home = dataDir.root();
    const QStringList ours {Folders::supportFolder() + "/Lumra.sqlite", Folders::configFolder() + "/settings.json",
                            Folders::cacheFolder() + "/file-thumbnails/a.png",
                            qEnvironmentVariable("XDG_RUNTIME_DIR") + "/lumra/LumraPaste/b.png",
                            AutostartLoginItem::defaultEntryPath()};
    const QStringList decoys {home + "/data/decoy.txt", home + "/config/autostart/other.desktop",
                              home + "/cache/other-app/c.png", home + "/runtime/other/d"};
    for (const QString& path : ours.mid(1, 3) + decoys)
        touch(path);
    for (const QString& path : ours)
        ASSERT_TRUE(QFileInfo::exists(path)) << path.toStdString();

    const DataResetReport report = resetEverything(m, login);
    EXPECT_TRUE(report.refused.isEmpty());
    EXPECT_TRUE(report.failed.isEmpty());
    for (const QString& path : ours)
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    for (const QString& path : decoys)
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();

    // Nothing is written afterwards: neither settings nor the store come back.
    QFile::remove(defaults->filePath());
    m.setMaxItems(7);
    EXPECT_FALSE(defaults->flush().ok() && QFileInfo::exists(defaults->filePath()));
    manager.reset();
    defaults.reset();
    EXPECT_FALSE(QFileInfo::exists(home + "/config/settings.json"));
    EXPECT_FALSE(QFileInfo::exists(dataDir.supportFolder()));
}

TEST_F(ResetEverythingTest, RefusesEveryFolderThatIsNotLumrasOwn)
{
    const QString home = dataDir.root();
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home));
    touch(home + "/keep.txt");
    touch(home + "/data/keep.txt");
    QDir().mkpath(home + "/elsewhere/Lumra");
    touch(home + "/elsewhere/Lumra/inside.txt");
    QFile::link(home + "/elsewhere/Lumra", home + "/data/Lumra"); // a planted link
    const DataResetReport report = removeLumraData(
        {{QString(), "/", home, home + "/data", "relative/Lumra", QDir::rootPath() + "Lumra/../..", home + "/data/Lumra"}});
    EXPECT_EQ(report.refused.size(), 6);
    EXPECT_EQ(report.removed, QStringList {home + "/data/Lumra"});
    EXPECT_TRUE(QFileInfo::exists(home + "/keep.txt"));
    EXPECT_TRUE(QFileInfo::exists(home + "/data/keep.txt"));
    EXPECT_TRUE(QFileInfo::exists(home + "/elsewhere/Lumra/inside.txt")) << "the link went, not what it points at";
    qputenv("HOME", savedHome);
}

TEST_F(ResetEverythingTest, NeverRemovesTheHomeFolderOrOneAboveItEvenWhenNamedLumra)
{
    // Names alone would pass these: only the home check stands between them and the user's files.
    const QString above = dataDir.root() + "/Lumra";
    const QString home = above + "/lumra";
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home));
    touch(home + "/Documents/thesis.txt");
    const DataResetReport report = removeLumraData({{home, home + "/", above}});
    qputenv("HOME", savedHome);
    EXPECT_EQ(report.refused.size(), 3);
    EXPECT_TRUE(report.removed.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(home + "/Documents/thesis.txt"));
}

TEST_F(ResetEverythingTest, OtherComputersReadThisOnesSyncedSettingsAsNeverSetNotAsZero)
{
    const QString root = dataDir.root() + "/sync/Lumra";
    QDir().mkpath(root);
    const QUuid self = QUuid::createUuid(), other = QUuid::createUuid();
    SyncFolderKeyValueStore here(clock), there(clock);
    here.setFolder(root, self);
    there.setFolder(root, other);
    there.setObject("maxItems", qint64(300));
    ASSERT_TRUE(there.synchronize());
    clock.advance(std::chrono::seconds(1));
    here.setObject("maxItems", qint64(500));
    ASSERT_TRUE(here.synchronize());
    there.rescan();
    ASSERT_EQ(there.object("maxItems").toLongLong(), 500);

    here.forgetThisComputer();
    there.rescan();
    EXPECT_EQ(there.object("maxItems").toLongLong(), 300) << "its own value again, not a removal";
    EXPECT_FALSE(QFileInfo::exists(sync::SyncFiles::settingsPath(sync::SyncFiles::deviceFolder(root, self))));
}

} // namespace
