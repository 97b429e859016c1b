#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace lumra {

// The names subsystems meet through; spelled exactly so, since poster and observer only share the string.
namespace Notifications {
inline const QString itemShortcutsChanged = QStringLiteral("itemShortcutsChanged");
inline const QString quickPasteChanged = QStringLiteral("quickPasteChanged");
inline const QString menuBarIconChanged = QStringLiteral("menuBarIconChanged");
inline const QString showCopyReminder = QStringLiteral("showCopyReminder");
inline const QString keepWindowOpenChanged = QStringLiteral("keepWindowOpenChanged");
inline const QString showTrafficLightsChanged = QStringLiteral("showTrafficLightsChanged");
inline const QString activatePreviousAppForPaste = QStringLiteral("activatePreviousAppForPaste");
inline const QString iCloudSyncStatusChanged = QStringLiteral("iCloudSyncStatusChanged");
} // namespace Notifications

// Process-wide, main-thread notification center: post by name with optional user info,
// observe with a context object whose destruction ends the observation.
class NotificationCenter : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QVariantMap& userInfo)>;

    static NotificationCenter& defaultCenter();

    // Posting from another thread delivers on the center's thread.
    void post(const QString& name, const QVariantMap& userInfo = {});
    QMetaObject::Connection observe(const QString& name, QObject* context, Handler handler);

signals:
    void posted(const QString& name, const QVariantMap& userInfo);
};

} // namespace lumra
