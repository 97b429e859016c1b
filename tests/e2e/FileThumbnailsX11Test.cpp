// Copied files seen from outside: Lumra runs as its own process, another program copies files as
// a file manager does (text/uri-list), and the popup opens over them.
#include "DesktopTools.h"
#include "FifoWatchdog.h"
#include "LumraProcess.h"
#include "StoredTexts.h"
#include "Xclip.h"

#include "platform/thumbnails/SharedThumbnails.h"
#include "platform/thumbnails/Thumbnailers.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>

#include <list>

namespace {

using lumra::test::runText;
using lumra::test::xdotool;

class FileThumbnailsX11Test : public lumra::test::LumraProcessTest {
protected:
    // Copies the file as a file manager does and waits until Lumra stored it.
    void copyFile(const QString& path)
    {
        ASSERT_TRUE(
            lumra::test::xclipCopy(QUrl::fromLocalFile(path).toEncoded() + "\r\n", QStringLiteral("text/uri-list")));
        // The stored URL is percent-encoded; the name after its last space reads the same either way.
        const QByteArray name = QFileInfo(path).fileName().section(QLatin1Char(' '), -1).toUtf8();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return lumra::test::storedColumnContains(
                    dataDir.supportFolder(), "fileURLStringsJSON", name.constData());
            },
            startTimeoutMs))
            << "the copy was not stored; Lumra said:\n"
            << output().toStdString();
    }

    void openPopup()
    {
        xdotool({ "key", "--clearmodifiers", "ctrl+alt+v" });
        ASSERT_TRUE(QTest::qWaitFor(
            [] {
                return runText(QStringLiteral("xdotool"), { "getactivewindow", "getwindowname" })
                    == QStringLiteral("Lumra");
            },
            startTimeoutMs))
            << "the popup did not open; Lumra said:\n"
            << output().toStdString();
    }
};

// A FIFO named like a picture: its row keeps the icon, nothing waits for a writer that never comes,
// and Lumra still ends when asked.
TEST_F(FileThumbnailsX11Test, AFifoCopiedAsAPictureNeitherHoldsThePopupNorTheExit)
{
    const QString fifo = dataDir.root() + QStringLiteral("/x.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    startLumra();
    copyFile(fifo);
    openPopup();
    QTest::qWait(500); // the row has asked for its thumbnail
    EXPECT_EQ(m_lumra.state(), QProcess::Running);

    QElapsedTimer timer;
    timer.start();
    m_lumra.terminate();
    EXPECT_TRUE(m_lumra.waitForFinished(2000)) << "Lumra was still running 2 s after SIGTERM; it said:\n"
                                               << output().toStdString();
    EXPECT_LT(timer.elapsed(), 2000);
}

// FIFOs planted in the user's icon themes where Lumra's own icons are found (a theme's cache, a
// folder's picture, the generic document's) hold neither the start, nor the popup, nor the row of a
// copied folder.
TEST_F(FileThumbnailsX11Test, FifosInTheUsersIconThemesHoldNeitherTheStartNorThePopup)
{
    std::list<lumra::test::FifoWatchdog> fifos;
    for (const char* theme : {"hicolor", "Adwaita"}) {
        const QString folder = dataDir.dataHome() + QStringLiteral("/icons/") + QLatin1String(theme);
        for (const char* sub : {"places/48", "mimetypes/48"})
            ASSERT_TRUE(QDir().mkpath(folder + QLatin1Char('/') + QLatin1String(sub)));
        QFile index(folder + QStringLiteral("/index.theme"));
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=Planted\nDirectories=places/48,mimetypes/48\n\n"
                    "[places/48]\nSize=48\nType=Fixed\n\n[mimetypes/48]\nSize=48\nType=Fixed\n");
        index.close();
        for (const char* planted : {"icon-theme.cache", "places/48/folder.png", "mimetypes/48/text-x-generic.png"})
            ASSERT_TRUE(fifos.emplace_back(folder + QLatin1Char('/') + QLatin1String(planted), std::chrono::seconds(3)).made());
    }
    startLumra();
    const QString copied = dataDir.root() + QStringLiteral("/project");
    ASSERT_TRUE(QDir().mkpath(copied));
    copyFile(copied);
    openPopup();
    QTest::qWait(500); // the row has been painted
    saveScreenshot(QStringLiteral("popup-icon-theme-fifos.png"));
    EXPECT_EQ(m_lumra.state(), QProcess::Running);
    for (const auto& fifo : fifos)
        EXPECT_FALSE(fifo.tripped()) << "Lumra waited in a FIFO of the icon theme; it said:\n" << output().toStdString();
}

// A short video made here shows a frame in its row, drawn by the desktop's video thumbnailer and
// kept in the shared cache for the file manager.
TEST_F(FileThumbnailsX11Test, ACopiedVideoShowsAFrameInItsRow)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0")).isEmpty())
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    if (!lumra::thumbnails::ThumbnailerIndex::installed()->forMimeType(QStringLiteral("video/webm")))
        GTEST_SKIP() << "no video thumbnailer is installed";
    const QString video = dataDir.root() + QStringLiteral("/Test Clip.webm");
    QProcess gst;
    gst.start(QStringLiteral("gst-launch-1.0"),
        { "-q", "videotestsrc", "num-buffers=20", "pattern=solid-color", "foreground-color=0xffc828a0", "!",
            "video/x-raw,width=320,height=240,framerate=10/1", "!", "videoconvert", "!", "vp8enc", "!", "webmmux", "!",
            "filesink", "location=" + video });
    ASSERT_TRUE(gst.waitForFinished(30000));
    if (gst.exitCode() != 0 || QFileInfo(video).size() == 0)
        GTEST_SKIP() << "GStreamer could not make a WebM video here";

    startLumra();
    copyFile(video);
    openPopup();
    const QColor frame(200, 40, 160);
    const auto showsFrame = [&](const QImage& shot) {
        int near = 0;
        for (int y = 0; y < shot.height(); y += 2) {
            for (int x = 0; x < shot.width(); x += 2) {
                const QColor c = shot.pixelColor(x, y);
                if (std::abs(c.red() - frame.red()) + std::abs(c.green() - frame.green())
                        + std::abs(c.blue() - frame.blue())
                    < 40)
                    ++near;
            }
        }
        return near > 50;
    };
    QImage shot;
    const bool shown = QTest::qWaitFor([&] { return showsFrame(shot = screen()); }, startTimeoutMs);
    saveScreenshot(QStringLiteral("popup-video-thumbnail.png"), shot);
    EXPECT_TRUE(shown) << "the row kept its icon; Lumra said:\n" << output().toStdString();

    const QString entry = lumra::thumbnails::sharedThumbnailRoot() + QStringLiteral("/normal/")
        + lumra::thumbnails::entryName(lumra::thumbnails::fileUri(video));
    const QImage kept = QImageReader(entry).read();
    ASSERT_FALSE(kept.isNull()) << "nothing in the shared cache";
    EXPECT_EQ(kept.text("Thumb::URI"), lumra::thumbnails::fileUri(video));
    EXPECT_EQ(kept.text("Software"), QStringLiteral("Lumra"));
}

} // namespace
