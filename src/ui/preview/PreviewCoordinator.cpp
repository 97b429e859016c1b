#include "ui/preview/PreviewCoordinator.h"

#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "ui/items/PopupAlert.h"
#include "platform/core/Clock.h"
#include "ui/preview/UnifiedPreviewWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QWindow>

namespace lumra {

namespace {

QPropertyAnimation* animation(QObject* target, const QByteArray& property, const QVariant& to, int ms, QEasingCurve curve)
{
    auto* step = new QPropertyAnimation(target, property);
    step->setEndValue(to);
    step->setDuration(ms);
    step->setEasingCurve(curve);
    return step;
}

} // namespace

UnifiedPreviewCoordinator::UnifiedPreviewCoordinator(Clock* clock, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
{
    m_frameSaveTimer.setSingleShot(true);
    m_frameSaveTimer.setInterval(400);
    connect(&m_frameSaveTimer, &QTimer::timeout, this, [this] {
        if (!m_skipFrameSaveForCurrentPreview && !m_isAnimatingClose)
            saveFrame();
    });
    // Focus moving between Lumra's own windows passes through a short inactive spell on X11.
    m_resignTimer.setSingleShot(true);
    m_resignTimer.setInterval(150);
    connect(&m_resignTimer, &QTimer::timeout, this, &UnifiedPreviewCoordinator::closeOnResign);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &UnifiedPreviewCoordinator::applicationStateChanged);
}

UnifiedPreviewCoordinator::~UnifiedPreviewCoordinator()
{
    delete m_panel.data();
}

UnifiedPreviewCoordinator& UnifiedPreviewCoordinator::shared()
{
    static auto* coordinator = new UnifiedPreviewCoordinator(nullptr, qApp);
    return *coordinator;
}

bool UnifiedPreviewCoordinator::isPreviewVisible() const
{
    return m_panel && m_panel->isVisible();
}

bool UnifiedPreviewCoordinator::isPreviewVisibleOrJustClosed() const
{
    if (isPreviewVisible())
        return true;
    if (!m_lastCloseTime)
        return false;
    const Clock& clock = m_clock ? *m_clock : Clock::shared();
    // A clock set back since the close would otherwise keep it "just closed" for as long.
    const qint64 sinceClose = m_lastCloseTime->msecsTo(clock.now());
    return sinceClose >= 0 && sinceClose < justClosedMs;
}

void UnifiedPreviewCoordinator::showUnifiedPreview(const ClipboardItem& item, ClipboardManager& manager)
{
    if (isPreviewVisible()) {
        closePreviewAnimated();
        return;
    }
    PreviewBuild build = makePreviewBridge(item, manager);
    if (build.filesMissing) {
        holdPopups();
        PromptService::shared().alert(QStringLiteral("Preview unavailable"),
                                      QStringLiteral("This item was copied before file previews were supported, "
                                                     "or the file has been moved or deleted."),
                                      {QStringLiteral("OK")}, PromptService::Style::warning);
        releasePopups();
        giveFocusBack(PopupPanel::findOpen());
        return;
    }
    if (!build.bridge)
        return;
    if (m_panel) // closed, its teardown still pending
        teardown(m_panel);

    m_manager = &manager;
    m_currentAccess = std::move(build.accesses);
    m_skipFrameSaveForCurrentPreview = build.bridge->preferredFrame.has_value();
    const PreviewFrame::Screens screens = PreviewFrame::Screens::current();
    const QRect fallback = PreviewFrame::restoredPreviewWindowFrame(manager.userDefaults().string(frameKey), screens);
    const QRect frame = build.bridge->preferredFrame
        ? PreviewFrame::fitFrameToScreens(*build.bridge->preferredFrame, fallback, screens)
        : fallback;

    auto* panel = new UnifiedPreviewWindow(std::move(*build.bridge), item.comment, manager.userDefaults());
    m_panel = panel;
    connect(panel, &UnifiedPreviewWindow::closeRequested, this, &UnifiedPreviewCoordinator::closePreviewAnimated);
    panel->installEventFilter(this);
    holdPopups();

    // A window with a parent is a dialog to a tiling compositor, which floats it instead of
    // squeezing the user's windows; the preview belongs to the popup anyway.
    if (PopupPanel* popup = PopupPanel::findOpen(); popup && popup->windowHandle()) {
        panel->winId();
        panel->windowHandle()->setTransientParent(popup->windowHandle());
    }
    panel->setGeometry(PreviewFrame::animationFrame(frame));
    panel->setWindowOpacity(0);
    panel->show();
    panel->raise();
    panel->activateWindow();
    auto* group = new QParallelAnimationGroup(panel);
    group->addAnimation(animation(panel, "geometry", frame, openDurationMs, QEasingCurve::OutCubic));
    group->addAnimation(animation(panel, "windowOpacity", 1.0, openDurationMs, QEasingCurve::OutCubic));
    m_animation = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
    connect(panel, &QObject::destroyed, this, [this] { m_frameSaveTimer.stop(); });
    emit previewShown();
}

void UnifiedPreviewCoordinator::closePreviewAnimated()
{
    if (!isPreviewVisible() || m_isAnimatingClose)
        return;
    m_isAnimatingClose = true;
    m_frameSaveTimer.stop();
    if (m_animation)
        m_animation->stop();
    if (!m_skipFrameSaveForCurrentPreview)
        saveFrame();
    // The keys go back to the popup now, not when the animation ends: the user types on at once.
    // Keys the window system still sends the fading preview are handed on in order (eventFilter).
    if (!m_closingForResign) {
        giveFocusBack(PopupPanel::findOpen());
        qApp->installEventFilter(this);
    }
    QPointer<UnifiedPreviewWindow> panel = m_panel;
    auto* group = new QParallelAnimationGroup(panel);
    group->addAnimation(animation(panel, "geometry", PreviewFrame::animationFrame(panel->geometry()), closeDurationMs,
                                  QEasingCurve::InCubic));
    group->addAnimation(animation(panel, "windowOpacity", 0.0, closeDurationMs, QEasingCurve::InCubic));
    connect(group, &QAbstractAnimation::finished, this, [this, panel] { finishPreviewClose(panel); });
    m_animation = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void UnifiedPreviewCoordinator::finishPreviewClose(QPointer<UnifiedPreviewWindow> panel)
{
    m_isAnimatingClose = false;
    qApp->removeEventFilter(this);
    m_currentAccess.clear();
    m_lastCloseTime = (m_clock ? *m_clock : Clock::shared()).now();
    // Closed from the keyboard or its button the popup takes the keys again, asked before the preview
    // unmaps: a window manager gives the focus of an unmapped window to the window behind, and a later
    // request may lose to that. Closed because another application came forward, it leaves that one alone.
    if (!std::exchange(m_closingForResign, false))
        giveFocusBack(PopupPanel::findOpen());
    if (panel) {
        panel->hide();
        // The clean-up belongs to this panel; a newer preview opened meanwhile keeps its state.
        QMetaObject::invokeMethod(this, [this, panel] {
            if (panel)
                teardown(panel);
        }, Qt::QueuedConnection);
    }
    emit previewClosed();
}

void UnifiedPreviewCoordinator::teardown(UnifiedPreviewWindow* panel)
{
    if (panel != m_panel)
        return;
    releasePopups();
    m_panel = nullptr;
    panel->removeEventFilter(this);
    panel->hide();
    panel->deleteLater();
}

void UnifiedPreviewCoordinator::holdPopups()
{
    if (PopupPanel* popup = PopupPanel::findOpen()) {
        m_popupHolds.push_back(popup->hold());
        popup->setClosesOnResignKey(false);
    }
}

void UnifiedPreviewCoordinator::releasePopups()
{
    for (PopupPanel::Hold& hold : m_popupHolds)
        hold.release();
    m_popupHolds.clear();
    if (PopupPanel* popup = PopupPanel::findOpen())
        popup->setClosesOnResignKey(true);
}

void UnifiedPreviewCoordinator::saveFrame()
{
    if (m_panel && m_manager)
        m_manager->userDefaults().set(frameKey, PreviewFrame::frameString(m_panel->geometry()));
}

bool UnifiedPreviewCoordinator::eventFilter(QObject* watched, QEvent* event)
{
    const bool isKey = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease
        || event->type() == QEvent::ShortcutOverride;
    if (m_isAnimatingClose && isKey && m_panel && watched->isWidgetType()
        && static_cast<QWidget*>(watched)->window() == m_panel) {
        PopupPanel* popup = PopupPanel::findOpen();
        QWidget* target = popup ? (popup->focusWidget() ? popup->focusWidget() : popup) : nullptr;
        if (target && event->type() != QEvent::ShortcutOverride) {
            auto* key = static_cast<QKeyEvent*>(event);
            QKeyEvent copy(key->type(), key->key(), key->modifiers(), key->nativeScanCode(), key->nativeVirtualKey(),
                           key->nativeModifiers(), key->text(), key->isAutoRepeat(), ushort(key->count()));
            QCoreApplication::sendEvent(target, &copy);
        }
        return true;
    }
    if (watched == m_panel && event->type() == QEvent::Resize && !m_animation)
        m_frameSaveTimer.start();
    return QObject::eventFilter(watched, event);
}

void UnifiedPreviewCoordinator::applicationStateChanged(Qt::ApplicationState state)
{
    if (state == Qt::ApplicationActive)
        m_resignTimer.stop();
    else if (isPreviewVisible())
        m_resignTimer.start();
}

void UnifiedPreviewCoordinator::closeOnResign()
{
    if (QGuiApplication::applicationState() == Qt::ApplicationActive || !isPreviewVisible())
        return;
    m_closingForResign = true;
    closePreviewAnimated();
    releasePopups();
    if (PopupPanel* popup = PopupPanel::findOpen())
        popup->close();
}

} // namespace lumra
