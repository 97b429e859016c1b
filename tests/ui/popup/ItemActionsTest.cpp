// The item context menu, the footer and the category strip on the offscreen platform: each entry
// reaches the history with the right items, every confirmation goes through the prompt service with
// the popup held, and pictures of the menu, footer and strip are saved as artifacts.
#include "ui/shell/AppActions.h"
#include "engine/HistoryFilter.h"
#include "ui/shell/PopupPanel.h"
#include "ui/shell/Prompt.h"
#include "platform/workspace/FileManager.h"
#include "ui/items/ShowInFileManager.h"
#include "ui/items/CategoryBar.h"
#include "ui/items/CategoryPill.h"
#include "ui/items/PauseButton.h"
#include "ui/popup/ItemActions.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/ItemContextMenu.h"
#include "ui/popup/ItemMenuController.h"
#include "ui/popup/PopupFooter.h"

#include "engine/paste/PasteTestSupport.h"
#include "Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QMenu>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

namespace lumra {
namespace {

// Answers like the scripted service and notes how many holds the popup had while each alert was up.
class HeldPrompts final : public PromptService {
public:
    int alert(const QString& title, const QString& text, const QStringList& buttons, Style style) override
    {
        holds << (PopupPanel::findOpen() ? PopupPanel::findOpen()->holdCount() : -1);
        return script.alert(title, text, buttons, style);
    }
    int alertWithCheckBox(const QString& title, const QString& text, const QStringList& buttons, Style style,
                          const QString& checkBoxTitle, bool& checked) override
    {
        holds << (PopupPanel::findOpen() ? PopupPanel::findOpen()->holdCount() : -1);
        return script.alertWithCheckBox(title, text, buttons, style, checkBoxTitle, checked);
    }
    int alertWithAccessory(const QString& title, const QString& text, const QStringList& buttons, Style style,
                           QWidget* accessory) override
    {
        return script.alertWithAccessory(title, text, buttons, style, accessory);
    }
    ScriptedPromptService script;
    QList<int> holds;
};

using test::darkPalette;
using test::saveArtifact;

class ItemActionsTest : public test::PasteTest {
protected:
    void SetUp() override
    {
        PasteTest::SetUp();
        manager->setRecycleBinEnabled(true);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        PromptService::setShared(&prompts);
        FileManager::setShared(&files);
        AppActions::setHandlers({[this](std::optional<SettingsTab> tab) { settingsOpened << tab; }, [this] { ++quits; }});
        panel = new PopupPanel(QSize(420, 300));
        // The offscreen platform moves focus around freely; the holds are what is looked at.
        panel->setClosesOnResignKey(false);
        panel->show();
        actions = std::make_unique<ItemActions>(*manager);
        actions->setPanelProvider([this] { return panel.data(); });
    }
    void TearDown() override
    {
        actions.reset();
        delete panel;
        AppActions::setHandlers({});
        FileManager::setShared(nullptr);
        PromptService::setShared(nullptr);
        PasteTest::TearDown();
    }

    ItemMenuModel menuFor(const QList<ClipboardItem>& targets)
    {
        ItemMenuFeatures features;
        return buildItemMenu(itemMenuInput(*manager, listedItems(*manager, ids(targets)), features));
    }

    // Opens the menu as the popup would and chooses the entry labelled `label` (in a submenu too).
    void choose(const QList<ClipboardItem>& targets, const QString& label)
    {
        const ItemMenuModel model = menuFor(targets);
        std::optional<ItemMenuEntry> chosen;
        QMenu menu;
        ItemContextMenu::populate(menu, model, [&](const ItemMenuEntry& e) { chosen = e; });
        QAction* action = findAction(menu, label);
        ASSERT_NE(action, nullptr) << label.toStdString() << " in " << model.labels().join(" | ").toStdString();
        action->trigger();
        ASSERT_TRUE(chosen);
        actions->run(model, *chosen);
    }

    static QAction* findAction(QMenu& menu, const QString& label)
    {
        for (QAction* a : menu.actions()) {
            if (a->text() == label)
                return a;
            if (a->menu())
                if (QAction* inner = findAction(*a->menu(), label))
                    return inner;
        }
        return nullptr;
    }

    static QList<QUuid> ids(const QList<ClipboardItem>& items)
    {
        QList<QUuid> list;
        for (const ClipboardItem& i : items)
            list << i.id;
        return list;
    }

    ClipboardItem now(const ClipboardItem& item) { return current(item.id).value(); }

    HeldPrompts prompts;
    RecordingFileManager files;
    QList<std::optional<SettingsTab>> settingsOpened;
    int quits = 0;
    QPointer<PopupPanel> panel;
    std::unique_ptr<ItemActions> actions;
};

TEST_F(ItemActionsTest, OneItemEntriesReachTheHistory)
{
    const ClipboardItem a = addText(QStringLiteral("alpha"));
    ASSERT_TRUE(manager->addCategory({QUuid::createUuid(), QStringLiteral("Work"), QStringLiteral("folder.fill"), false, 0}).ok());
    const QUuid work = manager->categories().first().id;

    choose({a}, QStringLiteral("Pin this on Top"));
    EXPECT_TRUE(now(a).isPinnedToTop);
    choose({a}, QStringLiteral("Unpin"));
    choose({a}, QStringLiteral("Star this Item"));
    choose({a}, QStringLiteral("Sensitive Data"));
    EXPECT_TRUE(now(a).isPinned);
    EXPECT_TRUE(now(a).isSensitive);
    choose({a}, QStringLiteral("Work"));
    EXPECT_EQ(now(a).categoryId, work);
    choose({a}, QStringLiteral("Work")); // the checked category is switched off
    EXPECT_EQ(now(a).categoryId, std::nullopt);

    // The delete confirmation of a sensitive item shows it masked; Cancel keeps it.
    prompts.script.answerNext(1);
    choose({a}, QStringLiteral("Delete"));
    ASSERT_EQ(prompts.script.shown.size(), 1);
    EXPECT_EQ(prompts.script.shown[0].title, QStringLiteral("Delete this item?"));
    EXPECT_EQ(prompts.script.shown[0].text, now(a).maskedDisplayText());
    EXPECT_FALSE(now(a).isTrashed);
    choose({a}, QStringLiteral("Delete"));
    EXPECT_TRUE(now(a).isTrashed);
    EXPECT_EQ(prompts.holds, QList<int>({1, 1})) << "the popup is held while each alert is up";
    EXPECT_EQ(panel->holdCount(), 0);
}

TEST_F(ItemActionsTest, SeveralItemEntriesTouchTheVisibleSelection)
{
    const ClipboardItem a = addText(QStringLiteral("alpha"));
    const ClipboardItem b = addText(QStringLiteral("beta"));
    const ClipboardItem c = addText(QStringLiteral("gamma"));
    const ClipboardItem hidden = addText(QStringLiteral("hidden"));
    manager->filters().setSearchText(QStringLiteral("a"));
    manager->filters().applyPendingSearch();
    const QList<QUuid> selection = {a.id, b.id, c.id, hidden.id};

    const QList<ClipboardItem> targets = itemMenuTargets(*manager, a.id, selection);
    ASSERT_EQ(targets.size(), 3);
    EXPECT_TRUE(menuFor(targets).labels().contains(QStringLiteral("Pin 3 Items on Top")));
    EXPECT_EQ(itemMenuTargets(*manager, QUuid::createUuid(), selection).size(), 0);

    choose(targets, QStringLiteral("Pin 3 Items on Top"));
    choose(targets, QStringLiteral("Star 3 Items"));
    choose(targets, QStringLiteral("Sensitive Data"));
    for (const ClipboardItem& i : targets) {
        EXPECT_TRUE(now(i).isPinnedToTop && now(i).isPinned && now(i).isSensitive) << now(i).textContent->toStdString();
    }
    EXPECT_FALSE(now(hidden).isPinnedToTop || now(hidden).isPinned || now(hidden).isSensitive);
    choose(targets, QStringLiteral("Unpin 3 Items"));
    EXPECT_FALSE(now(b).isPinnedToTop);

    QSignalSpy cleared(actions.get(), &ItemActions::selectionCleared);
    choose(targets, QStringLiteral("Delete 3 Items"));
    ASSERT_EQ(prompts.script.shown.size(), 1);
    EXPECT_EQ(prompts.script.shown[0].title, QStringLiteral("Delete 3 items?"));
    EXPECT_TRUE(now(a).isTrashed && now(b).isTrashed && now(c).isTrashed);
    EXPECT_FALSE(now(hidden).isTrashed);
    EXPECT_EQ(cleared.size(), 1);
}

TEST_F(ItemActionsTest, RecycleBinEntriesAndTheirShortcutGrabs)
{
    ClipboardItem withKey;
    withKey.textContent = QStringLiteral("keyed");
    withKey.shortcut = ItemShortcut{9, ItemShortcut::commandFlag | ItemShortcut::optionFlag};
    withKey.isTrashed = true;
    withKey = addItem(withKey);
    ClipboardItem old;
    old.textContent = QStringLiteral("old");
    old.isTrashed = true;
    old = addItem(old);
    ClipboardItem back;
    back.textContent = QStringLiteral("back");
    back.isTrashed = true;
    back = addItem(back);
    manager->filters().setShowRecycleBin(true);

    QSignalSpy shortcuts(manager.get(), &ClipboardManager::itemShortcutsChanged);
    choose({withKey}, QStringLiteral("Delete Permanently"));
    EXPECT_FALSE(current(withKey.id)) << "gone without a confirmation";
    EXPECT_EQ(shortcuts.size(), 1) << "its global shortcut is released at once";
    EXPECT_TRUE(prompts.script.shown.isEmpty());

    choose({back}, QStringLiteral("Restore"));
    EXPECT_FALSE(now(back).isTrashed);

    prompts.script.answerNext(1);
    choose({old}, QStringLiteral("Empty Recycle Bin"));
    EXPECT_EQ(prompts.script.shown.last().text, QStringLiteral("1 item will be permanently deleted. This cannot be undone."));
    EXPECT_TRUE(current(old.id));
    choose({old}, QStringLiteral("Empty Recycle Bin"));
    EXPECT_FALSE(current(old.id));
}

TEST_F(ItemActionsTest, ShowInFileManagerActsOnExistingLocalFilesOnly)
{
    QTemporaryDir dir;
    const QString present = dir.filePath(QStringLiteral("here.txt"));
    QFile file(present);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString gone = dir.filePath(QStringLiteral("gone.txt"));
    const ClipboardItem both = addFiles({bookmark(gone), bookmark(present)}, {fileUrl(gone), fileUrl(present)});
    const ClipboardItem missing = addFiles({bookmark(gone)}, {fileUrl(gone)});

    choose({both}, QStringLiteral("Show in File Manager"));
    ASSERT_EQ(files.shown.size(), 1);
    EXPECT_EQ(files.shown[0], QList<QUrl>({QUrl::fromLocalFile(present)}));
    EXPECT_TRUE(prompts.script.shown.isEmpty());

    choose({missing}, QStringLiteral("Show in File Manager"));
    EXPECT_EQ(files.shown.size(), 1);
    ASSERT_EQ(prompts.script.shown.size(), 1);
    EXPECT_EQ(prompts.script.shown[0].title, QStringLiteral("File missing"));
    EXPECT_EQ(prompts.script.shown[0].text, QStringLiteral("The file or folder may have been moved or deleted."));
    EXPECT_EQ(prompts.holds, QList<int>({1}));

    // With no program to show files, the user is told where the file is.
    files.available = false;
    choose({both}, QStringLiteral("Show in File Manager"));
    EXPECT_EQ(files.shown.size(), 2);
    ASSERT_EQ(prompts.script.shown.size(), 2);
    EXPECT_EQ(prompts.script.shown[1].title, QStringLiteral("Can't show in file manager"));
    EXPECT_EQ(prompts.script.shown[1].text, noFileManagerText(dir.path()));
}

TEST_F(ItemActionsTest, TakeMeThereClearsTheFiltersButTheTagsOnlyMode)
{
    ClipboardItem a;
    a.textContent = QStringLiteral("alpha");
    a.tags = {QStringLiteral("alp")};
    a = addItem(a);
    manager->filters().setSearchText(QStringLiteral("alp"));
    manager->filters().setSearchTagsOnly(true);
    manager->filters().setDateFilterOption(DateFilterOption::last7Days);
    manager->filters().applyPendingSearch();
    QSignalSpy scroll(actions.get(), &ItemActions::scrollToItemRequested);
    choose({a}, QStringLiteral("Take Me There"));
    EXPECT_TRUE(manager->filters().searchText().isEmpty());
    EXPECT_FALSE(manager->filters().dateFilterOption());
    EXPECT_TRUE(manager->filters().searchTagsOnly());
    ASSERT_EQ(scroll.size(), 1);
    EXPECT_EQ(scroll[0][0].toUuid(), a.id);
}

TEST_F(ItemActionsTest, FooterControlsAndCategoryChips)
{
    ClipboardItem filed;
    filed.textContent = QStringLiteral("filed");
    filed = addItem(filed);
    for (const char* name : {"Work", "Personal", "Recipes", "Receipts 2026", "Travel plans", "Reading list"})
        ASSERT_TRUE(manager->addCategory({QUuid::createUuid(), QString::fromUtf8(name), QStringLiteral("folder.fill"), false, 0}).ok());
    const ClipboardCategory work = manager->categories().first();
    (void)manager->setItemCategory(filed, work.id);

    QWidget host; // the popup's footer place
    auto* hostLayout = new QHBoxLayout(&host);
    hostLayout->setContentsMargins(12, 6, 12, 6);
    PopupFooter& footer = *new PopupFooter(*manager, &host);
    hostLayout->addWidget(&footer);
    host.resize(420, host.sizeHint().height());
    host.show();
    footer.button(FooterButton::Kind::settings)->click();
    EXPECT_EQ(settingsOpened, QList<std::optional<SettingsTab>>({SettingsTab::general}));
    footer.button(FooterButton::Kind::typeFilter, TypeFilterOption::images)->click();
    footer.button(FooterButton::Kind::typeFilter, TypeFilterOption::links)->click();
    EXPECT_EQ(manager->filters().typeFilterOption(), TypeFilterOption::links);
    footer.button(FooterButton::Kind::typeFilter, TypeFilterOption::links)->click();
    EXPECT_EQ(manager->filters().typeFilterOption(), std::nullopt);
    footer.button(FooterButton::Kind::starFilter)->click();
    EXPECT_TRUE(manager->filters().showStarredOnly());

    ASSERT_EQ(footer.categoryBar()->pills().size(), 6);
    footer.categoryBar()->pills().first()->click();
    EXPECT_EQ(manager->filters().selectedCategoryId(), work.id);
    QCoreApplication::processEvents();
    footer.categoryBar()->pills().first()->click();
    EXPECT_EQ(manager->filters().selectedCategoryId(), std::nullopt);
    manager->filters().setSelectedCategoryId(work.id);
    QCoreApplication::processEvents();

    for (const auto& [palette, suffix] : {std::pair{QApplication::palette(), "light"}, std::pair{darkPalette(), "dark"}}) {
        host.setPalette(palette);
        host.setAutoFillBackground(true);
        QCoreApplication::processEvents();
        saveArtifact(host, QStringLiteral("popup-footer-") + QLatin1String(suffix));
        saveArtifact(*footer.categoryBar(), QStringLiteral("category-bar-") + QLatin1String(suffix));

        QMenu menu;
        menu.setPalette(palette);
        const ClipboardItem shown = now(filed);
        ItemMenuFeatures features;
        features.categoryCreator = features.tagEditor = features.commentEditor = features.preview = true;
        ItemMenuInput input = itemMenuInput(*manager, {shown}, features);
        input.filtersActive = true;
        ItemContextMenu::populate(menu, buildItemMenu(input), [](const ItemMenuEntry&) {});
        menu.popup(QPoint(0, 0));
        saveArtifact(menu, QStringLiteral("item-menu-") + QLatin1String(suffix));
        menu.close();

        QMenu* durations = footer.pauseButton()->makeDurationMenu(nullptr);
        durations->setPalette(palette);
        durations->popup(QPoint(0, 0));
        saveArtifact(*durations, QStringLiteral("pause-menu-") + QLatin1String(suffix));
        delete durations;
    }

    // Deleting a chip's category with its items; cancelling the quit, then confirming it.
    prompts.script.checkNext(true);
    footer.categoryBar()->pills().first()->confirmDelete(panel);
    EXPECT_EQ(prompts.script.shown.last().title, QStringLiteral("Delete \"Work\"?"));
    EXPECT_EQ(prompts.script.shown.last().checkBoxTitle, QStringLiteral("Also delete items in this category"));
    EXPECT_TRUE(now(filed).isTrashed);
    EXPECT_EQ(manager->filters().selectedCategoryId(), std::nullopt);
    QCoreApplication::processEvents();
    EXPECT_EQ(footer.categoryBar()->pills().size(), 5);

    prompts.script.answerNext(1);
    footer.button(FooterButton::Kind::quit)->click();
    EXPECT_EQ(quits, 0);
    footer.button(FooterButton::Kind::quit)->click();
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(prompts.script.shown.last().title, QStringLiteral("Quit Lumra?"));
    EXPECT_EQ(prompts.holds, QList<int>({1, 1, 1}));
}

TEST_F(ItemActionsTest, ThePopupViewCarriesTheFooterAndClearsItsSelection)
{
    const ClipboardItem a = addText(QStringLiteral("alpha"));
    const ClipboardItem b = addText(QStringLiteral("beta"));
    ASSERT_TRUE(manager->addCategory({QUuid::createUuid(), QStringLiteral("Work"), QStringLiteral("folder.fill"), false, 0}).ok());
    ContentView view(*manager, nullptr);
    view.setPanel(panel);
    auto* controller = new ItemMenuController(view);
    view.resize(420, 360);
    view.show();
    EXPECT_TRUE(view.footerHost()->isVisibleTo(&view));

    for (const auto& [palette, suffix] : {std::pair{QApplication::palette(), "light"}, std::pair{darkPalette(), "dark"}}) {
        view.setPalette(palette);
        view.setAutoFillBackground(true);
        QCoreApplication::processEvents();
        saveArtifact(view, QStringLiteral("popup-with-footer-") + QLatin1String(suffix));
    }

    view.viewState().setSelectedIds({a.id, b.id});
    EXPECT_EQ(controller->menuFor({a.id, b.id}).labels().last(), QStringLiteral("Delete 2 Items"));
    controller->actions().run(controller->menuFor({a.id, b.id}), *controller->menuFor({a.id, b.id}).find(ItemMenuAction::deleteItems));
    EXPECT_TRUE(view.viewState().selectedIds().isEmpty());
    EXPECT_TRUE(now(a).isTrashed && now(b).isTrashed);

    for (auto setter : {&ClipboardManager::setShowSettingsIcon, &ClipboardManager::setShowStarFilterIcon,
                        &ClipboardManager::setShowImageFilterIcon, &ClipboardManager::setShowLinkFilterIcon,
                        &ClipboardManager::setShowTextFilterIcon, &ClipboardManager::setShowEmailFilterIcon,
                        &ClipboardManager::setShowPauseButton, &ClipboardManager::setShowQuitButton,
                        &ClipboardManager::setShowCategoriesInFooter})
        (manager.get()->*setter)(false);
    EXPECT_FALSE(view.footerHost()->isVisibleTo(&view)) << "no footer and no divider with every control off";
}

} // namespace
} // namespace lumra
