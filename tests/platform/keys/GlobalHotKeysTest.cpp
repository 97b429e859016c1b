#include "platform/keys/FakeGlobalHotKeys.h"

#include "platform/keys/KeyCodes.h"
#include "platform/keys/RecordingKeyInjector.h"
#include "platform/keys/X11KeyInjector.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using lumra::FakeGlobalHotKeys;
using HotKey = lumra::GlobalHotKeys::HotKey;

namespace {

constexpr quint16 kV = 9, kOne = 18, kTwo = 19;
constexpr quint64 kCtrl = lumra::KeyCodes::commandFlag, kAlt = lumra::KeyCodes::optionFlag;
constexpr quint64 kCapsLock = 0x10000;

class GlobalHotKeysTest : public ::testing::Test {
protected:
    FakeGlobalHotKeys hotKeys;
    QSignalSpy spy { &hotKeys, &lumra::GlobalHotKeys::activated };

    QList<quint32> firedIds() const
    {
        QList<quint32> ids;
        for (const QList<QVariant>& args : spy)
            ids << args.at(0).toUInt();
        return ids;
    }
};

} // namespace

TEST_F(GlobalHotKeysTest, PressOfARegisteredKeyReportsItsIdAndTime)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kV, kCtrl | kAlt | kCapsLock | 0x200000).ok());
    ASSERT_TRUE(hotKeys.registerHotKey(200, kOne, kCtrl).ok());
    EXPECT_EQ(hotKeys.hotKey(1), (HotKey { kV, kCtrl | kAlt }));

    EXPECT_TRUE(hotKeys.press(kOne, kCtrl, 4242));
    EXPECT_TRUE(hotKeys.press(kV, kCtrl | kAlt | kCapsLock, 4343));
    EXPECT_FALSE(hotKeys.press(kV, kCtrl, 4444));

    EXPECT_EQ(firedIds(), (QList<quint32> { 200, 1 }));
    EXPECT_EQ(hotKeys.lastActivationTime(), 4343u);
}

TEST_F(GlobalHotKeysTest, RefusesWhatCannotBeAGlobalShortcut)
{
    const struct {
        quint16 keyCode;
        quint64 modifiers;
    } refused[] = {
        { kV, 0 }, // would take every V typed
        { kV, lumra::KeyCodes::shiftFlag }, // and every capital V
        { kV, lumra::KeyCodes::shiftFlag | kCapsLock },
        { 10, kCtrl }, // no such key on the US layout
        { 0xFFFF, kCtrl },
    };
    for (const auto& key : refused) {
        const lumra::Status status = hotKeys.registerHotKey(1, key.keyCode, key.modifiers);
        EXPECT_FALSE(status.ok()) << key.keyCode << " " << key.modifiers;
        EXPECT_TRUE(status.error().startsWith("Could not register global shortcut")) << status.error().toStdString();
    }
    EXPECT_FALSE(hotKeys.isRegistered(1));
    EXPECT_TRUE(hotKeys.grabbed().isEmpty());
}

TEST_F(GlobalHotKeysTest, FirstRegistrationOfACombinationStaysLive)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kOne, kCtrl).ok());
    EXPECT_FALSE(hotKeys.registerHotKey(200, kOne, kCtrl | kCapsLock).ok());
    EXPECT_TRUE(hotKeys.registerHotKey(201, kTwo, kCtrl).ok());

    EXPECT_FALSE(hotKeys.isRegistered(200));
    hotKeys.press(kOne, kCtrl);
    hotKeys.press(kTwo, kCtrl);
    EXPECT_EQ(firedIds(), (QList<quint32> { 1, 201 }));
}

TEST_F(GlobalHotKeysTest, CombinationHeldByAnotherApplicationIsReported)
{
    hotKeys.setTakenElsewhere(kV, kCtrl | kAlt);
    const lumra::Status status = hotKeys.registerHotKey(1, kV, kCtrl | kAlt);
    ASSERT_FALSE(status.ok());
    EXPECT_TRUE(status.error().startsWith("Could not register global shortcut"));
    EXPECT_FALSE(hotKeys.isRegistered(1));
    EXPECT_FALSE(hotKeys.press(kV, kCtrl | kAlt));
}

TEST_F(GlobalHotKeysTest, RegisteringAnIdAgainReplacesItsKey)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kV, kCtrl | kAlt).ok());
    ASSERT_TRUE(hotKeys.registerHotKey(1, kOne, kCtrl).ok());
    EXPECT_EQ(hotKeys.grabbed(), (QList<HotKey> { { kOne, kCtrl } }));
    EXPECT_FALSE(hotKeys.press(kV, kCtrl | kAlt));
    // The old combination is free for another id.
    EXPECT_TRUE(hotKeys.registerHotKey(2, kV, kCtrl | kAlt).ok());
}

TEST_F(GlobalHotKeysTest, UnregisteringReleasesTheGrab)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kV, kCtrl | kAlt).ok());
    ASSERT_TRUE(hotKeys.registerHotKey(100, kOne, kAlt).ok());
    hotKeys.unregisterHotKey(1);
    EXPECT_EQ(hotKeys.grabbed(), (QList<HotKey> { { kOne, kAlt } }));
    hotKeys.unregisterAll();
    EXPECT_TRUE(hotKeys.grabbed().isEmpty());
    EXPECT_TRUE(hotKeys.registeredIds().isEmpty());
    EXPECT_FALSE(hotKeys.press(kOne, kAlt));
    hotKeys.unregisterHotKey(7); // unknown ids are harmless
}

TEST_F(GlobalHotKeysTest, SuspendingFreesTheKeysAndResumePutsThemBack)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kV, kCtrl | kAlt).ok());
    ASSERT_TRUE(hotKeys.registerHotKey(200, kOne, kCtrl).ok());

    hotKeys.suspend();
    hotKeys.suspend();
    EXPECT_TRUE(hotKeys.grabbed().isEmpty());
    EXPECT_FALSE(hotKeys.press(kV, kCtrl | kAlt));
    ASSERT_TRUE(hotKeys.registerHotKey(201, kTwo, kCtrl).ok());
    EXPECT_TRUE(hotKeys.grabbed().isEmpty());

    EXPECT_TRUE(hotKeys.resume().ok());
    EXPECT_TRUE(hotKeys.resume().ok());
    EXPECT_EQ(hotKeys.grabbed().size(), 3);
    hotKeys.press(kV, kCtrl | kAlt);
    hotKeys.press(kTwo, kCtrl);
    EXPECT_EQ(firedIds(), (QList<quint32> { 1, 201 }));
}

TEST_F(GlobalHotKeysTest, KeyTakenWhileSuspendedIsDroppedOnResume)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kV, kCtrl | kAlt).ok());
    ASSERT_TRUE(hotKeys.registerHotKey(200, kOne, kCtrl).ok());
    hotKeys.suspend();
    hotKeys.setTakenElsewhere(kOne, kCtrl);

    const lumra::Status status = hotKeys.resume();
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.error().startsWith("Could not register global shortcut"));
    EXPECT_EQ(hotKeys.registeredIds(), (QList<quint32> { 1 }));
    EXPECT_TRUE(hotKeys.press(kV, kCtrl | kAlt));
}

TEST(KeyInjector, MissingXServerOrXTestIsReportedNotIgnored)
{
    lumra::X11KeyInjector injector(nullptr);
    EXPECT_FALSE(injector.canPost());
    EXPECT_FALSE(injector.postPaste().ok());

    lumra::RecordingKeyInjector recording;
    recording.setCanPost(false);
    EXPECT_FALSE(recording.postPaste().ok());
    EXPECT_EQ(recording.pasteCount(), 0);
}
