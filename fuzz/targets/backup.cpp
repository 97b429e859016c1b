// A backup file the user picked: from anywhere, written by anything.
#include "FuzzSupport.h"

#include "model/backup/BackupFile.h"
#include "model/backup/BackupImport.h"

#include <QBuffer>

using namespace lumra;
using namespace lumra::backup;

namespace {

void checkDates(const ClipboardItem& item)
{
    FUZZ_CHECK(isAcceptedBackupDate(item.dateAdded));
    for (const auto& date : {item.firstCopiedDate, std::optional<QDateTime>(item.lastPastedDate),
                             std::optional<QDateTime>(item.trashedDate)})
        FUZZ_CHECK(!date || isAcceptedBackupDate(*date));
}

// The date check itself, on a date the input picks (its hash, so every mutation picks another):
// an item written with the date in any of its dated keys reads back only if the date is accepted.
// Most fall outside the years 1 to 9999 that a date converts from at all; some one in thirty
// lands in those before 1970.
void probeDate(ClipboardItem item, const QByteArray& bytes)
{
    quint64 hash = 0xcbf29ce484222325ULL; // FNV-1a: the same in every run, unlike qHash
    for (const char c : bytes)
        hash = (hash ^ uchar(c)) * 0x100000001b3ULL;
    const qint64 seconds = qint64(qint16(hash & 0xffff)) * 30'000'000 + qint64((hash >> 16) % 30'000'000);
    const QDateTime date = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    switch ((hash >> 48) % 4) {
    case 0: item.dateAdded = date; break;
    case 1: item.firstCopiedDate = date; break;
    case 2: item.lastPastedDate = date; break;
    default: item.trashedDate = date; break;
    }
    QByteArray written;
    QBuffer buffer(&written);
    buffer.open(QIODevice::WriteOnly);
    BackupWriter writer(buffer);
    if (!writer.begin().ok() || !writer.writeItem(item).ok() || !writer.finish({}).ok())
        return;
    FUZZ_CHECK(decodeBackup(written).ok() == isAcceptedBackupDate(date));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);
    const Result<ExportData> decoded = decodeBackup(bytes);
    if (decoded) {
        // Every date read is one the rest of Lumra can show and sort.
        for (const ClipboardItem& item : decoded->items)
            checkDates(item);
        if (!decoded->items.isEmpty())
            probeDate(decoded->items.first(), bytes);
        // What was read writes out as a file that reads back the same.
        QByteArray written;
        QBuffer buffer(&written);
        buffer.open(QIODevice::WriteOnly);
        BackupWriter writer(buffer);
        FUZZ_CHECK(writer.begin().ok());
        for (const ClipboardItem& item : decoded->items)
            FUZZ_CHECK(writer.writeItem(item).ok());
        for (auto it = decoded->images.begin(); it != decoded->images.end(); ++it)
            FUZZ_CHECK(writer.writeImage(it.key(), it.value()).ok());
        FUZZ_CHECK(writer.finish(decoded->categories.value_or(QList<ClipboardCategory>())).ok());
        const Result<ExportData> again = decodeBackup(written);
        FUZZ_CHECK(again.ok());
        FUZZ_CHECK(again->items == decoded->items);
        FUZZ_CHECK(again->images == decoded->images);
        FUZZ_CHECK(again->categories.value_or(QList<ClipboardCategory>()) == decoded->categories.value_or(QList<ClipboardCategory>()));
    }
    // Whatever the import keeps can reach no file outside Lumra's folders.
    const Result<LoadedBackup> loaded = loadBackup(bytes);
    FUZZ_CHECK(loaded.ok() || !decoded);
    if (loaded) {
        for (const ClipboardItem& item : loaded->data.items) {
            if (item.imageFileName)
                FUZZ_CHECK(isCaptureImageName(*item.imageFileName));
            for (const QString& url : item.fileURLStrings.value_or(QStringList()))
                FUZZ_CHECK(isAcceptedFileUrl(url));
            checkDates(item);
        }
        for (auto it = loaded->data.images.begin(); it != loaded->data.images.end(); ++it)
            FUZZ_CHECK(isCaptureImageName(it.key()));
    }
    return 0;
}
