#pragma once

#include "platform/core/Result.h"

#include <QList>
#include <QMap>
#include <QObject>

#include <optional>

namespace lumra {

// System-wide shortcuts that reach Lumra while another application has the focus.
// Keys are given in the stored encoding (US-layout key codes, modifier flags); the backend
// translates them. The bookkeeping lives here so that every backend refuses the same things:
// an unknown key, a shortcut without Ctrl, Alt or Super, and a combination another id holds.
class GlobalHotKeys : public QObject {
    Q_OBJECT

public:
    struct HotKey {
        quint16 keyCode = 0;
        quint64 modifiers = 0; // Caps Lock, keypad and other non-modifier bits already masked off
        friend bool operator==(const HotKey&, const HotKey&) = default;
    };

    explicit GlobalHotKeys(QObject* parent = nullptr);
    ~GlobalHotKeys() override;

    // Registering an id again replaces its previous key. On failure the id stays unregistered.
    Status registerHotKey(quint32 id, quint16 keyCode, quint64 modifiers);
    void unregisterHotKey(quint32 id);
    void unregisterAll();

    // Takes every key down (so a shortcut recorder sees the presses) and puts the same keys back
    // on resume. A key another application took meanwhile is dropped and reported.
    void suspend();
    Status resume();
    bool isSuspended() const { return m_suspended; }

    enum class Availability { available, takenElsewhere, unavailable };
    // Whether the combination could be grabbed now: it is one of ours, or nobody else holds it.
    Availability availability(quint16 keyCode, quint64 modifiers);

    bool isRegistered(quint32 id) const { return m_hotKeys.contains(id); }
    std::optional<HotKey> hotKey(quint32 id) const;
    QList<quint32> registeredIds() const { return m_hotKeys.keys(); }

    // Server time of the key press behind the last activated() (0 before any): a window shown in
    // response passes it on so that the window manager grants it the focus.
    quint32 lastActivationTime() const { return m_lastActivationTime; }

    // Empty where registered shortcuts fire system-wide; otherwise what the user must know (the
    // settings show it beside the shortcut).
    virtual QString limitation() const { return {}; }

signals:
    void activated(quint32 id);

protected:
    virtual Status grab(const HotKey& key) = 0;
    virtual void ungrab(const HotKey& key) = 0;

    // Backends call this for a press of a grabbed combination; true when a hot key fired.
    bool dispatch(const HotKey& key, quint32 time);
    static QString failureMessage(const HotKey& key, const QString& reason);
    // The reason backends give when another client holds the combination.
    static QString takenElsewhereReason();

private:
    QMap<quint32, HotKey> m_hotKeys;
    bool m_suspended = false;
    quint32 m_lastActivationTime = 0;
};

} // namespace lumra
