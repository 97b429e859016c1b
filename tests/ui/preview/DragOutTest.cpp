#include "ui/shell/PopupPanel.h"
#include "ui/preview/DragOut.h"
#include "ui/preview/PreviewFiles.h"

#include "EngineFixture.h"
#include "HeldLane.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDrag>
#include <QFileInfo>
#include <QTest>

#include <thread>

using namespace lumra;

namespace {

ClipboardItem item(ClipboardContentType type, const QString& text = {})
{
    ClipboardItem it;
    it.id = QUuid::createUuid();
    it.contentType = type;
    if (!text.isNull())
        it.textContent = text;
    return it;
}

DragListAccess listOf(const QList<ClipboardItem>& items)
{
    return {[&items] { return items.size(); }, [&items](qsizetype i) -> const ClipboardItem& { return items[i]; }};
}

QByteArray png() { return lumra::test::solidPng({8, 8}, Qt::green); }

} // namespace

TEST(DragRulesTest, WhichSelectedItemsGoAlong)
{
    const ClipboardItem a = item(ClipboardContentType::text, QStringLiteral(" one "));
    const ClipboardItem b = item(ClipboardContentType::file);
    const ClipboardItem c = item(ClipboardContentType::text, QStringLiteral("two"));
    const ClipboardItem d = item(ClipboardContentType::file);
    const ClipboardItem e = item(ClipboardContentType::text, QStringLiteral("  "));
    const QList<ClipboardItem> list{a, b, c, d, e};
    const DragListAccess access = listOf(list);

    // Files: the others of the same kind, in list order; nothing when the row is not selected.
    EXPECT_EQ(additionalItemsForDrag(d, {d.id, a.id, b.id}, access, ClipboardContentType::file), QList<ClipboardItem>{b});
    EXPECT_TRUE(additionalItemsForDrag(d, {a.id, b.id}, access, ClipboardContentType::file).isEmpty());
    EXPECT_TRUE(additionalItemsForDrag(d, {d.id}, access, ClipboardContentType::file).isEmpty());

    // Texts: in selection order; any non-text or missing selected item means the row alone.
    EXPECT_EQ(combinedTextItemsForDrag(a, {c.id, a.id}, access), (QList<ClipboardItem>{c, a}));
    EXPECT_TRUE(combinedTextItemsForDrag(a, {c.id, a.id, b.id}, access).isEmpty());
    EXPECT_TRUE(combinedTextItemsForDrag(a, {c.id, a.id, QUuid::createUuid()}, access).isEmpty());

    EXPECT_EQ(combinedDragText({c, a, e}, QStringLiteral("vertical")), QStringLiteral("two\n one \n  "));
    EXPECT_EQ(combinedDragText({c, a, e}, QStringLiteral("horizontal")), QStringLiteral("two one"));
    EXPECT_FALSE(combinedDragText({e}, QStringLiteral("horizontal")));
    EXPECT_FALSE(combinedDragText({c, a}, QStringLiteral("off")));
}

class DragOutTest : public test::EngineTest {
protected:
    void SetUp() override { manager = start(); }
    qint64 pasteCount() { return manager->userDefaults().readableInteger(QStringLiteral("totalSuccessfulPastes")).value_or(0); }
    std::optional<QDateTime> lastPasted(const QUuid& id)
    {
        for (const ClipboardItem& it : manager->clipboardItems())
            if (it.id == id)
                return it.lastPastedDate;
        return std::nullopt;
    }
    std::unique_ptr<ClipboardManager> manager;
};

TEST_F(DragOutTest, PayloadsOfEachKindAndNoneWithoutData)
{
    ClipboardItem rich = test::textItem(QStringLiteral("bold"), clock.now());
    rich.rtfData = QByteArray("{\\rtf1 \\b bold\\b0}");
    rich = test::insertItem(*manager, rich);
    const QByteArray rtf = *rich.rtfData;
    rich.leaveOutRichText(); // the list's value: the drag reads the rich text from the store
    const DragListAccess list = DragListAccess::filteredItems(*manager);
    DragPayload text = makeDragPayload(rich, {}, list, *manager, false);
    EXPECT_EQ(text.mimeData->text(), QStringLiteral("bold"));
    EXPECT_EQ(text.mimeData->data(QStringLiteral("text/rtf")), rtf);
    EXPECT_TRUE(text.mimeData->html().contains(QStringLiteral("font-weight"))) << text.mimeData->html().toStdString();
    const DragPayload unformatted = makeDragPayload(rich, {}, list, *manager, true);
    EXPECT_FALSE(unformatted.mimeData->hasFormat(QStringLiteral("text/rtf")));
    EXPECT_FALSE(unformatted.mimeData->hasFormat(QStringLiteral("text/html")));

    // The RTF is read and the HTML made on a lane: the drag starts with the text, lists the rich
    // forms, and a receiver asking for one waits for the lane.
    {
        test::HeldLane held(manager->work(), BackgroundWork::Lane::previews);
        DragPayload early = makeDragPayload(rich, {}, list, *manager, false);
        EXPECT_EQ(early.mimeData->text(), QStringLiteral("bold"));
        for (const QString form : {QStringLiteral("text/rtf"), QStringLiteral("text/html")}) {
            EXPECT_FALSE(early.mimeData->QMimeData::formats().contains(form)) << "made on the main thread: " << form.toStdString();
            EXPECT_TRUE(early.mimeData->formats().contains(form));
        }
        EXPECT_TRUE(early.mimeData->hasHtml());
        std::thread releaser([&] { held.release(); });
        EXPECT_EQ(early.mimeData->data(QStringLiteral("text/rtf")), rtf);
        EXPECT_TRUE(early.mimeData->html().contains(QStringLiteral("font-weight")));
        releaser.join();
    }

    // Images land as PNG files in the private drag folder; a stored name that is no digest is replaced.
    ClipboardItem good = item(ClipboardContentType::image);
    good.imageFileName = QStringLiteral("00112233445566778899aabbccddeeff.png");
    good = test::insertItem(*manager, good, test::withImageData(png()));
    ClipboardItem hostile = item(ClipboardContentType::image);
    hostile.imageFileName = QStringLiteral("../../outside.png");
    hostile = test::insertItem(*manager, hostile, test::withImageData(png()));
    DragPayload images = makeDragPayload(good, {good.id, hostile.id}, DragListAccess::filteredItems(*manager), *manager, false);
    const QList<QUrl> urls = images.mimeData->urls();
    ASSERT_EQ(urls.size(), 2);
    const QString folder = PreviewFiles::dragFolder().value();
    EXPECT_EQ(urls[0].toLocalFile(), folder + QStringLiteral("/00112233445566778899aabbccddeeff.png"));
    EXPECT_EQ(QFileInfo(urls[1].toLocalFile()).absolutePath(), folder);
    EXPECT_TRUE(PreviewFiles::isAcceptedPngFileName(urls[1].fileName()));
    EXPECT_EQ(QImage(urls[1].toLocalFile()).size(), QSize(8, 8));

    // An image without bytes, or a file item whose files are all gone and unparseable: no drag.
    ClipboardItem empty = item(ClipboardContentType::image);
    empty.imageFileName = QStringLiteral("ffeeddccbbaa99887766554433221100.png");
    empty = test::insertItem(*manager, empty);
    EXPECT_TRUE(makeDragPayload(empty, {}, DragListAccess::filteredItems(*manager), *manager, false).isEmpty());
    ClipboardItem files = item(ClipboardContentType::file);
    files.fileURLStrings = QStringList{QString()};
    files = test::insertItem(*manager, files);
    EXPECT_TRUE(makeDragPayload(files, {}, DragListAccess::filteredItems(*manager), *manager, false).isEmpty());
}

TEST_F(DragOutTest, OnlyAnAcceptedDropMarksCountsAndClosesTheHeldPopupStaysVisible)
{
    const ClipboardItem text = test::insertItem(*manager, test::textItem(QStringLiteral("drag me"), clock.now()));
    const DragListAccess list = DragListAccess::filteredItems(*manager);
    QObject source;
    const auto refused = [](QDrag*) { return Qt::IgnoreAction; };
    // A receiver that takes the drop and reads the text, as the drop's data is asked for.
    const auto accepted = [](QDrag* drag) {
        (void)drag->mimeData()->text();
        return Qt::CopyAction;
    };
    // One that accepts the drop and reads it only later (X11 asks after the drag returned), or never.
    QPointer<QDrag> unread;
    const auto acceptedUnread = [&](QDrag* drag) {
        unread = drag;
        return Qt::CopyAction;
    };

    QPointer<PopupPanel> popup = new PopupPanel(QSize(200, 200));
    popup->present(QPoint(0, 0));
    QApplication::setActiveWindow(popup);

    EXPECT_EQ(runDrag(&source, makeDragPayload(text, {}, list, *manager, false), *manager, refused), Qt::IgnoreAction);
    EXPECT_FALSE(lastPasted(text.id));
    EXPECT_EQ(pasteCount(), 0);
    EXPECT_EQ(popup->windowOpacity(), 1.0);

    // Accepted while something holds the popup open: marked and counted, the popup stays and is opaque.
    {
        PopupPanel::Hold hold = popup->hold();
        EXPECT_EQ(runDrag(&source, makeDragPayload(text, {}, list, *manager, false), *manager, accepted), Qt::CopyAction);
        EXPECT_TRUE(lastPasted(text.id));
        EXPECT_EQ(pasteCount(), 1);
        QTest::qWait(300);
        ASSERT_TRUE(popup);
        EXPECT_FALSE(popup->isClosed());
        EXPECT_EQ(popup->windowOpacity(), 1.0);
    }

    // Accepted but not read yet: nothing is marked or counted until the receiver reads the data.
    EXPECT_EQ(runDrag(&source, makeDragPayload(text, {}, list, *manager, false), *manager, acceptedUnread), Qt::CopyAction);
    EXPECT_EQ(pasteCount(), 1);
    QTest::qWait(300);
    ASSERT_TRUE(popup);
    EXPECT_FALSE(popup->isClosed());
    ASSERT_TRUE(unread);
    EXPECT_EQ(unread->mimeData()->text(), QStringLiteral("drag me"));
    EXPECT_EQ(pasteCount(), 2);
    (void)unread->mimeData()->text(); // a second read counts nothing more
    EXPECT_EQ(pasteCount(), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !popup || popup->isClosed(); }, 2000));
    delete popup.data();
    popup = new PopupPanel(QSize(200, 200));
    popup->present(QPoint(0, 0));
    QApplication::setActiveWindow(popup);

    // Nothing holds it: it fades out and closes.
    EXPECT_EQ(runDrag(&source, makeDragPayload(text, {}, list, *manager, false), *manager, accepted), Qt::CopyAction);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !popup || popup->isClosed(); }, 2000));
    delete popup.data();
}
