#include "PasteTestSupport.h"

#include "engine/CopyReminder.h"
#include "model/NotificationCenter.h"

#include <QTimeZone>

using namespace lumra;
using namespace std::chrono_literals;

namespace {

class ReminderTest : public test::PasteTest {
protected:
    void SetUp() override
    {
        PasteTest::SetUp();
        manager->setReminderThreshold(2);
        NotificationCenter::defaultCenter().observe(Notifications::showCopyReminder, &observer,
                                                    [this](const QVariantMap&) { ++reminders; });
    }

    void copy() { manager->reminder().countCopyForReminder(); }

    QObject observer;
    int reminders = 0;
};

} // namespace

TEST_F(ReminderTest, ABurstOfCopiesRemindsOnce)
{
    copy();
    clock.advance(30s);
    copy();
    EXPECT_EQ(reminders, 1);
    clock.advance(10s);
    copy();
    EXPECT_EQ(reminders, 1);
}

TEST_F(ReminderTest, CopiesMoreThanAMinuteApartNeverRemind)
{
    for (int i = 0; i < 4; ++i) {
        copy();
        clock.advance(61s);
    }
    EXPECT_EQ(reminders, 0);

    copy();
    clock.advance(60s);
    copy(); // exactly 60 s old still counts
    EXPECT_EQ(reminders, 1);
}

TEST_F(ReminderTest, ARecentPasteSuppressesTheReminder)
{
    struct Case {
        std::chrono::seconds pasteBeforeSecondCopy;
        int reminders;
    };
    for (const Case& c : {Case {50s, 0}, Case {70s, 1}}) {
        reminders = 0;
        clock.advance(10min);
        ASSERT_TRUE(test::copyToPasteboard(*manager, addText("pasted"), false));
        clock.advance(c.pasteBeforeSecondCopy - 5s);
        copy();
        clock.advance(5s);
        copy();
        EXPECT_EQ(reminders, c.reminders) << c.pasteBeforeSecondCopy.count();
    }
}

TEST_F(ReminderTest, TheBurstEndsAfterTwoMinutesOrAtAPaste)
{
    copy();
    copy();
    ASSERT_EQ(reminders, 1);
    clock.advance(119s);
    copy();
    copy();
    EXPECT_EQ(reminders, 1) << "still within the 120 s hold";
    clock.advance(1s);
    EXPECT_FALSE(manager->reminder().reminderShownForCurrentBurst());
    copy();
    copy();
    EXPECT_EQ(reminders, 2);

    ASSERT_TRUE(test::copyToPasteboard(*manager, addText("x"), false));
    EXPECT_FALSE(manager->reminder().reminderShownForCurrentBurst());
    EXPECT_TRUE(manager->reminder().recentCopyTimestamps().isEmpty());
}

TEST_F(ReminderTest, AnOlderHoldDoesNotCutANewerOneShort)
{
    copy();
    copy();
    ASSERT_EQ(reminders, 1);
    clock.advance(30s);
    ASSERT_TRUE(test::copyToPasteboard(*manager, addText("x"), false)); // ends the burst
    clock.advance(61s);
    copy();
    copy();
    ASSERT_EQ(reminders, 2);
    clock.advance(30s); // the first reminder's hold ends here
    EXPECT_TRUE(manager->reminder().reminderShownForCurrentBurst());
    copy();
    copy();
    EXPECT_EQ(reminders, 2);
}

TEST_F(ReminderTest, ThresholdZeroIsOff)
{
    manager->setReminderThreshold(0);
    for (int i = 0; i < 10; ++i)
        copy();
    EXPECT_EQ(reminders, 0);
    EXPECT_TRUE(manager->reminder().recentCopyTimestamps().isEmpty());
}

TEST_F(ReminderTest, SnoozeLastsUntilTheNextLocalMidnight)
{
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    manager->reminder().setReminderTimeZone(berlin);
    struct Case {
        QDateTime at;
        QDateTime until;
    };
    const Case cases[] = {
        {QDateTime(QDate(2026, 6, 10), QTime(23, 30), berlin), QDateTime(QDate(2026, 6, 11), QTime(0, 0), berlin)},
        {QDateTime(QDate(2026, 6, 10), QTime(0, 10), berlin), QDateTime(QDate(2026, 6, 11), QTime(0, 0), berlin)},
        // 25-hour day: clocks go back at 03:00 on 25 October 2026
        {QDateTime(QDate(2026, 10, 25), QTime(0, 10), berlin), QDateTime(QDate(2026, 10, 26), QTime(0, 0), berlin)},
        // 23-hour day: clocks go forward at 02:00 on 29 March 2026
        {QDateTime(QDate(2026, 3, 28), QTime(23, 30), berlin), QDateTime(QDate(2026, 3, 29), QTime(0, 0), berlin)},
        {QDateTime(QDate(2026, 3, 29), QTime(0, 10), berlin), QDateTime(QDate(2026, 3, 30), QTime(0, 0), berlin)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at.toString(Qt::ISODate).toStdString());
        clock.setNow(c.at.toUTC());
        reminders = 0;
        manager->reminder().snoozeReminder();
        EXPECT_EQ(manager->reminder().reminderSnoozedUntil(), c.until);
        EXPECT_EQ(defaults->date("reminderSnoozedUntil"), c.until) << "kept across restarts";

        clock.setNow(c.until.addSecs(-1).toUTC());
        copy();
        copy();
        EXPECT_EQ(reminders, 0);
        EXPECT_TRUE(manager->reminder().recentCopyTimestamps().isEmpty()) << "snoozed copies are not even recorded";
        clock.setNow(c.until.toUTC());
        copy();
        copy();
        EXPECT_EQ(reminders, 1);
        clock.advance(3min);
    }
}

// ------------------------------------------------------------------------------------------------ sound

TEST_F(ReminderTest, CopySoundPlaysTheChosenSound)
{
    struct Case {
        const char* option;
        QString path;
        QStringList played;
    };
    // The custom sound must be a file that is there.
    const QString ding = dataDir.root() + QStringLiteral("/ding.ogg");
    QFile sound(ding);
    ASSERT_TRUE(sound.open(QIODevice::WriteOnly));
    sound.write("OggS");
    sound.close();
    const Case cases[] = {
        {"Pop", "", {"stored:Pop"}},
        {"Tink", ding, {"stored:Tink"}},
        {"none", "", {}},
        {"custom", "", {}},
        {"custom", ding, {"file:" + ding}},
    };
    for (const Case& c : cases) {
        sounds.played.clear();
        manager->setCopySoundOption(c.option);
        manager->setCustomSoundPath(c.path);
        manager->reminder().playCopySoundNow();
        EXPECT_EQ(sounds.played, c.played) << c.option;
    }
}
