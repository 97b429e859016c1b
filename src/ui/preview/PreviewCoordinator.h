#pragma once

#include "ui/shell/PopupPanel.h"
#include "model/ClipboardItem.h"
#include "ui/preview/PreviewContent.h"
#include "ui/preview/UnifiedPreviewWindow.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>
#include <vector>

class QParallelAnimationGroup;

namespace lumra {

class Clock;
class ClipboardManager;

// The one preview window of the program. The popup asks it to show an item (Space, a modifier
// tap, hover, the context menu); a request while a preview is visible closes it instead. While a
// preview is up the popup is held open, and the previewed files stay accessible until it closes.
class UnifiedPreviewCoordinator : public QObject {
    Q_OBJECT
public:
    static constexpr int openDurationMs = 200;
    static constexpr int closeDurationMs = 180;
    static constexpr qint64 justClosedMs = 600;
    static inline const QString frameKey = QStringLiteral("unifiedPreviewWindowFrame");

    explicit UnifiedPreviewCoordinator(Clock* clock = nullptr, QObject* parent = nullptr);
    ~UnifiedPreviewCoordinator() override;

    static UnifiedPreviewCoordinator& shared();

    void showUnifiedPreview(const ClipboardItem& item, ClipboardManager& manager);
    void closePreviewAnimated();
    // Visible, or closed less than 0.6 s ago: the popup then keeps its search and filters when it
    // gets the focus back.
    bool isPreviewVisibleOrJustClosed() const;

    UnifiedPreviewWindow* panel() const { return m_panel; }
    bool isPreviewVisible() const;
    bool isAnimatingClose() const { return m_isAnimatingClose; }
    int heldFileAccessCount() const { return int(m_currentAccess.size()); }

signals:
    void previewShown();
    void previewClosed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void holdPopups();
    void releasePopups();
    void finishPreviewClose(QPointer<UnifiedPreviewWindow> panel);
    void teardown(UnifiedPreviewWindow* panel);
    void saveFrame();
    void applicationStateChanged(Qt::ApplicationState state);
    void closeOnResign();

    Clock* m_clock;
    QPointer<UnifiedPreviewWindow> m_panel;
    QPointer<ClipboardManager> m_manager;
    QPointer<QParallelAnimationGroup> m_animation;
    QList<FileBookmarkAccessPtr> m_currentAccess;
    std::vector<PopupPanel::Hold> m_popupHolds;
    bool m_isAnimatingClose = false;
    bool m_closingForResign = false;
    bool m_skipFrameSaveForCurrentPreview = false;
    std::optional<QDateTime> m_lastCloseTime;
    QTimer m_frameSaveTimer;
    QTimer m_resignTimer;
};

} // namespace lumra
