#include "app/SingleInstance.h"

#include "platform/core/Clock.h"
#include "platform/core/Folders.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QLoggingCategory>
#include <QDeadlineTimer>
#include <QThread>

#include <csignal>
#include <memory>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcInstance, "lumra.instance")

namespace lumra {

namespace {
constexpr int handOverAttempts = 5;
}

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent)
    , m_folder(std::move(folder))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName() { return QStringLiteral("lumra-%1.socket").arg(::getuid()); }

namespace {

// Alive and not a zombie waiting to be reaped.
bool isRunning(qint64 pid)
{
    if (pid <= 0 || ::kill(pid_t(pid), 0) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype afterName = line.lastIndexOf(')');
    return afterName < 0 || line.mid(afterName + 2, 1) != "Z";
}

} // namespace

Result<SingleInstance::Role> SingleInstance::claim(qint64 predecessor, std::chrono::milliseconds patience)
{
    if (m_server)
        return Role::primary;
    if (m_folder.isEmpty()) {
        auto folder = Folders::privateTempFolder();
        if (!folder)
            return Result<Role>::failure(folder.error());
        m_folder = folder.value();
    }

    // The lock decides who is primary; the socket is only the way in. A lock left by a process that
    // died is taken over by QLockFile, and a socket file it left behind is removed before listening.
    auto lock = std::make_unique<QLockFile>(serverPath() + QStringLiteral(".lock"));
    lock->setStaleLockTime(0);
    bool locked = lock->tryLock();
    const QDeadlineTimer deadline(patience);
    while (!locked && lock->error() == QLockFile::LockFailedError && isRunning(predecessor) && !deadline.hasExpired()) {
        QThread::msleep(50);
        locked = lock->tryLock();
    }
    if (!locked && predecessor > 0 && !isRunning(predecessor))
        locked = lock->tryLock(); // it ended between the last try and the check
    if (locked) {
        m_lock = std::move(lock);
        // The lock alone keeps a second Lumra out; without the socket it just cannot hand over.
        if (Status s = listen(); !s)
            qCWarning(lcInstance).noquote() << s.error() << "- a later start cannot open this Lumra's popup";
        return Role::primary;
    }
    if (lock->error() != QLockFile::LockFailedError)
        return Result<Role>::failure(QStringLiteral("Could not create the lock %1").arg(serverPath()));

    // The primary may be between taking the lock and listening.
    for (int attempt = 0; attempt < handOverAttempts; ++attempt) {
        if (handOver())
            return Role::handedOver;
        QThread::msleep(200);
    }
    return Result<Role>::failure(QStringLiteral("Lumra is already running but does not answer"));
}

Status SingleInstance::listen()
{
    const QString path = serverPath();
    QLocalServer::removeServer(path);
    if (QFile::exists(path) && !QFile::remove(path))
        return Status::failure(QStringLiteral("Could not remove the stale socket %1").arg(path));

    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        const QString error = server->errorString();
        delete server;
        return Status::failure(QStringLiteral("Could not listen on %1: %2").arg(path, error));
    }
    connect(server, &QLocalServer::newConnection, this, [this, server] {
        while (QLocalSocket* socket = server->nextPendingConnection())
            accept(socket);
    });
    m_server = server;
    return {};
}

void SingleInstance::accept(QLocalSocket* socket)
{
    // The oldest makes room: a Lumra handing over has sent its line by the time it is accepted, so
    // idle clients holding every place cannot keep it out.
    if (m_connections.size() >= maxConnections) {
        qCDebug(lcInstance) << "Closing the oldest instance connection: too many are open";
        QLocalSocket* oldest = m_connections.takeFirst();
        oldest->abort();
        oldest->deleteLater();
    }
    m_connections.append(socket);
    connect(socket, &QObject::destroyed, this, [this, socket] { m_connections.removeOne(socket); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // Qt buffers no more than one connection may send.
    socket->setReadBufferSize(maxBytesPerConnection + 1);
    // What the connection sent so far, and its end; both go with the socket.
    struct Connection {
        qint64 received = 0;
        std::unique_ptr<Timer> lifetime;
    };
    auto connection = std::make_shared<Connection>();
    connection->lifetime = Clock::shared().start(connectionLifetime, false, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, connection] { readMessages(socket, connection->received); });
    readMessages(socket, connection->received);
}

void SingleInstance::readMessages(QLocalSocket* socket, qint64& received)
{
    // Each line is a toggle; what arrived at once counts as one toggle or none, so a client that
    // repeats itself costs the popup at most one opening per read.
    bool toggle = false;
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(256);
        received += line.size();
        if (line.trimmed() != togglePopupMessage) {
            // Not a Lumra talking: one line in the log, and nothing more is read from it.
            qCWarning(lcInstance) << "Closing an instance connection after an unknown message" << line.trimmed().left(64);
            socket->abort();
            return;
        }
        toggle = !toggle;
    }
    // A Lumra sends one short line; a client that keeps sending, or sends more than that without a
    // line end, is not ours.
    if (received + socket->bytesAvailable() > maxBytesPerConnection) {
        qCDebug(lcInstance) << "Closing an instance connection that keeps sending";
        socket->abort();
    }
    if (toggle)
        emit togglePopupRequested();
}

bool SingleInstance::handOver() const { return handover::send(QFile::encodeName(serverPath()).constData()); }

} // namespace lumra
