#include "model/store/LegacyMigration.h"

#include "model/store/HistoryReader.h"
#include "model/store/StoreTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace lumra::test {
namespace {

using namespace store;

class LegacyMigrationTest : public StoreTest {
protected:
    void SetUp() override { QDir().mkpath(dataDir.supportFolder() + "/Images"); }

    void write(const QString& name, const QByteArray& bytes)
    {
        QFile f(storePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    void writeJson(const QString& name, const QJsonArray& array) { write(name, QJsonDocument(array).toJson()); }
    bool exists(const QString& name) const { return QFileInfo::exists(storePath(name)); }

    Status migrate(PersistenceController& p) { return migrateLegacyStorage(p, flag); }
    QList<ClipboardItem> items(PersistenceController& p) { return HistoryReader(p).loadItems().value(); }

    bool complete = false;
    int flagReads = 0;
    LegacyMigrationFlag flag {[this] { ++flagReads; return complete; }, [this] { complete = true; }};
};

QJsonObject oldRecord(const char* id, const char* content, double date, bool pinned)
{
    return {{"id", id}, {"content", content}, {"dateAdded", date}, {"isPinned", pinned}};
}

TEST_F(LegacyMigrationTest, aFreshInstallationOnlySetsTheFlag)
{
    PersistenceController p(false);
    ASSERT_TRUE(migrate(p).ok());
    EXPECT_TRUE(complete);
    EXPECT_TRUE(items(p).isEmpty());
    EXPECT_FALSE(exists("clipboard_history.json.backup"));
}

TEST_F(LegacyMigrationTest, currentFormatKeepsItsFieldsIdsDatesAndImagesInTheLocalStore)
{
    ClipboardItem image;
    image.id = QUuid::createUuid();
    image.contentType = ClipboardContentType::image;
    image.imageFileName = QStringLiteral("cafe.png");
    image.dateAdded = Json::dateFromReferenceSeconds(700000000);
    image.tags = {"screens"};
    image.sourceAppName = QStringLiteral("Firefox");
    ClipboardItem text;
    text.id = QUuid::createUuid();
    text.textContent = QStringLiteral("hello");
    text.dateAdded = Json::dateFromReferenceSeconds(700000100);
    text.isPinned = true;
    text.ocrText = QStringLiteral("not carried");
    writeJson("clipboard_history.json", {Json::encode(image), Json::encode(text)});
    write("Images/cafe.png", "PNGBYTES");

    PersistenceController p(true);
    ASSERT_TRUE(migrate(p).ok());
    const QList<ClipboardItem> migrated = items(p);
    ASSERT_EQ(migrated.size(), 2);
    EXPECT_EQ(migrated[0], image);
    text.ocrText.reset();
    EXPECT_EQ(migrated[1], text);
    EXPECT_EQ(HistoryReader(p).fetchManagedItem(image)->bytes(ItemAttr::imageData), QByteArray("PNGBYTES"));

    auto local = rawStore(storePath("LumraLocal.sqlite"));
    auto cloud = rawStore(storePath("Lumra.sqlite"));
    EXPECT_EQ(scalar(*local, "SELECT count(*) FROM CDClipboardItem"), 2);
    EXPECT_EQ(scalar(*cloud, "SELECT count(*) FROM CDClipboardItem"), 0);
    EXPECT_TRUE(exists("clipboard_history.json.backup"));
    EXPECT_FALSE(exists("clipboard_history.json"));
    EXPECT_TRUE(exists("Images/cafe.png"));
}

TEST_F(LegacyMigrationTest, oldestFormatBecomesTextRowsInFileOrder)
{
    writeJson("clipboard_history.json", {oldRecord("00000000-0000-0000-0000-000000000001", "one", 100, false),
                                         oldRecord("00000000-0000-0000-0000-000000000002", "two", 200, true),
                                         oldRecord("00000000-0000-0000-0000-000000000003", "three", 300, false)});
    PersistenceController p(false);
    ASSERT_TRUE(migrate(p).ok());
    const QList<ClipboardItem> migrated = items(p);
    ASSERT_EQ(migrated.size(), 3);
    QStringList texts;
    for (const ClipboardItem& i : migrated) {
        texts << i.textContent.value_or("?");
        EXPECT_EQ(i.contentType, ClipboardContentType::text);
        EXPECT_TRUE(i.tags.isEmpty());
        EXPECT_FALSE(i.categoryId);
    }
    EXPECT_EQ(texts, QStringList({"one", "two", "three"}));
    EXPECT_TRUE(migrated[1].isPinned);
    EXPECT_EQ(migrated[1].id, QUuid("00000000-0000-0000-0000-000000000002"));
    EXPECT_EQ(migrated[1].dateAdded, Json::dateFromReferenceSeconds(200));
}

TEST_F(LegacyMigrationTest, oneBrokenOldRecordDropsTheWholeFileButTheRestGoesOn)
{
    QJsonObject broken = oldRecord("00000000-0000-0000-0000-000000000002", "two", 200, true);
    broken.remove("isPinned");
    writeJson("clipboard_history.json", {oldRecord("00000000-0000-0000-0000-000000000001", "one", 100, false), broken});
    writeJson("categories.json", {Json::encode(ClipboardCategory {QUuid::createUuid(), "A", "star", false, 0}),
                                  Json::encode(ClipboardCategory {QUuid::createUuid(), "B", "star", false, 0}),
                                  Json::encode(ClipboardCategory {QUuid::createUuid(), "C", "star", false, 5})});
    PersistenceController p(false);
    ASSERT_TRUE(migrate(p).ok());
    EXPECT_TRUE(items(p).isEmpty());
    QList<qint64> orders;
    const QList<ClipboardCategory> categories = HistoryReader(p).loadCategories().value();
    for (const ClipboardCategory& c : categories)
        orders << c.sortOrder;
    EXPECT_EQ(orders, QList<qint64>({0, 1, 5}));
    EXPECT_TRUE(complete);
    EXPECT_TRUE(exists("clipboard_history.json.backup"));
    EXPECT_TRUE(exists("categories.json.backup"));
}

TEST_F(LegacyMigrationTest, aWideSortOrderIsKeptAndABrokenCategoryCostsOnlyItself)
{
    const qint64 wide = qint64(1) << 40;
    QJsonObject broken = Json::encode(ClipboardCategory {QUuid::createUuid(), "broken", "star", false, 0});
    broken.remove("name");
    writeJson("categories.json", {Json::encode(ClipboardCategory {QUuid::createUuid(), "wide", "star", false, wide}), broken,
                                  Json::encode(ClipboardCategory {QUuid::createUuid(), "kept", "star", false, 0})});
    PersistenceController p(false);
    ASSERT_TRUE(migrate(p).ok());
    const QList<ClipboardCategory> categories = HistoryReader(p).loadCategories().value();
    ASSERT_EQ(categories.size(), 2);
    EXPECT_EQ(categories[0].name, "kept");
    EXPECT_EQ(categories[1].name, "wide");
    EXPECT_EQ(categories[1].sortOrder, wide);
}

TEST_F(LegacyMigrationTest, imageNamesThatLeaveTheImagesFolderAreNeverRead)
{
    write("secret.png", "SECRET");
    QJsonArray array;
    const QString withNul = QStringLiteral("secret.png") + QChar(0) + QStringLiteral("x");
    for (const QString& name : {QStringLiteral("../secret.png"), QStringLiteral("/etc/passwd"), QStringLiteral(".."), withNul}) {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.contentType = ClipboardContentType::image;
        item.imageFileName = name;
        item.dateAdded = Json::dateFromReferenceSeconds(1000);
        array.append(Json::encode(item));
    }
    writeJson("clipboard_history.json", array);
    write("Images/secret.png", "ALSO SECRET"); // what a NUL-truncated name would reach

    PersistenceController p(false);
    ASSERT_TRUE(migrate(p).ok());
    const QList<ClipboardItem> migrated = items(p);
    ASSERT_EQ(migrated.size(), 4);
    auto db = rawStore(storePath("Lumra.sqlite"));
    EXPECT_EQ(scalar(*db, "SELECT count(*) FROM CDClipboardItemImage"), 0);
    for (const ClipboardItem& item : migrated)
        EXPECT_FALSE(item.imageFileName) << item.imageFileName->toStdString();
}

TEST_F(LegacyMigrationTest, aFailedSaveLeavesTheFlagAndFilesForTheNextLaunch)
{
    writeJson("clipboard_history.json", {oldRecord("00000000-0000-0000-0000-000000000001", "one", 100, false)});
    {
        PersistenceController p(false);
        auto raw = rawStore(storePath("Lumra.sqlite"));
        ASSERT_TRUE(raw->exec("CREATE TRIGGER refuse BEFORE INSERT ON CDClipboardItem BEGIN SELECT RAISE(ABORT, 'full'); END").ok());
        EXPECT_FALSE(migrate(p).ok());
        EXPECT_FALSE(complete);
        EXPECT_TRUE(exists("clipboard_history.json"));
        EXPECT_FALSE(exists("clipboard_history.json.backup"));
        ASSERT_TRUE(raw->exec("DROP TRIGGER refuse").ok());
    }
    PersistenceController p(false);
    ASSERT_TRUE(migrate(p).ok());
    EXPECT_EQ(items(p).size(), 1);
    EXPECT_TRUE(complete);
}

TEST_F(LegacyMigrationTest, theSecondLaunchReadsNothing)
{
    writeJson("clipboard_history.json", {oldRecord("00000000-0000-0000-0000-000000000001", "one", 100, false)});
    PersistenceController p(false);
    ASSERT_TRUE(migrate(p).ok());
    writeJson("clipboard_history.json", {oldRecord("00000000-0000-0000-0000-000000000002", "late", 100, false)});
    ASSERT_TRUE(migrate(p).ok());
    EXPECT_EQ(items(p).size(), 1);
    EXPECT_TRUE(exists("clipboard_history.json"));
}

TEST_F(LegacyMigrationTest, repeatedLegacyIdsDoNotBlockTheMove)
{
    writeJson("clipboard_history.json", {oldRecord("00000000-0000-0000-0000-000000000001", "one", 100, false),
                                         oldRecord("00000000-0000-0000-0000-000000000001", "again", 200, false)});
    PersistenceController p(false);
    ASSERT_TRUE(migrate(p).ok());
    const QList<ClipboardItem> migrated = items(p);
    ASSERT_EQ(migrated.size(), 2);
    EXPECT_NE(migrated[0].id, migrated[1].id);
}

} // namespace
} // namespace lumra::test
