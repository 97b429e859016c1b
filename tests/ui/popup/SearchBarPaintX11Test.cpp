#include "ui/shell/PopupPanel.h"
#include "engine/HistoryFilter.h"
#include "ui/items/FilterBadge.h"
#include "ui/items/FilterPickers.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/SearchBar.h"
#include "ui/popup/SearchField.h"

#include "EngineFixture.h"

#include <QScreen>
#include <QTest>
#include <QToolButton>

namespace lumra {
namespace {

// What the X server shows after the partial repaints of a real window, against a full repaint:
// a translucent fill painted twice over the same spot shows as a darker patch.
class SearchBarPaintX11Test : public test::EngineTest {};

TEST_F(SearchBarPaintX11Test, BadgeChangesLeaveOneEvenTint)
{
    auto manager = start();
    manager->setClipboardItems({test::textItem(QStringLiteral("alpha"), clock.now())});
    PopupPanel panel(QSize(380, 480));
    auto* view = new ContentView(*manager, nullptr);
    view->setPanel(&panel);
    panel.setContentWidget(view);
    panel.present(QPoint(100, 100));
    QWidget& host = panel;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    QTest::qWait(200);

    const auto settle = [] { QTest::qWait(300); };
    manager->filters().setShowStarredOnly(true);
    settle();
    manager->filters().setShowPastedOnly(true);
    settle();
    manager->filters().setShowStarredOnly(false);
    settle();
    manager->filters().setSearchTagsOnly(true);
    settle();
    manager->filters().setShowPastedOnly(false);
    settle();
    auto* bar = view->searchAreaHost()->findChild<SearchBar*>();
    bar->openPopover(FilterPopover::type);
    settle();
    auto* picker = qobject_cast<FilterPickerView*>(bar->popover()->content());
    QTest::mouseMove(picker->rows()[2]);
    settle();
    QTest::mouseClick(picker->rows()[2], Qt::LeftButton);
    settle();
    QTest::mouseMove(bar->badges().first()->removeButton());
    settle();
    QTest::mouseClick(bar->badges().first()->removeButton(), Qt::LeftButton);
    settle();
    QTest::keyClicks(bar->searchField(), QStringLiteral("al"));
    settle();

    const QImage shown = host.screen()->grabWindow(host.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage full = host.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), full.size());
    int differing = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (qAbs(qGray(shown.pixel(x, y)) - qGray(full.pixel(x, y))) > 2)
                ++differing;
    EXPECT_EQ(differing, 0);
}

} // namespace
} // namespace lumra
