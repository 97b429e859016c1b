#pragma once

#include "ui/shell/PopupPanel.h"
#include "model/ClipboardItem.h"
#include "platform/keys/KeyCodes.h"
#include "platform/core/Clock.h"
#include "platform/core/Result.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>

#include <array>
#include <chrono>
#include <memory>
#include <vector>

namespace lumra {

class ClipboardManager;
class GlobalHotKeys;
class UserDefaults;

// Every system-wide shortcut of Lumra: the one that opens the popup (id 1), one per history item
// that has a shortcut (ids from 100), and quick paste of the first nine listed items with a chosen
// modifier and the digits 1 to 9 (ids 200 to 208). Registration failures are returned and logged.
class HotKeyManager : public QObject {
    Q_OBJECT
public:
    static constexpr quint32 mainHotKeyId = 1;
    static constexpr quint32 firstItemHotKeyId = 100;
    static constexpr quint32 firstQuickPasteHotKeyId = 200;
    static constexpr int quickPasteCount = 9;
    static constexpr quint16 noKeyCode = 0xFFFF;
    static constexpr std::chrono::milliseconds pasteDelay{50};
    // When the open-popup key cannot be grabbed at launch it is tried again after each of these
    // (a Lumra killed a moment before may still hold it until the server has closed its connection).
    static constexpr std::array<std::chrono::milliseconds, 4> launchRetryDelays{
        std::chrono::milliseconds(250), std::chrono::seconds(1), std::chrono::seconds(2), std::chrono::seconds(4)};
    // US-layout key codes of the digits 1 to 9.
    static constexpr std::array<quint16, quickPasteCount> quickPasteKeyCodes = KeyCodes::digitKeyCodes;

    HotKeyManager(GlobalHotKeys& keys, UserDefaults& defaults, Clock& clock = Clock::shared(),
                  QObject* parent = nullptr);
    ~HotKeyManager() override;

    // Once at launch: follows the manager's history and quick-paste setting, and registers the
    // keys when hot keys are enabled. The manager is held weakly. An open-popup key that cannot be
    // grabbed is not part of the result: it is tried again, and openKeyFailedAtLaunch() tells when
    // it still failed at the last try.
    Status setupHotKeyManager(ClipboardManager* manager);

    bool isEnabled() const { return m_enabled; }
    const GlobalHotKeys& globalHotKeys() const { return m_keys; }
    Status setHotKeyEnabled(bool enabled);

    // The open-popup shortcut as the user reads it ("Ctrl+Alt+V"); empty when there is none.
    QString shortcutDisplayString() const;
    // How the user opens the popup without the tray: the shortcut while it fires system-wide, else
    // the command `lumra` bound to a key of the desktop's own.
    QString howToOpenPopup() const;
    // Raised at each change of the open-popup shortcut.
    int shortcutRevision() const { return m_shortcutRevision; }
    // Stores and applies a new open-popup shortcut (noKeyCode removes it).
    Status updateMainHotKey(quint16 keyCode, quint64 modifiers);

    Status registerAllHotKeys();
    // Brings the per-item keys in line with the history, touching only what changed.
    Status registerItemHotKeys();
    Status registerQuickPasteHotKeys();
    // Taken while a shortcut is recorded, so the keys pressed reach the recorder. Suspensions nest:
    // the keys come back, as the settings now ask, only when the last token is gone. A move-only
    // token; one outliving its manager does nothing.
    class Suspension {
    public:
        Suspension() = default;
        Suspension(Suspension&& other) noexcept : m_manager(other.m_manager) { other.m_manager = nullptr; }
        Suspension& operator=(Suspension&& other) noexcept;
        Suspension(const Suspension&) = delete;
        Suspension& operator=(const Suspension&) = delete;
        ~Suspension() { release(); }
        void release();
        bool isActive() const { return !m_manager.isNull(); }

    private:
        friend class HotKeyManager;
        explicit Suspension(HotKeyManager* manager);
        QPointer<HotKeyManager> m_manager;
    };
    [[nodiscard]] Suspension suspendHotKeys() { return Suspension(this); }
    int suspensionDepth() const { return m_suspensionDepth; }
    bool isSuspended() const { return m_suspensionDepth > 0; }

    // Whether a chord could be grabbed as a global shortcut now; fails with a message for the user
    // when another application holds it or the key cannot be grabbed at all.
    Status checkAvailable(quint16 keyCode, quint64 modifiers);
    void unregisterAllHotKeys();

    // The hot-key road of the popup: closes an open popup, whoever opened it, else opens one.
    void togglePopup();
    PopupPanel* popupWindow() const { return m_popupWindow; }

    // Puts the item on the clipboard and sends Ctrl+V to the application in front shortly after.
    void pasteItemAfterDelay(const ClipboardItem& item, bool moveToTop);

    // The per-item keys registered now, by id.
    const QMap<quint32, ItemShortcut>& itemHotKeys() const { return m_itemHotKeys; }

signals:
    void shortcutRevisionChanged();
    void suspendedChanged(bool suspended);
    void enabledChanged(bool enabled);
    void popupToggled(lumra::PopupPanel* panel); // the panel opened, or nullptr when one closed
    void openKeyFailedAtLaunch(const QString& message);

private:
    void handleActivation(quint32 id);
    Status registerMainHotKey();
    Status registerAll(Status& main);
    void retryOpenKeyAtLaunch(size_t attempt);
    Status syncItemHotKeys(bool retryRefused);
    void dropItemHotKeys();
    quint32 nextFreeItemId() const;
    Status report(Status status);
    void beginSuspension();
    void endSuspension();

    GlobalHotKeys& m_keys;
    UserDefaults& m_defaults;
    Clock& m_clock;
    QPointer<ClipboardManager> m_manager;
    QPointer<PopupPanel> m_popupWindow;
    QMap<quint32, ItemShortcut> m_itemHotKeys;
    QList<ItemShortcut> m_refusedItemShortcuts; // not tried again until the next full registration
    bool m_enabled = true;
    int m_shortcutRevision = 0;
    int m_suspensionDepth = 0;
    std::vector<std::unique_ptr<Timer>> m_launchRetries;
};

} // namespace lumra
