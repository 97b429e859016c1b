#include "PasteTestSupport.h"
#include "HeldLane.h"
#include "platform/keys/EventWait.h"

#include "engine/ItemMedia.h"
#include "platform/core/BackgroundWork.h"
#include "platform/core/Folders.h"
#include "platform/image/ImageDecoding.h"
#include "platform/pasteboard/PasteboardTypes.h"
#include "platform/richtext/RtfCodec.h"

#include <QDir>
#include <QFutureWatcher>
#include <QScopeGuard>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <future>

using namespace lumra;
using namespace std::chrono_literals;

namespace {

const QString kText = QStringLiteral("text/plain;charset=utf-8");
const QString kRtf = QStringLiteral("text/rtf");
const QString kHtml = QStringLiteral("text/html");
const QString kPng = QStringLiteral("image/png");
const QString kUriList = QStringLiteral("text/uri-list");
const QString kGnome = QStringLiteral("x-special/gnome-copied-files");

const QByteArray kBoldRtf = R"({\rtf1\ansi\deff0{\fonttbl{\f0 Helvetica;}}\f0 Hello {\b bold} world}\par)";

QByteArray smallPng()
{
    QImage picture(8, 6, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    return image::encodePng(picture).value();
}

class WriteBackTest : public test::PasteTest { };

} // namespace

TEST_F(WriteBackTest, RichTextGoesOutAsTextRtfAndHtml)
{
    // As the history list holds it: the rich text stays in the store until the paste reads it.
    ClipboardItem item = addText("Hello bold world", kBoldRtf);
    item.leaveOutRichText();
    ASSERT_TRUE(test::copyToPasteboard(*manager, item, true));

    const auto written = lastWrite();
    EXPECT_EQ(written.value(kText), "Hello bold world");
    EXPECT_EQ(written.value(kRtf), kBoldRtf);
    EXPECT_TRUE(written.value(kHtml).contains("bold")) << written.value(kHtml).constData();
    EXPECT_TRUE(written.value(kHtml).contains("font-weight")) << "the HTML keeps the formatting";
}

// A long document's forms cost seconds each: the paste makes them on a lane while the main thread
// goes on, and writes, hands focus back and sends the key once they are ready. A write asked for
// meanwhile wins over a paste still being made.
TEST_F(WriteBackTest, RichFormsAreMadeOnALaneAndANewerWriteWins)
{
    BackgroundWork& work = manager->work();
    const auto lane = BackgroundWork::Lane::previews;
    const int threads = work.maxThreadCount(lane);
    work.setMaxThreadCount(lane, 1);
    struct Gate {
        std::promise<void> open;
        std::shared_future<void> opened = open.get_future().share();
        bool isOpen = false;
        void release() { if (!std::exchange(isOpen, true)) open.set_value(); }
    };
    auto block = [&](Gate& gate) { work.start(lane, [opened = gate.opened] { opened.wait(); }); };
    Gate first;
    const auto cleanup = qScopeGuard([&] {
        first.release();
        work.setMaxThreadCount(lane, threads);
    });
    block(first);

    ClipboardItem rich = addText("Hello bold world", kBoldRtf);
    rich.leaveOutRichText();
    bool handedBack = false;
    ASSERT_TRUE(manager->paste().pasteItem(rich, true, false, 50ms, [&] { handedBack = true; }));
    clock.advance(2s);
    EXPECT_TRUE(pasteboard.writes().isEmpty()) << "written before its forms were made off the main thread";
    EXPECT_FALSE(handedBack);
    EXPECT_EQ(injector.pasteCount(), 0);

    first.release();
    ASSERT_TRUE(test::processEventsUntil([&] { return !pasteboard.writes().isEmpty(); }, 10000));
    EXPECT_TRUE(handedBack);
    EXPECT_EQ(lastWrite().value(kText), "Hello bold world");
    EXPECT_EQ(lastWrite().value(kRtf), kBoldRtf);
    EXPECT_TRUE(lastWrite().value(kHtml).contains("font-weight")) << lastWrite().value(kHtml).constData();
    EXPECT_EQ(injector.pasteCount(), 0);
    clock.advance(50ms);
    EXPECT_EQ(injector.pasteCount(), 1);
    EXPECT_TRUE(current(rich.id)->lastPastedDate);

    Gate second;
    const auto releaseSecond = qScopeGuard([&] { second.release(); });
    block(second);
    ASSERT_TRUE(manager->paste().pasteItem(rich, true, false, 50ms));
    ASSERT_TRUE(test::copyToPasteboard(*manager, addText("chosen after"), false));
    second.release();
    // Queued behind the paste on the one thread: once it is done, the paste's result is in too.
    QFutureWatcher<void> behind;
    QSignalSpy done(&behind, &QFutureWatcherBase::finished);
    behind.setFuture(work.run(lane, [] { }));
    ASSERT_TRUE(done.wait(10000));
    QCoreApplication::processEvents();
    clock.advance(1s);
    ASSERT_EQ(pasteboard.writes().size(), 2);
    EXPECT_EQ(lastWrite().value(kText), "chosen after");
    EXPECT_EQ(injector.pasteCount(), 1);
}

// Links another program wrote into rich text leave with the schemes a row would open; the rest
// keep their words and lose the link, in the RTF and in the HTML.
TEST_F(WriteBackTest, RichTextLinksGoOutOnlyWithSchemesARowWouldOpen)
{
    const QByteArray rtf = R"rtf({\rtf1\ansi {\field{\*\fldinst{HYPERLINK "JavaScript:alert(1)"}}{\fldrslt run}} )rtf"
                           R"rtf({\field{\*\fldinst{HYPERLINK "java\tab script:alert(2)"}}{\fldrslt tabbed}} )rtf"
                           R"rtf({\field{\*\fldinst{HYPERLINK "file:///etc/passwd"}}{\fldrslt local}} )rtf"
                           R"rtf({\field{\*\fldinst{HYPERLINK "https://example.com/a"}}{\fldrslt site}} )rtf"
                           R"rtf({\field{\*\fldinst{HYPERLINK "mailto:someone@example.com"}}{\fldrslt mail}}})rtf";
    for (const bool newline : {false, true}) {
        SCOPED_TRACE(newline);
        ASSERT_TRUE(test::copyToPasteboard(*manager, addText("run tabbed local site mail", rtf), false, false, newline));
        const auto written = lastWrite();
        for (const QString& type : {kRtf, kHtml}) {
            const QByteArray out = written.value(type).toLower();
            EXPECT_FALSE(out.contains("script")) << type.toStdString() << ": " << out.constData();
            EXPECT_FALSE(out.contains("file:")) << type.toStdString();
            EXPECT_TRUE(out.contains("https://example.com/a")) << type.toStdString();
            EXPECT_TRUE(out.contains("mailto:someone@example.com")) << type.toStdString();
        }
        EXPECT_EQ(RichText::plainTextFromRtf(written.value(kRtf)).value_or(QString()).trimmed(),
                  QStringLiteral("run tabbed local site mail"));
    }
}

TEST_F(WriteBackTest, PlainTextAndFormattingOffLeaveOutRichText)
{
    const ClipboardItem item = addText("Hello bold world", kBoldRtf);
    ASSERT_TRUE(test::copyToPasteboard(*manager, item, true, /*plainText*/ true));
    EXPECT_EQ(lastWrite().keys(), QStringList {kText});

    manager->setPreserveFormatting(false);
    ASSERT_TRUE(test::copyToPasteboard(*manager, item, true));
    EXPECT_EQ(lastWrite().keys(), QStringList {kText});
}

TEST_F(WriteBackTest, NewlineVariantAddsALineBreakAndAParagraph)
{
    const ClipboardItem item = addText("Hello bold world", kBoldRtf);
    ASSERT_TRUE(test::copyToPasteboard(*manager, item, false, false, /*newline*/ true));

    const auto written = lastWrite();
    EXPECT_EQ(written.value(kText), "Hello bold world\n");
    const auto plain = RichText::plainTextFromRtf(written.value(kRtf));
    const auto original = RichText::plainTextFromRtf(kBoldRtf);
    ASSERT_TRUE(plain && original);
    EXPECT_EQ(plain->count(QChar::ParagraphSeparator) + plain->count('\n'),
              original->count(QChar::ParagraphSeparator) + original->count('\n') + 1);
}

TEST_F(WriteBackTest, UnreadableRtfIsWrittenUnchangedWhileTheTextGetsItsLineBreak)
{
    const QByteArray broken = "not rtf at all";
    const ClipboardItem item = addText("plain", broken);
    ASSERT_TRUE(test::copyToPasteboard(*manager, item, false, false, true));
    EXPECT_EQ(lastWrite().value(kText), "plain\n");
    EXPECT_EQ(lastWrite().value(kRtf), broken);
}

TEST_F(WriteBackTest, ImageGoesOutAsPngAndAsAPrivateFile)
{
    const QByteArray png = smallPng();
    const ClipboardItem item = addImage(png);
    ASSERT_TRUE(test::copyToPasteboard(*manager, item, true));

    const auto written = lastWrite();
    EXPECT_EQ(written.value(kPng), png);
    const QStringList urls = parseFileUrls(written.value(kUriList), kUriList);
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(parseFileUrls(written.value(kGnome), kGnome), urls);
    const QString path = QUrl(urls.first()).toLocalFile();
    EXPECT_TRUE(path.startsWith(dataDir.runtimeDir())) << qPrintable(path);
    EXPECT_EQ(QFileInfo(path).fileName(), "0123456789abcdef0123456789abcdef.png");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), png);
}

// A photo is tens of megabytes: a paste reads it and writes its file on a lane, never on the main
// thread, and writes the clipboard once they are done.
TEST_F(WriteBackTest, APicturesBytesAreReadAndWrittenOnALane)
{
    const QByteArray png = smallPng();
    const ClipboardItem item = addImage(png);
    const QString file = Folders::privateTempSubfolder("LumraPaste").value() + "/0123456789abcdef0123456789abcdef.png";
    test::HeldLane held(manager->work(), BackgroundWork::Lane::previews);
    ASSERT_TRUE(manager->paste().pasteItem(item, true, false, 50ms));
    clock.advance(2s);
    QCoreApplication::processEvents();
    EXPECT_TRUE(pasteboard.writes().isEmpty()) << "read on the main thread";
    EXPECT_FALSE(QFileInfo::exists(file)) << "written on the main thread";

    held.release();
    ASSERT_TRUE(test::processEventsUntil([&] { return !pasteboard.writes().isEmpty(); }, 10000));
    EXPECT_EQ(lastWrite().value(kPng), png);
    EXPECT_EQ(QUrl(parseFileUrls(lastWrite().value(kUriList), kUriList).value(0)).toLocalFile(), file);
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), png);
    clock.advance(50ms);
    EXPECT_EQ(injector.pasteCount(), 1);
}

TEST_F(WriteBackTest, AStoredPictureOfAnotherFormatGoesOutAsItIsUndecoded)
{
    // Another computer's picture, synced in its own format: an 8000×8000 screen in a few bytes of
    // GIF would cost a quarter gigabyte and seconds to turn into PNG at the moment of the paste.
    QByteArray gif("GIF89a\x40\x1f\x40\x1f\x80\0\0", 13);
    gif += QByteArray(6, '\0') + QByteArray("\x2c\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0\x3b", 16);
    const ClipboardItem item = addImage(gif);
    ASSERT_TRUE(test::copyToPasteboard(*manager, item, true));

    const auto written = lastWrite();
    EXPECT_FALSE(written.contains(kPng));
    EXPECT_EQ(written.value(QStringLiteral("image/gif")), gif);
    const QString path = QUrl(parseFileUrls(written.value(kUriList), kUriList).value(0)).toLocalFile();
    EXPECT_EQ(QFileInfo(path).fileName(), "0123456789abcdef0123456789abcdef.gif");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), gif);
}

TEST_F(WriteBackTest, OnlyADigestNameNamesTheImageFile)
{
    const QString hostile = QStringLiteral("../../escape.png");
    for (const std::optional<QString>& name : {std::optional<QString>(hostile), std::optional<QString>("Photo.PNG"),
                                                std::optional<QString>()}) {
        const ClipboardItem item = addImage(smallPng(), name);
        ASSERT_TRUE(test::copyToPasteboard(*manager, item, false));
        const QString path = QUrl(parseFileUrls(lastWrite().value(kUriList), kUriList).value(0)).toLocalFile();
        EXPECT_EQ(QFileInfo(path).fileName(), "clipboard-" + Json::uuidString(item.id) + ".png");
    }
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(dataDir.runtimeDir() + "/lumra/escape.png").absoluteFilePath()));
}

TEST_F(WriteBackTest, ThePasteFolderIsEmptiedOnFirstUse)
{
    const QString folder = Folders::privateTempSubfolder("LumraPaste").value();
    QFile stale(folder + "/clipboard-old.png");
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();

    ASSERT_TRUE(test::copyToPasteboard(*manager, addImage(smallPng()), false));
    EXPECT_FALSE(stale.exists());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 1);
}

TEST_F(WriteBackTest, FilesGoOutAsUriListAndGnomeCopiedFiles)
{
    QTemporaryDir files;
    const QString a = files.filePath("a.txt");
    const QString b = files.filePath("b folder");
    QFile(a).open(QIODevice::WriteOnly);
    QDir().mkpath(b);
    const ClipboardItem item = addFiles({bookmark(a), bookmark(b)}, {fileUrl(a), fileUrl(b)});

    ASSERT_TRUE(test::copyToPasteboard(*manager, item, true));
    const auto written = lastWrite();
    EXPECT_EQ(parseFileUrls(written.value(kUriList), kUriList), (QStringList {fileUrl(a), fileUrl(b)}));
    EXPECT_EQ(parseFileUrls(written.value(kGnome), kGnome), (QStringList {fileUrl(a), fileUrl(b)}));
    EXPECT_TRUE(written.value(kGnome).startsWith("copy\n"));
}

TEST_F(WriteBackTest, AFileWhoseBookmarkFailsKeepsItsPlaceByItsStoredUrl)
{
    QTemporaryDir files;
    const QString first = files.filePath("first.txt");
    const QString third = files.filePath("third.txt");
    QFile(first).open(QIODevice::WriteOnly);
    QFile(third).open(QIODevice::WriteOnly);
    const QString gone = files.filePath("gone.txt");
    const ClipboardItem item = addFiles({bookmark(first), "%%% not base64", bookmark(third), bookmark(gone)},
                                        {fileUrl(first), fileUrl(files.filePath("second.txt")), fileUrl(third), fileUrl(gone)});

    ASSERT_TRUE(test::copyToPasteboard(*manager, item, false));
    EXPECT_EQ(parseFileUrls(lastWrite().value(kUriList), kUriList),
              (QStringList {fileUrl(first), fileUrl(files.filePath("second.txt")), fileUrl(third), fileUrl(gone)}));
}

TEST_F(WriteBackTest, NothingToWriteLeavesClipboardAndHistoryAlone)
{
    ClipboardItem noText;
    const ClipboardItem textless = addItem(noText);
    const ClipboardItem imageGone = addImage(smallPng());
    ASSERT_TRUE(test::copyToPasteboard(*manager, imageGone, false)); // the row exists now...
    manager->persistence()->viewContext().deleteObject(manager->fetchManagedItem(imageGone.id));
    ASSERT_TRUE(manager->persistence()->save().ok()); // ...and is gone now
    const ClipboardItem noFiles = addFiles({}, {});
    pasteboard.setText("the user's own copy");
    const qint64 changeCount = pasteboard.changeCount();
    const qint64 writes = pasteboard.writes().size();
    const qint64 pastes = defaults->integer("totalSuccessfulPastes");

    for (const ClipboardItem& item : {textless, imageGone, noFiles}) {
        EXPECT_FALSE(test::copyToPasteboard(*manager, item, true));
        manager->paste().copyAndPaste(item, false);
    }
    clock.advance(1s);

    EXPECT_EQ(pasteboard.changeCount(), changeCount);
    EXPECT_EQ(pasteboard.writes().size(), writes);
    EXPECT_EQ(pasteboard.text(), "the user's own copy");
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), pastes);
    EXPECT_EQ(injector.pasteCount(), 0);
    EXPECT_FALSE(current(textless.id)->lastPastedDate);
}

TEST_F(WriteBackTest, AFailedWriteIsReportedAndChangesNothing)
{
    const ClipboardItem item = addText("hello");
    pasteboard.setWriteError("no owner");
    EXPECT_FALSE(test::copyToPasteboard(*manager, item, true));
    manager->paste().copyAndPaste(item, false);
    clock.advance(1s);
    EXPECT_FALSE(current(item.id)->lastPastedDate);
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 0);
    EXPECT_EQ(injector.pasteCount(), 0);
}

TEST_F(WriteBackTest, AWriteRecordsTheChangeCountAndMarksTheItem)
{
    const ClipboardItem older = addText("older");
    const ClipboardItem item = addText("pasted");
    ASSERT_TRUE(test::copyToPasteboard(*manager, item, /*moveToTop*/ false));
    EXPECT_EQ(manager->lastChangeCount(), pasteboard.changeCount());
    EXPECT_EQ(current(item.id)->lastPastedDate, clock.now());
    EXPECT_EQ(current(item.id)->dateAdded, item.dateAdded);

    clock.advance(5s);
    ASSERT_TRUE(test::copyToPasteboard(*manager, older, /*moveToTop*/ true));
    EXPECT_EQ(current(older.id)->dateAdded, clock.now());
    EXPECT_EQ(manager->clipboardItems().first().id, older.id);
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 2);
}

TEST_F(WriteBackTest, FileAccessIsHeldForTenSecondsAfterAPaste)
{
    QTemporaryDir files;
    const QString a = files.filePath("a.txt");
    QFile(a).open(QIODevice::WriteOnly);
    ASSERT_TRUE(test::copyToPasteboard(*manager, addFiles({bookmark(a)}, {fileUrl(a)}), false));
    EXPECT_EQ(manager->media().pendingFileAccessCount(), 1);
    clock.advance(10s);
    EXPECT_EQ(manager->media().pendingFileAccessCount(), 1);
    clock.advance(100ms);
    EXPECT_EQ(manager->media().pendingFileAccessCount(), 0);
}
