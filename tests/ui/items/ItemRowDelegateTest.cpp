#include "ui/items/ItemRowDelegate.h"

#include "engine/ItemMedia.h"
#include "ui/popup/ContentViewState.h"
#include "ui/popup/HistoryListModel.h"
#include "ui/popup/HistoryListView.h"

#include "EngineFixture.h"
#include "Screenshots.h"

#include "platform/image/ImageDecoding.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

namespace lumra {
namespace {

// A limited text's last line keeps its own words: the lines after a break are not pulled up into it.
TEST(ItemRowDelegate, TheLastShownLineKeepsOnlyItsOwnText)
{
    const QFontMetricsF metrics{QFont()};
    const QChar br = QChar::LineSeparator;
    const QString ellipsis(QChar(0x2026));
    const qreal wide = 400;
    EXPECT_EQ(lastShownLine(QStringLiteral("third") + br + QStringLiteral("fourth") + br + QStringLiteral("fifth"), metrics, wide),
              QStringLiteral("third") + ellipsis);

    const QString longLine = QStringLiteral("a third line that is far too long for the narrow row it is shown in");
    const QString cut = lastShownLine(longLine + br + QStringLiteral("fourth"), metrics, 120);
    EXPECT_TRUE(cut.endsWith(ellipsis)) << cut.toStdString();
    EXPECT_TRUE(longLine.startsWith(cut.chopped(1))) << cut.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(cut), 120);

    // A wrapped paragraph with no break after it is simply cut at the width.
    const QString wrapped = lastShownLine(longLine, metrics, 120);
    EXPECT_TRUE(wrapped.endsWith(ellipsis));
    EXPECT_LE(metrics.horizontalAdvance(wrapped), 120);
}

TEST(ItemRowDelegate, TheHighlightEasesInAndOutOverHalfASecond)
{
    using ms = std::chrono::milliseconds;
    struct Case {
        double from;
        bool in;
        int elapsed;
        double level;
    };
    for (const Case& c : {Case{0, true, 0, 0}, Case{0, true, 125, 0.125}, Case{0, true, 250, 0.5}, Case{0, true, 500, 1},
                          Case{0, true, 900, 1}, Case{1, false, 250, 0.5}, Case{1, false, 500, 0}, Case{0.5, true, 500, 1},
                          Case{0.5, false, 250, 0.25}})
        EXPECT_NEAR(highlightFadeLevel(c.from, c.in, ms(c.elapsed)), c.level, 1e-9) << c.from << " " << c.in << " " << c.elapsed;
}

class ItemRowDelegateFade : public test::EngineTest {};

// "Take Me There" lights its row gradually and lets it go the same way, never at a blink.
TEST_F(ItemRowDelegateFade, TheRowHighlightFadesWithTheClock)
{
    auto manager = start();
    ContentViewState state;
    ItemRowDelegate delegate(*manager, state);
    int repaints = 0;
    QObject::connect(&delegate, &ItemRowDelegate::repaintNeeded, [&] { ++repaints; });
    const QUuid id = QUuid::createUuid();

    state.setHighlightedItemId(id);
    EXPECT_EQ(delegate.highlightLevel(id), 0);
    clock.advance(std::chrono::milliseconds(250));
    EXPECT_NEAR(delegate.highlightLevel(id), 0.5, 0.01);
    EXPECT_GT(repaints, 5);
    clock.advance(std::chrono::milliseconds(300));
    EXPECT_EQ(delegate.highlightLevel(id), 1);
    EXPECT_EQ(delegate.highlightLevel(QUuid::createUuid()), 0);

    state.setHighlightedItemId(std::nullopt);
    EXPECT_EQ(delegate.highlightLevel(id), 1);
    clock.advance(std::chrono::milliseconds(250));
    EXPECT_NEAR(delegate.highlightLevel(id), 0.5, 0.01);
    clock.advance(std::chrono::milliseconds(300));
    EXPECT_EQ(delegate.highlightLevel(id), 0);
}

class ItemRowLayout : public test::EngineTest {
protected:
    // Texts of one to forty words: some of them end just at the edge of a row, where one more
    // pixel of width decides between one line and two.
    static QList<ClipboardItem> growingTexts(const QDateTime& now)
    {
        QList<ClipboardItem> items;
        QString text;
        for (int words = 1; words <= 40; ++words) {
            text += (words > 1 ? QStringLiteral(" ") : QString()) + QStringLiteral("word%1").arg(words % 7);
            items << test::textItem(text, now.addSecs(-words));
        }
        return items;
    }
};

// Each row is as high as its text laid out at the width it is painted at, so no row runs into the
// next, whether or not the scroll bar takes its share of the width.
TEST_F(ItemRowLayout, EveryRowIsLaidOutAtTheWidthItIsPaintedAt)
{
    auto manager = start();
    manager->setClipboardItems(growingTexts(clock.now()));
    ContentViewState state;
    for (int width : {300, 320, 333, 280}) {
        HistoryListView view(*manager, state);
        view.historyModel()->resetWindow();
        view.resize(width, 400);
        view.show();
        QTest::qWait(250); // past the list's delayed layout
        ASSERT_TRUE(view.verticalScrollBar()->isVisible());
        const HistoryListModel& model = *view.historyModel();
        QRect previous;
        int rows = 0;
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.kindOf(row) != HistoryListModel::RowKind::item)
                continue;
            const QRect rect = view.visualRect(model.index(row));
            const RowGeometry g = ItemRowDelegate::layout(model.facts(row), model.settings(), view.font(), rect.width());
            EXPECT_EQ(rect.height(), g.height) << "width " << width << ", row " << row << ": " << g.textLines << " lines";
            EXPECT_LE(rect.width(), view.viewport()->width()) << "rows are never wider than the list";
            if (!previous.isNull())
                EXPECT_LE(previous.bottom(), rect.top()) << "width " << width << ", row " << row;
            previous = rect;
            ++rows;
        }
        EXPECT_GE(rows, 10);
        if (width == 300)
            test::saveArtifact(view, QStringLiteral("rows-wrapping"));
    }
}

// A labelled picture with thin stripes and large text, which shows any blur once it is made small.
QByteArray labelledPicture(QSize size, const QColor& colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QPainter painter(&image);
    painter.setPen(QPen(Qt::white, size.height() / 60.0));
    for (int x = 0; x < size.width(); x += size.height() / 8)
        painter.drawLine(x, 0, x + size.height() / 2, size.height());
    QFont font = painter.font();
    font.setPixelSize(std::min(size.width(), size.height()) / 7);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("%1 × %2").arg(size.width()).arg(size.height()));
    painter.end();
    return image::encodePng(image).value();
}

// Image rows get thumbnails decoded at the device pixels they are painted in, at pixel ratio 1 and
// 2: a picture's whole size, or the quality's larger one, would sit in memory for every row.
TEST_F(ItemRowLayout, ImageRowsGetThumbnailsOfTheSizeTheyArePaintedAt)
{
    auto manager = start();
    const QSize sizes[] = { QSize(1920, 1080), QSize(1080, 1920), QSize(4000, 500) };
    const QColor colours[] = { QColor(40, 90, 200), QColor(30, 160, 90), QColor(200, 60, 120) };
    for (int i = 0; i < 3; ++i) {
        ClipboardItem picture;
        picture.contentType = ClipboardContentType::image;
        picture.imageFileName = QStringLiteral("picture%1.png").arg(i);
        picture.dateAdded = clock.now().addSecs(-i - 1);
        test::insertItem(*manager, picture, test::withImageData(labelledPicture(sizes[i], colours[i])));
    }
    ContentViewState state;
    HistoryListView view(*manager, state);
    view.historyModel()->resetWindow();
    view.resize(360, 560);
    view.show();
    QTest::qWait(250);
    const HistoryListModel& model = *view.historyModel();
    ASSERT_EQ(model.itemRowCount(), 3);

    for (const qreal ratio : { 1.0, 2.0 }) {
        // The rows painted into a picture of that ratio, as on a screen of that ratio.
        const auto paint = [&] {
            QImage shot(view.viewport()->size() * ratio, QImage::Format_ARGB32_Premultiplied);
            shot.setDevicePixelRatio(ratio);
            shot.fill(view.palette().color(QPalette::Base));
            QPainter painter(&shot);
            for (int row = 0; row < model.rowCount(); ++row) {
                QStyleOptionViewItem option;
                option.initFrom(view.viewport());
                option.rect = view.visualRect(model.index(row));
                view.rowDelegate()->paint(&painter, option, model.index(row));
            }
            return shot;
        };
        // What each row paints its picture in, in device pixels.
        const auto expected = [&](int row, QSize stored) {
            const QRect rect = view.visualRect(model.index(row));
            const RowGeometry g = ItemRowDelegate::layout(model.facts(row), model.settings(), view.font(), rect.width());
            const QSizeF box(g.content.width() * ratio, model.facts(row).imageHeight * ratio);
            return QSizeF(stored).scaled(box, Qt::KeepAspectRatio);
        };
        const auto fits = [&](int row, QSize stored) {
            const auto thumb = manager->media().thumbnail(*model.itemAt(row), model.facts(row).imageHeight);
            const QSizeF wanted = expected(row, stored);
            return thumb && std::abs(thumb->width() - wanted.width()) <= 1 && std::abs(thumb->height() - wanted.height()) <= 1;
        };
        QImage shot;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            shot = paint();
            return fits(0, sizes[0]) && fits(1, sizes[1]) && fits(2, sizes[2]);
        }, 10000)) << "ratio " << ratio;
        for (int row = 0; row < 3; ++row) {
            const auto thumb = manager->media().thumbnail(*model.itemAt(row), model.facts(row).imageHeight);
            ASSERT_TRUE(thumb);
            const QSizeF wanted = expected(row, sizes[row]);
            EXPECT_NEAR(thumb->width(), wanted.width(), 1) << "ratio " << ratio << ", row " << row;
            EXPECT_NEAR(thumb->height(), wanted.height(), 1) << "ratio " << ratio << ", row " << row;
        }
        EXPECT_EQ(manager->media().thumbnail(*model.itemAt(0), 120)->size(), ratio == 1 ? QSize(214, 120) : QSize(427, 240));
        test::saveArtifact(shot, QStringLiteral("rows-images-ratio%1").arg(int(ratio)));
    }
}

// Hebrew and Arabic rows start at the right edge of the text column; Latin ones at the left.
TEST_F(ItemRowLayout, RightToLeftTextsAlignRight)
{
    EXPECT_EQ(textDirection(QStringLiteral("\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD")), Qt::RightToLeft);
    EXPECT_EQ(textDirection(QStringLiteral("123 \u0645\u0631\u062D\u0628\u0627")), Qt::RightToLeft) << "digits have no side";
    EXPECT_EQ(textDirection(QStringLiteral("Hello \u05E9\u05DC\u05D5\u05DD")), Qt::LeftToRight);

    auto manager = start();
    const QString hebrew = QStringLiteral("\u05E9\u05DC\u05D5\u05DD");
    const QString arabic = QStringLiteral("\u0645\u0631\u062D\u0628\u0627 \u0628\u0643\u0645");
    // A long Arabic text too, whose last shown line is cut with an ellipsis.
    QString longArabic;
    for (int i = 0; i < 60; ++i)
        longArabic += arabic + QLatin1Char(' ');
    manager->setClipboardItems({test::textItem(QStringLiteral("Hello"), clock.now().addSecs(-1)),
                                test::textItem(hebrew, clock.now().addSecs(-2)),
                                test::textItem(longArabic, clock.now().addSecs(-3))});
    ContentViewState state;
    HistoryListView view(*manager, state);
    view.historyModel()->resetWindow();
    view.resize(320, 400);
    view.show();
    QTest::qWait(250);
    const HistoryListModel& model = *view.historyModel();
    QImage picture(view.viewport()->size(), QImage::Format_ARGB32);
    picture.fill(Qt::white);
    view.viewport()->render(&picture);
    test::saveArtifact(view, QStringLiteral("rows-right-to-left"));

    // Where the ink of each row's first text line begins and ends, within the text column.
    const auto inkSpan = [&](int row) {
        const QRect rect = view.visualRect(model.index(row));
        const RowGeometry g = ItemRowDelegate::layout(model.facts(row), model.settings(), view.font(), rect.width());
        const QRect line = g.content.translated(rect.topLeft()).adjusted(0, 0, 0, -g.content.height() + g.content.height() / g.textLines);
        int left = line.right(), right = line.left();
        for (int y = line.top(); y <= line.bottom(); ++y)
            for (int x = line.left(); x <= line.right(); ++x)
                if (qGray(picture.pixel(x, y)) < 128) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        return std::pair {left - line.left(), line.right() - right};
    };
    const auto [latinLeft, latinRight] = inkSpan(0);
    EXPECT_LT(latinLeft, 4);
    EXPECT_GT(latinRight, 100);
    for (int row : {1, 2}) {
        const auto [left, right] = inkSpan(row);
        EXPECT_LT(right, 4) << "row " << row << " starts at the right edge";
        if (row == 1)
            EXPECT_GT(left, 100) << "a short text leaves the left side empty";
    }
}

} // namespace
} // namespace lumra
