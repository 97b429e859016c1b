#include "model/ClipboardItem.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <limits>

using namespace lumra;

static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

QJsonObject minimalItem()
{
    return {
        {"id", "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
        {"contentType", "text"},
        {"dateAdded", 700000000.0},
        {"isPinned", false},
    };
}

QJsonObject readFixture(const char* name)
{
    QFile file(QStringLiteral(LUMRA_TEST_DATA_DIR "/values/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QDateTime utc(double referenceSeconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround((referenceSeconds + 978307200.0) * 1000.0)), Qt::UTC);
}

ClipboardItem fixtureItem()
{
    ClipboardItem item;
    item.id = QUuid::fromString(QStringLiteral("6f9619ff-8b86-d011-b42d-00c04fc964ff"));
    item.contentType = ClipboardContentType::file;
    item.textContent = QStringLiteral("Quarterly notes");
    item.rtfData = QByteArray("{\\rtf1 Hello}");
    item.imageFileName = QStringLiteral("0123456789abcdef0123456789abcdef.png");
    item.fileURLStrings = QStringList {"file:///home/ada/notes.txt", "file:///home/ada/Projects/"};
    item.fileURLIsDirectory = QList<bool> {false, true};
    item.dateAdded = utc(725846400.25);
    item.isPinned = true;
    item.isPinnedToTop = true;
    item.tags = {"work", "2024"};
    item.comment = QStringLiteral("keep");
    item.categoryId = QUuid::fromString(QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427"));
    item.shortcut = ItemShortcut {9, ItemShortcut::commandFlag | ItemShortcut::optionFlag};
    item.isSensitive = true;
    item.sourceAppBundleId = QStringLiteral("org.gnome.Nautilus");
    item.sourceAppName = QStringLiteral("Files");
    item.ocrText = QStringLiteral("Q3");
    item.lastPastedDate = utc(725850000.5);
    item.firstCopiedDate = utc(725846000.125);
    item.isTrashed = true;
    item.trashedDate = utc(725900000);
    return item;
}

std::string describe(const QJsonValue& value)
{
    return QJsonDocument(QJsonArray {value}).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

TEST(ClipboardItemJson, FixtureDecodesToEveryFieldAndEncodesBackToTheSameObject)
{
    const QJsonObject fixture = readFixture("item.json");
    ASSERT_FALSE(fixture.isEmpty());

    QString error;
    const auto decoded = Json::decodeItem(fixture, &error);
    ASSERT_TRUE(decoded) << error.toStdString();
    EXPECT_EQ(*decoded, fixtureItem());
    EXPECT_EQ(Json::encode(*decoded), fixture);
}

TEST(ClipboardItemJson, MinimalObjectGetsDefaultsAndEncodesOnlyTheAlwaysWrittenKeys)
{
    const auto item = Json::decodeItem(minimalItem());
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->isPinnedToTop);
    EXPECT_FALSE(item->isSensitive);
    EXPECT_FALSE(item->isTrashed);
    EXPECT_TRUE(item->tags.isEmpty());
    EXPECT_FALSE(item->textContent || item->rtfData || item->imageFileName || item->fileURLStrings
        || item->fileURLIsDirectory || item->comment || item->categoryId || item->shortcut
        || item->sourceAppBundleId || item->sourceAppName || item->ocrText || item->lastPastedDate
        || item->firstCopiedDate || item->trashedDate);

    const QJsonObject encoded = Json::encode(*item);
    QStringList keys = encoded.keys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList {"contentType", "dateAdded", "id", "isPinned", "isPinnedToTop", "isSensitive",
                         "isTrashed", "tags"}));
    EXPECT_EQ(encoded.value("tags"), QJsonArray());
}

TEST(ClipboardItemJson, EachRequiredKeyMissingOrNullFailsTheItem)
{
    for (const char* key : {"id", "contentType", "dateAdded", "isPinned"}) {
        QJsonObject missing = minimalItem();
        missing.remove(key);
        QString error;
        EXPECT_FALSE(Json::decodeItem(missing, &error)) << key;
        EXPECT_TRUE(error.contains(key)) << error.toStdString();

        QJsonObject null = minimalItem();
        null.insert(key, QJsonValue::Null);
        EXPECT_FALSE(Json::decodeItem(null)) << key << " null";
    }
}

TEST(ClipboardItemJson, NullOptionalAndDefaultedKeysReadAsMissing)
{
    const char* keys[] = {"textContent", "rtfData", "imageFileName", "fileURLStrings", "fileURLIsDirectory",
        "isPinnedToTop", "tags", "comment", "categoryId", "shortcut", "isSensitive", "sourceAppBundleId",
        "sourceAppName", "ocrText", "lastPastedDate", "firstCopiedDate", "isTrashed", "trashedDate"};
    const auto plain = Json::decodeItem(minimalItem());
    ASSERT_TRUE(plain);
    for (const char* key : keys) {
        QJsonObject object = minimalItem();
        object.insert(key, QJsonValue::Null);
        QString error;
        const auto item = Json::decodeItem(object, &error);
        ASSERT_TRUE(item) << key << ": " << error.toStdString();
        EXPECT_EQ(*item, *plain) << key;
    }
}

struct BadValue {
    const char* key;
    QJsonValue value;
};

class ClipboardItemJsonBadValue : public ::testing::TestWithParam<BadValue> { };

TEST_P(ClipboardItemJsonBadValue, FailsTheWholeItem)
{
    QJsonObject object = minimalItem();
    object.insert(GetParam().key, GetParam().value);
    QString error;
    EXPECT_FALSE(Json::decodeItem(object, &error)) << GetParam().key << " = " << describe(GetParam().value);
    EXPECT_TRUE(error.contains(GetParam().key)) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(WrongTypes, ClipboardItemJsonBadValue,
    ::testing::Values(BadValue {"id", 5}, BadValue {"contentType", 0}, BadValue {"dateAdded", "2024-01-01"},
        BadValue {"isPinned", 1}, BadValue {"isPinned", "true"}, BadValue {"textContent", 12},
        BadValue {"rtfData", QJsonArray {1}}, BadValue {"imageFileName", true},
        BadValue {"fileURLStrings", "file:///a"}, BadValue {"fileURLStrings", QJsonArray {"file:///a", 2}},
        BadValue {"fileURLIsDirectory", QJsonArray {0, 1}}, BadValue {"fileURLIsDirectory", true},
        BadValue {"isPinnedToTop", "no"}, BadValue {"tags", "work"}, BadValue {"tags", QJsonArray {"a", QJsonValue::Null}},
        BadValue {"comment", QJsonObject {}}, BadValue {"categoryId", 7}, BadValue {"shortcut", "Ctrl+V"},
        BadValue {"isSensitive", 0}, BadValue {"sourceAppBundleId", false}, BadValue {"sourceAppName", 1},
        BadValue {"ocrText", QJsonArray {}}, BadValue {"lastPastedDate", "yesterday"},
        BadValue {"firstCopiedDate", true}, BadValue {"isTrashed", 2},
        BadValue {"trashedDate", QJsonObject {}}));

INSTANTIATE_TEST_SUITE_P(WrongValues, ClipboardItemJsonBadValue,
    ::testing::Values(BadValue {"contentType", "video"}, BadValue {"contentType", "Text"},
        BadValue {"id", "not-a-uuid"}, BadValue {"id", "{6F9619FF-8B86-D011-B42D-00C04FC964FF}"},
        BadValue {"id", "6F9619FF8B86D011B42D00C04FC964FF"}, BadValue {"categoryId", "6F9619FF-8B86-D011-B42D-00C04FC964FG"},
        BadValue {"rtfData", "not base64!"}, BadValue {"dateAdded", 1e300}, BadValue {"dateAdded", -1e12},
        BadValue {"dateAdded", std::numeric_limits<double>::infinity()},
        BadValue {"lastPastedDate", std::numeric_limits<double>::quiet_NaN()},
        BadValue {"shortcut", QJsonObject {{"keyCode", 9}}},
        BadValue {"shortcut", QJsonObject {{"keyCode", 70000}, {"modifiers", 0}}},
        BadValue {"shortcut", QJsonObject {{"keyCode", -1}, {"modifiers", 0}}},
        BadValue {"shortcut", QJsonObject {{"keyCode", 1.5}, {"modifiers", 0}}},
        BadValue {"shortcut", QJsonObject {{"keyCode", 9}, {"modifiers", -0x20000}}}));

TEST(ClipboardItemJson, UnknownKeysAreIgnored)
{
    QJsonObject object = minimalItem();
    object.insert("imageData", "AAAA");
    object.insert("future", QJsonObject {{"x", 1}});
    const auto item = Json::decodeItem(object);
    ASSERT_TRUE(item);
    EXPECT_EQ(*item, *Json::decodeItem(minimalItem()));
}

TEST(ClipboardItemJson, NonObjectsFail)
{
    for (const QJsonValue& value : {QJsonValue(), QJsonValue("item"), QJsonValue(QJsonArray {minimalItem()})}) {
        QString error;
        EXPECT_FALSE(Json::decodeItem(value, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(ClipboardItemJson, UuidsOfAnyCaseDecodeAndEncodeInUpperCase)
{
    QJsonObject object = minimalItem();
    object.insert("id", "6f9619ff-8b86-d011-b42d-00c04fc964ff");
    object.insert("categoryId", "1b4e28ba-2FA1-11d2-883f-0016d3cca427");
    const auto item = Json::decodeItem(object);
    ASSERT_TRUE(item);
    const QJsonObject encoded = Json::encode(*item);
    EXPECT_EQ(encoded.value("id").toString(), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_EQ(encoded.value("categoryId").toString(), "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");

    object.insert("id", "00000000-0000-0000-0000-000000000000");
    ASSERT_TRUE(Json::decodeItem(object));
    EXPECT_TRUE(Json::decodeItem(object)->id.isNull());
}

TEST(ClipboardItemJson, DatesKeepMillisecondsThroughTextAndBack)
{
    ClipboardItem item = *Json::decodeItem(minimalItem());
    // Local time on purpose: the stored number names the instant, not the zone.
    item.dateAdded = QDateTime(QDate(2023, 11, 14), QTime(9, 30, 15, 7), Qt::LocalTime);
    item.lastPastedDate = QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
    item.trashedDate = QDateTime(QDate(2001, 1, 1), QTime(0, 0, 0, 1), Qt::UTC);

    const QByteArray text = QJsonDocument(Json::encode(item)).toJson();
    const auto back = Json::decodeItem(QJsonDocument::fromJson(text).object());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->dateAdded, item.dateAdded);
    EXPECT_EQ(back->dateAdded.time().msec(), 7);
    EXPECT_EQ(back->lastPastedDate, item.lastPastedDate);
    EXPECT_EQ(back->trashedDate, item.trashedDate);
    EXPECT_EQ(*back, item);
}

TEST(ClipboardItemJson, ReferenceSecondsAreCountedFrom2001Utc)
{
    EXPECT_EQ(Json::dateFromReferenceSeconds(0), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(Json::dateFromReferenceSeconds(-0.001), QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59, 999), Qt::UTC));
    EXPECT_DOUBLE_EQ(Json::secondsSinceReferenceDate(QDateTime(QDate(2001, 1, 2), QTime(0, 0, 1, 500), Qt::UTC)), 86401.5);
    // 0.001 * 1000 is not exactly 1 in binary; the millisecond must survive anyway.
    EXPECT_EQ(Json::dateFromReferenceSeconds(700000000.001).time().msec(), 1);
    EXPECT_FALSE(Json::dateFromReferenceSeconds(std::numeric_limits<double>::quiet_NaN()).isValid());
    EXPECT_FALSE(Json::dateFromReferenceSeconds(1e15).isValid());
}

TEST(CategoryJson, RequiresIdNameAndIconNameAndDefaultsTheRest)
{
    const QJsonObject full {
        {"id", "1B4E28BA-2FA1-11D2-883F-0016D3CCA427"},
        {"name", "Work"},
        {"iconName", "briefcase"},
        {"isHiddenFromFooter", true},
        {"sortOrder", 3},
    };
    const auto category = Json::decodeCategory(full);
    ASSERT_TRUE(category);
    EXPECT_EQ(category->name, "Work");
    EXPECT_EQ(category->sortOrder, 3);
    EXPECT_TRUE(category->isHiddenFromFooter);
    EXPECT_EQ(Json::encode(*category), full);

    for (const char* key : {"id", "name", "iconName"}) {
        QJsonObject object = full;
        object.remove(key);
        EXPECT_FALSE(Json::decodeCategory(object)) << key;
    }
    for (const char* key : {"isHiddenFromFooter", "sortOrder"}) {
        QJsonObject missing = full;
        missing.remove(key);
        QJsonObject null = full;
        null.insert(key, QJsonValue::Null);
        for (const QJsonObject& object : {missing, null}) {
            const auto decoded = Json::decodeCategory(object);
            ASSERT_TRUE(decoded) << key;
            if (std::string(key) == "sortOrder")
                EXPECT_EQ(decoded->sortOrder, 0);
            else
                EXPECT_FALSE(decoded->isHiddenFromFooter);
        }
    }
    for (const BadValue& bad : {BadValue {"sortOrder", 1.5}, BadValue {"sortOrder", "1"}, BadValue {"sortOrder", 1e19},
             BadValue {"isHiddenFromFooter", 1}, BadValue {"iconName", QJsonValue::Null}}) {
        QJsonObject object = full;
        object.insert(bad.key, bad.value);
        EXPECT_FALSE(Json::decodeCategory(object)) << bad.key << " = " << describe(bad.value);
    }
}

TEST(ShortcutAndIgnoredAppJson, BothKeysAreRequiredAndRoundTrip)
{
    const ItemShortcut shortcut {49, ItemShortcut::controlFlag | ItemShortcut::shiftFlag};
    EXPECT_EQ(Json::decodeShortcut(Json::encode(shortcut)), shortcut);
    EXPECT_EQ(Json::encode(shortcut), (QJsonObject {{"keyCode", 49}, {"modifiers", 0x60000}}));
    const IgnoredApp app {"org.keepassxc.KeePassXC", "KeePassXC"};
    EXPECT_EQ(Json::decodeIgnoredApp(Json::encode(app)), app);

    for (const char* key : {"keyCode", "modifiers"}) {
        QJsonObject object = Json::encode(shortcut);
        object.remove(key);
        EXPECT_FALSE(Json::decodeShortcut(object)) << key;
        object.insert(key, QJsonValue::Null);
        EXPECT_FALSE(Json::decodeShortcut(object)) << key;
    }
    for (const char* key : {"bundleIdentifier", "name"}) {
        QJsonObject object = Json::encode(app);
        object.remove(key);
        EXPECT_FALSE(Json::decodeIgnoredApp(object)) << key;
        object.insert(key, 3);
        EXPECT_FALSE(Json::decodeIgnoredApp(object)) << key;
    }
}
