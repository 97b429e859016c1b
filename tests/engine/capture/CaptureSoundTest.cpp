#include "CaptureFixture.h"

#include "model/NotificationCenter.h"
#include "platform/sound/SoundPlayer.h"

namespace lumra::test {
namespace {

// The real engine, hooks included: a stored copy sounds and counts toward the reminder.
class CaptureSoundTest : public CaptureTest {
protected:
    void startPlain()
    {
        plain = EngineHarness::start([this](ClipboardManagerServices& services) {
            services.pasteboard = &pasteboard;
            services.workspace = &workspace;
            services.soundPlayer = &sounds;
        });
    }
    void copyPlain(const QString& text) { copyInto(*plain, {textRep(text)}); }

    std::unique_ptr<ClipboardManager> plain;
};

TEST_F(CaptureSoundTest, AStoredCopyPlaysTheChosenSoundAndCountsForTheReminder)
{
    defaults->set("copySoundOption", "Pop");
    defaults->set("reminderThreshold", 3);
    startPlain();
    QObject context;
    int reminders = 0;
    NotificationCenter::defaultCenter().observe(Notifications::showCopyReminder, &context,
                                                [&](const QVariantMap&) { ++reminders; });
    copyPlain("first");
    copyPlain("second");
    EXPECT_EQ(sounds.played, QStringList({"stored:Pop", "stored:Pop"}));
    EXPECT_EQ(plain->recentCopyTimestamps().size(), 2);
    EXPECT_EQ(reminders, 0);
    copyPlain("third");
    EXPECT_EQ(reminders, 1);
}

TEST_F(CaptureSoundTest, NoSoundWhenTheCopyIsNotStored)
{
    defaults->set("copySoundOption", "Pop");
    startPlain();
    plain->pause();
    copyPlain("while paused");
    EXPECT_TRUE(sounds.played.isEmpty());
}

} // namespace
} // namespace lumra::test
