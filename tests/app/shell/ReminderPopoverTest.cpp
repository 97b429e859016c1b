#include "app/ReminderPopover.h"

#include "ManualClockScope.h"
#include "Screenshots.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace lumra {
namespace {

using namespace std::chrono_literals;

TEST(ReminderPopoverTest, MessageCountsClipsWithTheLocalesGrouping)
{
    struct Row { int count; QLocale locale; QString expected; };
    const Row rows[] = {
        {1, QLocale(QLocale::English, QLocale::UnitedStates), "You have 1 clip saved! Tap to Browse."},
        {0, QLocale(QLocale::English, QLocale::UnitedStates), "You have 0 clips saved! Tap to Browse."},
        {1234, QLocale(QLocale::English, QLocale::UnitedStates), "You have 1,234 clips saved! Tap to Browse."},
        {1234567, QLocale(QLocale::German, QLocale::Germany), "You have 1.234.567 clips saved! Tap to Browse."},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ReminderPopover::reminderMessage(row.count, row.locale), row.expected);

    QLocale noGrouping(QLocale::English, QLocale::UnitedStates);
    noGrouping.setNumberOptions(QLocale::OmitGroupSeparator);
    EXPECT_EQ(ReminderPopover::reminderMessage(2500, noGrouping), "You have 2,500 clips saved! Tap to Browse.");
}

TEST(ReminderPopoverTest, ShowsBesideATrayOnX11AndAsANotificationOnWaylandWithOrWithoutATray)
{
    using Form = ReminderPopover::Form;
    EXPECT_EQ(ReminderPopover::formFor(false, QStringLiteral("xcb")), Form::none);
    EXPECT_EQ(ReminderPopover::formFor(false, QStringLiteral("wayland")), Form::notification);
    EXPECT_EQ(ReminderPopover::formFor(true, QStringLiteral("xcb")), Form::bubble);
    EXPECT_EQ(ReminderPopover::formFor(true, QStringLiteral("wayland")), Form::notification);
    EXPECT_EQ(ReminderPopover::formFor(true, QStringLiteral("wayland-egl")), Form::notification);
}

class ReminderPopoverBehaviourTest : public ::testing::Test {
protected:
    test::ManualClockScope clock;
};

TEST_F(ReminderPopoverBehaviourTest, ClosesTenSecondsAfterItWasShown)
{
    QPointer<ReminderPopover> popover = new ReminderPopover(3);
    popover->showNear(QRect(100, 0, 24, 24), QPoint());
    EXPECT_EQ(popover->size(), QSize(260, 80));
    EXPECT_EQ(popover->messageText(), "You have 3 clips saved! Tap to Browse.");
    EXPECT_TRUE(popover->testAttribute(Qt::WA_ShowWithoutActivating));
    test::saveArtifact(*popover, QStringLiteral("reminder-bubble"));

    clock.clock.advance(9999ms);
    EXPECT_TRUE(popover->isVisible());
    clock.clock.advance(1ms);
    EXPECT_FALSE(popover->isVisible());
    delete popover.data();
}

TEST_F(ReminderPopoverBehaviourTest, EachReminderKeepsItsOwnTenSeconds)
{
    QPointer<ReminderPopover> first = new ReminderPopover(1);
    first->showNear(QRect(), QPoint(10, 10));
    clock.clock.advance(6s);
    first->close();
    QPointer<ReminderPopover> second = new ReminderPopover(2);
    second->showNear(QRect(), QPoint(10, 10));

    clock.clock.advance(4s); // the first one's ten seconds are over
    EXPECT_TRUE(second->isVisible());
    clock.clock.advance(6s);
    EXPECT_FALSE(second->isVisible());
    delete first.data();
    delete second.data();
}

TEST_F(ReminderPopoverBehaviourTest, ClickAsksForThePopupAndCloses)
{
    QPointer<ReminderPopover> popover = new ReminderPopover(5);
    popover->showNear(QRect(), QPoint(300, 300));
    QSignalSpy tapped(popover.data(), &ReminderPopover::tapped);
    QSignalSpy snoozed(popover.data(), &ReminderPopover::doNotDisturb);
    QTest::mouseClick(popover.data(), Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(tapped.count(), 1);
    EXPECT_EQ(snoozed.count(), 0);
    EXPECT_FALSE(popover->isVisible());
    delete popover.data();
}

TEST_F(ReminderPopoverBehaviourTest, DoNotDisturbSnoozesWithoutOpeningThePopup)
{
    QPointer<ReminderPopover> popover = new ReminderPopover(5);
    popover->showNear(QRect(), QPoint(300, 300));
    QSignalSpy tapped(popover.data(), &ReminderPopover::tapped);
    QSignalSpy snoozed(popover.data(), &ReminderPopover::doNotDisturb);
    auto* button = popover->findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Do not Disturb");
    button->click();
    EXPECT_EQ(snoozed.count(), 1);
    EXPECT_EQ(tapped.count(), 0);
    EXPECT_FALSE(popover->isVisible());

    clock.clock.advance(20s); // the cancelled timer must not touch the closed bubble
    delete popover.data();
}

} // namespace
} // namespace lumra
