#pragma once

#include "ui/shell/HotKeyManager.h"
#include "engine/ClipboardManager.h"
#include "engine/PasteService.h"
#include "ui/popup/ContentViewState.h"
#include "ui/popup/ListWindow.h"

#include <QList>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <chrono>
#include <memory>

class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace lumra {

class HistoryListView;
class PopupPanel;
class SearchBar;
class Timer;

// The popup's root view, top to bottom: the header band (window buttons, time-saved message, sync
// status and item count), the search area, the history list or its empty state, and the footer.
// Every opening, and every time the panel gets the focus back, starts from a clean slate: empty
// search, the pinned filters, nothing selected, the first batch of rows, the caret in the search
// field. Up and Down move the keyboard selection, Return pastes (Shift+Return as plain text).
class ContentView : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds pasteDelay{80};
    static constexpr std::chrono::milliseconds selectionPasteDelay{200};
    static constexpr std::chrono::milliseconds focusDelay{100};
    static constexpr std::chrono::milliseconds highlightDuration{5000};
    static constexpr std::chrono::milliseconds savingsMessageDuration{10000};

    ContentView(ClipboardManager& manager, HotKeyManager* hotKeys, QWidget* parent = nullptr);
    ~ContentView() override;

    ClipboardManager& manager() const { return *m_manager; }
    HotKeyManager* hotKeyManager() const { return m_hotKeys; }
    void setPanel(PopupPanel* panel);
    PopupPanel* panel() const { return m_panel; }

    // The search bar's place: a vertical layout with the search area's margins.
    QWidget* searchAreaHost() const { return m_searchAreaHost; }
    // The footer row's place: a horizontal layout. Hidden until something shows it; the divider
    // above it follows its visibility.
    QWidget* footerHost() const { return m_footerHost; }
    HistoryListView* listView() const { return m_list; }
    ContentViewState& viewState() { return m_state; }

    // Selected ids that are in the current filtered list, in selection order.
    QList<QUuid> visibleSelectedIds() const;

    // The keyboard road; each returns false when the key was not used (nothing to act on).
    bool moveSelection(MoveDirection direction);
    bool handleReturnKey(bool plainText);
    // A click (or double click) on a row: pastes that item alone.
    bool pasteRow(const QUuid& id, bool plainText);
    // The context menu for the keyboard-selected (else hovered) row, under it.
    bool requestContextMenuFromKeyboard();

    // The clean slate; run when the popup appears and when it gets the focus back.
    void resetForOpening();

    // The header band's height: tall with anything in it or window buttons, else a thin strip.
    static int headerBandHeight(bool tall) { return tall ? 32 : 4; }

signals:
    // Right click, the Menu key or Shift+F10: the visible rows the menu acts on.
    void contextMenuRequested(QList<QUuid> ids, QPoint globalPos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildHeader();
    void applySecondaryColours();
    void buildSearchBar();
    void updateHeader();
    void updateListArea();
    void toggleZoom();
    void rowContextMenu(const QUuid& id, QPoint globalPos);
    QList<QUuid> menuIdsFor(const QUuid& id) const;
    bool pasteItem(ClipboardItem item, bool plainText);
    // The popup's paste, while its forms are still being made, is not made.
    void cancelPaste();
    void handBackFocus();
    void showPendingSavingsMessage();
    void confirmSavingsReset();
    void scrollRequested();
    std::optional<int> visibleRowOf(const std::optional<QUuid>& id) const;

    QPointer<ClipboardManager> m_manager;
    QPointer<HotKeyManager> m_hotKeys;
    QPointer<PopupPanel> m_panel;
    QObject* m_panelObject = nullptr; // compared in the event filter, also while the panel is being destroyed
    ContentViewState m_state;

    QWidget* m_header = nullptr;
    QWidget* m_windowButtons = nullptr;
    QPushButton* m_savingsButton = nullptr;
    QLabel* m_syncIcon = nullptr;
    QLabel* m_countLabel = nullptr;
    QWidget* m_searchAreaHost = nullptr;
    SearchBar* m_searchBar = nullptr;
    QStackedWidget* m_listArea = nullptr;
    HistoryListView* m_list = nullptr;
    QWidget* m_emptyState = nullptr;
    QLabel* m_emptyText = nullptr;
    QLabel* m_emptyIcon = nullptr;
    QWidget* m_footerDivider = nullptr;
    QWidget* m_footerHost = nullptr;
    QLabel* m_pasteStatus = nullptr;
    std::shared_ptr<PasteService::Paste> m_paste; // the last one chosen here
    bool m_appeared = false;
    bool m_lostFocusSinceReset = false;
    std::unique_ptr<Timer> m_focusTimer;
    std::unique_ptr<Timer> m_savingsTimer;
    std::unique_ptr<Timer> m_highlightTimer;
    std::optional<QRect> m_unzoomedGeometry;
};

// The status symbol and its colour for a sync status text, by the marker characters in it.
struct SyncStatusLook {
    QString symbol;
    enum class Tone { secondary, green, orange, red } tone = Tone::secondary;
    static SyncStatusLook forStatus(const QString& status);
};

} // namespace lumra
