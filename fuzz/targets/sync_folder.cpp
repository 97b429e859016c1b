// Another computer's files in the sync folder: journal and snapshot lines, the manifest, and its
// mirrored settings file. Anyone who can write to the folder can write these.
#include "FuzzSupport.h"

#include "model/sync/SyncRecord.h"
#include "platform/cloud/SyncFiles.h"
#include "platform/cloud/SyncFolderKeyValueStore.h"

#include <QDir>

using namespace lumra;
using namespace lumra::sync;

namespace {

const QUuid other = QUuid::fromString(QStringLiteral("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
const QUuid self = QUuid::fromString(QStringLiteral("{0E984725-C51C-4BF4-9960-E1C80E27ABA0}"));

void readJournalBytes(const QByteArray& body)
{
    const JournalChunk chunk = readJournal(body, 0, 1, other);
    FUZZ_CHECK(chunk.nextOffset >= 0 && chunk.nextOffset <= body.size());
    for (const auto& entry : chunk.records) {
        // A record that passed the checks is written out as one that reads back the same.
        const QByteArray line = encodeRecord(entry.record);
        FUZZ_CHECK(!line.contains('\n'));
        const auto again = decodeRecord(line);
        FUZZ_CHECK(again.ok());
        FUZZ_CHECK(encodeRecord(*again) == line);
    }
    // Resuming where a pass stopped reads no record twice.
    const JournalChunk rest = readJournal(body, chunk.nextOffset, chunk.nextLine, other);
    FUZZ_CHECK(rest.records.isEmpty());
}

QString otherDeviceFolder()
{
    const QString root = SyncFiles::root(fuzz::scratchFolder() + QStringLiteral("/sync"));
    const QString folder = SyncFiles::deviceFolder(root, other);
    QDir().mkpath(folder);
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray body = fuzz::bytes(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        readJournalBytes(body);
        break;
    case 1: {
        const QString folder = otherDeviceFolder();
        fuzz::writeScratchFile(QDir(fuzz::scratchFolder()).relativeFilePath(SyncFiles::manifestPath(folder)), body);
        if (const auto generation = SyncFiles::readManifest(folder))
            FUZZ_CHECK(*generation >= 1);
        break;
    }
    case 2: {
        const QString folder = otherDeviceFolder();
        fuzz::writeScratchFile(QDir(fuzz::scratchFolder()).relativeFilePath(SyncFiles::settingsPath(folder)), body);
        SyncFolderKeyValueStore store;
        store.setFolder(SyncFiles::root(fuzz::scratchFolder() + QStringLiteral("/sync")), self);
        const QVariantMap values = store.dictionaryRepresentation();
        for (const QVariant& value : values) {
            const int type = value.typeId();
            FUZZ_CHECK(type == QMetaType::Bool || type == QMetaType::LongLong || type == QMetaType::Double
                       || type == QMetaType::QString);
        }
        break;
    }
    }
    return 0;
}
