// Lumra as its own process, with threads of its own stuck on files that do not answer (a network
// mount whose server went away): the popup still opens at once, and Lumra ends soon after it is
// asked to, so a logout waits for no one.
#include "DesktopTools.h"
#include "HostileOwners.h"
#include "LumraProcess.h"
#include "StalledLumra.h"
#include "StoredTexts.h"
#include "TempDataDir.h"
#include "TestImages.h"
#include "Xclip.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QUrl>

namespace {

class QuitRoadX11Test : public lumra::test::StalledLumraTest {
protected:
    QString share() const { return dataDir.root() + QStringLiteral("/stalled-share"); }
    void startLumra() { startLumraStalling(QStringLiteral("/stalled-share/")); }
};

TEST_F(QuitRoadX11Test, SigtermEndsLumraWithinTwoSecondsWhileWorkersAreStuck)
{
    ASSERT_TRUE(QDir().mkpath(share()));
    QFile picture(share() + QStringLiteral("/photo.png"));
    ASSERT_TRUE(picture.open(QIODevice::WriteOnly));
    picture.write(lumra::test::solidPng(QSize(64, 64), Qt::blue));
    picture.close();
    QFile notes(share() + QStringLiteral("/notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("minutes\n");
    notes.close();

    startLumra();
    const QByteArray urls = QUrl::fromLocalFile(picture.fileName()).toEncoded() + "\r\n"
        + QUrl::fromLocalFile(notes.fileName()).toEncoded() + "\r\n";
    ASSERT_TRUE(lumra::test::xclipCopy(urls, QStringLiteral("text/uri-list")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled().contains("worker"); }, startTimeoutMs))
        << "no thread of Lumra's reached the stalled files\n" << output().toStdString();
    EXPECT_FALSE(stalled().contains("main")) << "the window's thread waits for a stalled file";

    QElapsedTimer quitting;
    quitting.start();
    m_lumra.terminate();
    EXPECT_TRUE(m_lumra.waitForFinished(2000)) << "still running two seconds after SIGTERM\n" << output().toStdString();
    EXPECT_LT(quitting.elapsed(), 2000);
    EXPECT_EQ(m_lumra.exitStatus(), QProcess::NormalExit);
}

// Copied pictures on the stalled mount: their rows show the generic icon while the mount hangs,
// the popup opens as fast as ever, a picture elsewhere still shows, and the stalled ones follow
// once the server is back.
TEST_F(QuitRoadX11Test, FilesOnAStalledMountHoldNeitherThePopupNorOtherRowsAndShowOnceTheMountAnswers)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "xdotool is not installed";
    const QColor stalledColour(230, 20, 200);
    const QColor nearColour(20, 200, 40);
    ASSERT_TRUE(QDir().mkpath(share()));
    const auto write = [](const QString& path, const QColor& colour) {
        QFile picture(path);
        EXPECT_TRUE(picture.open(QIODevice::WriteOnly));
        picture.write(lumra::test::solidPng(QSize(64, 64), colour));
        return path;
    };
    // The newest rows come first, so the stalled files are looked at before the one nearby.
    startLumra();
    for (const QString& path : {write(dataDir.root() + QStringLiteral("/near.png"), nearColour),
                                write(share() + QStringLiteral("/other.png"), stalledColour),
                                write(share() + QStringLiteral("/photo.png"), stalledColour)}) {
        ASSERT_TRUE(lumra::test::xclipCopy(QUrl::fromLocalFile(path).toEncoded() + "\r\n", QStringLiteral("text/uri-list")));
        const QByteArray name = QFileInfo(path).fileName().toUtf8();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return lumra::test::storedColumnContains(dataDir.supportFolder(), "fileURLStringsJSON", name.constData()); },
            startTimeoutMs))
            << "the copy was not stored\n" << output().toStdString();
    }

    const auto popupShown = [] {
        return !lumra::test::xdotool({"search", "--onlyvisible", "--name", "^Lumra$"}).isEmpty();
    };
    // The mount answers nothing until the test lets it: a popup that waited for it would not open,
    // however long the wait.
    ASSERT_TRUE(lumra::test::RunningLumra::askToTogglePopup());
    EXPECT_TRUE(QTest::qWaitFor(popupShown, startTimeoutMs)) << "the popup waited for the stalled mount\n"
                                                             << output().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled().contains("worker"); }, startTimeoutMs));
    EXPECT_FALSE(stalled().contains("main")) << "the window's thread waits for a stalled file";
    // A window that is shown but stuck in painting its rows would not close either.
    ASSERT_TRUE(lumra::test::RunningLumra::askToTogglePopup());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !popupShown(); }, startTimeoutMs)) << "the popup did not close";
    ASSERT_TRUE(lumra::test::RunningLumra::askToTogglePopup());
    ASSERT_TRUE(QTest::qWaitFor(popupShown, startTimeoutMs));

    const auto shows = [](const QColor& colour) {
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        int near = 0;
        for (int y = 0; y < shot.height(); y += 2) {
            for (int x = 0; x < shot.width(); x += 2) {
                const QColor c = shot.pixelColor(x, y);
                near += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green())
                        + std::abs(c.blue() - colour.blue()) < 30;
            }
        }
        return near > 50;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return shows(nearColour); }, 10000))
        << "the stalled look-ups held up the picture nearby";
    EXPECT_FALSE(shows(stalledColour));
    QFile back(serverBack());
    ASSERT_TRUE(back.open(QIODevice::WriteOnly));
    back.close();
    const bool shown = QTest::qWaitFor([&] { return shows(stalledColour); }, startTimeoutMs);
    const QString folder = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
    QDir().mkpath(folder);
    QGuiApplication::primaryScreen()->grabWindow(0).save(folder + QStringLiteral("/popup-stalled-mount-answered.png"));
    EXPECT_TRUE(shown) << "the rows did not show their pictures once the mount answered\n" << output().toStdString();
}

// Files on the stalled mount hold threads of the file checks for good; a folder copied after them
// is still looked at and stored as a folder, and the copies made next are stored too.
TEST_F(QuitRoadX11Test, CopiesAfterFilesOnAStalledMountAreStillLookedAt)
{
    ASSERT_TRUE(QDir().mkpath(share()));
    const QString folder = dataDir.root() + QStringLiteral("/real-folder");
    ASSERT_TRUE(QDir().mkpath(folder));
    startLumra();
    QByteArray stalledFiles;
    for (int i = 0; i < 6; ++i)
        stalledFiles += QUrl::fromLocalFile(share() + QStringLiteral("/file-%1.txt").arg(i)).toEncoded() + "\r\n";
    ASSERT_TRUE(lumra::test::xclipCopy(stalledFiles, QStringLiteral("text/uri-list")));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return lumra::test::storedColumnContains(dataDir.supportFolder(), "fileURLStringsJSON", "file-5.txt"); },
        startTimeoutMs))
        << output().toStdString();
    ASSERT_GE(stalled().count("worker"), 4) << "the checks did not reach the stalled files";

    ASSERT_TRUE(lumra::test::xclipCopy(QUrl::fromLocalFile(folder).toEncoded() + "\r\n", QStringLiteral("text/uri-list")));
    QThread::msleep(300);
    ASSERT_TRUE(lumra::test::xclipCopy("copied after the folder"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return lumra::test::storedTexts(dataDir.supportFolder()).contains("copied after the folder"); },
        startTimeoutMs))
        << output().toStdString();
    EXPECT_TRUE(lumra::test::storedColumnContains(dataDir.supportFolder(), "fileURLStringsJSON", "real-folder/"))
        << "the folder was not looked at\n" << output().toStdString();
}

// Lumra listens to the clipboard before it opens its history; a copy made in between, while it
// is still starting, was not on the clipboard before Lumra and is recorded.
TEST_F(QuitRoadX11Test, ACopyMadeWhileLumraOpensItsHistoryIsRecorded)
{
    launchLumra(QStringLiteral("/Lumra/Lumra.sqlite"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled().contains("main") || m_lumra.state() == QProcess::NotRunning; },
                                startTimeoutMs))
        << "Lumra never opened its history\n" << output().toStdString();
    ASSERT_TRUE(lumra::test::xclipCopy("copied while Lumra started"));
    // xclip takes the clipboard in a process of its own: once it answers, Lumra's stalled thread has the news waiting.
    ASSERT_TRUE(QTest::qWaitFor([] {
        return lumra::test::outputWhileServing("xclip", {"-selection", "clipboard", "-o"}) == "copied while Lumra started";
    }, startTimeoutMs));
    QFile back(serverBack());
    ASSERT_TRUE(back.open(QIODevice::WriteOnly));
    ASSERT_TRUE(QTest::qWaitFor([&] { return output().contains("Lumra started"); }, startTimeoutMs)) << output().toStdString();

    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return lumra::test::storedTexts(dataDir.supportFolder()).contains("copied while Lumra started"); }, 10000))
        << output().toStdString();
}

// Thirty files on the stalled mount hold their look-ups for good; a folder copied after them is
// still looked up at once and stored as a folder, not as a missing file.
TEST_F(QuitRoadX11Test, ThirtyStalledFilesMakeNoFolderCopiedLaterAMissingFile)
{
    ASSERT_TRUE(QDir().mkpath(share()));
    const QString folder = dataDir.root() + QStringLiteral("/later-folder");
    ASSERT_TRUE(QDir().mkpath(folder));
    startLumra();
    for (int copy = 0; copy < 5; ++copy) {
        QByteArray stalledFiles;
        for (int i = 0; i < 6; ++i)
            stalledFiles += QUrl::fromLocalFile(share() + QStringLiteral("/copy-%1-file-%2.txt").arg(copy).arg(i)).toEncoded() + "\r\n";
        ASSERT_TRUE(lumra::test::xclipCopy(stalledFiles, QStringLiteral("text/uri-list")));
        const QByteArray last = QStringLiteral("copy-%1-file-5.txt").arg(copy).toUtf8();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return lumra::test::storedColumnContains(dataDir.supportFolder(), "fileURLStringsJSON", last.constData()); },
            startTimeoutMs))
            << output().toStdString();
    }

    ASSERT_TRUE(lumra::test::xclipCopy(QUrl::fromLocalFile(folder).toEncoded() + "\r\n", QStringLiteral("text/uri-list")));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return lumra::test::storedColumnContains(dataDir.supportFolder(), "fileURLStringsJSON", "later-folder"); },
        startTimeoutMs))
        << output().toStdString();
    EXPECT_TRUE(lumra::test::storedColumnContains(dataDir.supportFolder(), "fileURLStringsJSON", "later-folder/"))
        << "the folder waited behind the stalled look-ups and was stored as a missing file\n" << output().toStdString();
}

// What was read is kept when Lumra is ended: a copy whose files do not answer is stored as named,
// not lost with its look-ups.
TEST_F(QuitRoadX11Test, ACopyWhoseFilesDoNotAnswerIsKeptWhenLumraIsEnded)
{
    ASSERT_TRUE(QDir().mkpath(share()));
    startLumra();
    const QByteArray urls = QUrl::fromLocalFile(share() + QStringLiteral("/kept-1.txt")).toEncoded() + "\r\n"
        + QUrl::fromLocalFile(share() + QStringLiteral("/kept-2.txt")).toEncoded() + "\r\n";
    ASSERT_TRUE(lumra::test::xclipCopy(urls, QStringLiteral("text/uri-list")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled().contains("worker"); }, startTimeoutMs))
        << "no thread of Lumra's reached the stalled files\n" << output().toStdString();
    m_lumra.terminate();
    ASSERT_TRUE(m_lumra.waitForFinished(5000)) << output().toStdString();
    EXPECT_TRUE(lumra::test::storedColumnContains(dataDir.supportFolder(), "fileURLStringsJSON", "kept-2.txt"))
        << "the copy was lost at quit\n" << output().toStdString();
}

// Lumra ended while a paste's forms are still made from a long rich text: the paste is dropped, its
// reader on the lane stops, and a worker still running is never met by the statics the exit
// destroys: the status is 0.
class QuitWhilePastingX11Test : public lumra::test::LumraProcessTest {
protected:
    // One row whose RTF takes seconds to read, stored before Lumra starts.
    void seedLongRichText()
    {
        QByteArray rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Helvetica;}}\\f0 ";
        while (rtf.size() < 8 * 1024 * 1024)
            rtf += "Some {\\b bold} and {\\i italic} words, \\ul underlined\\ulnone  too.\\par\n";
        rtf += "}";
        lumra::PersistenceController persistence(false, nullptr, dataDir.supportFolder());
        lumra::ClipboardItem item;
        item.id = QUuid::createUuid();
        item.textContent = QStringLiteral("a long formatted document");
        item.rtfData = rtf;
        item.dateAdded = QDateTime::currentDateTimeUtc().addSecs(-60);
        lumra::populateManagedItem(*persistence.viewContext().insert(lumra::store::EntityKind::item), item);
        ASSERT_TRUE(persistence.save().ok());
    }

    // Whether one of the process's threads carries `name`, as the lanes name theirs when a task starts.
    bool hasThread(const QByteArray& name) const
    {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(m_lumra.processId());
        for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks + QLatin1Char('/') + task + QStringLiteral("/comm"));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
                return true;
        }
        return false;
    }
};

TEST_F(QuitWhilePastingX11Test, SigtermWhileAPastesFormsAreMadeEndsWithStatusZero)
{
    seedLongRichText();
    if (HasFatalFailure())
        return;
    startLumra();
    lumra::test::xdotool({"key", "--clearmodifiers", "ctrl+alt+v"});
    // The popup is in front once the window manager gave it the keyboard focus too.
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            const QString active = lumra::test::xdotool({"getactivewindow"});
            return !active.isEmpty() && lumra::test::xdotool({"getwindowfocus", "-f"}) == active
                && lumra::test::xdotool({"getwindowname", active}) == QStringLiteral("Lumra");
        },
        startTimeoutMs))
        << "the popup did not take the focus\n" << output().toStdString();
    ASSERT_FALSE(hasThread("lumra-previews"));
    lumra::test::xdotool({"key", "Down", "Return"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return hasThread("lumra-previews"); }, startTimeoutMs))
        << "the paste's forms were not started on their lane\n" << output().toStdString();

    m_lumra.terminate();
    ASSERT_TRUE(m_lumra.waitForFinished(startTimeoutMs)) << output().toStdString();
    EXPECT_EQ(m_lumra.exitStatus(), QProcess::NormalExit) << output().toStdString();
    EXPECT_EQ(m_lumra.exitCode(), 0) << output().toStdString();
}

} // namespace
