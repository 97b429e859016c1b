#include "ui/settings/ShortcutsPage.h"

#include "engine/ClipboardManager.h"
#include "ui/items/ShortcutRecorder.h"

#include "SettingsPageFixture.h"

#include <QTest>
#include <QToolButton>

namespace lumra {
namespace {

using namespace lumra::test;

constexpr quint16 keyA = 0, keyB = 11, keyC = 8, keyV = 9, keyX = 7, key1 = 18;

TEST(ShortcutItemsTest, ListsItemsWithAShortcutOutsideTheBinInHistoryOrder)
{
    const auto item = [](const char* text, std::optional<ItemShortcut> shortcut, bool trashed) {
        ClipboardItem made = test::textItem(text, QDateTime::currentDateTimeUtc());
        made.shortcut = shortcut;
        made.isTrashed = trashed;
        return made;
    };
    const QList<ClipboardItem> items {item("b", ItemShortcut {keyB, ctrlAlt}, false), item("none", std::nullopt, false),
                                      item("binned", ItemShortcut {keyC, ctrlAlt}, true),
                                      item("a", ItemShortcut {keyA, ctrlAlt}, false)};
    QStringList listed;
    for (const ClipboardItem& listedItem : shortcutItems(items))
        listed.append(listedItem.textContent.value_or(QString()));
    EXPECT_EQ(listed, (QStringList {"b", "a"}));
}

class ShortcutsPageTest : public SettingsPageTest {
protected:
    void SetUp() override
    {
        first = textItem("first snippet", ItemShortcut {keyB, ctrlAlt});
        second = textItem("second snippet", ItemShortcut {keyC, ctrlAlt});
        storeItems(*manager, {first, second, textItem("in the bin", ItemShortcut {keyX, ctrlAlt}, true)});
        ASSERT_TRUE(manager->setQuickPasteModifier("command"));
        ASSERT_TRUE(hotKeys->registerAllHotKeys().ok());
        grabbedAtRest = keys.grabbed().size();
        window().present(SettingsTab::shortcuts);
        processEvents();
    }
    ShortcutsPage& shortcuts() { return page<ShortcutsPage>(SettingsTab::shortcuts); }
    ShortcutRecorder* recorder(const ClipboardItem& item) { return shortcuts().recorder(item.id); }
    std::optional<ItemShortcut> stored(const ClipboardItem& item)
    {
        for (const ClipboardItem& current : manager->clipboardItems()) {
            if (current.id == item.id)
                return current.shortcut;
        }
        return std::nullopt;
    }
    // Recording on `item`'s row: every hot key let go, once.
    void startRecording(const ClipboardItem& item)
    {
        ShortcutRecorder* r = recorder(item);
        ASSERT_NE(r, nullptr);
        r->click();
        ASSERT_TRUE(r->isRecording());
        EXPECT_EQ(r->displayText(), "Press shortcut...");
        EXPECT_EQ(hotKeys->suspensionDepth(), 1);
        EXPECT_TRUE(keys.grabbed().isEmpty());
    }
    void expectResumed(const char* way)
    {
        EXPECT_EQ(hotKeys->suspensionDepth(), 0) << way;
        EXPECT_EQ(keys.grabbed().size(), grabbedAtRest) << way;
        for (const ClipboardItem& item : {first, second}) {
            if (ShortcutRecorder* r = recorder(item))
                EXPECT_FALSE(r->isRecording()) << way;
        }
    }

    ClipboardItem first;
    ClipboardItem second;
    qsizetype grabbedAtRest = 0;
};

TEST_F(ShortcutsPageTest, EveryWayOutOfARecordingGivesTheHotKeysBack)
{
    EXPECT_EQ(shortcuts().listedItems(), (QList<QUuid> {first.id, second.id}));
    EXPECT_EQ(recorder(first)->displayText(), "Ctrl+Alt+B");
    const Qt::KeyboardModifiers ctrlAltKeys = Qt::ControlModifier | Qt::AltModifier;

    struct Way {
        const char* name;
        std::function<void()> leave;
        QString alert; // the reason shown, empty when none
    };
    const Way ways[] = {
        {"Escape", [&] { QTest::keyClick(recorder(first), Qt::Key_Escape); }, {}},
        {"Ctrl+Escape", [&] { QTest::keyClick(recorder(first), Qt::Key_Escape, Qt::ControlModifier); }, {}},
        {"another item's chord", [&] { QTest::keyClick(recorder(first), Qt::Key_C, ctrlAltKeys); },
         "This shortcut is already assigned to \"second snippet\"."},
        {"the open-popup chord", [&] { QTest::keyClick(recorder(first), Qt::Key_V, ctrlAltKeys); },
         "This shortcut is already used to open Lumra."},
        {"a quick-paste chord", [&] { QTest::keyClick(recorder(first), Qt::Key_1, Qt::ControlModifier); },
         "This shortcut is already used for quick paste."},
        {"a chord another program holds",
         [&] {
             keys.setTakenElsewhere(keyA, ctrlAlt);
             QTest::keyClick(recorder(first), Qt::Key_A, ctrlAltKeys);
         },
         "This shortcut is in use by another application."},
        {"another row", [&] {
             recorder(second)->click();
             EXPECT_FALSE(recorder(first)->isRecording());
             EXPECT_EQ(hotKeys->suspensionDepth(), 1);
             QTest::keyClick(recorder(second), Qt::Key_Escape);
         }, {}},
        {"the page hidden", [&] { window().showTab(SettingsTab::general); }, {}},
    };
    for (const Way& way : ways) {
        window().showTab(SettingsTab::shortcuts);
        prompts.shown.clear();
        startRecording(first);
        QTest::keyClick(recorder(first), Qt::Key_A);
        EXPECT_TRUE(recorder(first)->isRecording()) << "a key without Ctrl, Alt or Super is not a chord";
        way.leave();
        expectResumed(way.name);
        EXPECT_EQ(stored(first), (ItemShortcut {keyB, ctrlAlt})) << way.name;
        if (way.alert.isEmpty()) {
            EXPECT_TRUE(prompts.shown.isEmpty()) << way.name;
        } else {
            ASSERT_EQ(prompts.shown.size(), 1) << way.name;
            EXPECT_EQ(prompts.shown[0].title, "Shortcut already in use");
            EXPECT_EQ(prompts.shown[0].text, way.alert + " Please use a different shortcut.") << way.name;
        }
    }

    // A stored chord: its own combination again, a binned item's, then a new one.
    window().showTab(SettingsTab::shortcuts);
    for (const auto& [key, code] : {std::pair {Qt::Key_B, keyB}, std::pair {Qt::Key_X, keyX}}) {
        startRecording(first);
        QTest::keyClick(recorder(first), key, ctrlAltKeys);
        processEvents();
        expectResumed("a stored chord");
        EXPECT_TRUE(prompts.shown.isEmpty());
        EXPECT_EQ(stored(first), (ItemShortcut {code, ctrlAlt}));
    }
    EXPECT_EQ(recorder(first)->displayText(), "Ctrl+Alt+X");
    processEvents();
    EXPECT_TRUE(keys.press(keyX, ctrlAlt)) << "the new chord is registered";
    EXPECT_FALSE(keys.press(keyB, ctrlAlt));

    // The window closed (it hides), then destroyed while recording.
    startRecording(second);
    window().close();
    expectResumed("the window closed");
    window().present(SettingsTab::shortcuts);
    startRecording(second);
    closeWindow();
    EXPECT_EQ(hotKeys->suspensionDepth(), 0);
    EXPECT_EQ(keys.grabbed().size(), grabbedAtRest);
}

TEST_F(ShortcutsPageTest, RemovingAsksAndTheLastRemovalShowsTheHelp)
{
    prompts.answerNext(1);
    shortcuts().removeButton(first.id)->click();
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_EQ(prompts.shown[0].title, "Remove shortcut Ctrl+Alt+B?");
    EXPECT_EQ(prompts.shown[0].text, "first snippet");
    EXPECT_EQ(prompts.shown[0].buttons, (QStringList {"Remove", "Cancel"}));
    EXPECT_EQ(stored(first), (ItemShortcut {keyB, ctrlAlt}));

    for (const ClipboardItem& item : {first, second}) {
        prompts.answerNext(0);
        shortcuts().removeButton(item.id)->click();
        processEvents();
        EXPECT_FALSE(stored(item));
        EXPECT_FALSE(shortcuts().listedItems().contains(item.id));
    }
    EXPECT_TRUE(shortcuts().isShowingEmptyState());
    EXPECT_EQ(hotKeys->suspensionDepth(), 0);
}

TEST_F(ShortcutsPageTest, ACopyDoesNotCutARecordingShort)
{
    startRecording(first);
    storeItems(*manager, {textItem("copied meanwhile")});
    processEvents();
    ASSERT_TRUE(recorder(first));
    EXPECT_TRUE(recorder(first)->isRecording());
    EXPECT_EQ(hotKeys->suspensionDepth(), 1);
    QTest::keyClick(recorder(first), Qt::Key_Escape);
    expectResumed("Escape after a copy");
}

TEST_F(ShortcutsPageTest, Screenshots)
{
    storeItems(*manager, {textItem("A rather long signature that runs over more than one line of the page, with a "
                                   "name, a title, a company and a telephone number at the end of it",
                                   ItemShortcut {key1, ctrlAlt | ItemShortcut::shiftFlag})});
    processEvents();
    recorder(second)->click();
    saveScreenshots(window(), "settings-shortcuts");
    recorder(second)->stopRecording();
    for (const ClipboardItem& item : manager->clipboardItems())
        ASSERT_TRUE(manager->setItemShortcut(item.id, std::nullopt).ok());
    processEvents();
    ASSERT_TRUE(shortcuts().isShowingEmptyState());
    saveScreenshots(window(), "settings-shortcuts-empty");
}

} // namespace
} // namespace lumra
