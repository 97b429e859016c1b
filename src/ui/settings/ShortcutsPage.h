#pragma once

#include "model/ClipboardItem.h"
#include "platform/core/Clock.h"
#include "ui/settings/SettingsContext.h"

#include <QWidget>

#include <memory>

class QLabel;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace lumra {

class ShortcutRecorder;

// The items the Shortcuts page lists: those outside the recycle bin that have a shortcut, in
// history order.
QList<ClipboardItem> shortcutItems(const QList<ClipboardItem>& items);

// The Shortcuts page: every item with its own global shortcut, where the shortcut can be recorded
// again or removed. Recording suspends every hot key until it ends, whichever way it ends.
class ShortcutsPage : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutsPage(SettingsContext context, QWidget* parent = nullptr);

    void stopShortcutRecording();
    bool isShowingEmptyState() const;
    // The recorder and remove button of the item's row; null when the item is not listed.
    ShortcutRecorder* recorder(const QUuid& itemId) const;
    QToolButton* removeButton(const QUuid& itemId) const;
    QList<QUuid> listedItems() const { return m_listed; }

protected:
    void changeEvent(QEvent* event) override;

private:
    struct Row {
        QUuid id;
        QLabel* age;
        QDateTime dateAdded;
        ShortcutRecorder* recorder;
        QToolButton* remove;
    };
    QWidget* emptyState();
    void updateSymbol();
    void refresh();
    void updateAges();
    QWidget* makeRow(const ClipboardItem& item);
    void takeChord(const QUuid& itemId, const ItemShortcut& chord);
    void refuse(const QString& reason);
    void confirmRemove(const QUuid& itemId);
    void recordingStarted(ShortcutRecorder* recorder);
    std::optional<ClipboardItem> listedItem(const QUuid& itemId) const;

    SettingsContext m_context;
    QStackedWidget* m_stack;
    QLabel* m_emptySymbol = nullptr;
    QWidget* m_listContent = nullptr;
    QVBoxLayout* m_listLayout = nullptr;
    QWidget* m_rowsHolder = nullptr;
    QList<Row> m_rows;
    QList<QUuid> m_listed;
    QString m_signature;
    std::unique_ptr<Timer> m_ageTimer;
};

} // namespace lumra
