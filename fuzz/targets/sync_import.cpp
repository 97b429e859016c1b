// Another computer's device folder as the import reads it, pass after pass: its manifest, the
// snapshot and journal it names, a journal that grows between passes, records it holds back for
// being stamped ahead, and the cursor that says how far each file was read.
#include "FuzzSupport.h"

#include "model/store/PersistenceController.h"
#include "model/sync/SyncEngine.h"
#include "platform/cloud/SyncFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

using namespace lumra;
using namespace lumra::sync;

namespace {

void put(const QString& path, const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return; // a file the manifest names and that has not arrived
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(bytes) != bytes.size())
        fuzz::fail("could not write a sync file");
}

// Opening a store and a sync state costs a tenth of a second: one of each serves a few hundred
// inputs (then both start afresh, so what they gathered does not grow without end), and each
// input comes from a device of its own.
struct Computer {
    Computer()
    {
        const QString store = fuzz::scratchFolder() + QStringLiteral("/store");
        QDir(store).removeRecursively();
        QDir().mkpath(store);
        QDir(fuzz::scratchFolder() + QStringLiteral("/sync")).removeRecursively();
        QDir().mkpath(fuzz::scratchFolder() + QStringLiteral("/sync"));
        root = SyncFiles::root(fuzz::scratchFolder() + QStringLiteral("/sync"));
        SyncEngine::Config config;
        config.root = root;
        config.newId = [this] { return QUuid(0x0e984725, 0xc51c, 0x4bf4, 0x99, 0x60, 0xe1, 0xc8, 0x0e, 0x27, 0xab, uchar(++ids)); };
        config.device = SyncFiles::deviceId(store, config.newId);
        config.stateFile = store + QStringLiteral("/LumraSync.sqlite");
        config.storeFolder = store;
        config.stallGraceMs = 0;
        config.readChunkBytes = 64 * 1024; // several reads per file, so the cursor moves within one
        persistence = std::make_unique<PersistenceController>(true, nullptr, store);
        engine = std::make_unique<SyncEngine>(config, persistence->newBackgroundContext(), persistence->cloudStore());
        if (!engine->open(now).ok())
            fuzz::fail("the sync state does not open");
    }
    int ids = 0;
    quint32 devices = 0;
    qint64 now = 1772355600000;
    QString root;
    std::unique_ptr<PersistenceController> persistence;
    std::unique_ptr<SyncEngine> engine;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::unique_ptr<Computer> kept;
    static int served = 0;
    if (!kept || ++served % 256 == 0) {
        kept.reset();
        kept = std::make_unique<Computer>();
    }
    Computer& computer = *kept;
    // manifest, snapshot, journal, what the journal gains before the second pass
    const QList<QByteArray> parts = fuzz::parts(fuzz::unfold(data, size, 4 * 1024 * 1024), QByteArrayLiteral("\n--8<--\n"), 4);
    const QUuid other(++computer.devices, 0x8b86, 0xd011, 0xb4, 0x2d, 0x00, 0xc0, 0x4f, 0xc9, 0x64, 0xff);
    const QString folder = SyncFiles::deviceFolder(computer.root, other);
    QDir().mkpath(folder);
    put(SyncFiles::manifestPath(folder), parts[0]);
    const Result<qint64> generation = SyncFiles::readManifest(folder);
    const qint64 at = generation ? std::clamp<qint64>(*generation, 1, 1000000) : 1;
    put(SyncFiles::snapshotPath(folder, at), parts[1]);
    put(SyncFiles::journalPath(folder, at), parts[2]);

    computer.now += 1000;
    (void)computer.engine->importChanges(computer.now);
    put(SyncFiles::journalPath(folder, at), parts[3]);
    computer.now += 1000;
    const SyncEngine::Outcome second = computer.engine->importChanges(computer.now);
    // Nothing new arrived: a record applied once is not applied again.
    if (parts[3].isEmpty())
        FUZZ_CHECK(second.applied == 0);
    (void)computer.engine->health(computer.now);
    QDir(folder).removeRecursively();
    QCoreApplication::processEvents();
    return 0;
}
