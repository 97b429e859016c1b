#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

namespace lumra::thumbnails {

// A program that packages install to draw thumbnails of some MIME types, declared in a
// "*.thumbnailer" file of a "thumbnailers" data folder.
struct Thumbnailer {
    QString file; // the declaring file
    QStringList exec; // program and arguments, field codes (%i %o %s %u) still in place
    QStringList mimeTypes;
};

// Splits an Exec value into program and arguments as desktop entries do: the value's escapes
// (\s \n \t \r \\) first, then arguments separated by spaces, double quotes around an argument
// with spaces, and \" \` \$ \\ inside quotes. No shell is involved. None when a quote is open.
std::optional<QStringList> splitExec(const QString& value);

// The arguments with %i (input path), %u (input URI), %o (output path), %s (size) and %% filled
// in; an unknown field code is dropped.
QStringList expandExec(
    const QStringList& exec, const QString& input, const QString& uri, const QString& output, int size);

// Parses one "*.thumbnailer" file's text; none when it declares no usable thumbnailer.
std::optional<Thumbnailer> parseThumbnailer(const QByteArray& text, const QString& file);

// The thumbnailers installed in the given data folders, looked up by MIME type. A file in an
// earlier folder hides one of the same name in a later folder, as data folders do; a thumbnailer
// whose TryExec program is not installed is left out.
class ThumbnailerIndex {
public:
    static ThumbnailerIndex fromDataFolders(const QStringList& dataFolders);
    // $XDG_DATA_HOME then $XDG_DATA_DIRS (their defaults when unset). Read once per folder list and
    // kept: the lookup runs for every file row.
    static std::shared_ptr<const ThumbnailerIndex> installed();

    std::optional<Thumbnailer> forMimeType(const QString& type) const;
    bool isEmpty() const { return m_byType.isEmpty(); }

private:
    QHash<QString, Thumbnailer> m_byType; // lower-case MIME type → first thumbnailer declaring it
};

struct RunLimits {
    std::chrono::milliseconds timeout { 5000 };
    qint64 maxOutputBytes = 16ll * 1024 * 1024;
};

// Runs `thumbnailer` for the regular file `input` at `size` pixels, without a shell, in a process
// group of its own with a private output folder; past the time limit, once `stop` is set, and once
// it has exited, the whole group is killed (helpers it left behind too). The PNG bytes it wrote, or
// why there are none.
Result<QByteArray> runThumbnailer(const Thumbnailer& thumbnailer, const QString& input, int size,
    const RunLimits& limits = {}, const std::atomic<bool>* stop = nullptr);

} // namespace lumra::thumbnails
