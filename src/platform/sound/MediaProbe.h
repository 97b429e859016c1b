#pragma once

#include "platform/core/Result.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

namespace lumra {

// Opens `path` off the main thread, only as a regular file, and hands the player's source for it to
// `opened` on the thread of `context`: the open file itself, kept open for as long as `context`
// lives, so a file swapped for a FIFO after the check cannot reach the player either (its backend
// opens the source with a blocking open() on the asking thread). `refused` gets the reason instead.
// Nothing runs after `context` is gone.
void openMediaFile(const QString& path, QObject* context, std::function<void(const QUrl& source)> opened,
                   std::function<void(const QString& reason)> refused);

// Why `path` could not be opened as a regular file, in the user's words. Not on the main thread.
QString notOpenedReason(const QString& path);

// What the media backend says about a file before anyone presses play: `done` runs once, on the
// thread of `context`, with success when the file loads with sound (or a picture, when `video`),
// else with the reason in the user's words. Nothing runs after `context` is gone.
void probeMedia(const QString& path, bool video, QObject* context, std::function<void(Status)> done,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

// The line shown when a file cannot be played: "This file can't be played" and the reason.
QString cannotPlayText(const QString& reason);

} // namespace lumra
