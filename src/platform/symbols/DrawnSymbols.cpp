#include "platform/symbols/DrawnSymbols.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace lumra::Symbols {

namespace {

const QColor ink(0x2e, 0x34, 0x36); // the symbolic themes' own grey; views tint it as they need
constexpr qreal line = 1.5;

// Painting on the 16-unit grid: `fill` draws solid, else as an outline.
struct Pen {
    QPainter& p;
    bool fill;

    void shape(const QPainterPath& path) const
    {
        if (fill)
            p.fillPath(path, ink);
        else
            p.strokePath(path, QPen(ink, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
    // Clears a band around `path`, so what is drawn next stands apart from what lies under it.
    void gap(const QPainterPath& path, qreal width = 1.2) const
    {
        p.save();
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.fillPath(path, Qt::transparent);
        p.strokePath(path, QPen(Qt::transparent, line + 2 * width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.restore();
    }
    void stroke(QPointF a, QPointF b, qreal width = line) const
    {
        p.setPen(QPen(ink, width, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(a, b);
    }
    void cutLine(QPointF a, QPointF b, qreal width = line) const
    {
        p.save();
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(Qt::transparent, width, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(a, b);
        p.restore();
    }
};

QPainterPath rounded(qreal x, qreal y, qreal w, qreal h, qreal r)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(x, y, w, h), r, r);
    return path;
}

QPainterPath polygon(std::initializer_list<QPointF> corners)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(corners)));
    path.closeSubpath();
    return path;
}

QPainterPath sheet(qreal x, qreal y, qreal w, qreal h)
{
    // A page with its top-right corner folded.
    const qreal fold = w * 0.35;
    return polygon({{x, y}, {x + w - fold, y}, {x + w, y + fold}, {x + w, y + h}, {x, y + h}});
}

// A board with its clip; `lines` writes a short list on it.
void clipboard(const Pen& pen, QRectF board, bool lines)
{
    pen.shape(rounded(board.x(), board.y(), board.width(), board.height(), 1.5));
    const QPainterPath clip = rounded(board.center().x() - 2.5, board.y() - 1.2, 5, 2.8, 0.8);
    pen.gap(clip, 0.9);
    pen.p.fillPath(clip, ink);
    if (!lines)
        return;
    for (int i = 0; i < 3; ++i) {
        const qreal y = board.y() + 4.5 + i * 2.8;
        const QPointF a(board.x() + 2.6, y), b(board.right() - 2.6, y);
        pen.fill ? pen.cutLine(a, b, 1.2) : pen.stroke(a, b, 1.2);
    }
}

void docOnClipboard(const Pen& pen)
{
    clipboard(pen, QRectF(1.5, 2.5, 9.5, 12), false);
    const QPainterPath page = sheet(7.5, 6.5, 7, 8.5);
    pen.gap(page);
    pen.shape(page);
}

void docOnDoc(const Pen& pen)
{
    pen.shape(sheet(1.5, 1.5, 8, 10));
    const QPainterPath front = sheet(6.5, 5, 8, 10);
    pen.gap(front);
    pen.shape(front);
}

void tray(const Pen& pen)
{
    pen.shape(polygon({{3.5, 2.5}, {12.5, 2.5}, {14.5, 9}, {14.5, 14}, {1.5, 14}, {1.5, 9}}));
    // The well of the tray, open at the top.
    QPainterPath well;
    well.moveTo(3.5, 9);
    well.lineTo(5.8, 9);
    well.quadTo(6.3, 11, 8, 11);
    well.quadTo(9.7, 11, 10.2, 9);
    well.lineTo(12.5, 9);
    pen.p.save();
    pen.p.setCompositionMode(QPainter::CompositionMode_Clear);
    pen.p.strokePath(well, QPen(Qt::transparent, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    pen.p.restore();
}

void cart(const Pen& pen)
{
    pen.shape(polygon({{3.5, 4}, {14.5, 4}, {13, 10}, {5, 10}}));
    pen.stroke(QPointF(0.8, 1.5), QPointF(3, 1.5));
    pen.stroke(QPointF(3, 1.5), QPointF(5, 10));
    pen.stroke(QPointF(5, 10), QPointF(13.5, 12));
    pen.p.setPen(Qt::NoPen);
    pen.p.setBrush(ink);
    pen.p.drawEllipse(QPointF(6, 14), 1.5, 1.5);
    pen.p.drawEllipse(QPointF(12.5, 14), 1.5, 1.5);
}

void gift(const Pen& pen)
{
    pen.shape(rounded(2.5, 8, 11, 6.5, 1));
    pen.shape(rounded(1.5, 5, 13, 3, 0.8));
    pen.fill ? pen.cutLine(QPointF(8, 5), QPointF(8, 14.5), 1.6) : pen.stroke(QPointF(8, 5), QPointF(8, 14.5));
    // The bow: two loops over the lid.
    QPainterPath bow;
    bow.moveTo(8, 5);
    bow.cubicTo(6, 0.5, 2.5, 2.5, 5, 4.6);
    bow.moveTo(8, 5);
    bow.cubicTo(10, 0.5, 13.5, 2.5, 11, 4.6);
    pen.p.strokePath(bow, QPen(ink, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void lightbulb(const Pen& pen)
{
    QPainterPath bulb;
    bulb.moveTo(5.5, 11);
    bulb.cubicTo(5.5, 9, 3, 8, 3, 5.8);
    bulb.cubicTo(3, 3, 5.3, 1, 8, 1);
    bulb.cubicTo(10.7, 1, 13, 3, 13, 5.8);
    bulb.cubicTo(13, 8, 10.5, 9, 10.5, 11);
    bulb.closeSubpath();
    pen.shape(bulb);
    pen.stroke(QPointF(5.8, 12.8), QPointF(10.2, 12.8));
    pen.stroke(QPointF(6.6, 14.8), QPointF(9.4, 14.8));
}

using Drawing = std::function<void(const Pen&)>;

const QHash<QString, std::pair<Drawing, bool>>& drawings()
{
    static const QHash<QString, std::pair<Drawing, bool>> table = {
        {"doc.on.clipboard.fill", {docOnClipboard, true}},
        {"doc.on.clipboard", {docOnClipboard, false}},
        {"clipboard.fill", {[](const Pen& p) { clipboard(p, QRectF(3, 2.5, 10, 12.5), false); }, true}},
        {"clipboard", {[](const Pen& p) { clipboard(p, QRectF(3, 2.5, 10, 12.5), false); }, false}},
        {"list.clipboard.fill", {[](const Pen& p) { clipboard(p, QRectF(3, 2.5, 10, 12.5), true); }, true}},
        {"list.clipboard", {[](const Pen& p) { clipboard(p, QRectF(3, 2.5, 10, 12.5), true); }, false}},
        {"doc.on.doc.fill", {docOnDoc, true}},
        {"doc.on.doc", {docOnDoc, false}},
        {"tray.fill", {tray, true}},
        {"cart.fill", {cart, true}},
        {"gift.fill", {gift, true}},
        {"lightbulb.fill", {lightbulb, true}},
        {"lightbulb", {lightbulb, false}},
    };
    return table;
}

} // namespace

QIcon drawnSymbol(const QString& symbolName)
{
    const auto it = drawings().constFind(symbolName);
    if (it == drawings().constEnd())
        return {};
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(side / 16.0, side / 16.0);
        it->first(Pen{painter, it->second});
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace lumra::Symbols
