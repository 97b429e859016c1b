#pragma once

#include "platform/core/Clock.h"

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>
#include <memory>

class QVBoxLayout;

namespace lumra {

class KeyboardGrabWatch;

// The floating popup window that hosts the history view. It stays above other windows, keeps off
// the taskbar, has no frame from the window manager (it moves when dragged by its background and
// resizes from its edges and corners), takes the keyboard when presented, and closes when it loses
// focus unless told not to:
// while `preventClose` is set every close request is ignored; with `closesOnResignKey` off or the
// keep-window-open setting on, losing focus leaves it open. A closed panel deletes itself.
class PopupPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds resizeSettleDelay{400};

    explicit PopupPanel(QSize contentSize, QWidget* parent = nullptr);
    ~PopupPanel() override;

    // The open panel, whichever road opened it; nullptr when there is none.
    static PopupPanel* findOpen();

    void setContentWidget(QWidget* content);
    QWidget* contentWidget() const { return m_content; }

    // Close requests are ignored while `preventClose` is set or any hold is alive. Alerts and
    // editors take a hold each, so one ending never lets the panel close under another.
    bool preventClose() const { return m_preventClose || m_holds > 0; }
    void setPreventClose(bool prevent) { m_preventClose = prevent; }

    // A move-only token; the panel stays open while any token lives. Ending a hold neither closes
    // nor shows the panel, and a token outliving its panel does nothing.
    class Hold {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept : m_panel(other.m_panel) { other.m_panel = nullptr; }
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() { release(); }
        void release();
        bool isActive() const { return !m_panel.isNull(); }

    private:
        friend class PopupPanel;
        explicit Hold(PopupPanel* panel);
        QPointer<PopupPanel> m_panel;
    };
    [[nodiscard]] Hold hold() { return Hold(this); }
    int holdCount() const { return m_holds; }
    bool closesOnResignKey() const { return m_closesOnResignKey; }
    void setClosesOnResignKey(bool closes) { m_closesOnResignKey = closes; }

    // The "keepWindowOpen" setting; read at every loss of focus. Off also hides the panel while
    // Lumra is inactive when it stays open for another reason.
    bool keepWindowOpen() const { return m_keepWindowOpen; }
    void setKeepWindowOpen(bool keep) { m_keepWindowOpen = keep; }
    bool hidesOnDeactivate() const { return !m_keepWindowOpen; }

    // The "showTrafficLights" setting: whether the content shows its own window buttons.
    bool showsWindowButtons() const { return m_showWindowButtons; }
    void setShowWindowButtons(bool show);
    // Edges a resize grip sits on, for tests and the grips themselves.
    static constexpr int gripThickness = 5;

    // Run once after the panel really closed (not when a close was refused).
    void setOnClose(std::function<void()> onClose) { m_onClose = std::move(onClose); }
    // Told the content size once a resize by the user has settled, and at close when one is pending.
    void setSizeSaver(std::function<void(QSize)> saver) { m_sizeSaver = std::move(saver); }
    // Told the frame position when the panel closes.
    void setPositionSaver(std::function<void(QPoint)> saver) { m_positionSaver = std::move(saver); }

    // Shows the panel with its frame's top-left corner at `origin` and takes keyboard focus;
    // `userTime` is the X server time of the event that asked for it (0 when unknown).
    void present(QPoint origin, unsigned long userTime = 0);

    // Shows the open panel again wherever it went: minimised by the window manager together with an
    // editor it holds, or hidden while Lumra was inactive. Raises it and, unless an editor it holds
    // comes forward with it, asks for the focus.
    enum class Focus { take, leave };
    void bringBack(unsigned long userTime = 0, Focus focus = Focus::take);

    bool isClosed() const { return m_closed; }

    // The window manager holds the keyboard for a move (one the panel asked for, or Alt+drag):
    // the focus the panel loses meanwhile is not the user leaving, and its return is no new opening.
    bool isMovedBySystem() const { return m_movingBySystem; }

    // Hands a move by the background to the window manager; false when it cannot take it (then the
    // panel follows the pointer itself). Replaceable so tests can play a window manager.
    void setSystemMoveStarter(std::function<bool()> starter) { m_systemMoveStarter = std::move(starter); }

signals:
    void closed();
    // A close asked for while something holds the panel open (Escape, the shortcut).
    void closeRefused();
    void windowButtonsChanged(bool shown);

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void applyWindowFlags();
    bool closesOnFocusLoss() const { return !preventClose() && m_closesOnResignKey && !m_keepWindowOpen; }
    void resignedFocus();
    // The X server took the keyboard from the panel: `grabbed` by a grab, else the focus moved on.
    void keyboardFocusLeft(bool grabbed);
    void applicationStateChanged(Qt::ApplicationState state);
    void saveSizeNow();
    void finishClose();

    QVBoxLayout* m_layout = nullptr;
    QPointer<QWidget> m_content;
    QList<QWidget*> m_grips;
    std::optional<QPoint> m_pressAt;    // a press on the background, global
    std::optional<QPoint> m_dragOffset; // moving by hand where the window manager cannot
    // The window manager moves the panel and holds the keyboard meanwhile: that loss of focus is
    // not the user leaving. Ends when the panel has the focus again.
    bool m_movingBySystem = false;
    std::function<bool()> m_systemMoveStarter;
    bool m_preventClose = false;
    int m_holds = 0;
    bool m_closesOnResignKey = true;
    bool m_keepWindowOpen = false;
    bool m_showWindowButtons = true;
    bool m_presented = false;
    bool m_wasActive = false;
    bool m_closing = false;
    bool m_closed = false;
    bool m_hiddenForDeactivation = false;
    bool m_changingFlags = false;
    std::function<void()> m_onClose;
    std::function<void(QSize)> m_sizeSaver;
    std::function<void(QPoint)> m_positionSaver;
    std::unique_ptr<Timer> m_sizeTimer;
    std::unique_ptr<KeyboardGrabWatch> m_grabWatch;
};

} // namespace lumra
