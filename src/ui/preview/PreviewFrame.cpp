#include "ui/preview/PreviewFrame.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>

#include <algorithm>

namespace lumra::PreviewFrame {

namespace {
QRect centredOn(QSize size, const std::optional<QRect>& area)
{
    QRect frame(QPoint(-size.width() / 2, -size.height() / 2), size);
    if (area)
        frame.moveTopLeft(QPoint(area->x() + (area->width() - size.width()) / 2,
                                 area->y() + (area->height() - size.height()) / 2));
    return frame;
}
} // namespace

Screens Screens::current()
{
    Screens screens;
    for (QScreen* screen : QGuiApplication::screens())
        screens.available.append(screen->availableGeometry());
    if (QScreen* primary = QGuiApplication::primaryScreen())
        screens.main = primary->availableGeometry();
    return screens;
}

std::optional<QRect> previewWindowSize(int width, int height, const Screens& screens)
{
    if (width <= 0 || height <= 0)
        return std::nullopt;
    double w = width;
    double h = height + contentExtraHeight;
    if (screens.main) {
        const double maxW = screenShare * screens.main->width();
        const double maxH = screenShare * screens.main->height();
        if (w > maxW || h > maxH) {
            const double scale = std::min(maxW / w, maxH / h);
            w *= scale;
            h *= scale;
        }
    }
    const QSize size(std::max(qRound(w), minimumSize.width()), std::max(qRound(h), minimumSize.height()));
    return centredOn(size, screens.main);
}

QRect fitFrameToScreens(const QRect& frame, const QRect& fallback, const Screens& screens)
{
    std::optional<QRect> visible;
    for (const QRect& area : screens.available) {
        if (area.intersects(frame)) {
            visible = area;
            break;
        }
    }
    if (!visible)
        visible = screens.main;
    if (!visible)
        return fallback;
    const int width = std::min(frame.width(), visible->width());
    const int height = std::min(frame.height(), visible->height());
    int x = std::max(frame.x(), visible->x());
    int y = std::max(frame.y(), visible->y());
    if (x + width > visible->x() + visible->width())
        x = visible->x() + visible->width() - width;
    if (y + height > visible->y() + visible->height())
        y = visible->y() + visible->height() - height;
    return QRect(x, y, width, height);
}

QRect restoredPreviewWindowFrame(const std::optional<QString>& saved, const Screens& screens)
{
    const QRect fallback = centredOn(defaultSize, screens.main);
    if (saved) {
        if (const auto frame = parseFrameString(*saved);
            frame && frame->width() >= minimumSize.width() && frame->height() >= minimumSize.height())
            return fitFrameToScreens(*frame, fallback, screens);
    }
    return fallback;
}

QRect animationFrame(const QRect& frame)
{
    return frame.adjusted(animationInset / 2, animationInset / 2, -animationInset / 2, -animationInset / 2);
}

QString frameString(const QRect& frame)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height());
}

std::optional<QRect> parseFrameString(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\{\\{(-?\\d+), (-?\\d+)\\}, \\{(\\d+), (\\d+)\\}\\}$"));
    const auto match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    bool ok[4] = {};
    const QRect frame(match.captured(1).toInt(&ok[0]), match.captured(2).toInt(&ok[1]),
                      match.captured(3).toInt(&ok[2]), match.captured(4).toInt(&ok[3]));
    if (!(ok[0] && ok[1] && ok[2] && ok[3]))
        return std::nullopt;
    return frame;
}

QString commonParentFolder(const QList<QUrl>& urls)
{
    if (urls.isEmpty())
        return {};
    auto parentComponents = [](const QUrl& url) {
        QStringList parts = url.adjusted(QUrl::StripTrailingSlash).path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (!parts.isEmpty())
            parts.removeLast();
        return parts;
    };
    QStringList common = parentComponents(urls.first());
    for (qsizetype i = 1; i < urls.size() && !common.isEmpty(); ++i) {
        const QStringList parts = parentComponents(urls[i]);
        qsizetype shared = 0;
        while (shared < common.size() && shared < parts.size() && common[shared] == parts[shared])
            ++shared;
        common = common.mid(0, shared);
    }
    return QLatin1Char('/') + common.join(QLatin1Char('/'));
}

} // namespace lumra::PreviewFrame
