#pragma once

#include "platform/keys/GlobalHotKeys.h"

#include <QAbstractNativeEventFilter>
#include <QList>

struct _XDisplay;

namespace lumra {

// Hot keys as passive grabs on the root window of Qt's own X connection. Each key is grabbed
// once per combination of Caps Lock, Num Lock and Scroll Lock so that it fires whatever lock is
// on; a grab another client holds is reported, not ignored; grabs follow keyboard layout changes.
class X11GlobalHotKeys final : public GlobalHotKeys, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit X11GlobalHotKeys(QObject* parent = nullptr);
    ~X11GlobalHotKeys() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

protected:
    Status grab(const HotKey& key) override;
    void ungrab(const HotKey& key) override;

private:
    struct Grab {
        HotKey key;
        quint8 keycode;
        unsigned mask;
        unsigned lockMasks; // as they were when grabbed
    };

    static QList<unsigned> lockVariants(unsigned lockMasks);
    void ungrabVariants(const Grab& grab);
    void renewGrabs();
    void handlePress(quint8 keycode, unsigned state, quint32 time);
    void handleRelease(quint8 keycode, quint32 time);

    _XDisplay* m_display = nullptr;
    unsigned long m_root = 0;
    int m_xkbEventBase = -1;
    unsigned m_lockMasks = 0;
    QList<Grab> m_grabs;
    bool m_renewPending = false;
    quint8 m_releasedKeycode = 0;
    quint32 m_releasedAt = 0;
};

} // namespace lumra
