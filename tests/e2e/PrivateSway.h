#pragma once

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

namespace lumra::test {

// A headless Sway of the test's own, which it may kill and start again in the same runtime
// folder, where the new one takes the same socket name. Started as scripts/sway.sh starts the
// shared one: under root as the user lumra-test, since Sway refuses to run as root.
class PrivateSway {
public:
    PrivateSway()
    {
        QFile::setPermissions(m_folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                   | QFileDevice::ReadOther | QFileDevice::ExeOther);
        QDir(m_folder.path()).mkdir(QStringLiteral("runtime"));
        QFile config(m_folder.filePath(QStringLiteral("config")));
        if (config.open(QIODevice::WriteOnly))
            config.write("xwayland disable\noutput HEADLESS-1 resolution 1280x800\n");
        config.close();
        config.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        if (::getuid() == 0)
            QProcess::execute(QStringLiteral("chown"), {QStringLiteral("lumra-test:"), runtime()});
    }
    ~PrivateSway() { kill(); }

    static bool available()
    {
        return ::getuid() != 0 || ::getpwnam("lumra-test");
    }

    // True once it accepts connections on its socket.
    bool start()
    {
        QStringList command;
        if (::getuid() == 0)
            command << "setpriv" << "--reuid=lumra-test" << "--regid=lumra-test" << "--clear-groups";
        command << "env" << "-i" << "PATH=/usr/bin:/bin" << "HOME=/nonexistent" << "XDG_RUNTIME_DIR=" + runtime()
                << "WLR_BACKENDS=headless" << "WLR_LIBINPUT_NO_DEVICES=1" << "WLR_RENDERER=pixman" << "sway" << "-c"
                << m_folder.filePath(QStringLiteral("config"));
        m_sway.setWorkingDirectory(m_folder.path());
        m_sway.setProcessChannelMode(QProcess::MergedChannels);
        m_sway.setStandardOutputFile(m_folder.filePath(QStringLiteral("sway.log")), QIODevice::Append);
        m_sway.start(command.takeFirst(), command);
        if (!m_sway.waitForStarted())
            return false;
        // A killed Sway leaves its socket file behind: only a connection tells the new one is there.
        return QTest::qWaitFor(
            [&] {
                m_socket.clear();
                for (const QString& name : QDir(runtime()).entryList({QStringLiteral("wayland-*")}, QDir::System)) {
                    if (!name.endsWith(QLatin1String(".lock")))
                        m_socket = runtime() + QLatin1Char('/') + name;
                }
                QLocalSocket probe;
                probe.connectToServer(m_socket);
                return m_sway.state() == QProcess::Running && probe.waitForConnected(100);
            },
            20000);
    }
    // Ends it as a crash does: it cleans nothing up.
    void kill()
    {
        if (m_sway.state() == QProcess::NotRunning)
            return;
        m_sway.kill();
        m_sway.waitForFinished();
    }
    QString socket() const { return m_socket; }
    QString log() const
    {
        QFile file(m_folder.filePath(QStringLiteral("sway.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QString runtime() const { return m_folder.filePath(QStringLiteral("runtime")); }

    QTemporaryDir m_folder;
    QProcess m_sway;
    QString m_socket;
};

} // namespace lumra::test
