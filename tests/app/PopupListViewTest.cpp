#include "app/PopupListView.h"
#include "app/PopupPanel.h"
#include "model/NotificationCenter.h"

#include "ShellTestSupport.h"

#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QTest>

namespace lumra {
namespace {

class PopupListViewTest : public test::ShellTest {
protected:
    void SetUp() override
    {
        manager = makeManager();
        manager->setClipboardItems({textItem("alpha"), textItem("beta"), textItem("gamma")});
        panel = new PopupPanel(QSize(320, 460));
        view = new PopupListView(*manager);
        panel->setContentWidget(view);
        panel->present(QPoint(0, 0));
    }
    void TearDown() override { delete panel; }

    QStringList rows() const
    {
        QStringList texts;
        for (int row = 0; row < view->model().rowCount(); ++row)
            texts << view->model().data(view->model().index(row)).toString();
        return texts;
    }

    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(view->searchField(), k, modifiers);
    }

    std::unique_ptr<ClipboardManager> manager;
    QPointer<PopupPanel> panel;
    PopupListView* view = nullptr;
};

TEST_F(PopupListViewTest, TypingNarrowsTheList)
{
    EXPECT_EQ(rows(), (QStringList{"alpha", "beta", "gamma"}));
    QTest::keyClicks(view->searchField(), "mm");
    clock.advance(std::chrono::seconds(1));
    EXPECT_EQ(rows(), QStringList{"gamma"});
}

TEST_F(PopupListViewTest, ReturnRightAfterTypingActsOnTheNarrowedList)
{
    QTest::keyClicks(view->searchField(), "gam");
    key(Qt::Key_Down);
    key(Qt::Key_Return);
    EXPECT_EQ(lastWrittenText(), QStringLiteral("gamma"));
    clock.advance(PopupListView::pasteDelay);
}

TEST_F(PopupListViewTest, EachOpeningStartsWithAnEmptySearch)
{
    QTest::keyClicks(view->searchField(), "zzz");
    clock.advance(std::chrono::seconds(1));
    ASSERT_TRUE(rows().isEmpty());
    delete panel;

    PopupListView reopened(*manager);
    EXPECT_EQ(manager->searchText(), QString());
    EXPECT_EQ(reopened.model().rowCount(), 3);
}

TEST_F(PopupListViewTest, ReturnPastesTheChosenItemAfterThePopupCloses)
{
    workspace.setFrontmost(AppIdentity{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), 1, 2});
    key(Qt::Key_Return);
    EXPECT_TRUE(pasteboard.writes().isEmpty()) << "nothing is chosen yet";
    EXPECT_FALSE(panel.isNull());

    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Up);
    key(Qt::Key_Return);
    EXPECT_EQ(lastWrittenText(), QStringLiteral("beta"));
    EXPECT_TRUE(panel.isNull() || panel->isClosed());
    EXPECT_EQ(injector.pasteCount(), 0);
    clock.advance(PopupListView::pasteDelay);
    EXPECT_EQ(injector.pasteCount(), 1);
}

TEST_F(PopupListViewTest, WithTheWindowKeptOpenThePreviousApplicationIsAskedForward)
{
    manager->setKeepWindowOpen(true);
    int asked = 0;
    QObject context;
    NotificationCenter::defaultCenter().observe(Notifications::activatePreviousAppForPaste, &context,
                                                [&](const QVariantMap&) { ++asked; });
    key(Qt::Key_Down);
    key(Qt::Key_Return);
    EXPECT_EQ(asked, 1);
    ASSERT_FALSE(panel.isNull());
    EXPECT_FALSE(panel->isClosed());
    clock.advance(PopupListView::pasteDelay);
    EXPECT_EQ(injector.pasteCount(), 1);
}

TEST_F(PopupListViewTest, AFailedWriteClosesNothingAndSendsNoKeys)
{
    pasteboard.setWriteError(QStringLiteral("refused"));
    key(Qt::Key_Down);
    key(Qt::Key_Return);
    ASSERT_FALSE(panel.isNull());
    EXPECT_FALSE(panel->isClosed());
    clock.advance(PopupListView::pasteDelay);
    EXPECT_EQ(injector.pasteCount(), 0);
}

TEST_F(PopupListViewTest, EscapeCloses)
{
    key(Qt::Key_Escape);
    EXPECT_TRUE(panel.isNull() || panel->isClosed());
    EXPECT_TRUE(pasteboard.writes().isEmpty());
}

TEST_F(PopupListViewTest, SensitiveItemsAreMasked)
{
    ClipboardItem secret = textItem("correct horse battery staple");
    secret.isSensitive = true;
    manager->setClipboardItems({secret});
    ASSERT_EQ(rows().size(), 1);
    EXPECT_FALSE(rows().first().contains(QStringLiteral("battery")));
    EXPECT_EQ(rows().first(), secret.maskedDisplayText());
}

} // namespace
} // namespace lumra
