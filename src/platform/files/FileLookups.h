#pragma once

#include "platform/files/StallTolerantPool.h"

#include <QCache>
#include <QDeadlineTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

namespace lumra {

// What is at a copied file's path.
struct FileLook {
    enum class Kind { missing, file, folder };
    Kind kind = Kind::missing;
    QString iconName; // the icon names of a file's type
    QString genericIconName;
    // A regular file's version, so that a file replaced under its name is told apart.
    qint64 size = -1;
    qint64 modifiedNs = -1;

    bool operator==(const FileLook&) const = default;
};

// Looks at the path (stat, and the type from its name or, for a regular file, its first bytes).
// A FIFO or a device is never opened. Runs on any thread; blocks as long as the file system does.
FileLook lookAtFile(const QString& path);

// Copied files the popup's rows show, looked at on threads of their own so that a file on a hung
// network mount holds one of those threads, never the window. Answers are kept for a while and
// looked at again when asked after that. A look-up that has not answered for `stuckAfter` no longer
// counts against the threads, so the others go on being answered, up to `maxStuck` stuck ones.
// The quit waits for them only as long as its bound. Main thread only.
class FileLookups final : public QObject {
    Q_OBJECT
public:
    static constexpr int threads = 2;
    static constexpr int maxStuck = 8;
    static constexpr std::chrono::milliseconds stuckAfter {1000};
    static constexpr std::chrono::milliseconds freshFor {2000};
    static constexpr int maxKept = 100000;

    static FileLookups& instance();

    // The last answer for the path (starting a new look when it is old); nothing while the first
    // look is on its way, and `answered` follows.
    std::optional<FileLook> look(const QString& path);

signals:
    // Answers that are new or changed arrived; several are told at once.
    void answered();

private:
    struct Kept {
        FileLook look;
        QDeadlineTimer fresh;
    };
    FileLookups();
    void start(const QString& path);
    void finish(const QString& path, const FileLook& look);

    QCache<QString, Kept> m_kept {maxKept};
    QSet<QString> m_pending;
    std::unique_ptr<StallTolerantPool> m_pool;
    QTimer m_tell;
    QTimer m_watch;
};

} // namespace lumra
