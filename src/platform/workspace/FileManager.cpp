#include "platform/workspace/FileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QUuid>

Q_LOGGING_CATEGORY(lcFileManager, "lumra.platform.filemanager")

namespace lumra {

namespace {

FileManager* g_shared = nullptr;

void openContainingFolder(const QUrl& file, const std::function<void()>& unavailable)
{
    const QString folder = QFileInfo(file.toLocalFile()).absolutePath();
    // xdg-open would wait on the program it starts and fall back to a browser or nothing: ask first
    // which program opens folders, and start that one detached.
    auto* query = new QProcess;
    QObject::connect(query, &QProcess::finished, query, [query, folder, unavailable](int exitCode, QProcess::ExitStatus status) {
        const bool named = status == QProcess::NormalExit && exitCode == 0 && !query->readAllStandardOutput().trimmed().isEmpty();
        if (!named || !QProcess::startDetached(QStringLiteral("xdg-open"), {folder})) {
            qCWarning(lcFileManager) << "No program opens folders.";
            if (unavailable)
                unavailable();
        }
        query->deleteLater();
    });
    QObject::connect(query, &QProcess::errorOccurred, query, [query, unavailable](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        qCWarning(lcFileManager) << "xdg-mime is not installed.";
        if (unavailable)
            unavailable();
        query->deleteLater();
    });
    query->start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("inode/directory")});
}

} // namespace

FileManager& FileManager::shared()
{
    static DesktopFileManager desktop;
    return g_shared ? *g_shared : desktop;
}

void FileManager::setShared(FileManager* fileManager) { g_shared = fileManager; }

void DesktopFileManager::showItems(const QList<QUrl>& files, std::function<void()> unavailable)
{
    if (files.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openContainingFolder(files.first(), unavailable);
        return;
    }
    QStringList uris;
    for (const QUrl& file : files)
        uris << file.toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("ShowItems"));
    call << uris << QUuid::createUuid().toString(QUuid::WithoutBraces);
    // A file manager may have to start first; the answer is awaited without blocking the popup.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000));
    const QUrl first = files.first();
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [first, unavailable](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<> reply = *w;
        if (reply.isError()) {
            qCInfo(lcFileManager).noquote() << "No file manager shows items:" << reply.error().message();
            openContainingFolder(first, unavailable);
        }
        w->deleteLater();
    });
}

} // namespace lumra
