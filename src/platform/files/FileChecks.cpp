#include "platform/files/FileChecks.h"

#include <QFileInfo>
#include <QThreadPool>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace lumra {

QList<std::optional<FileState>> checkFiles(const QStringList& paths, std::chrono::milliseconds bound)
{
    struct Batch {
        std::mutex mutex;
        std::condition_variable progress;
        QList<std::optional<FileState>> results;
        qsizetype finished = 0;
    };
    static QThreadPool* pool = [] {
        auto* threads = new QThreadPool; // never destroyed: a hung lookup must not hold up exit
        threads->setMaxThreadCount(4);
        return threads;
    }();

    auto batch = std::make_shared<Batch>();
    batch->results.resize(paths.size());
    qsizetype started = 0;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (paths[i].isEmpty()) {
            batch->results[i] = FileState {};
            continue;
        }
        ++started;
        pool->start([batch, i, path = paths[i]] {
            const QFileInfo info(path);
            const FileState state {info.exists(), info.isDir()};
            std::lock_guard lock(batch->mutex);
            batch->results[i] = state;
            ++batch->finished;
            batch->progress.notify_all();
        });
    }
    std::unique_lock lock(batch->mutex);
    qsizetype seen = -1;
    while (batch->finished < started && batch->finished != seen) {
        seen = batch->finished;
        batch->progress.wait_for(lock, bound, [&] { return batch->finished != seen; });
    }
    return batch->results;
}

} // namespace lumra
