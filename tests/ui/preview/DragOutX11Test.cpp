#include "ui/shell/PopupPanel.h"
#include "engine/HistoryFilter.h"
#include "engine/ItemMedia.h"
#include "model/store/StoreSchema.h"
#include "ui/preview/DragOut.h"
#include "ui/preview/PreviewFiles.h"

#include "EngineFixture.h"
#include "TestImages.h"
#include "ThisProgram.h"

#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QListView>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QStringListModel>
#include <QTest>
#include <QTimer>
#include <QDrag>
#include <QVBoxLayout>

#include <iostream>

using namespace lumra;

namespace {

const char* const targetVariable = "LUMRA_DROP_TARGET";

// The window of another application, in a process of its own (this program in target mode): it
// takes copy drops and prints what it got. In "unread" mode it accepts drops without reading them.
class DropTarget : public QWidget {
public:
    explicit DropTarget(bool reads) : m_reads(reads) { setAcceptDrops(true); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override
    {
        if (m_reads) {
            const QString text = event->mimeData()->text();
            std::cout << "TEXT:" << (text.size() > 1000 ? QStringLiteral("%1 characters").arg(text.size()) : text).toStdString() << std::endl;
            for (const QString form : {QStringLiteral("image/png"), QStringLiteral("text/html")}) {
                if (event->mimeData()->formats().contains(form))
                    std::cout << "FORM:" << form.toStdString() << ' ' << event->mimeData()->data(form).size() << std::endl;
            }
            QStringList urls;
            for (const QUrl& url : event->mimeData()->urls())
                urls << url.toString();
            std::cout << "URLS:" << urls.join(QLatin1Char(' ')).toStdString() << std::endl;
        }
        std::cout << "DROPPED" << std::endl;
        event->acceptProposedAction();
    }

private:
    bool m_reads;
};

// Drives the real pointer through the X server while the drag runs its own event loop.
void xdotoolLater(const QString& script)
{
    ASSERT_TRUE(QProcess::startDetached(QStringLiteral("bash"), {QStringLiteral("-c"), script}));
}

// `started`: a file whose coming shows that the drag, past its first step, has started (its forms
// made first).
QString dragScript(QPoint from, QPoint to, const QString& ending, const QString& started = {})
{
    QString script = QStringLiteral("sleep 0.3; xdotool mousemove %1 %2 mousedown 1; sleep 0.1; ").arg(from.x()).arg(from.y());
    for (int step = 1; step <= 8; ++step) {
        const QPoint at = from + (to - from) * step / 8;
        script += QStringLiteral("xdotool mousemove %1 %2; sleep 0.05; ").arg(at.x()).arg(at.y());
        if (step == 1 && !started.isEmpty())
            script += QStringLiteral("for i in $(seq 600); do [ -e '%1' ] && break; sleep 0.05; done; ").arg(started);
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

    void TearDown() override
    {
        if (target.state() != QProcess::NotRunning) {
            target.kill();
            target.waitForFinished();
        }
    }

    // Starts the receiving application; its window's centre on the screen.
    std::optional<QPoint> startTarget(const char* mode)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(targetVariable, mode);
        target.setProcessEnvironment(environment);
        lumra::test::startThisProgram(target, {"--gtest_filter=DropTargetWindow.ReportsWhatIsDropped"});
        if (!QTest::qWaitFor([&] { return targetOutput().contains("READY "); }, 10000))
            return std::nullopt;
        const QStringList words = targetOutput().section(QStringLiteral("READY "), 1).section(QLatin1Char('\n'), 0, 0).split(' ');
        return QPoint(words.value(0).toInt(), words.value(1).toInt());
    }

    QString targetOutput()
    {
        m_output += QString::fromUtf8(target.readAllStandardOutput());
        return m_output;
    }

    // A popup with the history list, rows dragged by the row drag controller.
    PopupPanel* openPopup()
    {
        auto* panel = new PopupPanel(QSize(300, 200));
        auto* list = new QListView;
        QStringList rows;
        for (qsizetype i = 0; i < manager->filters().filteredItemCount(); ++i)
            rows << manager->filters().filteredItemAt(i).displayText().left(20);
        list->setModel(new QStringListModel(rows, list));
        panel->setContentWidget(list);
        new RowDragController(list, *manager,
                              [this](const QModelIndex& index) -> std::optional<ClipboardItem> {
                                  return manager->filters().filteredItemAt(index.row());
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

    qint64 pasteCount() { return manager->userDefaults().readableInteger(QStringLiteral("totalSuccessfulPastes")).value_or(0); }

    std::unique_ptr<ClipboardManager> manager;
    QListView* m_list = nullptr;
    QProcess target;

private:
    QString m_output;
};

} // namespace

// Target mode only.
TEST(DropTargetWindow, ReportsWhatIsDropped)
{
    const QByteArray mode = qgetenv(targetVariable);
    if (mode.isEmpty())
        GTEST_SKIP() << "runs as the drop target of DragOutX11Test";
    DropTarget window(mode != "unread");
    window.setGeometry(600, 100, 200, 200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPoint centre = window.mapToGlobal(window.rect().center());
    std::cout << "READY " << centre.x() << ' ' << centre.y() << std::endl;
    QTest::qWaitFor([] { return false; }, 60000); // ended by the test
}

TEST_F(DragOutX11Test, ADropDeliversTextAndFileUrisToAnotherProcessAndACancelledDragChangesNothing)
{
    const QString file = dataDir.root() + QStringLiteral("/report.txt");
    QFile(file).open(QIODevice::WriteOnly);
    ClipboardItem files;
    files.contentType = ClipboardContentType::file;
    const QUrl url = QUrl::fromLocalFile(file);
    files.fileURLStrings = QStringList{url.toString()};
    files.fileURLIsDirectory = QList<bool>{false};
    const QString bookmarks = QString::fromUtf8(
        QJsonDocument(QJsonArray{ItemMedia::fileBookmarkString(url)}).toJson(QJsonDocument::Compact));
    test::insertItem(*manager, files, [&](store::ManagedObject& row) { row.set(store::ItemAttr::fileBookmarksJSON, bookmarks); });
    test::insertItem(*manager, test::textItem(QStringLiteral("dragged words"), clock.now()));
    ASSERT_EQ(manager->filters().filteredItemCount(), 2);
    const int textRow = manager->filters().filteredItemAt(0).contentType == ClipboardContentType::text ? 0 : 1;
    const int fileRow = 1 - textRow;

    const std::optional<QPoint> into = startTarget("read");
    ASSERT_TRUE(into) << targetOutput().toStdString();

    // Cancelled with Escape: nothing arrives, nothing is marked or counted, the popup stays.
    QPointer<PopupPanel> popup = openPopup();
    xdotoolLater(dragScript(rowCentre(textRow), *into, QStringLiteral("xdotool key Escape; sleep 0.2; xdotool mouseup 1")));
    QTest::qWait(3500);
    EXPECT_FALSE(targetOutput().contains("DROPPED"));
    EXPECT_FALSE(manager->filters().filteredItemAt(textRow).lastPastedDate);
    EXPECT_EQ(pasteCount(), 0);
    ASSERT_TRUE(popup && !popup->isClosed());
    delete popup.data();

    popup = openPopup();
    xdotoolLater(dragScript(rowCentre(textRow), *into, QStringLiteral("xdotool mouseup 1")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return targetOutput().contains("DROPPED"); }, 8000));
    EXPECT_TRUE(targetOutput().contains("TEXT:dragged words\n")) << targetOutput().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return pasteCount() == 1; }, 3000));
    delete popup.data();

    popup = openPopup();
    xdotoolLater(dragScript(rowCentre(fileRow), *into, QStringLiteral("xdotool mouseup 1")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return targetOutput().count("DROPPED") == 2; }, 8000));
    EXPECT_TRUE(targetOutput().contains(QStringLiteral("URLS:") + url.toString() + QLatin1Char('\n')))
        << targetOutput().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return pasteCount() == 2; }, 3000));
    delete popup.data();
}

TEST_F(DragOutX11Test, ADropWhoseDataIsNeverReadCountsNothing)
{
    test::insertItem(*manager, test::textItem(QStringLiteral("never read"), clock.now()));
    const std::optional<QPoint> into = startTarget("unread");
    ASSERT_TRUE(into) << targetOutput().toStdString();
    QPointer<PopupPanel> popup = openPopup();
    xdotoolLater(dragScript(rowCentre(0), *into, QStringLiteral("xdotool mouseup 1")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return targetOutput().contains("DROPPED"); }, 8000));
    QTest::qWait(1000);
    EXPECT_EQ(pasteCount(), 0);
    EXPECT_FALSE(manager->filters().filteredItemAt(0).lastPastedDate);
    ASSERT_TRUE(popup);
    EXPECT_FALSE(popup->isClosed());
    delete popup.data();
}

// Qt answers a drop in one request to the X server, and one past the server's limit ends the
// connection, and Lumra with it. An 18 MB picture and a 17 MB text go to another process as files
// of the drag folder, and Lumra lives on.
TEST_F(DragOutX11Test, AFormPastOneRequestGoesToAnotherProcessAsAFileAndLumraLives)
{
    QByteArray picture = lumra::test::solidPng({8, 8}, Qt::green);
    picture += QByteArray(18 * 1024 * 1024, 'p'); // past its end, the picture reads as it is
    ClipboardItem image;
    image.contentType = ClipboardContentType::image;
    image.imageFileName = QStringLiteral("00112233445566778899aabbccddeeff.png");
    test::insertItem(*manager, image, test::withImageData(picture));
    const QString words(17 * 1024 * 1024, QLatin1Char('w'));
    const ClipboardItem text = test::insertItem(*manager, test::textItem(words, clock.now()));
    ASSERT_EQ(manager->filters().filteredItemCount(), 2);
    const int pictureRow = manager->filters().filteredItemAt(0).contentType == ClipboardContentType::image ? 0 : 1;
    const QString folder = PreviewFiles::dragFolder().value();
    const auto fileBytes = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    // The drag starts once its forms are made; its event loop still runs timers.
    QString startedSign;
    QPointer<QListView> list;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (list && list->findChild<QDrag*>() && !startedSign.isEmpty())
            QFile(std::exchange(startedSign, QString())).open(QIODevice::WriteOnly);
    });
    watch.start(20);
    const std::optional<QPoint> into = startTarget("read");
    ASSERT_TRUE(into) << targetOutput().toStdString();
    QPointer<PopupPanel> popup = openPopup();
    const QString pictureFile = folder + QStringLiteral("/00112233445566778899aabbccddeeff.png");
    list = m_list;
    startedSign = dataDir.root() + QStringLiteral("/picture-drag");
    xdotoolLater(dragScript(rowCentre(pictureRow), *into, QStringLiteral("xdotool mouseup 1"), startedSign));
    ASSERT_TRUE(QTest::qWaitFor([&] { return targetOutput().contains("DROPPED"); }, 30000)) << targetOutput().toStdString();
    EXPECT_TRUE(targetOutput().contains(QUrl::fromLocalFile(pictureFile).toString() + QLatin1Char('\n')))
        << targetOutput().toStdString();
    EXPECT_FALSE(targetOutput().contains("FORM:image/png"));
    EXPECT_EQ(fileBytes(pictureFile), picture);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pasteCount() == 1; }, 3000));
    delete popup.data();

    popup = openPopup(); // the picture went to the top when it was taken
    const int textRow = manager->filters().filteredItemAt(0).contentType == ClipboardContentType::text ? 0 : 1;
    const QString textFile = folder + QLatin1Char('/') + text.id.toString(QUuid::WithoutBraces) + QStringLiteral(".txt");
    list = m_list;
    startedSign = dataDir.root() + QStringLiteral("/text-drag");
    xdotoolLater(dragScript(rowCentre(textRow), *into, QStringLiteral("xdotool mouseup 1"), startedSign));
    ASSERT_TRUE(QTest::qWaitFor([&] { return targetOutput().count("DROPPED") == 2; }, 30000)) << targetOutput().toStdString();
    EXPECT_TRUE(targetOutput().contains(QUrl::fromLocalFile(textFile).toString() + QLatin1Char('\n')))
        << targetOutput().toStdString();
    EXPECT_TRUE(fileBytes(textFile) == words.toUtf8());
    EXPECT_TRUE(QTest::qWaitFor([&] { return pasteCount() == 2; }, 3000));
    delete popup.data();
}
