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
    // What a drag of `row` offers, once its forms are made.
    DragPayload payloadOf(const ClipboardItem& row, const QList<QUuid>& selected = {}, bool shiftHeld = false,
                          std::optional<qint64> bound = std::nullopt)
    {
        std::optional<DragPayload> made;
        makeDragPayload(row, selected, DragListAccess::filteredItems(*manager), *manager, shiftHeld, &context,
                        [&](DragPayload payload) { made = std::move(payload); }, bound);
        EXPECT_TRUE(QTest::qWaitFor([&] { return made.has_value(); }, 20000));
        return made ? std::move(*made) : DragPayload{};
    }
    std::unique_ptr<ClipboardManager> manager;
    QObject context;
};

TEST_F(DragOutTest, PayloadsOfEachKindAndNoneWithoutData)
{
    ClipboardItem rich = test::textItem(QStringLiteral("bold"), clock.now());
    rich.rtfData = QByteArray("{\\rtf1 \\b bold\\b0}");
    rich = test::insertItem(*manager, rich);
    const QByteArray rtf = *rich.rtfData;
    rich.leaveOutRichText(); // the list's value: the drag reads the rich text from the store
    DragPayload text = payloadOf(rich);
    EXPECT_EQ(text.mimeData->text(), QStringLiteral("bold"));
    EXPECT_EQ(text.mimeData->data(QStringLiteral("text/rtf")), rtf);
    EXPECT_TRUE(text.mimeData->html().contains(QStringLiteral("font-weight"))) << text.mimeData->html().toStdString();
    const DragPayload unformatted = payloadOf(rich, {}, true);
    EXPECT_FALSE(unformatted.mimeData->hasFormat(QStringLiteral("text/rtf")));
    EXPECT_FALSE(unformatted.mimeData->hasFormat(QStringLiteral("text/html")));

    // Images land as PNG files in the private drag folder; a stored name that is no digest is replaced.
    ClipboardItem good = item(ClipboardContentType::image);
    good.imageFileName = QStringLiteral("00112233445566778899aabbccddeeff.png");
    good = test::insertItem(*manager, good, test::withImageData(png()));
    ClipboardItem hostile = item(ClipboardContentType::image);
    hostile.imageFileName = QStringLiteral("../../outside.png");
    hostile = test::insertItem(*manager, hostile, test::withImageData(png()));
    DragPayload images = payloadOf(good, {good.id, hostile.id});
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
    EXPECT_TRUE(payloadOf(empty).isEmpty());
    ClipboardItem files = item(ClipboardContentType::file);
    files.fileURLStrings = QStringList{QString()};
    files = test::insertItem(*manager, files);
    EXPECT_TRUE(payloadOf(files).isEmpty());
}

// A drop is answered at once from forms already made: the drag starts only once the lane has read
// and converted the rich text, and without it when that takes too long. Were the window's thread to
// wait on the lane at the drop, it would get the forms the lane goes on to make meanwhile.
TEST_F(DragOutTest, ADropIsAnsweredFromFormsMadeAndNeverWaitsOnTheLane)
{
    ClipboardItem rich = test::textItem(QStringLiteral("bold"), clock.now());
    rich.rtfData = QByteArray("{\\rtf1 \\b bold\\b0}");
    rich = test::insertItem(*manager, rich);
    rich.leaveOutRichText();

    test::HeldLane held(manager->work(), BackgroundWork::Lane::previews);
    std::optional<DragPayload> early;
    makeDragPayload(rich, {}, DragListAccess::filteredItems(*manager), *manager, false, &context,
                    [&](DragPayload payload) { early = std::move(payload); });
    QCoreApplication::processEvents();
    clock.advance(richFormsPatience - std::chrono::milliseconds(1));
    EXPECT_FALSE(early) << "the drag started before its forms were made";
    clock.advance(std::chrono::milliseconds(1));
    ASSERT_TRUE(early);
    EXPECT_EQ(early->mimeData->formats(), QStringList{QStringLiteral("text/plain")});

    std::thread releaser([&] { held.release(); });
    EXPECT_TRUE(early->mimeData->data(QStringLiteral("text/rtf")).isEmpty());
    EXPECT_TRUE(early->mimeData->data(QStringLiteral("text/html")).isEmpty());
    EXPECT_EQ(early->mimeData->text(), QStringLiteral("bold"));
    releaser.join();
    EXPECT_EQ(early->items, QList<ClipboardItem>{rich});
}

// A photo is tens of megabytes: the window's thread neither reads it nor writes its file.
TEST_F(DragOutTest, APicturesBytesAreReadAndWrittenOnALane)
{
    ClipboardItem picture = item(ClipboardContentType::image);
    picture.imageFileName = QStringLiteral("00112233445566778899aabbccddeeff.png");
    picture = test::insertItem(*manager, picture, test::withImageData(png()));
    const QString file = PreviewFiles::dragFolder().value() + QStringLiteral("/00112233445566778899aabbccddeeff.png");

    test::HeldLane held(manager->work(), BackgroundWork::Lane::previews);
    std::optional<DragPayload> made;
    makeDragPayload(picture, {}, DragListAccess::filteredItems(*manager), *manager, false, &context,
                    [&](DragPayload payload) { made = std::move(payload); });
    clock.advance(richFormsPatience * 10);
    QCoreApplication::processEvents();
    EXPECT_FALSE(made);
    EXPECT_FALSE(QFileInfo::exists(file)) << "written on the window's thread";

    held.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return made.has_value(); }, 20000));
    EXPECT_EQ(made->mimeData->urls(), QList<QUrl>{QUrl::fromLocalFile(file)});
    EXPECT_EQ(made->mimeData->data(QStringLiteral("image/png")), png());
    EXPECT_EQ(made->items, QList<ClipboardItem>{picture});
}

// A form one request cannot carry goes as a file in the drag folder: the richest of them; the
// forms within the bound go as they are.
TEST_F(DragOutTest, FormsPastOneRequestGoAsAFile)
{
    const QString folder = PreviewFiles::dragFolder().value();
    const auto fileBytes = [](const QUrl& url) {
        QFile file(url.toLocalFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    ClipboardItem picture = item(ClipboardContentType::image);
    picture.imageFileName = QStringLiteral("00112233445566778899aabbccddeeff.png");
    picture = test::insertItem(*manager, picture, test::withImageData(png()));
    DragPayload pictureDrag = payloadOf(picture, {}, false, png().size() - 1);
    EXPECT_EQ(pictureDrag.mimeData->formats(), QStringList{QStringLiteral("text/uri-list")});
    ASSERT_EQ(pictureDrag.mimeData->urls().size(), 1);
    EXPECT_EQ(fileBytes(pictureDrag.mimeData->urls()[0]), png());

    ClipboardItem rich = test::textItem(QStringLiteral("bold"), clock.now());
    rich.rtfData = QByteArray("{\\rtf1 \\b bold\\b0}");
    rich = test::insertItem(*manager, rich);
    DragPayload richDrag = payloadOf(rich, {}, false, rich.rtfData->size());
    EXPECT_EQ(richDrag.mimeData->text(), QStringLiteral("bold"));
    EXPECT_EQ(richDrag.mimeData->data(QStringLiteral("text/rtf")), *rich.rtfData);
    EXPECT_FALSE(richDrag.mimeData->hasHtml());
    ASSERT_EQ(richDrag.mimeData->urls().size(), 1);
    EXPECT_EQ(richDrag.mimeData->urls()[0].toLocalFile(), folder + QLatin1Char('/') + rich.id.toString(QUuid::WithoutBraces) + QStringLiteral(".html"));
    EXPECT_TRUE(fileBytes(richDrag.mimeData->urls()[0]).contains("font-weight"));

    const QString words = QString(40, QChar(0x00e9));
    const ClipboardItem text = test::insertItem(*manager, test::textItem(words, clock.now()));
    DragPayload textDrag = payloadOf(text, {}, false, words.size() + 1);
    EXPECT_EQ(textDrag.mimeData->formats(), QStringList{QStringLiteral("text/uri-list")});
    ASSERT_EQ(textDrag.mimeData->urls().size(), 1);
    EXPECT_EQ(fileBytes(textDrag.mimeData->urls()[0]), words.toUtf8());
    EXPECT_EQ(textDrag.items, QList<ClipboardItem>{text});
    EXPECT_EQ(payloadOf(text, {}, false, words.size() * 2).mimeData->text(), words);
}

TEST_F(DragOutTest, OnlyAnAcceptedDropMarksCountsAndClosesTheHeldPopupStaysVisible)
{
    const ClipboardItem text = test::insertItem(*manager, test::textItem(QStringLiteral("drag me"), clock.now()));
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

    EXPECT_EQ(runDrag(&source, payloadOf(text), *manager, refused), Qt::IgnoreAction);
    EXPECT_FALSE(lastPasted(text.id));
    EXPECT_EQ(pasteCount(), 0);
    EXPECT_EQ(popup->windowOpacity(), 1.0);

    // Accepted while something holds the popup open: marked and counted, the popup stays and is opaque.
    {
        PopupPanel::Hold hold = popup->hold();
        EXPECT_EQ(runDrag(&source, payloadOf(text), *manager, accepted), Qt::CopyAction);
        EXPECT_TRUE(lastPasted(text.id));
        EXPECT_EQ(pasteCount(), 1);
        QTest::qWait(300);
        ASSERT_TRUE(popup);
        EXPECT_FALSE(popup->isClosed());
        EXPECT_EQ(popup->windowOpacity(), 1.0);
    }

    // Accepted but not read yet: nothing is marked or counted until the receiver reads the data.
    EXPECT_EQ(runDrag(&source, payloadOf(text), *manager, acceptedUnread), Qt::CopyAction);
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
    EXPECT_EQ(runDrag(&source, payloadOf(text), *manager, accepted), Qt::CopyAction);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !popup || popup->isClosed(); }, 2000));
    delete popup.data();
}
