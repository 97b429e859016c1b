#include "ui/shell/PopupPanel.h"

#include "ui/shell/PopupPlacement.h"
#include "ui/shell/WindowActivation.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWindow>
#include <QVBoxLayout>

#include <xcb/xcb.h>

namespace lumra {

namespace {

// A thin strip along an edge (or a square at a corner) of the frameless panel that resizes it:
// by the window manager when it can, else by hand within the panel's size limits.
class EdgeGrip : public QWidget {
public:
    EdgeGrip(Qt::Edges edges, QWidget* panel) : QWidget(panel), m_edges(edges)
    {
        const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
        const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
        const bool falling = edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge);
        setCursor(horizontal && vertical ? (falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor)
                                         : (horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor));
    }
    Qt::Edges edges() const { return m_edges; }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        QWidget* panel = window();
        if (panel->windowHandle() && panel->windowHandle()->startSystemResize(m_edges))
            return;
        m_start = event->globalPosition().toPoint();
        m_geometry = panel->geometry();
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!m_start)
            return;
        QWidget* panel = window();
        const QPoint delta = event->globalPosition().toPoint() - *m_start;
        QRect g = m_geometry;
        const QSize min = panel->minimumSize();
        const QSize max = panel->maximumSize();
        if (m_edges & Qt::LeftEdge)
            g.setLeft(std::clamp(g.left() + delta.x(), g.right() + 1 - max.width(), g.right() + 1 - min.width()));
        if (m_edges & Qt::RightEdge)
            g.setWidth(std::clamp(g.width() + delta.x(), min.width(), max.width()));
        if (m_edges & Qt::TopEdge)
            g.setTop(std::clamp(g.top() + delta.y(), g.bottom() + 1 - max.height(), g.bottom() + 1 - min.height()));
        if (m_edges & Qt::BottomEdge)
            g.setHeight(std::clamp(g.height() + delta.y(), min.height(), max.height()));
        panel->setGeometry(g);
    }
    void mouseReleaseEvent(QMouseEvent*) override { m_start.reset(); }

private:
    Qt::Edges m_edges;
    std::optional<QPoint> m_start;
    QRect m_geometry;
};

} // namespace

// Qt reports every X focus-out as a loss of focus. One whose mode says the keyboard was grabbed
// comes from the window manager taking it for a move or resize (Alt+drag, a drag by the header);
// the focus moving on while it holds the keyboard (its window switcher) is a real leave.
class KeyboardGrabWatch final : public QAbstractNativeEventFilter {
public:
    explicit KeyboardGrabWatch(PopupPanel* panel, std::function<void(bool)> focusLeft)
        : m_panel(panel), m_focusLeft(std::move(focusLeft))
    {
        qApp->installNativeEventFilter(this);
    }
    ~KeyboardGrabWatch() override { qApp->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_FOCUS_OUT)
            return false;
        const auto* focus = static_cast<const xcb_focus_out_event_t*>(message);
        if (focus->detail == XCB_NOTIFY_DETAIL_POINTER || focus->event != xcb_window_t(m_panel->internalWinId()))
            return false;
        if (focus->mode == XCB_NOTIFY_MODE_GRAB)
            m_focusLeft(true);
        else if (focus->mode == XCB_NOTIFY_MODE_NORMAL || focus->mode == XCB_NOTIFY_MODE_WHILE_GRABBED)
            m_focusLeft(false);
        return false;
    }

private:
    PopupPanel* m_panel;
    std::function<void(bool)> m_focusLeft;
};

PopupPanel::PopupPanel(QSize contentSize, QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Lumra"));
    setMinimumSize(PopupPlacement::minimumWidth, PopupPlacement::minimumHeight);
    setMaximumSize(PopupPlacement::maximumSize);
    resize(contentSize);

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    for (Qt::Edges edges : {Qt::Edges(Qt::TopEdge), Qt::Edges(Qt::BottomEdge), Qt::Edges(Qt::LeftEdge),
                            Qt::Edges(Qt::RightEdge), Qt::TopEdge | Qt::LeftEdge, Qt::TopEdge | Qt::RightEdge,
                            Qt::BottomEdge | Qt::LeftEdge, Qt::BottomEdge | Qt::RightEdge})
        m_grips.append(new EdgeGrip(edges, this));
    applyWindowFlags();

    connect(qApp, &QGuiApplication::applicationStateChanged, this, &PopupPanel::applicationStateChanged);
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        m_grabWatch = std::make_unique<KeyboardGrabWatch>(this, [this](bool grabbed) { keyboardFocusLeft(grabbed); });
}

PopupPanel::~PopupPanel() = default;

void PopupPanel::keyboardFocusLeft(bool grabbed)
{
    if (grabbed) {
        m_movingBySystem = true;
        return;
    }
    if (!std::exchange(m_movingBySystem, false))
        return;
    // The focus went elsewhere during the grab. When Qt has already reported the loss (it did so at
    // the grab), nothing will report it again: decide now, as for any loss.
    QTimer::singleShot(0, this, [this] {
        if (m_movingBySystem || m_closing || m_closed || isActiveWindow())
            return;
        if (m_wasActive && isVisible())
            resignedFocus();
        if (!m_closing && QGuiApplication::applicationState() != Qt::ApplicationActive)
            applicationStateChanged(QGuiApplication::applicationState());
    });
}

PopupPanel* PopupPanel::findOpen()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* panel = qobject_cast<PopupPanel*>(widget); panel && !panel->m_closed)
            return panel;
    }
    return nullptr;
}

void PopupPanel::setContentWidget(QWidget* content)
{
    if (m_content == content)
        return;
    delete m_content;
    m_content = content;
    if (content)
        m_layout->addWidget(content);
    for (QWidget* grip : m_grips)
        grip->raise();
}

void PopupPanel::setShowWindowButtons(bool showButtons)
{
    if (showButtons == m_showWindowButtons)
        return;
    m_showWindowButtons = showButtons;
    emit windowButtonsChanged(showButtons);
}

void PopupPanel::applyWindowFlags()
{
    m_changingFlags = true;
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
    m_changingFlags = false;
}

void PopupPanel::present(QPoint origin, unsigned long userTime)
{
    move(origin);
    show();
    m_presented = true;
    activateWithUserTime(this, userTime);
}

void PopupPanel::bringBack(unsigned long userTime, Focus focus)
{
    if (m_closed || m_closing)
        return;
    m_hiddenForDeactivation = false;
    // Cleared first: shown again, a minimised window would only map as an icon.
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible())
        show();
    // An activation asked for while the window is unmapped is sent by Qt only once the window
    // manager maps it, which may come after the editor's own: the editor would lose the keys.
    if (focus == Focus::leave)
        raise();
    else
        activateWithUserTime(this, userTime);
}

void PopupPanel::closeEvent(QCloseEvent* event)
{
    if (preventClose() || m_closed) {
        event->ignore();
        if (!m_closed)
            emit closeRefused();
        return;
    }
    event->accept();
    m_closing = true;
    if (m_sizeTimer && m_sizeTimer->isActive())
        saveSizeNow();
    m_sizeTimer.reset();
    if (m_positionSaver && m_presented)
        m_positionSaver(pos());
    // A panel already hidden (Lumra inactive) gets no hide event from this close.
    if (isHidden())
        finishClose();
}

void PopupPanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_closing)
        finishClose();
}

void PopupPanel::finishClose()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_onClose)
        m_onClose();
    emit closed();
}

void PopupPanel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || m_changingFlags)
        return;
    if (isActiveWindow()) {
        m_wasActive = true;
        m_movingBySystem = false;
    } else if (m_wasActive && isVisible() && !m_movingBySystem) {
        resignedFocus();
    }
}

void PopupPanel::resignedFocus()
{
    m_wasActive = false;
    if (closesOnFocusLoss())
        close();
}

void PopupPanel::applicationStateChanged(Qt::ApplicationState state)
{
    if (m_closing || m_closed || (m_movingBySystem && state != Qt::ApplicationActive))
        return;
    if (state == Qt::ApplicationActive) {
        if (m_hiddenForDeactivation) {
            m_hiddenForDeactivation = false;
            show();
        }
    } else if (isVisible()) {
        // Whichever of the two notices of a switch to another app comes first decides.
        if (m_wasActive && closesOnFocusLoss()) {
            resignedFocus();
        } else if (hidesOnDeactivate()) {
            m_hiddenForDeactivation = true;
            hide();
        }
    }
}

void PopupPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int t = gripThickness;
    const int corner = 3 * t;
    for (QWidget* widget : m_grips) {
        const Qt::Edges edges = static_cast<EdgeGrip*>(widget)->edges();
        const bool left = edges & Qt::LeftEdge, right = edges & Qt::RightEdge;
        const bool top = edges & Qt::TopEdge, bottom = edges & Qt::BottomEdge;
        if ((left || right) && (top || bottom))
            widget->setGeometry(left ? 0 : width() - corner, top ? 0 : height() - corner, corner, corner);
        else if (left || right)
            widget->setGeometry(left ? 0 : width() - t, corner, t, height() - 2 * corner);
        else
            widget->setGeometry(corner, top ? 0 : height() - t, width() - 2 * corner, t);
    }
    if (!m_presented || !isVisible() || !m_sizeSaver)
        return;
    m_sizeTimer = Clock::shared().start(resizeSettleDelay, false, [this] { saveSizeNow(); });
}

void PopupPanel::saveSizeNow()
{
    if (m_sizeSaver)
        m_sizeSaver(size());
    if (m_sizeTimer)
        m_sizeTimer->stop();
}

// A press that no child took lands on the background: a drag from there moves the panel, a plain
// click does nothing.
void PopupPanel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    event->accept();
    m_pressAt = event->globalPosition().toPoint();
    m_dragOffset.reset();
}

void PopupPanel::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->globalPosition().toPoint();
    if (m_pressAt && (event->buttons() & Qt::LeftButton)
        && (at - *m_pressAt).manhattanLength() >= QApplication::startDragDistance()) {
        const QPoint pressAt = *std::exchange(m_pressAt, std::nullopt);
        m_movingBySystem = true;
        m_movingBySystem = m_systemMoveStarter ? m_systemMoveStarter()
                                               : windowHandle() && windowHandle()->startSystemMove();
        if (m_movingBySystem)
            return;
        m_dragOffset = pressAt - pos();
    }
    if (m_dragOffset)
        move(at - *m_dragOffset);
    QWidget::mouseMoveEvent(event);
}

void PopupPanel::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressAt.reset();
    m_dragOffset.reset();
    QWidget::mouseReleaseEvent(event);
}

PopupPanel::Hold::Hold(PopupPanel* panel) : m_panel(panel)
{
    if (panel)
        ++panel->m_holds;
}

PopupPanel::Hold& PopupPanel::Hold::operator=(Hold&& other) noexcept
{
    if (this != &other) {
        release();
        m_panel = other.m_panel;
        other.m_panel = nullptr;
    }
    return *this;
}

void PopupPanel::Hold::release()
{
    if (m_panel && m_panel->m_holds > 0)
        --m_panel->m_holds;
    m_panel = nullptr;
}

} // namespace lumra
