#include "model/backup/BackupFile.h"
#include "model/backup/BackupImport.h"

#include "TestImages.h"
#include "LargestAllocation.h"
#include "platform/image/ImageFixtures.h"
#include "platform/image/ImageDecoding.h"
#include "platform/pasteboard/OfferReader.h"

#include <random>

#include <QJsonArray>
#include <QJsonDocument>
#include <QBuffer>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace lumra::backup {
namespace {

const char* const minimalItem =
    R"({"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","contentType":"text","dateAdded":0,"isPinned":false})";

QByteArray document(const QString& items, const QString& images = QStringLiteral("{}"), const QString& rest = {})
{
    return QStringLiteral(R"({"items":[%1],"images":%2%3})").arg(items, images, rest).toUtf8();
}

QString itemWith(const QString& extra)
{
    QString item = QString::fromLatin1(minimalItem);
    item.chop(1);
    return item + QLatin1Char(',') + extra + QLatin1Char('}');
}

struct Case {
    const char* name;
    QByteArray bytes;
    const char* errorPart; // nullptr: accepted
};

TEST(BackupFile, refusesOrAcceptsAsAWhole)
{
    const Case cases[] = {
        {"empty backup", document({}), nullptr},
        {"no categories key", document(QString::fromLatin1(minimalItem)), nullptr},
        {"categories null", document({}, QStringLiteral("{}"), QStringLiteral(R"(,"categories":null)")), nullptr},
        {"unknown keys at every level",
         document(itemWith(QStringLiteral(R"("future":1)")), QStringLiteral("{}"), QStringLiteral(R"(,"version":3)")), nullptr},
        {"nulls for optional keys",
         document(itemWith(QStringLiteral(R"("tags":null,"isTrashed":null,"comment":null,"isPinnedToTop":null)"))), nullptr},
        {"lower-case uuid", document(QString::fromLatin1(minimalItem).replace(QStringLiteral("0F1E2D3C-4B5A"), QStringLiteral("0f1e2d3c-4b5a"))), nullptr},
        {"not json", QByteArray("{\"items\":["), "not JSON"},
        {"top level array", QByteArray("[]"), "top level"},
        {"images missing", QByteArray(R"({"items":[]})"), "\"images\""},
        {"images null", QByteArray(R"({"items":[],"images":null})"), "\"images\""},
        {"items missing", QByteArray(R"({"images":{}})"), "\"items\""},
        {"categories not a list", document({}, QStringLiteral("{}"), QStringLiteral(R"(,"categories":{})")), "\"categories\""},
        {"unknown content type",
         document(QString::fromLatin1(minimalItem) + QLatin1Char(',') + QString::fromLatin1(minimalItem).replace(QStringLiteral("\"text\""), QStringLiteral("\"video\""))),
         "Item 2"},
        {"bad uuid", document(QString::fromLatin1(minimalItem).replace(QStringLiteral("0F1E"), QStringLiteral("ZZZZ"))), "\"id\""},
        {"uuid with braces", document(QString::fromLatin1(minimalItem).replace(QStringLiteral("\"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0\""), QStringLiteral("\"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\""))), "\"id\""},
        {"missing isPinned", document(QString::fromLatin1(minimalItem).replace(QStringLiteral(",\"isPinned\":false"), QString())), "\"isPinned\""},
        {"wrong type of tags", document(itemWith(QStringLiteral(R"("tags":"a")"))), "\"tags\""},
        {"date as text", document(QString::fromLatin1(minimalItem).replace(QStringLiteral("\"dateAdded\":0"), QStringLiteral("\"dateAdded\":\"0\""))), "\"dateAdded\""},
        {"date before 1970", document(QString::fromLatin1(minimalItem).replace(QStringLiteral("\"dateAdded\":0"), QStringLiteral("\"dateAdded\":-1000000000"))), "\"dateAdded\""},
        {"date after 9999", document(itemWith(QStringLiteral(R"("trashedDate":1e12)"))), "\"trashedDate\""},
        {"rtf not base64", document(itemWith(QStringLiteral(R"("rtfData":"***")"))), "\"rtfData\""},
        {"image not base64", document({}, QStringLiteral(R"({"a.png":"%%%"})")), "Image \"a.png\""},
        {"image not a string", document({}, QStringLiteral(R"({"a.png":12})")), "Image"},
        {"shortcut without modifiers", document(itemWith(QStringLiteral(R"("shortcut":{"keyCode":9})"))), "\"shortcut\""},
        {"key code beyond 16 bits", document(itemWith(QStringLiteral(R"("shortcut":{"keyCode":70000,"modifiers":0})"))), "\"shortcut\""},
        {"category without icon",
         document({}, QStringLiteral("{}"), QStringLiteral(R"(,"categories":[{"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","name":"W"}])")),
         "Category 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<ExportData> decoded = decodeBackup(c.bytes);
        if (!c.errorPart) {
            EXPECT_TRUE(decoded.ok()) << decoded.error().toStdString();
        } else {
            ASSERT_FALSE(decoded.ok());
            EXPECT_TRUE(decoded.error().contains(QLatin1String(c.errorPart))) << decoded.error().toStdString();
        }
    }
}

TEST(BackupFile, aFileOfManySmallValuesCostsAboutItsSize)
{
    // Two bytes a value: built as one tree it would cost many times the file.
    QByteArray values(40 * 1024 * 1024, ',');
    for (qsizetype i = 0; i < values.size(); i += 2)
        values[i] = '0';
    QTemporaryDir dir;
    QFile file(dir.filePath("backup.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"items":[{"tags":[)" + values + R"(0]}],"images":{}})");
    file.close();
    values.clear();
    values.squeeze();

    std::optional<Result<LoadedBackup>> loaded;
    const auto largest = lumra::test::largestAllocationDuring([&] { loaded = readBackupFile(file.fileName()); });
    ASSERT_FALSE(loaded->ok());
    EXPECT_TRUE(loaded->error().contains(QLatin1String("Item 1"))) << loaded->error().toStdString();
    if (largest)
        EXPECT_LT(*largest, 1024u * 1024) << "neither the file nor its values are held whole";
}

TEST(BackupFile, theLargestItemsLumraKeepsRoundTripAndEarlierFilesOfThemAreRead)
{
    // A copy of the most files with the shortest paths, and one of the largest text (every
    // character escaped) and rich text; both with many tags.
    QStringList tags, urls;
    for (int i = 0; i < 10'000; ++i) {
        tags << QString::number(i, 36);
        urls << QStringLiteral("file:///") + QString::number(i, 36);
    }
    ClipboardItem files;
    files.id = QUuid::createUuid();
    files.contentType = ClipboardContentType::file;
    files.fileURLStrings = urls;
    files.fileURLIsDirectory = QList<bool>(urls.size(), false);
    files.tags = tags;
    files.dateAdded = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());
    ClipboardItem text = files;
    text.id = QUuid::createUuid();
    text.contentType = ClipboardContentType::text;
    text.fileURLStrings = std::nullopt;
    text.fileURLIsDirectory = std::nullopt;
    text.textContent = QString(OfferLimits::maxTextBytes, QChar(1));
    text.rtfData = QByteArray(OfferLimits::maxRtfBytes, 'r');

    ExportData data;
    data.items = {files, text};
    data.categories = QList<ClipboardCategory>();
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
        BackupWriter writer(buffer);
        ASSERT_TRUE(writer.begin().ok());
        for (const ClipboardItem& item : std::as_const(data.items)) {
            const Status written = writer.writeItem(item);
            ASSERT_TRUE(written.ok()) << written.error().toStdString();
        }
        ASSERT_TRUE(writer.finish({}).ok());
    }
    {
        const Result<ExportData> back = decodeBackup(bytes);
        ASSERT_TRUE(back.ok()) << back.error().toStdString();
        EXPECT_EQ(*back, data);
    }
    bytes = {};
    data = {};
    text = {};

    // As earlier builds wrote such a copy: the same keys, nothing but the files and their tags.
    QString list, flags;
    for (const QString& url : std::as_const(urls)) {
        list += (list.isEmpty() ? QStringLiteral("\"") : QStringLiteral(",\"")) + url + u'"';
        flags += flags.isEmpty() ? QStringLiteral("false") : QStringLiteral(",false");
    }
    const Result<ExportData> earlier = decodeBackup(document(
        itemWith(QStringLiteral(R"("fileURLStrings":[%1],"fileURLIsDirectory":[%2])").arg(list, flags)).replace(QStringLiteral("\"text\""), QStringLiteral("\"file\""))));
    ASSERT_TRUE(earlier.ok()) << earlier.error().toStdString();
    EXPECT_EQ(earlier->items.value(0).fileURLStrings, urls);
}

TEST(BackupFile, anItemTheReaderWouldRefuseFailsTheWriteThatWouldHaveSucceeded)
{
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.textContent = QStringLiteral("dated before 1970");
    item.dateAdded = QDateTime(QDate(1960, 1, 1), QTime(0, 0), QTimeZone::utc());
    QByteArray bytes;
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    BackupWriter writer(buffer);
    ASSERT_TRUE(writer.begin().ok());
    const Status written = writer.writeItem(item);
    ASSERT_FALSE(written.ok()) << "a backup Lumra writes is one it reads";
    EXPECT_TRUE(written.error().contains(QStringLiteral("dateAdded"))) << written.error().toStdString();
    EXPECT_FALSE(writer.finish({}).ok()) << "the failure sticks";
}

TEST(BackupFile, minimalItemReadsWithDefaultsAndThe2001Epoch)
{
    const Result<ExportData> decoded = decodeBackup(document(QString::fromLatin1(minimalItem)));
    ASSERT_TRUE(decoded.ok());
    ASSERT_EQ(decoded->items.size(), 1);
    const ClipboardItem& item = decoded->items[0];
    EXPECT_EQ(item.dateAdded, QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_FALSE(item.isPinnedToTop || item.isSensitive || item.isTrashed);
    EXPECT_TRUE(item.tags.isEmpty());
    EXPECT_FALSE(item.comment || item.textContent || item.shortcut || item.categoryId);
    EXPECT_FALSE(decoded->categories.has_value());
}

TEST(BackupFile, writesTheExchangeFormToTheLetter)
{
    ExportData data;
    ClipboardItem item;
    item.id = QUuid::fromString(QStringLiteral("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"));
    item.textContent = QStringLiteral("\"quoted\"\n");
    item.dateAdded = QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 500), Qt::UTC);
    item.shortcut = ItemShortcut {9, ItemShortcut::commandFlag | ItemShortcut::optionFlag};
    item.rtfData = QByteArray("ab");
    data.items = {item};
    data.images.insert(QStringLiteral("n\"ame.png"), QByteArray("x"));
    data.categories = QList<ClipboardCategory>();
    const QByteArray bytes = encodeBackup(data);

    EXPECT_FALSE(bytes.contains('\n'));
    EXPECT_FALSE(bytes.contains(": "));
    EXPECT_FALSE(bytes.contains("null"));
    EXPECT_FALSE(bytes.contains("\"comment\""));
    const QJsonObject root = QJsonDocument::fromJson(bytes).object();
    const QJsonObject written = root.value(QStringLiteral("items")).toArray().at(0).toObject();
    EXPECT_EQ(written.value(QStringLiteral("id")).toString(), QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"));
    EXPECT_EQ(written.value(QStringLiteral("dateAdded")).toDouble(), 1.5);
    EXPECT_EQ(written.value(QStringLiteral("rtfData")).toString(), QStringLiteral("YWI="));
    EXPECT_EQ(written.value(QStringLiteral("tags")).toArray().size(), 0);
    EXPECT_EQ(written.value(QStringLiteral("shortcut")).toObject().value(QStringLiteral("modifiers")).toInteger(), 0x180000);
    EXPECT_EQ(root.value(QStringLiteral("images")).toObject().value(QStringLiteral("n\"ame.png")).toString(), QStringLiteral("eA=="));
    EXPECT_TRUE(root.value(QStringLiteral("categories")).isArray());

    const Result<ExportData> back = decodeBackup(bytes);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, data);
}

TEST(BackupFile, cleaningKeepsNothingThatReachesOutside)
{
    const QByteArray png = test::solidPng(QSize(8, 8), Qt::red);
    const QString pngText = QString::fromLatin1(png.toBase64());
    const auto of = [](const char* type, const QString& extra) {
        return itemWith(extra).replace(QStringLiteral("\"contentType\":\"text\""), QStringLiteral("\"contentType\":\"%1\"").arg(QLatin1String(type)));
    };
    const QString items = QStringList {
        of("image", QStringLiteral(R"("imageFileName":"../../evil.png")")),
        of("image", QStringLiteral(R"("imageFileName":"/etc/passwd")")),
        of("file", QStringLiteral(R"("fileURLStrings":["file:///home/a.txt","http://x/y","file:///home/../etc","relative"],"fileURLIsDirectory":[false,false,false,false])")),
        of("file", QStringLiteral(R"("fileURLStrings":["https://x"])")),
    }.join(QLatin1Char(','));
    const QString images = QStringLiteral(R"({"../../evil.png":"%1","junk.png":"AAAA"})").arg(pngText);
    const Result<LoadedBackup> loaded = loadBackup(document(items, images));
    ASSERT_TRUE(loaded.ok()) << loaded.error().toStdString();

    const QList<ClipboardItem>& kept = loaded->data.items;
    ASSERT_EQ(kept.size(), 2); // "/etc/passwd" has no bytes: no picture to show
    EXPECT_TRUE(isCaptureImageName(*kept[0].imageFileName));
    EXPECT_TRUE(loaded->data.images.contains(*kept[0].imageFileName));
    EXPECT_EQ(*kept[1].fileURLStrings, QStringList {QStringLiteral("file:///home/a.txt")});
    EXPECT_EQ(*kept[1].fileURLIsDirectory, QList<bool> {false});
    EXPECT_EQ(loaded->data.images.size(), 1); // "AAAA" is no image
    EXPECT_EQ(loaded->cleaned.imageNamesReplaced, 1);
    EXPECT_EQ(loaded->cleaned.imageItemsUnfilled, 1);
    EXPECT_EQ(loaded->cleaned.imageItemsNotPictures, 0); // no item names "junk.png"
    EXPECT_EQ(loaded->cleaned.fileEntriesDropped, 4);
    EXPECT_EQ(loaded->cleaned.fileItemsDropped, 1);
}

TEST(BackupFile, imageItemsWithoutAPictureAreLeftOutAndCountedByCause)
{
    // Lumra's own PNG, which the import's decoding writes alike.
    QImage green(8, 8, QImage::Format_RGB32);
    green.fill(Qt::green);
    const QByteArray png = image::encodePng(green).value();
    const QString capture = image::imageFileName(png);
    ExportData data;
    const auto picture = [&](const QString& name) {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.contentType = ClipboardContentType::image;
        item.imageFileName = name;
        item.dateAdded = QDateTime::fromSecsSinceEpoch(1000, QTimeZone::utc());
        return item;
    };
    const QString huge = QStringLiteral("00000000000000000000000000000001.png");
    const QString missing = QStringLiteral("00000000000000000000000000000002.png");
    data.items = {picture(huge), picture(QStringLiteral("noise.png")), picture(missing), picture(QStringLiteral("kept.png")),
                  picture(QStringLiteral("kept.png")), picture(capture)};
    ClipboardItem nameless = picture({});
    nameless.imageFileName = std::nullopt;
    data.items << nameless;
    ClipboardItem text = picture(QStringLiteral("stray.png")); // a text item loses a stray name, not itself
    text.contentType = ClipboardContentType::text;
    text.textContent = QStringLiteral("words");
    data.items << text;
    QByteArray noise(4096, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919) ^ (i >> 3));
    data.images = {{huge, test::pngHeaderClaiming(40000, 40000)}, {QStringLiteral("noise.png"), noise},
                   {QStringLiteral("kept.png"), png}};

    const Result<LoadedBackup> loaded = loadBackup(encodeBackup(data));
    ASSERT_TRUE(loaded.ok()) << loaded.error().toStdString();
    const QList<ClipboardItem>& kept = loaded->data.items;
    ASSERT_EQ(kept.size(), 4);
    for (int i : {0, 1, 2}) {
        ASSERT_TRUE(kept[i].imageFileName);
        EXPECT_EQ(*kept[i].imageFileName, capture);
    }
    EXPECT_EQ(kept[3].textContent, QStringLiteral("words"));
    EXPECT_FALSE(kept[3].imageFileName.has_value());
    EXPECT_EQ(loaded->data.images.keys(), QList<QString> {capture});
    EXPECT_EQ(loaded->cleaned.imageItemsTooLarge, 1);
    EXPECT_EQ(loaded->cleaned.imageItemsNotPictures, 1); // the noise
    EXPECT_EQ(loaded->cleaned.imageItemsUnfilled, 2); // a name with no bytes, no name at all
    EXPECT_EQ(loaded->cleaned.imageNamesReplaced, 2); // both items of "kept.png", and only they
}

TEST(BackupFile, picturesOfEveryFormatAreKeptAsPng)
{
    // What is stored from outside is PNG, so no paste, drag or preview decodes another format later.
    const QImage picture = test::markedImage(6, 4);
    ExportData data;
    const QList<QByteArray> formats {test::encode(picture, "jpeg"), test::encode(picture, "bmp"),
                                     test::withChunksAfterHeader(test::encode(picture, "png"), test::pngChunk("tEXt", "Comment\0x"))};
    for (qsizetype i = 0; i < formats.size(); ++i) {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.contentType = ClipboardContentType::image;
        item.imageFileName = QStringLiteral("0000000000000000000000000000000%1.png").arg(i);
        item.dateAdded = QDateTime::fromSecsSinceEpoch(1000 + i, QTimeZone::utc());
        data.items << item;
        data.images.insert(*item.imageFileName, formats[i]);
    }
    const Result<LoadedBackup> loaded = loadBackup(encodeBackup(data));
    ASSERT_TRUE(loaded.ok()) << loaded.error().toStdString();
    ASSERT_EQ(loaded->data.images.size(), formats.size());
    for (const QByteArray& bytes : loaded->data.images) {
        EXPECT_TRUE(image::isPng(bytes));
        EXPECT_TRUE(image::pngTexts(bytes, 1024).isEmpty());
        EXPECT_EQ(image::imageDimensions(bytes), QSize(6, 4));
    }
}

// The counts the import sheet shows against what an import of the same selection would insert,
// for random backups with repeats, same pictures under other names, history duplicates and filters.
TEST(BackupFile, previewCountsAreWhatTheImportInserts)
{
    std::mt19937 random(20261207);
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const QList<QColor> colours {Qt::red, Qt::green, Qt::blue};
    QList<QByteArray> pngs;
    for (const QColor& c : colours)
        pngs << test::solidPng(QSize(4, 4), c);
    const QUuid work = QUuid::createUuid();
    const QUuid home = QUuid::createUuid();
    const QDateTime base = QDateTime(QDate(2026, 3, 1), QTime(12, 0), QTimeZone::utc());

    // Content number k: texts 0-5, pictures 6-8, file lists 9-10.
    const auto withContent = [&](int k, bool forHistory) {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        if (k < 6) {
            item.textContent = QStringLiteral("text %1").arg(k);
        } else if (k < 9) {
            item.contentType = ClipboardContentType::image;
            // In a file the same picture may come under several names; the history knows it by its own.
            item.imageFileName = forHistory ? image::imageFileName(pngs[k - 6])
                                            : QStringLiteral("picture-%1-%2.png").arg(k).arg(pick(3));
        } else {
            item.contentType = ClipboardContentType::file;
            item.fileURLStrings = QStringList {QStringLiteral("file:///home/u/%1").arg(k)};
        }
        item.dateAdded = base.addSecs(qint64(pick(10)) * 86400 + pick(86400));
        return item;
    };

    for (int round = 0; round < 300; ++round) {
        QList<ClipboardItem> history;
        for (int k = 0; k < 11; ++k) {
            if (pick(4) == 0) {
                history << withContent(k, true);
                history.last().isTrashed = pick(3) == 0;
            }
        }
        ExportData data;
        const int count = 1 + pick(round < 250 ? 12 : 200);
        for (int i = 0; i < count; ++i) {
            ClipboardItem item = withContent(pick(11), false);
            item.isPinned = pick(3) == 0;
            item.isPinnedToTop = pick(5) == 0;
            if (const int c = pick(3); c > 0)
                item.categoryId = c == 1 ? work : home;
            if (!history.isEmpty() && pick(6) == 0)
                item.id = history[pick(int(history.size()))].id; // the same item, or an id taken by other content
            data.items << item;
            if (item.imageFileName)
                data.images.insert(*item.imageFileName, pngs[int(item.imageFileName->mid(8, 1).toInt()) - 6]);
        }
        Result<LoadedBackup> loaded = loadBackup(encodeBackup(data));
        ASSERT_TRUE(loaded.ok());
        const HistoryIndex index(history);
        const BackupPreview preview = makePreview(std::move(loaded).value(), index);

        ExportFilter filter;
        filter.starredOnly = pick(3) == 0;
        if (const int c = pick(3); c > 0)
            filter.categoryId = c == 1 ? work : home;
        if (pick(2) == 0) {
            filter.dateFrom = base.date().addDays(pick(10));
            filter.dateTo = filter.dateFrom->addDays(pick(6));
        }
        const SelectionCounts counts = countSelection(preview, filter, QTimeZone::utc());
        const QList<ClipboardItem> selected = selectedItems(preview, filter, QTimeZone::utc());
        const ImportPlan plan = planImport(index, {}, selected, {}, {});
        ASSERT_EQ(counts.selected, selected.size()) << "round " << round;
        ASSERT_EQ(counts.newItems(), plan.items.size()) << "round " << round;
        ASSERT_EQ(counts.duplicates, plan.duplicatesSkipped) << "round " << round;
    }
}

TEST(BackupFile, aRepeatInsideTheFileIsOneDuplicate)
{
    const auto text = [](const char* content) {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.textContent = QString::fromLatin1(content);
        item.dateAdded = QDateTime::fromSecsSinceEpoch(0, QTimeZone::utc());
        return item;
    };
    ExportData data;
    data.items = {text("one"), text("two"), text("one"), text("three")};
    const BackupPreview preview = makePreview(loadBackup(encodeBackup(data)).value(), HistoryIndex());
    EXPECT_EQ(preview.contentIds, (std::vector<int> {0, 1, 0, 2}));
    const SelectionCounts counts = countSelection(preview, {}, QTimeZone::utc());
    EXPECT_EQ(counts.selected, 4);
    EXPECT_EQ(counts.newItems(), 3);
}

TEST(BackupFile, oneDayRangeHoldsTheDaysLastSecondAndNoMore)
{
    const QTimeZone zone("Europe/Berlin");
    const QDate day(2024, 3, 31); // the day clocks go forward
    const auto at = [&](QDate d, QTime t) {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.dateAdded = QDateTime(d, t, zone);
        return item;
    };
    const QList<ClipboardItem> items {at(day, QTime(0, 0)), at(day, QTime(23, 59, 59, 500)), at(day.addDays(1), QTime(0, 0)),
                                      at(day.addDays(-1), QTime(23, 59, 59, 999))};
    const QList<ClipboardItem> selected = itemsForExport(items, ExportFilter {false, {}, day, day}, zone);
    ASSERT_EQ(selected.size(), 2);
    EXPECT_EQ(selected[0].id, items[0].id);
    EXPECT_EQ(selected[1].id, items[1].id);
}

TEST(BackupFile, shortcutsFromAFileNeedARealModifierAndKnownBits)
{
    struct Row {
        quint16 key;
        quint64 modifiers;
        bool kept;
    };
    const Row rows[] = {
        {9, ItemShortcut::commandFlag, true},
        {9, ItemShortcut::optionFlag | 0x10000 /* caps lock */, true},
        {9, ItemShortcut::controlFlag, true},
        {9, 0, false},
        {9, ItemShortcut::shiftFlag, false},
        {9, ItemShortcut::commandFlag | 0x4000000, false},
        {0xFFFE, ItemShortcut::commandFlag, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(isImportableShortcut(ItemShortcut {row.key, row.modifiers}), row.kept) << row.key << " " << row.modifiers;
}

} // namespace
} // namespace lumra::backup
