// A second `lumra` (a key bound to the command, where no program may grab keys) toggles the popup
// of the one running; a socket left by a crash does not stop a start; another program flooding the
// socket with requests costs the popup and the captures nothing. Each runs as a process of its own.
#include "DesktopTools.h"
#include "HostileOwners.h"
#include "StoredTexts.h"
#include "TempDataDir.h"
#include "Xclip.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "platform/defaults/UserDefaults.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QThread>
#include <QStandardPaths>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace lumra::test;
using lumra::ClipboardItem;
using lumra::PersistenceController;
using lumra::UserDefaults;

class HandOverX11Test : public RunningLumraTest {
protected:
    void SetUp() override
    {
        RunningLumraTest::SetUp();
        dataDir.skipOnboarding();
    }

    QString socketPath() const
    {
        return dataDir.runtimeDir() + QStringLiteral("/lumra/lumra-%1.socket").arg(::getuid());
    }

    // A history long enough that opening the popup costs what it costs a user who keeps one.
    void seedHistory(int count)
    {
        UserDefaults defaults(dataDir.settingsFile());
        defaults.set(QStringLiteral("iCloudSyncEnabled"), false);
        defaults.set(QStringLiteral("maxItems"), count * 2);
        PersistenceController persistence(false, nullptr, dataDir.supportFolder());
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < count; ++i) {
            ClipboardItem item;
            item.id = QUuid::createUuid();
            item.textContent = QStringLiteral("an older copy, number %1").arg(i);
            item.dateAdded = now.addSecs(-60 - i);
            populateManagedItem(*persistence.viewContext().insert(lumra::store::EntityKind::item), item);
        }
        ASSERT_TRUE(persistence.save().ok());
    }

    static bool popupBecomes(bool shown)
    {
        return QTest::qWaitFor([&] { return popupShown() == shown; }, 20000);
    }
};

TEST_F(HandOverX11Test, ASecondLumraTogglesThePopupWithOrWithoutArguments)
{
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    ASSERT_TRUE(RunningLumra::askToTogglePopup());
    EXPECT_TRUE(popupBecomes(true));
    // Qt's own arguments take the long road, to the same end.
    ASSERT_TRUE(RunningLumra::askToTogglePopup({QStringLiteral("-platform"), QStringLiteral("xcb")}));
    EXPECT_TRUE(popupBecomes(false));
    ASSERT_TRUE(RunningLumra::askToTogglePopup());
    EXPECT_TRUE(popupBecomes(true));
}

TEST_F(HandOverX11Test, ASocketLeftByACrashDoesNotStopTheStart)
{
    // A socket file nobody listens on any more.
    const QByteArray path = QFile::encodeName(socketPath());
    ASSERT_TRUE(QDir().mkpath(dataDir.runtimeDir() + QStringLiteral("/lumra")));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    ASSERT_TRUE(RunningLumra::askToTogglePopup());
    EXPECT_TRUE(popupBecomes(true));
}

TEST_F(HandOverX11Test, AFloodOfRequestsOnTheSocketHoldsUpNeitherCopiesNorThePopup)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        GTEST_SKIP() << "python3 is not installed";
    seedHistory(20000);
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    QThread::msleep(1000); // the history has loaded
    const qint64 before = lumra.residentBytes();

    QProcess flood;
    flood.start(python, {"-c",
                         "import socket, sys\n"
                         "s = socket.socket(socket.AF_UNIX)\n"
                         "s.connect(sys.argv[1])\n"
                         "try: s.sendall(b'toggle-popup\\n' * 20000)\n"
                         "except OSError: pass\n",
                         socketPath()});
    ASSERT_TRUE(flood.waitForStarted());
    const QString copied = QStringLiteral("copied while the socket is flooded");
    ASSERT_TRUE(xclipCopy(copied.toUtf8()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return storedTexts(dataDir.supportFolder()).contains(copied); }, 10000))
        << lumra.output().toStdString();
    // It may be done already (Lumra closes a connection that keeps sending); waiting on a finished
    // process reports failure.
    if (flood.state() != QProcess::NotRunning)
        ASSERT_TRUE(flood.waitForFinished(20000));
    EXPECT_EQ(flood.exitCode(), 0) << flood.readAllStandardError().toStdString();

    // Whatever the flood left, each start toggles the popup once.
    QTest::qWait(500);
    const bool shown = popupShown();
    for (bool expected : {!shown, shown}) {
        ASSERT_TRUE(RunningLumra::askToTogglePopup());
        EXPECT_TRUE(popupBecomes(expected));
    }
    // Opening the popup thousands of times leaves hundreds of megabytes with the allocator.
    EXPECT_LT(lumra.residentBytes() - before, qint64(100) * 1024 * 1024) << "the flood opened the popup over and over";
    EXPECT_TRUE(lumra.running());
}

} // namespace

TEST_F(HandOverX11Test, HelpVersionAndUnknownArgumentsAreAnsweredNotHandedOver)
{
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    const auto run = [](const QString& argument) {
        QProcess command;
        command.setProcessEnvironment(RunningLumra::environment());
        command.start(RunningLumra::program(), {argument});
        EXPECT_TRUE(command.waitForFinished(20000));
        return std::make_tuple(command.exitCode(), QString::fromUtf8(command.readAllStandardOutput()),
                               QString::fromUtf8(command.readAllStandardError()));
    };
    const auto [helpCode, help, helpErrors] = run(QStringLiteral("--help"));
    EXPECT_EQ(helpCode, 0);
    EXPECT_TRUE(help.startsWith(QStringLiteral("Usage: lumra"))) << help.toStdString() << helpErrors.toStdString();
    const auto [versionCode, version, versionErrors] = run(QStringLiteral("--version"));
    EXPECT_EQ(versionCode, 0);
    EXPECT_TRUE(version.startsWith(QStringLiteral("lumra "))) << version.toStdString() << versionErrors.toStdString();
    const auto [unknownCode, unknownOut, unknown] = run(QStringLiteral("--frobnicate"));
    EXPECT_EQ(unknownCode, 2);
    EXPECT_TRUE(unknown.contains(QStringLiteral("unknown argument '--frobnicate'"))) << unknown.toStdString();
    // Where there is no display at all, the argument is named all the same, not lost in Qt's abort.
    QProcess displayless;
    QProcessEnvironment environment = RunningLumra::environment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    displayless.setProcessEnvironment(environment);
    displayless.start(RunningLumra::program(), {QStringLiteral("--bogus")});
    ASSERT_TRUE(displayless.waitForFinished(20000));
    EXPECT_EQ(displayless.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(displayless.exitCode(), 2);
    const QString displaylessErrors = QString::fromUtf8(displayless.readAllStandardError());
    EXPECT_TRUE(displaylessErrors.contains(QStringLiteral("unknown argument '--bogus'"))) << displaylessErrors.toStdString();
    // None of them toggled the popup: the next real request opens it.
    ASSERT_TRUE(RunningLumra::askToTogglePopup());
    EXPECT_TRUE(popupBecomes(true));
}
