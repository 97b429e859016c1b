#pragma once

#include "model/ClipboardItem.h"

#include <QList>
#include <QMimeData>
#include <QModelIndex>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QAbstractItemView;
class QDrag;

namespace lumra {

class ClipboardManager;
class PopupPanel;

// The list a drag starts from, read by position so that it is never copied.
struct DragListAccess {
    std::function<qsizetype()> count;
    std::function<const ClipboardItem&(qsizetype)> at;
    static DragListAccess filteredItems(const ClipboardManager& manager);
};

// The other selected items of `type` that a drag starting on `row` carries along, in list
// order; none unless the row itself is selected with at least one other.
QList<ClipboardItem> additionalItemsForDrag(const ClipboardItem& row, const QList<QUuid>& selectedIds,
                                            const DragListAccess& list, ClipboardContentType type);
// The selected texts in selection order, when the row is selected, at least two are, all are
// in the list and all are texts; else none.
QList<ClipboardItem> combinedTextItemsForDrag(const ClipboardItem& row, const QList<QUuid>& selectedIds,
                                              const DragListAccess& list);
// The texts joined by the combine mode ("horizontal": trimmed, one space; "vertical": as they
// are, one line feed), blanks dropped; none when the mode is off or nothing is left.
std::optional<QString> combinedDragText(const QList<ClipboardItem>& items, const QString& combineTextsMode);

// The data a drag offers. It notices when a receiver reads any of it: on X11 that happens after
// the drop, when the drag's own event loop has already returned. It keeps the files' access for
// as long as the drag lives, which the platform decides (until the receiver has finished).
class DragMimeData : public QMimeData {
public:
    bool wasDelivered() const { return m_delivered; }
    // Runs once, at the first read that hands over data.
    void setOnDelivered(std::function<void()> onDelivered) { m_onDelivered = std::move(onDelivered); }
    QList<FileBookmarkAccessPtr> accesses;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    mutable bool m_delivered = false;
    mutable std::function<void()> m_onDelivered;
};

// What a drag hands over, and the items it counts as pasted once the receiver takes it.
struct DragPayload {
    std::unique_ptr<DragMimeData> mimeData;
    QList<ClipboardItem> items;
    bool isEmpty() const { return !mimeData || items.isEmpty(); }
};

// The most bytes one form of a drag may hold: on X11 a drop is answered in one request, and one
// past the server's limit ends Lumra's connection. None where there is no such limit.
std::optional<qint64> dragFormBound();

// Rich forms still being made this long after the drag was asked for are left out of it.
inline constexpr std::chrono::milliseconds richFormsPatience{1000};

// Makes what a drag offers and hands it to `ready` on this thread (at once when the store has
// nothing to read), never while `context` is gone: text (with its rich text unless Shift is held),
// images as files in the private drag folder, files and folders as URI lists. Pictures are read
// and rich text converted on a lane, so that a drop is answered at once from forms already made;
// a form larger than `bound` goes as a file in the drag folder instead. Empty when nothing could
// be offered.
void makeDragPayload(const ClipboardItem& row, const QList<QUuid>& selectedIds, const DragListAccess& list,
                     ClipboardManager& manager, bool shiftHeld, QObject* context,
                     std::function<void(DragPayload)> ready, std::optional<qint64> bound = dragFormBound());

// Starts the drag (copy only) and waits for its end. Only a drop the receiver accepted and whose
// data it then read marks the items pasted, counts them and fades the popup, whenever that read
// comes; a cancelled or refused drag, or one whose data nobody reads, changes nothing.
using DragExec = std::function<Qt::DropAction(QDrag*)>;
Qt::DropAction runDrag(QObject* source, DragPayload payload, ClipboardManager& manager, const DragExec& exec = {});

// Fades the popup out over 0.2 s and closes it; when the close is refused (something holds the
// popup open) it is made opaque again, never left invisible.
void fadeOutAndClosePopup(PopupPanel* panel);

// Watches a list's viewport: a press on a row that then moves 5 pixels or more starts one drag
// of that row (and the selected rows that go with it). A press starts at most one drag.
class RowDragController : public QObject {
    Q_OBJECT
public:
    static constexpr int dragDistance = 5;

    RowDragController(QAbstractItemView* view, ClipboardManager& manager,
                      std::function<std::optional<ClipboardItem>(const QModelIndex&)> itemAt,
                      std::function<QList<QUuid>()> selectedIds, QObject* parent = nullptr);

    void setExec(DragExec exec) { m_exec = std::move(exec); }

signals:
    void dragFinished(Qt::DropAction action);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QAbstractItemView> m_view;
    QPointer<QWidget> m_viewport;
    QPointer<ClipboardManager> m_manager;
    std::function<std::optional<ClipboardItem>(const QModelIndex&)> m_itemAt;
    std::function<QList<QUuid>()> m_selectedIds;
    DragExec m_exec;
    std::optional<QPoint> m_pressAt;
    QPersistentModelIndex m_pressIndex;
    // The drag whose forms are being made; a release before they are ends it unstarted.
    quint64 m_dragSerial = 0;
    bool m_preparing = false;
};

} // namespace lumra
