#include "platform/defaults/UserDefaults.h"

#include "support/TempDataDir.h"
#include "support/LargestAllocation.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPoint>
#include <QTemporaryDir>

#include <cmath>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using lumra::ManualClock;
using lumra::UserDefaults;

namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    QString path() const { return m_dir.path() + QStringLiteral("/Lumra/settings.json"); }
    std::unique_ptr<UserDefaults> open() { return std::make_unique<UserDefaults>(path(), &clock); }
    QByteArray fileBytes() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeFile(const QByteArray& bytes)
    {
        QDir().mkpath(m_dir.path() + QStringLiteral("/Lumra"));
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QTemporaryDir m_dir;
    ManualClock clock;
};

TEST_F(UserDefaultsTest, EveryValueKindSurvivesARestartWithItsType)
{
    const QDateTime when(QDate(2024, 2, 29), QTime(13, 45, 7, 250), Qt::UTC);
    const QByteArray bytes("\x00\x01\xff" "binary", 9);
    const qint64 big = (qint64(1) << 60) + 1; // beyond what a double holds exactly
    {
        auto defaults = open();
        defaults->set("flag", true);
        defaults->set("count", big);
        defaults->set("small", 7);
        defaults->set("size", 2.5);
        defaults->set("name", QStringLiteral("Grüße \"quoted\""));
        defaults->set("when", when);
        defaults->set("bytes", bytes);
        defaults->set("list", QVariantList { 1, QStringLiteral("two"), false });
        defaults->set("map", QVariantMap { { "inner", QVariantMap { { "n", 3 } } }, { "d", when } });
    }
    auto defaults = open();
    EXPECT_EQ(defaults->object("flag"), QVariant(true));
    EXPECT_EQ(defaults->object("count").typeId(), QMetaType::LongLong);
    EXPECT_EQ(defaults->object("count").toLongLong(), big);
    EXPECT_EQ(defaults->object("small").typeId(), QMetaType::LongLong);
    EXPECT_EQ(defaults->object("size").typeId(), QMetaType::Double);
    EXPECT_EQ(defaults->object("size").toDouble(), 2.5);
    EXPECT_EQ(defaults->string("name"), QStringLiteral("Grüße \"quoted\""));
    EXPECT_EQ(defaults->date("when"), when);
    EXPECT_EQ(defaults->data("bytes"), bytes);
    EXPECT_EQ(defaults->array("list"), (QVariantList { qint64(1), QStringLiteral("two"), false }));
    const QVariantMap map = defaults->dictionary("map").value_or(QVariantMap());
    EXPECT_EQ(map.value("inner").toMap().value("n"), QVariant(qint64(3)));
    EXPECT_EQ(map.value("d").toDateTime(), when);
}

TEST_F(UserDefaultsTest, FileIsPlainJsonWithTaggedDatesAndBytesAndPrivate)
{
    {
        auto defaults = open();
        defaults->set("when", QDateTime(QDate(2001, 1, 2), QTime(0, 0), Qt::UTC));
        defaults->set("bytes", QByteArray("hi"));
        defaults->set("maxItems", 500);
    }
    const QJsonObject root = QJsonDocument::fromJson(fileBytes()).object();
    EXPECT_EQ(root.value("when").toObject().value("$date").toDouble(), 86400.0);
    EXPECT_EQ(root.value("bytes").toObject().value("$data").toString(), QStringLiteral("aGk="));
    EXPECT_EQ(root.value("maxItems").toInteger(), 500);
    const auto permissions = QFile::permissions(path());
    EXPECT_TRUE(permissions.testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    EXPECT_FALSE(permissions & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther
                                | QFileDevice::WriteOther));
}

TEST_F(UserDefaultsTest, HandFixedFileIsReadBack)
{
    writeFile(R"({"maxItems": 300, "when": {"$date": 0}, "note": {"$data": "not base64!"}})");
    auto defaults = open();
    EXPECT_EQ(defaults->integer("maxItems"), 300);
    EXPECT_EQ(defaults->date("when"), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    // Not valid Base64: kept as the object it is rather than as bytes.
    EXPECT_FALSE(defaults->data("note"));
    EXPECT_TRUE(defaults->dictionary("note"));
}

struct ReadCase {
    const char* name;
    QVariant stored;
    qint64 integer;
    std::optional<qint64> readableInteger;
    double doubleValue;
    bool boolean;
    std::optional<QString> string;
    std::optional<qint64> losslessInteger;
    std::optional<double> losslessDouble;
    std::optional<bool> losslessBool;
};

TEST_F(UserDefaultsTest, ReadFormsOnWronglyTypedValues)
{
    const std::vector<ReadCase> cases = {
        { "word", QStringLiteral("abc"), 0, std::nullopt, 0.0, false, QStringLiteral("abc"), {}, {}, {} },
        { "numeric text", QStringLiteral("42"), 42, 42, 42.0, true, QStringLiteral("42"), {}, {}, {} },
        { "yes text", QStringLiteral("YES"), 0, std::nullopt, 0.0, true, QStringLiteral("YES"), {}, {}, {} },
        { "fraction", 3.7, 3, 3, 3.7, true, QStringLiteral("3.7"), {}, 3.7, {} },
        { "integral double", 15.0, 15, 15, 15.0, true, QStringLiteral("15"), 15, 15.0, {} },
        { "two", 2, 2, 2, 2.0, true, QStringLiteral("2"), 2, 2.0, {} },
        { "one", 1, 1, 1, 1.0, true, QStringLiteral("1"), 1, 1.0, true },
        { "zero", 0, 0, 0, 0.0, false, QStringLiteral("0"), 0, 0.0, false },
        { "bool", true, 1, 1, 1.0, true, std::nullopt, {}, {}, true },
        { "huge double", 1e30, 0, std::nullopt, 1e30, true, QStringLiteral("1e+30"), {}, 1e30, {} },
        { "list", QVariantList { 1 }, 0, std::nullopt, 0.0, false, std::nullopt, {}, {}, {} },
        { "map", QVariantMap { { "a", 1 } }, 0, std::nullopt, 0.0, false, std::nullopt, {}, {}, {} },
        { "absent", QVariant(), 0, std::nullopt, 0.0, false, std::nullopt, {}, {}, {} },
    };
    auto defaults = open();
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        defaults->set("key", c.stored);
        EXPECT_EQ(defaults->integer("key"), c.integer);
        EXPECT_EQ(defaults->readableInteger("key"), c.readableInteger);
        EXPECT_EQ(defaults->doubleValue("key"), c.doubleValue);
        EXPECT_EQ(defaults->boolean("key"), c.boolean);
        EXPECT_EQ(defaults->string("key"), c.string);
        EXPECT_EQ(defaults->losslessInteger(QStringLiteral("key")), c.losslessInteger);
        EXPECT_EQ(defaults->losslessDouble(QStringLiteral("key")), c.losslessDouble);
        EXPECT_EQ(defaults->losslessBool(QStringLiteral("key")), c.losslessBool);
        EXPECT_FALSE(defaults->data("key"));
        EXPECT_FALSE(defaults->date("key"));
    }
}

TEST_F(UserDefaultsTest, RegisteredValuesAnswerAfterStoredOnesAndAreNeverWritten)
{
    {
        auto defaults = open();
        defaults->registerDefaults({ { "maxItems", 2000 }, { "dividerStyle", QStringLiteral("fullWidth") } });
        EXPECT_EQ(defaults->integer("maxItems"), 2000);
        defaults->set("maxItems", 300);
        EXPECT_EQ(defaults->integer("maxItems"), 300);
        EXPECT_EQ(defaults->registeredValue("maxItems"), QVariant(qint64(2000)));
        const QVariantMap all = defaults->dictionaryRepresentation();
        EXPECT_EQ(all.value("maxItems"), QVariant(qint64(300)));
        EXPECT_EQ(all.value("dividerStyle"), QVariant(QStringLiteral("fullWidth")));
        defaults->remove("maxItems");
        EXPECT_EQ(defaults->integer("maxItems"), 2000);
        defaults->set("other", 1);
    }
    const QJsonObject root = QJsonDocument::fromJson(fileBytes()).object();
    EXPECT_EQ(root.keys(), QStringList { "other" });
}

TEST_F(UserDefaultsTest, ClearRemovesStoredValuesAndSignalsEachKey)
{
    auto defaults = open();
    defaults->registerDefaults({ { "a", 1 } });
    defaults->set("a", 5);
    defaults->set("b", 6);
    QStringList changed;
    QObject::connect(defaults.get(), &UserDefaults::changed, [&](const QString& key) { changed << key; });
    defaults->clear();
    EXPECT_EQ(changed, (QStringList { "a", "b" }));
    EXPECT_EQ(defaults->integer("a"), 1);
    EXPECT_TRUE(defaults->storedValues().isEmpty());
}

TEST_F(UserDefaultsTest, ChangeSignalOnlyForRealChanges)
{
    auto defaults = open();
    QStringList changed;
    QObject::connect(defaults.get(), &UserDefaults::changed, [&](const QString& key) { changed << key; });
    defaults->set("a", 1);
    defaults->set("a", 1);
    defaults->set("a", 1.5);
    defaults->remove("missing");
    defaults->remove("a");
    EXPECT_EQ(changed, (QStringList { "a", "a", "a" }));
}

TEST_F(UserDefaultsTest, RefusesValuesWithNoStoredForm)
{
    auto defaults = open();
    defaults->set("size", 12.0);
    EXPECT_FALSE(defaults->set("size", std::nan("")));
    EXPECT_FALSE(defaults->set("size", QVariant::fromValue(QPoint(1, 2))));
    EXPECT_EQ(defaults->doubleValue("size"), 12.0);
    EXPECT_TRUE(defaults->set("size", QVariant()));
    EXPECT_FALSE(defaults->hasStoredValue("size"));
}

TEST_F(UserDefaultsTest, CorruptFileIsMovedAsideNotOverwritten)
{
    for (const QByteArray& broken : { QByteArray("{\"maxItems\": 30"), QByteArray("[1, 2]") }) {
        SCOPED_TRACE(broken.constData());
        QDir(m_dir.path() + "/Lumra").removeRecursively();
        writeFile(broken);
        auto defaults = open();
        EXPECT_TRUE(defaults->storedValues().isEmpty());
        const QString aside = path() + QStringLiteral(".corrupt-20260301-090000");
        ASSERT_TRUE(QFile::exists(aside));
        QFile keptFile(aside);
        ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
        EXPECT_EQ(keptFile.readAll(), broken);

        defaults->set("maxItems", 40);
        ASSERT_TRUE(defaults->flush());
        EXPECT_EQ(QJsonDocument::fromJson(fileBytes()).object().value("maxItems").toInteger(), 40);
        EXPECT_TRUE(QFile::exists(aside));
    }
}

TEST_F(UserDefaultsTest, OversizedFileIsSetAsideUnread)
{
    // Valid JSON, read at start on the main thread: parsed whole it would hold it for a long while.
    QByteArray huge = "{\"maxItems\": 30";
    for (int i = 0; huge.size() < 16 * 1024 * 1024; ++i)
        huge += ",\"k" + QByteArray::number(i) + "\": [1, 2, 3, 4, 5, 6, 7, 8]";
    huge += "}";
    writeFile(huge);
    std::unique_ptr<UserDefaults> defaults;
    const auto largest = lumra::test::largestAllocationDuring([&] { defaults = open(); });
    lumra::test::expectLargestAllocationBelow(largest, 2u * 1024 * 1024, "the file is not read whole");
    EXPECT_TRUE(defaults->storedValues().isEmpty());
    EXPECT_TRUE(QFile::exists(path() + QStringLiteral(".corrupt-20260301-090000"))) << "kept for the user to look at";
}

TEST_F(UserDefaultsTest, SecondCorruptionInTheSameSecondKeepsBothCopies)
{
    writeFile("garbage one");
    open();
    writeFile("garbage two");
    open();
    EXPECT_TRUE(QFile::exists(path() + QStringLiteral(".corrupt-20260301-090000")));
    EXPECT_TRUE(QFile::exists(path() + QStringLiteral(".corrupt-20260301-090000-2")));
}

TEST_F(UserDefaultsTest, ChangesAreWrittenOnceShortlyAfterwards)
{
    auto defaults = open();
    defaults->set("a", 1);
    clock.advance(UserDefaults::flushDelay / 2);
    defaults->set("b", 2);
    defaults->set("c", 3);
    EXPECT_FALSE(QFile::exists(path()));
    EXPECT_EQ(clock.pendingTimers(), 1);

    clock.advance(UserDefaults::flushDelay / 2);
    ASSERT_TRUE(QFile::exists(path()));
    EXPECT_FALSE(defaults->hasUnsavedChanges());
    EXPECT_EQ(QJsonDocument::fromJson(fileBytes()).object().keys(), (QStringList { "a", "b", "c" }));
    EXPECT_EQ(clock.pendingTimers(), 0);

    defaults->set("d", 4);
    EXPECT_EQ(clock.pendingTimers(), 1);
    clock.advance(UserDefaults::flushDelay);
    EXPECT_TRUE(QJsonDocument::fromJson(fileBytes()).object().contains("d"));
}

TEST_F(UserDefaultsTest, PendingChangesAreWrittenWhenTheStoreGoesAway)
{
    open()->set("a", 1);
    EXPECT_EQ(open()->integer("a"), 1);
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing)
{
    auto defaults = open();
    constexpr int threads = 6;
    constexpr int perThread = 40;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                defaults->set(QStringLiteral("k%1-%2").arg(t).arg(i), i);
                EXPECT_TRUE(defaults->flush());
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    ASSERT_TRUE(defaults->flush());

    const QJsonObject root = QJsonDocument::fromJson(fileBytes()).object();
    EXPECT_EQ(root.size(), threads * perThread);
    UserDefaults reopened(path(), &clock);
    EXPECT_EQ(reopened.storedValues().size(), threads * perThread);
    EXPECT_EQ(reopened.integer("k5-39"), 39);
}

TEST(UserDefaultsStandard, LivesInTheConfigFolder)
{
    lumra::test::TempDataDir dir;
    EXPECT_EQ(UserDefaults::standardFilePath(), dir.configHome() + QStringLiteral("/Lumra/settings.json"));
}

} // namespace
