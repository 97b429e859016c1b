#pragma once

#include "engine/ClipboardManager.h"
#include <QListView>
#include <QPointer>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace lumra {

class ContentViewState;
class HistoryListModel;
class ItemRowDelegate;

// The popup's list of rows. It never takes the keyboard (the search field keeps it); it reports
// hover, Ctrl-click selection, click or double-click paste (as the setting says), right clicks and
// link buttons, and grows its window by a batch when the user scrolls to its end.
class HistoryListView : public QListView {
    Q_OBJECT
public:
    HistoryListView(ClipboardManager& manager, ContentViewState& state, QWidget* parent = nullptr);

    HistoryListModel* historyModel() const { return m_model; }
    ItemRowDelegate* rowDelegate() const { return m_delegate; }
    // The id of the item row at a point of the viewport; none over a loader row or empty space.
    std::optional<QUuid> itemIdAt(QPoint viewportPos) const;
    // Brings the item's row into the middle of the view.
    void scrollToItem(const QUuid& id);

signals:
    void pasteRequested(const QUuid& id, bool plainText);
    void contextMenuRequested(const QUuid& id, QPoint globalPos);
    void linkActivated(const QUrl& url);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void initViewItemOption(QStyleOptionViewItem* option) const override;

private:
    void hoverAt(QPoint viewportPos, QPoint globalPos);
    void loadIfLoaderShown();
    bool activateLink(QPoint viewportPos);

    QPointer<ClipboardManager> m_manager;
    QPointer<ContentViewState> m_state;
    HistoryListModel* m_model = nullptr;
    ItemRowDelegate* m_delegate = nullptr;
    QPoint m_pressPos;
    std::optional<QPoint> m_pointer; // in the viewport, while it is over the list
    bool m_pressOnLink = false;
};

} // namespace lumra
