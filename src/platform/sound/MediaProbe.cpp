#include "platform/sound/MediaProbe.h"

#include <QFileInfo>
#include <QMediaPlayer>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace lumra {

QString cannotPlayText(const QString& reason)
{
    const QString trimmed = reason.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("This file can't be played.")
                             : QStringLiteral("This file can't be played: %1").arg(trimmed);
}

void probeMedia(const QString& path, bool video, QObject* context, std::function<void(Status)> done,
                std::chrono::milliseconds limit)
{
    if (!QFileInfo(path).isFile()) {
        QTimer::singleShot(0, context, [done] { done(Status::failure(QStringLiteral("the file does not exist."))); });
        return;
    }
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
    QObject::connect(player, &QMediaPlayer::errorOccurred, player, [finish](QMediaPlayer::Error, const QString& message) {
        finish(Status::failure(message.isEmpty() ? QStringLiteral("the format is not supported.") : message));
    });
    QObject::connect(player, &QMediaPlayer::mediaStatusChanged, player, [player, video, finish](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::InvalidMedia) {
            const QString message = player->errorString();
            finish(Status::failure(message.isEmpty() ? QStringLiteral("the format is not supported.") : message));
        } else if (status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia) {
            if (video ? player->hasVideo() || player->hasAudio() : player->hasAudio())
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
    player->setSource(QUrl::fromLocalFile(path));
}

} // namespace lumra
