#pragma once

#include <QByteArray>
#include <QSize>

namespace lumra {
class ClipboardManager;
class PersistenceController;
}

namespace lumra::bench {

// A desktop-like PNG, 4000 x 3000 (800 x 600 in the short mode): a gradient, flat window panels
// and lines of text, which is what screenshots on the clipboard mostly look like. `variant`
// changes the text, so each variant is a different picture.
QByteArray screenshotPng(int variant = 0);

// A photo as a camera gives it (smooth light with grain), as JPEG.
QByteArray photoJpeg(QSize size);

// A picture of noise, which PNG cannot shrink (about 6 MB at 1920 x 1080, 12 MB with 16-bit
// channels); `seed` picks the noise.
QByteArray noisePng(quint32 seed, QSize size = QSize(1920, 1080), bool deepColour = false);

// Stores `count` noise pictures as image items, newest first. Gives the bytes stored, or -1 when the
// store refused them. The engine's form reloads its history after.
qint64 storeNoiseImages(PersistenceController& persistence, int count, QSize size = QSize(1920, 1080), bool deepColour = false);
qint64 storeNoiseImages(ClipboardManager& manager, int count, QSize size = QSize(1920, 1080), bool deepColour = false);

} // namespace lumra::bench
