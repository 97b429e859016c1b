#pragma once

// Computers that sync through a folder, each with its own copy of it, and a file-sync tool between
// the copies that misbehaves as real ones do: files arrive late, out of order, in pieces, twice or
// as conflict copies; and the hands that clone, restore, fill disks and plant links.

#include "TestImages.h"

#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "model/sync/SyncEngine.h"
#include "model/sync/AgeRules.h"
#include "model/sync/SyncRecord.h"
#include "platform/cloud/SyncFiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <map>
#include <set>
#include <random>

namespace lumra::test::syncsim {

inline constexpr qint64 startMs = 1772355600000;

// A history as gtest prints it when two differ.
struct Rows : std::map<QString, QJsonObject> {};
inline void PrintTo(const Rows& rows, std::ostream* os)
{
    for (const auto& [id, fields] : rows)
        *os << "\n  " << id.toStdString() << " " << QJsonDocument(fields).toJson(QJsonDocument::Compact).toStdString();
}

// Copies a folder's files (not links) into another, replacing what is there.
inline void copyTree(const QString& from, const QString& to)
{
    QDir(to).removeRecursively();
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        QDir().mkpath(QFileInfo(target).path());
        QFile::copy(path, target);
    }
}

// Version 4 UUIDs from a seed: every id a run makes (rows, devices, incarnations, run secrets)
// comes from here, so a schedule replays exactly from its seed.
class SeededIds {
public:
    explicit SeededIds(quint64 seed) : m_rng(seed) { }
    QUuid operator()()
    {
        QByteArray bytes(16, Qt::Uninitialized);
        for (int i = 0; i < 16; i += 8) {
            const quint64 word = m_rng();
            for (int k = 0; k < 8; ++k)
                bytes[i + k] = char((word >> (8 * k)) & 0xFF);
        }
        bytes[6] = char((bytes[6] & 0x0F) | 0x40);
        bytes[8] = char((bytes[8] & 0x3F) | 0x80);
        return QUuid::fromRfc4122(bytes);
    }
    // For the computers of one run, all drawing from this one.
    sync::SyncFiles::NewId source()
    {
        return [this] { return (*this)(); };
    }

private:
    std::mt19937_64 m_rng;
};

// One computer: its store folder, its own copy of the sync folder, its engine and its clock.
struct Computer {
    Computer(QString label, sync::SyncFiles::NewId ids) : name(std::move(label)), newId(std::move(ids)) { }

    QString name;
    sync::SyncFiles::NewId newId;
    QTemporaryDir store;
    QTemporaryDir replica;
    std::unique_ptr<PersistenceController> persistence;
    std::unique_ptr<sync::SyncEngine> engine;
    qint64 now = startMs;  // the true time
    qint64 skew = 0;       // how far this computer's clock is off it
    sync::AgeRules rules;  // this computer's age rules
    std::shared_ptr<sync::AgeRuleLedger> ageRuleDeletes = std::make_shared<sync::AgeRuleLedger>();
    std::shared_ptr<sync::RowAges> rowAges = std::make_shared<sync::RowAges>();
    qint64 maxRecordBytes = sync::maxLineBytes;
    qint64 readChunkBytes = 4 * 1024 * 1024;
    qint64 compactAfter = 5000;
    bool open = false;
    QStringList problems, notices;
    QStringList lastProblems; // of the last pass
    Status lastExport, lastImport;
    int lastWritten = 0;

    qint64 clock() const { return now + skew; }
    QString root() const { return sync::SyncFiles::root(replica.path()); }
    QUuid device() const { return engine ? engine->device() : sync::SyncFiles::deviceId(store.path(), newId); }
    QString ownFolder() const { return sync::SyncFiles::deviceFolder(root(), device()); }

    void start()
    {
        persistence = std::make_unique<PersistenceController>(true, nullptr, store.path());
        // As the app does at its start, sync on or off: the age rules' notes are on disk from the first.
        ageRuleDeletes = std::make_shared<sync::AgeRuleLedger>();
        ageRuleDeletes->keepIn(sync::ageRuleLedgerPath(store.path()));
        sync::SyncEngine::Config config;
        config.root = root();
        config.device = sync::SyncFiles::deviceId(store.path(), newId);
        config.stateFile = store.path() + QStringLiteral("/LumraSync.sqlite");
        config.storeFolder = store.path();
        config.compactAfterRecords = compactAfter;
        config.maxRecordBytes = maxRecordBytes;
        config.readChunkBytes = readChunkBytes;
        config.stallGraceMs = 0;
        config.newId = newId;
        config.ageRuleDeletes = ageRuleDeletes;
        config.rowAges = rowAges;
        engine = std::make_unique<sync::SyncEngine>(config, persistence->newBackgroundContext(), persistence->cloudStore());
        open = false;
    }
    void stop()
    {
        engine.reset();
        QCoreApplication::processEvents();
        persistence.reset();
        QCoreApplication::processEvents();
    }
    void restart()
    {
        stop();
        start();
    }
    // The state file refuses the writes a trigger on `event` catches, as a full disk would; none
    // when empty. Set while stopped, so that no read of the engine's predates it.
    void failStateWrites(const QString& event)
    {
        stop();
        sql::Database state;
        EXPECT_TRUE(state.open(store.path() + QStringLiteral("/LumraSync.sqlite"), false).ok());
        EXPECT_TRUE(state.exec(QStringLiteral("DROP TRIGGER IF EXISTS diskFull")).ok());
        if (!event.isEmpty()) {
            EXPECT_TRUE(state.exec(QStringLiteral("CREATE TRIGGER diskFull %1 BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END").arg(event)).ok());
        }
        state.close();
        start();
    }
    // One pass as the worker runs it: our changes out, then the others' in.
    void pass(bool importFirst = false)
    {
        now += 1000;
        const qsizetype noticesBefore = notices.size();
        const bool trace = qEnvironmentVariableIsSet("LUMRA_SYNC_TRACE");
        engine->setAgeRules(rules);
        if (!open) {
            sync::SyncEngine::Outcome o;
            const Status opened = engine->open(clock(), &o);
            open = opened.ok();
            notices += o.notices;
            if (!open) {
                if (trace)
                    qInfo("  %s does not open: %s", qPrintable(name), qPrintable(opened.error()));
                return;
            }
        }
        auto exportNow = [&] {
            const auto e = engine->exportChanges({}, true, clock());
            lastExport = e.status;
            lastWritten = e.written;
            notices += e.notices;
        };
        if (!importFirst)
            exportNow();
        const auto i = engine->importChanges(clock());
        problems += i.problems;
        notices += i.notices;
        lastProblems = i.problems;
        lastImport = i.status;
        if (importFirst)
            exportNow();
        if (trace) {
            qInfo("  %s passes: export %s, written %d, applied %d, notices %s, problems %s", qPrintable(name),
                  qPrintable(lastExport.error()), lastWritten, i.applied, qPrintable(notices.mid(noticesBefore).join(u'|')),
                  qPrintable(i.problems.join(u'|')));
            traceFolder(ownFolder());
            traceRow();
        }
        QCoreApplication::processEvents();
    }
    sync::SyncEngine::Health health() { return engine->health(clock()); }

    // LUMRA_SYNC_WATCH (with LUMRA_SYNC_TRACE): one row's state and pending records after each pass.
    void traceRow() const
    {
        const QString watch = qEnvironmentVariable("LUMRA_SYNC_WATCH").toUpper();
        if (watch.isEmpty())
            return;
        sql::Database db;
        if (!db.open(store.path() + QStringLiteral("/LumraSync.sqlite"), false).ok())
            return;
        sql::Statement* st = db.prepare(QStringLiteral("SELECT mtime, deleted FROM rowState WHERE id = ?"));
        st->bind(1, watch);
        const QString state = st->step() ? QStringLiteral("mtime %1 deleted %2").arg(st->int64(0)).arg(st->int64(1))
                                         : QStringLiteral("none");
        QStringList held;
        st = db.prepare(QStringLiteral("SELECT device, why, stamp FROM pending WHERE id = ?"));
        st->bind(1, watch);
        while (st->step())
            held << QStringLiteral("%1 %2 %3").arg(st->text(0).left(8), st->text(1)).arg(st->int64(2));
        st = db.prepare(QStringLiteral("SELECT value FROM meta WHERE key = 'clockFloor'"));
        const QString floor = st->step() ? st->text(0) : QString();
        // What was stamped again of it (after a clock ran far ahead), and from which stamps.
        st = db.prepare(QStringLiteral("SELECT at, was FROM restamped WHERE id = ?"));
        st->bind(1, watch);
        const QString again = st->step() ? QStringLiteral("%1 from %2").arg(st->int64(0)).arg(st->text(1)) : QStringLiteral("never");
        const auto r = row(QUuid::fromString(u'{' + watch + u'}'));
        qInfo("    watch %s: row %d, state %s, held [%s], floor %s, clock %lld, comment '%s', stamped again %s", qPrintable(name),
              int(r.has_value()), qPrintable(state), qPrintable(held.join(u',')), qPrintable(floor), clock(),
              r ? qPrintable(r->value(QStringLiteral("comment")).toString()) : "", qPrintable(again));
    }

    // LUMRA_SYNC_TRACE: what a device folder holds, the manifest in full.
    static void traceFolder(const QString& folder)
    {
        QDirIterator files(folder, QDir::Files | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        QStringList lines;
        while (files.hasNext()) {
            const QString path = files.next();
            const QFileInfo info(path);
            QFile f(path);
            const QByteArray bytes = !info.isSymLink() && info.isFile() && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            lines << QStringLiteral("%1%2 %3 %4")
                         .arg(path.mid(folder.size() + 1), info.isSymLink() ? QStringLiteral(" (link)") : QString())
                         .arg(bytes.size())
                         .arg(path.endsWith(u"manifest.json") ? QString::fromUtf8(bytes) : QString());
        }
        lines.sort();
        qInfo("    %s: %s", qPrintable(QFileInfo(folder).fileName().left(8)), qPrintable(lines.join(QStringLiteral("\n    "))));
    }

    // Edits through a context of their own, as the app's saves reach the store.
    template <typename F>
    void edit(const QUuid& id, F&& change)
    {
        auto context = persistence->newBackgroundContext();
        auto row = context->fetchById(store::EntityKind::item, id);
        ASSERT_TRUE(row) << name.toStdString() << " has no row " << id.toString().toStdString();
        change(*row);
        ASSERT_TRUE(context->save().ok());
    }
    QUuid add(const QString& text, const QByteArray& png = {})
    {
        auto context = persistence->newBackgroundContext();
        ClipboardItem item;
        item.id = newId();
        item.dateAdded = QDateTime::fromMSecsSinceEpoch(clock(), Qt::UTC);
        if (png.isEmpty()) {
            item.textContent = text;
        } else {
            item.contentType = ClipboardContentType::image;
            item.imageFileName = text + QStringLiteral(".png");
        }
        auto row = context->insert(store::EntityKind::item, persistence->cloudStore());
        populateManagedItem(*row, item);
        if (!png.isEmpty())
            row->set(store::ItemAttr::imageData, png);
        EXPECT_TRUE(context->save().ok());
        return item.id;
    }
    // When this history received each row it did not make (receivedDate), by its id.
    std::map<QUuid, qint64> receivedDates() const
    {
        std::map<QUuid, qint64> received;
        sql::Database db;
        EXPECT_TRUE(db.open(persistence->cloudStore()->path, false).ok());
        sql::Statement* st = db.prepare(QStringLiteral("SELECT id, receivedDate FROM CDClipboardItem WHERE receivedDate IS NOT NULL"));
        while (st && st->step())
            if (const std::optional<QUuid> id = st->uuid(0))
                received[*id] = std::llround(st->real(1) * 1000.0) + 978307200000LL; // seconds since 2001
        return received;
    }
    // The housekeeping's age rules by this computer's clock (and every clock the sync saw): deletes
    // every row they select, and says so to the sync folder as the app does. Answers the ids deleted.
    // `syncOn` false: as the app with sync off, which measures a row by the store's receivedDate.
    QList<QUuid> ageRulePass(bool syncOn = true)
    {
        QList<QUuid> gone;
        const std::map<QUuid, qint64> received = syncOn ? std::map<QUuid, qint64> {} : receivedDates();
        auto madeAt = [&](const QUuid& id) -> std::optional<qint64> {
            if (syncOn)
                return rowAges->madeAt(id);
            const auto it = received.find(id);
            return it == received.end() ? std::nullopt : std::optional<qint64>(it->second);
        };
        auto context = persistence->newBackgroundContext();
        store::FetchRequest request;
        request.entity = store::EntityKind::item;
        request.affectedStore = persistence->cloudStore();
        const Result<QList<store::ManagedObjectPtr>> fetched = context->fetch(request);
        for (const auto& row : fetched.value())
            if (sync::ageRuleRemoves(sync::fieldsOfRow(*row), rules, clock(), madeAt(*row->uuid(0)))) {
                gone << *row->uuid(0);
                context->deleteObject(row);
            }
        EXPECT_TRUE(ageRuleDeletes->note(gone, {sync::retentionRule, rules.retentionDays * 86400}).ok());
        EXPECT_TRUE(context->save().ok());
        return gone;
    }
    void remove(const QUuid& id)
    {
        auto context = persistence->newBackgroundContext();
        if (auto row = context->fetchById(store::EntityKind::item, id))
            context->deleteObject(row);
        EXPECT_TRUE(context->save().ok());
    }
    // Every synced row as the others must see it: id -> synced fields (and the image's hash).
    Rows rows() const
    {
        Rows all;
        auto context = persistence->newBackgroundContext();
        store::FetchRequest request;
        request.entity = store::EntityKind::item;
        request.affectedStore = persistence->cloudStore();
        const Result<QList<store::ManagedObjectPtr>> fetched = context->fetch(request);
        for (const auto& row : fetched.value()) {
            QString image;
            QJsonObject fields = sync::fieldsOfRow(*row, &image);
            if (!image.isEmpty())
                fields.insert(QStringLiteral("image"), image);
            all[row->uuid(0)->toString()] = fields;
        }
        return all;
    }
    std::optional<QJsonObject> row(const QUuid& id) const
    {
        const auto all = rows();
        const auto it = all.find(id.toString());
        return it == all.end() ? std::nullopt : std::optional<QJsonObject>(it->second);
    }
};

// A computer's home backed up with its copy of the sync folder, and restored the same way; the
// computer is stopped around either.
inline void backUpHomeAndFolder(const Computer& from, const QString& backup)
{
    copyTree(from.store.path(), backup + QStringLiteral("/store"));
    copyTree(from.replica.path(), backup + QStringLiteral("/replica"));
}
inline void restoreHomeAndFolder(const QString& backup, Computer& to)
{
    copyTree(backup + QStringLiteral("/store"), to.store.path());
    copyTree(backup + QStringLiteral("/replica"), to.replica.path());
}

// A computer's disk, its sync folder's copy too, cloned onto another; both start again.
inline void cloneDisk(Computer& from, Computer& to)
{
    from.stop();
    copyTree(from.store.path(), to.store.path());
    copyTree(from.replica.path(), to.replica.path());
    from.start();
    to.start();
}

// Keeps the computers' copies of the sync folder in step, as a file-sync tool would, with faults.
class FileSyncTool {
public:
    struct Faults {
        int lateOneIn = 0;     // leave a delivery for later
        int piecesOneIn = 0;   // write the first part now, the rest later
        int twiceOneIn = 0;    // deliver again later
        bool conflictCopies = false; // on a conflict keep the local file and add a copy
    };

    FileSyncTool(QList<Computer*> computers, std::mt19937& rng) : m_computers(std::move(computers)), m_rng(rng)
    {
        m_known.resize(m_computers.size());
    }

    // Finds what each computer changed in its copy and queues it for the others.
    void scan()
    {
        for (int i = 0; i < m_computers.size(); ++i) {
            const QString base = m_computers[i]->replica.path();
            QSet<QString> present;
            for (const QString& found : filesUnder(base + QStringLiteral("/Lumra/devices"), QDir::Files | QDir::NoSymLinks)) {
                const QString path = found.mid(base.size());
                if (QFileInfo(base + path).isSymLink() || QFileInfo(path).fileName().startsWith(u'.'))
                    continue;
                present.insert(path);
                QFile file(base + path);
                if (!file.open(QIODevice::ReadOnly))
                    continue;
                const QByteArray bytes = file.readAll();
                Version& known = m_known[i][path];
                if (known.bytes == bytes && known.exists)
                    continue;
                known = Version {bytes, true, i, ++m_sequence};
                for (int j = 0; j < m_computers.size(); ++j)
                    if (j != i)
                        m_queue.append(Delivery {i, j, path, bytes, true, ++m_sequence});
            }
            for (auto it2 = m_known[i].begin(); it2 != m_known[i].end(); ++it2) {
                if (!it2.value().exists || present.contains(it2.key()) || QFileInfo(base + it2.key()).isSymLink())
                    continue;
                it2.value() = Version {{}, false, i, ++m_sequence};
                for (int j = 0; j < m_computers.size(); ++j)
                    if (j != i)
                        m_queue.append(Delivery {i, j, it2.key(), {}, false, ++m_sequence});
            }
        }
    }

    // Delivers what is queued, in a shuffled order, with the faults asked for.
    void deliver(const Faults& faults)
    {
        QList<Delivery> queue = std::exchange(m_queue, {});
        std::shuffle(queue.begin(), queue.end(), m_rng);
        for (Delivery& d : queue) {
            if (faults.lateOneIn && m_rng() % faults.lateOneIn == 0) {
                m_queue.append(d);
                continue;
            }
            if (faults.twiceOneIn && m_rng() % faults.twiceOneIn == 0)
                m_queue.append(d);
            if (d.exists && faults.piecesOneIn && d.bytes.size() > 1 && m_rng() % faults.piecesOneIn == 0) {
                Delivery part = d;
                part.bytes = d.bytes.left(qsizetype(m_rng() % quint32(d.bytes.size())));
                part.piece = true;
                apply(part, faults);
                m_queue.append(d); // the rest comes later
                continue;
            }
            apply(d, faults);
        }
    }
    // Until nothing is left: every queued delivery, whole.
    void deliverAll()
    {
        for (int round = 0; round < 10 && !m_queue.isEmpty(); ++round)
            deliver({});
    }
    // A full re-sync: every file each computer wrote is delivered again (replacing planted links).
    void resyncAll()
    {
        // A file replaced by a planted link comes back from the copies elsewhere.
        for (int i = 0; i < m_computers.size(); ++i) {
            const QString base = m_computers[i]->replica.path();
            for (const QString& path : filesUnder(base + QStringLiteral("/Lumra/devices"), QDir::Files | QDir::System)) {
                if (!QFileInfo(path).isSymLink())
                    continue;
                QFile::remove(path);
                // The newest version any copy had: a tool never brings an older one back over it.
                const QString relative = path.mid(base.size());
                std::optional<Version> newest;
                for (int k = 0; k < m_computers.size(); ++k)
                    if (const Version v = m_known[k].value(relative); v.exists && (!newest || v.sequence > newest->sequence))
                        newest = v;
                if (newest)
                    writeFile(path, newest->bytes);
            }
        }
        for (int i = 0; i < m_computers.size(); ++i) {
            const QString devices = m_computers[i]->replica.path() + QStringLiteral("/Lumra/devices");
            for (const QString& name : QDir(devices).entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
                for (const QString& sub : {QString(), QStringLiteral("/images")})
                    if (QFileInfo(devices + u'/' + name + sub).isSymLink())
                        QFile::remove(devices + u'/' + name + sub);
        }
        for (int i = 0; i < m_computers.size(); ++i)
            for (auto it = m_known[i].begin(); it != m_known[i].end(); ++it)
                if (it.value().origin == i)
                    for (int j = 0; j < m_computers.size(); ++j)
                        if (j != i)
                            m_queue.append(Delivery {i, j, it.key(), it.value().bytes, it.value().exists, ++m_sequence});
        deliverAll();
        // Files whose writer's copy is gone (its disk was overwritten by a clone): the newest copy
        // anyone holds goes to the others.
        std::set<QString> paths;
        for (const auto& known : std::as_const(m_known))
            for (auto it = known.begin(); it != known.end(); ++it)
                paths.insert(it.key());
        for (const QString& path : std::as_const(paths)) {
            int newest = -1;
            bool written = false;
            for (int i = 0; i < m_computers.size(); ++i) {
                const Version v = m_known[i].value(path);
                written = written || (v.origin == i && v.exists);
                if (v.exists && (newest < 0 || v.sequence > m_known[newest].value(path).sequence))
                    newest = i;
            }
            if (written || newest < 0)
                continue;
            for (int j = 0; j < m_computers.size(); ++j)
                if (j != newest && m_known[j].value(path).sequence < m_known[newest].value(path).sequence)
                    m_queue.append(Delivery {newest, j, path, m_known[newest].value(path).bytes, true, ++m_sequence});
        }
        deliverAll();
    }
    // A computer's copy became a copy of another's (a cloned disk).
    void cloned(int from, int to)
    {
        m_known[to] = m_known[from];
        for (auto it = m_known[to].begin(); it != m_known[to].end(); ++it)
            if (it.value().origin == to)
                it.value().origin = -1; // a copy of what the overwritten disk had sent, not its own writing any more
    }
    bool idle() const { return m_queue.isEmpty(); }
    // Drops what is queued for one file (it arrives "never", until a later re-sync).
    void hold(const std::function<bool(const QString&)>& which)
    {
        QList<Delivery> keep;
        for (const Delivery& d : std::as_const(m_queue))
            (which(d.path) ? m_held : keep).append(d);
        m_queue = keep;
    }
    void release()
    {
        m_queue += m_held;
        m_held.clear();
    }

private:
    struct Version {
        QByteArray bytes;
        bool exists = false;
        int origin = -1; // which computer wrote it
        quint64 sequence = 0;
    };
    struct Delivery {
        int from = 0, to = 0;
        QString path;
        QByteArray bytes;
        bool exists = true;
        quint64 sequence = 0;
        bool piece = false;
    };

    void apply(const Delivery& d, const Faults& faults)
    {
        const QString target = m_computers[d.to]->replica.path() + d.path;
        Version& there = m_known[d.to][d.path];
        if (const auto it = m_delivered.find({d.from, d.to, d.path}); !d.piece && it != m_delivered.end() && it->second > d.sequence)
            return; // an older version than one delivered already
        if (!d.exists) {
            if (there.origin != d.to && !QFileInfo(target).isSymLink())
                QFile::remove(target);
            there = Version {{}, false, d.from};
            return;
        }
        // A tool replaces a link in the way with the folder or file it delivers; it never writes through one.
        const QString base = m_computers[d.to]->replica.path();
        QString at = base;
        for (const QString& part : QFileInfo(d.path).path().split(u'/', Qt::SkipEmptyParts)) {
            at += u'/' + part;
            if (QFileInfo(at).isSymLink())
                QFile::remove(at);
        }
        QDir().mkpath(QFileInfo(target).path());
        if (there.exists && there.origin == d.to && QFileInfo::exists(target)) {
            // Changed in two places: keep the local file and add a copy, or let the newer win.
            if (faults.conflictCopies && m_rng() % 2 == 0) {
                const QFileInfo info(target);
                writeFile(info.path() + u'/' + info.completeBaseName() + QStringLiteral(".sync-conflict-%1.").arg(d.sequence)
                              + info.suffix(),
                          d.bytes);
                return;
            }
        }
        if (QFileInfo(target).isSymLink())
            QFile::remove(target); // a tool replaces a link with the file it delivers
        writeFile(target, d.bytes);
        there = Version {d.bytes, true, d.from, d.piece ? 0 : d.sequence};
        if (!d.piece)
            m_delivered[{d.from, d.to, d.path}] = d.sequence;
    }
    // In name order: the order a directory lists in is the file system's, not the seed's.
    static QStringList filesUnder(const QString& folder, QDir::Filters filters)
    {
        QStringList paths;
        QDirIterator it(folder, filters | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            paths << it.next();
        paths.sort();
        return paths;
    }
    // As a tool does (a temporary file renamed into place): a link where it writes is replaced, never written through.
    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        if (QFileInfo(path).isSymLink())
            QFile::remove(path);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        file.write(bytes);
    }

    QList<Computer*> m_computers;
    std::mt19937& m_rng;
    QList<QMap<QString, Version>> m_known; // per computer: what the tool last saw or wrote there (sorted: runs replay)
    QList<Delivery> m_queue, m_held;
    std::map<std::tuple<int, int, QString>, quint64> m_delivered;
    quint64 m_sequence = 0;
};

// Files outside every sync folder that planted links point at: none may ever change.
struct Outside {
    QTemporaryDir dir;
    Outside()
    {
        for (const char* name : {"secret-1", "secret-2", "secret-3"}) {
            QFile f(dir.path() + u'/' + QLatin1String(name));
            f.open(QIODevice::WriteOnly);
            f.write("do not touch " + QByteArray(name));
        }
        QDir(dir.path()).mkdir(QStringLiteral("folder"));
    }
    QString target(int n) const { return dir.path() + QStringLiteral("/secret-%1").arg(n % 3 + 1); }
    QString folder() const { return dir.path() + QStringLiteral("/folder"); }
    bool untouched() const
    {
        const QStringList names = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        if (names != QStringList {QStringLiteral("folder"), QStringLiteral("secret-1"), QStringLiteral("secret-2"), QStringLiteral("secret-3")})
            return false;
        if (!QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
            return false;
        for (int n = 1; n <= 3; ++n) {
            QFile f(dir.path() + QStringLiteral("/secret-%1").arg(n));
            if (!f.open(QIODevice::ReadOnly) || f.readAll() != "do not touch secret-" + QByteArray::number(n))
                return false;
        }
        return true;
    }
    // Replaces a file (or folder) with a link to something out here.
    void plant(const QString& path, int n, bool folderLink = false) const
    {
        if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
        QFile::link(folderLink ? folder() : target(n), path);
    }
};

} // namespace lumra::test::syncsim
