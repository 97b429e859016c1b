#include "app/PopupPanel.h"

#include "app/PopupPlacement.h"
#include "app/WindowActivation.h"

#include <QApplication>
#include <QCloseEvent>
#include <QSizeGrip>
#include <QVBoxLayout>

namespace lumra {

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
    m_grip = new QSizeGrip(this);
    m_grip->resize(m_grip->sizeHint());
    applyWindowFlags();

    connect(qApp, &QGuiApplication::applicationStateChanged, this, &PopupPanel::applicationStateChanged);
}

PopupPanel::~PopupPanel() = default;

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
    m_grip->raise();
}

void PopupPanel::setShowWindowButtons(bool showButtons)
{
    if (showButtons == m_showWindowButtons)
        return;
    m_showWindowButtons = showButtons;
    const bool wasVisible = isVisible();
    const QPoint position = pos();
    applyWindowFlags();
    // Changing the flags of a shown window hides it; bring it back where it was.
    if (wasVisible) {
        move(position);
        show();
        activateWindow();
    }
}

void PopupPanel::applyWindowFlags()
{
    Qt::WindowFlags flags = Qt::Tool | Qt::WindowStaysOnTopHint;
    if (m_showWindowButtons)
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint; // no minimise or maximise
    else
        flags |= Qt::FramelessWindowHint;
    m_changingFlags = true;
    setWindowFlags(flags);
    m_changingFlags = false;
    m_grip->setVisible(!m_showWindowButtons);
}

void PopupPanel::present(QPoint origin, unsigned long userTime)
{
    move(origin);
    show();
    m_presented = true;
    activateWithUserTime(this, userTime);
}

void PopupPanel::closeEvent(QCloseEvent* event)
{
    if (preventClose() || m_closed) {
        event->ignore();
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
    if (isActiveWindow())
        m_wasActive = true;
    else if (m_wasActive && isVisible())
        resignedFocus();
}

void PopupPanel::resignedFocus()
{
    m_wasActive = false;
    if (closesOnFocusLoss())
        close();
}

void PopupPanel::applicationStateChanged(Qt::ApplicationState state)
{
    if (m_closing || m_closed)
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
    m_grip->move(width() - m_grip->width(), height() - m_grip->height());
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
