#include "ui/popup/SearchBar.h"
#include "engine/HistoryFilter.h"
#include "ui/items/HorizontalWheelScrollArea.h"

#include "ui/shell/AppActions.h"
#include "ui/shell/PopupPanel.h"
#include "ui/popup/ContentView.h"

#include "ui/items/CustomDateRangePicker.h"
#include "ui/items/FilterBadge.h"
#include "ui/items/FilterPickers.h"
#include "ui/items/PlaceholderHintView.h"
#include "ui/popup/SearchField.h"

#include "EngineFixture.h"
#include "Screenshots.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using namespace lumra;
using namespace lumra::test;

namespace {

class SearchBarTest : public EngineTest {
protected:
    void SetUp() override
    {
        AppActions::setHandlers({[this](std::optional<SettingsTab> tab) { settingsOpened.append(tab); }, {}});
        manager = start([this](ClipboardManagerServices& s) { s.workspace = &workspace; });
        const QDateTime now = clock.now();
        auto item = [&](const char* text, const char* bundleId, const char* app, int hoursAgo) {
            ClipboardItem i = textItem(QString::fromUtf8(text), now.addSecs(-3600 * hoursAgo));
            i.sourceAppBundleId = QString::fromLatin1(bundleId);
            i.sourceAppName = QString::fromLatin1(app);
            return i;
        };
        storeItems(*manager, {item("alpha quarterly report", "org.mozilla.firefox", "Firefox", 1),
                              item("https://example.com/alpha", "org.mozilla.firefox", "Firefox", 30),
                              item("beta meeting notes", "org.gnome.TextEditor", "Text Editor", 2),
                              item("ls -la /tmp", "org.gnome.Terminal", "Terminal", 200)});
        work = QUuid::createUuid();
        ASSERT_TRUE(manager->addCategory(ClipboardCategory{work, QStringLiteral("Work"), QStringLiteral("folder")}).ok());
        ASSERT_TRUE(manager->addCategory(ClipboardCategory{QUuid::createUuid(), QStringLiteral("Recipes"), QStringLiteral("heart.fill")}).ok());
    }

    void TearDown() override { AppActions::setHandlers({}); }

    // The bar in a window with the search area's margins, as the popup shows it.
    SearchBar* makeBar()
    {
        host = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(host.get());
        layout->setContentsMargins(12, 8, 12, 8);
        auto* bar = new SearchBar(*manager, host.get());
        layout->addWidget(bar);
        host->resize(880, 52);
        host->show();
        host->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(host.get()));
        return bar;
    }

    void choose(SearchBar& bar, FilterPopover popover, const QString& key)
    {
        bar.openPopover(popover);
        ASSERT_EQ(bar.openPopoverKind(), popover);
        auto* picker = qobject_cast<FilterPickerView*>(bar.popover()->content());
        ASSERT_TRUE(picker);
        PickerRow* row = picker->row(key);
        ASSERT_TRUE(row) << key.toStdString();
        QTest::mouseClick(row, Qt::LeftButton);
        EXPECT_EQ(bar.openPopoverKind(), std::nullopt);
    }

    static void save(QWidget* widget, const QString& name)
    {
        const QString folder = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
        QDir().mkpath(folder);
        widget->grab().save(folder + QLatin1Char('/') + name);
    }

    // Every popover and the bar, in the light and in the dark palette.
    void saveScreens(SearchBar& bar, const QString& theme)
    {
        QCoreApplication::processEvents();
        save(bar.window(), QStringLiteral("search-bar-badges-%1.png").arg(theme));
        const std::array<std::pair<FilterPopover, const char*>, 5> popovers{{{FilterPopover::date, "date"},
            {FilterPopover::customDate, "custom-range"}, {FilterPopover::type, "type"}, {FilterPopover::app, "app"},
            {FilterPopover::category, "category"}}};
        for (const auto& [popover, name] : popovers) {
            bar.openPopover(popover);
            QTest::qWait(20);
            save(bar.popover(), QStringLiteral("search-popover-%1-%2.png").arg(QLatin1String(name), theme));
            bar.closePopover();
        }
    }

    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<QWidget> host;
    QUuid work;
    QList<std::optional<SettingsTab>> settingsOpened;
};

TEST_F(SearchBarTest, TypingPickingPinningAndReopening)
{
    SearchBar* bar = makeBar();
    EXPECT_EQ(bar->searchField()->placeholder()->currentHint(), QStringLiteral("Search clipboard..."));
    EXPECT_FALSE(bar->clearButton()->isVisibleTo(bar));

    // Typing narrows the list once the 0.12 s pause has passed, in one computation.
    const quint64 before = manager->filters().filterRecomputations();
    QTest::keyClicks(bar->searchField(), QStringLiteral("alpha"));
    EXPECT_EQ(manager->filters().filteredItemCount(), 4);
    clock.advance(std::chrono::milliseconds(120));
    EXPECT_EQ(manager->filters().filteredItemCount(), 2);
    EXPECT_EQ(manager->filters().filterRecomputations(), before + 1);
    EXPECT_TRUE(bar->clearButton()->isVisibleTo(bar));
    EXPECT_FALSE(bar->searchField()->placeholder()->isVisibleTo(bar));

    // A slash command is a word of its own; a path is searched for.
    QTest::keyClicks(bar->searchField(), QStringLiteral(" /link"));
    EXPECT_EQ(bar->searchField()->text(), QStringLiteral("alpha "));
    EXPECT_EQ(manager->filters().typeFilterOption(), TypeFilterOption::links);
    bar->searchField()->clear();
    QTest::keyClicks(bar->searchField(), QStringLiteral("/tmp/cat"));
    EXPECT_EQ(bar->searchField()->text(), QStringLiteral("/tmp/cat"));
    EXPECT_EQ(bar->openPopoverKind(), std::nullopt);
    // A refused pattern says so under the row.
    manager->setSearchMode(QStringLiteral("regex"));
    bar->searchField()->setText(QStringLiteral("(a+)+"));
    clock.advance(std::chrono::milliseconds(120));
    EXPECT_TRUE(bar->errorLine()->isVisibleTo(bar));
    EXPECT_FALSE(bar->errorLine()->text().isEmpty());
    save(bar->window(), QStringLiteral("search-bar-refused-pattern.png"));
    manager->setSearchMode(QStringLiteral("contains"));
    QTest::mouseClick(bar->clearButton(), Qt::LeftButton);
    EXPECT_FALSE(bar->errorLine()->isVisibleTo(bar));
    EXPECT_EQ(manager->filters().searchText(), QString());
    EXPECT_EQ(manager->filters().typeFilterOption(), std::nullopt);
    EXPECT_EQ(manager->filters().filteredItemCount(), 4);

    // Each picker sets its filter, closes, and hands the keyboard back to the field.
    choose(*bar, FilterPopover::type, QStringLiteral("links"));
    EXPECT_EQ(manager->filters().typeFilterOption(), TypeFilterOption::links);
    EXPECT_TRUE(bar->searchField()->hasFocus());
    choose(*bar, FilterPopover::excludeType, QStringLiteral("commands"));
    choose(*bar, FilterPopover::excludeType, QStringLiteral("images"));
    EXPECT_EQ(manager->filters().excludedTypes(), (QSet<TypeFilterOption>{TypeFilterOption::commands, TypeFilterOption::images}));
    choose(*bar, FilterPopover::app, QStringLiteral("org.mozilla.firefox"));
    EXPECT_EQ(manager->filters().appFilterBundleId(), QStringLiteral("org.mozilla.firefox"));
    choose(*bar, FilterPopover::excludeApp, QStringLiteral("org.gnome.Terminal"));
    EXPECT_EQ(manager->filters().excludedAppBundleIds(), QSet<QString>{QStringLiteral("org.gnome.Terminal")});
    choose(*bar, FilterPopover::category, work.toString(QUuid::WithoutBraces));
    EXPECT_EQ(manager->filters().selectedCategoryId(), work);
    choose(*bar, FilterPopover::excludeDate, QStringLiteral("today"));
    EXPECT_EQ(manager->filters().excludedDateOption(), DateFilterOption::today);
    choose(*bar, FilterPopover::date, QStringLiteral("last7Days"));
    EXPECT_EQ(manager->filters().dateFilterOption(), DateFilterOption::last7Days);

    // "Custom" filters by the stored period at once and opens the range 0.3 s later.
    choose(*bar, FilterPopover::date, QStringLiteral("custom"));
    EXPECT_EQ(manager->filters().dateFilterOption(), DateFilterOption::custom);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->openPopoverKind() == FilterPopover::customDate; }, 2000));
    auto* range = qobject_cast<CustomDateRangePicker*>(bar->popover()->content());
    ASSERT_TRUE(range);
    EXPECT_EQ(range->fromField()->calendarWidget()->firstDayOfWeek(), CalendarSettings::current().firstDayOfWeek);
    EXPECT_EQ(range->toField()->maximumDate(), clock.now().toTimeZone(CalendarSettings::current().timeZone).date());
    const QDate lastWeek = range->toField()->date().addDays(-7);
    range->fromField()->setDate(lastWeek);
    EXPECT_EQ(manager->filters().customDateStart(), lastWeek.startOfDay(CalendarSettings::current().timeZone));
    QTest::mouseClick(range->applyButton(), Qt::LeftButton);
    EXPECT_EQ(bar->openPopoverKind(), std::nullopt);

    // The badges, in the bar's order; a removed one takes only its own filter.
    QStringList shown;
    for (FilterBadge* badge : bar->badges())
        shown << badge->spec().label;
    ASSERT_EQ(shown.size(), 8);
    EXPECT_EQ(shown.mid(1, 3), (QStringList{"Links", "Firefox", "Work"}));
    EXPECT_EQ(shown.mid(4), (QStringList{"Not Images", "Not Terminal Commands", "Not Today", "Not Terminal"}));
    saveScreens(*bar, QStringLiteral("light"));
    QApplication::setPalette(darkPalette());
    saveScreens(*bar, QStringLiteral("dark"));
    QApplication::setPalette(QPalette());

    QTest::mouseClick(bar->badges().at(4)->removeButton(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(manager->filters().excludedTypes(), QSet<TypeFilterOption>{TypeFilterOption::commands});

    // Pin, remove the category (its pin goes with it), and open again on the saved pin.
    QTest::keyClicks(bar->searchField(), QStringLiteral("/pin"));
    EXPECT_EQ(manager->filters().pinnedFilters().categoryId, work);
    EXPECT_TRUE(bar->badgeSpecs().at(3).isPinned);
    ASSERT_TRUE(manager->deleteCategory(work, false).ok());
    EXPECT_EQ(manager->filters().selectedCategoryId(), std::nullopt);
    EXPECT_EQ(manager->filters().pinnedFilters().categoryId, std::nullopt);
    EXPECT_EQ(bar->badgeSpecs().size(), 6);

    host.reset();
    manager.reset();
    manager = start([this](ClipboardManagerServices& s) { s.workspace = &workspace; });
    manager->filters().setSearchText(QString());
    manager->filters().resetFiltersToPinned();
    bar = makeBar();
    QStringList pinned;
    for (const FilterBadgeSpec& spec : bar->badgeSpecs())
        pinned << spec.label + (spec.isPinned ? "*" : "");
    EXPECT_TRUE(pinned.first().endsWith(QStringLiteral("*"))) << pinned.join(", ").toStdString(); // the custom period
    EXPECT_TRUE(pinned.contains(QStringLiteral("Links*")) && pinned.contains(QStringLiteral("Not Terminal Commands*")))
        << pinned.join(", ").toStdString();
    EXPECT_TRUE(bar->helpButton()->isVisibleTo(bar));
    QTest::mouseClick(bar->helpButton(), Qt::LeftButton);
    EXPECT_EQ(settingsOpened, QList<std::optional<SettingsTab>>{SettingsTab::commands});
}

} // namespace

namespace {

// In the popup: slash commands raise the popup's popover flags, and every opening measures "today" anew.
TEST_F(SearchBarTest, InThePopupFlagsDrivePopoversAndTodayMovesWithTheClock)
{
    auto open = [this] {
        auto* panel = new PopupPanel(QSize(380, 480));
        auto* view = new ContentView(*manager, nullptr);
        view->setPanel(panel);
        panel->setContentWidget(view);
        panel->present(QPoint(0, 0));
        QCoreApplication::processEvents();
        clock.advance(ContentView::focusDelay);
        return std::pair{std::unique_ptr<PopupPanel>(panel), view};
    };
    manager->filters().setDateFilterOption(DateFilterOption::today);
    manager->filters().pinCurrentFilters();
    auto [panel, view] = open();
    auto* bar = view->searchAreaHost()->findChild<SearchBar*>();
    ASSERT_TRUE(bar);
    EXPECT_EQ(manager->filters().filteredItemCount(), 2);

    QTest::keyClicks(bar->searchField(), QStringLiteral("/type"));
    EXPECT_TRUE(view->viewState().showTypeFilterPicker());
    ASSERT_EQ(bar->openPopoverKind(), FilterPopover::type);
    bar->closePopover();
    EXPECT_FALSE(view->viewState().showTypeFilterPicker());
    view->viewState().setShowExcludeAppFilterPicker(true);
    EXPECT_EQ(bar->openPopoverKind(), FilterPopover::excludeApp);
    auto* picker = qobject_cast<FilterPickerView*>(bar->popover()->content());
    ASSERT_TRUE(picker && !picker->rows().isEmpty());
    QTest::mouseClick(picker->rows().first(), Qt::LeftButton);
    EXPECT_FALSE(view->viewState().showExcludeAppFilterPicker());
    EXPECT_TRUE(view->viewState().isSearchFocused());
    panel.reset();

    // The next day the pinned "Today" holds none of yesterday's copies.
    clock.advance(std::chrono::hours(24));
    auto reopened = open();
    EXPECT_EQ(manager->filters().dateFilterOption(), DateFilterOption::today);
    EXPECT_EQ(manager->filters().filteredItemCount(), 0);
}

} // namespace

namespace {

// Many filters at the narrowest popup: every badge keeps its label (the strip scrolls), a label cut at
// the badge's own limit reads in full from its tooltip, and nothing is drawn over the field.
TEST_F(SearchBarTest, ManyBadgesStayReadableAtTheNarrowestPopup)
{
    const QUuid longNamed = QUuid::createUuid();
    ASSERT_TRUE(manager->addCategory(ClipboardCategory{longNamed, QStringLiteral("Quarterly planning and budget review"),
                                                       QStringLiteral("folder")}).ok());

    auto* panel = new PopupPanel(QSize(280, 420));
    std::unique_ptr<PopupPanel> owner(panel);
    auto* view = new ContentView(*manager, nullptr);
    view->setPanel(panel);
    panel->setContentWidget(view);
    panel->present(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    // The popup opens on the pinned filters; these come after.
    manager->filters().setSelectedCategoryId(longNamed);
    manager->filters().setTypeFilterOption(TypeFilterOption::links);
    manager->filters().setShowStarredOnly(true);
    manager->filters().setShowPastedOnly(true);
    manager->filters().setExcludedTypes({TypeFilterOption::images, TypeFilterOption::commands});
    manager->filters().setExcludedDateOption(DateFilterOption::today);
    QCoreApplication::processEvents();
    ASSERT_EQ(panel->width(), 280);
    auto* bar = view->searchAreaHost()->findChild<SearchBar*>();
    ASSERT_TRUE(bar);
    ASSERT_EQ(bar->badges().size(), 7);
    ASSERT_TRUE(bar->clearButton()->isVisible());

    for (FilterBadge* badge : bar->badges()) {
        EXPECT_GE(badge->width(), badge->sizeHint().width()) << badge->spec().label.toStdString();
        const bool cut = badge->spec().label.startsWith(QStringLiteral("Quarterly"));
        EXPECT_EQ(badge->toolTip(), cut ? badge->spec().label : QString()) << badge->spec().label.toStdString();
    }
    const auto inBar = [bar](QWidget* w) { return QRect(w->mapTo(bar, QPoint(0, 0)), w->size()); };
    const QRect field = inBar(bar->searchField());
    EXPECT_GE(field.width(), 80);
    EXPECT_FALSE(field.intersects(inBar(bar->clearButton())));
    EXPECT_FALSE(field.intersects(inBar(bar->badgeStrip())));
    EXPECT_LE(inBar(bar->helpButton()).right(), bar->width());
    EXPECT_GT(bar->badgeStrip()->widget()->width(), bar->badgeStrip()->viewport()->width());

    // The bar's tint shows between the badges, and is opaque, so partial repaints cannot lay it twice
    // into a darker patch.
    const QImage picture = bar->grab().toImage();
    const QRect first(bar->badges().at(0)->mapTo(bar, QPoint(0, 0)), bar->badges().at(0)->size());
    // Beside the count of hidden badges when the first badge runs under it.
    auto* countChip = static_cast<HorizontalWheelScrollArea*>(bar->badgeStrip())->moreAfter();
    const int between = countChip->isVisible() ? countChip->mapTo(bar, QPoint(-2, 0)).x() : first.right() + 3;
    EXPECT_EQ(picture.pixelColor(between, first.center().y()).rgb(), searchBarFill(bar->palette()).rgb());
    for (const QPalette& palette : {QPalette(), darkPalette()}) {
        EXPECT_EQ(searchBarFill(palette).alpha(), 255);
        EXPECT_NE(searchBarFill(palette), palette.color(QPalette::Window));
    }

    // The badges out of view are counted at the end where they are hidden; a click brings them in.
    auto* strip = static_cast<HorizontalWheelScrollArea*>(bar->badgeStrip());
    const auto cutAtEnd = [&] { // badges whose middle lies past the visible part
        int cut = 0;
        for (FilterBadge* badge : bar->badges())
            cut += badge->mapTo(strip->viewport(), QPoint(badge->width() / 2, 0)).x() > strip->viewport()->width();
        return cut;
    };
    ASSERT_GE(cutAtEnd(), 2);
    EXPECT_EQ(strip->hiddenNow(), (HiddenItems {0, cutAtEnd()}));
    ASSERT_TRUE(strip->moreAfter()->isVisible());
    EXPECT_EQ(strip->moreAfter()->text(), QStringLiteral("+%1").arg(cutAtEnd()));
    EXPECT_EQ(strip->moreAfter()->toolTip(), QStringLiteral("%1 more filters apply").arg(cutAtEnd()));
    EXPECT_FALSE(strip->moreBefore()->isVisible());
    EXPECT_LE(QRect(strip->moreAfter()->mapTo(bar, QPoint(0, 0)), strip->moreAfter()->size()).right(),
              inBar(strip).right()) << "the count stays inside the strip, off the field";
    strip->moreAfter()->click();
    EXPECT_EQ(cutAtEnd(), 0);
    EXPECT_FALSE(strip->moreAfter()->isVisible());
    ASSERT_TRUE(strip->moreBefore()->isVisible());
    EXPECT_EQ(strip->moreBefore()->text(), QStringLiteral("+%1").arg(strip->hiddenNow().before));
    save(panel, QStringLiteral("search-bar-narrow-scrolled.png"));
    strip->moreBefore()->click();
    EXPECT_FALSE(strip->moreBefore()->isVisible());

    // Removing filters until all fit takes the count away.
    manager->filters().setExcludedTypes({});
    manager->filters().setExcludedDateOption(std::nullopt);
    manager->filters().setShowPastedOnly(false);
    manager->filters().setShowStarredOnly(false);
    manager->filters().setSelectedCategoryId(std::nullopt);
    QCoreApplication::processEvents();
    EXPECT_EQ(strip->hiddenNow(), HiddenItems {});
    EXPECT_FALSE(strip->moreAfter()->isVisible());
    manager->filters().setSelectedCategoryId(longNamed);
    manager->filters().setShowStarredOnly(true);
    manager->filters().setShowPastedOnly(true);
    manager->filters().setExcludedTypes({TypeFilterOption::images, TypeFilterOption::commands});
    manager->filters().setExcludedDateOption(DateFilterOption::today);
    QCoreApplication::processEvents();
    EXPECT_TRUE(strip->moreAfter()->isVisible());

    for (const char* theme : {"light", "dark"}) {
        panel->setPalette(QString::fromLatin1(theme) == QLatin1String("dark") ? darkPalette() : QPalette());
        QCoreApplication::processEvents();
        save(panel, QStringLiteral("search-bar-narrow-%1.png").arg(QLatin1String(theme)));
    }
}

TEST(HiddenItemsTest, ItemsMostlyOutOfViewAreCountedAtTheirEnd)
{
    const QList<std::pair<int, int>> spans {{0, 50}, {56, 120}, {126, 200}, {206, 260}};
    EXPECT_EQ(hiddenItems(spans, 0, 300), HiddenItems {});
    EXPECT_EQ(hiddenItems(spans, 0, 200), (HiddenItems {0, 1}));
    EXPECT_EQ(hiddenItems(spans, 0, 163), (HiddenItems {0, 1})) << "more than half in view counts as shown";
    EXPECT_EQ(hiddenItems(spans, 0, 162), (HiddenItems {0, 2}));
    EXPECT_EQ(hiddenItems(spans, 100, 160), (HiddenItems {2, 0})) << "one mostly cut, one wholly";
    EXPECT_EQ(hiddenItems(spans, 56, 100), (HiddenItems {1, 2}));
    EXPECT_EQ(hiddenItems({}, 0, 0), HiddenItems {});
}

} // namespace
