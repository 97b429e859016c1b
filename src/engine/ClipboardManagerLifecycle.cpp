#include "engine/ClipboardManager.h"

#include "engine/ItemMedia.h"
#include "model/NotificationCenter.h"
#include "model/store/PersistenceController.h"
#include "platform/pasteboard/Pasteboard.h"

#include <QGuiApplication>

namespace lumra {

using namespace std::chrono_literals;

void ClipboardManager::startAutoCleanTimer()
{
    m_autoCleanTimer.reset();
    if (!m_persistence)
        return;
    // Fixed for this timer; changing autoCleanMinutes starts a new one.
    const bool runsAutoClean = autoCleanMinutes() > 0;
    m_autoCleanTimer = m_clock.start(300s, true, [this, runsAutoClean] {
        if (m_retentionDeferred)
            applyRetention();
        if (runsAutoClean)
            runAutoClean();
        m_media->refreshFileBookmarksInBackground();
    });
}

void ClipboardManager::installObservers()
{
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                m_media->refreshFileBookmarksInBackground();
        });
    }
    connect(m_persistence.get(), &PersistenceController::remoteChange, this, [this](const store::ChangeSet& changes) {
        mergeStoreChanges(changes);
        loadCategories();
    });
    if (!m_persistence->iCloudEnabled())
        return;
    NotificationCenter::defaultCenter().observe(Notifications::iCloudSyncStatusChanged, this,
                                                [this](const QVariantMap& userInfo) {
        const QVariant status = userInfo.value(QStringLiteral("status"));
        if (status.typeId() != QMetaType::QString || status.toString() == m_iCloudSyncStatus)
            return;
        m_iCloudSyncStatus = status.toString();
        emit iCloudSyncStatusChanged(m_iCloudSyncStatus);
    });
}

void ClipboardManager::pause(std::optional<int> minutes)
{
    if (minutes && *minutes <= 0) {
        resume();
        return;
    }
    m_pauseTimer.reset();
    std::optional<QDateTime> resumeDate;
    if (minutes) {
        resumeDate = m_clock.now().addSecs(qint64(*minutes) * 60);
        m_pauseTimer = m_clock.start(std::chrono::minutes(*minutes), false, [this] {
            auto firing = std::move(m_pauseTimer); // lives until this call returns
            resume();
        });
    }
    setPaused(true, resumeDate);
}

void ClipboardManager::resume()
{
    m_pauseTimer.reset();
    setPaused(false, std::nullopt);
    // Whatever was copied during the pause, even what is still on the clipboard, is skipped.
    if (Pasteboard* pasteboard = m_services.pasteboard)
        m_lastChangeCount = pasteboard->changeCount();
}

void ClipboardManager::setPaused(bool paused, std::optional<QDateTime> resumeDate)
{
    if (paused == m_isPaused && resumeDate == m_pauseResumeDate)
        return;
    m_isPaused = paused;
    m_pauseResumeDate = std::move(resumeDate);
    emit pauseStateChanged();
}

} // namespace lumra
