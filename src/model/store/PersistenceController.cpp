#include "model/store/PersistenceController.h"

#include "model/Diagnostics.h"
#include "model/NotificationCenter.h"
#include "platform/core/Clock.h"
#include "platform/core/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <sqlite3.h>

namespace lumra {

Q_LOGGING_CATEGORY(lcStoreSync, "lumra.store.sync")

using store::PersistentStore;

namespace {
const QString cloudFileName = QStringLiteral("Lumra.sqlite");
const QString localFileName = QStringLiteral("LumraLocal.sqlite");

// Moves an unusable store and its journal companions out of the way, never deleting them.
Result<QString> keepAside(const QString& path, const QString& tag = QStringLiteral("unreadable"))
{
    const QString stamp = Clock::shared().now().toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = path + QStringLiteral(".%1-%2").arg(tag, stamp);
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = path + QStringLiteral(".%1-%2-%3").arg(tag, stamp).arg(n);
    if (!QFile::rename(path, aside))
        return Result<QString>::failure(QStringLiteral("could not rename it"));
    for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        if (QFileInfo::exists(path + suffix))
            QFile::rename(path + suffix, aside + suffix);
    return aside;
}
} // namespace

const QString PersistenceController::syncStateFileName = QStringLiteral("LumraSync.sqlite");

PersistenceController::PersistenceController(bool iCloudEnabled, CloudContainer* container, QString folder, QObject* parent)
    : QObject(parent), m_iCloudEnabled(iCloudEnabled), m_folder(folder.isEmpty() ? Folders::supportFolder() : folder)
{
    qRegisterMetaType<store::ChangeSet>();
    qRegisterMetaType<CloudSyncEvent>();
    QDir().mkpath(m_folder);

    m_stores.push_back(std::make_unique<PersistentStore>(
        PersistentStore {m_folder + QLatin1Char('/') + cloudFileName, iCloudEnabled ? QStringLiteral("Cloud") : QString()}));
    // Without sync the items kept on this computer while sync was on stay in the history: their
    // file is still read and edited, though new items go to "Lumra.sqlite".
    const QString localPath = m_folder + QLatin1Char('/') + localFileName;
    if (iCloudEnabled || QFileInfo::exists(localPath))
        m_stores.push_back(std::make_unique<PersistentStore>(PersistentStore {localPath, QStringLiteral("Local")}));

    std::vector<store::ManagedObjectContext::Connection> connections;
    QString loadError;
    for (const auto& s : m_stores) {
        std::unique_ptr<sql::Database> db = loadStore(*s, &loadError);
        if (!db)
            continue;
        // These connections save on the window's thread, where every capture is noted.
        db->checkpointInBackground();
        if (s->fileName() == cloudFileName)
            m_cloudStore = s.get();
        else if (s->fileName() == localFileName)
            m_localStore = s.get();
        connections.push_back({s.get(), std::move(db)});
    }
    if (!iCloudEnabled)
        m_localStore = m_cloudStore; // new rows; the local file, when read, holds only older ones
    m_viewContext = std::make_unique<store::ManagedObjectContext>(std::move(connections));
    m_viewContext->setDidSaveHandler([this](const store::ChangeSet& changes) { emit didSave(changes); });

    qCDebug(lcStoreSync) << "Sync enabled:" << iCloudEnabled;
    Diagnostics::shared().info(QStringLiteral("Persistence"),
                               QStringLiteral("Store loaded (sync enabled: %1)").arg(iCloudEnabled ? "true" : "false"));
    if (!loadError.isEmpty())
        Diagnostics::shared().error(QStringLiteral("Persistence"), QStringLiteral("Store load failed: ") + loadError);

    if (iCloudEnabled && container)
        m_eventObserver = connect(container, &CloudContainer::eventChanged, this,
                                  [](const CloudSyncEvent& event) { logSyncEvent(event); });
}

PersistenceController::~PersistenceController() = default;

Result<std::unique_ptr<sql::Database>> PersistenceController::openStore(const PersistentStore& s, Unusable* unusable)
{
    using R = Result<std::unique_ptr<sql::Database>>;
    auto damaged = [&](const sql::Database& db) {
        const int code = db.errorCode() & 0xff;
        if (unusable && *unusable == Unusable::no && (code == SQLITE_CORRUPT || code == SQLITE_NOTADB))
            *unusable = Unusable::damaged;
    };
    auto db = std::make_unique<sql::Database>();
    if (Status st = db->open(s.path); !st) {
        damaged(*db);
        return R::failure(st.error());
    }
    bool foreign = false;
    bool newer = false;
    if (Status st = store::prepareSchema(*db, &foreign, &newer); !st) {
        if (unusable)
            *unusable = newer ? Unusable::newer : foreign ? Unusable::damaged : Unusable::no;
        damaged(*db);
        return R::failure(st.error());
    }
    return R(std::move(db));
}

Status PersistenceController::keepSyncStateAside()
{
    const QString state = m_folder + QLatin1Char('/') + syncStateFileName;
    if (!QFileInfo::exists(state) && !QFileInfo(state).isSymLink())
        return {};
    Result<QString> aside = keepAside(state, QStringLiteral("of-unreadable-store"));
    if (!aside)
        return Status::failure(QStringLiteral("its sync state could not be set aside: ") + aside.error());
    Diagnostics::shared().warn(QStringLiteral("Persistence"),
                               QStringLiteral("Kept the sync state of the unreadable store aside as ") + QFileInfo(aside.value()).fileName());
    return {};
}

std::unique_ptr<sql::Database> PersistenceController::loadStore(const PersistentStore& s, QString* loadError)
{
    // A store busy in another process has had the busy timeout to come free while opening.
    Unusable unusable = Unusable::no;
    auto opened = openStore(s, &unusable);
    if (opened)
        return std::move(opened).value();

    const QString reason = opened.error();
    qCWarning(lcStoreSync) << "Store failed to load:" << s.fileName() << reason;
    *loadError = s.fileName() + QStringLiteral(": ") + reason;
    if (unusable == Unusable::newer) {
        // A whole history that the newer build still reads: it stays where that build looks for it,
        // and no empty history takes its place (its sync state would publish each row as deleted).
        m_startupWarnings << tr("The history file “%1” was written by a newer version of Lumra. It was left as it is; "
                                "start that version to use it. Nothing will be saved to it until then.")
                                 .arg(s.fileName());
        return nullptr;
    }
    // Locked, unreadable for lack of permission, an I/O error: the history is still in there.
    Status stateAside;
    if (unusable == Unusable::damaged && QFileInfo::exists(s.path) && s.fileName() == cloudFileName)
        stateAside = keepSyncStateAside(); // first: a store set aside never leaves its sync state behind
    if (!stateAside)
        *loadError += QStringLiteral("; ") + stateAside.error();
    if (unusable == Unusable::damaged && stateAside && QFileInfo::exists(s.path)) {
        Result<QString> aside = keepAside(s.path);
        if (aside) {
            auto fresh = openStore(s);
            if (fresh) {
                m_startupWarnings << tr("The history file “%1” could not be opened (%2). It was kept as “%3” "
                                        "and a new, empty history was started.")
                                         .arg(s.fileName(), reason, QFileInfo(aside.value()).fileName());
                Diagnostics::shared().warn(QStringLiteral("Persistence"),
                                           QStringLiteral("Kept unreadable store aside as ") + QFileInfo(aside.value()).fileName());
                return std::move(fresh).value();
            }
            *loadError = s.fileName() + QStringLiteral(": ") + fresh.error();
        } else {
            *loadError += QStringLiteral("; ") + aside.error();
        }
    }
    m_startupWarnings << tr("The history file “%1” could not be opened or created (%2). "
                            "Nothing will be saved to it until this is fixed.")
                             .arg(s.fileName(), *loadError);
    return nullptr;
}

Status PersistenceController::save()
{
    if (!m_viewContext->hasChanges())
        return {};
    Status s = m_viewContext->save();
    if (!s) {
        qCWarning(lcStoreSync) << "Save error:" << s.error();
        Diagnostics::shared().error(QStringLiteral("Persistence"), QStringLiteral("Save failed: ") + s.error());
    }
    return s;
}

std::unique_ptr<store::ManagedObjectContext> PersistenceController::newBackgroundContext()
{
    std::vector<store::ManagedObjectContext::Connection> connections;
    for (const PersistentStore* s : m_viewContext->stores()) {
        auto db = std::make_unique<sql::Database>();
        if (db->open(s->path, false))
            connections.push_back({s, std::move(db)});
    }
    auto context = std::make_unique<store::ManagedObjectContext>(std::move(connections));
    QPointer<PersistenceController> self(this);
    context->setDidSaveHandler([self](const store::ChangeSet& changes) {
        QMetaObject::invokeMethod(self.data(), [self, changes] {
            if (self) self->postBackgroundChanges(changes);
        }, Qt::QueuedConnection);
    });
    return context;
}

void PersistenceController::postBackgroundChanges(const store::ChangeSet& changes)
{
    m_viewContext->refresh(changes);
    emit remoteChange(changes);
}

QStringList PersistenceController::takeStartupWarnings()
{
    QStringList warnings;
    warnings.swap(m_startupWarnings);
    return warnings;
}

void PersistenceController::logSyncEvent(const CloudSyncEvent& event)
{
    QString label;
    switch (event.type) {
    case CloudSyncEvent::setup: label = QStringLiteral("SETUP"); break;
    case CloudSyncEvent::import: label = QStringLiteral("IMPORT"); break;
    case CloudSyncEvent::export_: label = QStringLiteral("EXPORT"); break;
    default: label = QStringLiteral("UNKNOWN"); break;
    }
    const QString syncEngine = QStringLiteral("SyncEngine");
    QString status;
    if (!event.endDate) {
        qCInfo(lcStoreSync, "%s started...", qPrintable(label));
        Diagnostics::shared().debug(syncEngine, label + QStringLiteral(" started"));
        status = QStringLiteral("🔄 ") + label + QStringLiteral(" in progress...");
    } else if (event.error) {
        qCCritical(lcStoreSync, "%s FAILED: %s", qPrintable(label), qPrintable(event.error->localizedDescription));
        Diagnostics::shared().error(syncEngine, label + QStringLiteral(" FAILED: ") + event.error->localizedDescription);
        status = QStringLiteral("❌ ") + label + QStringLiteral(" failed: ") + cloudKitErrorMessage(*event.error);
    } else if (event.warning) {
        qCWarning(lcStoreSync, "%s succeeded with warnings: %s", qPrintable(label), qPrintable(*event.warning));
        Diagnostics::shared().warn(syncEngine, label + QStringLiteral(" succeeded with warnings: ") + *event.warning);
        status = QStringLiteral("\u26A0\uFE0F ") + label + QStringLiteral(": ") + *event.warning;
    } else {
        qCInfo(lcStoreSync, "%s succeeded", qPrintable(label));
        Diagnostics::shared().info(syncEngine, label + QStringLiteral(" succeeded"));
        status = QStringLiteral("✅ ") + label + QStringLiteral(" succeeded");
    }
    NotificationCenter::defaultCenter().post(Notifications::iCloudSyncStatusChanged, {{QStringLiteral("status"), status}});
}

QString PersistenceController::cloudKitErrorMessage(const CloudError& error)
{
    std::optional<int> code;
    if (error.isCloudError)
        code = error.code;
    else if (error.underlying && error.underlying->isCloudError)
        code = error.underlying->code;
    if (code) {
        using namespace CloudErrorCode;
        switch (*code) {
        case partialFailure: return QStringLiteral("Some records were rejected (schema may be out of date)");
        case networkUnavailable:
        case networkFailure: return QStringLiteral("No internet connection");
        case badContainer:
        case badDatabase: return QStringLiteral("Sync container is misconfigured");
        case serviceUnavailable:
        case serverResponseLost: return QStringLiteral("Sync is temporarily unavailable");
        case requestRateLimited:
        case zoneBusy: return QStringLiteral("Sync is busy — will retry automatically");
        case notAuthenticated: return QStringLiteral("Choose a sync folder in Lumra Settings");
        case permissionFailure: return QStringLiteral("Sync denied permission for this container");
        case quotaExceeded: return QStringLiteral("Your sync storage is full");
        default: break;
        }
    }
    return error.localizedDescription;
}

void PersistenceController::isICloudAvailable(CloudContainer& container, std::function<void(bool)> completion)
{
    container.accountStatus([completion = std::move(completion)](Result<CloudAccountStatus> status) {
        if (!status) {
            qCCritical(lcStoreSync, "Sync account check failed: %s", qPrintable(status.error()));
            completion(false);
            return;
        }
        completion(*status == CloudAccountStatus::available);
    });
}

} // namespace lumra
