#include "platform/wayland/WaylandGlobalHotKeys.h"

#include "model/ClipboardItem.h"
#include "platform/desktop/PortalBus.h"
#include "platform/keys/KeyCodes.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QLoggingCategory>
#include <QTimer>

#include <xkbcommon/xkbcommon.h>

Q_LOGGING_CATEGORY(lcPortalKeys, "lumra.keys.portal")

namespace {

struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace lumra {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
constexpr int portalTimeoutMs = 3000;

bool portalOffersShortcuts(QDBusConnection& bus)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(portalService, portalPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << shortcutsInterface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, portalTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace

QString portalTrigger(quint16 keyCode, quint64 modifiers)
{
    const std::optional<quint32> keysym = KeyCodes::keysymForKeyCode(keyCode);
    if (!keysym)
        return {};
    char name[64] = {};
    if (xkb_keysym_get_name(*keysym, name, sizeof name) <= 0)
        return {};
    QStringList parts;
    if (modifiers & KeyCodes::commandFlag)
        parts << QStringLiteral("CTRL");
    if (modifiers & KeyCodes::optionFlag)
        parts << QStringLiteral("ALT");
    if (modifiers & KeyCodes::shiftFlag)
        parts << QStringLiteral("SHIFT");
    if (modifiers & KeyCodes::controlFlag)
        parts << QStringLiteral("LOGO");
    parts << QString::fromLatin1(name);
    return parts.join(QLatin1Char('+'));
}

std::unique_ptr<WaylandGlobalHotKeys> WaylandGlobalHotKeys::create(QObject* parent, QDBusConnection bus)
{
    const bool relayed = !bus.isConnected();
    if (relayed)
        bus = portalBus();
    const bool portal = portalOffersShortcuts(bus);
    if (!portal)
        qCInfo(lcPortalKeys) << "the desktop portal offers no global shortcuts: bind the command `lumra` to a key"
                                " in the desktop's keyboard settings to open the popup";
    std::unique_ptr<WaylandGlobalHotKeys> keys(new WaylandGlobalHotKeys(bus, portal, parent));
    // A new relay after the last one ended: the shortcuts are bound anew in a new session there.
    if (relayed && portal)
        connect(&PortalConnection::instance(), &PortalConnection::renewed, keys.get(), [keys = keys.get()] {
            keys->m_bus = portalBus();
            keys->m_session.clear();
            keys->m_pendingRequest.clear();
            keys->m_creating = false;
            keys->listenForActivations();
            keys->bindLater();
        });
    return keys;
}

WaylandGlobalHotKeys::WaylandGlobalHotKeys(QDBusConnection bus, bool portal, QObject* parent)
    : GlobalHotKeys(parent)
    , m_bus(std::move(bus))
    , m_portal(portal)
{
    if (!m_portal)
        return;
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    listenForActivations();
}

void WaylandGlobalHotKeys::listenForActivations()
{
    // Activated(o session, s id, t timestamp, a{sv} options), read from the message itself.
    if (!m_bus.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                       SLOT(portalActivated(QDBusMessage))))
        qCWarning(lcPortalKeys) << "cannot listen to the portal's shortcut presses";
}

WaylandGlobalHotKeys::~WaylandGlobalHotKeys() = default;

// Where the portal will publish the answer to a request made with `token`.
QString WaylandGlobalHotKeys::requestPath(const QString& token) const
{
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

QString WaylandGlobalHotKeys::limitation() const
{
    if (m_portal)
        return {};
    return QStringLiteral("This desktop gives applications no global shortcuts. To open Lumra with a key, bind the "
                          "command \u201clumra\u201d to it in the desktop\u2019s keyboard settings.");
}

QString WaylandGlobalHotKeys::shortcutId(const HotKey& key)
{
    return QStringLiteral("lumra-%1-%2").arg(key.keyCode).arg(key.modifiers, 0, 16);
}

Status WaylandGlobalHotKeys::grab(const HotKey& key)
{
    if (!m_grabbed.contains(key))
        m_grabbed.append(key);
    bindLater();
    return {};
}

void WaylandGlobalHotKeys::ungrab(const HotKey& key)
{
    m_grabbed.removeAll(key);
    bindLater();
}

void WaylandGlobalHotKeys::bindLater()
{
    // Registering every item shortcut one by one makes one binding, not one per key.
    if (!m_portal || m_bindQueued)
        return;
    m_bindQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_bindQueued = false;
        bind();
    });
}

void WaylandGlobalHotKeys::bind()
{
    if (!m_pendingRequest.isEmpty()) {
        bindLater(); // after the answer to the request in flight
        return;
    }
    QDBusConnection& bus = m_bus;
    // A new set of shortcuts goes into a new session: not every portal lets a session bind twice.
    if (!m_session.isEmpty()) {
        bus.call(QDBusMessage::createMethodCall(portalService, m_session, QStringLiteral("org.freedesktop.portal.Session"),
                                                QStringLiteral("Close")),
                 QDBus::NoBlock);
        m_session.clear();
    }
    if (m_grabbed.isEmpty())
        return;
    const QString token = QStringLiteral("lumra%1").arg(++m_tokenCounter);
    m_pendingRequest = requestPath(token);
    m_creating = true;
    bus.connect(portalService, m_pendingRequest, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), this, SLOT(requestAnswered(uint, QVariantMap)));
    QDBusMessage create = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface,
                                                         QStringLiteral("CreateSession"));
    create << QVariantMap {{QStringLiteral("handle_token"), token}, {QStringLiteral("session_handle_token"), token}};
    bus.call(create, QDBus::NoBlock);
}

void WaylandGlobalHotKeys::requestAnswered(uint response, const QVariantMap& results)
{
    QDBusConnection& bus = m_bus;
    bus.disconnect(portalService, m_pendingRequest, QStringLiteral("org.freedesktop.portal.Request"),
                   QStringLiteral("Response"), this, SLOT(requestAnswered(uint, QVariantMap)));
    m_pendingRequest.clear();
    if (m_creating) {
        m_creating = false;
        sessionCreated(response, results);
        return;
    }
    if (response != 0)
        qCWarning(lcPortalKeys) << "the desktop did not bind Lumra's global shortcuts (answer" << response << ")";
}

void WaylandGlobalHotKeys::sessionCreated(uint response, const QVariantMap& results)
{
    m_session = results.value(QStringLiteral("session_handle")).toString();
    if (response != 0 || m_session.isEmpty()) {
        qCWarning(lcPortalKeys) << "the desktop portal refused a global-shortcuts session (answer" << response << ")";
        m_session.clear();
        return;
    }
    QList<PortalShortcut> shortcuts;
    for (const HotKey& key : std::as_const(m_grabbed)) {
        shortcuts.append({shortcutId(key),
                          {{QStringLiteral("description"),
                            QStringLiteral("Lumra: %1").arg(ItemShortcut::displayString(key.keyCode, key.modifiers))},
                           {QStringLiteral("preferred_trigger"), portalTrigger(key.keyCode, key.modifiers)}}});
    }
    const QString token = QStringLiteral("lumra%1").arg(++m_tokenCounter);
    m_pendingRequest = requestPath(token);
    QDBusConnection& bus = m_bus;
    bus.connect(portalService, m_pendingRequest, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), this, SLOT(requestAnswered(uint, QVariantMap)));
    QDBusMessage bindCall = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface,
                                                           QStringLiteral("BindShortcuts"));
    bindCall << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariant::fromValue(shortcuts) << QString()
             << QVariantMap {{QStringLiteral("handle_token"), token}};
    bus.call(bindCall, QDBus::NoBlock);
}

void WaylandGlobalHotKeys::portalActivated(const QDBusMessage& message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 3)
        return;
    if (qdbus_cast<QDBusObjectPath>(arguments.at(0)).path() != m_session)
        return;
    const QString id = arguments.at(1).toString();
    for (const HotKey& key : std::as_const(m_grabbed)) {
        if (shortcutId(key) == id) {
            dispatch(key, quint32(arguments.at(2).toULongLong()));
            return;
        }
    }
}

} // namespace lumra
