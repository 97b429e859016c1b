#pragma once

#include "model/store/ManagedObjectContext.h"
#include "platform/cloud/CloudContainer.h"
#include "platform/core/Result.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

namespace lumra {

// The history's store stack. With cloud sync, "Lumra.sqlite" (configuration "Cloud", the one that is
// mirrored) and "LumraLocal.sqlite" ("Local"); without, "Lumra.sqlite" alone, which is then both
// cloudStore() and localStore(). Built once; a changed sync setting applies at the next start.
class PersistenceController : public QObject {
    Q_OBJECT
public:
    // `folder` defaults to Folders::supportFolder(); `container` is observed only with cloud sync on.
    explicit PersistenceController(bool iCloudEnabled, CloudContainer* container = nullptr, QString folder = {},
                                   QObject* parent = nullptr);
    ~PersistenceController() override;

    bool iCloudEnabled() const { return m_iCloudEnabled; }
    // Null when that store could not be opened nor made afresh.
    const store::PersistentStore* cloudStore() const { return m_cloudStore; }
    const store::PersistentStore* localStore() const { return m_localStore; }
    QString folder() const { return m_folder; }

    // The main thread's context.
    store::ManagedObjectContext& viewContext() { return *m_viewContext; }
    // Saves the view context when it has changes. A failure has been rolled back and is written to the
    // diagnostics log; the caller decides what the user sees.
    Status save();

    // A context with its own connections for a worker thread. Its saves reach the main thread as
    // remoteChange(), after the view context re-read the rows. Finish with it before the controller goes.
    std::unique_ptr<store::ManagedObjectContext> newBackgroundContext();

    // What the user must be told about the stores at start (kept aside, could not be made); empty
    // after the first call.
    QStringList takeStartupWarnings();

    // The sync state kept beside "Lumra.sqlite", which belongs to that file alone.
    static const QString syncStateFileName;

    static void logSyncEvent(const CloudSyncEvent& event);
    static QString cloudKitErrorMessage(const CloudError& error);
    static void isICloudAvailable(CloudContainer& container, std::function<void(bool)> completion);

signals:
    // Rows were changed through another connection; reload what is shown.
    void remoteChange(const lumra::store::ChangeSet& changes);
    // The main thread's context saved these rows.
    void didSave(const lumra::store::ChangeSet& changes);

private:
    // Why a file that did not open can never serve this build, as opposed to one that cannot be opened for now.
    enum class Unusable { no, damaged, newer };
    // `unusable` says whether the file can never serve this build: damaged, no database or someone else's
    // tables, or a history of a newer schema.
    Result<std::unique_ptr<sql::Database>> openStore(const store::PersistentStore& store, Unusable* unusable = nullptr);
    // Moves the sync state of the synced store aside with it: it says which rows that history published,
    // and a fresh history read against it would publish a delete of each.
    Status keepSyncStateAside();
    std::unique_ptr<sql::Database> loadStore(const store::PersistentStore& store, QString* loadError);
    void postBackgroundChanges(const store::ChangeSet& changes);

    bool m_iCloudEnabled;
    QString m_folder;
    std::vector<std::unique_ptr<store::PersistentStore>> m_stores;
    const store::PersistentStore* m_cloudStore = nullptr;
    const store::PersistentStore* m_localStore = nullptr;
    std::unique_ptr<store::ManagedObjectContext> m_viewContext;
    QStringList m_startupWarnings;
    QMetaObject::Connection m_eventObserver;
};

} // namespace lumra

Q_DECLARE_METATYPE(lumra::store::ChangeSet)
