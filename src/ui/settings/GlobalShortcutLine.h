#pragma once

#include "model/ClipboardItem.h"

#include <QWidget>

#include <optional>

class QLabel;
class QToolButton;

namespace lumra {

class ClipboardManager;
class HotKeyManager;
class PromptService;
class ShortcutRecorder;

// "Shortcut:" with the recorder of the shortcut that opens the popup and its remove button.
// Recording suspends the hot keys; a chord an item, quick paste or another application holds
// is refused with an alert and the shortcut stays as it was.
class GlobalShortcutLine : public QWidget {
    Q_OBJECT
public:
    GlobalShortcutLine(ClipboardManager& manager, HotKeyManager& hotKeys, PromptService& prompts, QWidget* parent = nullptr);

    ShortcutRecorder* recorder() const { return m_recorder; }
    QToolButton* removeButton() const { return m_remove; }
    // The open-popup shortcut as stored; none when removed.
    std::optional<ItemShortcut> storedShortcut() const;
    void stopRecording();
    // Without the "Shortcut:" label, as the trailing control of a setting row.
    void setLabelVisible(bool visible);
    // Recording a shortcut also switches the global hot key on (onboarding sets one up to use it).
    void setEnablesHotKeyWhenRecorded(bool enables) { m_enablesHotKey = enables; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateIcon();
    void refresh();
    void apply(const ItemShortcut& shortcut);
    void refuse(const QString& reason);
    void confirmRemove();

    ClipboardManager& m_manager;
    HotKeyManager& m_hotKeys;
    PromptService& m_prompts;
    ShortcutRecorder* m_recorder;
    QToolButton* m_remove;
    QLabel* m_label = nullptr;
    bool m_enablesHotKey = false;
};

} // namespace lumra
