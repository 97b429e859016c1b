// Lumra as its own process, ended while copies it has read are still being made into items: what
// was read is kept on disk and finished at the next start, and an entry that cannot be finished is
// dropped once, not tried at every start.
#include "HostileOwners.h"
#include "StalledLumra.h"
#include "StoredTexts.h"
#include "TempDataDir.h"
#include "TestImages.h"
#include "Xclip.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>

namespace {

class CaptureJournalX11Test : public lumra::test::StalledLumraTest {
protected:
    void startLumra(const QString& stalledPaths = QStringLiteral("/nothing-stalls-here/"))
    {
        startLumraStalling(stalledPaths);
    }

    // The count `query` gives over both store files, -1 when neither answers it.
    qint64 count(const char* query) const
    {
        qint64 value = -1;
        lumra::test::forEachStore(dataDir.supportFolder(), [&](sqlite3* db) {
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v2(db, query, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
                value = std::max<qint64>(value, 0) + sqlite3_column_int64(statement, 0);
            sqlite3_finalize(statement);
        });
        return value;
    }
    qint64 journalled() const { return count("SELECT count(*) FROM LumraCaptureJournal"); }

    // The journal is kept in the store that never syncs: the local one when there are two.
    bool write(const QByteArray& sql, const char* fileName = "LumraLocal.sqlite") const
    {
        sqlite3* db = nullptr;
        QString file = dataDir.supportFolder() + QLatin1Char('/') + QLatin1String(fileName);
        if (!QFile::exists(file))
            file = dataDir.supportFolder() + QStringLiteral("/Lumra.sqlite");
        const QByteArray path = QFile::encodeName(file);
        bool done = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK
            && sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return done;
    }
};

TEST_F(CaptureJournalX11Test, APictureAndAFileListReadBeforeLumraIsKilledAreRowsAfterTheRestart)
{
    // One marker holds both lanes: the picture lane finding its decoder program, the file lane
    // looking up files in a folder named after it.
    const QString marker = QStringLiteral("lumra-image-decoder");
    const QString share = dataDir.root() + QLatin1Char('/') + marker + QStringLiteral("-share");
    startLumra(marker);

    ASSERT_TRUE(lumra::test::xclipCopy(lumra::test::solidPng(QSize(40, 30), Qt::darkMagenta), QStringLiteral("image/png")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled().count("worker") >= 1; }, startTimeoutMs))
        << "the picture never reached its decoder\n" << output().toStdString();
    const QByteArray urls = QUrl::fromLocalFile(share + QStringLiteral("/journal-1.txt")).toEncoded() + "\r\n"
        + QUrl::fromLocalFile(share + QStringLiteral("/journal-2.txt")).toEncoded() + "\r\n";
    ASSERT_TRUE(lumra::test::xclipCopy(urls, QStringLiteral("text/uri-list")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled().count("worker") >= 2; }, startTimeoutMs))
        << "the files were never looked up\n" << output().toStdString();
    // Both reads have ended. What they gave reaches the disk soon after; the checks after the
    // restart tell when it never does. Lumra is killed before the look-ups' own bound (2 s) stores
    // the files as missing ones.
    QTest::qWaitFor([&] { return journalled() >= 2; }, 1500);
    m_lumra.kill();
    ASSERT_TRUE(m_lumra.waitForFinished(5000));
    ASSERT_EQ(count("SELECT count(*) FROM CDClipboardItem WHERE contentType IS NOT NULL"), 0)
        << "stored before the kill: nothing to test";
    // Their owners are gone by the next start, as they are when the user copies on.
    ASSERT_TRUE(lumra::test::xclipCopy("copied while Lumra was not running"));

    startLumra();
    EXPECT_TRUE(QTest::qWaitFor([&] { return count("SELECT count(*) FROM CDClipboardItem WHERE contentType = 'image'") == 1; },
                                startTimeoutMs))
        << "the picture was lost\n" << output().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return lumra::test::storedColumnContains(dataDir.supportFolder(), "fileURLStringsJSON", "journal-2.txt"); },
        startTimeoutMs))
        << "the file list was lost\n" << output().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return journalled() == 0; }, startTimeoutMs)) << "the journal kept what is stored";
    EXPECT_EQ(count("SELECT count(*) FROM CDClipboardItemImage WHERE length(imageData) > 0"), 1);
}

TEST_F(CaptureJournalX11Test, APageWhoseRichTextIsStillBeingMadeAtSigtermHasItAfterTheRestart)
{
    if (!QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/hostile_x11_owner")))
        GTEST_SKIP() << "hostile_x11_owner is not built";
    // Its converter program is never found: the rich text is still being made when Lumra is ended.
    startLumra(QStringLiteral("lumra-html-converter"));
    lumra::test::HostileProgram page;
    ASSERT_TRUE(page.start(QCoreApplication::applicationDirPath() + QStringLiteral("/hostile_x11_owner"), {"rich", "A"}));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return lumra::test::storedTexts(dataDir.supportFolder()).contains("a page whose formatting is kept A"); },
        startTimeoutMs))
        << output().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled().contains("worker"); }, startTimeoutMs))
        << "the page never reached its converter\n" << output().toStdString();
    m_lumra.terminate();
    ASSERT_TRUE(m_lumra.waitForFinished(5000)) << output().toStdString();
    const char* formatted = "SELECT count(*) FROM CDClipboardItem WHERE rtfData IS NOT NULL "
                            "AND textContent = 'a page whose formatting is kept A'";
    ASSERT_EQ(count(formatted), 0) << "converted before the end: nothing to test";

    startLumra();
    EXPECT_TRUE(QTest::qWaitFor([&] { return count(formatted) == 1; }, startTimeoutMs))
        << "the page's formatting was lost\n" << output().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return journalled() == 0; }, startTimeoutMs));
}

TEST_F(CaptureJournalX11Test, AnEntryThatCannotBeFinishedIsDroppedOnceAndLumraStarts)
{
    startLumra();
    m_lumra.terminate();
    ASSERT_TRUE(m_lumra.waitForFinished(5000));
    // One was taken up at a start that never finished it (Lumra died on it); one is no picture.
    ASSERT_TRUE(write("INSERT INTO LumraCaptureJournal (kind, copiedAt, payload, tries) VALUES "
                      "('picture', 700000000, x'89504e470d0a1a0a', 1), "
                      "('picture', 700000001, 'not a picture at all', 0)"));

    startLumra();
    EXPECT_TRUE(QTest::qWaitFor([&] { return output().count("Copy from the last run dropped") >= 2; }, startTimeoutMs))
        << output().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return journalled() == 0; }, startTimeoutMs));
    ASSERT_TRUE(lumra::test::xclipCopy("a copy after the dropped ones"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return lumra::test::storedTexts(dataDir.supportFolder()).contains("a copy after the dropped ones"); },
        startTimeoutMs))
        << output().toStdString();
    m_lumra.terminate();
    ASSERT_TRUE(m_lumra.waitForFinished(5000));

    startLumra();
    ASSERT_TRUE(lumra::test::xclipCopy("a copy at the start after"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return lumra::test::storedTexts(dataDir.supportFolder()).contains("a copy at the start after"); },
        startTimeoutMs));
    EXPECT_FALSE(output().contains("Copy from the last run dropped")) << "dropped again\n" << output().toStdString();
}

// A start killed while it converts the first pictures it took up never got to the rest: they are
// stored at the next start, and only those it began are dropped.
TEST_F(CaptureJournalX11Test, PicturesAKilledStartNeverGotToAreStoredAtTheNext)
{
    startLumra();
    m_lumra.terminate();
    ASSERT_TRUE(m_lumra.waitForFinished(5000));
    const QList<QColor> colours {Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::magenta, Qt::yellow};
    QByteArray rows;
    for (qsizetype i = 0; i < colours.size(); ++i) {
        rows += (i ? ", " : "") + QByteArray("('picture', ") + QByteArray::number(700000000 + i) + ", 'image/png', x'"
            + lumra::test::solidPng(QSize(24, 16), colours[i]).toHex() + "')";
    }
    ASSERT_TRUE(write("INSERT INTO LumraCaptureJournal (kind, copiedAt, mediaType, payload) VALUES " + rows));

    // Its decoder program never found, the start is killed once a picture lane has begun.
    startLumra(QStringLiteral("lumra-image-decoder"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled().contains("worker"); }, startTimeoutMs))
        << "no picture reached its decoder\n" << output().toStdString();
    m_lumra.kill();
    ASSERT_TRUE(m_lumra.waitForFinished(5000));

    startLumra();
    EXPECT_TRUE(QTest::qWaitFor([&] { return journalled() == 0; }, startTimeoutMs)) << output().toStdString();
    const qint64 dropped = output().count("Copy from the last run dropped");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return count("SELECT count(*) FROM CDClipboardItem WHERE contentType = 'image'") == colours.size() - dropped; },
        startTimeoutMs))
        << output().toStdString();
    // Each picture lane began one; the others were never worked.
    EXPECT_LE(dropped, 2) << output().toStdString();
}

// Sync was switched off between the runs: the entry is in the store file Lumra no longer opens.
TEST_F(CaptureJournalX11Test, AnEntryInTheOtherStoreFileIsFinishedToo)
{
    startLumra();
    m_lumra.terminate();
    ASSERT_TRUE(m_lumra.waitForFinished(5000));
    ASSERT_TRUE(QFile::exists(dataDir.supportFolder() + QStringLiteral("/LumraLocal.sqlite")))
        << "one store file only: nothing to test";
    const QByteArray png = lumra::test::solidPng(QSize(24, 16), Qt::darkCyan).toHex();
    ASSERT_TRUE(write("INSERT INTO LumraCaptureJournal (kind, copiedAt, mediaType, payload) VALUES "
                      "('picture', 700000000, 'image/png', x'" + png + "')"));
    QFile settings(dataDir.settingsFile());
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    QJsonObject values = QJsonDocument::fromJson(settings.readAll()).object();
    settings.close();
    values.insert(QStringLiteral("iCloudSyncEnabled"), false);
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly | QIODevice::Truncate));
    settings.write(QJsonDocument(values).toJson());
    settings.close();

    startLumra();
    ASSERT_TRUE(output().contains("Sync enabled: false")) << output().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return count("SELECT count(*) FROM CDClipboardItem WHERE contentType = 'image'") == 1; },
                                startTimeoutMs))
        << "the picture was lost\n" << output().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return journalled() == 0; }, startTimeoutMs));
}

} // namespace
