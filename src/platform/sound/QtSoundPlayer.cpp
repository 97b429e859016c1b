#include "platform/sound/QtSoundPlayer.h"

#include "platform/files/FileChecks.h"
#include "platform/sound/MediaProbe.h"
#include "platform/sound/SoundSynth.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QLoggingCategory>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QSoundEffect>
#include <QUrl>

Q_LOGGING_CATEGORY(lcSound, "lumra.sound")

namespace lumra {

struct QtSoundPlayer::Custom {
    QString path;
    QAudioOutput output;
    QMediaPlayer player;
    bool opened = false; // the player has the file
    bool playWhenOpened = false;
};

QtSoundPlayer::QtSoundPlayer() = default;

QtSoundPlayer::~QtSoundPlayer()
{
    qDeleteAll(m_effects);
}

bool QtSoundPlayer::playStored(const QString& name)
{
    QSoundEffect* effect = m_effects.value(name);
    if (!effect) {
        const Result<QString> file = sound::storedSoundFile(name);
        if (!file) {
            qCDebug(lcSound) << "no stored sound:" << file.error();
            return false;
        }
        effect = new QSoundEffect;
        effect->setSource(QUrl::fromLocalFile(*file));
        m_effects.insert(name, effect);
    }
    // Without an output there is nothing to hear; asking anyway only fills the log.
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return true;
    effect->setAudioDevice(device); // follows the user's current output
    // Loading is asynchronous; a sound asked for while it loads plays once it is ready.
    effect->play();
    return true;
}

bool QtSoundPlayer::playFile(const QString& path)
{
    if (m_custom && m_custom->path != path)
        m_custom.reset();
    if (path.isEmpty() || !isRegularFile(path)) {
        qCDebug(lcSound) << "custom sound file not found:" << path;
        return false;
    }
    if (!m_custom) {
        m_custom = std::make_unique<Custom>();
        m_custom->path = path;
        m_custom->player.setAudioOutput(&m_custom->output);
        // The player gets the file as it was checked: one swapped for a FIFO since would hold this
        // thread in the player's open().
        Custom* custom = m_custom.get();
        openMediaFile(
            path, &custom->player,
            [custom](const QUrl& source) {
                custom->player.setSource(source);
                custom->opened = true;
                if (custom->playWhenOpened)
                    custom->player.play();
            },
            [path](const QString& reason) { qCDebug(lcSound) << "custom sound file not played:" << path << reason; });
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return true;
    m_custom->output.setDevice(device);
    if (!m_custom->opened) {
        m_custom->playWhenOpened = true;
        return true;
    }
    m_custom->player.stop();
    m_custom->player.play();
    return true;
}

} // namespace lumra
