#include "ui/popup/ContentView.h"
#include "engine/HistoryFilter.h"

#include "ui/shell/PopupPanel.h"
#include "engine/PasteService.h"
#include "engine/ItemMedia.h"
#include "model/NotificationCenter.h"
#include "ui/items/ItemRowDelegate.h"
#include "ui/popup/HistoryListModel.h"
#include "ui/popup/HistoryListView.h"
#include "ui/popup/ItemMenuController.h"
#include "ui/popup/PopupFooter.h"
#include "ui/popup/SearchBar.h"
#include "ui/items/CategoryBar.h"
#include "ui/items/CategoryPill.h"
#include "ui/items/FilterBadge.h"
#include "ui/items/HorizontalWheelScrollArea.h"
#include "platform/core/BackgroundWork.h"
#include "model/store/StoreSchema.h"

#include "app/ShellTestSupport.h"
#include "FocusTakingPrompts.h"
#include "Screenshots.h"
#include "TestImages.h"

#include <QApplication>
#include <QLabel>
#include <QBuffer>
#include <QDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QTest>
#include <QFutureWatcher>
#include <QScopeGuard>

#include <future>

namespace lumra {
namespace {

class ContentViewTest : public test::ShellTest {
protected:
    void SetUp() override
    {
        manager = makeManager();
        manager->setClipboardItems({textItem("alpha"), textItem("beta"), textItem("gamma")});
        open();
    }
    void TearDown() override { delete panel; }

    void open()
    {
        panel = new PopupPanel(QSize(360, 520));
        view = new ContentView(*manager, nullptr);
        view->setPanel(panel);
        panel->setContentWidget(view);
        panel->present(QPoint(0, 0));
        processEvents();
        clock.advance(ContentView::focusDelay);
    }

    HistoryListModel& model() const { return *view->listView()->historyModel(); }
    QLineEdit* field() const { return view->searchAreaHost()->findChild<QLineEdit*>(); }

    QStringList rows() const
    {
        QStringList texts;
        for (int row = 0; row < model().rowCount(); ++row) {
            if (const ClipboardItem* item = model().itemAt(row))
                texts << item->displayText();
        }
        return texts;
    }

    QUuid idOf(const QString& text) const
    {
        for (int row = 0; row < model().rowCount(); ++row) {
            if (const ClipboardItem* item = model().itemAt(row); item && item->displayText() == text)
                return item->id;
        }
        return {};
    }

    QPoint rowCentre(const QString& text) const
    {
        return view->listView()->visualRect(model().indexOf(idOf(text))).center();
    }

    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(field(), k, modifiers); }

    // A fresh opening over "item 0" … "item <count - 1>".
    QList<ClipboardItem> openOver(int count)
    {
        QList<ClipboardItem> many;
        for (int i = 0; i < count; ++i)
            many << textItem(QStringLiteral("item %1").arg(i));
        manager->setClipboardItems(many);
        view->resetForOpening();
        processEvents();
        return many;
    }

    // Clicks of the wheel towards the end of the list, the mouse held still at `pointer`.
    void wheelDown(QPoint pointer, int clicks)
    {
        QWidget* viewport = view->listView()->viewport();
        for (int click = 0; click < clicks; ++click) {
            QWheelEvent wheel(pointer, viewport->mapToGlobal(pointer), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewport, &wheel);
        }
        processEvents();
    }

    bool wrote(const char* mime) const
    {
        for (const PasteboardRepresentation& r : pasteboard.writes().last()) {
            if (r.mimeType.startsWith(QLatin1String(mime)))
                return true;
        }
        return false;
    }

    std::unique_ptr<ClipboardManager> manager;
    QPointer<PopupPanel> panel;
    ContentView* view = nullptr;
};

// The time-saved message shows its "&" as it is, makes no keyboard accelerator of it, and reads in
// the secondary colour like the rest of the header.
TEST_F(ContentViewTest, TheTimeSavedMessageShowsItsAmpersandInTheSecondaryColour)
{
    const QString message = QStringLiteral("Saved 1 minute of copying & pasting");
    view->viewState().setSavingsMessage(message);
    QPushButton* button = nullptr;
    for (QPushButton* each : view->findChildren<QPushButton*>()) {
        if (each->isVisibleTo(view) && each->toolTip().contains(QLatin1String("time-saved")))
            button = each;
    }
    ASSERT_TRUE(button);
    EXPECT_TRUE(QKeySequence::mnemonic(button->text()).isEmpty());
    QString shown = button->text();
    EXPECT_EQ(shown.replace(QLatin1String("&&"), QLatin1String("&")), message);
    const QColor text = button->palette().color(QPalette::ButtonText);
    EXPECT_LT(text.alphaF(), 1.0);
    EXPECT_EQ(text.rgb(), view->palette().color(QPalette::WindowText).rgb());

    // A symbol no font can draw is left out, never drawn as an empty box; emoji stay.
    view->viewState().setSavingsMessage(message + QStringLiteral(" ") + QString::fromUcs4(U"\U0010FFFD"));
    shown = button->text();
    EXPECT_EQ(shown.replace(QLatin1String("&&"), QLatin1String("&")), message);
    view->viewState().setSavingsMessage(message + QStringLiteral(" \U0001F389"));
    QApplication::processEvents();
    QWidget* header = button->parentWidget();
    test::saveArtifact(*header, QStringLiteral("popup-header-time-saved"));
}

TEST_F(ContentViewTest, TypeDownReturnPastesTheNarrowedChoiceAfterThePopupCloses)
{
    workspace.setFrontmost(AppIdentity{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), 1, 2});
    EXPECT_TRUE(field()->hasFocus());
    QSignalSpy told(&manager->paste(), &PasteService::pasteFailed);
    key(Qt::Key_Return);
    EXPECT_TRUE(pasteboard.writes().isEmpty()) << "nothing is chosen yet";
    EXPECT_EQ(told.count(), 1) << "and the user hears so";

    QTest::keyClicks(field(), "a");
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Up);
    key(Qt::Key_Return);
    EXPECT_EQ(lastWrittenText(), QStringLiteral("beta"));
    EXPECT_TRUE(panel.isNull() || panel->isClosed());
    EXPECT_EQ(injector.pasteCount(), 0);
    clock.advance(ContentView::pasteDelay);
    EXPECT_EQ(injector.pasteCount(), 1);
}

// A long rich text's forms are made on a lane before anything is written, and the popup says so
// meanwhile. Closing it then (Escape, the shortcut, another window taking the focus) cancels the
// paste: nothing is written, no key goes and nothing is marked pasted, even once the lane is free.
TEST_F(ContentViewTest, ClosingThePopupWhileARichPasteIsPreparedCancelsIt)
{
    BackgroundWork& work = manager->work();
    const auto lane = BackgroundWork::Lane::previews;
    const int threads = work.maxThreadCount(lane);
    work.setMaxThreadCount(lane, 1);
    const auto restore = qScopeGuard([&] { work.setMaxThreadCount(lane, threads); });
    // Holds the lane's one thread, so the paste's forms wait behind it until released.
    struct Gate {
        std::promise<void> open;
        std::shared_future<void> opened = open.get_future().share();
        bool isOpen = false;
        void release() { if (!std::exchange(isOpen, true)) open.set_value(); }
        ~Gate() { release(); }
    };
    // Once a task queued now has run, the lane's earlier tasks have ended and their results are in.
    const auto drainLane = [&] {
        QFutureWatcher<void> behind;
        QSignalSpy done(&behind, &QFutureWatcherBase::finished);
        behind.setFuture(work.run(lane, [] { }));
        ASSERT_TRUE(done.wait(10000));
        processEvents();
        clock.advance(std::chrono::seconds(2));
    };

    ClipboardItem item = textItem("bold words");
    item.rtfData = QByteArray("{\\rtf1\\ansi {\\b bold} words}");
    const ClipboardItem rich = test::insertItem(*manager, item);
    const auto lastPasted = [&] { return manager->fetchManagedItem(rich.id)->date(store::ItemAttr::lastPastedDate); };
    workspace.setFrontmost(AppIdentity{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), 1, 2});

    const std::vector<std::pair<const char*, std::function<void()>>> closings {
        {"Escape", [&] { key(Qt::Key_Escape); }},
        {"the shortcut", [&] { panel->close(); }},
        {"another window takes the focus", [&] {
             QEvent deactivate(QEvent::WindowDeactivate);
             QApplication::sendEvent(panel, &deactivate);
         }},
    };
    for (const auto& [closing, close] : closings) {
        SCOPED_TRACE(closing);
        delete panel;
        manager->setClipboardItems({rich});
        open();
        Gate gate;
        work.start(lane, [opened = gate.opened] { opened.wait(); });
        key(Qt::Key_Down);
        key(Qt::Key_Return);
        auto* status = view->findChild<QLabel*>(QStringLiteral("pasteStatus"));
        ASSERT_TRUE(status);
        EXPECT_TRUE(status->isVisibleTo(view)) << "the popup says the paste is being prepared";
        if (std::string_view(closing) == "Escape")
            test::saveArtifact(*view, QStringLiteral("popup-preparing-paste"));
        clock.advance(std::chrono::seconds(1));
        close();
        EXPECT_FALSE(manager->paste().preparing());
        gate.release();
        drainLane();
        EXPECT_TRUE(pasteboard.writes().isEmpty()) << "written after the popup closed";
        EXPECT_EQ(injector.pasteCount(), 0);
        EXPECT_FALSE(lastPasted());
    }
    EXPECT_FALSE(manager->userDefaults().readableInteger(QStringLiteral("totalSuccessfulPastes")));

    // Left open, the same paste is written once its forms are made, and its key goes.
    delete panel;
    manager->setClipboardItems({rich});
    open();
    Gate gate;
    work.start(lane, [opened = gate.opened] { opened.wait(); });
    key(Qt::Key_Down);
    key(Qt::Key_Return);
    gate.release();
    drainLane();
    EXPECT_TRUE(wrote("text/rtf"));
    EXPECT_EQ(injector.pasteCount(), 1);
    EXPECT_TRUE(lastPasted());
}

TEST_F(ContentViewTest, ShiftReturnPastesPlainTextAndAFailedWriteKeepsThePopup)
{
    ClipboardItem rich = textItem("bold");
    rich.rtfData = QByteArray("{\\rtf1 {\\b bold}}");
    manager->setClipboardItems({rich});
    key(Qt::Key_Down);
    pasteboard.setWriteError(QStringLiteral("refused"));
    key(Qt::Key_Return);
    ASSERT_FALSE(panel.isNull());
    EXPECT_FALSE(panel->isClosed());
    clock.advance(ContentView::pasteDelay);
    EXPECT_EQ(injector.pasteCount(), 0);

    pasteboard.setWriteError(QString());
    key(Qt::Key_Down);
    key(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(lastWrittenText(), QStringLiteral("bold"));
    EXPECT_FALSE(wrote("text/rtf"));
}

TEST_F(ContentViewTest, ClickPastesOrSelectsAsTheSettingsSay)
{
    manager->setKeepWindowOpen(true);
    int asked = 0;
    QObject context;
    NotificationCenter::defaultCenter().observe(Notifications::activatePreviousAppForPaste, &context,
                                                [&](const QVariantMap&) { ++asked; });
    QWidget* viewport = view->listView()->viewport();

    // Ctrl-click only selects, in the order of the clicks.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, rowCentre("gamma"));
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, rowCentre("alpha"));
    EXPECT_TRUE(pasteboard.writes().isEmpty());
    EXPECT_EQ(view->viewState().selectedIds(), (QList<QUuid>{idOf("gamma"), idOf("alpha")}));

    // A filtered-away selected row is not counted nor pasted.
    QList<QUuid> visible;
    QList<QUuid> menuIds;
    QObject::connect(view, &ContentView::contextMenuRequested, &context, [&](QList<QUuid> ids, QPoint) { menuIds = ids; });
    QTest::keyClicks(field(), "gam");
    manager->filters().applyPendingSearch();
    EXPECT_EQ(view->visibleSelectedIds(), QList<QUuid>{idOf("gamma")});
    field()->clear();
    manager->filters().applyPendingSearch();
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, rowCentre("alpha"), viewport->mapToGlobal(rowCentre("alpha")));
    QApplication::sendEvent(viewport, &rightClick);
    EXPECT_EQ(menuIds, (QList<QUuid>{idOf("gamma"), idOf("alpha")}));

    // Return pastes the selection, in selection order, after the previous application came forward.
    key(Qt::Key_Return);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(view->viewState().selectedIds().isEmpty());
    clock.advance(ContentView::selectionPasteDelay);
    clock.advance(std::chrono::seconds(2));
    ASSERT_FALSE(pasteboard.writes().isEmpty());

    // With double click chosen, one click pastes nothing.
    const qsizetype writes = pasteboard.writes().size();
    manager->setDoubleTapToCopy(true);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, rowCentre("beta"));
    EXPECT_EQ(pasteboard.writes().size(), writes);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, rowCentre("beta"));
    EXPECT_EQ(lastWrittenText(), QStringLiteral("beta"));
    manager->setDoubleTapToCopy(false);
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, rowCentre("alpha"));
    EXPECT_EQ(lastWrittenText(), QStringLiteral("alpha"));
    EXPECT_FALSE(panel->isClosed()) << "the window is kept open";
}

TEST_F(ContentViewTest, EveryOpeningAndRegainedFocusStartsClean)
{
    QTest::keyClicks(field(), "zzz");
    manager->filters().applyPendingSearch();
    EXPECT_TRUE(rows().isEmpty());
    delete panel;
    open();
    EXPECT_EQ(manager->filters().searchText(), QString());
    EXPECT_EQ(rows().size(), 3);

    // The window manager's first activation may come after the first keys: they stand.
    key(Qt::Key_Down);
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(panel, &activate);
    EXPECT_TRUE(view->viewState().keyboardSelectedId());

    view->viewState().toggleSelection(idOf("beta"));
    key(Qt::Key_Down);
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(panel, &deactivate);
    QApplication::sendEvent(panel, &activate);
    EXPECT_TRUE(view->viewState().selectedIds().isEmpty());
    EXPECT_FALSE(view->viewState().keyboardSelectedId());
    EXPECT_FALSE(view->viewState().isSearchFocused());
    clock.advance(ContentView::focusDelay);
    EXPECT_TRUE(view->viewState().isSearchFocused());
}

TEST_F(ContentViewTest, AMoveByTheHeaderIsNoNewOpening)
{
    // The window manager takes the move and the keyboard with it, and gives the focus back at its end.
    panel->setSystemMoveStarter([] { return true; });
    panel->setKeepWindowOpen(true);
    QApplication::setActiveWindow(panel);
    QTest::keyClicks(field(), "zzz");
    manager->filters().applyPendingSearch();
    manager->filters().setTypeFilterOption(TypeFilterOption::links);
    QWidget* header = view->findChild<QWidget*>(QStringLiteral("headerBand"));
    ASSERT_TRUE(header);
    const QPoint grab(header->width() / 2, header->height() / 2);
    QTest::mousePress(header, Qt::LeftButton, {}, grab);
    QMouseEvent move(QEvent::MouseMove, QPointF(grab), QPointF(header->mapToGlobal(grab + QPoint(40, 30))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header, &move);
    ASSERT_TRUE(panel->isMovedBySystem());
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(panel);
    QTest::mouseRelease(header, Qt::LeftButton, {}, grab);
    EXPECT_EQ(manager->filters().searchText(), QStringLiteral("zzz"));
    EXPECT_EQ(manager->filters().typeFilterOption(), TypeFilterOption::links);
    EXPECT_FALSE(panel->isMovedBySystem()) << "the move ended with the focus back";

    // Leaving for another application and coming back still starts clean.
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(panel);
    EXPECT_EQ(manager->filters().searchText(), QString());
    EXPECT_EQ(manager->filters().typeFilterOption(), std::nullopt);
    QApplication::setActiveWindow(nullptr);
}

// A row worked out again later (its thumbnail arrived) keeps the clock reading of the other rows, so
// the newer item above never reads as older than the one below it.
TEST_F(ContentViewTest, RowAgesShareOneClockReading)
{
    ClipboardItem newer = test::textItem(QStringLiteral("newer"), clock.now().addSecs(-30));
    ClipboardItem older = test::textItem(QStringLiteral("older"), clock.now().addSecs(-40));
    manager->setClipboardItems({newer, older});
    processEvents();
    ASSERT_EQ(rows(), (QStringList{"newer", "older"}));
    const auto age = [this](const QString& text) { return model().facts(model().rowOf(idOf(text))).metadataLine; };
    EXPECT_TRUE(age("older").startsWith(QLatin1String("40 sec ago"))) << age("older").toStdString();

    clock.advance(std::chrono::seconds(45));
    emit manager->media().thumbnailReady(newer.id);
    EXPECT_TRUE(age("newer").startsWith(QLatin1String("30 sec ago"))) << age("newer").toStdString();
    EXPECT_TRUE(age("older").startsWith(QLatin1String("40 sec ago"))) << age("older").toStdString();
}

TEST_F(ContentViewTest, TheListGrowsByABatchOnlyAfterTheUserScrolledToItsEnd)
{
    QList<ClipboardItem> many;
    for (int i = 0; i < 130; ++i)
        many << textItem(QStringLiteral("item %1").arg(i));
    manager->setClipboardItems(many);
    manager->setDisplayBatchSize(25);
    view->resetForOpening();
    EXPECT_EQ(rows().size(), 25);

    QScrollBar* bar = view->listView()->verticalScrollBar();
    bar->setValue(bar->maximum());
    processEvents();
    clock.advance(HistoryListModel::loadDelay);
    EXPECT_EQ(rows().size(), 25) << "no live scroll yet";

    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    processEvents();
    EXPECT_TRUE(model().isLoadingMore());
    clock.advance(HistoryListModel::loadDelay);
    EXPECT_EQ(rows().size(), 50);
    EXPECT_EQ(rows().first(), QStringLiteral("item 0"));

    // Down on the last built row brings the next batch at once and goes on; it stops at the
    // list's end. Up at the top of a window that starts later brings the batch above.
    for (int i = 0; i < 60; ++i)
        key(Qt::Key_Down);
    EXPECT_EQ(view->viewState().keyboardSelectedId(), idOf(QStringLiteral("item 59")));
    EXPECT_EQ(rows().size(), 75);
    for (int i = 0; i < 80; ++i)
        key(Qt::Key_Down);
    EXPECT_EQ(view->viewState().keyboardSelectedId(), idOf(QStringLiteral("item 129")));
    EXPECT_EQ(rows().size(), 130);
    clock.advance(HistoryListModel::loadDelay);
    EXPECT_EQ(rows().size(), 130);

    ASSERT_TRUE(model().showWindowAround(idOf(QStringLiteral("item 129"))));
    const int start = model().window().start;
    ASSERT_GT(start, 0);
    view->viewState().setKeyboardSelectedId(model().itemAt(model().firstItemRow())->id);
    key(Qt::Key_Up);
    EXPECT_EQ(model().window().start, std::max(0, start - 25));
    EXPECT_EQ(view->viewState().keyboardSelectedId(), idOf(QStringLiteral("item %1").arg(start - 1)));
}

TEST_F(ContentViewTest, AfterTheWheelScrollsTheHoveredRowIsTheOneUnderThePointer)
{
    const QList<ClipboardItem> many = openOver(60);
    HistoryListView* list = view->listView();
    QWidget* viewport = list->viewport();
    const QPoint pointer = rowCentre("item 3");
    QTest::mouseMove(viewport, pointer);
    ASSERT_EQ(view->viewState().hoveredItemId(), idOf("item 3"));

    wheelDown(pointer, 12);
    ASSERT_GT(list->verticalScrollBar()->value(), 0);
    const std::optional<QUuid> under = list->itemIdAt(pointer);
    ASSERT_TRUE(under);
    ASSERT_NE(*under, idOf("item 3"));
    EXPECT_EQ(view->viewState().hoveredItemId(), under);

    workspace.setFrontmost(AppIdentity{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), 1, 2});
    key(Qt::Key_Return);
    QString underText;
    for (const ClipboardItem& item : many)
        if (item.id == *under)
            underText = item.displayText();
    EXPECT_EQ(lastWrittenText(), underText);
}

// Down right after a turn of the wheel takes the row after the one under the pointer and moves the
// list only as far as that row needs to show: not at all when it is in view, never more than a row.
TEST_F(ContentViewTest, DownAfterTheWheelMovesTheListAtMostOneRow)
{
    openOver(60);
    HistoryListView* list = view->listView();
    QWidget* viewport = list->viewport();
    const QPoint pointer = rowCentre("item 1");
    QTest::mouseMove(viewport, pointer);
    wheelDown(pointer, 1);
    QScrollBar* bar = list->verticalScrollBar();
    const int scrolled = bar->value();
    ASSERT_GT(scrolled, 0);
    const std::optional<QUuid> under = list->itemIdAt(pointer);
    ASSERT_TRUE(under);

    const QModelIndex next = model().index(model().indexOf(*under).row() + 1);
    ASSERT_TRUE(model().itemAt(next.row()));
    ASSERT_TRUE(viewport->rect().contains(list->visualRect(next)));

    key(Qt::Key_Down);
    EXPECT_EQ(view->viewState().keyboardSelectedId(), model().itemAt(next.row())->id);
    EXPECT_EQ(bar->value(), scrolled) << "the row was in view";
    // A row further down is brought in at the edge, never to the middle.
    for (int i = 0; i < 6; ++i) {
        const int before = bar->value();
        key(Qt::Key_Down);
        const QModelIndex selected = model().indexOf(*view->viewState().keyboardSelectedId());
        EXPECT_LE(bar->value() - before, list->visualRect(selected).height());
        EXPECT_TRUE(viewport->rect().contains(list->visualRect(selected)));
    }
}

// A window mapped under a still pointer gets no motion event: the wheel's own position tells which
// row is under it, so Down goes on from there instead of jumping back to the top.
TEST_F(ContentViewTest, DownAfterTheWheelUnderAPointerThatNeverMovedGoesOnFromThere)
{
    openOver(60);
    HistoryListView* list = view->listView();
    const QPoint pointer = rowCentre("item 1");
    wheelDown(pointer, 3);
    const int scrolled = list->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);
    const std::optional<QUuid> under = list->itemIdAt(pointer);
    ASSERT_TRUE(under);
    EXPECT_EQ(view->viewState().hoveredItemId(), under);
    key(Qt::Key_Down);
    EXPECT_EQ(view->viewState().keyboardSelectedId(), model().itemAt(model().indexOf(*under).row() + 1)->id);
    EXPECT_EQ(list->verticalScrollBar()->value(), scrolled);
}

// The desktop switching to dark while the popup is open: the texts drawn in the muted colour follow.
TEST_F(ContentViewTest, TheEmptyStateTextFollowsALiveSwitchToDark)
{
    const QPalette previous = QApplication::palette();
    manager->setClipboardItems({});
    view->resetForOpening();
    processEvents();
    auto* empty = view->findChild<QLabel*>(QStringLiteral("emptyText"));
    ASSERT_TRUE(empty && empty->isVisible());
    ASSERT_LT(empty->palette().color(QPalette::WindowText).lightness(), 128);
    QApplication::setPalette(test::darkPalette());
    processEvents();
    const int text = empty->palette().color(QPalette::WindowText).lightness();
    const int background = empty->palette().color(QPalette::Window).lightness();
    QApplication::setPalette(previous);
    EXPECT_GT(text, background + 60) << "dark text on a dark popup";
}

TEST_F(ContentViewTest, EachNewSearchOrFilterStartsAtTheTopOfItsResults)
{
    QList<ClipboardItem> many;
    for (int i = 0; i < 60; ++i) {
        ClipboardItem item = textItem(QStringLiteral("item %1").arg(i));
        item.isPinned = i % 2 == 0;
        many << item;
    }
    manager->setClipboardItems(many);
    view->resetForOpening();
    processEvents();
    QScrollBar* bar = view->listView()->verticalScrollBar();
    auto scrollDown = [&] {
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        processEvents();
        ASSERT_GT(bar->value(), 0);
    };

    scrollDown();
    QTest::keyClicks(field(), "item"); // every row still matches: the same rows, a new search
    manager->filters().applyPendingSearch();
    processEvents();
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(model().itemAt(model().firstItemRow())->displayText(), "item 0");

    scrollDown();
    QTest::keyClicks(field(), " 1");
    manager->filters().applyPendingSearch();
    processEvents();
    EXPECT_EQ(bar->value(), 0);

    field()->clear();
    manager->filters().applyPendingSearch();
    scrollDown();
    manager->filters().setShowStarredOnly(true);
    processEvents();
    EXPECT_EQ(bar->value(), 0);

    // The same search over a changed history keeps the place.
    scrollDown();
    const int place = bar->value();
    ClipboardItem late = textItem("late");
    late.dateAdded = many.last().dateAdded.addDays(-1);
    late.isPinned = true;
    manager->setClipboardItems(QList<ClipboardItem>(many) << late);
    processEvents();
    EXPECT_EQ(bar->value(), place);
}

TEST_F(ContentViewTest, ARowIsMeasuredAgainWhenItsItemChangesAndKeepsItsHeightAcrossSearches)
{
    ClipboardItem item = textItem("one line");
    const ClipboardItem other = textItem("other");
    manager->setClipboardItems({item, other});
    view->resetForOpening();
    processEvents();
    HistoryListView* list = view->listView();
    const int oneLine = list->visualRect(model().indexOf(item.id)).height();
    ASSERT_GT(oneLine, 0);

    item.textContent = QStringLiteral("first\nsecond\nthird");
    manager->setClipboardItems({item, other});
    processEvents();
    const int threeLines = list->visualRect(model().indexOf(item.id)).height();
    EXPECT_GT(threeLines, oneLine);

    QTest::keyClicks(field(), "first");
    manager->filters().applyPendingSearch();
    processEvents();
    EXPECT_EQ(list->visualRect(model().indexOf(item.id)).height(), threeLines);
}

TEST_F(ContentViewTest, TheSavingsResetAlertGivesTheKeysBackToThePopup)
{
    QPushButton* reset = nullptr;
    for (QPushButton* button : view->findChildren<QPushButton*>())
        if (button->toolTip() == QStringLiteral("Click to reset your time-saved counter"))
            reset = button;
    ASSERT_TRUE(reset);
    test::FocusTakingPrompts prompts;
    PromptService::setShared(&prompts);
    for (int answer : {1, 0}) { // Cancel, then Reset
        QApplication::setActiveWindow(panel);
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == panel; }, 3000));
        prompts.answer = answer;
        reset->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == panel; }, 3000)) << answer;
    }
    PromptService::setShared(nullptr);
    EXPECT_EQ(prompts.titles.size(), 2);
}

// Whatever filter control, chip or footer button the user clicks, the next keys go on into the
// search field and Down moves through the list.
TEST_F(ContentViewTest, ClickedFilterControlsLeaveTheKeysWithTheSearchField)
{
    new ItemMenuController(*view); // the footer
    QList<QUuid> categories;
    for (int i = 0; i < 8; ++i) {
        categories << QUuid::createUuid();
        ASSERT_TRUE(manager->addCategory({categories.last(), QStringLiteral("Category %1").arg(i),
                                          QStringLiteral("folder.fill"), false, i}).ok());
    }
    QList<ClipboardItem> items;
    for (int i = 0; i < 6; ++i) {
        items << textItem(QStringLiteral("item %1").arg(i));
        items.last().isPinned = true;
        items.last().categoryId = categories.first();
    }
    manager->setClipboardItems(items);
    const auto narrowed = [&] {
        field()->clear();
        manager->filters().applyPendingSearch();
        manager->filters().setSelectedCategoryId(std::nullopt);
        manager->filters().setShowStarredOnly(false);
        manager->filters().setTypeFilterOption(std::nullopt);
        manager->filters().setExcludedTypes({TypeFilterOption::images, TypeFilterOption::links, TypeFilterOption::files,
                                   TypeFilterOption::folders, TypeFilterOption::colors, TypeFilterOption::emails});
        view->viewState().setKeyboardSelectedId(std::nullopt);
        field()->setFocus();
        processEvents();
    };
    auto* bar = view->findChild<SearchBar*>();
    auto* footer = view->findChild<PopupFooter*>();
    ASSERT_TRUE(bar && footer);
    const auto strip = [&] { return static_cast<HorizontalWheelScrollArea*>(bar->badgeStrip()); };
    const QList<std::pair<const char*, std::function<QWidget*()>>> controls = {
        {"badge", [&] { return bar->badges().value(0); }},
        {"hidden badges chip", [&] { return strip()->moreAfter(); }},
        {"category pill", [&] { return footer->categoryBar()->pills().value(0); }},
        {"star button", [&] { return footer->button(FooterButton::Kind::starFilter); }},
        {"text button", [&] { return footer->button(FooterButton::Kind::typeFilter, TypeFilterOption::text); }},
    };
    for (const auto& [name, control] : controls) {
        SCOPED_TRACE(name);
        narrowed();
        QWidget* target = control();
        ASSERT_TRUE(target && target->isVisible());
        // The badge's body, away from its remove button.
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(4, target->height() / 2));
        processEvents();
        QWidget* const withTheKeys = nullptr; // the keys go where the focus is
        QTest::keyClicks(withTheKeys, "item");
        EXPECT_EQ(field()->text(), QStringLiteral("item"));
        QTest::keyClick(withTheKeys, Qt::Key_Down);
        EXPECT_TRUE(view->viewState().keyboardSelectedId().has_value());
    }
    test::saveArtifact(*panel, QStringLiteral("popup-filters-after-click"));

    // Nothing else the popup shows takes the keyboard on a click either.
    view->viewState().setSavingsMessage(QStringLiteral("Saved 1 minute"));
    processEvents();
    for (QWidget* widget : panel->findChildren<QWidget*>()) {
        if (widget != field() && widget->isVisible() && (widget->focusPolicy() & Qt::ClickFocus))
            ADD_FAILURE() << widget->metaObject()->className() << " " << widget->toolTip().toStdString();
    }
}

TEST_F(ContentViewTest, WhileTheHistoryIsReadTheListSaysMoreIsComing)
{
    delete panel;
    test::storeItems(*manager, {textItem("stored")});
    manager.reset();
    manager = start([this](ClipboardManagerServices& services) {
        services.pasteboard = &pasteboard;
        services.workspace = &workspace;
        services.keyInjector = &injector;
        services.loadHistoryInBackground = true;
    });
    ASSERT_TRUE(manager->isLoadingHistory());
    ContentView loading(*manager, nullptr);
    loading.resetForOpening();
    const HistoryListModel& rowsModel = *loading.listView()->historyModel();
    ASSERT_EQ(rowsModel.rowCount(), 1);
    EXPECT_EQ(rowsModel.kindOf(0), HistoryListModel::RowKind::loaderBottom);
    EXPECT_TRUE(rowsModel.isLoadingMore());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !manager->isLoadingHistory(); }, 10000));
    processEvents();
    ASSERT_EQ(rowsModel.rowCount(), 1);
    EXPECT_EQ(rowsModel.kindOf(0), HistoryListModel::RowKind::item);
}

// Renders the popup over a history of every kind of item and saves the picture.
class ContentViewScreenshotTest : public ContentViewTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        previous = QApplication::palette();
        if (GetParam())
            QApplication::setPalette(test::darkPalette());
        manager = makeManager();
        fillHistory();
        open();
        panel->resize(420, 1400);
        processEvents();
    }
    void TearDown() override
    {
        ContentViewTest::TearDown();
        QApplication::setPalette(previous);
    }

    static QByteArray png(QSize size, QColor a, QColor b)
    {
        QImage image(size, QImage::Format_RGB32);
        QPainter painter(&image);
        QLinearGradient gradient(0, 0, size.width(), size.height());
        gradient.setColorAt(0, a);
        gradient.setColorAt(1, b);
        painter.fillRect(image.rect(), gradient);
        painter.setPen(Qt::white);
        painter.setFont(QFont(QString(), 40));
        painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Lumra"));
        painter.end();
        return test::pngBytes(image);
    }

    void fillHistory()
    {
        const QDateTime now = clock.now();
        manager->setShowExactTimestamps(false);
        const QString folder = dataDir.supportFolder() + QStringLiteral("/files");
        QDir().mkpath(folder + QStringLiteral("/Holiday Photos"));
        for (const char* name : {"report.pdf", "notes.txt", "budget.ods", "diagram.png"}) {
            QFile file(folder + QLatin1Char('/') + QLatin1String(name));
            file.open(QIODevice::WriteOnly);
            file.write("x");
        }
        const auto url = [&](const char* name) { return QUrl::fromLocalFile(folder + QLatin1Char('/') + QLatin1String(name)).toString(); };
        const auto at = [&](ClipboardItem item, qint64 secondsAgo) {
            item.dateAdded = now.addSecs(-secondsAgo);
            return item;
        };
        ClipboardCategory work{QUuid::createUuid(), QStringLiteral("Work"), QStringLiteral("briefcase.fill"), false, 0};
        manager->setCategories({work});

        QList<ClipboardItem> items;
        ClipboardItem pinned = at(test::textItem(QStringLiteral("Meeting moved to Thursday 10:00 — room 4.12, bring the quarterly numbers"), now), 40);
        pinned.isPinnedToTop = true;
        pinned.tags = {QStringLiteral("work"), QStringLiteral("calendar")};
        pinned.comment = QStringLiteral("Ask Dana about the projector");
        pinned.categoryId = work.id;
        pinned.sourceAppBundleId = QStringLiteral("org.mozilla.firefox");
        items << pinned;
        ClipboardItem starred = at(test::textItem(QStringLiteral("https://example.com/articles/very-long-path/that-keeps-going-on-and-on?utm=1"), now), 300);
        starred.isPinned = true;
        items << starred;
        items << at(test::textItem(QStringLiteral("someone.with.a.long.name@example.com"), now), 900);
        items << at(test::textItem(QStringLiteral("#0A84FF"), now), 3000);
        items << at(test::textItem(QStringLiteral("git log --oneline --graph --decorate"), now), 7200);
        ClipboardItem rich = at(test::textItem(QStringLiteral("Formatted paragraph with bold and italic words, copied from a word processor."), now), 86400 * 2);
        rich.rtfData = QByteArray("{\\rtf1 x}");
        rich.shortcut = ItemShortcut{18, ItemShortcut::commandFlag | ItemShortcut::optionFlag};
        items << rich;
        ClipboardItem secret = at(test::textItem(QStringLiteral("correct horse battery staple"), now), 86400 * 40);
        secret.isSensitive = true;
        items << secret;
        items << at(test::textItem(QStringLiteral("A long text that runs over several lines so the row has to cut it off at the line limit "
                                                  "set in the appearance settings.\nSecond line of it.\nThird line.\nFourth line that is never shown."),
                                   now),
                    86400 * 400);
        ClipboardItem files;
        files.id = QUuid::createUuid();
        files.contentType = ClipboardContentType::file;
        files.fileURLStrings = QStringList{url("report.pdf"), url("notes.txt"), url("budget.ods"), url("gone.txt")};
        items << at(files, 600);
        ClipboardItem mixed = files;
        mixed.id = QUuid::createUuid();
        mixed.fileURLStrings = QStringList{url("report.pdf"), url("Holiday Photos")};
        items << at(mixed, 650);
        ClipboardItem folderItem = files;
        folderItem.id = QUuid::createUuid();
        folderItem.fileURLStrings = QStringList{url("Holiday Photos")};
        items << at(folderItem, 700);
        ClipboardItem imageFile = files;
        imageFile.id = QUuid::createUuid();
        imageFile.fileURLStrings = QStringList{url("diagram.png")};
        items << at(imageFile, 800);
        ClipboardItem trashed = at(test::textItem(QStringLiteral("An old note that was deleted"), now), 86400 * 3);
        trashed.isTrashed = true;
        trashed.trashedDate = now.addSecs(-7200);
        items << trashed;
        manager->setClipboardItems(items);

        ClipboardItem screenshot;
        screenshot.contentType = ClipboardContentType::image;
        screenshot.imageFileName = QStringLiteral("shot.png");
        screenshot.ocrText = QStringLiteral("Total due: 1,240.00 EUR");
        screenshot.dateAdded = now.addSecs(-120);
        test::insertItem(*manager, screenshot, test::withImageData(png({640, 360}, QColor(40, 90, 200), QColor(200, 60, 120))));
        ClipboardItem photo = screenshot;
        photo.ocrText.reset();
        photo.imageFileName = QStringLiteral("photo.png");
        photo.dateAdded = now.addSecs(-200);
        photo.isPinned = true;
        test::insertItem(*manager, photo, test::withImageData(png({300, 300}, QColor(30, 160, 90), QColor(240, 200, 40))));
        ClipboardItem lost = photo;
        lost.imageFileName = QStringLiteral("lost.png");
        lost.isPinned = false;
        lost.dateAdded = now.addSecs(-250);
        test::insertItem(*manager, lost);
        // storeItems reloads from the store; put the text rows back beside the stored pictures.
        QList<ClipboardItem> all = manager->clipboardItems();
        for (ClipboardItem& item : all) {
            if (item.imageFileName == screenshot.imageFileName)
                item.ocrText = screenshot.ocrText;
        }
        for (const ClipboardItem& item : items) {
            if (!std::any_of(all.cbegin(), all.cend(), [&](const ClipboardItem& i) { return i.id == item.id; }))
                all << item;
        }
        manager->setClipboardItems(all);
    }

    QPalette previous;
};

TEST_P(ContentViewScreenshotTest, EveryKindOfItem)
{
    HistoryListView* list = view->listView();
    // Let the thumbnails arrive.
    for (int row = 0; row < model().rowCount(); ++row)
        list->viewport()->update();
    QTest::qWait(50);
    QTest::qWaitFor([&] {
        processEvents();
        bool all = true;
        for (int row = 0; row < model().rowCount(); ++row) {
            const ClipboardItem* item = model().itemAt(row);
            if (item && item->contentType == ClipboardContentType::image && item->imageFileName != QStringLiteral("lost.png"))
                all = all && manager->media().thumbnail(*item, 120).has_value();
        }
        return all;
    }, 5000);
    processEvents();
    view->viewState().setHoveredItemId(model().itemAt(2)->id);
    view->viewState().setKeyboardSelectedId(model().itemAt(4)->id);
    view->viewState().toggleSelection(model().itemAt(6)->id);
    processEvents();

    const QString folder = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
    QDir().mkpath(folder);
    const QString theme = GetParam() ? QStringLiteral("dark") : QStringLiteral("light");
    const auto save = [&](const QString& name) {
        processEvents();
        const QImage shot = panel->grab().toImage();
        ASSERT_FALSE(shot.isNull());
        EXPECT_TRUE(shot.save(folder + QStringLiteral("/popup-%1%2.png").arg(theme, name)));
    };
    save(QString());
    EXPECT_GE(model().itemRowCount(), 15);
    list->scrollToBottom();
    save(QStringLiteral("-end"));

    // The recycle bin, then a search that finds nothing, in a small panel.
    panel->resize(320, 460);
    manager->filters().setShowRecycleBin(true);
    ASSERT_EQ(model().itemRowCount(), 1);
    save(QStringLiteral("-bin"));
    manager->filters().setShowRecycleBin(false);
    QTest::keyClicks(field(), "no such thing");
    manager->filters().applyPendingSearch();
    save(QStringLiteral("-empty"));
}

INSTANTIATE_TEST_SUITE_P(Palettes, ContentViewScreenshotTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Dark" : "Light"; });

} // namespace
} // namespace lumra
