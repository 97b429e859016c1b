#pragma once

#include <QString>
#include <QStringList>

namespace lumra {

// Plays the copy sound. Playing never blocks and never fails loudly: without an audio
// device a sound simply is not heard.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;

    // One of sound::storedSoundNames(), as Lumra ships it. False when the name is unknown
    // or its sound could not be prepared (nothing is kept, so the next call tries again).
    virtual bool playStored(const QString& name) = 0;
    // The user's own sound file, any format the media backend can play. False when the
    // file does not exist.
    virtual bool playFile(const QString& path) = 0;
};

// Test double: remembers what it was asked to play.
class RecordingSoundPlayer final : public SoundPlayer {
public:
    bool playStored(const QString& name) override
    {
        played.append(QStringLiteral("stored:") + name);
        return succeed;
    }
    bool playFile(const QString& path) override
    {
        played.append(QStringLiteral("file:") + path);
        return succeed;
    }

    QStringList played; // "stored:Pop", "file:/home/me/ding.ogg"
    bool succeed = true;
};

} // namespace lumra
