#pragma once

#include "platform/core/Result.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

namespace lumra {

// What the media backend says about a file before anyone presses play: `done` runs once, on the
// thread of `context`, with success when the file loads with sound (or a picture, when `video`),
// else with the reason in the user's words. Nothing runs after `context` is gone.
void probeMedia(const QString& path, bool video, QObject* context, std::function<void(Status)> done,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

// The line shown when a file cannot be played: "This file can't be played" and the reason.
QString cannotPlayText(const QString& reason);

} // namespace lumra
