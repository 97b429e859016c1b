#include "platform/sound/MediaProbe.h"

#include "platform/core/BackgroundWork.h"
#include "platform/files/FileChecks.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QMediaPlayer>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

#include <memory>

namespace lumra {

namespace {

// A descriptor that closes itself, wherever its last holder lets it go.
struct Descriptor {
    int fd = -1;
    QString reason;
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

QString notOpenedReason(const QString& path)
{
    const QFileInfo info(path);
    return !info.exists()   ? QStringLiteral("No such file or directory")
           : !info.isFile() ? QStringLiteral("not a regular file")
                            : QStringLiteral("Permission denied");
}

void openMediaFile(const QString& path, QObject* context, std::function<void(const QUrl& source)> opened,
                   std::function<void(const QString& reason)> refused)
{
    using Opened = std::shared_ptr<Descriptor>;
    auto* watcher = new QFutureWatcher<Opened>(context);
    QObject::connect(watcher, &QFutureWatcher<Opened>::finished, context, [watcher, context, opened, refused] {
        watcher->deleteLater();
        if (watcher->future().resultCount() == 0) // dropped at quit
            return;
        const Opened file = watcher->result();
        if (file->fd < 0) {
            refused(file->reason);
            return;
        }
        // The player opens the descriptor's own file again through /proc, whatever the path names now.
        const int fd = std::exchange(file->fd, -1);
        QObject::connect(context, &QObject::destroyed, [fd] { ::close(fd); });
        opened(QUrl::fromLocalFile(QStringLiteral("/proc/self/fd/%1").arg(fd)));
    });
    // Dropped unread when `context` goes first: the descriptor closes with the future's result.
    // An open on a stalled mount holds a thread of the lane, never the quit.
    watcher->setFuture(BackgroundWork::current().run(BackgroundWork::Lane::mediaFiles, [path] {
        auto file = std::make_shared<Descriptor>();
        if (const std::unique_ptr<QFile> regular = openRegularFile(path))
            file->fd = ::fcntl(regular->handle(), F_DUPFD_CLOEXEC, 0);
        if (file->fd < 0)
            file->reason = notOpenedReason(path);
        return file;
    }));
}

QString cannotPlayText(const QString& reason)
{
    const QString trimmed = reason.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("This file can't be played.")
                             : QStringLiteral("This file can't be played: %1").arg(trimmed);
}

void probeMedia(const QString& path, bool video, QObject* context, std::function<void(Status)> done,
                std::chrono::milliseconds limit)
{
    auto* player = new QMediaPlayer(context);
    auto* timer = new QTimer(player);
    const auto finish = [player, done](Status status) {
        // Once: the player goes, and with it every connection that could answer again.
        if (player->property("answered").toBool())
            return;
        player->setProperty("answered", true);
        player->deleteLater();
        done(std::move(status));
    };
    // Sound (or a picture) the decoder found is the answer. Nothing is behind the decoder here, so
    // the backend stops the stream at its first buffer with an error, and on a busy machine that
    // error comes before the file is reported loaded.
    const auto found = [player, video] { return video ? player->hasVideo() || player->hasAudio() : player->hasAudio(); };
    const auto failed = [finish, found](const QString& message) {
        if (found())
            finish({});
        else
            finish(Status::failure(message.isEmpty() ? QStringLiteral("the format is not supported.") : message));
    };
    QObject::connect(player, &QMediaPlayer::errorOccurred, player,
                     [failed](QMediaPlayer::Error, const QString& message) { failed(message); });
    QObject::connect(player, &QMediaPlayer::mediaStatusChanged, player, [player, video, finish, found, failed](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::InvalidMedia) {
            failed(player->errorString());
        } else if (status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia) {
            if (found())
                finish({});
            else
                finish(Status::failure(video ? QStringLiteral("it holds no picture or sound.")
                                             : QStringLiteral("it holds no sound.")));
        }
    });
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, player, [finish] {
        finish(Status::failure(QStringLiteral("it did not load.")));
    });
    timer->start(limit);
    openMediaFile(
        path, player, [player](const QUrl& source) { player->setSource(source); },
        [finish](const QString& reason) { finish(Status::failure(reason + QLatin1Char('.'))); });
}

} // namespace lumra
