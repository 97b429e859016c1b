#pragma once

#include "platform/keys/GlobalHotKeys.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

#include <memory>

namespace lumra {

// The trigger string the desktop portal expects for a shortcut ("CTRL+ALT+v"): Ctrl, Alt, Shift
// and Super (LOGO) in that order, then the key's XKB keysym name; empty for an unknown key.
QString portalTrigger(quint16 keyCode, quint64 modifiers);

// Global shortcuts in a Wayland session. Wayland lets no client grab keys: where the desktop
// portal offers org.freedesktop.portal.GlobalShortcuts, the shortcuts are bound there (the
// desktop may ask the user to confirm or change them) and its Activated signal fires them. Where
// it does not, registrations are kept but never fire; limitation() says so, and the user binds
// the command `lumra` (which toggles the popup of the running Lumra) to a key in the desktop's
// own settings.
class WaylandGlobalHotKeys final : public GlobalHotKeys {
    Q_OBJECT
public:
    // Asks `bus` (the portal's, portalBus(), when not connected) whether its portal offers global shortcuts.
    static std::unique_ptr<WaylandGlobalHotKeys> create(QObject* parent = nullptr,
                                                        QDBusConnection bus = QDBusConnection(QString()));
    ~WaylandGlobalHotKeys() override;

    bool usesPortal() const { return m_portal; }
    QString limitation() const override;

protected:
    Status grab(const HotKey& key) override;
    void ungrab(const HotKey& key) override;

private:
    WaylandGlobalHotKeys(QDBusConnection bus, bool portal, QObject* parent);
    QString requestPath(const QString& token) const;
    void listenForActivations();
    void bindLater();
    void bind();
    void sessionCreated(uint response, const QVariantMap& results);
    static QString shortcutId(const HotKey& key);

private slots:
    void requestAnswered(uint response, const QVariantMap& results);
    void portalActivated(const QDBusMessage& message);

private:
    QDBusConnection m_bus;
    bool m_portal;
    QList<HotKey> m_grabbed;
    QString m_session;
    QString m_pendingRequest;
    bool m_bindQueued = false;
    bool m_creating = false;
    int m_tokenCounter = 0;
};

} // namespace lumra
