#pragma once

#include <QList>
#include <QUrl>

#include <functional>

namespace lumra {

// The desktop's file manager, asked to show files with them selected.
class FileManager {
public:
    virtual ~FileManager() = default;

    // Shows the local files (all in one window when the file manager can). Never blocks; when no
    // program can show them, `unavailable` runs later, on the main thread.
    virtual void showItems(const QList<QUrl>& files, std::function<void()> unavailable = {}) = 0;

    static FileManager& shared();
    static void setShared(FileManager* fileManager); // nullptr restores the desktop's
};

// org.freedesktop.FileManager1.ShowItems on the session bus; when no file manager answers, the
// folder of the first file is opened by the program the desktop names for folders (xdg-mime,
// xdg-open); with none, the files are unavailable.
class DesktopFileManager final : public FileManager {
public:
    void showItems(const QList<QUrl>& files, std::function<void()> unavailable = {}) override;
};

// Test double: remembers what it was asked to show; with `available` false, no program shows them.
class RecordingFileManager final : public FileManager {
public:
    void showItems(const QList<QUrl>& files, std::function<void()> unavailable = {}) override
    {
        shown.append(files);
        if (!available && unavailable)
            unavailable();
    }
    QList<QList<QUrl>> shown;
    bool available = true;
};

} // namespace lumra
