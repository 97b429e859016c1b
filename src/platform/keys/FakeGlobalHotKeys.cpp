#include "platform/keys/FakeGlobalHotKeys.h"

#include "platform/keys/KeyCodes.h"

namespace lumra {

void FakeGlobalHotKeys::setTakenElsewhere(quint16 keyCode, quint64 modifiers, bool taken)
{
    const HotKey key { keyCode, KeyCodes::maskedModifierFlags(modifiers) };
    m_takenElsewhere.removeAll(key);
    if (taken)
        m_takenElsewhere.append(key);
}

bool FakeGlobalHotKeys::press(quint16 keyCode, quint64 modifiers, quint32 time)
{
    const HotKey key { keyCode, KeyCodes::maskedModifierFlags(modifiers) };
    return m_grabbed.contains(key) && dispatch(key, time);
}

Status FakeGlobalHotKeys::grab(const HotKey& key)
{
    if (m_takenElsewhere.contains(key))
        return Status::failure(failureMessage(key, takenElsewhereReason()));
    m_grabbed.append(key);
    return {};
}

void FakeGlobalHotKeys::ungrab(const HotKey& key)
{
    m_grabbed.removeOne(key);
}

} // namespace lumra
