#include "platform/keys/GlobalHotKeys.h"

#include "model/ClipboardItem.h"
#include "platform/keys/KeyCodes.h"

#include <QStringList>

#include <algorithm>

namespace lumra {

GlobalHotKeys::GlobalHotKeys(QObject* parent)
    : QObject(parent)
{
}

GlobalHotKeys::~GlobalHotKeys() = default;

QString GlobalHotKeys::failureMessage(const HotKey& key, const QString& reason)
{
    return QStringLiteral("Could not register global shortcut %1: %2")
        .arg(ItemShortcut::displayString(key.keyCode, key.modifiers), reason);
}

std::optional<GlobalHotKeys::HotKey> GlobalHotKeys::hotKey(quint32 id) const
{
    const auto it = m_hotKeys.find(id);
    if (it == m_hotKeys.end())
        return std::nullopt;
    return *it;
}

Status GlobalHotKeys::registerHotKey(quint32 id, quint16 keyCode, quint64 modifiers)
{
    unregisterHotKey(id);
    const HotKey key { keyCode, KeyCodes::maskedModifierFlags(modifiers) };
    if (!KeyCodes::keysymForKeyCode(keyCode))
        return Status::failure(failureMessage(key, QStringLiteral("the key is not supported.")));
    if (!KeyCodes::isAcceptableShortcut(key.keyCode, key.modifiers))
        return Status::failure(failureMessage(key, QStringLiteral("it needs Ctrl, Alt or Super.")));
    for (const HotKey& other : std::as_const(m_hotKeys)) {
        if (other == key)
            return Status::failure(failureMessage(key, QStringLiteral("Lumra already uses it for another action.")));
    }
    if (!m_suspended) {
        if (Status grabbed = grab(key); !grabbed)
            return grabbed;
    }
    m_hotKeys.insert(id, key);
    return {};
}

GlobalHotKeys::Availability GlobalHotKeys::availability(quint16 keyCode, quint64 modifiers)
{
    const HotKey key { keyCode, KeyCodes::maskedModifierFlags(modifiers) };
    if (!KeyCodes::isAcceptableShortcut(key.keyCode, key.modifiers))
        return Availability::unavailable;
    const bool ours = std::find(m_hotKeys.cbegin(), m_hotKeys.cend(), key) != m_hotKeys.cend();
    if (ours && !m_suspended)
        return Availability::available;
    // Grabbing and letting go at once is the only way to learn whether another client holds it.
    const Status grabbed = grab(key);
    if (grabbed) {
        ungrab(key);
        return Availability::available;
    }
    return grabbed.error().endsWith(takenElsewhereReason()) ? Availability::takenElsewhere : Availability::unavailable;
}

QString GlobalHotKeys::takenElsewhereReason()
{
    return QStringLiteral("another application already uses it.");
}

void GlobalHotKeys::unregisterHotKey(quint32 id)
{
    const auto it = m_hotKeys.find(id);
    if (it == m_hotKeys.end())
        return;
    if (!m_suspended)
        ungrab(*it);
    m_hotKeys.erase(it);
}

void GlobalHotKeys::unregisterAll()
{
    const QList<quint32> ids = m_hotKeys.keys();
    for (quint32 id : ids)
        unregisterHotKey(id);
}

void GlobalHotKeys::suspend()
{
    if (m_suspended)
        return;
    for (const HotKey& key : std::as_const(m_hotKeys))
        ungrab(key);
    m_suspended = true;
}

Status GlobalHotKeys::resume()
{
    if (!m_suspended)
        return {};
    m_suspended = false;
    QStringList errors;
    for (auto it = m_hotKeys.begin(); it != m_hotKeys.end();) {
        if (Status grabbed = grab(*it); !grabbed) {
            errors << grabbed.error();
            it = m_hotKeys.erase(it);
        } else {
            ++it;
        }
    }
    if (!errors.isEmpty())
        return Status::failure(errors.join(QLatin1Char('\n')));
    return {};
}

bool GlobalHotKeys::dispatch(const HotKey& key, quint32 time)
{
    if (m_suspended)
        return false;
    for (auto it = m_hotKeys.cbegin(); it != m_hotKeys.cend(); ++it) {
        if (*it == key) {
            m_lastActivationTime = time;
            emit activated(it.key());
            return true;
        }
    }
    return false;
}

} // namespace lumra
