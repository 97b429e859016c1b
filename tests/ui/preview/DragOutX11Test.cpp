#include "app/PopupPanel.h"
#include "model/store/StoreSchema.h"
#include "ui/preview/DragOut.h"

#include "EngineFixture.h"

#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QListView>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QStringListModel>
#include <QTest>
#include <QVBoxLayout>

using namespace lumra;

namespace {

// The window of another application: takes copy drops and keeps what it got.
class DropTarget : public QWidget {
public:
    DropTarget() { setAcceptDrops(true); }
    QString text;
    QList<QUrl> urls;
    bool dropped = false;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override
    {
        text = event->mimeData()->text();
        urls = event->mimeData()->urls();
        dropped = true;
        event->acceptProposedAction();
    }
};

// Drives the real pointer through the X server while the drag runs its own event loop.
void xdotoolLater(const QString& script)
{
    ASSERT_TRUE(QProcess::startDetached(QStringLiteral("bash"), {QStringLiteral("-c"), script}));
}

QString dragScript(QPoint from, QPoint to, const QString& ending)
{
    QString script = QStringLiteral("sleep 0.3; xdotool mousemove %1 %2 mousedown 1; sleep 0.1; ").arg(from.x()).arg(from.y());
    for (int step = 1; step <= 8; ++step) {
        const QPoint at = from + (to - from) * step / 8;
        script += QStringLiteral("xdotool mousemove %1 %2; sleep 0.05; ").arg(at.x()).arg(at.y());
    }
    return script + QStringLiteral("xdotool mousemove %1 %2; sleep 0.3; ").arg(to.x() + 2).arg(to.y() + 2) + ending;
}

class DragOutX11Test : public test::EngineTest {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is missing";
        manager = start();
    }

    // A popup with the history list, rows dragged by the row drag controller.
    PopupPanel* openPopup()
    {
        auto* panel = new PopupPanel(QSize(300, 200));
        auto* list = new QListView;
        QStringList rows;
        for (qsizetype i = 0; i < manager->filteredItemCount(); ++i)
            rows << manager->filteredItemAt(i).displayText();
        list->setModel(new QStringListModel(rows, list));
        panel->setContentWidget(list);
        new RowDragController(list, *manager,
                              [this](const QModelIndex& index) -> std::optional<ClipboardItem> {
                                  return manager->filteredItemAt(index.row());
                              },
                              [] { return QList<QUuid>(); });
        panel->present(QPoint(100, 100));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel));
        m_list = list;
        return panel;
    }

    QPoint rowCentre(int row)
    {
        return m_list->viewport()->mapToGlobal(m_list->visualRect(m_list->model()->index(row, 0)).center());
    }

    std::unique_ptr<ClipboardManager> manager;
    QListView* m_list = nullptr;
};

} // namespace

TEST_F(DragOutX11Test, ADropDeliversTextAndFileUrisAndACancelledDragChangesNothing)
{
    const QString file = dataDir.root() + QStringLiteral("/report.txt");
    QFile(file).open(QIODevice::WriteOnly);
    ClipboardItem files;
    files.contentType = ClipboardContentType::file;
    const QUrl url = QUrl::fromLocalFile(file);
    files.fileURLStrings = QStringList{url.toString()};
    files.fileURLIsDirectory = QList<bool>{false};
    const QString bookmarks = QString::fromUtf8(
        QJsonDocument(QJsonArray{ClipboardManager::fileBookmarkString(url)}).toJson(QJsonDocument::Compact));
    test::insertItem(*manager, files, [&](store::ManagedObject& row) { row.set(store::ItemAttr::fileBookmarksJSON, bookmarks); });
    test::insertItem(*manager, test::textItem(QStringLiteral("dragged words"), clock.now()));
    ASSERT_EQ(manager->filteredItemCount(), 2);
    const int textRow = manager->filteredItemAt(0).contentType == ClipboardContentType::text ? 0 : 1;

    DropTarget target;
    target.setGeometry(600, 100, 200, 200);
    target.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&target));
    const QPoint into = target.mapToGlobal(target.rect().center());

    // Cancelled with Escape: nothing marked, nothing counted, the popup stays.
    QPointer<PopupPanel> popup = openPopup();
    xdotoolLater(dragScript(rowCentre(textRow), into, QStringLiteral("xdotool key Escape; sleep 0.2; xdotool mouseup 1")));
    QTest::qWait(3500);
    EXPECT_FALSE(target.dropped);
    EXPECT_FALSE(manager->filteredItemAt(textRow).lastPastedDate);
    EXPECT_FALSE(manager->userDefaults().readableInteger(QStringLiteral("totalSuccessfulPastes")));
    ASSERT_TRUE(popup && !popup->isClosed());
    delete popup.data();

    popup = openPopup();
    xdotoolLater(dragScript(rowCentre(textRow), into, QStringLiteral("xdotool mouseup 1")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return target.dropped; }, 8000));
    EXPECT_EQ(target.text, QStringLiteral("dragged words"));
    EXPECT_EQ(manager->userDefaults().readableInteger(QStringLiteral("totalSuccessfulPastes")), 1);
    delete popup.data();

    target.dropped = false;
    popup = openPopup();
    const int fileRow = manager->filteredItemAt(0).contentType == ClipboardContentType::file ? 0 : 1;
    xdotoolLater(dragScript(rowCentre(fileRow), into, QStringLiteral("xdotool mouseup 1")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return target.dropped; }, 8000));
    EXPECT_EQ(target.urls, QList<QUrl>{url});
    delete popup.data();
}
