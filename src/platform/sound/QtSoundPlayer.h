#pragma once

#include "platform/sound/SoundPlayer.h"

#include <QHash>

#include <memory>

class QAudioOutput;
class QMediaPlayer;
class QSoundEffect;

namespace lumra {

// Stored sounds through QSoundEffect over WAV files written to the cache folder at first
// use; the user's file through QMediaPlayer. One player per stored name and one for the
// custom path are kept for the life of the object. Main thread only.
class QtSoundPlayer final : public SoundPlayer {
public:
    QtSoundPlayer();
    ~QtSoundPlayer() override;

    bool playStored(const QString& name) override;
    bool playFile(const QString& path) override;

private:
    QHash<QString, QSoundEffect*> m_effects;
    struct Custom;
    std::unique_ptr<Custom> m_custom;
};

} // namespace lumra
