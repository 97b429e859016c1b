// Sync between computers whose clocks are wrong, and through folders a restore rewrote: a stamp
// far ahead of the reader's clock, age rules run by a clock that is ahead, a home restored together
// with its sync folder, and a clone whose original goes on writing.
#include "SyncSimulation.h"

#include "platform/cloud/SyncFolderKeyValueStore.h"

namespace lumra::test::syncsim {
namespace {

constexpr qint64 minute = 60'000, day = 24 * 60 * minute;

class SyncClockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (Computer* c : all) {
            c->rules = {150, 0};
            c->start();
        }
    }
    void settle(int rounds = 4) { settleWith(tool, rounds); }
    void settleWith(FileSyncTool& with, int rounds)
    {
        for (int round = 0; round < rounds; ++round) {
            for (Computer* c : all)
                c->pass();
            with.scan();
            with.deliverAll();
        }
    }
    static QList<QByteArray> lines(const QString& path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> out = f.readAll().split('\n');
        out.removeAll(QByteArray());
        return out;
    }
    // A computer's history backed up (not its sync folder), and put back.
    static void backUp(Computer& c, const QString& to)
    {
        c.stop();
        copyTree(c.store.path(), to);
        c.start();
    }
    static void restore(Computer& c, const QString& from)
    {
        c.stop();
        copyTree(from, c.store.path());
        c.start();
    }
    // The restored computer passes under its new id, which the reader reads before what the tool
    // held back of its former id's folder.
    void newIdReadFirst(const QUuid& former)
    {
        ahead.pass();
        ASSERT_NE(ahead.device(), former);
        tool.scan();
        tool.deliverAll();
        right.pass();
        tool.release();
        settle(6);
    }
    // The other computer's history backed up, then a row made while its clock runs 200 days ahead.
    QUuid madeAheadAfterABackup(const QTemporaryDir& backup)
    {
        settle();
        backUp(ahead, backup.path());
        ahead.skew = 200 * day;
        return ahead.add(QStringLiteral("made ahead"));
    }
    // A row both hold; the other computer's history backed up, then its clock set `skew` ahead and
    // a comment given there.
    QUuid commentAfterABackup(const QTemporaryDir& backup, qint64 skew)
    {
        const QUuid shared = right.add(QStringLiteral("shared"));
        settle();
        backUp(ahead, backup.path());
        ahead.skew = skew;
        ahead.edit(shared, [](store::ManagedObject& row) { row.set(store::ItemAttr::comment, QStringLiteral("before the restore")); });
        return shared;
    }
    // The other computer, set 40 days behind, comments on a row of the present: the comment must
    // stand everywhere, stamped above the row rather than into that computer's past.
    void commentWhileBehind(const QUuid& row)
    {
        ahead.skew = -40 * day;
        ahead.pass();
        ahead.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("given while behind")); });
        settle();
        for (Computer* c : all)
            EXPECT_EQ(c->row(row)->value(QStringLiteral("comment")).toString().toStdString(), "given while behind") << c->name.toStdString();
    }
    // The stamps of every record in a device folder's journal of that generation.
    static QList<qint64> stamps(Computer& c, qint64 generation = 1)
    {
        QList<qint64> out;
        for (const QByteArray& line : lines(sync::SyncFiles::journalPath(c.ownFolder(), generation)))
            if (Result<sync::SyncRecord> r = sync::decodeRecord(line))
                out << r->mtime;
        return out;
    }

    std::mt19937 rng {37};
    SeededIds ids {37};
    Computer right {QStringLiteral("right"), ids.source()};
    Computer ahead {QStringLiteral("ahead"), ids.source()};
    QList<Computer*> all {&right, &ahead};
    FileSyncTool tool {all, rng};
};

TEST_F(SyncClockTest, AComputerWhoseClockIsAheadDoesNotWipeTheHistoryWithItsAgeRules)
{
    QList<QUuid> rows;
    for (int i = 0; i < 51; ++i)
        rows << right.add(QStringLiteral("kept %1").arg(i));
    settle();
    ASSERT_EQ(ahead.rows().size(), 51u) << "the other computer imported the history";

    // Its clock jumps 200 days ahead; at its next start, retention by its clock removes every row as 200 days old.
    ahead.skew = 200 * day;
    ahead.restart();
    ASSERT_EQ(ahead.ageRulePass().size(), 51);
    settle();
    EXPECT_EQ(right.rows().size(), 51u) << "by the right clock no row is old: none goes";
    QList<QByteArray> deletes;
    for (const QByteArray& line : lines(sync::SyncFiles::journalPath(ahead.ownFolder(), 1)))
        if (line.contains("\"op\":\"delete\""))
            deletes << line;
    ASSERT_EQ(deletes.size(), 51);
    EXPECT_TRUE(deletes.first().contains("\"rule\":\"retention\"")) << "the record says an age rule made it";
    EXPECT_TRUE(deletes.first().contains("\"threshold\":12960000")) << "and with which threshold";

    // Its clock is put right: the rows it removed come back to it from the computer that kept them.
    ahead.skew = 0;
    settle();
    EXPECT_EQ(ahead.rows(), right.rows());
    EXPECT_EQ(ahead.health().heldAhead, 0);
}

TEST_F(SyncClockTest, ACopyMadeWhileAClockRanTwoHundredDaysBehindIsOldToNoAgeRule)
{
    const QUuid before = right.add(QStringLiteral("copied before"));
    settle();
    // A dead clock battery: the other computer dates its copies 200 days ago.
    ahead.skew = -200 * day;
    const QList<QUuid> copies {ahead.add(QStringLiteral("copied behind one")), ahead.add(QStringLiteral("copied behind two"))};
    settle();
    ASSERT_TRUE(right.row(copies[0]) && right.row(copies[1])) << "the copies reached the computer whose clock is right";

    // Its retention (150 days) at its next start: a copy made minutes ago is not old.
    right.restart();
    right.pass();
    EXPECT_EQ(right.ageRulePass(), QList<QUuid> {});
    settle();
    // The other clock is put right, the computer starts again, and its own retention runs.
    ahead.skew = 0;
    ahead.restart();
    ahead.pass();
    EXPECT_EQ(ahead.ageRulePass(), QList<QUuid> {});
    settle();
    for (Computer* c : all)
        for (const QUuid& id : copies + QList<QUuid> {before})
            EXPECT_TRUE(c->row(id)) << c->name.toStdString() << " lost " << id.toString().toStdString();

    // Once they are old by every clock, they go.
    for (Computer* c : all)
        c->now += 151 * day;
    settle();
    EXPECT_EQ(right.ageRulePass().size(), 3);
    settle();
    EXPECT_TRUE(ahead.rows().empty());
}

TEST_F(SyncClockTest, ACopyMadeBehindThatAClockAheadRemovedComesBackOnceThatClockIsRight)
{
    ahead.skew = -200 * day; // this one runs behind here
    const QUuid copy = ahead.add(QStringLiteral("copied behind"));
    settle();
    ASSERT_TRUE(right.row(copy));
    // The other clock jumps 200 days ahead: its retention finds the copy it learnt of 200 days ago.
    right.skew = 200 * day;
    right.restart();
    ASSERT_EQ(right.ageRulePass(), QList<QUuid> {copy});
    settle();
    ASSERT_TRUE(ahead.row(copy)) << "kept where its own rule does not agree, and published again";

    // Put right, the clock that removed it learnt of it minutes ago: the copy it holds back lives again.
    right.skew = 0;
    settle();
    EXPECT_TRUE(right.row(copy));
    EXPECT_EQ(right.rows(), ahead.rows());
}

TEST_F(SyncClockTest, AnAgeRulesDeleteARestoreTookBackThePublishingOfStillTravelsAsTheRules)
{
    const QUuid copy = right.add(QStringLiteral("made minutes ago"));
    settle();
    ahead.skew = 200 * day;
    ASSERT_EQ(ahead.ageRulePass(), QList<QUuid> {copy});
    // Quit before the delete was published, its home backed up with the sync folder; the delete
    // goes out, and the backup is restored. Each start is a new process with nothing in memory.
    QTemporaryDir backup;
    ahead.stop();
    backUpHomeAndFolder(ahead, backup.path());
    ahead.ageRuleDeletes = std::make_shared<sync::AgeRuleLedger>();
    ahead.start();
    ahead.pass();
    ahead.stop();
    restoreHomeAndFolder(backup.path(), ahead);
    ahead.ageRuleDeletes = std::make_shared<sync::AgeRuleLedger>();
    ahead.start();
    settle();
    ahead.skew = 0;
    settle();
    for (Computer* c : all)
        EXPECT_TRUE(c->row(copy)) << c->name.toStdString() << ": only a clock 200 days ahead took it for old";
}

TEST_F(SyncClockTest, ARowTakenInBeforeTheStoreKeptWhenIsMeasuredFromThenWithSyncOffToo)
{
    right.skew = -200 * day;
    const QUuid copy = right.add(QStringLiteral("copied while its clock ran behind"));
    settle();
    ASSERT_TRUE(ahead.row(copy));
    // As a build that kept no received date left the store and its sync state.
    ahead.stop();
    for (const auto& [file, sql] : {std::pair {QStringLiteral("/Lumra.sqlite"), QStringLiteral("UPDATE CDClipboardItem SET receivedDate = NULL")},
                                    std::pair {QStringLiteral("/LumraSync.sqlite"), QStringLiteral("DELETE FROM meta WHERE key = 'receivedDatesFilled'")}}) {
        sql::Database db;
        ASSERT_TRUE(db.open(ahead.store.path() + file, false).ok());
        ASSERT_TRUE(db.exec(sql).ok());
    }
    ahead.start();
    ASSERT_FALSE(ahead.receivedDates().count(copy));
    ahead.pass();
    // Sync switched off: the store alone says the copy was taken in minutes ago.
    ahead.restart();
    EXPECT_TRUE(ahead.ageRulePass(false).isEmpty());
    EXPECT_TRUE(ahead.row(copy));
}

TEST(SyncAgeRuleLedgerTest, ANoteItsFileCannotTakeFailsAndIsNotKept)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/not yet/ledger.json");
    const QUuid refused = QUuid::createUuid();
    const QUuid noted = QUuid::createUuid();
    sync::AgeRuleLedger ledger;
    ledger.keepIn(path);
    EXPECT_FALSE(ledger.note({refused}, {sync::retentionRule, 60})) << "its deletes must then not be made";
    EXPECT_FALSE(ledger.find(refused)) << "a user's later delete of the row would travel as the rule's";

    ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/not yet")));
    ASSERT_TRUE(ledger.note({noted}, {sync::retentionRule, 60}));
    sync::AgeRuleLedger next; // the next start reads what was written
    next.keepIn(path);
    EXPECT_TRUE(next.find(noted));
    EXPECT_FALSE(next.find(refused));
}

TEST_F(SyncClockTest, AnAgeRuleDeleteAppliesWhereTheReadersOwnRuleAgrees)
{
    // Rows that are old by every clock: the same rule removes them on both computers.
    const QUuid old = right.add(QStringLiteral("really old"));
    const QUuid starred = right.add(QStringLiteral("old but starred"));
    right.edit(starred, [](store::ManagedObject& row) { row.set(store::ItemAttr::isPinned, true); });
    settle();
    for (Computer* c : all)
        c->now += 160 * day;
    const QUuid fresh = right.add(QStringLiteral("fresh"));
    settle();
    ASSERT_EQ(ahead.ageRulePass(), QList<QUuid> {old});
    settle();
    EXPECT_FALSE(right.row(old)) << "old by our clock too: the delete applies";
    EXPECT_TRUE(right.row(starred));
    EXPECT_TRUE(right.row(fresh));

    // A reader without an age rule keeps what another computer's rule removed; a plain delete goes everywhere.
    right.rules = {0, 0};
    const QUuid another = right.add(QStringLiteral("old there, no rule here"));
    ahead.remove(fresh);
    settle();
    for (Computer* c : all)
        c->now += 200 * day;
    settle();
    ASSERT_EQ(ahead.ageRulePass(), QList<QUuid> {another});
    settle();
    EXPECT_TRUE(right.row(another));
    EXPECT_FALSE(right.row(fresh));
}

TEST_F(SyncClockTest, ARowAnAgeRuleRemovedBeforeItArrivedHereGoesBackToTheRulesComputer)
{
    // Published under an id whose folder reaches the reader late (a restore gave its computer a new one).
    const QUuid kept = ahead.add(QStringLiteral("kept here"));
    ahead.pass();
    const QUuid former = ahead.device();
    QTemporaryDir backup;
    backUp(ahead, backup.path());
    ahead.add(QStringLiteral("lost with the restore"));
    ahead.pass();
    tool.scan();
    tool.hold([&](const QString& path) { return path.contains(sync::uuidText(former)); });
    restore(ahead, backup.path());

    // Its rule removes the row while its clock runs 200 days ahead; the delete goes out once the
    // clock is right, and the reader learns of it before the row.
    ahead.skew = 200 * day;
    ASSERT_EQ(ahead.ageRulePass(), QList<QUuid> {kept});
    ahead.skew = 0;
    newIdReadFirst(former);
    for (Computer* c : all)
        EXPECT_TRUE(c->row(kept)) << c->name.toStdString() << ": no rule removes it by a right clock";
}

TEST_F(SyncClockTest, AReaderThatCouldNotSayWhomItHoldsAheadSaysItOnceItCan)
{
    settle();
    ahead.skew = 200 * day;
    const QUuid made = ahead.add(QStringLiteral("made ahead"));
    ahead.pass();
    tool.scan();
    tool.deliverAll();
    // Its disk is full as the reader first holds the record.
    sync::SyncFiles::setSpaceLeftForTests(0);
    right.pass();
    sync::SyncFiles::setSpaceLeftForTests(-1);
    ASSERT_EQ(right.health().heldAhead, 1);

    ahead.skew = 0;
    settle(6);
    EXPECT_TRUE(right.row(made)) << "stamped again once it was told";
    EXPECT_EQ(right.health().heldAhead, 0);
}

TEST_F(SyncClockTest, WhatAFolderNoLongerHoldsOnceItsComputerWasRestoredIsHeldNoMore)
{
    settle();
    QTemporaryDir backup; // the home together with its sync folder
    ahead.stop();
    backUpHomeAndFolder(ahead, backup.path());
    ahead.start();
    ahead.skew = 200 * day;
    const QUuid made = ahead.add(QStringLiteral("made ahead, then restored away"));
    settle();
    ASSERT_EQ(right.health().heldAhead, 1);

    ahead.stop();
    restoreHomeAndFolder(backup.path(), ahead);
    ahead.skew = 0;
    ahead.start();
    settle(6);
    EXPECT_EQ(right.health().heldAhead, 0) << "held for good: no folder holds it, so no one stamps it again";
    EXPECT_FALSE(right.row(made));
}

TEST_F(SyncClockTest, ARecordStampedAtTheEdgeOfTheAcceptedRangeNeitherStopsSyncNorWins)
{
    const QUuid shared = right.add(QStringLiteral("shared"));
    settle();
    // A computer whose clock reads the last moment readers accept edits the row.
    ahead.skew = sync::latestMtime - ahead.now - minute;
    ahead.edit(shared, [](store::ManagedObject& row) { row.set(store::ItemAttr::comment, QStringLiteral("from 2200")); });
    const QUuid born = ahead.add(QStringLiteral("born in 2200"));
    settle();

    // The reader holds those records, says whose clock is ahead, and goes on syncing.
    EXPECT_FALSE(right.row(born));
    EXPECT_FALSE(right.row(shared)->contains(QStringLiteral("comment")));
    const auto health = right.health();
    EXPECT_EQ(health.heldAhead, 2);
    ASSERT_EQ(health.clocksAhead.size(), 1);
    EXPECT_GT(health.clocksAhead.first(), 170LL * 365 * day);
    right.edit(shared, [](store::ManagedObject& row) { row.set(store::ItemAttr::isPinned, true); });
    const QUuid later = right.add(QStringLiteral("later"));
    right.pass();
    for (qint64 stamp : stamps(right))
        EXPECT_LE(stamp, right.now + 24 * 60 * minute + 1) << "the floor never passed our clock plus the bound";
    EXPECT_EQ(right.health().keptLocal, 0) << "no change is kept local for its stamp";
    // Also after a restart: the floor comes back from storage within the bound.
    right.restart();
    right.edit(later, [](store::ManagedObject& row) { row.set(store::ItemAttr::comment, QStringLiteral("after restart")); });
    settle();
    for (qint64 stamp : stamps(right))
        EXPECT_LE(stamp, right.now + 24 * 60 * minute + 1);
    ASSERT_TRUE(ahead.row(later));
    EXPECT_EQ(ahead.row(later)->value(QStringLiteral("comment")).toString(), QStringLiteral("after restart"));

    // The writer's own clock past the range: its changes are still published, at the last stamp accepted.
    ahead.skew = sync::latestMtime - ahead.now + 3 * day;
    const QUuid beyond = ahead.add(QStringLiteral("beyond 2200"));
    ahead.pass();
    EXPECT_EQ(ahead.health().keptLocal, 0);
    EXPECT_EQ(stamps(ahead).last(), sync::latestMtime);

    // Once our clock comes near, what was held applies.
    for (Computer* c : all)
        c->now = sync::latestMtime;
    ahead.skew = 0;
    settle();
    EXPECT_TRUE(right.row(born) && right.row(beyond));
    EXPECT_EQ(right.rows(), ahead.rows());
    EXPECT_EQ(right.health().heldAhead, 0);
    EXPECT_TRUE(right.health().clocksAhead.isEmpty());
}

TEST_F(SyncClockTest, AClockPutRightWithoutARestartStampsWithinTheBoundAndWhatItMadeAheadTravels)
{
    ahead.skew = 200 * day;
    const QUuid early = ahead.add(QStringLiteral("made ahead"));
    const QUuid gone = ahead.add(QStringLiteral("made ahead, deleted once right"));
    settle();
    ASSERT_FALSE(right.row(early));
    const qsizetype written = stamps(ahead).size();

    ahead.skew = 0;
    ahead.edit(early, [](store::ManagedObject& row) { row.set(store::ItemAttr::comment, QStringLiteral("edited once right")); });
    ahead.remove(gone);
    const QUuid later = ahead.add(QStringLiteral("made once right"));
    ahead.pass();
    for (qint64 stamp : stamps(ahead).mid(written))
        EXPECT_LE(stamp, ahead.clock() + day) << "stamped again within the bound of the clock as it is now";
    tool.scan();
    tool.deliverAll();
    right.pass();
    EXPECT_EQ(right.rows(), ahead.rows()) << "within one pass";
    EXPECT_TRUE(right.row(later));
    EXPECT_EQ(right.health().heldAhead, 0);
}

TEST_F(SyncClockTest, ADeleteMadeFarAheadStaysAboveTheRowOnceItIsStampedAgain)
{
    // The row is stamped a few hours ahead (within the bound), then deleted while the clock runs
    // years ahead: once the clock is right the delete is stamped again, and must still go above it.
    ahead.skew = 5 * 60 * minute;
    const QUuid row = ahead.add(QStringLiteral("deleted far ahead"));
    settle();
    ASSERT_TRUE(right.row(row));
    ahead.skew = 3 * 365 * day;
    ahead.remove(row);
    settle();
    ahead.skew = 0;
    settle(6);
    EXPECT_FALSE(ahead.row(row));
    EXPECT_FALSE(right.row(row));
    EXPECT_EQ(right.health().heldAhead, 0);
}

TEST_F(SyncClockTest, AClockSetBehindAfterRunningAheadStampsAgainOnlyWhatItMadeAhead)
{
    // Still named as ahead for what it made three years on, the computer's clock is set 40 days
    // behind: the row made on the right computer is not its own to stamp again into the past, so
    // a comment given on it there is stamped above it.
    const QUuid shared = right.add(QStringLiteral("made on the right clock"));
    settle();
    ahead.skew = 3 * 365 * day;
    const QUuid made = ahead.add(QStringLiteral("made ahead"));
    settle(2);
    ASSERT_EQ(right.health().heldAhead, 1);
    // The computer that names it was itself 40 days behind for a while: what it says once right again counts.
    right.skew = -40 * day;
    settle(1);
    right.skew = 0;
    settle(1);
    ASSERT_EQ(right.health().heldAhead, 1);
    commentWhileBehind(shared);
    for (Computer* c : all)
        EXPECT_TRUE(c->row(made)) << c->name.toStdString();
}

TEST_F(SyncClockTest, ABoundSaidLongAgoIsSaidAgainSoWhatWasMadeSinceIsNotTakenForWhatRanAhead)
{
    ahead.skew = 3 * 365 * day;
    const QUuid made = ahead.add(QStringLiteral("made ahead"));
    settle(2);
    ASSERT_EQ(right.health().heldAhead, 1);
    // A month on, with the same computer still named, a row is made on the right clock: beyond
    // the bound said a month ago, within the one of today.
    for (Computer* c : all)
        c->now += 30 * day;
    settle(1);
    const QUuid shared = right.add(QStringLiteral("made a month later"));
    settle();
    // Set 40 days behind, the computer stamps again what it made ahead, and nothing made since.
    ahead.skew = -40 * day;
    ahead.pass();
    const Result<qint64> generation = sync::SyncFiles::readManifest(ahead.ownFolder());
    ASSERT_TRUE(generation.ok());
    bool restampedMade = false;
    for (const QByteArray& line : lines(sync::SyncFiles::journalPath(ahead.ownFolder(), generation.value())))
        if (const Result<sync::SyncRecord> record = sync::decodeRecord(line)) {
            EXPECT_NE(record->id, shared) << "taken for a row of its own made ahead";
            restampedMade = restampedMade || (record->id == made && !record->was.isEmpty());
        }
    EXPECT_TRUE(restampedMade);
}

TEST_F(SyncClockTest, AFolderLeftBehindByARestoreNoLongerSaysWhatRanAhead)
{
    // The right computer, 40 days behind, names the other as ahead; then its history is restored
    // and it goes on under a new id. Its old folder still says so, from a bound long past: it must
    // not make the other, set behind in turn, stamp a row of the present into the past.
    const QUuid shared = right.add(QStringLiteral("made on the right clock"));
    settle();
    QTemporaryDir backup;
    backUp(right, backup.path());
    right.skew = -40 * day;
    (void)ahead.add(QStringLiteral("made while the other ran behind"));
    settle(2);
    ASSERT_EQ(right.health().heldAhead, 1);
    const QUuid former = right.device();
    right.skew = 0;
    restore(right, backup.path());
    settle();
    ASSERT_NE(right.device(), former);
    commentWhileBehind(shared);
}

TEST_F(SyncClockTest, WhatAComputerMadeAheadBeforeARestoreIsHeldNowhereAndNeverUndoesALaterChange)
{
    const QUuid shared = right.add(QStringLiteral("shared"));
    settle();
    QTemporaryDir backup;
    backUp(ahead, backup.path());

    ahead.skew = 200 * day;
    const QUuid made = ahead.add(QStringLiteral("made ahead"));
    ahead.edit(shared, [](store::ManagedObject& row) { row.set(store::ItemAttr::comment, QStringLiteral("before the restore")); });
    settle();
    ASSERT_EQ(right.health().heldAhead, 2);
    const QUuid former = ahead.device();

    // Its history is restored from before, and its clock is right: it goes on under a new id.
    ahead.skew = 0;
    restore(ahead, backup.path());
    settle(6);
    ASSERT_NE(ahead.device(), former);
    for (Computer* c : all) {
        SCOPED_TRACE(c->name.toStdString());
        EXPECT_TRUE(c->row(made)) << "what it made ahead is held nowhere";
        const auto health = c->health();
        EXPECT_EQ(health.heldAhead, 0);
        EXPECT_FALSE(health.heldFrom.contains(sync::uuidText(former)) || health.clocksAhead.contains(sync::uuidText(former)))
            << "no status names the computer's former self";
    }

    // A later comment, given after seeing that one, stands once time reaches the old stamps.
    right.edit(shared, [](store::ManagedObject& row) { row.set(store::ItemAttr::comment, QStringLiteral("after the restore")); });
    settle();
    for (Computer* c : all)
        c->now += 201 * day;
    settle();
    for (Computer* c : all)
        EXPECT_EQ(c->row(shared)->value(QStringLiteral("comment")).toString().toStdString(), "after the restore") << c->name.toStdString();
}

TEST_F(SyncClockTest, AReaderThatCannotNoteAComputersFormerSelfKeepsWhatItHeldFromItAndSaysSo)
{
    QTemporaryDir backup;
    const QUuid made = madeAheadAfterABackup(backup);
    settle();
    ASSERT_EQ(right.health().heldAhead, 1);
    ahead.skew = 0;
    restore(ahead, backup.path());
    ahead.pass();
    tool.scan();
    tool.deliverAll();

    // The reader's disk fills as it notes that the folder it held records from speaks no more.
    right.failStateWrites(QStringLiteral("BEFORE INSERT ON meta WHEN NEW.key = 'superseded'"));
    right.pass();
    EXPECT_TRUE(right.lastProblems.join(u'|').contains(QStringLiteral("disk is full"))) << "the failure is told";
    EXPECT_EQ(right.health().heldAhead, 1) << "nothing of the change is kept without the rest";

    right.failStateWrites({});
    settle(6);
    EXPECT_TRUE(right.lastProblems.isEmpty()) << right.lastProblems.join(u'|').toStdString();
    EXPECT_EQ(right.health().heldAhead, 0);
    EXPECT_TRUE(right.row(made));
}

TEST_F(SyncClockTest, WhatAComputerMadeAheadBeforeARestoreTravelsThoughItsNewIdArrivedFirst)
{
    QTemporaryDir backup;
    const QUuid made = madeAheadAfterABackup(backup);
    ahead.pass();
    const QUuid former = ahead.device();
    tool.scan();
    tool.hold([&](const QString& path) { return path.contains(sync::uuidText(former)); });
    tool.deliverAll();

    // Restored, its clock right: the reader learns of the new id before the old folder's far record
    // arrives, and so drops that record for the new id to publish again.
    ahead.skew = 0;
    restore(ahead, backup.path());
    newIdReadFirst(former);
    for (Computer* c : all) {
        SCOPED_TRACE(c->name.toStdString());
        EXPECT_TRUE(c->row(made)) << "what it made ahead is held nowhere";
        EXPECT_EQ(c->health().heldAhead, 0);
        EXPECT_FALSE(c->health().clocksAhead.contains(sync::uuidText(former)));
    }
}

TEST_F(SyncClockTest, WhatAComputerMadeAheadBeforeARestoreTravelsThoughItsJournalCameBackOnlyAfterItsNewId)
{
    QTemporaryDir backup;
    const QUuid made = madeAheadAfterABackup(backup);
    settle();
    ASSERT_EQ(right.health().heldAhead, 1);
    const QUuid former = ahead.device();

    // Its own copy of its journal is a planted link as its history is restored: it takes a new id
    // while that folder seems to hold nothing, and the journal comes back from the other copy later.
    Outside outside;
    outside.plant(sync::SyncFiles::journalPath(ahead.ownFolder(), 1), 0);
    ahead.skew = 0;
    restore(ahead, backup.path());
    settle();
    ASSERT_NE(ahead.device(), former);
    tool.resyncAll();
    settle(6);
    for (Computer* c : all) {
        SCOPED_TRACE(c->name.toStdString());
        EXPECT_TRUE(c->row(made)) << "what it made ahead is held nowhere";
        EXPECT_EQ(c->health().heldAhead, 0);
    }
    EXPECT_TRUE(outside.untouched());
}

TEST_F(SyncClockTest, AChangeMadeOnARestoredHistoryWinsOverWhatTheComputerStampedAheadBeforeIt)
{
    QTemporaryDir backup;
    // Hours ahead, within what readers trust: the comment travels at once.
    const QUuid shared = commentAfterABackup(backup, 9 * 60 * minute);
    settle();
    ASSERT_EQ(right.row(shared)->value(QStringLiteral("comment")).toString(), QStringLiteral("before the restore"));

    // Restored, its clock right, and at once its user comments on the history as restored.
    ahead.skew = 0;
    restore(ahead, backup.path());
    ahead.edit(shared, [](store::ManagedObject& row) { row.set(store::ItemAttr::comment, QStringLiteral("after the restore")); });
    settle(6);
    for (Computer* c : all)
        EXPECT_EQ(c->row(shared)->value(QStringLiteral("comment")).toString().toStdString(), "after the restore") << c->name.toStdString();
}

TEST_F(SyncClockTest, ADeleteMadeOnARestoredHistoryWinsOverWhatTheComputerStampedFarAheadBeforeIt)
{
    QTemporaryDir backup;
    const QUuid shared = commentAfterABackup(backup, 200 * day);
    ahead.pass();
    tool.scan();
    tool.deliverAll();

    // Restored, its clock right, and its user deletes the row as restored, before anyone says it
    // holds that comment as ahead.
    ahead.skew = 0;
    restore(ahead, backup.path());
    ahead.remove(shared);
    settle(6);
    for (Computer* c : all)
        EXPECT_FALSE(c->row(shared)) << c->name.toStdString();
    for (Computer* c : all)
        c->now += 201 * day;
    settle();
    for (Computer* c : all)
        EXPECT_FALSE(c->row(shared)) << c->name.toStdString() << " once time reached the comment's stamp";
}

TEST_F(SyncClockTest, ADeleteSharingTheLastAcceptedStampWithItsRowOutlivesARestoreOfTheRow)
{
    // Made while the clock ran past 2200, the row is stamped at the last stamp readers accept, and
    // so are the comment given after the backup and the delete made once the clock is right (before
    // anyone said how far ahead it ran): none can go higher.
    ahead.skew = sync::latestMtime - ahead.now + 3 * day;
    const QUuid row = ahead.add(QStringLiteral("made past 2200"));
    ahead.pass();
    QTemporaryDir backup;
    backUp(ahead, backup.path());
    ahead.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("after the backup")); });
    ahead.pass();
    ahead.skew = 0;
    ahead.remove(row);
    ahead.pass();
    ASSERT_EQ(stamps(ahead), (QList<qint64> {sync::latestMtime, sync::latestMtime, sync::latestMtime}));

    // A restore brings the row back as the backup had it, and the computer stamps it again from
    // that stamp: the delete its former self made is no older than that, and is not overtaken.
    restore(ahead, backup.path());
    settle(6);
    for (Computer* c : all)
        EXPECT_FALSE(c->row(row)) << c->name.toStdString();
    for (Computer* c : all)
        c->now = sync::latestMtime;
    settle();
    for (Computer* c : all)
        EXPECT_FALSE(c->row(row)) << c->name.toStdString() << " once time reached the stamp";
}

TEST_F(SyncClockTest, AChangeMadeAfterARestoredComputerHeldWhatItStampedFarAheadBeforeWinsOverIt)
{
    QTemporaryDir backup;
    const QUuid shared = commentAfterABackup(backup, 200 * day);
    ahead.pass();
    const QUuid former = ahead.device();
    tool.scan();
    tool.hold([&](const QString& path) { return path.contains(sync::uuidText(former)); }); // no one has it yet

    // Restored, its clock right: it passes under a new id, holding what its former self stamped far
    // ahead, as no one says yet how far ahead that was. Then its user comments.
    ahead.skew = 0;
    restore(ahead, backup.path());
    ahead.pass();
    ASSERT_NE(ahead.device(), former);
    ASSERT_EQ(ahead.health().heldAhead, 1);
    ahead.edit(shared, [](store::ManagedObject& row) { row.set(store::ItemAttr::comment, QStringLiteral("after the restore")); });
    tool.release();
    settle(6);
    for (Computer* c : all)
        EXPECT_EQ(c->row(shared)->value(QStringLiteral("comment")).toString().toStdString(), "after the restore") << c->name.toStdString();
    for (Computer* c : all)
        c->now += 201 * day;
    settle();
    for (Computer* c : all)
        EXPECT_EQ(c->row(shared)->value(QStringLiteral("comment")).toString().toStdString(), "after the restore")
            << c->name.toStdString() << " once time reached the old stamp";
}

TEST_F(SyncClockTest, ACommentPublishedFromFarAheadOverAChangeTheBackupCarriedSurvivesTheRestore)
{
    // A row made while the clock ran 200 days ahead, pinned, backed up, then commented once the clock
    // is right: the pin and the comment go out together, each a step above the far stamp.
    ahead.skew = 200 * day;
    const QUuid row = ahead.add(QStringLiteral("made ahead"));
    ahead.pass();
    ahead.skew = 0;
    ahead.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::isPinned, true); });
    QTemporaryDir backup;
    backUp(ahead, backup.path());
    ahead.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("published before the restore")); });
    ahead.pass();

    // The restored history carries the pin unpublished, which goes out at that same stamp: the
    // comment its former self published there must still be taken once the far stamps are stamped again.
    restore(ahead, backup.path());
    settle(6);
    for (Computer* c : all) {
        SCOPED_TRACE(c->name.toStdString());
        ASSERT_TRUE(c->row(row));
        EXPECT_EQ(c->row(row)->value(QStringLiteral("comment")).toString().toStdString(), "published before the restore");
        EXPECT_EQ(c->health().heldAhead, 0);
    }
}

TEST_F(SyncClockTest, ACommentTheBackupCarriedUnpublishedDoesNotUndoOneGivenAfterItFromFarAhead)
{
    // Commented, backed up, published; then commented again while the clock ran 200 days ahead.
    const QUuid row = ahead.add(QStringLiteral("shared"));
    ahead.pass();
    ahead.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("carried")); });
    QTemporaryDir backup;
    backUp(ahead, backup.path());
    ahead.pass();
    ahead.skew = 200 * day;
    ahead.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("given last")); });
    ahead.pass();

    // The restored history carries the first comment unpublished, just as its former self published
    // it: no change made here, so the one given after it stands.
    ahead.skew = 0;
    restore(ahead, backup.path());
    ahead.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::isPinned, true); });
    settle(8);
    for (Computer* c : all) {
        SCOPED_TRACE(c->name.toStdString());
        ASSERT_TRUE(c->row(row));
        EXPECT_EQ(c->row(row)->value(QStringLiteral("comment")).toString().toStdString(), "given last");
        EXPECT_TRUE(c->row(row)->value(QStringLiteral("isPinned")).toBool());
    }
}

TEST_F(SyncClockTest, ADeleteReadWhileBothClocksRanAheadIsStampedAgainOnceTheyAreRight)
{
    const QUuid shared = right.add(QStringLiteral("shared"));
    settle();
    // Both run four years ahead: the other deletes the row, and this one takes the delete at once,
    // holding nothing.
    right.skew = ahead.skew = 4 * 365 * day;
    ahead.remove(shared);
    settle();
    ASSERT_FALSE(right.row(shared));
    ASSERT_EQ(right.health().heldAhead, 0);

    // Put right, this one still holds that stamp: it says so, and the delete goes out again within
    // the bound, so that a reader whose clock was right all along does not hold it for four years.
    right.skew = ahead.skew = 0;
    settle(6);
    const QList<qint64> written = stamps(ahead, 1);
    ASSERT_FALSE(written.isEmpty());
    EXPECT_LE(written.last(), ahead.clock() + day);
}

TEST_F(SyncClockTest, ACommentPublishedFarAheadBeforeItsRowWasDeletedThereStandsWhereTheRowLivesOn)
{
    const QUuid shared = ahead.add(QStringLiteral("shared"));
    ahead.edit(shared, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("first")); });
    settle();
    // A comment goes out just below the last stamp readers accept, then the row is deleted there. The
    // other computer, its clock further still, pins the row before either reaches it.
    ahead.skew = sync::latestMtime - ahead.now - 2 * minute;
    right.skew = sync::latestMtime - right.now + 5 * day;
    ahead.edit(shared, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("given ahead")); });
    ahead.pass();
    right.edit(shared, [](store::ManagedObject& r) { r.set(store::ItemAttr::isPinned, true); });
    right.pass();
    ahead.remove(shared);
    ahead.pass();
    tool.scan();
    tool.deliverAll();

    // Both put right, the deleter first: the pin outlives the delete, and the row keeps the comment,
    // though the other read the comment and the delete only once it held both for their stamps.
    ahead.skew = right.skew = 0;
    ahead.pass();
    right.now = ahead.now + 10'000;
    right.pass();
    settle(8);
    for (Computer* c : all) {
        SCOPED_TRACE(c->name.toStdString());
        ASSERT_TRUE(c->row(shared));
        EXPECT_TRUE(c->row(shared)->value(QStringLiteral("isPinned")).toBool());
        EXPECT_EQ(c->row(shared)->value(QStringLiteral("comment")).toString().toStdString(), "given ahead");
        EXPECT_EQ(c->health().heldAhead, 0);
    }
}

TEST_F(SyncClockTest, WhatWasPublishedOfARowTheBackupHeldUnpublishedStandsAfterTheRestore)
{
    const QUuid row = ahead.add(QStringLiteral("copied just before the backup"));
    QTemporaryDir backup;
    backUp(ahead, backup.path());
    ahead.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("published before the restore")); });
    settle();
    ASSERT_EQ(right.row(row)->value(QStringLiteral("comment")).toString(), QStringLiteral("published before the restore"));

    restore(ahead, backup.path());
    settle(6);
    for (Computer* c : all)
        EXPECT_EQ(c->row(row)->value(QStringLiteral("comment")).toString().toStdString(), "published before the restore") << c->name.toStdString();
}

TEST_F(SyncClockTest, AFloorStoredFarAheadComesBackWithinTheBound)
{
    const QUuid row = right.add(QStringLiteral("row"));
    right.pass();
    right.stop();
    {
        sql::Database state;
        ASSERT_TRUE(state.open(right.store.path() + QStringLiteral("/LumraSync.sqlite"), false).ok());
        ASSERT_TRUE(state.exec(QStringLiteral("UPDATE meta SET value = '%1' WHERE key = 'clockFloor'").arg(sync::latestMtime)).ok());
    }
    right.start();
    right.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("edited")); });
    right.pass();
    EXPECT_LE(stamps(right).last(), right.now + 24 * 60 * minute + 1);
    EXPECT_EQ(right.health().keptLocal, 0);
}

TEST_F(SyncClockTest, TheFloorIsKeptWithTheStampsAMergeOfTwoCopiesKeepsThoughTheExportAfterItFails)
{
    // Two copies of one text, both published before they met; one is commented on later.
    const QUuid first = right.add(QStringLiteral("twice"));
    right.add(QStringLiteral("twice"));
    right.pass();
    right.now += minute;
    right.edit(first, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("later")); });
    // A pass that reads first merges them, then finds the disk full as it writes the journal.
    sync::SyncFiles::setSpaceLeftForTests(0);
    right.pass(true);
    sync::SyncFiles::setSpaceLeftForTests(-1);
    ASSERT_FALSE(right.lastExport.ok());
    ASSERT_EQ(right.rows().size(), 1u) << "merged";

    sql::Database state;
    ASSERT_TRUE(state.open(right.store.path() + QStringLiteral("/LumraSync.sqlite"), false).ok());
    sql::Statement* st = state.prepare(QStringLiteral("SELECT MAX(mtime) FROM rowState"));
    ASSERT_TRUE(st->step());
    const qint64 latest = st->int64(0);
    st = state.prepare(QStringLiteral("SELECT value FROM meta WHERE key = 'clockFloor'"));
    ASSERT_TRUE(st->step());
    EXPECT_GE(st->text(0).toLongLong(), latest) << "the state keeps a stamp above its floor";
}

TEST_F(SyncClockTest, AHomeRestoredWithItsSyncFolderIsReadAgainFromTheStart)
{
    for (int i = 0; i < 30; ++i)
        ahead.add(QStringLiteral("before the backup %1").arg(i));
    settle();
    ahead.stop();
    QTemporaryDir backup;
    backUpHomeAndFolder(ahead, backup.path());
    ahead.start();
    for (int i = 0; i < 20; ++i)
        ahead.add(QStringLiteral("lost with the restore %1").arg(i));
    settle();
    ASSERT_EQ(right.rows().size(), 50u);

    ahead.stop();
    restoreHomeAndFolder(backup.path(), ahead);
    ahead.start();
    for (int i = 0; i < 40; ++i)
        ahead.add(QStringLiteral("after the restore %1").arg(i));
    settle(6);
    EXPECT_EQ(right.rows().size(), 90u) << "all 40 new rows, none skipped";
    EXPECT_EQ(ahead.rows(), right.rows()) << "and the 20 only the reader still had go back";
    EXPECT_TRUE(right.health().refused.isEmpty());
    EXPECT_FALSE(right.notices.filter(QStringLiteral("read again from the start")).isEmpty());
}

TEST_F(SyncClockTest, ARowOnlyAFolderARestoreEmptiedHeldGoesOutAgainFromTheComputerThatHasIt)
{
    // A home backed up together with its sync folder before this computer ever synced.
    right.pass();
    tool.scan();
    tool.deliverAll();
    ahead.stop();
    QTemporaryDir backup;
    backUpHomeAndFolder(ahead, backup.path());
    ahead.start();
    const QUuid former = ahead.device();
    // The tool never gets round to carrying the folder of that id before the restore.
    auto settleWithoutFormer = [&] {
        for (int round = 0; round < 4; ++round) {
            for (Computer* c : all)
                c->pass();
            tool.scan();
            tool.hold([&](const QString& path) { return path.contains(sync::uuidText(former)); });
            tool.deliverAll();
        }
    };
    settleWithoutFormer();
    // Its history alone restored: the folder holds what this state did not write, so a new id.
    ahead.stop();
    copyTree(backup.path() + QStringLiteral("/store"), ahead.store.path());
    ahead.start();
    const QUuid row = ahead.add(QStringLiteral("only ever in the later folder"));
    settleWithoutFormer();
    const QUuid later = ahead.device();
    ASSERT_NE(later, former);
    ASSERT_TRUE(right.row(row));

    // Home and folder restored: back to the former id. The tool carries the removal of the later
    // folder's files to the other copy and leaves the folder itself there, empty.
    ahead.stop();
    restoreHomeAndFolder(backup.path(), ahead);
    ahead.start();
    tool.scan();
    tool.deliverAll();
    const QString left = sync::SyncFiles::deviceFolder(right.root(), later);
    ASSERT_TRUE(QFileInfo(left).isDir());
    ASSERT_FALSE(QFileInfo::exists(sync::SyncFiles::manifestPath(left)));
    tool.resyncAll();
    settle(6);
    EXPECT_EQ(ahead.device(), former);
    EXPECT_TRUE(ahead.row(row)) << "published again by the computer that still holds it";
    EXPECT_EQ(ahead.rows(), right.rows());
    EXPECT_FALSE(right.notices.filter(QStringLiteral("its folder is gone")).isEmpty());
}

TEST_F(SyncClockTest, AJournalRewrittenToTheSameLengthIsNoticed)
{
    for (int i = 0; i < 5; ++i)
        ahead.add(QStringLiteral("row %1").arg(i));
    settle();
    ASSERT_EQ(right.rows().size(), 5u);
    // The same bytes count, other records: one row's text changes length by nothing.
    const QString path = sync::SyncFiles::journalPath(ahead.ownFolder(), 1);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    f.close();
    const qsizetype digit = bytes.lastIndexOf("row ") + 4;
    bytes[digit] = 'X';
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    tool.scan();
    tool.deliverAll();
    right.pass();
    EXPECT_FALSE(right.notices.filter(QStringLiteral("read again from the start")).isEmpty());
    EXPECT_EQ(right.rows().size(), 5u) << "reading again applies nothing twice";
}

TEST_F(SyncClockTest, AClonePublishesWhatItLearntFromItsFormerIdOnceNotForAsLongAsTheOriginalWrites)
{
    ahead.add(QStringLiteral("before the clone"));
    settle();
    Computer clone {QStringLiteral("clone"), ids.source()};
    cloneDisk(ahead, clone);
    all << &clone;
    FileSyncTool three {all, rng};
    three.scan();
    // The original runs first; the clone then finds the folder signed by a run it does not know.
    const QUuid original = ahead.device();
    ahead.pass();
    three.scan();
    three.deliverAll();
    settleWith(three, 3);
    ASSERT_EQ(ahead.device(), original);
    ASSERT_NE(clone.device(), original);
    const qsizetype before = lines(sync::SyncFiles::journalPath(clone.ownFolder(), sync::SyncFiles::readManifest(clone.ownFolder()).value())).size();

    // The original writes a burst: the clone reads it like any other computer's, and publishes none of it.
    for (int i = 0; i < 300; ++i)
        ahead.add(QStringLiteral("burst %1").arg(i));
    settleWith(three, 3);
    EXPECT_EQ(clone.rows().size(), 301u);
    EXPECT_EQ(right.rows(), clone.rows());
    const qint64 generation = sync::SyncFiles::readManifest(clone.ownFolder()).value();
    EXPECT_EQ(generation, 1) << "nothing grew the clone's journal to a compaction";
    EXPECT_EQ(lines(sync::SyncFiles::journalPath(clone.ownFolder(), generation)).size(), before);
}

TEST_F(SyncClockTest, WhatTheOriginalOfACloneMadeAheadReachesTheCloneOnceItsClockIsRight)
{
    // Only the original and its clone share the folder: the clone alone holds what the original
    // stamps ahead, and the original's id is a former one of the clone's.
    ahead.add(QStringLiteral("before the clone"));
    settle();
    Computer clone {QStringLiteral("clone"), ids.source()};
    cloneDisk(ahead, clone);
    all = {&ahead, &clone};
    FileSyncTool two {all, rng};
    two.scan();
    settleWith(two, 4);
    ASSERT_NE(clone.device(), ahead.device());

    ahead.skew = 3 * 365 * day;
    const QUuid made = ahead.add(QStringLiteral("made ahead"));
    settleWith(two, 4);
    ASSERT_FALSE(clone.row(made)) << "held until a clock reaches it";
    ahead.skew = 0;
    settleWith(two, 4);
    EXPECT_TRUE(clone.row(made));
    EXPECT_EQ(clone.rows(), ahead.rows());
    EXPECT_EQ(clone.health().heldAhead, 0);
}

// Three computers, two of whose clocks run far ahead and are put right at different moments.
class SyncRestampOrderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (Computer* c : all)
            c->start();
    }
    void deliver()
    {
        tool.scan();
        tool.deliverAll();
    }
    void rounds(int n)
    {
        for (int round = 0; round < n; ++round) {
            for (Computer* c : all)
                c->pass();
            deliver();
        }
    }

    // The second clock is put right later by the true time, before the second hears of the row's
    // delete: the row stays deleted everywhere.
    void secondPutRightLater(const QUuid& row)
    {
        second.skew = 0;
        second.now = first.now + 10'000;
        second.pass();
        rounds(4);
        for (Computer* c : all)
            EXPECT_FALSE(c->row(row)) << c->name.toStdString();
    }

    // The row is made while both clocks run ahead; the first is put right, stamps it again, deletes
    // it, and is off for good. The second, which made a row ahead of its own or not, is put right
    // after; what it has of the row reaches the right computer before the delete does.
    void deleteMadeOnceRight(bool secondMadeAhead)
    {
        first.skew = second.skew = 3 * 365 * day;
        const QUuid row = first.add(QStringLiteral("made ahead, deleted once right"));
        if (secondMadeAhead)
            (void)second.add(QStringLiteral("made on the second")); // so its copy is stamped again too
        rounds(3);
        ASSERT_TRUE(second.row(row));
        first.skew = 0;
        first.pass();
        first.remove(row);
        first.pass();
        tool.scan();
        const QString firstFolder = sync::uuidText(first.device());
        tool.hold([&](const QString& path) { return path.contains(firstFolder); });
        all.removeOne(&first);
        second.skew = 0;
        second.now = first.now + 10'000;
        rounds(2);
        tool.release();
        rounds(4);
        for (Computer* c : all)
            EXPECT_FALSE(c->row(row)) << c->name.toStdString();
    }

    std::mt19937 rng {41};
    SeededIds ids {41};
    Computer right {QStringLiteral("right"), ids.source()};
    Computer first {QStringLiteral("first"), ids.source()};
    Computer second {QStringLiteral("second"), ids.source()};
    QList<Computer*> all {&right, &first, &second};
    FileSyncTool tool {all, rng};
};

TEST_F(SyncRestampOrderTest, TwoClocksPutRightApartKeepTheOrderTheirChangesWereMadeIn)
{
    // The first computer's clock runs three years ahead, the second's five: the second sees the
    // first's comment, then with its clock one year ahead comments again, above that stamp.
    first.skew = 3 * 365 * day;
    second.skew = 5 * 365 * day;
    const QUuid row = first.add(QStringLiteral("commented twice"));
    first.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("first")); });
    rounds(3);
    ASSERT_EQ(second.row(row)->value(QStringLiteral("comment")).toString(), QStringLiteral("first"));
    first.skew = 0; // put right, before it hears of the second comment
    second.skew = 365 * day;
    second.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("second, later")); });
    second.pass();
    deliver();
    right.pass(); // holds both as ahead of its clock, and says so
    deliver();

    // The second clock put right too: each stamps its far stamps again before it reads the
    // other's, the second a little earlier by the true time.
    second.skew = 0;
    second.pass();
    deliver();
    first.now = second.now + 10'000;
    first.pass();
    rounds(4);
    for (Computer* c : all)
        EXPECT_EQ(c->row(row)->value(QStringLiteral("comment")).toString().toStdString(), "second, later") << c->name.toStdString();
    EXPECT_EQ(right.health().heldAhead, 0);
}

TEST_F(SyncRestampOrderTest, AChangeMadeOnAValueStampedAgainStaysAboveItWhereverThatValueStillStandsFar)
{
    const QUuid row = right.add(QStringLiteral("commented"));
    rounds(2);
    // Both other clocks run 200 days ahead: the first comments, the second takes that in.
    first.skew = 200 * day;
    second.skew = 200 * day;
    first.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("made ahead")); });
    rounds(3);
    ASSERT_EQ(second.row(row)->value(QStringLiteral("comment")).toString(), QStringLiteral("made ahead"));

    // The first's clock is put right, its comment stamped again, and its user comments on it.
    first.skew = 0;
    rounds(3);
    first.edit(row, [](store::ManagedObject& r) { r.set(store::ItemAttr::comment, QStringLiteral("after seeing it")); });
    rounds(3);
    // The second's clock is put right only then: it still holds the comment as stamped far ahead.
    second.skew = 0;
    rounds(8);
    for (Computer* c : all)
        EXPECT_EQ(c->row(row)->value(QStringLiteral("comment")).toString().toStdString(), "after seeing it") << c->name.toStdString();
}

TEST_F(SyncRestampOrderTest, ADeleteMadeBeforeTheOtherClockWasPutRightStaysDeleted)
{
    // Both clocks run three years ahead; the row is made on the first, and deleted there.
    first.skew = second.skew = 3 * 365 * day;
    const QUuid row = first.add(QStringLiteral("deleted while both clocks ran ahead"));
    (void)second.add(QStringLiteral("made on the second"));
    rounds(3);
    ASSERT_TRUE(second.row(row));
    first.remove(row);
    first.skew = 0;
    first.pass();
    // Its copy of the row is stamped again above the delete's stamp.
    secondPutRightLater(row);
}

// A delete made after the first clock was put right says the far stamp it was made after: on the
// second, a copy of the row still at that stamp, or stamped again from it, is older than the delete.
TEST_F(SyncRestampOrderTest, ADeleteMadeOnceTheClockWasRightBeatsACopyStillStampedWhereItWas)
{
    deleteMadeOnceRight(false);
}

TEST_F(SyncRestampOrderTest, ADeleteMadeOnceTheClockWasRightBeatsACopyStampedAgainFromWhereItWas)
{
    deleteMadeOnceRight(true);
}

TEST(SyncMirroredSettingsTest, AChangeOnTheComputerBehindWinsOverAnOlderOneFromAComputerAhead)
{
    QTemporaryDir shared;
    const QString root = sync::SyncFiles::root(shared.path());
    ManualClock behindClock, aheadClock;
    aheadClock.advance(std::chrono::hours(24 * 200));
    SyncFolderKeyValueStore behind {behindClock}, aheadStore {aheadClock};
    const QUuid behindId = QUuid::createUuid(), aheadId = QUuid::createUuid();
    behind.setFolder(root, behindId);
    aheadStore.setFolder(root, aheadId);

    aheadStore.setObject(QStringLiteral("maxItems"), qint64(100));
    ASSERT_TRUE(aheadStore.synchronize());
    behind.rescan();
    ASSERT_EQ(behind.object(QStringLiteral("maxItems")).toLongLong(), 100);

    // Later in truth, earlier by its clock: the user's latest choice must still stand everywhere.
    behindClock.advance(std::chrono::minutes(5));
    behind.setObject(QStringLiteral("maxItems"), qint64(500));
    ASSERT_TRUE(behind.synchronize());
    aheadStore.rescan();
    EXPECT_EQ(behind.object(QStringLiteral("maxItems")).toLongLong(), 500);
    EXPECT_EQ(aheadStore.object(QStringLiteral("maxItems")).toLongLong(), 500);
}

TEST(SyncFileLayerTest, AnAppendToAJournalReplacedByALinkNeverWritesThroughIt)
{
    QTemporaryDir shared, outside;
    const QString secret = outside.path() + QStringLiteral("/secret");
    {
        QFile f(secret);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("do not touch");
    }
    Result<sync::SyncDir> root = sync::SyncDir::openRoot(sync::SyncFiles::root(shared.path()), true);
    ASSERT_TRUE(root);
    Result<sync::SyncDir> dir = root->folder(QStringLiteral("own"), true);
    ASSERT_TRUE(dir);
    ASSERT_TRUE(dir->write(QStringLiteral("journal-1.jsonl"), "first\n").ok());
    const QString journal = sync::SyncFiles::root(shared.path()) + QStringLiteral("/own/journal-1.jsonl");
    ASSERT_TRUE(QFile::remove(journal));
    ASSERT_TRUE(QFile::link(secret, journal));

    EXPECT_FALSE(dir->append(QStringLiteral("journal-1.jsonl"), "second\n").ok());
    EXPECT_FALSE(dir->truncate(QStringLiteral("journal-1.jsonl"), 0).ok());
    QFile f(secret);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("do not touch"));
    EXPECT_TRUE(QFileInfo(journal).isSymLink());
}

} // namespace
} // namespace lumra::test::syncsim

