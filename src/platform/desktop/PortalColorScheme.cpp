#include "platform/desktop/PortalColorScheme.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcColorScheme, "lumra.desktop.colors")

namespace lumra {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");
constexpr int portalTimeoutMs = 3000;

} // namespace

std::optional<ColorScheme> colorSchemeFromPortalValue(const QVariant& value)
{
    QVariant inner = value;
    // Read wraps the value in a second variant; ReadOne and the change signal in one.
    for (int depth = 0; depth < 3 && inner.userType() == qMetaTypeId<QDBusVariant>(); ++depth)
        inner = inner.value<QDBusVariant>().variant();
    if (inner.userType() != QMetaType::UInt && inner.userType() != QMetaType::Int)
        return std::nullopt;
    switch (inner.toLongLong()) {
    case 0: return ColorScheme::noPreference;
    case 1: return ColorScheme::dark;
    case 2: return ColorScheme::light;
    default: return std::nullopt;
    }
}

PortalColorScheme::PortalColorScheme(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    // The slot's signature as Qt D-Bus matches it, normalised; its argument types are looked up by
    // name, so QDBusVariant must be known before the first use of it anywhere in the process.
    qRegisterMetaType<QDBusVariant>();
    static const char* const slot = "1settingChanged(QString,QString,QDBusVariant)";
    if (!m_bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this, slot))
        qCInfo(lcColorScheme).noquote() << "changes of the desktop's colour scheme cannot be followed:" << m_bus.lastError().message();
    read(QStringLiteral("ReadOne"));
}

PortalColorScheme::~PortalColorScheme() = default;

void PortalColorScheme::read(const QString& method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, method);
    call << appearance << colorSchemeKey;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, portalTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, method](QDBusPendingCallWatcher* finished) {
        answered(finished, method);
    });
}

void PortalColorScheme::answered(QDBusPendingCallWatcher* call, const QString& method)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *call;
    if (reply.isError()) {
        // Portals before version 2 know only Read.
        if (method == QLatin1String("ReadOne") && reply.error().type() == QDBusError::UnknownMethod) {
            read(QStringLiteral("Read"));
            return;
        }
        qCInfo(lcColorScheme).noquote() << "the desktop's colour scheme is not known:" << reply.error().message();
        return;
    }
    if (m_changedMeanwhile)
        return;
    take(colorSchemeFromPortalValue(QVariant::fromValue(reply.value())));
}

void PortalColorScheme::settingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    if (group != appearance || key != colorSchemeKey)
        return;
    m_changedMeanwhile = true;
    take(colorSchemeFromPortalValue(QVariant::fromValue(value)));
}

void PortalColorScheme::take(std::optional<ColorScheme> scheme)
{
    if (!scheme || scheme == m_scheme)
        return;
    m_scheme = scheme;
    emit schemeChanged(*scheme);
}

} // namespace lumra
