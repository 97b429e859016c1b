#include "ui/items/editors/EditorWindows.h"
#include "engine/HistoryFilter.h"

#include "engine/ItemMedia.h"
#include "ui/shell/Prompt.h"
#include "platform/richtext/RtfCodec.h"
#include "ui/items/ShortcutRecorder.h"
#include "ui/items/editors/CategoryEditors.h"
#include "ui/items/editors/EditorRules.h"
#include "ui/items/editors/RichTextFormatting.h"
#include "ui/items/editors/ItemEditors.h"
#include "ui/items/editors/ShortcutEditorWindow.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/ItemMenuController.h"

#include "app/ShellTestSupport.h"
#include "HeldLane.h"
#include "platform/keys/EventWait.h"
#include "Screenshots.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace lumra {
namespace {

using test::ctrlAlt;

using test::darkPalette;

class EditorWindowsTest : public test::ShellTest {
protected:
    void SetUp() override
    {
        manager = makeManager();
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
        ASSERT_TRUE(hotKeys->setupHotKeyManager(manager.get()).ok());
        PromptService::setShared(&prompts);
        panel = new PopupPanel(QSize(400, 500));
        panel->present(QPoint(40, 40));
        QApplication::setActiveWindow(panel);
    }
    void TearDown() override
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<EditorWindow*>(widget))
                delete widget;
        }
        delete panel.data();
        PromptService::setShared(nullptr);
        QApplication::setPalette(QPalette());
    }

    EditorHost host() { return {manager.get(), hotKeys.get(), panel}; }

    ClipboardItem add(const QString& text, std::function<void(ClipboardItem&)> adjust = {})
    {
        ClipboardItem item = textItem(text);
        if (adjust)
            adjust(item);
        test::storeItems(*manager, {item});
        return item;
    }

    // The item as the store now holds it.
    ClipboardItem stored(const QUuid& id)
    {
        manager->loadItems();
        for (const ClipboardItem& item : manager->clipboardItems()) {
            if (item.id == id)
                return item;
        }
        ADD_FAILURE() << "not stored";
        return {};
    }

    void refuseWrites(const char* table, const char* when = "UPDATE")
    {
        auto& context = manager->persistence()->viewContext();
        const QString sql = QStringLiteral("CREATE TRIGGER refuse_%1_%2 BEFORE %2 ON %1 BEGIN SELECT RAISE(ABORT, 'disk full'); END")
                                .arg(QLatin1String(table), QLatin1String(when));
        ASSERT_TRUE(context.database(context.stores().front())->exec(sql).ok());
    }

    // The window as it first shows, in the light palette and again built in a dark one.
    template <class Make>
    void screenshots(const QString& name, Make make)
    {
        for (const bool dark : {false, true}) {
            QApplication::setPalette(dark ? darkPalette() : QPalette());
            QPointer<EditorWindow> window = make();
            ASSERT_TRUE(window);
            QApplication::processEvents();
            // No window offers to minimise or maximise: minimised, an editor takes the popup with it.
            const Qt::WindowFlags flags = window->windowFlags();
            EXPECT_TRUE(flags & Qt::CustomizeWindowHint) << name.toStdString();
            EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint) << name.toStdString();
            EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint) << name.toStdString();
            test::saveArtifact(*window, QStringLiteral("editor-%1-%2").arg(name, dark ? "dark" : "light"));
            delete window.data();
        }
        QApplication::setPalette(QPalette());
    }

    ScriptedPromptService prompts;
    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> hotKeys;
    QPointer<PopupPanel> panel;
};

TEST_F(EditorWindowsTest, TagEditorsSaveOneItemOrOneListForSeveral)
{
    const ClipboardItem one = add("first item", [](ClipboardItem& i) { i.tags = {"x", "y"}; });
    const ClipboardItem two = add("second item", [](ClipboardItem& i) { i.tags = {"y", "z"}; });
    screenshots("tags", [&] { return EditorWindows::openTagEditor(host(), one); });
    screenshots("tags-several", [&] { return EditorWindows::openMultiTagEditor(host(), {one, two}); });

    QPointer<TagEditorWindow> single = EditorWindows::openTagEditor(host(), one);
    EXPECT_EQ(single->windowTitle(), "Edit Tags");
    EXPECT_EQ(single->field()->text(), "x y");
    single->field()->setText("  red   blue\tsky ");
    QTest::keyClick(single->field(), Qt::Key_Return);
    EXPECT_TRUE(!single || !single->isVisible());
    EXPECT_EQ(stored(one.id).tags, (QStringList {"red", "blue\tsky"}));

    QPointer<TagEditorWindow> several = EditorWindows::openMultiTagEditor(host(), {stored(one.id), two});
    EXPECT_EQ(several->field()->text(), "red blue\tsky y z");
    several->field()->setText("shared");
    EXPECT_TRUE(several->trySave());
    EXPECT_EQ(stored(one.id).tags, QStringList {"shared"});
    EXPECT_EQ(stored(two.id).tags, QStringList {"shared"});
    EXPECT_EQ(EditorWindows::openMultiTagEditor(host(), {}), nullptr);
}

TEST_F(EditorWindowsTest, CommentEditorAddsTrimsAndRemoves)
{
    const ClipboardItem plain = add("an item without a comment");
    const ClipboardItem empty = add("an item with an empty comment", [](ClipboardItem& i) { i.comment = QString(); });
    screenshots("comment", [&] { return EditorWindows::openCommentEditor(host(), plain); });

    QPointer<CommentEditorWindow> add = EditorWindows::openCommentEditor(host(), plain);
    EXPECT_EQ(add->windowTitle(), "Add Comment");
    EXPECT_EQ(add->removeButton(), nullptr);
    add->editor()->setPlainText("\n  call back\n  tomorrow \n\n");
    EXPECT_TRUE(add->trySave());
    EXPECT_EQ(stored(plain.id).comment, QString("call back\n  tomorrow"));

    QPointer<CommentEditorWindow> edit = EditorWindows::openCommentEditor(host(), empty);
    EXPECT_EQ(edit->windowTitle(), "Edit Comment");
    ASSERT_NE(edit->removeButton(), nullptr);
    edit->removeButton()->click();
    EXPECT_TRUE(!edit || !edit->isVisible());
    EXPECT_EQ(stored(empty.id).comment, std::nullopt);
}

// The list's value carries no rich text; the editor takes it from the store and saves it back whole.
// The window shows at once while the rich text is read on a lane, and cannot save its empty page
// over the item meanwhile.
TEST_F(EditorWindowsTest, ContentEditorOpensTheStoredRichTextOfAListValue)
{
    const ClipboardItem item = add("bold plain", [](ClipboardItem& i) { i.rtfData = QByteArray("{\\rtf1 {\\b bold} plain}"); });
    const ClipboardItem listed = stored(item.id);
    ASSERT_FALSE(listed.rtfData);
    ASSERT_TRUE(listed.richTextInStore);

    test::HeldLane held(manager->work(), BackgroundWork::Lane::previews);
    QPointer<ContentEditorWindow> window = EditorWindows::openContentEditor(host(), listed);
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isLoaded()) << "the rich text was read on the main thread";
    EXPECT_TRUE(window->editor()->isReadOnly());
    QPushButton* save = nullptr;
    for (QPushButton* button : window->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("Save"))
            save = button;
    ASSERT_TRUE(save);
    EXPECT_FALSE(save->isEnabled());
    EXPECT_FALSE(window->trySave());
    EXPECT_EQ(stored(item.id).textContent, QString("bold plain"));
    EXPECT_TRUE(manager->media().richText(stored(item.id)));

    held.release();
    ASSERT_TRUE(test::processEventsUntil([&] { return window->isLoaded(); }, 10000));
    EXPECT_TRUE(save->isEnabled());
    EXPECT_FALSE(window->editor()->isReadOnly());
    EXPECT_EQ(window->editor()->toPlainText(), QString("bold plain"));
    QTextCursor probe(window->editor()->document());
    probe.setPosition(2);
    EXPECT_GE(probe.charFormat().fontWeight(), QFont::Bold);
    probe.setPosition(8);
    EXPECT_LT(probe.charFormat().fontWeight(), QFont::Bold);
    EXPECT_TRUE(window->trySave());
    const std::optional<QByteArray> saved = manager->media().richText(stored(item.id));
    ASSERT_TRUE(saved);
    QTextDocument document;
    ASSERT_TRUE(RichText::readRtf(*saved, &document));
    QTextCursor again(&document);
    again.setPosition(2);
    EXPECT_GE(again.charFormat().fontWeight(), QFont::Bold);
}

// A key in a long document counts again the line it changed, not the document: the window's
// thread spends on a key what the line costs. A rich text read by a worker comes counted.
TEST_F(EditorWindowsTest, AKeyInALongDocumentCountsItsLineAgainNotTheWholeText)
{
    QString text;
    QByteArray rtf = "{\\rtf1\\ansi ";
    for (int i = 0; i < 5000; ++i) {
        text += QStringLiteral("line %1 of a long document\n").arg(i);
        rtf += "line " + QByteArray::number(i) + " of a {\\b long} document\\par ";
    }
    rtf += '}';
    for (const bool rich : {false, true}) {
        SCOPED_TRACE(rich);
        const ClipboardItem item = add(text, [&](ClipboardItem& i) {
            if (rich)
                i.rtfData = rtf;
        });
        const ClipboardItem listed = stored(item.id);
        const qint64 opened = EditorRules::charactersCountedOnThisThread();
        QPointer<ContentEditorWindow> window = EditorWindows::openContentEditor(host(), listed);
        ASSERT_TRUE(test::processEventsUntil([&] { return window->isLoaded(); }, 30000));
        if (rich)
            EXPECT_LT(EditorRules::charactersCountedOnThisThread() - opened, 100) << "counted on the window's thread";
        QTextCursor cursor(window->editor()->document());
        cursor.setPosition(window->editor()->document()->findBlockByNumber(2500).position() + 9);
        window->editor()->setTextCursor(cursor);
        const qint64 before = EditorRules::charactersCountedOnThisThread();
        QTest::keyClicks(window->editor(), QStringLiteral("ab c"));
        QTest::keyClick(window->editor(), Qt::Key_Return);
        QTest::keyClick(window->editor(), Qt::Key_Backspace);
        QTest::keyClick(window->editor(), Qt::Key_Backspace);
        EXPECT_LT(EditorRules::charactersCountedOnThisThread() - before, 6 * 40) << "the whole text counted again";
        const QString edited = RichTextFormatting::plainText(*window->editor()->document());
        EXPECT_TRUE(edited.contains(QStringLiteral("line 2500ab  of a")));
        EXPECT_EQ(window->statisticsText(), EditorRules::statisticsText(EditorRules::textStatistics(edited)));
        window->close();
    }
}

TEST_F(EditorWindowsTest, ContentEditorSavesTextAndFormattingThroughTheEngine)
{
    const ClipboardItem item = add("hello world");
    screenshots("content", [&] { return EditorWindows::openContentEditor(host(), item); });

    QPointer<ContentEditorWindow> window = EditorWindows::openContentEditor(host(), item);
    EXPECT_EQ(window->statisticsText(), QString::fromUtf8("11 characters \u00b7 2 words \u00b7 1 line"));
    QTextCursor cursor = window->editor()->textCursor();
    cursor.setPosition(0);
    cursor.setPosition(5, QTextCursor::KeepAnchor);
    window->editor()->setTextCursor(cursor);
    window->toggleBold();
    cursor.movePosition(QTextCursor::End);
    window->editor()->setTextCursor(cursor);
    window->editor()->insertPlainText("\nagain");
    EXPECT_EQ(window->statisticsText(), QString::fromUtf8("17 characters \u00b7 3 words \u00b7 2 lines"));
    EXPECT_TRUE(window->trySave());

    const ClipboardItem saved = stored(item.id);
    EXPECT_EQ(saved.textContent, QString("hello world\nagain"));
    const std::optional<QByteArray> rtf = manager->media().richText(saved);
    ASSERT_TRUE(rtf);
    QTextDocument document;
    ASSERT_TRUE(RichText::readRtf(*rtf, &document));
    QTextCursor probe(&document);
    probe.setPosition(2);
    EXPECT_GE(probe.charFormat().fontWeight(), QFont::Bold);
    probe.setPosition(8);
    EXPECT_LT(probe.charFormat().fontWeight(), QFont::Bold);
    // Search finds the new text: history, index and store are one.
    manager->filters().setSearchText(QStringLiteral("again"));
    ASSERT_EQ(manager->filters().filteredItemCount(), 1);
    EXPECT_EQ(manager->filters().filteredItemAt(0).id, item.id);
}

TEST_F(EditorWindowsTest, AFailedSaveKeepsTheWindowOpenWithTheReason)
{
    const ClipboardItem item = add("kept as it was", [](ClipboardItem& i) { i.tags = {"old"}; });
    refuseWrites("CDClipboardItem");
    const std::function<EditorWindow*()> editors[] = {
        [&] {
            TagEditorWindow* w = EditorWindows::openTagEditor(host(), item);
            w->field()->setText("new");
            return w;
        },
        [&] {
            CommentEditorWindow* w = EditorWindows::openCommentEditor(host(), item);
            w->editor()->setPlainText("note");
            return w;
        },
        [&] {
            ContentEditorWindow* w = EditorWindows::openContentEditor(host(), item);
            w->editor()->setPlainText("changed");
            return w;
        },
        [&] {
            ShortcutEditorWindow* w = EditorWindows::openShortcutEditor(host(), item);
            w->takeChord({2, ctrlAlt});
            return w;
        },
    };
    for (const auto& open : editors) {
        QPointer<EditorWindow> window = open();
        EXPECT_FALSE(window->trySave());
        ASSERT_TRUE(window);
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->errorText().startsWith("The change could not be saved:")) << window->errorText().toStdString();
        delete window.data();
    }
    const ClipboardItem unchanged = stored(item.id);
    EXPECT_EQ(unchanged.tags, QStringList {"old"});
    EXPECT_EQ(unchanged.comment, std::nullopt);
    EXPECT_EQ(unchanged.textContent, QString("kept as it was"));
    EXPECT_EQ(unchanged.shortcut, std::nullopt);
}

TEST_F(EditorWindowsTest, ShortcutEditorRefusesTakenChordsAndSavesAFreeOne)
{
    keys.setTakenElsewhere(3, ctrlAlt);
    const ClipboardItem other = add("holds Ctrl+Alt+S", [](ClipboardItem& i) { i.shortcut = ItemShortcut {1, ctrlAlt}; });
    const ClipboardItem item = add("the item to paste");
    const ClipboardItem had = add("already has one", [](ClipboardItem& i) { i.shortcut = ItemShortcut {4, ctrlAlt}; });

    QPointer<ShortcutEditorWindow> window = EditorWindows::openShortcutEditor(host(), item);
    EXPECT_EQ(window->windowTitle(), "Set Shortcut");
    EXPECT_FALSE(window->removeButton()->isVisibleTo(window));
    EXPECT_TRUE(window->saveButton()->isEnabled());
    ShortcutRecorder* recorder = window->recorder();
    EXPECT_EQ(recorder->displayText(), "Click to record");

    const struct {
        Qt::Key key;
        QString message;
    } refused[] = {
        {Qt::Key_V, "This shortcut is already used to open Lumra. Please use a different shortcut."},
        {Qt::Key_S, "This shortcut is already assigned to \"holds Ctrl+Alt+S\". Please use a different shortcut."},
        {Qt::Key_F, "This shortcut is in use by another application. Please use a different shortcut."},
    };
    for (const auto& r : refused) {
        recorder->click();
        EXPECT_TRUE(hotKeys->isSuspended());
        QTest::keyClick(recorder, r.key, Qt::ControlModifier | Qt::AltModifier);
        EXPECT_FALSE(hotKeys->isSuspended());
        EXPECT_EQ(window->conflictMessage(), r.message);
        EXPECT_EQ(window->recordedShortcut(), std::nullopt);
    }
    screenshots("shortcut", [&] {
        ShortcutEditorWindow* shown = EditorWindows::openShortcutEditor(host(), had);
        shown->takeChord({9, ctrlAlt});
        return shown;
    });

    recorder->click();
    QTest::keyClick(recorder, Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(window->conflictMessage(), QString());
    EXPECT_EQ(recorder->displayText(), "Ctrl+Alt+D");
    EXPECT_TRUE(window->removeButton()->isVisibleTo(window));
    QTest::keyClick(recorder, Qt::Key_Return);
    EXPECT_TRUE(!window || !window->isVisible());
    EXPECT_EQ(stored(item.id).shortcut, (ItemShortcut {2, ctrlAlt}));
    EXPECT_TRUE(keys.grabbed().contains(GlobalHotKeys::HotKey {2, ctrlAlt}));
    EXPECT_EQ(stored(other.id).shortcut, (ItemShortcut {1, ctrlAlt}));

    // A refusal on an item that had a shortcut cannot be saved as taking it away; Remove can.
    QPointer<ShortcutEditorWindow> again = EditorWindows::openShortcutEditor(host(), had);
    EXPECT_EQ(again->recorder()->displayText(), "Ctrl+Alt+H");
    again->takeChord({9, ctrlAlt});
    EXPECT_FALSE(again->saveButton()->isEnabled());
    again->removeButton()->click();
    EXPECT_EQ(stored(had.id).shortcut, std::nullopt);
    EXPECT_FALSE(keys.grabbed().contains(GlobalHotKeys::HotKey {4, ctrlAlt}));
}

TEST_F(EditorWindowsTest, CategoryCreatorMakesTheCategoryAndFillsIt)
{
    const ClipboardItem item = add("goes into the new category");
    screenshots("new-category", [&] { return EditorWindows::openCategoryCreator(host(), {}); });

    QPointer<CategoryCreatorWindow> window = EditorWindows::openCategoryCreator(host(), {QUuid::createUuid(), item.id});
    EXPECT_EQ(window->iconGrid()->selectedIcon(), "folder.fill");
    window->nameField()->setText(" \n ");
    EXPECT_FALSE(window->saveButton()->isEnabled());
    QTest::keyClick(window->nameField(), Qt::Key_Return);
    EXPECT_TRUE(window && window->isVisible()) << "Return does nothing while the name is blank";
    window->nameField()->setText("  Work  ");
    window->iconGrid()->cell("star.fill")->click();
    EXPECT_TRUE(window->iconGrid()->cell("star.fill")->isChecked());
    EXPECT_FALSE(window->iconGrid()->cell("folder.fill")->isChecked());
    window->hiddenFromFooter()->setChecked(true);
    EXPECT_TRUE(window->trySave());

    manager->loadCategories();
    ASSERT_EQ(manager->categories().size(), 1);
    const ClipboardCategory created = manager->categories().front();
    EXPECT_EQ(created.name, "Work");
    EXPECT_EQ(created.iconName, "star.fill");
    EXPECT_TRUE(created.isHiddenFromFooter);
    EXPECT_EQ(stored(item.id).categoryId, created.id);
}

TEST_F(EditorWindowsTest, CategoryEditorRenamesAndDeletesWithItsItemsReleasingTheirKeys)
{
    ASSERT_TRUE(manager->addCategory({QUuid::createUuid(), "Snippets", "doc.fill", false, 0}).ok());
    const ClipboardCategory category = manager->categories().front();
    const ClipboardItem item = add("in the category", [&](ClipboardItem& i) {
        i.categoryId = category.id;
        i.shortcut = ItemShortcut {2, ctrlAlt};
    });
    ASSERT_TRUE(keys.grabbed().contains(GlobalHotKeys::HotKey {2, ctrlAlt}));
    screenshots("edit-category", [&] { return EditorWindows::openCategoryEditor(host(), category); });

    QPointer<CategoryEditorWindow> rename = EditorWindows::openCategoryEditor(host(), category);
    EXPECT_EQ(rename->nameField()->text(), "Snippets");
    EXPECT_TRUE(rename->iconGrid()->cell("doc.fill")->isChecked());
    rename->nameField()->setText(" Code ");
    rename->iconGrid()->cell("gear")->click();
    EXPECT_TRUE(rename->trySave());
    manager->loadCategories();
    EXPECT_EQ(manager->categories().front().name, "Code");
    EXPECT_EQ(manager->categories().front().iconName, "gear");

    QPointer<CategoryEditorWindow> remove = EditorWindows::openCategoryEditor(host(), manager->categories().front());
    prompts.answerNext(1); // Cancel
    remove->deleteButton()->click();
    EXPECT_TRUE(remove && remove->isVisible());
    prompts.answerNext(0);
    prompts.checkNext(true);
    remove->deleteButton()->click();
    EXPECT_EQ(prompts.shown.last().title, "Delete \"Code\"?");
    EXPECT_EQ(prompts.shown.last().checkBoxTitle, "Also delete items in this category");
    EXPECT_TRUE(!remove || !remove->isVisible());
    manager->loadCategories();
    EXPECT_TRUE(manager->categories().isEmpty());
    manager->loadItems();
    EXPECT_TRUE(std::none_of(manager->clipboardItems().begin(), manager->clipboardItems().end(),
                             [&](const ClipboardItem& i) { return i.id == item.id && !i.isTrashed; }))
        << "the item went with its category";
    EXPECT_FALSE(keys.grabbed().contains(GlobalHotKeys::HotKey {2, ctrlAlt}));
}

TEST_F(EditorWindowsTest, EachEditorHoldsThePopupAndClosesOnlyItself)
{
    const ClipboardItem item = add("edited twice");
    QPointer<ContentEditorWindow> first = EditorWindows::openContentEditor(host(), item);
    QPointer<ContentEditorWindow> second = EditorWindows::openContentEditor(host(), item);
    EXPECT_EQ(panel->holdCount(), 2);

    // The second window has the focus; Escape in the first closes the first.
    QApplication::setActiveWindow(second);
    QTest::keyClick(first->editor(), Qt::Key_Escape);
    EXPECT_TRUE(!first || !first->isVisible());
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(panel->holdCount(), 1);
    EXPECT_FALSE(panel->close()) << "the open editor still holds the popup";

    second->close();
    EXPECT_EQ(panel->holdCount(), 0);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->close());

    // An editor outliving its popup closes quietly.
    QPointer<CommentEditorWindow> orphan = EditorWindows::openCommentEditor({manager.get(), hotKeys.get(), nullptr}, item);
    EXPECT_TRUE(orphan->close());
}

// The shortcut asking a held popup to close brings an editor dragged off screen back onto the
// popup's screen.
TEST_F(EditorWindowsTest, AnEditorOffScreenComesBackWithItsPopup)
{
    QPointer<CommentEditorWindow> editor = EditorWindows::openCommentEditor(host(), add("far away"));
    editor->move(-5000, -5000);
    QApplication::processEvents();
    EXPECT_FALSE(panel->close());
    QApplication::processEvents();
    const QRect area = panel->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(editor->frameGeometry())) << editor->frameGeometry().x() << "," << editor->frameGeometry().y();
    editor->close();
}

TEST_F(EditorWindowsTest, ThePopupMenuOpensEveryEditor)
{
    ASSERT_TRUE(manager->addCategory({QUuid::createUuid(), "Work", "folder.fill", false, 0}).ok());
    const QUuid work = manager->categories().front().id;
    const ClipboardItem item = add("opened from the menu", [&](ClipboardItem& i) { i.categoryId = work; });
    const ClipboardItem other = add("and another");
    ContentView view(*manager, hotKeys.get());
    view.setPanel(panel);
    auto* controller = new ItemMenuController(view);
    const auto windows = [] {
        QList<EditorWindow*> open;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* editor = qobject_cast<EditorWindow*>(widget); editor && editor->isVisible())
                open << editor;
        }
        return open;
    };

    const struct {
        QList<QUuid> ids;
        ItemMenuAction action;
        const char* window;
    } entries[] = {
        {{item.id}, ItemMenuAction::editTags, "lumra::TagEditorWindow"},
        {{item.id}, ItemMenuAction::editComment, "lumra::CommentEditorWindow"},
        {{item.id}, ItemMenuAction::editShortcut, "lumra::ShortcutEditorWindow"},
        {{item.id}, ItemMenuAction::editContent, "lumra::ContentEditorWindow"},
        {{item.id}, ItemMenuAction::newCategory, "lumra::CategoryCreatorWindow"},
        {{item.id}, ItemMenuAction::editCategory, "lumra::CategoryEditorWindow"},
        {{item.id, other.id}, ItemMenuAction::editTagsOfItems, "lumra::TagEditorWindow"},
        {{item.id, other.id}, ItemMenuAction::newCategory, "lumra::CategoryCreatorWindow"},
    };
    for (const auto& entry : entries) {
        const ItemMenuModel menu = controller->menuFor(entry.ids);
        const ItemMenuEntry* chosen = menu.find(entry.action);
        ASSERT_NE(chosen, nullptr) << entry.window;
        controller->actions().run(menu, *chosen);
        const QList<EditorWindow*> open = windows();
        ASSERT_EQ(open.size(), 1) << entry.window;
        EXPECT_STREQ(open.front()->metaObject()->className(), entry.window);
        EXPECT_EQ(panel->holdCount(), 1);
        delete open.front();
    }
    EXPECT_EQ(view.viewState().tagEditItem(), std::nullopt) << "a request is cleared once its window opened";
}

} // namespace
} // namespace lumra
