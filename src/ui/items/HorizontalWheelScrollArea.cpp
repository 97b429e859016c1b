#include "ui/items/HorizontalWheelScrollArea.h"

#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace lumra {

std::optional<int> wheelScrollTarget(int offset, double horizontalDelta, double verticalDelta, int contentWidth,
                                     int visibleWidth)
{
    const double delta = std::abs(verticalDelta) > std::abs(horizontalDelta) ? verticalDelta : horizontalDelta;
    if (delta == 0)
        return std::nullopt;
    const int end = std::max(contentWidth - visibleWidth, 0);
    const int target = std::clamp(int(std::lround(offset - 30 * delta)), 0, end);
    if (target == offset)
        return std::nullopt;
    return target;
}

HorizontalWheelScrollArea::HorizontalWheelScrollArea(QWidget* parent)
    : QScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setBackgroundRole(QPalette::NoRole);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
}

QSize HorizontalWheelScrollArea::sizeHint() const
{
    const QSize content = widget() ? widget()->sizeHint() : QSize(0, 0);
    return {content.width(), content.height()};
}

QSize HorizontalWheelScrollArea::minimumSizeHint() const
{
    return {0, widget() ? widget()->sizeHint().height() : 0};
}

void HorizontalWheelScrollArea::wheelEvent(QWheelEvent* event)
{
    // A touchpad reports pixels: leave its two-axis scrolling as it is.
    if (!event->pixelDelta().isNull()) {
        QScrollArea::wheelEvent(event);
        return;
    }
    // One notch of a wheel is 120 eighths of a degree; it counts as a delta of 1.
    const QPointF steps = QPointF(event->angleDelta()) / 120.0;
    QScrollBar* bar = horizontalScrollBar();
    const int contentWidth = widget() ? widget()->width() : 0;
    const auto target = wheelScrollTarget(bar->value(), steps.x(), steps.y(), contentWidth, viewport()->width());
    if (!target) {
        event->ignore();
        return;
    }
    bar->setValue(*target);
    event->accept();
}

} // namespace lumra
