#include "ui/items/ItemRowDelegate.h"

#include "ui/popup/ContentViewState.h"

#include "EngineFixture.h"

#include <QFontMetricsF>

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

} // namespace
} // namespace lumra
