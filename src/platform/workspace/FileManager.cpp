#include "platform/workspace/FileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QUuid>

Q_LOGGING_CATEGORY(lcFileManager, "lumra.platform.filemanager")

namespace lumra {

namespace {

FileManager* g_shared = nullptr;

void openContainingFolder(const QUrl& file)
{
    const QString folder = QFileInfo(file.toLocalFile()).absolutePath();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        qCWarning(lcFileManager) << "No program opens folders.";
}

} // namespace

FileManager& FileManager::shared()
{
    static DesktopFileManager desktop;
    return g_shared ? *g_shared : desktop;
}

void FileManager::setShared(FileManager* fileManager) { g_shared = fileManager; }

void DesktopFileManager::showItems(const QList<QUrl>& files)
{
    if (files.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openContainingFolder(files.first());
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
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [first](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<> reply = *w;
        if (reply.isError()) {
            qCInfo(lcFileManager).noquote() << "No file manager shows items:" << reply.error().message();
            openContainingFolder(first);
        }
        w->deleteLater();
    });
}

} // namespace lumra
