#include "platform/workspace/FileManager.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace lumra {
namespace {

// With no file manager on the session bus, the folder goes to the program the desktop names for
// folders; with none named, the caller hears that the files can't be shown.
class DesktopFileManagerTest : public testing::Test {
protected:
    void SetUp() override
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected() && bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.FileManager1")))
            GTEST_SKIP() << "a real file manager answers on this session bus";
        ASSERT_TRUE(tools.isValid());
        savedPath = qgetenv("PATH");
        qputenv("PATH", tools.path().toUtf8() + ':' + savedPath);
    }
    void TearDown() override { qputenv("PATH", savedPath); }

    void script(const char* name, const QByteArray& body)
    {
        QFile file(tools.filePath(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + body + "\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QTemporaryDir tools;
    QTemporaryDir files;
    QByteArray savedPath;
};

TEST_F(DesktopFileManagerTest, AFolderProgramShowsTheFolderAndNoneIsReported)
{
    const QString opened = tools.filePath(QStringLiteral("opened"));
    // Written aside and renamed, so the file is whole once it exists.
    script("xdg-open", "echo \"$1\" > '" + opened.toUtf8() + ".part' && mv '" + opened.toUtf8() + ".part' '" + opened.toUtf8() + "'");
    const QUrl file = QUrl::fromLocalFile(files.filePath(QStringLiteral("report.txt")));
    DesktopFileManager manager;

    script("xdg-mime", "echo org.example.Files.desktop");
    bool unavailable = false;
    manager.showItems({file}, [&] { unavailable = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(opened); }, 10000));
    QFile result(opened);
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(result.readAll()).trimmed(), files.path());
    QTest::qWait(100);
    EXPECT_FALSE(unavailable);

    QFile::remove(opened);
    script("xdg-mime", "exit 0"); // no program is named for folders
    manager.showItems({file}, [&] { unavailable = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return unavailable; }, 10000));
    EXPECT_FALSE(QFile::exists(opened));
}

} // namespace
} // namespace lumra
