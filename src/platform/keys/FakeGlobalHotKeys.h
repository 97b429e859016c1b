#pragma once

#include "platform/keys/GlobalHotKeys.h"

namespace lumra {

// Test double: keeps its grabs in memory, lets a test play another application that holds a
// combination, and lets it press keys.
class FakeGlobalHotKeys final : public GlobalHotKeys {
    Q_OBJECT

public:
    using GlobalHotKeys::GlobalHotKeys;
    ~FakeGlobalHotKeys() override { unregisterAll(); }

    void setTakenElsewhere(quint16 keyCode, quint64 modifiers, bool taken = true);
    // The user pressing a combination anywhere on the desktop; true when a hot key fired.
    bool press(quint16 keyCode, quint64 modifiers, quint32 time = 0);
    // What is grabbed right now (nothing while suspended).
    const QList<HotKey>& grabbed() const { return m_grabbed; }
    // A desktop whose keys this backend cannot promise, as limitation() tells it.
    void setLimitation(const QString& limitation) { m_limitation = limitation; }
    QString limitation() const override { return m_limitation; }

protected:
    Status grab(const HotKey& key) override;
    void ungrab(const HotKey& key) override;

private:
    QList<HotKey> m_grabbed;
    QList<HotKey> m_takenElsewhere;
    QString m_limitation;
};

} // namespace lumra
