#pragma once

#include "model/ClipboardItem.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

namespace lumra {

class ContentView;
class PopupKeyMonitor;
class RowDragController;
class UnifiedPreviewCoordinator;

// Everything of the popup that opens the preview or drags rows out: the key monitor while the view
// is shown (Space, the modifier taps), the hover timer, the context menu's "Preview" and the row
// drag source; file rows repaint when their thumbnails arrive.
class PreviewTriggers : public QObject {
    Q_OBJECT
public:
    explicit PreviewTriggers(ContentView& view, UnifiedPreviewCoordinator* coordinator = nullptr);
    ~PreviewTriggers() override;

    // Closes a visible preview, else previews the keyboard-selected (else hovered) row.
    void togglePreviewForCurrentItem();
    // The hover timer's action: only while no preview is up and the row is still hovered.
    void showHoverPreviewIfStillHovered(const QUuid& id);
    void showPreview(const ClipboardItem& item);

    PopupKeyMonitor* keyMonitor() const { return m_monitor.get(); }
    RowDragController* dragController() const { return m_drag; }
    bool isHoverTimerActive() const { return m_hoverTimer.isActive(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    UnifiedPreviewCoordinator& coordinator() const;
    std::optional<ClipboardItem> listedItem(const QUuid& id) const;
    void hoverChanged();
    void installMonitor();

    ContentView& m_view;
    UnifiedPreviewCoordinator* m_coordinator;
    std::unique_ptr<PopupKeyMonitor> m_monitor;
    RowDragController* m_drag = nullptr;
    QTimer m_hoverTimer;
    QUuid m_hoverId;
};

} // namespace lumra
