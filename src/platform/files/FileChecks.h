#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

namespace lumra {

struct FileState {
    bool exists = false;
    bool isDirectory = false;
};

// Looks the files up on the file-check lane: a file on a hung network mount blocks one of its
// threads, never the caller, and no call waits behind the look-ups stuck for another. The caller
// stops waiting once no check finished for `bound`; what is unanswered by then is none. An empty
// path names nothing and is not looked up.
QList<std::optional<FileState>> checkFiles(const QStringList& paths, std::chrono::milliseconds bound);

// Reads a file only when it is a regular file: it is opened without blocking and checked on the open
// descriptor, so a FIFO, a device or a socket another program named never holds the reader, and a file
// swapped for one after a check is caught too. Nothing when it is not a regular file, cannot be read,
// or holds more than `maxBytes`.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes);

// Opens a regular file for reading the same way, for readers that take a device; nothing otherwise.
std::unique_ptr<QFile> openRegularFile(const QString& path);

// Whether `path` is a regular file, checked the same way (without following it into a FIFO's open).
bool isRegularFile(const QString& path);

// A regular file opened the same way, and never through a link, to be handed to another program as
// it is: the descriptor reads and cannot write. Closed with this object.
class RegularFile {
public:
    static std::optional<RegularFile> open(const QString& path);
    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    ~RegularFile();

    int descriptor() const { return m_descriptor; }
    qint64 size() const { return m_size; }
    // At most `maxBytes` from the start, however far the file was read before.
    QByteArray head(qint64 maxBytes) const;

private:
    RegularFile(int descriptor, qint64 size);
    int m_descriptor = -1;
    qint64 m_size = 0;
};

} // namespace lumra
