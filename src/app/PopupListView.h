#pragma once

#include "model/ClipboardItem.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <optional>

class QLineEdit;
class QListView;

namespace lumra {

class ClipboardManager;
class HotKeyManager;

// The popup's rows over the manager's filtered list: one line per item, sensitive items masked.
// Rows are read from the list only when they are on screen, so a long history costs nothing to show.
class PopupListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit PopupListModel(ClipboardManager& manager, QObject* parent = nullptr);

    // The list was computed anew.
    void reload();
    const ClipboardItem* itemAt(int row) const;
    int rowOf(const QUuid& id) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    static QString rowText(const ClipboardItem& item);

private:
    QPointer<ClipboardManager> m_manager;
    int m_count = 0;
};

// What the popup shows inside: a search field and the list of items. Up and Down choose an item,
// Return or a click pastes it into the application the user came from, Escape closes the popup.
class PopupListView : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds pasteDelay{80};

    explicit PopupListView(ClipboardManager& manager, HotKeyManager* hotKeys = nullptr, QWidget* parent = nullptr);
    ~PopupListView() override;

    QLineEdit* searchField() const { return m_search; }
    QListView* listView() const { return m_list; }
    const PopupListModel& model() const { return *m_model; }

    std::optional<QUuid> selectedItemId() const;
    // Down and Up: from the chosen row, else the first row; no wrapping.
    void moveSelection(int delta);
    // Pastes the chosen item; false (and nothing happens) when none is chosen or it cannot be written.
    bool pasteSelected(bool plainText = false);
    bool pasteItem(ClipboardItem item, bool plainText = false);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void reload();
    bool handleKey(QKeyEvent* event);

    QPointer<ClipboardManager> m_manager;
    QPointer<HotKeyManager> m_hotKeys;
    QLineEdit* m_search = nullptr;
    QListView* m_list = nullptr;
    PopupListModel* m_model = nullptr;
};

} // namespace lumra
