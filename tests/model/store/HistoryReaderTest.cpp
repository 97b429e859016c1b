#include "model/store/HistoryReader.h"

#include "model/store/ItemRows.h"
#include "model/store/StoreTestSupport.h"

namespace lumra::test {
namespace {

using namespace store;

const QDateTime t0(QDate(2026, 2, 3), QTime(4, 5, 6, 789), Qt::UTC);

ClipboardItem fullItem()
{
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.contentType = ClipboardContentType::file;
    item.textContent = QStringLiteral("näme\nwith lines");
    item.rtfData = QByteArray("{\\rtf1 x}");
    item.imageFileName = QStringLiteral("0123456789abcdef0123456789abcdef.png");
    item.fileURLStrings = QStringList {"file:///home/u/a.txt", "file:///home/u/dir"};
    item.fileURLIsDirectory = QList<bool> {false, true};
    item.dateAdded = t0;
    item.isPinned = true;
    item.isPinnedToTop = true;
    item.tags = {"work", "\"quoted\""};
    item.comment = QStringLiteral("a comment");
    item.categoryId = QUuid::createUuid();
    item.shortcut = ItemShortcut {9, ItemShortcut::commandFlag | ItemShortcut::optionFlag};
    item.isSensitive = true;
    item.sourceAppBundleId = QStringLiteral("org.mozilla.firefox");
    item.sourceAppName = QStringLiteral("Firefox");
    item.lastPastedDate = t0.addSecs(10);
    item.firstCopiedDate = t0.addSecs(-10);
    item.isTrashed = true;
    item.trashedDate = t0.addDays(1);
    return item;
}

class HistoryReaderTest : public StoreTest {
protected:
    PersistenceController persistence {false};
    HistoryReader reader {persistence};

    // Writes a row straight into the file, past every conversion, as an older or damaged store might hold it.
    void rawInsert(const QString& columns, const QString& values)
    {
        auto db = rawStore(storePath("Lumra.sqlite"));
        ASSERT_TRUE(db->exec(QStringLiteral("INSERT INTO CDClipboardItem (%1) VALUES (%2)").arg(columns, values)).ok());
    }
    ClipboardItem onlyItem()
    {
        auto items = reader.loadItems();
        EXPECT_TRUE(items.ok());
        EXPECT_EQ(items->size(), 1);
        return items->isEmpty() ? ClipboardItem {} : items->first();
    }
};

TEST_F(HistoryReaderTest, anItemSurvivesTheRoundTripThroughItsRow)
{
    ClipboardItem plain;
    plain.id = QUuid::createUuid();
    plain.dateAdded = t0;
    const ClipboardItem full = fullItem();
    for (const ClipboardItem& item : {full, plain})
        populateManagedItem(*persistence.viewContext().insert(EntityKind::item), item);
    ASSERT_TRUE(persistence.save().ok());

    PersistenceController reopened(false);
    auto items = HistoryReader(reopened).loadItems();
    ASSERT_TRUE(items.ok());
    ASSERT_EQ(items->size(), 2);
    // The list's values leave the rich text in the store and say it is there.
    ClipboardItem listed = full;
    listed.leaveOutRichText();
    EXPECT_FALSE(listed.rtfData);
    EXPECT_TRUE(listed.richTextInStore);
    EXPECT_EQ(items->at(0), listed);
    EXPECT_EQ(items->at(1), plain);
    EXPECT_FALSE(items->at(1).richTextInStore);
    EXPECT_EQ(makeClipboardItem(*reopened.viewContext().fetchById(EntityKind::item, full.id)), full);
    EXPECT_EQ(makeListItem(*reopened.viewContext().fetchById(EntityKind::item, full.id)), listed);
}

TEST_F(HistoryReaderTest, populateWritesListsAsTheStoreExpectsAndLeavesMediaAlone)
{
    ManagedObjectPtr row = persistence.viewContext().insert(EntityKind::item);
    row->set(ItemAttr::imageData, QByteArray("png"));
    row->set(ItemAttr::ocrText, QStringLiteral("recognised"));
    row->set(ItemAttr::fileBookmarksJSON, QStringLiteral("[\"Ym0=\"]"));
    ClipboardItem item = fullItem();
    item.tags.clear();
    item.fileURLStrings = QStringList {};
    item.fileURLIsDirectory.reset();
    item.shortcut.reset();
    item.ocrText = QStringLiteral("not written");
    populateManagedItem(*row, item);

    EXPECT_TRUE(sql::isNull(row->value(ItemAttr::tagsJSON)));
    EXPECT_EQ(row->string(ItemAttr::fileURLStringsJSON), "[]");
    EXPECT_TRUE(sql::isNull(row->value(ItemAttr::fileURLIsDirectoryJSON)));
    EXPECT_EQ(row->integer(ItemAttr::shortcutKeyCode), -1);
    EXPECT_EQ(row->integer(ItemAttr::shortcutModifiers), 0);
    EXPECT_EQ(row->bytes(ItemAttr::imageData), QByteArray("png"));
    EXPECT_EQ(row->string(ItemAttr::ocrText), "recognised");
    EXPECT_EQ(row->string(ItemAttr::fileBookmarksJSON), "[\"Ym0=\"]");
}

struct Fallback {
    const char* name;
    const char* columns;
    const char* values;
    std::function<void(const ClipboardItem&)> check;
};

class ItemFallbackTest : public HistoryReaderTest, public ::testing::WithParamInterface<Fallback> { };

TEST_P(ItemFallbackTest, aMissingOrUnreadableAttributeFallsBack)
{
    const Fallback& f = GetParam();
    rawInsert(QStringLiteral("id, dateAdded, ") + f.columns,
              QStringLiteral("'6F1C2C8E-3D43-4F4B-9C1A-0E2B1F6A7D10', 100, ") + f.values);
    f.check(onlyItem());
}

INSTANTIATE_TEST_SUITE_P(Rows, ItemFallbackTest, ::testing::Values(
    Fallback {"unknownContentType", "contentType", "'video'", [](const ClipboardItem& i) { EXPECT_EQ(i.contentType, ClipboardContentType::text); }},
    Fallback {"nullContentType", "contentType", "NULL", [](const ClipboardItem& i) { EXPECT_EQ(i.contentType, ClipboardContentType::text); }},
    Fallback {"tagsNotJson", "tagsJSON", "'not json'", [](const ClipboardItem& i) { EXPECT_TRUE(i.tags.isEmpty()); }},
    Fallback {"tagsOfNumbers", "tagsJSON", "'[1,2]'", [](const ClipboardItem& i) { EXPECT_TRUE(i.tags.isEmpty()); }},
    Fallback {"urlsOfNumbers", "fileURLStringsJSON", "'[1,2]'", [](const ClipboardItem& i) { EXPECT_FALSE(i.fileURLStrings); }},
    Fallback {"directoryFlagsNotJson", "fileURLIsDirectoryJSON", "'{'", [](const ClipboardItem& i) { EXPECT_FALSE(i.fileURLIsDirectory); }},
    Fallback {"noKeyCodeIgnoresModifiers", "shortcutKeyCode, shortcutModifiers", "-1, 1048576", [](const ClipboardItem& i) { EXPECT_FALSE(i.shortcut); }},
    Fallback {"keyCodeZeroWithoutModifiers", "shortcutKeyCode, shortcutModifiers", "0, NULL", [](const ClipboardItem& i) {
        ASSERT_TRUE(i.shortcut);
        EXPECT_EQ(i.shortcut->keyCode, 0);
        EXPECT_EQ(i.shortcut->modifiers, 0u);
    }},
    Fallback {"keyCodeBeyond16Bits", "shortcutKeyCode", "65536", [](const ClipboardItem& i) { EXPECT_FALSE(i.shortcut); }},
    Fallback {"negativeModifiers", "shortcutKeyCode, shortcutModifiers", "9, -5", [](const ClipboardItem& i) { EXPECT_FALSE(i.shortcut); }},
    Fallback {"textWhereADateBelongs", "lastPastedDate", "'yesterday'", [](const ClipboardItem& i) { EXPECT_FALSE(i.lastPastedDate); }},
    Fallback {"badCategoryId", "categoryId", "'not-a-uuid'", [](const ClipboardItem& i) { EXPECT_FALSE(i.categoryId); }},
    Fallback {"textWhereBytesBelong", "rtfData", "'plain'", [](const ClipboardItem& i) { EXPECT_FALSE(i.rtfData); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistoryReaderTest, rowsWithoutAUsableIdAreLeftOut)
{
    rawInsert("id, textContent", "NULL, 'no id'");
    rawInsert("id, textContent", "'garbage', 'bad id'");
    rawInsert("id, textContent", "'6F1C2C8E-3D43-4F4B-9C1A-0E2B1F6A7D10', 'kept'");
    auto items = reader.loadItems();
    ASSERT_TRUE(items.ok());
    ASSERT_EQ(items->size(), 1);
    EXPECT_EQ(items->first().textContent, "kept");
}

TEST_F(HistoryReaderTest, aRowWithoutDateAddedGetsAStableDateWrittenBackOnce)
{
    // Ids as the store keeps them: sixteen bytes.
    const QDateTime firstCopied = Json::dateFromReferenceSeconds(5000);
    const QDateTime lastPasted = Json::dateFromReferenceSeconds(7000);
    rawInsert("id, textContent, firstCopiedDate, lastPastedDate", "X'0000000000000000000000000000000A', 'a', 5000, 7000");
    rawInsert("id, textContent, lastPastedDate", "X'0000000000000000000000000000000B', 'b', 7000");
    rawInsert("id, textContent", "X'0000000000000000000000000000000C', 'c'");
    rawInsert("id, textContent, dateAdded", "X'0000000000000000000000000000000D', 'd', 'yesterday-ish'");

    QDateTime readAt = QDateTime(QDate(2026, 5, 1), QTime(12, 0), Qt::UTC);
    reader.setClock([&] { return readAt; });
    auto first = reader.loadItems();
    ASSERT_TRUE(first.ok());
    ASSERT_EQ(first->size(), 4);
    EXPECT_EQ(first->at(0).dateAdded, firstCopied);
    EXPECT_EQ(first->at(1).dateAdded, lastPasted);
    EXPECT_EQ(first->at(2).dateAdded, readAt);
    EXPECT_EQ(first->at(3).dateAdded, readAt);

    auto db = rawStore(storePath("Lumra.sqlite"));
    EXPECT_EQ(scalar(*db, "SELECT count(*) FROM CDClipboardItem WHERE dateAdded IS NULL"), 0);
    EXPECT_EQ(scalar(*db, "SELECT count(*) FROM CDClipboardItem WHERE typeof(dateAdded) = 'text'"), 0);
    readAt = readAt.addDays(3); // a later start finds the dates written the first time
    EXPECT_EQ(reader.loadItems().value(), first.value());
}

TEST_F(HistoryReaderTest, categoriesFallBackAndSortByOrderThenNameIgnoringCase)
{
    auto db = rawStore(storePath("Lumra.sqlite"));
    ASSERT_TRUE(db->exec("INSERT INTO CDClipboardCategory (id, name, iconName, sortOrder) VALUES "
                         "('00000000-0000-0000-0000-000000000001', 'beta', 'star', 1),"
                         "('00000000-0000-0000-0000-000000000002', 'Alpha', 'star', 1),"
                         "('00000000-0000-0000-0000-000000000003', 'zulu', 'star', 0),"
                         "('00000000-0000-0000-0000-000000000004', NULL, NULL, NULL),"
                         "(NULL, 'no id', 'star', 0)").ok());
    auto categories = reader.loadCategories();
    ASSERT_TRUE(categories.ok());
    QStringList names;
    for (const ClipboardCategory& c : *categories)
        names << c.name;
    EXPECT_EQ(names, QStringList({"", "zulu", "Alpha", "beta"}));
    EXPECT_EQ(categories->first().iconName, "folder.fill");
    EXPECT_EQ(categories->first().sortOrder, 0);
}

TEST_F(HistoryReaderTest, singleRowLookupsFindTheRowBehindAValue)
{
    const ClipboardItem item = fullItem();
    populateManagedItem(*persistence.viewContext().insert(EntityKind::item), item);
    ASSERT_TRUE(persistence.save().ok());
    ManagedObjectPtr row = reader.fetchManagedItem(item);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(makeClipboardItem(*row), item);
    ClipboardItem other;
    other.id = QUuid::createUuid();
    EXPECT_EQ(reader.fetchManagedItem(other), nullptr);
    EXPECT_EQ(reader.fetchManagedCategory(QUuid::createUuid()), nullptr);
}

TEST_F(HistoryReaderTest, captureCategoryAsksTheClassifierForTheRowsContent)
{
    auto insert = [&](const char* type, const std::optional<QString>& text) {
        ManagedObjectPtr row = persistence.viewContext().insert(EntityKind::item);
        row->set(ItemAttr::id, QUuid::createUuid());
        row->set(ItemAttr::contentType, QString::fromLatin1(type));
        row->set(ItemAttr::textContent, text);
        row->set(ItemAttr::sourceAppBundleId, QStringLiteral("org.kde.spectacle"));
        return row;
    };
    ManagedObjectPtr text = insert("text", std::nullopt);
    ManagedObjectPtr image = insert("image", std::nullopt);
    ManagedObjectPtr file = insert("file", std::nullopt);
    ManagedObjectPtr noId = persistence.viewContext().insert(EntityKind::item);

    EXPECT_EQ(reader.captureCategory(*text), CaptureCategory::text);
    EXPECT_EQ(reader.captureCategory(*image), CaptureCategory::image);
    EXPECT_EQ(reader.captureCategory(*file), CaptureCategory::file);
    EXPECT_EQ(reader.captureCategory(*noId), std::nullopt);

    QString seenText;
    std::optional<QString> seenSource;
    HistoryReader::Classifiers classifiers;
    classifiers.forText = [&](const QString& t) { seenText = t; return CaptureCategory::link; };
    classifiers.forImageData = [&](const QByteArray& bytes, const std::optional<QString>& source) {
        seenSource = source;
        return bytes.isEmpty() ? CaptureCategory::screenshot : CaptureCategory::image;
    };
    HistoryReader classifying(persistence, classifiers);
    EXPECT_EQ(classifying.captureCategory(*text), CaptureCategory::link);
    EXPECT_EQ(seenText, "");
    EXPECT_EQ(classifying.captureCategory(*image), CaptureCategory::screenshot);
    EXPECT_EQ(seenSource, "org.kde.spectacle");
}

} // namespace
} // namespace lumra::test
