#pragma once

#include "model/store/ManagedObjectContext.h"
#include "model/sync/AgeRules.h"
#include "model/sync/SyncEngine.h"
#include "platform/cloud/CloudContainer.h"
#include "platform/core/BackgroundWork.h"
#include "platform/core/Clock.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QSet>
#include <QThread>
#include <QUuid>

#include <chrono>
#include <memory>
#include <optional>

class QFileSystemWatcher;

namespace lumra {

class PersistenceController;
class SyncFolderKeyValueStore;



// The synced history's mirror in a sync folder the user chose. Changes of the synced store file are
// written to this computer's journal there; other computers' journals are read and applied, when
// their files change and every few seconds (sync tools write files in many ways). Every access to
// the folder (checks, the watcher, the mirrored settings) runs off the main thread, so a slow or
// hung network mount never freezes the popup; the events of each step are reported as a cloud
// container's are, and what was refused, kept back or is still awaited shows as a warning.
class SyncFolderContainer final : public CloudContainer {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds changeDelay {300};
    static constexpr std::chrono::milliseconds rescanInterval {5000};
    static constexpr int fullScanEvery = 60; // rescans between two full passes over the store
    static constexpr std::chrono::milliseconds longestBackOff {60 * 1000};
    // A pass that has not come back after this long says the folder is not answering (a hung mount).
    static constexpr std::chrono::milliseconds answerWithin {10 * 1000};

    // `work` null: BackgroundWork::current().
    explicit SyncFolderContainer(Clock& clock = Clock::shared(), QObject* parent = nullptr, BackgroundWork* work = nullptr);
    ~SyncFolderContainer() override;

    QString identifier() const override { return QStringLiteral("sync-folder"); }
    // Available while the chosen folder is there and writable; otherwise no account. Checked on the worker.
    void accountStatus(std::function<void(Result<CloudAccountStatus>)> completion) override;

    // The folder the user chose ("syncFolderPath"); empty: none. Takes effect at once.
    void setFolder(const QString& folder);
    QString folder() const { return m_folder; }
    bool isFolderUsable(QString* why = nullptr) const;

    // Starts mirroring the synced file of `persistence`; the mirrored settings follow the same folder.
    // Call detach() before the controller goes.
    void attach(PersistenceController& persistence, SyncFolderKeyValueStore* settings = nullptr);
    // Waits for the pass under way, unless quitting began: the folder's files and the sync state are
    // written so that a pass cut short at any point is read correctly afterwards.
    void detach();

    // Runs a pass now (or right after the one under way).
    void syncNow();
    bool isIdle() const { return !m_running && !m_pendingTimer; }
    // Tests: runs the event loop until no pass is under way or due, or the time is up.
    bool waitForIdle(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

    // Tests and benchmarks: a smaller journal bound, a shorter wait for images.
    void setCompactAfterRecords(qint64 records)
    {
        m_compactAfterRecords = records;
        if (!m_running)
            dropEngine(); // the next pass makes one with the new bound
    }

    // This computer's age rules, read on the main thread before each pass.
    void setAgeRules(std::function<sync::AgeRules()> rules) { m_ageRules = std::move(rules); }
    // Where the housekeeping notes the deletes its age rules make (from any thread), so that they
    // travel as such.
    const std::shared_ptr<sync::AgeRuleLedger>& ageRuleDeletes() const { return m_ageRuleDeletes; }
    // Whether sync is on and a folder chosen.
    bool isActive() const;
    // When every clock the sync sees says each row was made; none until the sync state was read.
    const std::shared_ptr<sync::RowAges>& rowAges() const { return m_rowAges; }

    // Runs on this thread once the sync state was read (RowAges loaded) after the engine opened.
    void setOnOpened(std::function<void()> opened) { m_onOpened = std::move(opened); }

    // Tests: runs on the worker at the start of every pass (a test holds it there as a hung mount would).
    void setPassHookForTests(std::function<void()> hook) { m_passHook = std::move(hook); }

    // What the last passes skipped, as logged (device, line, reason).
    QStringList recentProblems() const { return m_recentProblems; }
    // The warning the status shows, empty when there is nothing to admit to.
    QString warning() const { return m_warning; }
    QUuid device() const { return m_device; }
    // The warning for what the engine admits to, the worst first.
    static QString warningFor(const sync::SyncEngine::Health& health);
    // The part of it an export admits to: what it kept back.
    static QString exportWarningFor(const sync::SyncEngine::Health& health);
    // Tests: passes started since this container was made.
    int passesStarted() const { return m_passesStarted; }

private:
    struct Pass;
    void passFailed();
    void updateWarning(const std::shared_ptr<Pass>& pass);
    void watch(const QStringList& paths);
    void noteChanges(const store::ChangeSet& changes);
    void schedule(std::chrono::milliseconds delay);
    void runPass();
    void finishPass();
    void folderUnavailable(const QString& why);
    void report(int type, bool finished, const QString& error = {});
    void dropEngine();
    void startOrStop();

    Clock& m_clock;
    QString m_folder;
    QPointer<PersistenceController> m_persistence;
    SyncFolderKeyValueStore* m_settings = nullptr;
    QUuid m_device;
    std::shared_ptr<sync::SyncEngine> m_engine;
    bool m_engineOpen = false;
    bool m_available = false;
    bool m_reportedUnavailable = false;
    QSet<QUuid> m_dirty;
    bool m_fullExport = true;
    int m_passesSinceFull = 0;
    bool m_running = false;
    bool m_again = false;
    int m_passesStarted = 0;
    int m_failures = 0; // passes in a row that failed: the next ones wait longer
    qint64 m_backOffUntil = 0; // on the clock's elapsed(), which the wall clock does not move
    QString m_lastFailure;
    std::unique_ptr<Timer> m_hungTimer;
    bool m_reportedHung = false;
    QString m_warning;
    QString m_exportWarning;
    std::optional<QByteArray> m_settingsWrite;
    qint64 m_compactAfterRecords = 5000;
    std::unique_ptr<Timer> m_pendingTimer;
    std::unique_ptr<Timer> m_rescanTimer;
    BackgroundWork& m_work;
    BackgroundWork::Tasks m_tasks; // passes and account checks
    QFutureWatcher<std::shared_ptr<Pass>> m_watcher;
    std::unique_ptr<BackgroundWork::OwnThread> m_watchThread;
    QFileSystemWatcher* m_fsWatcher = nullptr; // lives on m_watchThread
    QStringList m_recentProblems;
    std::function<sync::AgeRules()> m_ageRules;
    std::function<void()> m_passHook;
    std::function<void()> m_onOpened;
    std::shared_ptr<sync::AgeRuleLedger> m_ageRuleDeletes = std::make_shared<sync::AgeRuleLedger>();
    std::shared_ptr<sync::RowAges> m_rowAges = std::make_shared<sync::RowAges>();
    QList<QMetaObject::Connection> m_connections;
};

} // namespace lumra
