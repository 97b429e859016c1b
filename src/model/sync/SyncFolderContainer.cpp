#include "model/sync/SyncFolderContainer.h"

#include "model/Diagnostics.h"
#include "model/store/PersistenceController.h"
#include "model/sync/SyncEngine.h"
#include "platform/cloud/SyncFiles.h"
#include "platform/cloud/SyncFolderKeyValueStore.h"

#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QThread>

namespace lumra {

using namespace std::chrono_literals;

namespace {
// The watch thread's end waits no longer than this when a watch is stuck on a hung mount.
constexpr std::chrono::milliseconds watchThreadEndsWithin = 500ms;
} // namespace

// One pass on the worker: what it was given and what came of it.
struct SyncFolderContainer::Pass {
    QString folder;
    bool open = false;
    bool full = false;
    QSet<QUuid> dirty;
    qint64 now = 0;
    sync::AgeRules ageRules;
    QUuid device;
    std::optional<QByteArray> settingsWrite;
    bool readSettings = false;

    QString unavailable; // why the folder cannot be used; empty: it can
    Status openStatus;
    sync::SyncEngine::Outcome opened;
    sync::SyncEngine::Outcome exported;
    sync::SyncEngine::Outcome imported;
    sync::SyncEngine::Health health;
    Status settingsWritten;
    std::optional<SyncFolderKeyValueStore::Files> settings;
    QStringList watchPaths;
};

SyncFolderContainer::SyncFolderContainer(Clock& clock, QObject* parent, BackgroundWork* work)
    : CloudContainer(parent)
    , m_clock(clock)
    , m_work(work ? *work : BackgroundWork::current())
    , m_tasks(m_work)
{
    connect(&m_watcher, &QFutureWatcher<std::shared_ptr<Pass>>::finished, this, &SyncFolderContainer::finishPass);
}

SyncFolderContainer::~SyncFolderContainer() { detach(); }

void SyncFolderContainer::accountStatus(std::function<void(Result<CloudAccountStatus>)> completion)
{
    // On the worker: a hung mount must not hang the caller. The answer comes back on this thread.
    QPointer<SyncFolderContainer> self(this);
    const QString folder = m_folder;
    m_work.start(BackgroundWork::Lane::syncPasses, [token = m_tasks.token(), self, folder, completion = std::move(completion)]() mutable {
        const bool usable = sync::SyncFiles::isUsable(folder);
        QMetaObject::invokeMethod(qApp, [self, usable, completion = std::move(completion)] {
            if (self)
                completion(usable ? CloudAccountStatus::available : CloudAccountStatus::noAccount);
        }, Qt::QueuedConnection);
    });
}

bool SyncFolderContainer::isFolderUsable(QString* why) const { return sync::SyncFiles::isUsable(m_folder, why); }

void SyncFolderContainer::setFolder(const QString& folder)
{
    if (folder == m_folder)
        return;
    m_folder = folder;
    m_reportedUnavailable = false;
    m_failures = 0;
    m_backOffUntil = 0;
    if (m_running) {
        m_again = true; // the engine of the old folder goes when its pass ends
        return;
    }
    dropEngine();
    if (m_settings)
        m_settings->setFolder({}, m_device); // until a pass finds the new folder usable
    startOrStop();
}

bool SyncFolderContainer::isActive() const
{
    return m_persistence && m_persistence->iCloudEnabled() && !m_folder.trimmed().isEmpty();
}

void SyncFolderContainer::startOrStop()
{
    if (!isActive()) {
        // No folder chosen (or sync off): nothing to do and nothing to report.
        m_rescanTimer.reset();
        m_pendingTimer.reset();
        return;
    }
    if (!m_rescanTimer)
        m_rescanTimer = m_clock.start(rescanInterval, true, [this] {
            if (m_clock.elapsed().count() < m_backOffUntil)
                return;
            if (++m_passesSinceFull >= fullScanEvery)
                m_fullExport = true;
            schedule(0ms);
        });
    schedule(0ms);
}

void SyncFolderContainer::attach(PersistenceController& persistence, SyncFolderKeyValueStore* settings)
{
    detach();
    m_persistence = &persistence;
    m_settings = settings;
    m_device = sync::SyncFiles::deviceId(persistence.folder());
    m_connections << connect(&persistence, &PersistenceController::didSave, this, &SyncFolderContainer::noteChanges);
    m_connections << connect(&persistence, &PersistenceController::remoteChange, this, &SyncFolderContainer::noteChanges);
    if (m_settings)
        m_settings->setFileAccess([this] { schedule(changeDelay); });
    startOrStop();
}

void SyncFolderContainer::detach()
{
    for (const auto& c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_rescanTimer.reset();
    m_pendingTimer.reset();
    m_tasks.wait();
    m_running = false;
    dropEngine();
    // The watcher goes with its thread; one stuck adding a watch on a hung mount is left behind.
    if (m_watchThread)
        m_watchThread->end(watchThreadEndsWithin);
    m_watchThread.reset();
    m_fsWatcher = nullptr;
    if (m_settings)
        m_settings->setFileAccess({});
    m_settings = nullptr;
    m_persistence = nullptr;
}

void SyncFolderContainer::dropEngine()
{
    m_engine.reset();
    m_engineOpen = false;
    m_available = false;
    m_fullExport = true;
}

void SyncFolderContainer::noteChanges(const store::ChangeSet& changes)
{
    for (const QList<QUuid>* ids : {&changes.inserted, &changes.updated, &changes.deleted})
        for (const QUuid& id : *ids)
            m_dirty.insert(id);
    schedule(changeDelay);
}

void SyncFolderContainer::syncNow()
{
    m_backOffUntil = 0;
    schedule(0ms);
}

void SyncFolderContainer::schedule(std::chrono::milliseconds delay)
{
    if (!isActive())
        return;
    if (m_running) {
        m_again = true;
        return;
    }
    if (m_pendingTimer && delay > 0ms)
        return; // one is due already
    m_pendingTimer = m_clock.start(delay, false, [this] {
        auto firing = std::move(m_pendingTimer); // lives until this call returns
        runPass();
    });
}

void SyncFolderContainer::runPass()
{
    if (!isActive() || m_running)
        return;
    const store::PersistentStore* cloud = m_persistence->cloudStore();
    if (!cloud) {
        folderUnavailable(QStringLiteral("The synced history file is not open"));
        return;
    }

    auto pass = std::make_shared<Pass>();
    pass->folder = m_folder;
    if (!m_engine) {
        sync::SyncEngine::Config config;
        config.root = sync::SyncFiles::root(m_folder);
        config.device = m_device;
        config.stateFile = m_persistence->folder() + QLatin1Char('/') + PersistenceController::syncStateFileName;
        config.storeFolder = m_persistence->folder();
        config.compactAfterRecords = m_compactAfterRecords;
        config.ageRuleDeletes = m_ageRuleDeletes;
        config.rowAges = m_rowAges;
        m_engine = std::make_shared<sync::SyncEngine>(config, m_persistence->newBackgroundContext(), cloud);
        m_engineOpen = false;
    }
    pass->open = !m_engineOpen;
    pass->full = m_fullExport;
    pass->dirty = std::exchange(m_dirty, {});
    pass->now = m_clock.now().toMSecsSinceEpoch();
    if (m_ageRules)
        pass->ageRules = m_ageRules();
    pass->device = m_device;
    if (m_settings) {
        if (std::optional<QByteArray> bytes = m_settings->takePendingWrite())
            m_settingsWrite = std::move(bytes);
        pass->settingsWrite = m_settingsWrite;
        pass->readSettings = true;
    }
    if (pass->full) {
        m_fullExport = false;
        m_passesSinceFull = 0;
    }
    m_running = true;
    m_again = false;
    ++m_passesStarted;
    m_hungTimer = m_clock.start(answerWithin, false, [this] {
        auto firing = std::move(m_hungTimer);
        if (!m_running || m_reportedHung)
            return;
        m_reportedHung = true; // until a pass comes back
        report(CloudSyncEvent::setup, true, QStringLiteral("The sync folder is not answering"));
    });
    std::shared_ptr<sync::SyncEngine> engine = m_engine;
    m_watcher.setFuture(m_work.run(BackgroundWork::Lane::syncPasses, [token = m_tasks.token(), engine, pass, hook = m_passHook] {
        if (hook)
            hook();
        if (QString why; !sync::SyncFiles::isUsable(pass->folder, &why)) {
            pass->unavailable = why;
            return pass;
        }
        const QString root = sync::SyncFiles::root(pass->folder);
        if (pass->open) {
            pass->openStatus = engine->open(pass->now, &pass->opened);
            pass->device = engine->device();
            if (!pass->openStatus)
                return pass;
        }
        engine->setAgeRules(pass->ageRules);
        // Our own changes first: one made here while another computer's older change arrives wins.
        // What others wrote is read even when ours cannot be written (a full disk, say).
        pass->exported = engine->exportChanges(pass->dirty, pass->full, pass->now);
        pass->imported = engine->importChanges(pass->now);
        pass->health = engine->health(pass->now);
        pass->device = engine->device();
        if (pass->settingsWrite)
            pass->settingsWritten = SyncFolderKeyValueStore::writeFile(root, pass->device, *pass->settingsWrite);
        if (pass->readSettings)
            pass->settings = SyncFolderKeyValueStore::readFiles(root, pass->device);
        // The files worth watching: the folder of devices, each other device's folder and journal.
        pass->watchPaths << sync::SyncFiles::devicesFolder(root);
        for (const QUuid& device : sync::SyncFiles::otherDevices(root, pass->device)) {
            Result<sync::SyncDir> dir = sync::SyncFiles::openDeviceFolder(root, device, false);
            if (!dir)
                continue;
            const QString folder = sync::SyncFiles::deviceFolder(root, device);
            pass->watchPaths << folder;
            if (Result<std::optional<sync::Manifest>> manifest = sync::SyncFiles::readManifest(dir.value()); manifest && manifest.value())
                if (dir->size(sync::SyncFiles::journalName(manifest.value()->generation)))
                    pass->watchPaths << sync::SyncFiles::journalPath(folder, manifest.value()->generation);
        }
        return pass;
    }));
}

void SyncFolderContainer::finishPass()
{
    m_running = false;
    m_hungTimer.reset();
    const bool wasHung = std::exchange(m_reportedHung, false);
    if (m_watcher.future().resultCount() == 0)
        return; // dropped as Lumra quits
    std::shared_ptr<Pass> pass = m_watcher.result();
    if (!pass)
        return;
    if (!pass->unavailable.isEmpty()) {
        if (wasHung)
            m_reportedUnavailable = false; // the folder answered at last: say how it is
        folderUnavailable(pass->unavailable);
        if (m_again)
            schedule(0ms);
        return;
    }
    for (const QString& notice : pass->opened.notices + pass->exported.notices + pass->imported.notices)
        Diagnostics::shared().warn(QStringLiteral("SyncEngine"), notice);
    const bool deviceChanged = !pass->device.isNull() && pass->device != m_device;
    if (deviceChanged)
        m_device = pass->device; // a cloned or restored disk: this computer goes on under a new id
    if (pass->open) {
        if (!pass->openStatus) {
            m_dirty.unite(pass->dirty);
            m_fullExport = true;
            dropEngine();
            if (pass->openStatus.error() != m_lastFailure) {
                report(CloudSyncEvent::setup, false);
                report(CloudSyncEvent::setup, true, pass->openStatus.error());
            }
            m_lastFailure = pass->openStatus.error();
            passFailed();
            return;
        }
        m_engineOpen = true;
        m_available = true;
        m_reportedUnavailable = false;
        report(CloudSyncEvent::setup, false);
        report(CloudSyncEvent::setup, true);
    } else if (wasHung) {
        report(CloudSyncEvent::setup, true); // it answers again
    }
    if (m_settings) {
        if (m_settings->folder() != sync::SyncFiles::root(pass->folder) || deviceChanged)
            m_settings->setFolder(sync::SyncFiles::root(pass->folder), m_device);
        if (pass->settingsWrite && pass->settingsWritten && m_settingsWrite == pass->settingsWrite)
            m_settingsWrite.reset();
        if (pass->settings)
            m_settings->receive(*pass->settings);
    }
    watch(pass->watchPaths);

    const auto& exported = pass->exported;
    const auto& imported = pass->imported;
    const QString before = m_warning;
    updateWarning(pass);
    const QString failure = !exported.status ? exported.status.error() : !imported.status ? imported.status.error() : QString();
    if (exported.written > 0 || (!exported.status && failure != m_lastFailure)) {
        report(CloudSyncEvent::export_, false);
        report(CloudSyncEvent::export_, true, exported.status ? QString() : exported.status.error());
    }
    if (!exported.status) {
        m_dirty.unite(pass->dirty); // try those rows again
        m_fullExport = m_fullExport || pass->full;
    }
    for (const QString& problem : exported.problems + imported.problems)
        Diagnostics::shared().warn(QStringLiteral("SyncEngine"), QStringLiteral("Skipped: ") + problem);
    m_recentProblems += imported.problems;
    if (m_recentProblems.size() > 200)
        m_recentProblems = m_recentProblems.mid(m_recentProblems.size() - 200);
    // After an export's report, what reading found is said again under its own name.
    const bool exportSaid = exported.written > 0 && exported.status && m_warning != m_exportWarning;
    if (imported.applied > 0 || !imported.problems.isEmpty() || (!imported.status && failure != m_lastFailure)
        || (m_warning != before && exported.status) || exportSaid) {
        report(CloudSyncEvent::import, false);
        report(CloudSyncEvent::import, true, imported.status ? QString() : imported.status.error());
    }
    m_lastFailure = failure;
    if (failure.isEmpty())
        m_failures = 0;
    else
        passFailed();

    if (!m_engine || m_engine->config().root != sync::SyncFiles::root(m_folder))
        dropEngine(); // the folder changed during the pass
    if (m_again || !m_dirty.isEmpty() || !m_engine || m_settingsWrite)
        if (m_clock.elapsed().count() >= m_backOffUntil)
            schedule(m_again ? 0ms : changeDelay);
    if (pass->open && m_onOpened)
        m_onOpened();
}

void SyncFolderContainer::passFailed()
{
    // Each failure in a row doubles the wait before the next attempt, up to a minute. Measured on
    // the steady clock: a wall clock set back must not stretch the wait by as much.
    ++m_failures;
    const qint64 wait = std::min<qint64>(longestBackOff.count(), rescanInterval.count() << std::min(m_failures, 10));
    m_backOffUntil = m_clock.elapsed().count() + wait;
}

namespace {

// A computer by the first 8 digits of its id, or as many more as tell it from the others named.
QString computer(const QString& device, const QStringList& named)
{
    qsizetype digits = 8;
    for (const QString& other : named)
        while (other != device && digits < device.size() && other.left(digits) == device.left(digits))
            ++digits;
    return QStringLiteral("computer ") + device.left(digits);
}

// "200 days", "5 hours", "12 minutes": how far a clock is off, to the nearest unit.
QString span(qint64 ms)
{
    auto unit = [ms](qint64 size, const char* name) {
        const qint64 n = std::max<qint64>(1, (ms + size / 2) / size);
        return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(name), n == 1 ? "" : "s");
    };
    if (ms >= 2LL * 86'400'000 - 43'200'000)
        return unit(86'400'000, "day");
    if (ms >= 2LL * 3'600'000 - 1'800'000)
        return unit(3'600'000, "hour");
    return unit(60'000, "minute");
}

} // namespace

QString SyncFolderContainer::warningFor(const sync::SyncEngine::Health& health)
{
    // The worst first; each stays for as long as it holds.
    QStringList parts;
    auto count = [](int n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QString::fromLatin1(n == 1 ? one : many));
    };
    const QStringList named = health.unreadable.keys() + health.heldFrom.keys() + health.clocksAhead.keys() + health.clocksBehind.keys()
        + health.refused.keys();
    auto name = [&](const QString& device) { return computer(device, named); };
    for (auto it = health.unreadable.begin(); it != health.unreadable.end(); ++it)
        parts << QStringLiteral("the folder of %1 cannot be read").arg(name(it.key()));
    if (!health.stalled.isEmpty())
        parts << count(int(health.stalled.size()), "computer waiting for a file to arrive", "computers waiting for files to arrive");
    // Held records, by writer. Which clock is wrong is not known here, only how far apart the two
    // are, and only while what it writes is still ahead.
    QStringList writers = health.heldFrom.keys() + health.clocksAhead.keys();
    writers.sort();
    writers.removeDuplicates();
    for (const QString& device : std::as_const(writers)) {
        const int held = health.heldFrom.value(device);
        if (health.clocksAhead.contains(device))
            parts << QStringLiteral("records from %1 are stamped %2 ahead of this computer's clock").arg(name(device), span(health.clocksAhead.value(device)))
                    + (held ? QStringLiteral(": %1 held").arg(held) : QString());
        else
            parts << count(held, "record", "records") + QStringLiteral(" from %1 held: stamped ahead of this computer's clock").arg(name(device));
    }
    // A clock far behind dates copies made now long ago: as its computer said it last.
    for (auto it = health.clocksBehind.begin(); it != health.clocksBehind.end(); ++it)
        parts << QStringLiteral("%1 dates its copies %2 behind this computer's clock").arg(name(it.key()), span(it.value()));
    for (auto it = health.refused.begin(); it != health.refused.end(); ++it)
        parts << count(it.value(), "record refused", "records refused") + QStringLiteral(" from ") + name(it.key());
    if (QString kept = exportWarningFor(health); !kept.isEmpty())
        parts << kept;
    if (health.waitingForImages > 0)
        parts << count(health.waitingForImages, "record waiting for its image", "records waiting for their images");
    return parts.join(QStringLiteral(", "));
}

QString SyncFolderContainer::exportWarningFor(const sync::SyncEngine::Health& health)
{
    if (health.keptLocal <= 0)
        return {};
    return QStringLiteral("%1 %2").arg(health.keptLocal).arg(health.keptLocal == 1 ? QStringLiteral("item too large to sync kept on this computer")
                                                                                    : QStringLiteral("items too large to sync kept on this computer"));
}

void SyncFolderContainer::updateWarning(const std::shared_ptr<Pass>& pass)
{
    m_warning = warningFor(pass->health);
    m_exportWarning = exportWarningFor(pass->health);
}

void SyncFolderContainer::folderUnavailable(const QString& why)
{
    if (m_engine)
        dropEngine();
    if (m_settings)
        m_settings->setFolder({}, m_device);
    passFailed();
    if (m_reportedUnavailable || !isActive())
        return;
    // Said once until the folder is back; the history stays as it is meanwhile.
    m_reportedUnavailable = true;
    report(CloudSyncEvent::setup, false);
    report(CloudSyncEvent::setup, true, why);
}

void SyncFolderContainer::report(int type, bool finished, const QString& error)
{
    CloudSyncEvent event;
    event.type = type;
    if (finished) {
        event.endDate = m_clock.now();
        if (!error.isEmpty()) {
            CloudError e;
            e.localizedDescription = error;
            event.error = e;
        } else if (const QString& warning = type == CloudSyncEvent::export_ ? m_exportWarning : m_warning; !warning.isEmpty()) {
            // A success does not hide what is wrong, and each says what is its own: an export what
            // it kept back, the rest what reading the others found.
            event.warning = warning;
        }
    }
    emit eventChanged(event);
}

void SyncFolderContainer::watch(const QStringList& paths)
{
    if (!m_fsWatcher) {
        // On a thread of its own: adding a watch touches the folder, which may be a hung mount.
        m_watchThread = m_work.thread("lumra-syncwatch");
        m_fsWatcher = new QFileSystemWatcher;
        m_fsWatcher->moveToThread(m_watchThread->thread());
        connect(m_watchThread->thread(), &QThread::finished, m_fsWatcher, &QObject::deleteLater);
        auto changed = [this] { schedule(100ms); }; // the next pass renews the watch on replaced files
        connect(m_fsWatcher, &QFileSystemWatcher::directoryChanged, this, changed);
        connect(m_fsWatcher, &QFileSystemWatcher::fileChanged, this, changed);
    }
    QMetaObject::invokeMethod(m_fsWatcher, [watcher = m_fsWatcher, paths] {
        const QStringList watched = watcher->files() + watcher->directories();
        QStringList add;
        for (const QString& path : paths)
            if (!watched.contains(path))
                add << path;
        if (!add.isEmpty())
            watcher->addPaths(add);
    }, Qt::QueuedConnection);
}

bool SyncFolderContainer::waitForIdle(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (m_pendingTimer && !m_running) {
            m_pendingTimer.reset();
            runPass();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!m_running && !m_pendingTimer)
            return true;
        QThread::msleep(1);
    }
    return false;
}

} // namespace lumra
