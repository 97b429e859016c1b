#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace lumra {

class BackgroundWork;
class Clock;
class CloudContainer;
class CloudKeyValueStore;
class KeyInjector;
class Pasteboard;
class SoundPlayer;
class TextRecognizer;
class UserDefaults;
class Workspace;
namespace image {
class ImageDecoder;
}

// What the engine needs of the desktop. The app passes the real backends; tests pass doubles.
// Null members get the app default where one exists (a null pasteboard means no capture, a null
// key injector no synthetic paste, a null recognizer no text recognition, a null sound player no sound).
struct ClipboardManagerServices {
    UserDefaults* defaults = nullptr;              // UserDefaults::standard()
    CloudKeyValueStore* cloudKeyValueStore = nullptr; // CloudKeyValueStore::defaultStore()
    Clock* clock = nullptr;                        // Clock::shared()
    CloudContainer* cloudContainer = nullptr;      // the sync folder of "syncFolderPath"; injected: that container
    QString storeFolder;                           // Folders::supportFolder()
    Pasteboard* pasteboard = nullptr;
    Workspace* workspace = nullptr;
    KeyInjector* keyInjector = nullptr;
    TextRecognizer* textRecognizer = nullptr;
    SoundPlayer* soundPlayer = nullptr;
    BackgroundWork* work = nullptr;                // BackgroundWork::current()
    // The decoder programs copied pictures go to (tests name one that cannot start).
    image::ImageDecoder* captureDecoder = nullptr; // ImageDecoder::shared(DecodeTurn::Lane::capture)
    // RTF made from a copied HTML page, on a worker thread; empty when none can be made.
    std::function<QByteArray(const QString& html)> htmlToRtf; // RichText::rtfFromHtml
    // Read the history on a worker thread, so that capture runs from the start whatever its size
    // (the app); otherwise it is loaded before the constructor returns (tests, tools).
    bool loadHistoryInBackground = false;
    // The pasteboard's change count when it began to listen, noted by whoever made it: a copy made
    // after that, while the rest of Lumra was starting, is recorded. Unset: the count at start-up.
    std::optional<qint64> changeCountAtLaunch;
};

} // namespace lumra
