#include "model/sync/SyncRecord.h"

#include "model/store/ItemRows.h"
#include "model/store/ManagedObjectContext.h"
#include "model/sync/SyncEngineParts.h"
#include "LargestAllocation.h"
#include "platform/pasteboard/OfferReader.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <random>

namespace lumra::sync {
namespace {

SyncRecord samplePut()
{
    SyncRecord r;
    r.id = QUuid::createUuid();
    r.device = QUuid::createUuid();
    r.mtime = 1772355600123;
    r.fields = QJsonObject {{"contentType", "text"}, {"textContent", "héllo\nworld"}, {"dateAdded", 794000000.25},
                            {"isPinned", true}, {"shortcutKeyCode", 9}, {"shortcutModifiers", 1572864},
                            {"rtfData", QString::fromLatin1(QByteArray("{\\rtf1 x}").toBase64())}};
    r.imageHash = QString(64, u'c');
    return r;
}

TEST(SyncRecordTest, RoundTripsAndDecidesTheWinnerByTimeThenDevice)
{
    const SyncRecord put = samplePut();
    const Result<SyncRecord> back = decodeRecord(encodeRecord(put));
    ASSERT_TRUE(back) << back.error().toStdString();
    EXPECT_EQ(back->id, put.id);
    EXPECT_EQ(back->device, put.device);
    EXPECT_EQ(back->mtime, put.mtime);
    EXPECT_EQ(back->fields, put.fields);
    EXPECT_EQ(back->imageHash, put.imageHash);
    EXPECT_EQ(contentDigest(back->fields, back->imageHash), contentDigest(put.fields, put.imageHash));
    SyncRecord remove = put;
    remove.op = SyncRecord::Op::remove;
    remove.before = put.mtime + 1000;
    EXPECT_EQ(decodeRecord(encodeRecord(remove))->before, remove.before);
    remove.held = contentDigest(put.fields, put.imageHash);
    EXPECT_EQ(decodeRecord(encodeRecord(remove))->held, remove.held);
    SyncRecord changedOn = put;
    changedOn.was.insert(QStringLiteral("comment"), put.mtime + 1000);
    changedOn.after.insert(QStringLiteral("comment"), 2);
    EXPECT_EQ(decodeRecord(encodeRecord(changedOn))->after, changedOn.after);

    SyncRecord later = put;
    EXPECT_TRUE(later.supersedes(put.mtime - 1, put.device));
    EXPECT_FALSE(later.supersedes(put.mtime + 1, put.device));
    EXPECT_FALSE(later.supersedes(put.mtime, put.device)) << "the same record again is not newer";
    SyncRecord rival = put;
    rival.device = QUuid::createUuid();
    EXPECT_NE(later.supersedes(put.mtime, rival.device), rival.supersedes(put.mtime, put.device))
        << "a tie goes to exactly one of the two devices";
}

TEST(SyncRecordTest, RefusesWhatAnotherComputerMustNotSay)
{
    const QString base = QString::fromUtf8(encodeRecord(samplePut()));
    auto with = [&](const char* from, const char* to) { return QString(base).replace(QLatin1String(from), QLatin1String(to)); };
    const struct {
        const char* what;
        QString line;
    } cases[] = {
        {"not JSON", QStringLiteral("{\"v\":1,")},
        {"newer version", with("\"v\":1", "\"v\":2")},
        {"unknown operation", with("\"op\":\"put\"", "\"op\":\"drop\"")},
        {"unknown entity", with("\"entity\":\"item\"", "\"entity\":\"user\"")},
        {"mtime before 2001", with("1772355600123", "5")},
        {"unknown field", with("\"isPinned\"", "\"isAdmin\"")},
        {"image bytes inline", with("\"isPinned\"", "\"imageData\"")},
        {"bookmarks", with("\"isPinned\"", "\"fileBookmarksJSON\"")},
        {"wrong type", with("\"isPinned\":true", "\"isPinned\":\"yes\"")},
        {"date not finite", with("794000000.25", "1e400")},
        {"shortcut out of range", with("\"shortcutKeyCode\":9", "\"shortcutKeyCode\":70000")},
        {"fractional integer", with("\"shortcutKeyCode\":9", "\"shortcutKeyCode\":9.5")},
        {"content type", with("\"contentType\":\"text\"", "\"contentType\":\"exe\"")},
        {"a file, which names a path on its own computer", with("\"contentType\":\"text\"", "\"contentType\":\"file\"")},
        {"a text carrying file URLs", with("\"isPinned\":true", R"("isPinned":true,"fileURLStringsJSON":"[\"file:///etc/passwd\"]")")},
        {"a text saying its files are folders", with("\"isPinned\":true", R"("isPinned":true,"fileURLIsDirectoryJSON":"[true]")")},
        {"image outside", with(qPrintable(QString(64, u'c')), "../../x")},
        {"bad Base64", with("\"rtfData\":\"", "\"rtfData\":\"*")},
        {"earlier stamp of an unknown field", with("\"v\":1", "\"v\":1,\"was\":{\"isAdmin\":1772355600123}")},
        {"earlier stamp past 2200", with("\"v\":1", "\"v\":1,\"was\":{\"isPinned\":1e16}")},
        {"a delete's earlier stamp not a number", with("\"op\":\"put\"", "\"op\":\"delete\",\"before\":\"soon\"")},
        {"a delete's row digest not one", with("\"op\":\"put\"", "\"op\":\"delete\",\"held\":\"../x\"")},
        {"changes counted on a field not stamped again", with("\"v\":1", "\"v\":1,\"after\":{\"isPinned\":1}")},
        {"a count of no changes", with("\"v\":1", "\"v\":1,\"was\":{\"isPinned\":1772355600123},\"after\":{\"isPinned\":0}")},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(decodeRecord(c.line.toUtf8())) << c.what;
}

TEST(SyncRecordTest, JournalReaderKeepsTornLinesForLaterAndNumbersProblems)
{
    const SyncRecord put = samplePut();
    QByteArray data = encodeRecord(put) + "\n" + "garbage\n" + "\n" + encodeRecord(put);
    JournalChunk first = readJournal(data, 0, 0, put.device);
    ASSERT_EQ(first.records.size(), 1);
    ASSERT_EQ(first.problems.size(), 1);
    EXPECT_EQ(first.problems.first().line, 2);
    EXPECT_EQ(first.nextLine, 3);
    EXPECT_LT(first.nextOffset, data.size()) << "the unfinished last line waits";

    data += "\n";
    const JournalChunk rest = readJournal(QByteArrayView(data).sliced(first.nextOffset), 0, first.nextLine, put.device);
    ASSERT_EQ(rest.records.size(), 1);
    EXPECT_EQ(rest.records.first().line, 4);

    const JournalChunk foreign = readJournal(data, 0, 0, QUuid::createUuid());
    EXPECT_TRUE(foreign.records.isEmpty()) << "a journal speaks only for its own device";
}

TEST(SyncRecordTest, ALineOfManyValuesIsRefusedBeforeItIsBuilt)
{
    // Under the line cap, but two bytes a value: parsed whole it costs many times its size.
    const SyncRecord put = samplePut();
    QByteArray line = encodeRecord(put);
    line.chop(1);
    QByteArray values(40 * 1024 * 1024, ',');
    for (qsizetype i = 0; i < values.size(); i += 2)
        values[i] = '0';
    line += ",\"x\":[" + values + "0]}\n";
    ASSERT_LT(line.size(), maxLineBytes);
    JournalChunk chunk;
    const auto largest = test::largestAllocationDuring([&] { chunk = readJournal(line, 0, 0, put.device); });
    EXPECT_TRUE(chunk.records.isEmpty());
    ASSERT_EQ(chunk.problems.size(), 1);
    EXPECT_TRUE(chunk.problems.first().reason.contains(QStringLiteral("values"))) << chunk.problems.first().reason.toStdString();
    test::expectLargestAllocationBelow(largest, 1024u * 1024, "nothing built for the line's values");

    // The largest record a computer writes still goes through.
    SyncRecord big = put;
    big.fields.insert(QStringLiteral("textContent"), QString(16 * 1024 * 1024, u'x'));
    big.fields.insert(QStringLiteral("rtfData"), QString::fromLatin1(QByteArray(16 * 1024 * 1024, 'r').toBase64()));
    const QByteArray bigLine = encodeRecord(big) + '\n';
    ASSERT_LT(bigLine.size(), maxLineBytes);
    EXPECT_EQ(readJournal(bigLine, 0, 0, put.device).records.size(), 1);
}

TEST(SyncRecordTest, TheLargestItemACopyKeepsTravelsAndLinesEarlierBuildsWroteAreRead)
{
    // The capture's largest text, every character of it escaped, and its largest rich text.
    SyncRecord largest = samplePut();
    largest.fields.insert(QStringLiteral("textContent"), QString(OfferLimits::maxTextBytes, QChar(1)));
    largest.fields.insert(QStringLiteral("rtfData"), QString::fromLatin1(QByteArray(OfferLimits::maxRtfBytes, 'r').toBase64()));
    QStringList tags;
    for (int i = 0; i < 10'000; ++i)
        tags << QString::number(i, 36);
    largest.fields.insert(QStringLiteral("tagsJSON"), QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(tags)).toJson(QJsonDocument::Compact)));
    QByteArray line = encodeRecord(largest);
    {
        const Result<SyncRecord> back = decodeRecord(line);
        ASSERT_TRUE(back) << back.error().toStdString();
        EXPECT_EQ(back->fields, largest.fields);
    }
    largest.fields = {};

    // Up to the cap a line is read; past it, by one byte, it is not.
    const qsizetype recordEnd = line.size();
    ASSERT_LE(recordEnd, maxLineBytes);
    line.resize(maxLineBytes, ' ');
    EXPECT_TRUE(decodeRecord(line));
    line += ' ';
    const Result<SyncRecord> over = decodeRecord(line);
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error(), QStringLiteral("line too long"));
    line = {};

    // Earlier builds wrote lines of up to 96 MB: a text of escaped characters under their string bound.
    SyncRecord earlier = samplePut();
    earlier.fields.insert(QStringLiteral("textContent"), QString());
    const qsizetype bare = encodeRecord(earlier).size();
    const qsizetype room = 96 * 1024 * 1024 - bare;
    earlier.fields.insert(QStringLiteral("textContent"), QString(room / 6, QChar(1)) + QString(room % 6, u'x'));
    const QByteArray earlierLine = encodeRecord(earlier) + '\n';
    ASSERT_EQ(earlierLine.size(), 96 * 1024 * 1024 + 1);
    EXPECT_EQ(readJournal(earlierLine, 0, 0, earlier.device).records.size(), 1);
}

TEST(SyncRecordTest, TheTailOfALongLineIsTakenWithoutCopiesOfIt)
{
    // What a reader remembers of the last line it read, as states already written hold it.
    std::mt19937 rng(7);
    for (int size : {0, 1, 17, 4096}) {
        QByteArray line(size, Qt::Uninitialized);
        for (char& c : line)
            c = char(rng());
        EXPECT_EQ(detail::tailText(line), QString::number(fieldHash(QString::fromLatin1(line.toHex())), 16) + u':' + QString::number(size));
    }
    const QByteArray longLine(40 * 1024 * 1024, 'x');
    const auto largest = test::largestAllocationDuring([&] { (void)detail::tailText(longLine); });
    if (largest)
        EXPECT_LT(*largest, 1024u * 1024);
}

TEST(SyncRecordTest, FieldsOfAStoredRowComeBackUnchanged)
{
    store::PersistentStore file {QStringLiteral(":memory:"), QStringLiteral("Cloud")};
    std::vector<store::ManagedObjectContext::Connection> connections;
    auto owned = std::make_unique<sql::Database>();
    ASSERT_TRUE(owned->openInMemory().ok());
    ASSERT_TRUE(store::prepareSchema(*owned).ok());
    connections.push_back({&file, std::move(owned)});
    store::ManagedObjectContext context(std::move(connections));

    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.textContent = QStringLiteral("text");
    item.tags = {QStringLiteral("a"), QStringLiteral("b")};
    item.comment = QStringLiteral("note");
    item.dateAdded = QDateTime::fromMSecsSinceEpoch(1772355600123, Qt::UTC);
    item.shortcut = ItemShortcut {18, 0x100000};
    auto row = context.insert(store::EntityKind::item);
    populateManagedItem(*row, item);
    const QJsonObject fields = fieldsOfRow(*row);

    auto copy = context.insert(store::EntityKind::item);
    const Result<SyncRecord> decoded = decodeRecord(encodeRecord(SyncRecord {SyncRecord::Op::put, store::EntityKind::item,
                                                                             item.id, 1772355600123, QUuid::createUuid(), fields}));
    ASSERT_TRUE(decoded);
    applyFields(*copy, decoded->fields);
    EXPECT_EQ(fieldsOfRow(*copy), fields) << "what is applied reads back as it was sent, so nothing echoes back";
}

// Whatever bytes arrive, the reader neither crashes nor accepts a record that does not re-encode.
TEST(SyncRecordTest, FuzzedJournalsNeverCrashTheReader)
{
    std::mt19937 rng(20261207);
    const QByteArray seed = encodeRecord(samplePut()) + '\n';
    static const char* tokens[] = {"{", "}", "\"", ":", ",", "\n", "null", "1e999", "-1", "[]", "\\u0000", "\"fields\"", "\"v\":1"};
    const QUuid device = samplePut().device;
    for (int round = 0; round < 3000; ++round) {
        QByteArray data = seed + seed;
        const int edits = 1 + int(rng() % 6);
        for (int e = 0; e < edits; ++e) {
            const qsizetype at = qsizetype(rng() % quint32(data.size()));
            switch (rng() % 3) {
            case 0: data[at] = char(rng()); break;
            case 1: data.insert(at, tokens[rng() % std::size(tokens)]); break;
            default: data.remove(at, qsizetype(rng() % 8)); break;
            }
        }
        const JournalChunk chunk = readJournal(data, 0, 0, device);
        for (const auto& entry : chunk.records)
            EXPECT_TRUE(decodeRecord(encodeRecord(entry.record))) << data.toStdString();
    }
}

} // namespace
} // namespace lumra::sync
