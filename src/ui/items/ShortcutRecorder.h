#pragma once

#include "ui/shell/HotKeyManager.h"
#include "model/ClipboardItem.h"

#include <QAbstractButton>
#include <QPointer>
#include <QWindow>

#include <optional>

namespace lumra {

// What a key press means to a shortcut recorder. Only Ctrl, Alt, Shift and Super are kept:
// Caps Lock, Num Lock and keypad bits never reach a stored chord.
namespace ChordRules {

enum class KeyKind {
    modifierOnly, // a modifier or lock key on its own: keep listening
    plainKey,     // no Ctrl, Alt or Super and not a function key: typing, Return, Escape
    unsupported,  // a chord on a key a stored shortcut cannot name
    chord,
};

struct KeyPress {
    KeyKind kind = KeyKind::plainKey;
    ItemShortcut shortcut; // set for chords only
};

KeyPress classify(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey = 0);

} // namespace ChordRules

// The field that records a global shortcut. A click (or Space) starts listening; while it listens
// the global hot keys are suspended and chords pressed in its window are swallowed. A chord ends
// the recording before `recorded` is emitted, so whatever the owner shows next (a message, an
// alert) sees keys and hot keys working again.
class ShortcutRecorder : public QAbstractButton {
    Q_OBJECT
public:
    explicit ShortcutRecorder(HotKeyManager* hotKeys, QWidget* parent = nullptr);
    ~ShortcutRecorder() override;

    // The chord shown while idle; with none the idle text shows.
    void setShortcut(const std::optional<ItemShortcut>& shortcut);
    std::optional<ItemShortcut> shortcut() const { return m_shortcut; }
    void setIdleText(const QString& text);
    void setRecordingText(const QString& text);
    // On (the default), keys without Ctrl, Alt or Super pass to the window, so its Return and
    // Escape keep working while listening. Off, they are dropped and Escape ends the recording.
    void setPlainKeysPassOn(bool passOn) { m_plainKeysPassOn = passOn; }

    bool isRecording() const { return m_recording; }
    void startRecording();
    void stopRecording();

    QString displayText() const;
    QSize sizeHint() const override;

signals:
    void recorded(const lumra::ItemShortcut& shortcut);
    // A chord on a key that cannot be stored; the recording has ended.
    void refused(const QString& reason);
    // Escape while plain keys do not pass on; the recording has ended.
    void cancelled();
    void recordingChanged(bool recording);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool isInMyWindow(QObject* watched) const;

    QPointer<HotKeyManager> m_hotKeys;
    HotKeyManager::Suspension m_suspension;
    QPointer<QWindow> m_grabbedWindow;
    std::optional<ItemShortcut> m_shortcut;
    QString m_idleText;
    QString m_recordingText;
    bool m_plainKeysPassOn = true;
    bool m_recording = false;
};

} // namespace lumra
