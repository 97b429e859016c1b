#include "EngineFixture.h"
#include "engine/BackupService.h"
#include "engine/HistoryClearing.h"
#include "TestImages.h"
#include "ThisProgram.h"

#include "model/NotificationCenter.h"
#include "model/store/Sqlite.h"
#include "model/store/StoreSchema.h"
#include "model/sync/SyncFolderContainer.h"
#include "model/sync/SyncRecord.h"
#include "platform/cloud/SyncFiles.h"
#include "platform/cloud/SyncFolderKeyValueStore.h"

#include <QDir>
#include <QImage>
#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <future>

namespace lumra::test {
namespace {

using namespace std::chrono_literals;

// The engine with its auto-clean opened up, run in place when asked.
class AgeRulesManager : public ClipboardManager {
public:
    using ClipboardManager::ClipboardManager;
    using ClipboardManager::runAutoClean;
    bool runBackgroundInline = false;

protected:
    void runInBackground(std::function<void()> work) override
    {
        if (runBackgroundInline)
            work();
        else
            ClipboardManager::runInBackground(std::move(work));
    }
};

// One computer: its own folders, settings, clock and engine, pointed at the shared sync folder.
struct Computer : EngineHarness {
    explicit Computer(QString folder) : syncFolder(std::move(folder)) { }

    // `syncOn`: the Sync page's switch, which takes effect at a start.
    void boot(bool syncOn = true)
    {
        manager.reset();
        openDefaults(syncOn);
        defaults->set(QStringLiteral("syncFolderPath"), syncFolder);
        manager = start<AgeRulesManager>([this](ClipboardManagerServices& s) {
            if (mirrorSettings)
                s.cloudKeyValueStore = &settings;
            if (!storeFolder.isEmpty())
                s.storeFolder = storeFolder;
        });
    }
    QString storePath() { return manager->persistence()->folder() + QStringLiteral("/Lumra.sqlite"); }
    SyncFolderContainer& sync() { return *manager->syncFolderContainer(); }
    void pass()
    {
        sync().syncNow();
        ASSERT_TRUE(sync().waitForIdle());
    }
    std::optional<ClipboardItem> item(const QUuid& id) const
    {
        for (const ClipboardItem& i : manager->clipboardItems())
            if (i.id == id)
                return i;
        return std::nullopt;
    }
    ClipboardItem add(const QString& text)
    {
        ClipboardItem i = textItem(text, clock.now());
        storeItems(*manager, {i});
        return i;
    }

    QString syncFolder;
    QString storeFolder; // empty: the one in this computer's own data folder
    bool mirrorSettings = true; // false: this computer's settings stay its own
    SyncFolderKeyValueStore settings {clock};
    std::unique_ptr<ClipboardManager> manager;
};

class SyncFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        a.boot();
        b.boot();
        settle();
    }
    void TearDown() override { sync::SyncFiles::setSpaceLeftForTests(-1); }
    // Both computers pass until neither has anything left to write or read.
    void settle()
    {
        for (int round = 0; round < 3; ++round) {
            a.pass();
            b.pass();
        }
    }
    QString deviceFolder(Computer& c)
    {
        return sync::SyncFiles::deviceFolder(sync::SyncFiles::root(shared.path()),
                                             sync::SyncFiles::deviceId(c.manager->persistence()->folder()));
    }

    QTemporaryDir shared;
    Computer a {shared.path()};
    Computer b {shared.path()};
};

TEST_F(SyncFolderTest, ChangesTravelBothWays)
{
    const ClipboardItem hello = a.add(QStringLiteral("hello from A"));
    settle();
    ASSERT_TRUE(b.item(hello.id)) << "a copy on A shows on B";

    ASSERT_TRUE(b.manager->togglePinned(*b.item(hello.id)).ok());
    ASSERT_TRUE(b.manager->setItemTags(*b.item(hello.id), {QStringLiteral("work")}).ok());
    ClipboardCategory category;
    category.id = QUuid::createUuid();
    category.name = QStringLiteral("Snippets");
    ASSERT_TRUE(b.manager->addCategory(category).ok());
    ASSERT_TRUE(b.manager->setItemCategory(*b.item(hello.id), category.id).ok());
    settle();
    const auto onA = a.item(hello.id);
    ASSERT_TRUE(onA);
    EXPECT_TRUE(onA->isPinned);
    EXPECT_EQ(onA->tags, QStringList {QStringLiteral("work")});
    EXPECT_EQ(onA->categoryId, category.id);
    ASSERT_EQ(a.manager->categories().size(), 1);
    EXPECT_EQ(a.manager->categories().first().name, QStringLiteral("Snippets"));

    ASSERT_TRUE(a.manager->deleteItemPermanently(hello.id).ok());
    settle();
    EXPECT_FALSE(b.item(hello.id)) << "a delete on A removes the row on B";
    EXPECT_TRUE(a.sync().recentProblems().isEmpty() && b.sync().recentProblems().isEmpty());
}

TEST_F(SyncFolderTest, ConcurrentEditsEndTheSameOnBothAndALaterEditBeatsADelete)
{
    const ClipboardItem item = a.add(QStringLiteral("shared"));
    settle();
    ASSERT_TRUE(b.item(item.id));

    // Both comment while apart; B's clock is later, so B's comment wins everywhere.
    b.clock.advance(10s);
    ASSERT_TRUE(a.manager->setItemComment(*a.item(item.id), QStringLiteral("from A")).ok());
    ASSERT_TRUE(b.manager->setItemComment(*b.item(item.id), QStringLiteral("from B")).ok());
    settle();
    EXPECT_EQ(a.item(item.id)->comment, QStringLiteral("from B"));
    EXPECT_EQ(b.item(item.id)->comment, QStringLiteral("from B"));

    // A deletes while B edits later: the edit survives on both.
    b.clock.advance(10s);
    ASSERT_TRUE(a.manager->deleteItemPermanently(item.id).ok());
    ASSERT_TRUE(b.manager->setItemComment(*b.item(item.id), QStringLiteral("kept")).ok());
    settle();
    ASSERT_TRUE(a.item(item.id));
    EXPECT_EQ(a.item(item.id)->comment, QStringLiteral("kept"));
    EXPECT_EQ(b.item(item.id)->comment, QStringLiteral("kept"));
}

TEST_F(SyncFolderTest, ARestartImportsWhatWasMissedAndLocalRowsNeverLeave)
{
    b.manager.reset();
    const ClipboardItem missed = a.add(QStringLiteral("while B was off"));
    ClipboardItem local = textItem(QStringLiteral("stays here"), a.clock.now());
    storeItems(*a.manager, {local}, {}, a.manager->persistence()->localStore());
    a.pass();

    b.boot();
    settle();
    EXPECT_TRUE(b.item(missed.id));
    EXPECT_FALSE(b.item(local.id));
    QByteArray journals;
    for (const QString& name : QDir(deviceFolder(a)).entryList({QStringLiteral("*.jsonl")}, QDir::Files))
        journals += sync::SyncFiles::readRegularFile(deviceFolder(a) + u'/' + name, 1 << 24).value();
    EXPECT_FALSE(journals.contains(sync::uuidText(local.id).toLatin1())) << "a local row is never written to the folder";
}

TEST_F(SyncFolderTest, ImagesTravelAndJournalsCompactWithoutLosingRows)
{
    a.sync().setCompactAfterRecords(4);
    const QByteArray png = solidPng({40, 30}, Qt::darkCyan);
    ClipboardItem image;
    image.id = QUuid::createUuid();
    image.contentType = ClipboardContentType::image;
    image.imageFileName = QStringLiteral("0123456789abcdef0123456789abcdef.png");
    image.dateAdded = a.clock.now();
    storeItems(*a.manager, {image}, withImageData(png));
    QList<QUuid> texts;
    for (int i = 0; i < 9; ++i)
        texts << a.add(QStringLiteral("text %1").arg(i)).id;
    settle();
    ASSERT_TRUE(b.item(image.id));
    for (const QUuid& id : texts)
        EXPECT_TRUE(b.item(id));
    EXPECT_GE(sync::SyncFiles::readManifest(deviceFolder(a)).value(), 2) << "the journal was compacted";

    // A computer that starts after the compaction reads everything from the snapshot.
    QTemporaryDir elsewhere;
    Computer c {shared.path()};
    c.boot();
    c.pass();
    c.pass();
    EXPECT_TRUE(c.item(image.id));
    for (const QUuid& id : texts)
        EXPECT_TRUE(c.item(id));
    auto row = c.manager->persistence()->viewContext().fetchById(store::EntityKind::item, image.id);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->bytes(store::ItemAttr::imageData).value_or(QByteArray()), png);
}

TEST_F(SyncFolderTest, HostileRecordsAreSkippedAndTheRestApplies)
{
    const QUuid intruder = QUuid::createUuid();
    const QString folder = sync::SyncFiles::deviceFolder(sync::SyncFiles::root(shared.path()), intruder);
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/images")));
    const QString device = sync::uuidText(intruder);
    const QString good = sync::uuidText(QUuid::createUuid());
    auto put = [&](const QString& id, const QString& fields, const QString& extra = {}) {
        return QStringLiteral(R"({"v":1,"op":"put","entity":"item","id":"%1","mtime":1772355600000,"device":"%2","fields":{%3}%4})")
            .arg(id, device, fields, extra);
    };
    const QString fine = QStringLiteral(R"("contentType":"text","textContent":"survivor","dateAdded":794000000)");
    QFile(folder + QStringLiteral("/images/") + QString(64, u'a') + QStringLiteral(".png")).open(QIODevice::WriteOnly);
    QFile::link(QStringLiteral("/etc/passwd"), folder + QStringLiteral("/images/") + QString(64, u'b') + QStringLiteral(".png"));
    const QStringList lines {
        QStringLiteral("{not json"),
        QStringLiteral(R"({"v":99,"op":"put","entity":"item","id":"%1","mtime":1772355600000,"device":"%2","fields":{}})").arg(good, device),
        put(QStringLiteral("not-a-uuid"), fine),
        put(sync::uuidText(QUuid::createUuid()), fine, QStringLiteral(R"(,"image":"../../../etc/passwd")")),
        put(sync::uuidText(QUuid::createUuid()), fine, QStringLiteral(R"(,"image":"%1")").arg(QString(64, u'a'))),
        put(sync::uuidText(QUuid::createUuid()), fine, QStringLiteral(R"(,"image":"%1")").arg(QString(64, u'b'))),
        put(sync::uuidText(QUuid::createUuid()), QStringLiteral(R"("textContent":"x","dateAdded":1e300)")),
        put(sync::uuidText(QUuid::createUuid()), QStringLiteral(R"("textContent":"x","shortcutKeyCode":9999999)")),
        put(sync::uuidText(QUuid::createUuid()), fine).replace(device, sync::uuidText(QUuid::createUuid())),
        put(good, fine),
        QStringLiteral(R"({"v":1,"op":"put","entity":"item","id":"%1","mtime":17723)").arg(good), // torn, unfinished
    };
    QFile journal(sync::SyncFiles::journalPath(folder, 1));
    ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
    journal.write((lines.mid(0, lines.size() - 1).join(u'\n') + u'\n' + lines.last()).toUtf8());
    journal.close();
    ASSERT_TRUE(sync::SyncFiles::writeAtomically(sync::SyncFiles::manifestPath(folder), R"({"v":1,"generation":1})"));

    a.pass();
    const auto survivor = a.item(sync::parseUuid(good));
    ASSERT_TRUE(survivor) << "the valid record still applies";
    EXPECT_EQ(survivor->textContent, QStringLiteral("survivor"));
    EXPECT_EQ(a.manager->clipboardItems().size(), 1);
    const QStringList problems = a.sync().recentProblems();
    EXPECT_EQ(problems.size(), 8) << problems.join(u'\n').toStdString();
    for (int line : {1, 2, 3, 4, 6, 7, 8, 9})
        EXPECT_TRUE(problems.filter(QStringLiteral("line %1:").arg(line)).size() == 1) << line;
    // An image file whose bytes are not (yet) the image named may still be arriving: the record waits, and says so.
    EXPECT_EQ(a.sync().warning(), QStringLiteral("8 records refused from computer %1, 1 record waiting for its image").arg(device.left(8)));
    // Counted once each, not once per pass.
    a.pass();
    a.pass();
    EXPECT_EQ(a.sync().warning(), QStringLiteral("8 records refused from computer %1, 1 record waiting for its image").arg(device.left(8)));
}

TEST_F(SyncFolderTest, MirroredSettingsFollowBothWays)
{
    ASSERT_TRUE(a.manager->setSetting(Setting::maxItems, qint64(500)));
    b.clock.advance(5s);
    settle();
    EXPECT_EQ(b.manager->maxItems(), 500);
    ASSERT_TRUE(b.manager->setSetting(Setting::recycleBinDays, qint64(7)));
    a.clock.advance(10s);
    settle();
    EXPECT_EQ(a.manager->recycleBinDays(), 7);
}

TEST_F(SyncFolderTest, AFolderThatGoesAwayStopsSyncWithAStatusAndComesBack)
{
    QStringList statuses;
    NotificationCenter::defaultCenter().observe(Notifications::iCloudSyncStatusChanged, &a.sync(),
                                                [&](const QVariantMap& info) { statuses << info.value("status").toString(); });
    const ClipboardItem before = a.add(QStringLiteral("before"));
    settle();
    const QString away = shared.path() + QStringLiteral(".away");
    ASSERT_TRUE(QDir().rename(shared.path(), away));
    a.add(QStringLiteral("while away"));
    a.pass();
    EXPECT_TRUE(a.item(before.id)) << "the local history stays";
    ASSERT_FALSE(statuses.isEmpty());
    EXPECT_EQ(statuses.last(), QStringLiteral("❌ SETUP failed: The sync folder is not available"));

    ASSERT_TRUE(QDir().rename(away, shared.path()));
    settle();
    EXPECT_TRUE(statuses.contains(QStringLiteral("✅ SETUP succeeded")) || statuses.last().startsWith(QStringLiteral("✅")));
    EXPECT_EQ(b.manager->clipboardItems().size(), 2) << "what was made while away follows once it is back";
}

TEST_F(SyncFolderTest, AClockSetBackAfterAFailedPassDelaysTheNextByNoMoreThanTheLongestBackOff)
{
    QStringList statuses;
    NotificationCenter::defaultCenter().observe(Notifications::iCloudSyncStatusChanged, &a.sync(),
                                                [&](const QVariantMap& info) { statuses << info.value("status").toString(); });
    const QString away = shared.path() + QStringLiteral(".away");
    ASSERT_TRUE(QDir().rename(shared.path(), away));
    a.pass();
    ASSERT_FALSE(statuses.isEmpty());
    ASSERT_TRUE(statuses.last().contains(QStringLiteral("not available"))) << statuses.last().toStdString();
    ASSERT_TRUE(QDir().rename(away, shared.path()));

    // Nothing changes in the folder meanwhile, so only the rescans can find it back.
    a.clock.setNow(a.clock.now().addSecs(-2 * 3600));
    const int before = a.sync().passesStarted();
    for (auto at = 0s; at < SyncFolderContainer::longestBackOff + SyncFolderContainer::rescanInterval && !statuses.last().startsWith(QStringLiteral("✅")); at += 1s) {
        a.clock.advance(1s);
        ASSERT_TRUE(a.sync().waitForIdle());
    }
    EXPECT_GT(a.sync().passesStarted(), before) << "sync goes on within the longest back-off, however far the clock went back";
    EXPECT_TRUE(statuses.last().startsWith(QStringLiteral("✅"))) << statuses.last().toStdString();
}

TEST_F(SyncFolderTest, FoldersRemovedUnderARunningContainerAreMadeAgainWithRetriesBackingOffAndImportsGoingOn)
{
    QStringList failures;
    NotificationCenter::defaultCenter().observe(Notifications::iCloudSyncStatusChanged, &a.sync(), [&](const QVariantMap& info) {
        if (info.value("status").toString().contains(QStringLiteral("failed")))
            failures << info.value("status").toString();
    });
    const QString ours = deviceFolder(a);
    // Time moves on A as the container's timers and watcher see it, a second at a time; each pass due runs.
    auto run = [&](std::chrono::seconds span) {
        for (auto at = 0s; at < span; at += 1s) {
            a.clock.advance(1s);
            ASSERT_TRUE(a.sync().waitForIdle());
        }
    };

    // Our device folder goes: made again at the next rescan, with nothing failing.
    ASSERT_TRUE(QDir(ours).removeRecursively());
    run(10s);
    EXPECT_TRUE(QFileInfo(sync::SyncFiles::manifestPath(ours)).isFile());
    EXPECT_TRUE(failures.isEmpty()) << failures.join(u'\n').toStdString();

    // The whole "Lumra" folder goes while the disk is full: making it again fails for as long as
    // the disk stays full, and the retries wait longer each time instead of failing every rescan.
    ASSERT_TRUE(QDir(sync::SyncFiles::root(shared.path())).removeRecursively());
    sync::SyncFiles::setSpaceLeftForTests(0);
    const int before = a.sync().passesStarted();
    run(120s);
    sync::SyncFiles::setSpaceLeftForTests(-1);
    const int attempts = a.sync().passesStarted() - before;
    EXPECT_GE(attempts, 3) << "it keeps trying";
    EXPECT_LE(attempts, 7) << "but backs off: a rescan every 5 s would be 24 attempts";
    EXPECT_LE(failures.size(), 1) << "one failure said, not one per attempt: " << failures.join(u'\n').toStdString();

    // Room again: ours is made again within the longest back-off, and what B writes is imported.
    run(std::chrono::duration_cast<std::chrono::seconds>(SyncFolderContainer::longestBackOff));
    EXPECT_TRUE(QFileInfo(sync::SyncFiles::manifestPath(ours)).isFile());
    const ClipboardItem fromB = b.add(QStringLiteral("written after the folders came back"));
    b.pass();
    run(10s);
    EXPECT_TRUE(a.item(fromB.id)) << "importing goes on";
    EXPECT_TRUE(a.sync().warning().isEmpty()) << a.sync().warning().toStdString();
}

TEST_F(SyncFolderTest, TheStatusShowsTheWorstConditionThatStillHoldsUntilItIsResolved)
{
    QStringList statuses;
    NotificationCenter::defaultCenter().observe(Notifications::iCloudSyncStatusChanged, &a.sync(),
                                                [&](const QVariantMap& info) { statuses << info.value("status").toString(); });
    // Another computer's folder that cannot be read: its journal is a link.
    const QUuid other = QUuid::createUuid();
    const QString folder = sync::SyncFiles::deviceFolder(sync::SyncFiles::root(shared.path()), other);
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(sync::SyncFiles::writeAtomically(sync::SyncFiles::manifestPath(folder), R"({"v":1,"generation":1})"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/etc/hostname"), sync::SyncFiles::journalPath(folder, 1)));
    const QString unreadable = QStringLiteral("the folder of computer %1 cannot be read").arg(sync::uuidText(other).left(8));
    for (int i = 0; i < 5; ++i)
        a.pass();
    EXPECT_EQ(a.sync().warning(), unreadable) << "said as long as it holds, not counted once per pass";

    // A copy here is exported: its success does not hide what the import found, nor takes it for its own.
    statuses.clear();
    a.add(QStringLiteral("exported while the other folder is unreadable"));
    a.pass();
    ASSERT_FALSE(statuses.isEmpty());
    EXPECT_EQ(statuses.last(), QStringLiteral("\u26A0\uFE0F IMPORT: ") + unreadable) << statuses.join(u'\n').toStdString();
    for (const QString& status : std::as_const(statuses))
        EXPECT_FALSE(status.startsWith(QStringLiteral("\u26A0\uFE0F EXPORT"))) << status.toStdString();

    // The folder goes: nothing is left to admit to.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    a.pass();
    EXPECT_TRUE(a.sync().warning().isEmpty()) << a.sync().warning().toStdString();
    EXPECT_TRUE(statuses.last().startsWith(QStringLiteral("✅"))) << statuses.last().toStdString();
}

TEST_F(SyncFolderTest, AFolderThatDoesNotAnswerSaysSoAfterAboutTenSeconds)
{
    QStringList statuses;
    NotificationCenter::defaultCenter().observe(Notifications::iCloudSyncStatusChanged, &a.sync(),
                                                [&](const QVariantMap& info) { statuses << info.value("status").toString(); });
    QSemaphore hung;
    std::atomic<bool> holding {true};
    a.sync().setPassHookForTests([&] {
        if (holding)
            hung.acquire();
    });
    a.sync().syncNow();
    a.clock.advance(5s);
    QCoreApplication::processEvents();
    EXPECT_FALSE(statuses.contains(QStringLiteral("❌ SETUP failed: The sync folder is not answering")));
    a.clock.advance(6s);
    QCoreApplication::processEvents();
    ASSERT_FALSE(statuses.isEmpty());
    EXPECT_EQ(statuses.last(), QStringLiteral("❌ SETUP failed: The sync folder is not answering"));
    a.clock.advance(60s);
    QCoreApplication::processEvents();
    EXPECT_EQ(statuses.filter(QStringLiteral("not answering")).size(), 1) << "said once while it hangs";

    // It answers again: the status says how things are.
    holding = false;
    hung.release();
    ASSERT_TRUE(a.sync().waitForIdle());
    EXPECT_TRUE(statuses.last().startsWith(QStringLiteral("✅"))) << statuses.last().toStdString();
    a.sync().setPassHookForTests({});
}

} // namespace
} // namespace lumra::test

namespace lumra::test {
namespace {

constexpr auto twoHundredDays = std::chrono::hours(24 * 200);

QSet<QUuid> itemIds(const ClipboardManager& manager)
{
    QSet<QUuid> ids;
    for (const ClipboardItem& i : manager.clipboardItems())
        ids.insert(i.id);
    return ids;
}

TEST_F(SyncFolderTest, WhatAComputerMadeWhileItsClockRanFarAheadReachesTheOtherOnceItsClockIsRight)
{
    for (int i = 0; i < 3; ++i)
        a.add(QStringLiteral("on A %1").arg(i));
    settle();
    b.clock.advance(twoHundredDays);
    QList<QUuid> made;
    for (int i = 0; i < 5; ++i)
        made << b.add(QStringLiteral("made while B's clock ran ahead %1").arg(i)).id;
    b.pass();
    a.clock.advance(1min);
    a.pass();
    ASSERT_FALSE(a.item(made[0])) << "held while B's clock is ahead";
    const QString name = sync::uuidText(b.sync().device()).left(8);
    EXPECT_EQ(a.sync().warning(), QStringLiteral("records from computer %1 are stamped 200 days ahead of this computer's clock: 5 held").arg(name));

    // B's clock is put right and B starts again. Both copy more; B edits and deletes what it made ahead.
    b.clock.setNow(a.clock.now());
    b.boot();
    a.add(QStringLiteral("on A once B is right"));
    b.add(QStringLiteral("on B once it is right"));
    ASSERT_TRUE(b.manager->setItemComment(*b.item(made[0]), QStringLiteral("edited once right")).ok());
    ASSERT_TRUE(b.manager->deleteItemPermanently(made[1]).ok());
    b.pass();
    a.pass();
    b.pass(); // for A's new copy
    EXPECT_EQ(itemIds(*a.manager), itemIds(*b.manager)) << "within one pass of each";
    EXPECT_EQ(itemIds(*a.manager).size(), 3 + 5 - 1 + 2);
    ASSERT_TRUE(a.item(made[0]));
    EXPECT_EQ(a.item(made[0])->comment, QStringLiteral("edited once right"));
    EXPECT_TRUE(a.sync().warning().isEmpty()) << a.sync().warning().toStdString();

    // The far stamps are gone everywhere: a later edit on A wins on B too.
    a.clock.advance(1min);
    b.clock.advance(1min);
    ASSERT_TRUE(a.manager->setItemComment(*a.item(made[2]), QStringLiteral("edited on A")).ok());
    a.pass();
    b.pass();
    ASSERT_TRUE(b.item(made[2]));
    EXPECT_EQ(b.item(made[2])->comment, QStringLiteral("edited on A"));
}

TEST_F(SyncFolderTest, WhatAUserDoesOnAComputerWhoseClockRunsBehindHoldsOnBothOnceItIsRight)
{
    for (const auto days : {std::chrono::hours(24 * 200), std::chrono::hours(24 * 2)}) {
        SCOPED_TRACE(testing::Message() << "behind by " << days.count() / 24 << " days");
        QList<ClipboardItem> rows;
        for (int i = 0; i < 6; ++i)
            rows << (i % 2 ? b : a).add(QStringLiteral("shared %1 %2").arg(days.count()).arg(i));
        settle();
        ASSERT_TRUE(b.item(rows[5].id));

        // A dead clock battery: B starts with its clock behind, and its user deletes, stars, comments.
        a.clock.advance(1min);
        b.clock.setNow(a.clock.now().addMSecs(-std::chrono::milliseconds(days).count()));
        b.boot();
        ASSERT_TRUE(b.manager->deleteItemPermanently(rows[0].id).ok());
        ASSERT_TRUE(b.manager->deleteItemPermanently(rows[1].id).ok());
        ASSERT_TRUE(b.manager->togglePinned(*b.item(rows[2].id)).ok());
        ASSERT_TRUE(b.manager->setItemComment(*b.item(rows[3].id), QStringLiteral("commented behind")).ok());
        a.add(QStringLiteral("on A while B is behind %1").arg(days.count()));
        settle();
        EXPECT_FALSE(a.item(rows[0].id) || a.item(rows[1].id)) << "B's deletes reached A";
        // Only what is known: another computer's records are stamped ahead of this clock.
        const QString name = sync::uuidText(a.sync().device()).left(8);
        EXPECT_EQ(b.sync().warning().toStdString(),
                  QStringLiteral("records from computer %1 are stamped %2 days ahead of this computer's clock: 1 held")
                      .arg(name).arg(days.count() / 24).toStdString());

        // B's clock is put right.
        b.clock.setNow(a.clock.now());
        b.boot();
        settle();
        for (Computer* c : {&a, &b}) {
            EXPECT_FALSE(c->item(rows[0].id) || c->item(rows[1].id)) << "deleted rows came back";
            ASSERT_TRUE(c->item(rows[2].id) && c->item(rows[3].id));
            EXPECT_TRUE(c->item(rows[2].id)->isPinned);
            EXPECT_EQ(c->item(rows[3].id)->comment, QStringLiteral("commented behind"));
            EXPECT_TRUE(c->sync().warning().isEmpty()) << "a clock put right is named no more: " << c->sync().warning().toStdString();
        }
        EXPECT_EQ(itemIds(*a.manager), itemIds(*b.manager));
    }
}

TEST_F(SyncFolderTest, TheAgeRulesKeepACopyMadeMinutesAgoOnAComputerWhoseClockRunsBehind)
{
    b.clock.setNow(a.clock.now().addDays(-200));
    b.boot();
    a.add(QStringLiteral("on the right clock")); // B holds it as stamped 200 days ahead
    settle();
    const ClipboardItem copy = b.add(QStringLiteral("copied behind"));
    settle();
    ASSERT_TRUE(a.item(copy.id));

    auto& manager = static_cast<AgeRulesManager&>(*a.manager);
    manager.setRecycleBinEnabled(false);
    manager.setAutoCleanMinutes(60);
    EXPECT_EQ(manager.countAutoCleanCandidates(60), 0) << "the cleanup settings count what the auto-clean removes";
    manager.runBackgroundInline = true;
    manager.runAutoClean();
    QCoreApplication::processEvents(); // its result comes back by a queued call
    manager.setRetentionDays(30);
    settle();
    for (Computer* c : {&a, &b})
        EXPECT_TRUE(c->item(copy.id)) << "the copy is minutes old by every clock but one";
    a.manager->setAutoCleanMinutes(0);
}

TEST_F(SyncFolderTest, TheStatusNamesAComputerWhoseClockIsFarBehindUntilItIsPutRight)
{
    // A row dated long ago, published late by a clock that is right, names no one; nor does a computer that is off.
    ClipboardItem old = textItem(QStringLiteral("restored from a backup"), b.clock.now().addDays(-300));
    storeItems(*b.manager, {old});
    settle();
    ASSERT_TRUE(a.item(old.id));
    a.clock.advance(std::chrono::hours(24 * 3));
    a.pass();
    EXPECT_TRUE(a.sync().warning().isEmpty()) << a.sync().warning().toStdString();

    // A dead clock battery: B starts 200 days behind.
    b.clock.setNow(a.clock.now().addDays(-200));
    b.boot();
    b.add(QStringLiteral("copied behind"));
    settle();
    const QString name = sync::uuidText(b.sync().device()).left(8);
    EXPECT_EQ(a.sync().warning().toStdString(), QStringLiteral("computer %1 dates its copies 200 days behind this computer's clock").arg(name).toStdString());

    // Put right while it runs: its next pass says so.
    b.clock.setNow(a.clock.now());
    settle();
    EXPECT_TRUE(a.sync().warning().isEmpty()) << a.sync().warning().toStdString();
}

// A computer that exists only as its folder, written by hand.
struct FakeComputer {
    explicit FakeComputer(const QString& shared)
        : folder(sync::SyncFiles::deviceFolder(sync::SyncFiles::root(shared), id))
    {
        QDir().mkpath(folder);
    }
    void write(qint64 mtime, const QString& text, const QString& contentType = QStringLiteral("text"))
    {
        QFile journal(sync::SyncFiles::journalPath(folder, 1));
        ASSERT_TRUE(journal.open(QIODevice::Append));
        journal.write(QStringLiteral(R"({"v":1,"op":"put","entity":"item","id":"%1","mtime":%2,"device":"%3","fields":{"contentType":"%4","textContent":"%5","dateAdded":794000000}})"
                                     "\n")
                          .arg(sync::uuidText(QUuid::createUuid()))
                          .arg(mtime)
                          .arg(sync::uuidText(id), contentType, text)
                          .toUtf8());
    }
    void publish() { ASSERT_TRUE(sync::SyncFiles::writeAtomically(sync::SyncFiles::manifestPath(folder), R"({"v":1,"generation":1})")); }
    QString name() const { return sync::uuidText(id).left(8); }

    QUuid id = QUuid::createUuid();
    QString folder;
};

TEST_F(SyncFolderTest, TheStatusCountsWhatIsHeldAndNamesAClockOnlyWhileItsComputerStillWritesAhead)
{
    FakeComputer d(shared.path());
    const qint64 now = a.clock.now().toMSecsSinceEpoch();
    const qint64 ahead = now + std::chrono::milliseconds(twoHundredDays).count();
    d.write(now, QStringLiteral("/home/someone/report.pdf"), QStringLiteral("file")); // files never sync
    d.write(ahead, QStringLiteral("far one"));
    d.write(ahead + 1000, QStringLiteral("far two"));
    d.publish();
    a.clock.advance(1min); // read a little later than written: still 200 days, not 199
    a.pass();
    EXPECT_TRUE(a.manager->clipboardItems().isEmpty());
    EXPECT_EQ(a.sync().warning(), QStringLiteral("records from computer %1 are stamped 200 days ahead of this computer's clock: 2 held, "
                                                 "1 record refused from computer %1")
                                      .arg(d.name()));

    // Its clock is put right: what it writes now applies; what it wrote ahead is still held, and said so.
    d.write(now + 60'000, QStringLiteral("written right"));
    a.pass();
    EXPECT_EQ(a.manager->clipboardItems().size(), 1);
    EXPECT_EQ(a.sync().warning(), QStringLiteral("2 records from computer %1 held: stamped ahead of this computer's clock, "
                                                 "1 record refused from computer %1")
                                      .arg(d.name()));
}

TEST_F(SyncFolderTest, ADeleteWhoseNoteCannotBeKeptIsNotAppliedWithoutItAndTheStatusSaysSo)
{
    const ClipboardItem row = a.add(QStringLiteral("deleted elsewhere after it stood far ahead"));
    a.pass();
    FakeComputer d(shared.path());
    const qint64 now = a.clock.now().toMSecsSinceEpoch();
    QFile journal(sync::SyncFiles::journalPath(d.folder, 1));
    ASSERT_TRUE(journal.open(QIODevice::Append));
    journal.write(QStringLiteral(R"({"v":1,"op":"delete","entity":"item","id":"%1","mtime":%2,"device":"%3","before":%4})"
                                 "\n")
                      .arg(sync::uuidText(row.id))
                      .arg(now + 60'000)
                      .arg(sync::uuidText(d.id))
                      .arg(now - 60'000)
                      .toUtf8());
    journal.close();
    d.publish();

    // The disk fills as the delete notes what it was made after.
    const QString path = a.manager->persistence()->folder() + QStringLiteral("/LumraSync.sqlite");
    a.manager.reset();
    sql::Database state;
    ASSERT_TRUE(state.open(path, false).ok());
    ASSERT_TRUE(state.exec(QStringLiteral("CREATE TRIGGER diskFull BEFORE INSERT ON restamped "
                                          "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END")).ok());
    a.boot();
    a.pass();
    EXPECT_TRUE(a.item(row.id)) << "the delete is not kept without its note";
    EXPECT_EQ(a.sync().warning().toStdString(), QStringLiteral("the folder of computer %1 cannot be read").arg(d.name()).toStdString());

    a.manager.reset();
    ASSERT_TRUE(state.exec(QStringLiteral("DROP TRIGGER diskFull")).ok());
    a.boot();
    a.pass();
    EXPECT_FALSE(a.item(row.id));
    EXPECT_TRUE(a.sync().warning().isEmpty()) << a.sync().warning().toStdString();
    sql::Statement* noted = state.prepare(QStringLiteral("SELECT COUNT(*) FROM restamped"));
    ASSERT_TRUE(noted && noted->step());
    EXPECT_EQ(noted->int64(0), 1) << "kept with the delete";
}

// Each computer's age rules are its own here: they differ.
class SyncAgeRulesTest : public SyncFolderTest {
protected:
    void SetUp() override
    {
        a.mirrorSettings = b.mirrorSettings = false;
        SyncFolderTest::SetUp();
    }
    void bothAdvance(std::chrono::hours by)
    {
        a.clock.advance(by);
        b.clock.advance(by);
    }
};

TEST_F(SyncAgeRulesTest, SwitchingSyncOffAndOnAgainTakesNoCopyFromAnotherComputer)
{
    // A keeps its history for ever and copies while its clock runs 200 days behind; B keeps 150 days.
    a.manager->setRetentionDays(0);
    a.clock.setNow(b.clock.now().addDays(-200));
    a.boot();
    QList<QUuid> copies;
    for (int i = 0; i < 3; ++i)
        copies << a.add(QStringLiteral("copied behind %1").arg(i)).id;
    settle();
    for (const QUuid& id : copies)
        ASSERT_TRUE(b.item(id));

    // B's user switches sync off: received minutes ago, the copies are not old by B's rule.
    b.boot(false);
    for (const QUuid& id : copies)
        EXPECT_TRUE(b.item(id)) << "received minutes ago, taken by its date added";

    // Received 160 days ago by B's clock (A's is right now): B's rule takes them, with sync off...
    bothAdvance(std::chrono::hours(24 * 160));
    a.clock.setNow(b.clock.now());
    a.boot();
    b.boot(false);
    for (const QUuid& id : copies)
        EXPECT_FALSE(b.item(id));
    // ...and when sync is on again, those deletes are B's rule's, which A's own does not share.
    b.boot(true);
    settle();
    for (const QUuid& id : copies)
        EXPECT_TRUE(a.item(id)) << "A lost a copy to B's age rule";
}

TEST_F(SyncAgeRulesTest, AnImportedItemInTheBinStaysThereOnEveryComputerAsLongAsItsImportersBinKeepsIt)
{
    for (Computer* c : {&a, &b})
        c->manager->setRecycleBinEnabled(true);
    a.manager->setRecycleBinDays(30);
    b.manager->setRecycleBinDays(7);
    ClipboardItem binned = textItem(QStringLiteral("binned long ago"), a.clock.now().addDays(-300));
    binned.isTrashed = true;
    binned.trashedDate = a.clock.now().addDays(-284);
    auto import = a.manager->backup().startImport({binned}, {}, {}, false);
    import.waitForFinished();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(); // the import's save is told by queued calls
    ASSERT_TRUE(import.result().error.isEmpty()) << import.result().error.toStdString();
    settle();
    ASSERT_TRUE(b.item(binned.id) && b.item(binned.id)->isTrashed);

    // B starts again the next day: it received the item then, and its bin keeps it 7 days from that.
    bothAdvance(std::chrono::hours(24));
    b.boot();
    EXPECT_TRUE(b.item(binned.id)) << "purged a day after it arrived";
    settle();
    EXPECT_TRUE(a.item(binned.id));

    // 10 days on, B's bin lets it go, by B's rule alone: A's keeps it 30 days from the import.
    bothAdvance(std::chrono::hours(24 * 9));
    b.boot();
    EXPECT_FALSE(b.item(binned.id));
    settle();
    ASSERT_TRUE(a.item(binned.id)) << "B's bin emptied A's";
    EXPECT_TRUE(a.item(binned.id)->isTrashed);
}

TEST_F(SyncFolderTest, AWaitForAComputerWhoseFolderIsGoneEndsWithIt)
{
    FakeComputer d(shared.path());
    d.write(a.clock.now().toMSecsSinceEpoch(), QStringLiteral("its manifest never comes"));
    a.pass();
    a.clock.advance(61s);
    a.pass();
    ASSERT_EQ(a.sync().warning(), QStringLiteral("1 computer waiting for a file to arrive"));
    ASSERT_TRUE(QDir(d.folder).removeRecursively());
    a.pass();
    EXPECT_TRUE(a.sync().warning().isEmpty()) << a.sync().warning().toStdString();
}

} // namespace
} // namespace lumra::test

namespace lumra::test {
namespace {

TEST(SyncWarningTest, TwoComputersWhoseIdsBeginAlikeAreToldApart)
{
    sync::SyncEngine::Health health;
    health.refused.insert(QStringLiteral("2E7CA4C2-1111-4000-8000-000000000000"), 1);
    health.refused.insert(QStringLiteral("2E7CA4C2-2222-4000-8000-000000000000"), 2);
    health.refused.insert(QStringLiteral("9C0D1E2F-3333-4000-8000-000000000000"), 3);
    EXPECT_EQ(SyncFolderContainer::warningFor(health).toStdString(),
              "1 record refused from computer 2E7CA4C2-1, 2 records refused from computer 2E7CA4C2-2, "
              "3 records refused from computer 9C0D1E2F");
}

} // namespace
} // namespace lumra::test

namespace lumra::test {
namespace {

// The engine with each housekeeping pass held at its start, as by a disk that does not answer.
class HeldHousekeepingManager : public ClipboardManager {
public:
    using ClipboardManager::ClipboardManager;
    std::function<void()> hold;

protected:
    void runInBackground(std::function<void()> work) override
    {
        ClipboardManager::runInBackground([hold = hold, work = std::move(work)] {
            hold();
            work();
        });
    }
};

TEST(SyncQuitTest, AQuitWithAHousekeepingAndASyncPassUnderWayEndsWithinItsDeadline)
{
    // What a quit may take before the deadline ends the process; the lanes get part of it, as in main.
    constexpr qint64 quitDeadlineMs = 1000;
    constexpr auto workWaitAtQuit = 200ms;
    BackgroundWork work; // shut down here as Lumra's are, the test program's stay open
    QTemporaryDir shared;
    EngineHarness computer;
    computer.openDefaults(true).set(QStringLiteral("syncFolderPath"), shared.path());
    auto manager = computer.start<HeldHousekeepingManager>([&](ClipboardManagerServices& s) { s.work = &work; });

    // Both passes hang as on a mount that answers only long after the quit.
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    auto housekeepingHeld = std::make_shared<std::atomic_bool>(false);
    auto syncHeld = std::make_shared<std::atomic_bool>(false);
    manager->hold = [housekeepingHeld, released] {
        *housekeepingHeld = true;
        released.wait_for(30s);
    };
    manager->syncFolderContainer()->setPassHookForTests([syncHeld, released] {
        *syncHeld = true;
        released.wait_for(30s);
    });
    manager->syncFolderContainer()->syncNow();
    computer.clock.advance(1ms);
    manager->clearing().clearItems({QUuid::createUuid()}, false, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return *housekeepingHeld && *syncHeld; }, 10000));

    QElapsedTimer quitting;
    quitting.start();
    work.shutDown(workWaitAtQuit);
    manager.reset();
    EXPECT_LT(quitting.elapsed(), quitDeadlineMs);

    // Lumra's process would end here. This one goes on: the sync pass that wakes finds its folder
    // gone and touches nothing of the store the manager took with it.
    ASSERT_TRUE(QDir(shared.path()).removeRecursively());
    release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return work.busyLanes().isEmpty(); }, 60000));
}

} // namespace
} // namespace lumra::test

namespace lumra::test {
namespace {

const char* const peerStoreVariable = "LUMRA_SYNC_PEER_STORE";
const char* const peerFolderVariable = "LUMRA_SYNC_PEER_FOLDER";

// Child mode only: the other computer, on the store folder it is given, passes until it has read
// what is there and says how many items its history holds.
TEST(SyncPeerProcess, PassesAndCounts)
{
    if (!qEnvironmentVariableIsSet(peerStoreVariable))
        GTEST_SKIP() << "runs as the child of SyncUnopenableStoreTest";
    Computer peer(qEnvironmentVariable(peerFolderVariable));
    peer.storeFolder = qEnvironmentVariable(peerStoreVariable);
    peer.boot();
    ASSERT_NE(peer.manager->persistence()->cloudStore(), nullptr);
    for (int round = 0; round < 2; ++round)
        peer.pass();
    std::printf("peer holds %d items\n", int(peer.manager->clipboardItems().size()));
}

// Two computers through one sync folder, the other one (T) in a process of its own, started for
// each of its passes; this one (R) starts again on a history this build cannot open.
class SyncUnopenableStoreTest : public ::testing::TestWithParam<const char*> {
protected:
    int peerItems()
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(peerStoreVariable), peerStore.path());
        environment.insert(QLatin1String(peerFolderVariable), shared.path());
        child.setProcessEnvironment(environment);
        startThisProgram(child, {QStringLiteral("--gtest_filter=SyncPeerProcess.*")});
        EXPECT_TRUE(child.waitForFinished(300000)) << "the peer hangs";
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString() << child.readAllStandardError().toStdString();
        const QRegularExpressionMatch held = QRegularExpression(QStringLiteral("peer holds (\\d+) items")).match(out);
        return held.hasMatch() ? held.captured(1).toInt() : -1;
    }

    QTemporaryDir shared;
    QTemporaryDir peerStore;
    Computer r {shared.path()};
};

// A store this build cannot open never empties the computers that sync with it: one of a newer
// schema stays where it is, unopened; a damaged one goes aside with the sync state that says what
// it published, and the empty history that takes its place publishes no delete.
TEST_P(SyncUnopenableStoreTest, TheOtherComputerKeepsEveryItem)
{
    const QString how = QLatin1String(GetParam());
    r.boot();
    for (int i = 0; i < 20; ++i)
        r.add(QStringLiteral("item %1").arg(i));
    r.pass();
    ASSERT_EQ(peerItems(), 20);
    r.pass();
    ASSERT_EQ(r.manager->clipboardItems().size(), 20);

    const QString path = r.storePath();
    r.manager.reset();
    if (how == u"newer") {
        sql::Database db;
        ASSERT_TRUE(db.open(path, false).ok());
        ASSERT_TRUE(db.setUserVersion(store::receivedDateSchemaVersion + 1).ok()); // the next schema a later build writes
    } else {
        for (const char* suffix : {"-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("not a history any more ").repeated(400));
    }
    r.boot();
    EXPECT_FALSE(r.manager->takeStartupWarnings().isEmpty()) << "the user is told";
    r.pass();
    r.pass();

    EXPECT_EQ(peerItems(), 20);
    if (how == u"newer") {
        // Left for the build that wrote it, with every row.
        sql::Database db;
        ASSERT_TRUE(db.open(path, false).ok());
        EXPECT_EQ(db.userVersion().value(), store::receivedDateSchemaVersion + 1);
        sql::Statement* st = db.prepare(QStringLiteral("SELECT count(*) FROM CDClipboardItem"));
        ASSERT_TRUE(st && st->step());
        EXPECT_EQ(st->int64(0), 20);
    } else {
        // The new history reads the items back from the sync folder.
        EXPECT_EQ(r.manager->clipboardItems().size(), 20);
    }
}

INSTANTIATE_TEST_SUITE_P(Stores, SyncUnopenableStoreTest, ::testing::Values("newer", "damaged"));

} // namespace
} // namespace lumra::test
