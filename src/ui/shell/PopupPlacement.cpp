#include "ui/shell/PopupPlacement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace lumra::PopupPlacement {

namespace {

int storedLength(double stored, int minimum, int fallback, int maximum)
{
    if (!std::isfinite(stored) || stored < minimum)
        return fallback;
    return static_cast<int>(std::lround(std::min(stored, double(maximum))));
}

qint64 overlap(const QRect& a, const QRect& b)
{
    const QRect both = a.intersected(b);
    return both.isEmpty() ? 0 : qint64(both.width()) * both.height();
}

} // namespace

QSize contentSize(double storedWidth, double storedHeight)
{
    return {storedLength(storedWidth, minimumWidth, defaultWidth, maximumSize.width()),
            storedLength(storedHeight, minimumHeight, defaultHeight, maximumSize.height())};
}

std::optional<ScreenArea> screenAt(const QList<ScreenArea>& screens, QPoint point, int primary)
{
    if (screens.isEmpty())
        return std::nullopt;
    for (const ScreenArea& screen : screens) {
        if (screen.geometry.contains(point))
            return screen;
    }
    return screens.value(primary, screens.first());
}

QPoint clampInto(const QRect& frame, const QRect& area)
{
    int x = frame.x();
    int y = frame.y();
    if (x < area.left())
        x = area.left();
    if (x + frame.width() > area.x() + area.width())
        x = area.x() + area.width() - frame.width();
    if (y + frame.height() > area.y() + area.height())
        y = area.y() + area.height() - frame.height();
    if (y < area.top())
        y = area.top();
    return {x, y};
}

QPoint centredOnPointerScreen(QSize frame, QPoint pointer, const QList<ScreenArea>& screens, int primary)
{
    const auto screen = screenAt(screens, pointer, primary);
    if (!screen)
        return pointer;
    const QRect& area = screen->available;
    const QPoint origin(area.x() + (area.width() - frame.width()) / 2,
                        area.y() + (area.height() - frame.height()) / 2);
    return clampInto(QRect(origin, frame), area);
}

QPoint forHotKey(const QString& position, QSize frame, QPoint pointer, std::optional<QPoint> last,
                 const QList<ScreenArea>& screens, int primary)
{
    if (position == QLatin1String("center"))
        return centredOnPointerScreen(frame, pointer, screens, primary);

    if (position == QLatin1String("lastPosition")) {
        if (!last || last->isNull())
            return centredOnPointerScreen(frame, pointer, screens, primary);
        const QRect stored(*last, frame);
        const ScreenArea* best = nullptr;
        qint64 bestOverlap = 0;
        for (const ScreenArea& screen : screens) {
            if (const qint64 o = overlap(stored, screen.available); o > bestOverlap) {
                best = &screen;
                bestOverlap = o;
            }
        }
        // A screen that was unplugged or rearranged since the popup closed there.
        if (!best)
            return centredOnPointerScreen(frame, pointer, screens, primary);
        return clampInto(stored, best->available);
    }

    const auto screen = screenAt(screens, pointer, primary);
    if (!screen)
        return pointer;
    return clampInto(QRect(pointer, frame), screen->available);
}

Fitted fitOnScreen(QSize frame, const std::function<QPoint(QSize)>& place, const QList<ScreenArea>& screens,
                   int primary)
{
    const QPoint origin = place(frame);
    const auto screen = screenAt(screens, QPoint(origin.x() + frame.width() / 2, origin.y()), primary);
    if (!screen || screen->available.isEmpty())
        return {origin, frame};
    const QSize fitted = frame.boundedTo(screen->available.size());
    if (fitted == frame)
        return {origin, frame};
    return {place(fitted), fitted};
}

QPoint besideAnchor(const QRect& anchor, QSize frame, QPoint pointer, const QList<ScreenArea>& screens,
                    int primary)
{
    const QRect icon = anchor.isEmpty() ? QRect(pointer, QSize(1, 1)) : anchor;
    const auto screen = screenAt(screens, icon.center(), primary);
    const QPoint below(icon.center().x() - frame.width() / 2, icon.y() + icon.height());
    if (!screen)
        return below;

    // The tray sits on the screen edge nearest to its icon; open away from that edge.
    const QRect& g = screen->geometry;
    const int toTop = icon.top() - g.top();
    const int toBottom = g.bottom() - icon.bottom();
    const int toLeft = icon.left() - g.left();
    const int toRight = g.right() - icon.right();
    const int nearest = std::min({toTop, toBottom, toLeft, toRight});

    QPoint origin = below;
    if (nearest == toTop)
        origin = below;
    else if (nearest == toBottom)
        origin = {below.x(), icon.y() - frame.height()};
    else if (nearest == toLeft)
        origin = {icon.x() + icon.width(), icon.y()};
    else
        origin = {icon.x() - frame.width(), icon.y()};
    return clampInto(QRect(origin, frame), screen->available);
}

bool pointerPositionKnown() { return !QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

QString honouredHotKeyPosition(const QString& position, bool pointerKnown)
{
    if (pointerKnown || position == QLatin1String("center") || position == QLatin1String("lastPosition"))
        return position;
    return QStringLiteral("center");
}

QList<ScreenArea> currentScreens()
{
    QList<ScreenArea> screens;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary)
        screens.append({primary->geometry(), primary->availableGeometry()});
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary)
            screens.append({screen->geometry(), screen->availableGeometry()});
    }
    return screens;
}

} // namespace lumra::PopupPlacement
