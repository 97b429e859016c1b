// A backup file the user picked: from anywhere, written by anything.
#include "FuzzSupport.h"

#include "model/backup/BackupFile.h"
#include "model/backup/BackupImport.h"

#include <QBuffer>

using namespace lumra;
using namespace lumra::backup;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);
    const Result<ExportData> decoded = decodeBackup(bytes);
    if (decoded) {
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
            FUZZ_CHECK(isAcceptedBackupDate(item.dateAdded));
        }
        for (auto it = loaded->data.images.begin(); it != loaded->data.images.end(); ++it)
            FUZZ_CHECK(isCaptureImageName(it.key()));
    }
    return 0;
}
