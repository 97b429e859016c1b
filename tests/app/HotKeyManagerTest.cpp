#include "ui/shell/HotKeyManager.h"
#include "engine/HistoryFilter.h"
#include "ui/shell/PopupPanel.h"
#include "model/NotificationCenter.h"
#include "platform/keys/KeyCodes.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"

#include "Screenshots.h"
#include "ShellTestSupport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

namespace lumra {
namespace {

using test::ctrlAlt;

constexpr quint64 ctrl = ItemShortcut::commandFlag;
constexpr quint64 alt = ItemShortcut::optionFlag;
constexpr quint16 keyA = 0, keyS = 1, keyD = 2, keyV = 9;

class HotKeyManagerTest : public test::ShellTest {
protected:
    void SetUp() override { manager = makeManager(); }
    void TearDown() override
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            delete qobject_cast<PopupPanel*>(widget);
    }

    HotKeyManager& hotKeys()
    {
        if (!m_hotKeys) {
            m_hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
            setupStatus = m_hotKeys->setupHotKeyManager(manager.get());
        }
        return *m_hotKeys;
    }

    // A press anywhere on the desktop, handled as the event loop would.
    bool press(quint16 keyCode, quint64 modifiers)
    {
        const bool fired = keys.press(keyCode, modifiers);
        processEvents();
        return fired;
    }

    std::optional<quint32> idOf(quint16 keyCode, quint64 modifiers) const
    {
        for (quint32 id : keys.registeredIds()) {
            if (keys.hotKey(id) == GlobalHotKeys::HotKey{keyCode, modifiers})
                return id;
        }
        return std::nullopt;
    }

    // Saved to the store and loaded back, as captures are.
    void storeItems(const QList<ClipboardItem>& items)
    {
        for (const ClipboardItem& item : items) {
            auto row = manager->persistence()->viewContext().insert(store::EntityKind::item);
            populateManagedItem(*row, item);
        }
        ASSERT_TRUE(manager->persistence()->save().ok());
        manager->loadItems();
    }

    QStringList texts() const
    {
        QStringList result;
        for (const ClipboardItem& item : manager->clipboardItems())
            result << item.textContent.value_or(QString());
        return result;
    }

    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> m_hotKeys;
    Status setupStatus;
};

TEST_F(HotKeyManagerTest, IdsFollowTheSchemeOpenItemsQuickPaste)
{
    manager->setQuickPasteModifier(QStringLiteral("command"));
    manager->setClipboardItems({textItem("a", ItemShortcut{keyA, ctrlAlt}), textItem("plain"),
                                textItem("s", ItemShortcut{keyS, ctrlAlt})});
    hotKeys();
    ASSERT_TRUE(setupStatus.ok()) << setupStatus.error().toStdString();

    EXPECT_EQ(keys.hotKey(HotKeyManager::mainHotKeyId), (GlobalHotKeys::HotKey{keyV, ctrlAlt}));
    EXPECT_EQ(keys.hotKey(100), (GlobalHotKeys::HotKey{keyA, ctrlAlt}));
    EXPECT_EQ(keys.hotKey(101), (GlobalHotKeys::HotKey{keyS, ctrlAlt}));
    for (int digit = 1; digit <= 9; ++digit) {
        const auto key = keys.hotKey(quint32(199 + digit));
        ASSERT_TRUE(key) << digit;
        EXPECT_EQ(key->modifiers, ctrl);
        EXPECT_EQ(ItemShortcut::keyName(key->keyCode), QString::number(digit));
    }
    EXPECT_EQ(hotKeys().shortcutDisplayString(), QStringLiteral("Ctrl+Alt+V"));
}

TEST_F(HotKeyManagerTest, ItemShortcutPastesItsItemAndQuickPasteTheListedOne)
{
    manager->setQuickPasteModifier(QStringLiteral("option"));
    manager->setClipboardItems({textItem("first"), textItem("second", ItemShortcut{keyD, ctrlAlt})});
    hotKeys();

    ASSERT_TRUE(press(keyD, ctrlAlt));
    EXPECT_EQ(lastWrittenText(), QStringLiteral("second"));
    EXPECT_EQ(injector.pasteCount(), 0) << "the keys follow the clipboard write, not with it";
    clock.advance(HotKeyManager::pasteDelay);
    EXPECT_EQ(injector.pasteCount(), 1);

    ASSERT_TRUE(press(KeyCodes::keyCodeForKeysym('1').value(), alt));
    clock.advance(HotKeyManager::pasteDelay);
    EXPECT_EQ(lastWrittenText(), QStringLiteral("first"));
    EXPECT_EQ(injector.pasteCount(), 2);

    // A digit beyond the list does nothing.
    const int writes = int(pasteboard.writes().size());
    ASSERT_TRUE(press(KeyCodes::keyCodeForKeysym('3').value(), alt));
    clock.advance(HotKeyManager::pasteDelay);
    EXPECT_EQ(pasteboard.writes().size(), writes);
    EXPECT_EQ(injector.pasteCount(), 2);
}

TEST_F(HotKeyManagerTest, AnItemShortcutMovesItsItemToTheTopAndQuickPasteDoesNot)
{
    manager->setQuickPasteModifier(QStringLiteral("command"));
    storeItems({textItem("newest"), textItem("middle"), textItem("oldest", ItemShortcut{keyA, ctrlAlt})});
    const QList<ClipboardItem> before = manager->clipboardItems();
    ASSERT_EQ(texts(), (QStringList{"newest", "middle", "oldest"}));
    hotKeys();

    ASSERT_TRUE(press(KeyCodes::keyCodeForKeysym('2').value(), ctrl));
    clock.advance(HotKeyManager::pasteDelay);
    EXPECT_EQ(lastWrittenText(), QStringLiteral("middle"));
    EXPECT_EQ(manager->clipboardItems()[1].dateAdded, before[1].dateAdded);
    EXPECT_TRUE(manager->clipboardItems()[1].lastPastedDate);

    const QDateTime pressed = clock.now();
    ASSERT_TRUE(press(keyA, ctrlAlt));
    clock.advance(HotKeyManager::pasteDelay);
    EXPECT_EQ(lastWrittenText(), QStringLiteral("oldest"));
    EXPECT_EQ(manager->clipboardItems()[2].dateAdded, pressed) << "newer than every other item";
    EXPECT_EQ(injector.pasteCount(), 2);
}

TEST_F(HotKeyManagerTest, TrashedItemsHoldNoKeyAndNeverPaste)
{
    const ItemShortcut shared{keyA, ctrlAlt};
    manager->setClipboardItems({textItem("in the bin", shared, true), textItem("kept", shared),
                                textItem("only trashed", ItemShortcut{keyS, ctrlAlt}, true)});
    hotKeys();

    EXPECT_FALSE(idOf(keyS, ctrlAlt)) << "a trashed item's combination stays free for other applications";
    ASSERT_TRUE(press(keyA, ctrlAlt));
    clock.advance(HotKeyManager::pasteDelay);
    EXPECT_EQ(lastWrittenText(), QStringLiteral("kept"));

    // Trashing the last holder releases the key.
    QList<ClipboardItem> items = manager->clipboardItems();
    items[1].isTrashed = true;
    manager->setClipboardItems(items);
    EXPECT_FALSE(idOf(keyA, ctrlAlt));
    EXPECT_FALSE(press(keyA, ctrlAlt));

    // Restoring takes it again, though nobody announced a shortcut change.
    items[2].isTrashed = false;
    manager->setClipboardItems(items);
    EXPECT_TRUE(idOf(keyS, ctrlAlt));
}

TEST_F(HotKeyManagerTest, QuickPasteNeverPastesFromTheRecycleBin)
{
    manager->setRecycleBinEnabled(true);
    manager->setQuickPasteModifier(QStringLiteral("command"));
    manager->setClipboardItems({textItem("kept"), textItem("thrown away", std::nullopt, true)});
    hotKeys();
    manager->filters().setShowRecycleBin(true);
    ASSERT_EQ(manager->filters().filteredItemCount(), 1);
    ASSERT_TRUE(manager->filters().filteredItemAt(0).isTrashed);

    ASSERT_TRUE(press(KeyCodes::keyCodeForKeysym('1').value(), ctrl));
    clock.advance(HotKeyManager::pasteDelay);
    EXPECT_TRUE(pasteboard.writes().isEmpty());
    EXPECT_EQ(injector.pasteCount(), 0);

    // A popup that showed the bin leaves it when it closes.
    ASSERT_TRUE(press(keyV, ctrlAlt));
    ASSERT_NE(PopupPanel::findOpen(), nullptr);
    manager->filters().setShowRecycleBin(true);
    ASSERT_TRUE(press(keyV, ctrlAlt));
    EXPECT_FALSE(manager->filters().showRecycleBin());
    ASSERT_TRUE(press(KeyCodes::keyCodeForKeysym('1').value(), ctrl));
    clock.advance(HotKeyManager::pasteDelay);
    EXPECT_EQ(lastWrittenText(), QStringLiteral("kept"));
}

TEST_F(HotKeyManagerTest, HistoryChangesTouchOnlyTheKeysThatChanged)
{
    const ItemShortcut a{keyA, ctrlAlt}, s{keyS, ctrlAlt}, d{keyD, ctrlAlt};
    manager->setClipboardItems({textItem("a", a), textItem("s", s)});
    hotKeys();
    const quint32 idS = idOf(s.keyCode, s.modifiers).value();

    // Another application now holds Ctrl+Alt+S; Lumra's grab of it is kept as long as it is not redone.
    keys.setTakenElsewhere(s.keyCode, s.modifiers);
    QList<ClipboardItem> items = manager->clipboardItems();
    items.removeFirst();
    items.append(textItem("d", d));
    manager->setClipboardItems(items);

    EXPECT_FALSE(idOf(a.keyCode, a.modifiers));
    EXPECT_EQ(idOf(s.keyCode, s.modifiers), idS);
    EXPECT_TRUE(idOf(d.keyCode, d.modifiers));
    EXPECT_EQ(hotKeys().itemHotKeys().size(), 2);
}

TEST_F(HotKeyManagerTest, ARefusedItemKeyIsReportedOnceAndRetriedOnAShortcutChange)
{
    const ItemShortcut taken{keyA, ctrlAlt};
    keys.setTakenElsewhere(taken.keyCode, taken.modifiers);
    manager->setClipboardItems({textItem("a", taken)});
    hotKeys();
    EXPECT_FALSE(setupStatus.ok());
    EXPECT_TRUE(setupStatus.error().contains(QStringLiteral("Ctrl+Alt+A"))) << setupStatus.error().toStdString();

    keys.setTakenElsewhere(taken.keyCode, taken.modifiers, false);
    manager->setClipboardItems(manager->clipboardItems() + QList{textItem("other")});
    EXPECT_FALSE(idOf(taken.keyCode, taken.modifiers)) << "a capture does not retry refused keys";

    NotificationCenter::defaultCenter().post(Notifications::itemShortcutsChanged);
    EXPECT_TRUE(idOf(taken.keyCode, taken.modifiers));
}

// Held elsewhere at launch, the open key is tried again a few times, and reported once, after the
// last try failed.
TEST_F(HotKeyManagerTest, AnOpenKeyHeldElsewhereIsReportedOnceItsLastTryFailed)
{
    keys.setTakenElsewhere(keyV, ctrlAlt);
    QStringList told;
    QObject::connect(&hotKeys(), &HotKeyManager::openKeyFailedAtLaunch, [&](const QString& message) { told << message; });
    EXPECT_TRUE(setupStatus.ok()) << "told before the tries: " << setupStatus.error().toStdString();
    for (std::chrono::milliseconds delay : HotKeyManager::launchRetryDelays) {
        EXPECT_TRUE(told.isEmpty());
        clock.advance(delay);
    }
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told.first().contains(QStringLiteral("Ctrl+Alt+V"))) << told.first().toStdString();
    EXPECT_FALSE(keys.isRegistered(HotKeyManager::mainHotKeyId));
    clock.advance(std::chrono::minutes(1));
    EXPECT_EQ(told.size(), 1);
}

// Freed between two tries, the open key is taken and nothing is reported.
TEST_F(HotKeyManagerTest, AnOpenKeyFreedAfterLaunchIsTakenWithoutAWord)
{
    keys.setTakenElsewhere(keyV, ctrlAlt);
    QStringList told;
    QObject::connect(&hotKeys(), &HotKeyManager::openKeyFailedAtLaunch, [&](const QString& message) { told << message; });
    clock.advance(HotKeyManager::launchRetryDelays[0] + HotKeyManager::launchRetryDelays[1]);
    EXPECT_FALSE(keys.isRegistered(HotKeyManager::mainHotKeyId));
    keys.setTakenElsewhere(keyV, ctrlAlt, false);
    clock.advance(std::chrono::minutes(1));
    EXPECT_TRUE(keys.isRegistered(HotKeyManager::mainHotKeyId));
    EXPECT_TRUE(press(keyV, ctrlAlt));
    EXPECT_TRUE(told.isEmpty());
}

TEST_F(HotKeyManagerTest, TheWayToOpenThePopupNamesTheShortcutOnlyWhileItFires)
{
    const QString bind = QStringLiteral("bind the command \u201clumra\u201d to a key");
    EXPECT_EQ(hotKeys().howToOpenPopup(), QStringLiteral("open Lumra with Ctrl+Alt+V"));

    // A desktop that takes registrations but never delivers them (a Wayland session without the
    // shortcuts portal).
    keys.setLimitation(QStringLiteral("This desktop gives applications no global shortcuts."));
    EXPECT_TRUE(hotKeys().howToOpenPopup().contains(bind)) << hotKeys().howToOpenPopup().toStdString();
    keys.setLimitation(QString());

    keys.setTakenElsewhere(keyV, ctrlAlt);
    std::ignore = hotKeys().registerAllHotKeys();
    EXPECT_TRUE(hotKeys().howToOpenPopup().contains(bind)) << "the shortcut another program holds";
    keys.setTakenElsewhere(keyV, ctrlAlt, false);
    ASSERT_TRUE(hotKeys().registerAllHotKeys().ok());
    EXPECT_FALSE(hotKeys().howToOpenPopup().contains(bind));

    ASSERT_TRUE(hotKeys().setHotKeyEnabled(false).ok());
    EXPECT_TRUE(hotKeys().howToOpenPopup().contains(bind)) << "shortcuts switched off";
}

TEST_F(HotKeyManagerTest, NothingIsRegisteredWhileDisabled)
{
    defaults->set(QStringLiteral("hotKeyEnabled"), false);
    manager->setClipboardItems({textItem("a", ItemShortcut{keyA, ctrlAlt})});
    hotKeys();
    EXPECT_TRUE(keys.registeredIds().isEmpty());

    manager->setQuickPasteModifier(QStringLiteral("command"));
    NotificationCenter::defaultCenter().post(Notifications::itemShortcutsChanged);
    manager->setClipboardItems(manager->clipboardItems() + QList{textItem("s", ItemShortcut{keyS, ctrlAlt})});
    EXPECT_TRUE(keys.registeredIds().isEmpty());
    EXPECT_TRUE(hotKeys().updateMainHotKey(keyD, ctrlAlt).ok());
    EXPECT_TRUE(keys.registeredIds().isEmpty());

    ASSERT_TRUE(hotKeys().setHotKeyEnabled(true).ok());
    EXPECT_EQ(keys.hotKey(HotKeyManager::mainHotKeyId), (GlobalHotKeys::HotKey{keyD, ctrlAlt}));
    EXPECT_EQ(keys.registeredIds().size(), 1 + 2 + 9);

    ASSERT_TRUE(hotKeys().setHotKeyEnabled(false).ok());
    EXPECT_TRUE(keys.grabbed().isEmpty());
    EXPECT_FALSE(defaults->boolean(QStringLiteral("hotKeyEnabled")));
}

TEST_F(HotKeyManagerTest, ItemKeysNeverTakeTheQuickPasteIds)
{
    // More items with shortcuts than ids below 200.
    QList<ClipboardItem> items;
    QList<ItemShortcut> shortcuts;
    for (const quint64 modifiers : {ctrlAlt, ItemShortcut::controlFlag | alt, ItemShortcut::controlFlag | ctrl}) {
        for (const KeyCodes::Entry& entry : KeyCodes::table()) {
            if ((entry.keyCode >= 18 && entry.keyCode <= 29) || entry.keyCode == keyV)
                continue; // the digits are for quick paste, V opens the popup
            shortcuts.append(ItemShortcut{entry.keyCode, modifiers});
        }
    }
    ASSERT_GT(shortcuts.size(), 110);
    shortcuts.resize(110);
    for (const ItemShortcut& shortcut : shortcuts)
        items.append(textItem(shortcut.displayString(), shortcut));
    manager->setQuickPasteModifier(QStringLiteral("command"));
    manager->setClipboardItems(items);
    hotKeys();
    ASSERT_TRUE(setupStatus.ok()) << setupStatus.error().toStdString();

    for (quint32 id = 200; id <= 208; ++id)
        EXPECT_EQ(keys.hotKey(id)->modifiers, ctrl) << id;
    EXPECT_EQ(hotKeys().itemHotKeys().size(), 110);
    EXPECT_EQ(hotKeys().itemHotKeys().lastKey(), 218u);

    const ItemShortcut last = shortcuts.last();
    ASSERT_TRUE(press(last.keyCode, last.modifiers));
    clock.advance(HotKeyManager::pasteDelay);
    EXPECT_EQ(lastWrittenText(), last.displayString());
}

TEST_F(HotKeyManagerTest, EditsOfTheStoredHistoryMoveTheKeys)
{
    manager->setRecycleBinEnabled(true);
    const ClipboardItem item = textItem("stored");
    auto row = manager->persistence()->viewContext().insert(store::EntityKind::item);
    populateManagedItem(*row, item);
    ASSERT_TRUE(manager->persistence()->save().ok());
    manager->loadItems();
    hotKeys();

    ASSERT_TRUE(manager->setItemShortcut(item.id, ItemShortcut{keyA, ctrlAlt}).ok());
    EXPECT_TRUE(idOf(keyA, ctrlAlt));
    ASSERT_TRUE(manager->deleteItem(manager->clipboardItems().first()).ok());
    EXPECT_FALSE(idOf(keyA, ctrlAlt));
    ASSERT_TRUE(manager->restoreItem(item.id).ok());
    EXPECT_TRUE(idOf(keyA, ctrlAlt));
}

TEST_F(HotKeyManagerTest, MainShortcutChangesAreStoredMaskedAndApplied)
{
    hotKeys();
    const int revision = hotKeys().shortcutRevision();
    constexpr quint64 capsLock = 0x10000;
    ASSERT_TRUE(hotKeys().updateMainHotKey(keyD, ctrl | ItemShortcut::shiftFlag | capsLock).ok());
    EXPECT_EQ(defaults->integer(QStringLiteral("hotKeyModifiers")), qint64(ctrl | ItemShortcut::shiftFlag));
    EXPECT_EQ(hotKeys().shortcutRevision(), revision + 1);
    EXPECT_EQ(hotKeys().shortcutDisplayString(), QStringLiteral("Ctrl+Shift+D"));
    EXPECT_FALSE(press(keyV, ctrlAlt));

    ASSERT_TRUE(hotKeys().updateMainHotKey(HotKeyManager::noKeyCode, 0).ok());
    EXPECT_EQ(hotKeys().shortcutDisplayString(), QString());
    EXPECT_FALSE(keys.isRegistered(HotKeyManager::mainHotKeyId));
}

TEST_F(HotKeyManagerTest, ResumingAppliesWhatWasRecordedMeanwhile)
{
    hotKeys();
    HotKeyManager::Suspension suspension = hotKeys().suspendHotKeys();
    EXPECT_TRUE(keys.grabbed().isEmpty());
    ASSERT_TRUE(hotKeys().updateMainHotKey(keyD, ctrlAlt).ok());
    EXPECT_TRUE(keys.grabbed().isEmpty()) << "the recorder still needs the keys";

    suspension.release();
    EXPECT_EQ(keys.grabbed(), (QList<GlobalHotKeys::HotKey>{{keyD, ctrlAlt}}));
}

TEST_F(HotKeyManagerTest, TheOpenKeyTogglesThePopupAndFocusGoesBack)
{
    const AppIdentity editor{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), 42, 7};
    workspace.setFrontmost(editor);
    manager->setClipboardItems({textItem("one"), textItem("two")});
    hotKeys();

    ASSERT_TRUE(press(keyV, ctrlAlt));
    PopupPanel* panel = hotKeys().popupWindow();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(PopupPanel::findOpen(), panel);
    processEvents();
    QApplication::setActiveWindow(panel);

    ASSERT_TRUE(press(keyV, ctrlAlt));
    EXPECT_EQ(hotKeys().popupWindow(), nullptr);
    EXPECT_EQ(PopupPanel::findOpen(), nullptr);
    ASSERT_EQ(workspace.activations().size(), 1);
    EXPECT_EQ(workspace.activations().first(), editor);
    EXPECT_TRUE(defaults->hasStoredValue(QStringLiteral("lastWindowX")));
}

TEST_F(HotKeyManagerTest, APopupTallerThanTheScreenOpensFittedAndKeepsTheStoredSize)
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    defaults->set(QStringLiteral("clipboardWindowHeight"), double(available.height() + 300));
    defaults->set(QStringLiteral("clipboardWindowWidth"), 400.0);
    defaults->set(QStringLiteral("shortcutWindowPosition"), QStringLiteral("center"));
    hotKeys();
    ASSERT_TRUE(press(keyV, ctrlAlt));
    QPointer<PopupPanel> panel = hotKeys().popupWindow();
    ASSERT_NE(panel, nullptr);
    processEvents();
    EXPECT_TRUE(available.contains(panel->frameGeometry()))
        << panel->frameGeometry().height() << " high on a screen of " << available.height();
    EXPECT_EQ(panel->width(), 400);
    test::saveArtifact(*panel, QStringLiteral("popup-fitted-to-a-short-screen"));
    clock.advance(PopupPanel::resizeSettleDelay * 2);
    panel->close();
    EXPECT_EQ(defaults->doubleValue(QStringLiteral("clipboardWindowHeight")), double(available.height() + 300))
        << "a larger screen gets the chosen size back";
}

TEST_F(HotKeyManagerTest, APopupClosedByGoingElsewhereLeavesThatApplicationInFront)
{
    workspace.setFrontmost(AppIdentity{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), 42, 7});
    hotKeys();
    ASSERT_TRUE(press(keyV, ctrlAlt));
    QPointer<PopupPanel> panel = hotKeys().popupWindow();
    ASSERT_NE(panel, nullptr);
    QApplication::setActiveWindow(nullptr);
    if (panel)
        panel->close();
    EXPECT_TRUE(workspace.activations().isEmpty());
}

TEST_F(HotKeyManagerTest, WithTheEngineGoneTheKeyStillClosesButOpensNothing)
{
    hotKeys();
    ASSERT_TRUE(press(keyV, ctrlAlt));
    ASSERT_NE(PopupPanel::findOpen(), nullptr);
    manager.reset();
    ASSERT_TRUE(press(keyV, ctrlAlt));
    EXPECT_EQ(PopupPanel::findOpen(), nullptr);
    ASSERT_TRUE(press(keyV, ctrlAlt));
    EXPECT_EQ(PopupPanel::findOpen(), nullptr);
}

} // namespace
} // namespace lumra
