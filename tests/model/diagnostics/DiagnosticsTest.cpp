#include "model/Diagnostics.h"

#include "FifoWatchdog.h"
#include "ManualClockScope.h"
#include "TempDataDir.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>

#include <gtest/gtest.h>

using lumra::Diagnostics;

namespace {

class DiagnosticsTest : public lumra::test::DataDirTest {
protected:
    QString path() const { return dataDir.root() + "/diagnostics.log"; }
    QByteArray fileBytes() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList lines() const { return QString::fromUtf8(fileBytes()).split('\n', Qt::SkipEmptyParts); }
    lumra::test::ManualClockScope time {QDateTime(QDate(2025, 3, 1), QTime(9, 15, 42, 318), Qt::UTC)};
};

} // namespace

TEST_F(DiagnosticsTest, DisabledLoggerNeverCreatesTheFile)
{
    Diagnostics log(path());
    log.warn("Capture", "ignored");
    log.logDiagnosticInfo(3, true);
    log.flush();
    EXPECT_FALSE(QFileInfo::exists(path()));
}

TEST_F(DiagnosticsTest, RecordHasTimeLevelCategoryAndMessage)
{
    Diagnostics log(path());
    log.setEnabled(true);
    log.warn("Capture", "Captured item from org.mozilla.firefox");
    log.info("Retention", "");
    log.flush();
    EXPECT_EQ(fileBytes(),
              "[2025-03-01T09:15:42.318Z] [WARN] [Capture] Captured item from org.mozilla.firefox\n"
              "[2025-03-01T09:15:42.318Z] [INFO] [Retention] \n");
}

TEST_F(DiagnosticsTest, EveryLevelHasItsName)
{
    Diagnostics log(path());
    log.setEnabled(true);
    log.debug("C", "d");
    log.info("C", "i");
    log.warn("C", "w");
    log.error("C", "e");
    log.flush();
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 4);
    EXPECT_TRUE(l[0].contains("] [DEBUG] [C] d"));
    EXPECT_TRUE(l[1].contains("] [INFO] [C] i"));
    EXPECT_TRUE(l[2].contains("] [WARN] [C] w"));
    EXPECT_TRUE(l[3].contains("] [ERROR] [C] e"));
}

TEST_F(DiagnosticsTest, ControlCharactersCannotForgeARecord)
{
    Diagnostics log(path());
    log.setEnabled(true);
    log.info("Cap\nture", "one\n[2025-03-01T00:00:00.000Z] [ERROR] [Fake] two\r\x1b[31m\\");
    log.flush();
    const QByteArray bytes = fileBytes();
    EXPECT_EQ(bytes.count('\n'), 1);
    EXPECT_FALSE(bytes.contains('\r'));
    EXPECT_FALSE(bytes.contains('\x1b'));
    EXPECT_TRUE(bytes.contains("[Cap\\nture] one\\n[2025"));
    EXPECT_TRUE(bytes.contains("two\\r\\u001b[31m\\\\\n"));
}

TEST_F(DiagnosticsTest, AppendNeverTruncatesAnExistingLog)
{
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier run\n");
    }
    Diagnostics log(path());
    log.setEnabled(true);
    log.info("A", "next");
    log.flush();
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 2);
    EXPECT_EQ(l[0], "earlier run");
}

TEST_F(DiagnosticsTest, FirstRecordCreatesAPrivateFile)
{
    Diagnostics log(path());
    log.setEnabled(true);
    log.info("A", "only");
    log.flush();
    EXPECT_EQ(lines().size(), 1);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);
}

TEST_F(DiagnosticsTest, FailedWriteDropsOnlyThatRecord)
{
    Diagnostics log(dataDir.root() + "/missing-folder/diagnostics.log");
    log.setEnabled(true);
    log.info("A", "lost");
    log.flush(); // no crash, nothing reported

    Diagnostics good(path());
    good.setEnabled(true);
    good.info("A", "kept");
    good.flush();
    EXPECT_EQ(lines().size(), 1);
}

TEST_F(DiagnosticsTest, RotatesPastFiveMegabytes)
{
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(5 * 1024 * 1024 - 10, 'x'));
    }
    Diagnostics log(path());
    log.setEnabled(true);
    log.info("A", "after rotation");
    log.flush();
    EXPECT_TRUE(QFileInfo::exists(path() + ".1"));
    EXPECT_EQ(QFileInfo(path() + ".1").size(), 5 * 1024 * 1024 - 10);
    ASSERT_EQ(lines().size(), 1);
    EXPECT_TRUE(lines()[0].endsWith("after rotation"));
}

TEST_F(DiagnosticsTest, EmptyingIsOrderedWithQueuedAppends)
{
    Diagnostics log(path());
    log.setEnabled(true);
    for (int i = 0; i < 200; ++i)
        log.info("A", QString::number(i));
    log.writeDiagnosticsLog();
    log.info("A", "after");
    auto text = log.readDiagnosticsLog();
    ASSERT_TRUE(text.has_value());
    EXPECT_TRUE(text->endsWith("[INFO] [A] after\n"));
    EXPECT_EQ(text->count('\n'), 1);
}

TEST_F(DiagnosticsTest, ReadGivesNothingForMissingOrInvalidUtf8)
{
    Diagnostics log(path());
    EXPECT_FALSE(log.readDiagnosticsLog().has_value());
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\xff\xfe broken");
    f.close();
    EXPECT_FALSE(log.readDiagnosticsLog().has_value());
}

TEST_F(DiagnosticsTest, HeaderBlockIsEightDebugLines)
{
    Diagnostics log(path());
    log.setEnabled(true);
    log.logDiagnosticInfo(42, false);
    log.flush();
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 8);
    for (const QString& line : l)
        EXPECT_TRUE(line.contains("] [DEBUG] [AppDelegate] ")) << line.toStdString();
    EXPECT_TRUE(l[0].endsWith("--- Diagnostic Info ---"));
    EXPECT_TRUE(l[1].contains("App: 0.1.0 (1)"));
    EXPECT_TRUE(l[2].contains("OS: ") && l[2].contains("Linux"));
    EXPECT_TRUE(l[3].contains("Device: "));
    EXPECT_TRUE(l[4].endsWith("Locale: en_US"));
    EXPECT_TRUE(l[5].endsWith("Items: 42"));
    EXPECT_TRUE(l[6].endsWith("Sync enabled: false"));
    EXPECT_TRUE(l[7].endsWith("] " + QString(23, '-')));
}

// Another program put FIFOs where the log goes: records, emptying and reading all go on without
// waiting for a reader or a writer that never comes, and stderr says so once.
TEST_F(DiagnosticsTest, AFifoAtTheLogsPathHoldsNothingAndIsRefusedOnce)
{
    using lumra::test::FifoWatchdog;
    const QString written = dataDir.root() + "/written.log";
    const QString read = dataDir.root() + "/read.log";
    FifoWatchdog writers(written, std::chrono::milliseconds(500), FifoWatchdog::Watch::writers);
    FifoWatchdog readers(read, std::chrono::milliseconds(500));
    ASSERT_TRUE(writers.made() && readers.made());

    testing::internal::CaptureStderr();
    {
        Diagnostics log(written);
        log.setEnabled(true);
        log.info("A", "one");
        log.info("A", "two");
        log.writeDiagnosticsLog();
        log.info("A", "three");
        log.flush();
    }
    EXPECT_FALSE(Diagnostics(read).readDiagnosticsLog().has_value());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(QString::fromStdString(said).count("is not a regular file"), 1) << said;
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // a record written anyway reaches the guard
    EXPECT_FALSE(writers.tripped()) << "a record was written into the FIFO";
    EXPECT_FALSE(readers.tripped()) << "the log was read from the FIFO";
}
