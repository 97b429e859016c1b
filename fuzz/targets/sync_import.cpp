// Another computer's device folder as the import reads it, pass after pass: its manifest, the
// snapshot and journal it names, a journal that grows between passes, records it holds back for
// being stamped ahead, and the cursor that says how far each file was read. The records go on into
// the merge: a second computer reads the same journal's lines the other way round, and both must
// come to the same history (the merge decides by stamps and values, never by arrival, ties too).
#include "FuzzSupport.h"

#include "model/store/PersistenceController.h"
#include "model/sync/SyncEngine.h"
#include "platform/cloud/SyncFiles.h"

#include "model/store/ItemRows.h"
#include "model/sync/SyncRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <map>

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
    explicit Computer(const QString& name)
    {
        const QString store = fuzz::scratchFolder() + QStringLiteral("/store-") + name;
        QDir(store).removeRecursively();
        QDir().mkpath(store);
        const QString sync = fuzz::scratchFolder() + QStringLiteral("/sync-") + name;
        QDir(sync).removeRecursively();
        QDir().mkpath(sync);
        root = SyncFiles::root(sync);
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

    // Every synced row: id -> its fields and image, as text.
    std::map<QString, QByteArray> rows() const
    {
        std::map<QString, QByteArray> all;
        auto context = persistence->newBackgroundContext();
        for (store::EntityKind entity : {store::EntityKind::item, store::EntityKind::category}) {
            store::FetchRequest request;
            request.entity = entity;
            request.affectedStore = persistence->cloudStore();
            const Result<QList<store::ManagedObjectPtr>> fetched = context->fetch(request);
            if (!fetched)
                fuzz::fail("the store cannot be read");
            for (const auto& row : fetched.value()) {
                QString image;
                const QJsonObject fields = fieldsOfRow(*row, &image);
                all[row->uuid(0)->toString()] = QJsonDocument(fields).toJson(QJsonDocument::Compact) + image.toLatin1();
            }
        }
        return all;
    }
};

// The device the kept inputs' records name; each input's folder gets a device of its own, and its
// records say so, or every one of them would be refused as another device's.
const QByteArray writerInInputs = QByteArrayLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF");

QByteArray reversedLines(const QByteArray& bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast(); // empty, or a torn line no reader takes yet
    std::reverse(lines.begin(), lines.end());
    return lines.isEmpty() ? QByteArray() : lines.join('\n') + '\n';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::unique_ptr<Computer> kept, other;
    static int served = 0;
    if (!kept || ++served % 256 == 0) {
        kept.reset();
        other.reset();
        kept = std::make_unique<Computer>(QStringLiteral("a"));
        other = std::make_unique<Computer>(QStringLiteral("b"));
    }
    Computer& computer = *kept;
    const QUuid device(++computer.devices, 0x8b86, 0xd011, 0xb4, 0x2d, 0x00, 0xc0, 0x4f, 0xc9, 0x64, 0xff);
    // manifest, snapshot, journal, what the journal gains before the second pass
    QByteArray input = fuzz::unfold(data, size, 4 * 1024 * 1024);
    input.replace(writerInInputs, uuidText(device).toLatin1());
    const QList<QByteArray> parts = fuzz::parts(input, QByteArrayLiteral("\n--8<--\n"), 4);
    const QString folder = SyncFiles::deviceFolder(computer.root, device);
    QDir().mkpath(folder);
    put(SyncFiles::manifestPath(folder), parts[0]);
    const Result<qint64> generation = SyncFiles::readManifest(folder);
    const qint64 at = generation ? std::clamp<qint64>(*generation, 1, 1000000) : 1;
    put(SyncFiles::snapshotPath(folder, at), parts[1]);
    put(SyncFiles::journalPath(folder, at), parts[2]);

    // Two changes of one new row of our own after the input's: the later one must win, whichever
    // comes first.
    const QUuid row(0x5eed0000 + computer.devices, 0x1111, 0x4111, 0x81, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11);
    QByteArray changes = "\n";
    for (const char* text : {"first", "second"}) {
        SyncRecord record;
        record.id = row;
        record.device = device;
        record.mtime = computer.now + (text[0] == 's' ? 1 : 0);
        record.fields = QJsonObject {{QStringLiteral("contentType"), QStringLiteral("text")},
                                    {QStringLiteral("textContent"), QStringLiteral("%1 %2").arg(QLatin1String(text), uuidText(row))}};
        changes += encodeRecord(record) + '\n';
    }
    // Two changes of another row stamped alike: a tie goes to the value, never to the one read last,
    // and the mirror below reads them the other way round.
    const QUuid tied(0x71ed0000 + computer.devices, 0x1111, 0x4111, 0x81, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11);
    for (const char* text : {"tie one", "tie two"}) {
        SyncRecord record;
        record.id = tied;
        record.device = device;
        record.mtime = computer.now;
        record.fields = QJsonObject {{QStringLiteral("contentType"), QStringLiteral("text")},
                                    {QStringLiteral("textContent"), QStringLiteral("%1 %2").arg(QLatin1String(text), uuidText(tied))}};
        changes += encodeRecord(record) + '\n';
    }
    const QByteArray journal = parts[2] + parts[3] + changes;

    computer.now += 1000;
    (void)computer.engine->importChanges(computer.now);
    put(SyncFiles::journalPath(folder, at), parts[3] + changes);
    computer.now += 1000;
    (void)computer.engine->importChanges(computer.now);
    // Nothing new arrived: a record applied once is not applied again.
    FUZZ_CHECK(computer.engine->importChanges(computer.now).applied == 0);
    (void)computer.engine->health(computer.now);

    // The same records, the journal's whole lines the other way round, in one pass elsewhere.
    Computer& mirror = *other;
    ++mirror.devices;
    const QString mirrored = SyncFiles::deviceFolder(mirror.root, device);
    QDir().mkpath(mirrored);
    put(SyncFiles::manifestPath(mirrored), parts[0]);
    put(SyncFiles::snapshotPath(mirrored, at), parts[1]);
    put(SyncFiles::journalPath(mirrored, at), reversedLines(journal));
    mirror.now = computer.now;
    (void)mirror.engine->importChanges(mirror.now);
    const std::map<QString, QByteArray> rows = computer.rows();
    FUZZ_CHECK(rows == mirror.rows());
    if (const auto it = rows.find(row.toString()); it != rows.end())
        FUZZ_CHECK(it->second.contains("second"));

    QDir(folder).removeRecursively();
    QDir(mirrored).removeRecursively();
    QCoreApplication::processEvents();
    return 0;
}
