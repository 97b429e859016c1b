#pragma once

#include "model/ClipboardItem.h"
#include "ui/items/editors/EditorWindow.h"

#include <optional>

class QLabel;
class QPushButton;

namespace lumra {

class ShortcutRecorder;

// "Set Shortcut": records a global shortcut that pastes the item, refusing one Lumra already uses
// (the open-popup shortcut, quick paste, another item) or another application holds.
class ShortcutEditorWindow final : public EditorWindow {
    Q_OBJECT
public:
    ShortcutEditorWindow(const EditorHost& host, const ClipboardItem& item);

    ShortcutRecorder* recorder() const { return m_recorder; }
    std::optional<ItemShortcut> recordedShortcut() const { return m_recorded; }
    QString conflictMessage() const;
    QPushButton* saveButton() const { return m_save; }
    QPushButton* removeButton() const { return m_remove; }

    // Takes a chord as the recorder hands it over.
    void takeChord(const ItemShortcut& chord);
    void removeShortcut();

protected:
    Status save() override;

private:
    void refuse(const QString& message);
    void refresh();

    ClipboardItem m_item;
    std::optional<ItemShortcut> m_recorded;
    ShortcutRecorder* m_recorder = nullptr;
    QLabel* m_conflict = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_remove = nullptr;
    bool m_removing = false;
};

} // namespace lumra
