#include "ui/shell/PopupPanel.h"

#include "ManualClockScope.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QTest>

namespace lumra {
namespace {

using namespace std::chrono_literals;

class PopupPanelTest : public ::testing::Test {
protected:
    PopupPanelTest()
    {
        panel = new PopupPanel(QSize(400, 500));
        panel->setOnClose([this] { ++closeRuns; });
        other.setWindowTitle(QStringLiteral("another window"));
    }
    ~PopupPanelTest() override
    {
        delete panel.data();
        QApplication::setActiveWindow(nullptr);
    }

    void presentAndFocus()
    {
        panel->present(QPoint(50, 60));
        QApplication::setActiveWindow(panel);
        ASSERT_TRUE(panel->isActiveWindow());
    }
    void focusElsewhere()
    {
        other.show();
        QApplication::setActiveWindow(&other);
    }
    bool isOpen() const { return panel && panel->isVisible() && !panel->isClosed(); }

    test::ManualClockScope clock;
    QPointer<PopupPanel> panel;
    QWidget other;
    int closeRuns = 0;
};

TEST_F(PopupPanelTest, CloseIsIgnoredWhilePreventClose)
{
    presentAndFocus();
    panel->setPreventClose(true);
    EXPECT_FALSE(panel->close());
    EXPECT_TRUE(isOpen());
    EXPECT_EQ(closeRuns, 0);
    EXPECT_EQ(PopupPanel::findOpen(), panel);

    panel->setPreventClose(false);
    EXPECT_TRUE(panel->close());
    EXPECT_FALSE(isOpen());
    EXPECT_EQ(closeRuns, 1);
    EXPECT_EQ(PopupPanel::findOpen(), nullptr);
}

TEST_F(PopupPanelTest, HoldsNestAndTheLastOneEndingNeverClosesOrShows)
{
    presentAndFocus();
    auto outer = panel->hold();
    {
        auto inner = panel->hold();
        outer.release();
        EXPECT_FALSE(panel->close()) << "the inner hold still keeps the panel";
    }
    EXPECT_TRUE(isOpen()) << "ending the last hold does not close the panel by itself";
    EXPECT_TRUE(panel->close());

    PopupPanel::Hold late = panel ? panel->hold() : PopupPanel::Hold();
    late.release(); // a token of a closed panel ends quietly
    EXPECT_FALSE(isOpen());
}

TEST_F(PopupPanelTest, OnCloseRunsOnceWhateverClosesIt)
{
    presentAndFocus();
    panel->close();
    panel->close();
    EXPECT_EQ(closeRuns, 1);
}

TEST_F(PopupPanelTest, ClosingAPanelThatWasNeverShownStillReportsTheClose)
{
    panel->close();
    EXPECT_EQ(closeRuns, 1);
    EXPECT_EQ(PopupPanel::findOpen(), nullptr);
}

TEST_F(PopupPanelTest, LosingFocusClosesOnlyWhenNothingKeepsItOpen)
{
    struct Row {
        const char* name;
        bool preventClose, closesOnResignKey, keepWindowOpen, closes;
    };
    const Row rows[] = {
        {"default", false, true, false, true},
        {"prevent close", true, true, false, false},
        {"closesOnResignKey off", false, false, false, false},
        {"keep window open", false, true, true, false},
    };
    for (const Row& row : rows) {
        delete panel.data();
        panel = new PopupPanel(QSize(400, 500));
        closeRuns = 0;
        panel->setOnClose([this] { ++closeRuns; });
        panel->setPreventClose(row.preventClose);
        panel->setClosesOnResignKey(row.closesOnResignKey);
        panel->setKeepWindowOpen(row.keepWindowOpen);

        presentAndFocus();
        focusElsewhere();
        EXPECT_EQ(!isOpen(), row.closes) << row.name;
        EXPECT_EQ(closeRuns, row.closes ? 1 : 0) << row.name;
    }
}

TEST_F(PopupPanelTest, KeepWindowOpenIsReadAtTheMomentFocusIsLost)
{
    panel->setKeepWindowOpen(true);
    presentAndFocus();
    focusElsewhere();
    ASSERT_TRUE(isOpen());

    panel->setKeepWindowOpen(false);
    QApplication::setActiveWindow(panel);
    focusElsewhere();
    EXPECT_FALSE(isOpen());
}

TEST_F(PopupPanelTest, ABackgroundPanelThatNeverHadFocusStaysOpen)
{
    panel->present(QPoint(0, 0));
    focusElsewhere();
    EXPECT_TRUE(isOpen());
}

TEST_F(PopupPanelTest, FindOpenSkipsClosedPanels)
{
    presentAndFocus();
    auto* second = new PopupPanel(QSize(300, 300));
    panel->close();
    EXPECT_EQ(PopupPanel::findOpen(), second);
    delete second;
}

TEST_F(PopupPanelTest, UserResizeIsSavedOnceItSettles)
{
    QList<QSize> saved;
    panel->setSizeSaver([&](QSize size) { saved.append(size); });
    presentAndFocus();
    EXPECT_TRUE(saved.isEmpty()) << "opening is not a resize by the user";

    panel->resize(420, 520);
    clock.clock.advance(200ms);
    panel->resize(450, 560);
    clock.clock.advance(PopupPanel::resizeSettleDelay - 1ms);
    EXPECT_TRUE(saved.isEmpty());
    clock.clock.advance(1ms);
    EXPECT_EQ(saved, QList<QSize>{QSize(450, 560)});
}

TEST_F(PopupPanelTest, PendingSizeAndPositionAreSavedAtClose)
{
    QList<QSize> sizes;
    QList<QPoint> positions;
    panel->setSizeSaver([&](QSize size) { sizes.append(size); });
    panel->setPositionSaver([&](QPoint position) { positions.append(position); });
    presentAndFocus();
    panel->resize(500, 600);
    panel->move(70, 80);
    panel->close();
    EXPECT_EQ(sizes, QList<QSize>{QSize(500, 600)});
    EXPECT_EQ(positions, QList<QPoint>{QPoint(70, 80)});

    clock.clock.advance(1s);
    EXPECT_EQ(sizes.size(), 1) << "the debounced save does not fire again after the close";
}

TEST_F(PopupPanelTest, ARefusedCloseSavesNothing)
{
    QList<QPoint> positions;
    panel->setPositionSaver([&](QPoint position) { positions.append(position); });
    presentAndFocus();
    panel->setPreventClose(true);
    panel->close();
    EXPECT_TRUE(positions.isEmpty());
}

TEST_F(PopupPanelTest, ThePanelIsFramelessAndTellsItsContentAboutWindowButtons)
{
    presentAndFocus();
    QList<bool> told;
    QObject::connect(panel, &PopupPanel::windowButtonsChanged, panel, [&](bool shown) { told.append(shown); });
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::FramelessWindowHint));
    panel->setShowWindowButtons(false);
    panel->setShowWindowButtons(false);
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(told, QList<bool>{false});
    EXPECT_TRUE(isOpen());
    EXPECT_EQ(closeRuns, 0);
}

TEST_F(PopupPanelTest, EdgesResizeWithinTheLimitsAndTheBackgroundMoves)
{
    presentAndFocus();
    panel->resize(400, 500);
    const QPoint origin = panel->pos();
    // Offscreen there is no window manager to hand the drag to: the panel follows by hand.
    QWidget* corner = panel->childAt(panel->width() - 2, panel->height() - 2);
    ASSERT_NE(corner, nullptr);
    QTest::mousePress(corner, Qt::LeftButton, {}, QPoint(1, 1));
    QMouseEvent drag(QEvent::MouseMove, QPointF(1, 1), QPointF(corner->mapToGlobal(QPoint(1, 1)) + QPoint(5000, -5000)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(corner, &drag);
    QTest::mouseRelease(corner, Qt::LeftButton);
    EXPECT_EQ(panel->size(), QSize(1000, 300));
    EXPECT_EQ(panel->pos(), origin);

    QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(100, 100));
    QMouseEvent move(QEvent::MouseMove, QPointF(100, 100), QPointF(panel->mapToGlobal(QPoint(130, 90))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel, &move);
    QTest::mouseRelease(panel, Qt::LeftButton);
    EXPECT_EQ(panel->pos(), origin + QPoint(30, -10));
}

TEST_F(PopupPanelTest, AClickOnTheBackgroundKeepsItOpenAndAMoveByTheWindowManagerToo)
{
    // The window manager takes the move and the keyboard with it, as openbox does.
    int systemMoves = 0;
    panel->setSystemMoveStarter([&] {
        ++systemMoves;
        focusElsewhere();
        return true;
    });
    presentAndFocus();
    const QPoint origin = panel->pos();
    QTest::mouseClick(panel, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(systemMoves, 0);
    EXPECT_TRUE(isOpen());
    EXPECT_EQ(panel->pos(), origin);

    QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(100, 100));
    QMouseEvent move(QEvent::MouseMove, QPointF(100, 100), QPointF(panel->mapToGlobal(QPoint(130, 90))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel, &move);
    EXPECT_EQ(systemMoves, 1);
    EXPECT_TRUE(isOpen()) << "the focus the move took is not the user leaving";

    // The move ends and the focus comes back; leaving afterwards closes as before.
    QApplication::setActiveWindow(panel);
    EXPECT_TRUE(isOpen());
    focusElsewhere();
    EXPECT_FALSE(isOpen());
    EXPECT_EQ(closeRuns, 1);
}

TEST_F(PopupPanelTest, ContentWidgetIsReplacedAndOwned)
{
    QPointer<QLabel> first = new QLabel(QStringLiteral("first"));
    panel->setContentWidget(first);
    EXPECT_EQ(first->window(), panel.data());
    panel->setContentWidget(new QLabel(QStringLiteral("second")));
    EXPECT_TRUE(first.isNull());
}

} // namespace
} // namespace lumra
