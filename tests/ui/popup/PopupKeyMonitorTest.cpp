#include "ui/popup/PopupKeyMonitor.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

using namespace lumra;

namespace {

constexpr quint64 shift = 0x20000, super = 0x40000, alt = 0x80000, ctrl = 0x100000;

} // namespace

TEST(PreviewKeyRulesTest, ModifierCombinationsBySetting)
{
    const struct {
        const char* setting;
        quint64 flags;
        bool matches;
    } cases[] = {
        {"option", alt, true},           {"option", alt | shift, false},        {"control", super, true},
        {"control", super | ctrl, false}, {"shiftCommand", shift | ctrl, true}, {"shiftCommand", ctrl, false},
        {"optionCommand", alt | ctrl | shift, true}, {"shiftOption", shift | alt, true},
        {"shiftControl", shift | super, true}, {"controlCommand", super | ctrl, true},
        {"nonsense", shift | ctrl, true}, {"spaceBar", shift | ctrl, false}, {"disabled", alt, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(previewModifiersMatch(QString::fromLatin1(c.setting), c.flags), c.matches)
            << c.setting << " " << c.flags;
    EXPECT_TRUE(isNavigationKey(Qt::Key_Down));
    EXPECT_TRUE(isNavigationKey(Qt::Key_F12));
    EXPECT_FALSE(isNavigationKey(Qt::Key_A));
}

TEST(PreviewKeyRulesTest, OnlyAQuickTapWithNoKeyBetweenToggles)
{
    const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1'000'000, Qt::UTC);
    const QString option = QStringLiteral("option");
    PreviewModifierTap tap;
    EXPECT_FALSE(tap.modifiersChanged(option, alt, t0));
    EXPECT_TRUE(tap.modifiersChanged(option, 0, t0.addMSecs(399)));

    EXPECT_FALSE(tap.modifiersChanged(option, alt, t0));
    EXPECT_FALSE(tap.modifiersChanged(option, 0, t0.addMSecs(500))); // held too long

    const QString shiftCommand = QStringLiteral("shiftCommand");
    EXPECT_FALSE(tap.modifiersChanged(shiftCommand, shift, t0));
    EXPECT_FALSE(tap.modifiersChanged(shiftCommand, shift | ctrl, t0.addMSecs(100)));
    tap.keyDown(); // Shift+Ctrl+K
    EXPECT_FALSE(tap.modifiersChanged(shiftCommand, shift, t0.addMSecs(150)));
}

TEST(PopupKeyMonitorTest, KeysOfOtherWindowsAreNeitherActedOnNorSwallowed)
{
    QWidget popup;
    auto* search = new QLineEdit(&popup);
    new QVBoxLayout(&popup);
    popup.layout()->addWidget(search);
    QWidget editor;
    auto* field = new QLineEdit(&editor);
    new QVBoxLayout(&editor);
    editor.layout()->addWidget(field);
    popup.show();
    editor.show();
    search->setFocus();
    field->setFocus();

    int toggles = 0;
    int deletes = 0;
    bool previewVisible = false;
    QDateTime now = QDateTime::fromMSecsSinceEpoch(1'000'000, Qt::UTC);
    QString setting = QStringLiteral("spaceBar");
    PopupKeyMonitor::Hooks hooks;
    hooks.previewShortcut = [&] { return setting; };
    hooks.isPreviewVisible = [&] { return previewVisible; };
    hooks.togglePreview = [&] { ++toggles; };
    hooks.hasCurrentItem = [] { return true; };
    hooks.selectedCount = [] { return 2; };
    hooks.confirmDeleteSelection = [&] { ++deletes; };
    hooks.now = [&] { return now; };
    PopupKeyMonitor monitor(&popup, hooks);

    // The editor: Space types, Delete deletes, a modifier tap does nothing.
    QTest::keyClicks(field, QStringLiteral("ab"));
    QTest::keyClick(field, Qt::Key_Space);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Space);
    previewVisible = true;
    QTest::keyClick(field, Qt::Key_Space);
    previewVisible = false;
    EXPECT_EQ(field->text(), QStringLiteral("ab  "));
    setting = QStringLiteral("option");
    QTest::keyPress(field, Qt::Key_Alt);
    QTest::keyRelease(field, Qt::Key_Alt);
    QCoreApplication::processEvents();
    EXPECT_EQ(toggles, 0);
    EXPECT_EQ(deletes, 0);

    // The popup: a tap toggles; Space after typing is a space, after Down it previews.
    QTest::keyPress(search, Qt::Key_Alt);
    now = now.addMSecs(100);
    QTest::keyRelease(search, Qt::Key_Alt);
    EXPECT_EQ(toggles, 1);
    setting = QStringLiteral("spaceBar");
    QTest::keyClick(search, Qt::Key_X);
    QTest::keyClick(search, Qt::Key_Space);
    EXPECT_EQ(search->text(), QStringLiteral("x "));
    EXPECT_EQ(toggles, 1);
    QTest::keyClick(search, Qt::Key_Down);
    QTest::keyClick(search, Qt::Key_Space);
    EXPECT_EQ(toggles, 2);
    EXPECT_EQ(search->text(), QStringLiteral("x "));
    QTest::keyClick(search, Qt::Key_Backspace); // two selected rows: the confirmation, nothing erased
    QCoreApplication::processEvents();
    EXPECT_EQ(deletes, 1);
    EXPECT_EQ(search->text(), QStringLiteral("x "));
}
