// Pictures from outside are decoded by the decoder program: one that names a file, runs long or
// amplifies costs Lumra a refusal or one stopped program, and the next picture decodes as usual.
#include "platform/image/ImageDecoder.h"
#include "platform/image/ImageDecoding.h"

#include "platform/files/FileChecks.h"

#include "AmplifyingImages.h"
#include "BytesRead.h"
#include "FifoWatchdog.h"
#include "ImageFixtures.h"
#include "LargestAllocation.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumra;
using namespace lumra::image;
using namespace lumra::test;

namespace {

QByteArray svgWith(const QByteArray& inside, const QByteArray& prolog = {})
{
    return prolog + "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' "
                    "width='100' height='100'>" + inside + "</svg>";
}

// An icon file whose directory claims `count` entries, each pointing at the one PNG it holds.
QByteArray iconClaiming(quint16 count, const QByteArray& png, qsizetype entriesWritten)
{
    QByteArray icon("\0\0\1\0", 4);
    icon.append(char(count & 0xff)).append(char(count >> 8));
    const quint32 offset = quint32(6 + 16 * entriesWritten);
    for (qsizetype i = 0; i < entriesWritten; ++i) {
        QByteArray entry(16, '\0');
        for (int b = 0; b < 4; ++b) {
            entry[8 + b] = char(quint32(png.size()) >> (8 * b));
            entry[12 + b] = char(offset >> (8 * b));
        }
        icon += entry;
    }
    return icon + png;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

} // namespace

TEST(ImageDecoderReferences, APictureThatNamesAnythingOutsideItselfIsRefusedUnopened)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QByteArray fifo = QFile::encodeName(folder.filePath(QStringLiteral("picture")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const QByteArray png = encode(markedImage(8, 8), "png");
    const QList<QByteArray> naming {
        svgWith("<image width='100' height='100' xlink:href='/dev/ptmx'/>"),
        svgWith("<image width='100' height='100' href='" + fifo + "'/>"),
        svgWith("<image width='100' height='100' xlink:href='data:image/png;base64," + png.toBase64() + "'/>"),
        svgWith("<style>@import url(file:///dev/zero);</style><rect width='5' height='5'/>"),
        svgWith("<style>@import 'file:///dev/zero';</style><rect width='5' height='5'/>"),
        // Qt reads what follows a blank, or the whole value, as a file name.
        svgWith("<image width='100' height='100' xlink:href='#x /dev/ptmx'/>"),
        svgWith("<image width='100' height='100' href='  #x /dev/ptmx'/>"),
        svgWith("<rect width='5' height='5' fill='url(\"#x /dev/ptmx\")'/>"),
        svgWith("<rect width='5' height='5' fill='url(file:///dev/ptmx#a)'/>"),
        svgWith("<text>&outside;</text>", "<!DOCTYPE svg [<!ENTITY outside SYSTEM 'file:///dev/ptmx'>]>"),
    };
    for (const QByteArray& svg : naming) {
        const Result<QByteArray> decoded = pngData(svg);
        EXPECT_FALSE(decoded.ok()) << svg.toStdString();
        EXPECT_TRUE(decoded.error().contains(QStringLiteral("outside itself"))) << decoded.error().toStdString();
    }
    // A reference to a part of the picture itself is what SVG is made of.
    const QByteArray own = svgWith("<defs><linearGradient id='g'><stop offset='0' stop-color='red'/></linearGradient>"
                                   "<rect id='r' width='50' height='50' fill='url(#g)'/></defs><use xlink:href='#r'/>");
    const Result<QImage> drawn = decodeImage(own);
    ASSERT_TRUE(drawn.ok()) << drawn.error().toStdString();
    EXPECT_EQ(drawn->size(), QSize(100, 100));
}

TEST(ImageDecoderReferences, AGzippedSvgIsCheckedAsItInflates)
{
    const QByteArray own = svgWith("<defs><rect id='r' width='50' height='50' fill='red'/></defs><use xlink:href='#r'/>");
    const Result<QByteArray> stored = pngData(gzipped(own));
    ASSERT_TRUE(stored.ok()) << stored.error().toStdString();
    EXPECT_EQ(imageDimensions(*stored), QSize(100, 100));

    const Result<QByteArray> naming = pngData(gzipped(svgWith("<image width='100' height='100' xlink:href='/dev/ptmx'/>")));
    ASSERT_FALSE(naming.ok());
    EXPECT_TRUE(naming.error().contains(QStringLiteral("outside itself"))) << naming.error().toStdString();
}

TEST(ImageDecoderProgram, APictureThatRunsPastItsBudgetCostsOneStoppedProgramAndNothingElse)
{
    // A long path that crosses itself everywhere: rendering it at a large size takes seconds.
    QByteArray path = "M0 0";
    QRandomGenerator random(7);
    for (int i = 0; i < 6000; ++i)
        path += " L" + QByteArray::number(random.bounded(4000)) + ' ' + QByteArray::number(random.bounded(4000));
    const QByteArray slow = "<svg xmlns='http://www.w3.org/2000/svg' width='4000' height='4000'><path d='" + path
        + "' fill='black' stroke='red' stroke-width='3'/></svg>";
    ImageDecoder decoder(ImageDecoder::installedProgram(), 1, std::chrono::milliseconds(300));
    const QByteArray png = encode(markedImage(8, 8), "png");
    ASSERT_TRUE(decoder.png(png, {}, 0).ok());
    const QList<pid_t> before = decoder.runningProcesses();
    ASSERT_EQ(before.size(), 1);

    const Result<QByteArray> refused = decoder.png(slow, {}, 0);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().contains(QStringLiteral("took too long"))) << refused.error().toStdString();
    EXPECT_TRUE(decoder.runningProcesses().isEmpty()) << "the program that ran past its budget was stopped";
    const Result<QByteArray> next = decoder.png(png, {}, 0);
    ASSERT_TRUE(next.ok()) << next.error().toStdString();
    EXPECT_NE(decoder.runningProcesses(), before);
}

TEST(ImageDecoderCost, HeadersThatClaimMoreThanTheyHoldAreRefusedBeforeAnythingIsDecoded)
{
    const QByteArray png = encode(markedImage(4, 4), "png");
    // A directory of 65,535 entries in a file that holds one; an entry of 16384×4096; sides whose
    // product overflows 64 bits; an SVG side past any int.
    const QList<QByteArray> claiming {
        iconClaiming(65535, png, 1),
        iconClaiming(40000, pngHeaderClaiming(16384, 4096) + QByteArray(64, '\0'), 1),
        iconClaiming(1, pngHeaderClaiming(0xffffffffu, 0xffffffffu) + QByteArray(64, '\0'), 1),
        "<svg xmlns='http://www.w3.org/2000/svg' width='1e9in' height='1e9in'/>",
    };
    for (const QByteArray& bytes : claiming) {
        EXPECT_FALSE(readImageHeader(bytes).ok());
        EXPECT_FALSE(pngData(bytes).ok());
    }
}

TEST(ImageDecoderCost, APictureAtThePixelCapCostsLumraOnlyItsPng)
{
    // A few bytes of GIF with an 8000×8000 screen: the decoder spends a quarter gigabyte, Lumra the
    // PNG it gets back.
    const QByteArray gif = gifWithLargeScreen();
    QByteArray png;
    const auto largest = largestAllocationDuring([&] {
        const Result<QByteArray> decoded = pngData(gif);
        ASSERT_TRUE(decoded.ok()) << decoded.error().toStdString();
        png = *decoded;
    });
    EXPECT_EQ(imageDimensions(png), QSize(8000, 8000));
    if (largest)
        EXPECT_LT(*largest, size_t(100) * 1024 * 1024);
}

TEST(ImageDecoderCost, ALargePictureIsHeldOnceOnItsWayThroughTheDecoder)
{
    // Noise, so neither the picture nor the decoder's PNG of it is much smaller than its pixels.
    QImage noise(1200, 1200, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y)
        random.fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
    const QByteArray picture = encode(noise, "png");
    ASSERT_GT(picture.size(), 3 * 1024 * 1024);
    ASSERT_TRUE(pngData(encode(markedImage(8, 8), "png")).ok()); // the programs started before

    QByteArray png;
    const auto large = largeAllocationsDuring(size_t(picture.size() / 2), [&] {
        Result<QByteArray> decoded = pngData(picture);
        ASSERT_TRUE(decoded.ok()) << decoded.error().toStdString();
        png = std::move(decoded).value();
    });
    ASSERT_GT(png.size(), picture.size() / 2);
    EXPECT_LE(png.capacity() - png.size(), 1); // the answer's own size, not rounded up (the mark cut off in place)
    if (!large)
        GTEST_SKIP() << "allocations are not seen without the sanitizer runtime";
    // One buffer, the answer at its own size: the request is not joined to its header, the answer is
    // neither rounded up nor copied to be checked or cut.
    ASSERT_EQ(large->size(), 1u);
    EXPECT_LE(large->front(), size_t(png.size()) + 64);
}

TEST(ImageDecoderProgram, CopiesAreDecodedByProgramsApartFromDisplayWork)
{
    // So that no thumbnail waits behind a burst of copied pictures, nor a copy behind thumbnails.
    const QByteArray png = encode(markedImage(8, 8), "png");
    ASSERT_TRUE(pngData(png, {}, 0, DecodeTurn::capture(QStringLiteral("drawing.desktop"))).ok());
    ASSERT_TRUE(decodeImage(png, {}, 0, DecodeTurn::shownWithin(std::chrono::seconds(30))).ok());
    const QList<pid_t> capture = ImageDecoder::shared(DecodeTurn::Lane::capture).runningProcesses();
    const QList<pid_t> display = ImageDecoder::shared(DecodeTurn::Lane::display).runningProcesses();
    ASSERT_FALSE(capture.isEmpty());
    ASSERT_FALSE(display.isEmpty());
    for (const pid_t process : capture)
        EXPECT_FALSE(display.contains(process));
}

TEST(ImageDecoderFiles, APictureFileIsReadByTheDecoderFromItsDescriptorNotByLumra)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // A small picture at the start of 250 MB that take no room on disk.
    const QString path = folder.filePath(QStringLiteral("large.png"));
    writeFile(path, encode(markedImage(64, 48), "png"));
    ASSERT_TRUE(QFile::resize(path, 250ll * 1024 * 1024));

    Result<QImage> decoded = Result<QImage>::failure({});
    const qint64 read = bytesReadDuring([&] {
        const std::optional<RegularFile> file = RegularFile::open(path);
        ASSERT_TRUE(file);
        decoded = decodeImage(*file);
    });
    ASSERT_TRUE(decoded.ok()) << decoded.error().toStdString();
    EXPECT_EQ(decoded->size(), QSize(64, 48));
    EXPECT_LT(read, 4 * 1024 * 1024) << "Lumra reads the header, the decoder the file";

    // Its bounds hold in the decoder as they did here.
    DecodeLimits small;
    small.maxBytes = 1024 * 1024;
    EXPECT_FALSE(decodeImage(*RegularFile::open(path), small).ok());
    const QString svg = folder.filePath(QStringLiteral("naming.svg"));
    // Past what Lumra reads of it: the decoder's check refuses it.
    writeFile(svg, svgWith("<image width='100' height='100' xlink:href='/dev/ptmx'/>") + QByteArray(300 * 1024, ' '));
    const Result<QImage> refused = decodeImage(*RegularFile::open(svg));
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().contains(QStringLiteral("outside itself"))) << refused.error().toStdString();
}

// The pages of a PDF are counted from 0; one asked for past either end is the first or the last.
TEST(ImageDecoderFiles, APdfPagePastEitherEndIsItsFirstOrLastPage)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("slides.pdf"));
    const QList<QColor> colours {QColor(200, 30, 30), QColor(30, 160, 60), QColor(40, 60, 200)};
    {
        QPdfWriter writer(path);
        QPainter painter(&writer);
        for (int i = 0; i < colours.size(); ++i) {
            if (i > 0)
                writer.newPage();
            painter.fillRect(QRect(0, 0, writer.width(), writer.height()), colours[i]);
        }
    }
    for (const auto& [page, shown] : {std::pair(0, 0), std::pair(1, 1), std::pair(2, 2), std::pair(3, 2), std::pair(40, 2)}) {
        SCOPED_TRACE(page);
        const std::optional<RegularFile> file = RegularFile::open(path);
        ASSERT_TRUE(file);
        const Result<PdfPage> drawn = renderPdfPage(*file, page, 64);
        ASSERT_TRUE(drawn.ok()) << drawn.error().toStdString();
        EXPECT_EQ(drawn->pageCount, 3);
        const QColor middle = drawn->image.pixelColor(drawn->image.width() / 2, drawn->image.height() / 2);
        EXPECT_NEAR(middle.red(), colours[shown].red(), 8);
        EXPECT_NEAR(middle.blue(), colours[shown].blue(), 8);
    }
}

TEST(ImageDecoderFiles, OnlyARegularFileIsOpenedNeverALinkOrAFifo)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString picture = folder.filePath(QStringLiteral("picture.png"));
    writeFile(picture, encode(markedImage(8, 8), "png"));
    const QString link = folder.filePath(QStringLiteral("link.png"));
    ASSERT_TRUE(QFile::link(picture, link));
    const std::optional<RegularFile> opened = RegularFile::open(picture);
    ASSERT_TRUE(opened);
    EXPECT_EQ(::fcntl(opened->descriptor(), F_GETFL) & O_ACCMODE, O_RDONLY) << "the decoder cannot write through it";
    EXPECT_FALSE(RegularFile::open(link)) << "a link is not followed";

    FifoWatchdog fifo(folder.filePath(QStringLiteral("fifo.png")));
    ASSERT_TRUE(fifo.made());
    EXPECT_FALSE(RegularFile::open(folder.filePath(QStringLiteral("fifo.png"))));
    EXPECT_FALSE(fifo.tripped()) << "open() waited for a writer";
}

// The program closes each file sent to it once read: a file it kept would stay open (a mount the user
// cannot unmount) and its descriptors would run out after some hundred pictures. The file's last
// close, which the watch reports, is then the test's own.
TEST(ImageDecoderFiles, EachFileSentToTheProgramIsClosedOnceRead)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("picture.png"));
    writeFile(path, encode(markedImage(8, 8), "png"));
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(path).constData(), IN_CLOSE_NOWRITE), 0);
    ImageDecoder decoder(ImageDecoder::installedProgram(), 1);
    DecodeLimits refusing;
    refusing.maxBytes = 1; // read nothing: the refused file is closed too
    for (const DecodeLimits& limits : {DecodeLimits(), refusing}) {
        {
            const std::optional<RegularFile> file = RegularFile::open(path);
            ASSERT_TRUE(file);
            EXPECT_EQ(decoder.png(*file, limits, 0, QSize(8, 8)).ok(), limits.maxBytes > 1);
        }
        pollfd closed {watch, POLLIN, 0};
        EXPECT_EQ(::poll(&closed, 1, 0), 1) << "the program still holds the file";
        char events[4096];
        while (::read(watch, events, sizeof events) > 0) {
        }
    }
    ::close(watch);
}

// A file may grow after the program looked at its size: what it reads is bounded all the same. A
// file of the kernel's, whose size says nothing of what it holds, stands for one grown since.
TEST(ImageDecoderFiles, AFileThatGrewPastTheBoundIsRefusedNotRead)
{
    const std::optional<RegularFile> file = RegularFile::open(QStringLiteral("/proc/version"));
    ASSERT_TRUE(file);
    ASSERT_EQ(file->size(), 0);
    ImageDecoder decoder(ImageDecoder::installedProgram(), 1);
    DecodeLimits limits;
    limits.maxBytes = 0;
    const Result<QByteArray> png = decoder.png(*file, limits, 0, std::nullopt);
    ASSERT_FALSE(png.ok());
    // Refused as a file past its bound, not as the picture its first bytes make.
    EXPECT_TRUE(png.error().startsWith(QStringLiteral("Image file could not be read, or is too large")))
        << png.error().toStdString();
}
