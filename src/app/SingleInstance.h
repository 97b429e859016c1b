#pragma once

#include "app/HandOver.h"
#include "platform/core/Result.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace lumra {

// One Lumra per user session. The first process holds a lock file and listens on a local socket
// in the private runtime folder; a later start hands over ("toggle-popup") and should exit. Bound
// to a key in the desktop's settings, starting `lumra` is how a Wayland session opens the popup.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        primary,    // this process runs Lumra
        handedOver, // another one runs and was asked to toggle its popup
    };

    // `folder` holds the socket and its lock; empty means Folders::privateTempFolder().
    explicit SingleInstance(QString folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Primary whenever the lock is taken, even when the socket cannot be made (that is logged).
    // Fails only when neither becoming the primary nor reaching it worked (folder unusable, a
    // running Lumra that does not answer); the caller should then tell the user and exit rather
    // than run twice.
    // `predecessor`: the Lumra this one replaces (a restart). Its lock is waited for while it quits,
    // for up to `patience`, instead of handing over to the process that is going away.
    Result<Role> claim(qint64 predecessor = 0, std::chrono::milliseconds patience = std::chrono::seconds(60));

    QString serverPath() const { return m_folder + QStringLiteral("/") + serverName(); }
    static QString serverName();
    static inline const QByteArray togglePopupMessage = QByteArray(handover::togglePopupLine).trimmed();

    // What one connection may cost: a Lumra sends one line and goes. Beyond these it is closed,
    // and past maxConnections the oldest is.
    static constexpr qint64 maxBytesPerConnection = 1024;
    static constexpr std::chrono::seconds connectionLifetime {2};
    static constexpr int maxConnections = 32;

signals:
    void togglePopupRequested();

private:
    Status listen();
    bool handOver() const;
    void accept(QLocalSocket* socket);
    void readMessages(QLocalSocket* socket, qint64& received);

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    QList<QLocalSocket*> m_connections; // open ones, oldest first
};

} // namespace lumra
