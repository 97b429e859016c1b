#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace lumra::sound {

// The fourteen sound names a copy sound setting can hold, "Basso" to "Tink".
const QStringList& storedSoundNames();

inline constexpr int sampleRate = 44100;

// Lumra's own rendering of the named sound as a mono 16-bit PCM WAV file; the same bytes
// on every call. Empty for a name that is not one of storedSoundNames().
QByteArray synthesizeSound(const QString& name);

// A WAV file around mono 16-bit samples.
QByteArray wavData(const std::vector<qint16>& samples, int rate = sampleRate);

// The named sound as a file in the cache folder ("sounds/<name>.wav"), written when it is
// missing or differs from what synthesizeSound() gives.
Result<QString> storedSoundFile(const QString& name);

} // namespace lumra::sound
