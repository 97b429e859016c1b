#include "model/sync/SyncFolderContainer.h"

#include "model/Diagnostics.h"
#include "model/store/PersistenceController.h"
#include "model/sync/SyncEngine.h"
#include "platform/cloud/SyncFiles.h"
#include "platform/cloud/SyncFolderKeyValueStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QThread>
#include <QtConcurrent>

namespace lumra {

using namespace std::chrono_literals;

// One pass on the worker: what it was given and what came of it.
struct SyncFolderContainer::Pass {
    bool open = false;
    bool full = false;
    QSet<QUuid> dirty;
    qint64 now = 0;
    Status openStatus;
    sync::SyncEngine::Outcome exported;
    sync::SyncEngine::Outcome imported;
};

SyncFolderContainer::SyncFolderContainer(Clock& clock, QObject* parent) : CloudContainer(parent), m_clock(clock)
{
    m_pool.setMaxThreadCount(1);
    connect(&m_watcher, &QFutureWatcher<std::shared_ptr<Pass>>::finished, this, &SyncFolderContainer::finishPass);
}

SyncFolderContainer::~SyncFolderContainer() { detach(); }

void SyncFolderContainer::accountStatus(std::function<void(Result<CloudAccountStatus>)> completion)
{
    completion(isFolderUsable() ? CloudAccountStatus::available : CloudAccountStatus::noAccount);
}

bool SyncFolderContainer::isFolderUsable(QString* why) const { return sync::SyncFiles::isUsable(m_folder, why); }

void SyncFolderContainer::setFolder(const QString& folder)
{
    if (folder == m_folder)
        return;
    m_folder = folder;
    m_reportedUnavailable = false;
    if (m_running) {
        m_again = true; // the engine of the old folder goes when its pass ends
        return;
    }
    dropEngine();
    if (m_settings)
        m_settings->setFolder(isFolderUsable() ? sync::SyncFiles::root(m_folder) : QString(), m_device);
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
        m_settings->setFolder(isFolderUsable() ? sync::SyncFiles::root(m_folder) : QString(), m_device);
    startOrStop();
}

void SyncFolderContainer::detach()
{
    for (const auto& c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_rescanTimer.reset();
    m_pendingTimer.reset();
    m_pool.waitForDone();
    if (m_running) {
        m_watcher.waitForFinished();
        m_running = false;
    }
    dropEngine();
    delete m_fsWatcher;
    m_fsWatcher = nullptr;
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

void SyncFolderContainer::syncNow() { schedule(0ms); }

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
    QString why;
    if (!isFolderUsable(&why)) {
        folderUnavailable(why);
        return;
    }
    const store::PersistentStore* cloud = m_persistence->cloudStore();
    if (!cloud) {
        folderUnavailable(QStringLiteral("The synced history file is not open"));
        return;
    }

    auto pass = std::make_shared<Pass>();
    if (!m_engine) {
        sync::SyncEngine::Config config;
        config.root = sync::SyncFiles::root(m_folder);
        config.device = m_device;
        config.stateFile = m_persistence->folder() + QStringLiteral("/LumraSync.sqlite");
        config.compactAfterRecords = m_compactAfterRecords;
        m_engine = std::make_shared<sync::SyncEngine>(config, m_persistence->newBackgroundContext(), cloud);
        m_engineOpen = false;
    }
    pass->open = !m_engineOpen;
    if (pass->open)
        report(CloudSyncEvent::setup, false);
    pass->full = m_fullExport;
    pass->dirty = std::exchange(m_dirty, {});
    pass->now = m_clock.now().toMSecsSinceEpoch();
    if (pass->full) {
        m_fullExport = false;
        m_passesSinceFull = 0;
    }
    m_running = true;
    m_again = false;
    std::shared_ptr<sync::SyncEngine> engine = m_engine;
    m_watcher.setFuture(QtConcurrent::run(&m_pool, [engine, pass] {
        if (pass->open) {
            pass->openStatus = engine->open(pass->now);
            if (!pass->openStatus)
                return pass;
        }
        // Our own changes first: one made here while another computer's older change arrives wins.
        pass->exported = engine->exportChanges(pass->dirty, pass->full, pass->now);
        if (pass->exported.status)
            pass->imported = engine->importChanges(pass->now);
        return pass;
    }));
}

void SyncFolderContainer::finishPass()
{
    m_running = false;
    std::shared_ptr<Pass> pass = m_watcher.result();
    if (!pass)
        return;
    if (pass->open) {
        if (!pass->openStatus) {
            report(CloudSyncEvent::setup, true, pass->openStatus.error());
            m_dirty.unite(pass->dirty);
            m_fullExport = true;
            dropEngine();
            return;
        }
        m_engineOpen = true;
        m_available = true;
        m_reportedUnavailable = false;
        report(CloudSyncEvent::setup, true);
        watchFolders();
    }
    const auto& exported = pass->exported;
    if (exported.written > 0 || !exported.status) {
        report(CloudSyncEvent::export_, false);
        report(CloudSyncEvent::export_, true, exported.status ? QString() : exported.status.error());
    }
    if (!exported.status) {
        m_dirty.unite(pass->dirty); // try those rows again
        m_fullExport = m_fullExport || pass->full;
    }
    const auto& imported = pass->imported;
    if (imported.applied > 0 || !imported.problems.isEmpty() || !imported.status) {
        report(CloudSyncEvent::import, false);
        report(CloudSyncEvent::import, true, imported.status ? QString() : imported.status.error());
    }
    for (const QString& problem : exported.problems + imported.problems)
        Diagnostics::shared().warn(QStringLiteral("SyncEngine"), QStringLiteral("Skipped: ") + problem);
    m_recentProblems += imported.problems;
    if (m_recentProblems.size() > 200)
        m_recentProblems = m_recentProblems.mid(m_recentProblems.size() - 200);
    if (m_settings)
        m_settings->rescan();
    if (!m_engine || m_engine->config().root != sync::SyncFiles::root(m_folder))
        dropEngine(); // the folder changed during the pass
    if (m_again || !m_dirty.isEmpty() || !m_engine)
        schedule(m_again ? 0ms : changeDelay);
}

void SyncFolderContainer::folderUnavailable(const QString& why)
{
    if (m_engine)
        dropEngine();
    if (m_settings)
        m_settings->setFolder({}, m_device);
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
        }
    }
    emit eventChanged(event);
}

void SyncFolderContainer::watchFolders()
{
    if (!m_fsWatcher) {
        m_fsWatcher = new QFileSystemWatcher(this);
        auto changed = [this] {
            watchFolders(); // files replaced by a rename leave the watch
            schedule(100ms);
        };
        connect(m_fsWatcher, &QFileSystemWatcher::directoryChanged, this, changed);
        connect(m_fsWatcher, &QFileSystemWatcher::fileChanged, this, changed);
    }
    const QString root = sync::SyncFiles::root(m_folder);
    QStringList paths {sync::SyncFiles::devicesFolder(root)};
    for (const QUuid& device : sync::SyncFiles::otherDevices(root, m_device)) {
        const QString folder = sync::SyncFiles::deviceFolder(root, device);
        paths << folder;
        if (Result<qint64> generation = sync::SyncFiles::readManifest(folder))
            paths << sync::SyncFiles::journalPath(folder, generation.value());
    }
    const QStringList watched = m_fsWatcher->files() + m_fsWatcher->directories();
    for (const QString& path : paths)
        if (!watched.contains(path) && QFileInfo::exists(path))
            m_fsWatcher->addPath(path);
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
