#pragma once

#include "model/ClipboardItem.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

class QIODevice;

namespace lumra::backup {

// The history backup document: the items, the bytes of their images by image name, and the
// categories the items refer to. JSON keys "items", "images", "categories".
struct ExportData {
    QList<ClipboardItem> items;
    QHash<QString, QByteArray> images;
    std::optional<QList<ClipboardCategory>> categories; // absent in a file: no categories

    friend bool operator==(const ExportData&, const ExportData&) = default;
};

// Larger files are refused before a byte is read: the whole document is decoded in memory.
inline constexpr qint64 maxBackupFileBytes = 1024ll * 1024 * 1024;

// Reads a whole backup file. Strict: a missing required key, a value of the wrong type, a UUID
// that does not parse, an unknown content type, Base64 that does not decode or a date outside the
// years 1970 to 9999 refuses the whole file; the error names the record and the key. Keys the
// format does not name are ignored. Needs no store and no window (safe on any thread).
Result<ExportData> decodeBackup(const QByteArray& bytes);

// Whether a date read from a backup is one Lumra keeps: from 1970 up to the end of 9999.
bool isAcceptedBackupDate(const QDateTime& date);

// Writes a backup document piece by piece, so that a large history never sits in memory as one
// document: begin(), every item, every image, then finish() with the categories. Compact UTF-8
// JSON; the first failure of the device sticks and is returned by every later call.
class BackupWriter {
public:
    explicit BackupWriter(QIODevice& device) : m_device(device) { }

    Status begin();
    Status writeItem(const ClipboardItem& item);
    Status writeImage(const QString& name, const QByteArray& bytes);
    Status finish(const QList<ClipboardCategory>& categories);

private:
    enum class Stage { start, items, images, done };
    Status write(const QByteArray& bytes);
    Status enter(Stage stage);

    QIODevice& m_device;
    Stage m_stage = Stage::start;
    bool m_first = true;
    Status m_status;
};

// The whole document in memory (small exports, tests).
QByteArray encodeBackup(const ExportData& data);

} // namespace lumra::backup
