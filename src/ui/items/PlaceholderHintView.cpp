#include "ui/items/PlaceholderHintView.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>

namespace lumra {

PlaceholderHintView::PlaceholderHintView(const QStringList& hints, QWidget* parent)
    : QWidget(parent)
    , m_hints(hints)
{
    Q_ASSERT(!hints.isEmpty());
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer.setInterval(rotationIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PlaceholderHintView::advance);
    m_push.setDuration(400);
    m_push.setEasingCurve(QEasingCurve::InOutQuad);
    m_push.setStartValue(0.0);
    m_push.setEndValue(1.0);
    connect(&m_push, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
}

void PlaceholderHintView::setHints(const QStringList& hints)
{
    Q_ASSERT(!hints.isEmpty());
    if (hints == m_hints)
        return;
    m_hints = hints;
    restart();
}

void PlaceholderHintView::restart()
{
    m_push.stop();
    m_index = 0;
    m_previous = -1;
    if (isVisible() && m_hints.size() > 1)
        m_timer.start();
    else
        m_timer.stop();
    update();
}

void PlaceholderHintView::advance()
{
    // Any open menu holds the rotation still; the skipped step is not made up later.
    if (m_hints.size() < 2 || qobject_cast<QMenu*>(QApplication::activePopupWidget()))
        return;
    m_previous = m_index;
    m_index = (m_index + 1) % int(m_hints.size());
    m_push.stop();
    m_push.start();
    update();
}

void PlaceholderHintView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    restart();
}

void PlaceholderHintView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
    m_push.stop();
}

void PlaceholderHintView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setClipRect(rect());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const auto draw = [&](int index, qreal offset, qreal opacity) {
        painter.setOpacity(opacity);
        const QString text = fontMetrics().elidedText(m_hints.value(index), Qt::ElideRight, width());
        painter.drawText(rect().translated(0, qRound(offset)), Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    const bool pushing = m_push.state() == QAbstractAnimation::Running && m_previous >= 0;
    if (!pushing) {
        draw(m_index, 0, 1);
        return;
    }
    const qreal progress = m_push.currentValue().toReal();
    draw(m_previous, -progress * height(), 1 - progress);
    draw(m_index, (1 - progress) * height(), progress);
}

} // namespace lumra
