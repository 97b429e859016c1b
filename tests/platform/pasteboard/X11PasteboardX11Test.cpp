#include "platform/pasteboard/X11Pasteboard.h"

#include "ManualClockScope.h"
#include "SelectionOwner.h"
#include "Xclip.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace lumra;
using lumra::test::SelectionOwner;

namespace {

class X11PasteboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pasteboard = X11Pasteboard::create();
        ASSERT_TRUE(pasteboard) << "needs an X server with XFixes";
    }

    // Waits (event driven, bounded) until the change count moves past `before` and someone
    // owns the clipboard.
    bool waitForChangeAfter(qint64 before)
    {
        QSignalSpy changed(pasteboard.get(), &Pasteboard::changed);
        while (pasteboard->changeCount() == before || pasteboard->ownerWindow() == 0) {
            if (!changed.wait(5000))
                return false;
        }
        QCoreApplication::sendPostedEvents(pasteboard.get(), QEvent::MetaCall); // a changed() still queued
        return true;
    }

    // Another process copies `data` as `type` with xclip.
    void copyWithXclip(const QByteArray& data, const QString& type = QString())
    {
        const qint64 before = pasteboard->changeCount();
        ASSERT_TRUE(test::xclipCopy(data, type));
        ASSERT_TRUE(waitForChangeAfter(before));
    }

    std::unique_ptr<X11Pasteboard> pasteboard;
};

TEST_F(X11PasteboardTest, SeesAnotherProcessCopyText)
{
    const QString text = QString::fromUtf8("Grüße aus dem Terminal");
    copyWithXclip(text.toUtf8());
    EXPECT_FALSE(pasteboard->isOwnedByUs());
    const PasteboardSnapshot snapshot = pasteboard->snapshot(true);
    EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
    EXPECT_TRUE(snapshot.types.contains("UTF8_STRING"));
    EXPECT_EQ(snapshot.text, text);
    EXPECT_FALSE(snapshot.ownedByUs);
    EXPECT_NE(snapshot.ownerWindow, 0u);
}

// A PNG far above one X request, so that it has to travel in INCR chunks.
QByteArray largePng()
{
    QImage image(900, 700, QImage::Format_RGB32);
    auto* random = QRandomGenerator::global();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, random->generate());
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

TEST_F(X11PasteboardTest, ReadsALargeImageSentInChunks)
{
    const QByteArray png = largePng();
    ASSERT_GT(png.size(), 1024 * 1024);

    copyWithXclip(png, "image/png");
    const PasteboardSnapshot snapshot = pasteboard->snapshot(false);
    EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
    EXPECT_EQ(snapshot.imageFormat, ImageFormat::png);
    EXPECT_TRUE(snapshot.imageData == png);
}

TEST_F(X11PasteboardTest, ReadsFileUrlsFromAUriList)
{
    copyWithXclip("# copied\r\nfile:///tmp/My%20Notes.txt\r\nfile:///etc/hosts\r\n", "text/uri-list");
    const PasteboardSnapshot snapshot = pasteboard->snapshot(false);
    EXPECT_EQ(snapshot.fileUrls, (QStringList {"file:///tmp/My%20Notes.txt", "file:///etc/hosts"}));
}

TEST_F(X11PasteboardTest, PasswordManagerHintMeansConcealed)
{
    const qint64 before = pasteboard->changeCount();
    SelectionOwner owner({{"text/plain;charset=utf-8", "hunter2"}, {"x-kde-passwordManagerHint", "secret"}});
    ASSERT_TRUE(waitForChangeAfter(before));
    const PasteboardSnapshot snapshot = pasteboard->snapshot(true);
    EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
    EXPECT_TRUE(snapshot.concealed);
    EXPECT_FALSE(snapshot.text.has_value());
    EXPECT_EQ(snapshot.ownerWindow, owner.window());
}

TEST_F(X11PasteboardTest, ReadsRichTextAlongWithText)
{
    const qint64 before = pasteboard->changeCount();
    SelectionOwner owner({{"UTF8_STRING", "bold"}, {"text/html", "<b>bold</b>"}, {"application/rtf", "{\\rtf1 b}"}});
    ASSERT_TRUE(waitForChangeAfter(before));
    const PasteboardSnapshot snapshot = pasteboard->snapshot(true);
    EXPECT_EQ(snapshot.text, "bold");
    EXPECT_EQ(snapshot.rtf, QByteArray("{\\rtf1 b}"));
    EXPECT_FALSE(snapshot.html.has_value()) << "HTML is read only when there is no RTF";
}

int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

TEST_F(X11PasteboardTest, AnOwnerThatDoesNotAnswerFailsTheReadAndItsLateAnswerIsNotTakenLater)
{
    pasteboard->setReadTimeout(std::chrono::milliseconds(200));
    // The owner's late answer goes to a requestor window that is gone by then.
    XErrorHandler previous = XSetErrorHandler(ignoreXErrors);
    {
        qint64 before = pasteboard->changeCount();
        SelectionOwner owner({{"UTF8_STRING", "late"}}, SelectionOwner::Mode::silent);
        ASSERT_TRUE(waitForChangeAfter(before));
        PasteboardSnapshot snapshot = pasteboard->snapshot(true);
        EXPECT_TRUE(snapshot.failed());
        EXPECT_FALSE(snapshot.text.has_value());
        // Further reads of the same change give up at once instead of waiting again.
        EXPECT_FALSE(pasteboard->text().has_value());

        before = pasteboard->changeCount();
        owner.wakeUp();
        ASSERT_TRUE(waitForChangeAfter(before));
        snapshot = pasteboard->snapshot(true);
        EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
        EXPECT_EQ(snapshot.text, "late");
    }
    XSetErrorHandler(previous);
}

TEST_F(X11PasteboardTest, OwnWritesAreOursCountedOnceAndServedToOthers)
{
    copyWithXclip("theirs");
    QSignalSpy changed(pasteboard.get(), &Pasteboard::changed);
    auto written = pasteboard->write({{"text/plain;charset=utf-8", QString::fromUtf8("unsere Grüße").toUtf8()},
                                      {"text/html", "<i>ours</i>"}});
    ASSERT_TRUE(written.ok()) << written.error().toStdString();
    EXPECT_TRUE(pasteboard->isOwnedByUs());

    // Another process reads what we wrote while our event loop runs; our own ownership event
    // has arrived by then and must not have moved the count again.
    EXPECT_EQ(test::xclipPaste("UTF8_STRING"), QString::fromUtf8("unsere Grüße").toUtf8());
    EXPECT_TRUE(decodeHtml(test::xclipPaste("text/html")).contains("<i>ours</i>"));
    EXPECT_EQ(pasteboard->changeCount(), written.value());
    EXPECT_EQ(changed.count(), 0);

    // Reading our own data must not ask our own (blocked) process over X.
    const PasteboardSnapshot snapshot = pasteboard->snapshot(true);
    EXPECT_FALSE(snapshot.failed()) << snapshot.error.toStdString();
    EXPECT_TRUE(snapshot.ownedByUs);
    EXPECT_EQ(snapshot.text, QString::fromUtf8("unsere Grüße"));

    copyWithXclip("theirs again");
    EXPECT_FALSE(pasteboard->isOwnedByUs());
    EXPECT_GT(pasteboard->changeCount(), written.value());
}

TEST_F(X11PasteboardTest, ServesALargeImageOfOursInChunks)
{
    const QByteArray png = largePng();
    auto written = pasteboard->write({{"image/png", png}});
    ASSERT_TRUE(written.ok()) << written.error().toStdString();
    EXPECT_TRUE(test::xclipPaste("image/png") == png);
    EXPECT_TRUE(test::xclipPaste("TARGETS").contains("image/png"));
}

// A requestor asking on one property after another and never taking a piece: past the bound it is
// refused, and its transfers are dropped once it has stalled long enough.
TEST_F(X11PasteboardTest, TransfersOfARequestorThatStopsReadingAreBoundedAndDropped)
{
    test::ManualClockScope time;
    ASSERT_TRUE(pasteboard->write({{"text/plain;charset=utf-8", QByteArray(200 * 1024, 'p')}}).ok());
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    const Window requestor = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const auto ask = [&](int count) {
        int answered = 0;
        int accepted = 0;
        for (int i = 0; i < count; ++i)
            XConvertSelection(display, XInternAtom(display, "CLIPBOARD", x11::XFalse), XInternAtom(display, "UTF8_STRING", x11::XFalse),
                              XInternAtom(display, QByteArray("UNREAD_" + QByteArray::number(i)).constData(), x11::XFalse),
                              requestor, x11::XCurrentTime);
        XFlush(display);
        EXPECT_TRUE(QTest::qWaitFor([&] {
            while (XPending(display)) {
                XEvent event;
                XNextEvent(display, &event);
                answered += event.type == SelectionNotify;
                accepted += event.type == SelectionNotify && event.xselection.property != Atom(x11::XNone);
            }
            return answered == count;
        }));
        return accepted;
    };

    EXPECT_EQ(ask(10), X11Pasteboard::maxTransfersPerRequestor);
    EXPECT_EQ(pasteboard->pendingTransfers(), X11Pasteboard::maxTransfersPerRequestor);
    time.clock.advance(X11Pasteboard::transferStallTimeout * 2);
    EXPECT_EQ(pasteboard->pendingTransfers(), 0);
    EXPECT_EQ(ask(1), 1) << "a dropped requestor may ask again";
    XCloseDisplay(display);
}

} // namespace
