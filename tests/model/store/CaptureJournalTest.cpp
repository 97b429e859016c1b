// The capture journal keeps what capture read until it is stored: within its bounds, whatever an
// owner offers, and each entry's work begun at one start only.
#include "model/store/CaptureJournal.h"
#include "model/store/StoreSchema.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace lumra;
using namespace lumra::store;

namespace {

class CaptureJournalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(db.openInMemory().ok());
        ASSERT_TRUE(prepareSchema(db).ok());
    }
    static JournalEntry picture(qsizetype bytes)
    {
        JournalEntry entry;
        entry.copiedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
        entry.sourceAppBundleId = QStringLiteral("org.example.Owner");
        entry.mediaType = QStringLiteral("image/png");
        entry.payload = QByteArray(bytes, 'p');
        return entry;
    }
    sql::Database db;
    CaptureJournal journal {&db};
};

TEST_F(CaptureJournalTest, AnOwnerOfferingTheLargestPicturesOverAndOverFillsNoMoreThanTheBound)
{
    const qsizetype large = CaptureJournal::maxBytes / 3;
    int kept = 0;
    for (int i = 0; i < 10; ++i)
        kept += journal.add(picture(large)).ok();
    EXPECT_EQ(kept, 3);
    EXPECT_FALSE(journal.add(picture(CaptureJournal::maxBytes + 1)).ok());
}

TEST_F(CaptureJournalTest, AnOwnerOfferingSmallPicturesOverAndOverKeepsNoMoreThanTheCountBound)
{
    int kept = 0;
    for (int i = 0; i < 3 * CaptureJournal::maxEntries; ++i)
        kept += journal.add(picture(10)).ok();
    EXPECT_EQ(kept, CaptureJournal::maxEntries);
}

TEST(CaptureJournalStoreTest, ALargePicturesPagesGoBackToTheDiskOnceItsEntryEnds)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    sql::Database db;
    ASSERT_TRUE(db.open(dir.filePath(QStringLiteral("history.sqlite"))).ok());
    ASSERT_TRUE(prepareSchema(db).ok());
    CaptureJournal journal(&db);
    JournalEntry entry;
    entry.copiedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    entry.mediaType = QStringLiteral("image/png");
    entry.payload = QByteArray(8 * 1024 * 1024, 'p');
    const Result<qint64> key = journal.add(entry);
    ASSERT_TRUE(key.ok());
    const qint64 pagesHeld = *db.integerPragma(QStringLiteral("PRAGMA page_count"));
    ASSERT_TRUE(journal.remove(*key).ok());
    // Free pages would stay in the file, as large as the picture, until some later vacuum.
    EXPECT_LT(*db.integerPragma(QStringLiteral("PRAGMA freelist_count")) * *db.integerPragma(QStringLiteral("PRAGMA page_size")),
              CaptureJournal::releasedBytes);
    EXPECT_LT(*db.integerPragma(QStringLiteral("PRAGMA page_count")), pagesHeld / 4);
}

TEST_F(CaptureJournalTest, AnEntryIsTakenUpAtOneStartOnlyAndComesBackAsItWasWritten)
{
    JournalEntry page;
    page.kind = JournalEntry::Kind::richText;
    page.copiedAt = QDateTime::fromMSecsSinceEpoch(1'700'000'000'250, Qt::UTC);
    page.itemId = QUuid::createUuid();
    page.payload = QByteArray("<b>bold</b>");
    const Result<qint64> pageKey = journal.add(page);
    ASSERT_TRUE(pageKey.ok());
    const Result<qint64> pictureKey = journal.add(picture(100));
    ASSERT_TRUE(pictureKey.ok());

    QList<JournalEntry> dropped;
    const Result<QList<JournalEntry>> first = journal.takeUp(&dropped);
    ASSERT_TRUE(first.ok());
    EXPECT_TRUE(dropped.isEmpty());
    ASSERT_EQ(first->size(), 2);
    EXPECT_EQ(first->at(0).kind, JournalEntry::Kind::richText);
    EXPECT_EQ(first->at(0).itemId, page.itemId);
    EXPECT_EQ(first->at(0).copiedAt, page.copiedAt);
    EXPECT_EQ(first->at(0).payload, page.payload);
    EXPECT_EQ(first->at(1).sourceAppBundleId, QStringLiteral("org.example.Owner"));
    EXPECT_EQ(first->at(1).mediaType, QStringLiteral("image/png"));

    // The page is stored; Lumra dies on the picture, and again on no entry at the next start.
    ASSERT_TRUE(journal.remove(*pageKey).ok());
    ASSERT_TRUE(journal.markBegun(*pictureKey).ok());
    const Result<QList<JournalEntry>> second = journal.takeUp(&dropped);
    ASSERT_TRUE(second.ok());
    EXPECT_TRUE(second->isEmpty());
    ASSERT_EQ(dropped.size(), 1);
    EXPECT_EQ(dropped[0].key, *pictureKey);
    const Result<QList<JournalEntry>> third = journal.takeUp(&dropped);
    ASSERT_TRUE(third.ok());
    EXPECT_TRUE(third->isEmpty());
    EXPECT_TRUE(dropped.isEmpty());
}

TEST_F(CaptureJournalTest, AnEntryPutBackAtAQuitIsTakenUpAgainAndOneThatCannotBeFinishedIsDropped)
{
    const Result<qint64> key = journal.add(picture(100));
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(db.exec(QStringLiteral("INSERT INTO LumraCaptureJournal (kind, copiedAt, payload) VALUES ('video', 1.0, x'00'), "
                                       "('richText', 1.0, '<b>no row named</b>')"))
                    .ok());
    QList<JournalEntry> dropped;
    ASSERT_EQ(journal.takeUp(&dropped)->size(), 1);
    EXPECT_EQ(dropped.size(), 2);
    ASSERT_TRUE(journal.markBegun(*key).ok());
    ASSERT_TRUE(journal.putBack({*key}).ok());
    const Result<QList<JournalEntry>> again = journal.takeUp(&dropped);
    ASSERT_EQ(again->size(), 1);
    EXPECT_EQ(again->at(0).key, *key);
    EXPECT_TRUE(dropped.isEmpty());
}

// A start killed while it worked one entry never got to the others: they are all worked at the
// next start, and only the one begun is dropped.
TEST_F(CaptureJournalTest, EntriesAStartNeverGotToAreWorkedAtTheNext)
{
    QList<qint64> keys;
    for (int i = 0; i < 4; ++i)
        keys.append(journal.add(picture(10 + i)).value());
    QList<JournalEntry> dropped;
    ASSERT_EQ(journal.takeUp(&dropped)->size(), 4);
    ASSERT_TRUE(journal.markBegun(keys[0]).ok());

    const Result<QList<JournalEntry>> next = journal.takeUp(&dropped);
    ASSERT_TRUE(next.ok());
    ASSERT_EQ(dropped.size(), 1);
    EXPECT_EQ(dropped[0].key, keys[0]);
    QList<qint64> worked;
    for (const JournalEntry& entry : next.value())
        worked.append(entry.key);
    EXPECT_EQ(worked, keys.mid(1));
}

} // namespace
