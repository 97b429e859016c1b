#pragma once

#include <QList>
#include <QUrl>

namespace lumra {

// The desktop's file manager, asked to show files with them selected.
class FileManager {
public:
    virtual ~FileManager() = default;

    // Shows the local files (all in one window when the file manager can). Never blocks.
    virtual void showItems(const QList<QUrl>& files) = 0;

    static FileManager& shared();
    static void setShared(FileManager* fileManager); // nullptr restores the desktop's
};

// org.freedesktop.FileManager1.ShowItems on the session bus; when no file manager answers, the
// folder of the first file is opened instead.
class DesktopFileManager final : public FileManager {
public:
    void showItems(const QList<QUrl>& files) override;
};

// Test double: remembers what it was asked to show.
class RecordingFileManager final : public FileManager {
public:
    void showItems(const QList<QUrl>& files) override { shown.append(files); }
    QList<QList<QUrl>> shown;
};

} // namespace lumra
