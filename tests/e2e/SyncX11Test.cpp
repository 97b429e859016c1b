// Two computers sharing a sync folder: two Lumra processes, each with its own folders and its own
// X display, copy on one and find the copy in the other's history, and back.
#include "StoredTexts.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

using lumra::test::storedColumnContains;
using lumra::test::storedTexts;

constexpr int waitMs = 30000;

struct Computer {
    QTemporaryDir home;
    QString display;
    QProcess lumra;
    QString output;
    qint64 clockOffsetMs = 0; // this computer's clock is this far off

    QString supportFolder() const { return home.path() + QStringLiteral("/data/Lumra"); }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        if (clockOffsetMs != 0)
            env.insert(QStringLiteral("LUMRA_TEST_CLOCK_OFFSET_MS"), QString::number(clockOffsetMs));
        for (const char* part : {"data", "config", "cache", "runtime"})
            QDir(home.path()).mkpath(QString::fromLatin1(part));
        QFile::setPermissions(home.path() + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path() + QStringLiteral("/runtime"));
        return env;
    }
    bool start(const QString& app, const QString& syncFolder)
    {
        QDir().mkpath(home.path() + QStringLiteral("/config/Lumra"));
        QFile settings(home.path() + QStringLiteral("/config/Lumra/settings.json"));
        if (!settings.open(QIODevice::WriteOnly))
            return false;
        settings.write(QJsonDocument(QJsonObject {{"iCloudSyncEnabled", true},
                                                  {"syncFolderPath", syncFolder},
                                                  {"hasCompletedOnboarding", true}})
                           .toJson());
        settings.close();
        lumra.setProcessEnvironment(environment());
        lumra.setProcessChannelMode(QProcess::MergedChannels);
        lumra.start(app, {});
        // The output of an earlier run stays for failure messages; this run's starts after it.
        const qsizetype runStart = output.size();
        const auto started = [&] { return output.indexOf(QStringLiteral("Lumra started"), runStart) >= 0; };
        return lumra.waitForStarted()
            && QTest::qWaitFor([&] {
                   output += QString::fromUtf8(lumra.readAll());
                   return started() || lumra.state() == QProcess::NotRunning;
               }, waitMs)
            && started();
    }
    bool copy(const QByteArray& text)
    {
        QProcess xclip;
        xclip.setProcessEnvironment(environment());
        xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-i"});
        if (!xclip.waitForStarted())
            return false;
        xclip.write(text);
        xclip.closeWriteChannel();
        return xclip.waitForFinished();
    }
    void stop()
    {
        if (lumra.state() == QProcess::NotRunning)
            return;
        lumra.terminate();
        if (!lumra.waitForFinished(5000))
            lumra.kill();
    }
};

class SyncX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_app = qEnvironmentVariable("LUMRA_APP");
        if (m_app.isEmpty() || !QFile::exists(m_app))
            GTEST_SKIP() << "LUMRA_APP does not name the lumra program";
        if (!startSecondDisplay())
            GTEST_SKIP() << "could not start a second Xvfb";
        a.display = qEnvironmentVariable("DISPLAY");
    }
    void TearDown() override
    {
        a.stop();
        b.stop();
        if (m_xvfb.state() != QProcess::NotRunning) {
            m_xvfb.terminate();
            m_xvfb.waitForFinished(5000);
        }
    }
    bool startSecondDisplay()
    {
        for (int n = 170; n < 220; ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            m_xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                                                  "+extension", "XFIXES"});
            if (!m_xvfb.waitForStarted())
                return false;
            if (QTest::qWaitFor([&] { return QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) || m_xvfb.state() == QProcess::NotRunning; }, 5000)
                && m_xvfb.state() == QProcess::Running) {
                b.display = QStringLiteral(":%1").arg(n);
                return true;
            }
        }
        return false;
    }

    QString m_app;
    QProcess m_xvfb;
    QTemporaryDir shared;
    Computer a, b;
};

TEST_F(SyncX11Test, ACopyOnOneComputerReachesTheOtherAndBack)
{
    ASSERT_TRUE(a.start(m_app, shared.path())) << a.output.toStdString();
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();

    ASSERT_TRUE(a.copy("copied on the first computer"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return storedTexts(b.supportFolder()).contains("copied on the first computer"); }, waitMs))
        << "the second computer has: " << storedTexts(b.supportFolder()).join(" | ").toStdString();

    ASSERT_TRUE(b.copy("copied on the second computer"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return storedTexts(a.supportFolder()).contains("copied on the second computer"); }, waitMs))
        << "the first computer has: " << storedTexts(a.supportFolder()).join(" | ").toStdString();
}

// The folder's files as the other computer or an intruder leaves them.
QString deviceFolder(const QString& shared, const Computer& c)
{
    QFile id(c.supportFolder() + QStringLiteral("/sync-device-id"));
    if (!id.open(QIODevice::ReadOnly))
        return {};
    return shared + QStringLiteral("/Lumra/devices/") + QString::fromLatin1(id.readAll().trimmed());
}

TEST_F(SyncX11Test, ATornLastLineInOneJournalAndALinkInTheOthersFolderChangeNothingForTheWorse)
{
    QTemporaryDir outside;
    QFile secret(outside.path() + QStringLiteral("/secret"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("outside the sync folder");
    secret.close();

    ASSERT_TRUE(a.start(m_app, shared.path())) << a.output.toStdString();
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();
    ASSERT_TRUE(a.copy("before the tear"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(b.supportFolder()).contains("before the tear"); }, waitMs));

    // The first computer stops in the middle of writing a record; it starts again and copies on.
    a.stop();
    const QString journal = deviceFolder(shared.path(), a) + QStringLiteral("/journal-1.jsonl");
    QFile torn(journal);
    ASSERT_TRUE(torn.open(QIODevice::Append)) << journal.toStdString();
    torn.write(R"({"v":1,"op":"put","entity":"item","id":"5)");
    torn.close();
    // What is on the clipboard at start is never taken: the copy comes once this run has started.
    ASSERT_TRUE(a.start(m_app, shared.path())) << a.output.toStdString();
    ASSERT_TRUE(a.copy("after the tear"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return storedTexts(b.supportFolder()).contains("after the tear"); }, waitMs))
        << "the record after a torn line travels; the second computer has: " << storedTexts(b.supportFolder()).join(" | ").toStdString()
        << "\nthe first has: " << storedTexts(a.supportFolder()).join(" | ").toStdString() << "\njournal: " << [&] {
               QFile f(journal);
               return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("none");
           }();

    // Someone plants links to a file outside in the second computer's folder.
    const QString folderB = deviceFolder(shared.path(), b);
    for (const char* name : {"manifest.json", "settings.json"}) {
        // The second computer may write its file again between the removal and the link: try again.
        const QString path = folderB + u'/' + QLatin1String(name);
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(path).isSymLink() || (QFile::remove(path), QFile::link(secret.fileName(), path)); }, 5000));
    }
    ASSERT_TRUE(b.copy("after the links"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return storedTexts(a.supportFolder()).contains("after the links"); }, waitMs))
        << "the first computer has: " << storedTexts(a.supportFolder()).join(" | ").toStdString();
    ASSERT_TRUE(secret.open(QIODevice::ReadOnly));
    EXPECT_EQ(secret.readAll(), QByteArray("outside the sync folder")) << "nothing was written through a link";
    EXPECT_FALSE(QFileInfo(folderB + QStringLiteral("/manifest.json")).isSymLink()) << "the link was replaced by the computer's own file";
}

TEST_F(SyncX11Test, AComputerWhoseClockIsTwoHundredDaysAheadLeavesTheOtherItsHistory)
{
    ASSERT_TRUE(a.start(m_app, shared.path())) << a.output.toStdString();
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();
    const QStringList texts {"kept one", "kept two", "kept three"};
    for (const QString& text : texts) {
        ASSERT_TRUE(a.copy(text.toUtf8()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(a.supportFolder()).contains(text); }, waitMs)) << text.toStdString();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(b.supportFolder()).size() >= texts.size(); }, waitMs))
        << "the other computer imported the history: " << storedTexts(b.supportFolder()).join(" | ").toStdString();

    // Its clock jumps 200 days ahead: at its next start its retention (150 days) finds every row
    // 200 days old, and says why it deletes them.
    b.stop();
    b.clockOffsetMs = 200LL * 24 * 60 * 60 * 1000;
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();
    const QString journal = deviceFolder(shared.path(), b) + QStringLiteral("/journal-1.jsonl");
    auto ageDeletes = [&] {
        QFile f(journal);
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count("\"rule\":\"retention\"")) : 0;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return ageDeletes() >= int(texts.size()); }, waitMs))
        << "the retention deletes were published; the computer ahead has: " << storedTexts(b.supportFolder()).join(" | ").toStdString();
    // Long enough for the other computer to read them (it rescans every 5 s).
    QTest::qWait(12000);
    const QStringList kept = storedTexts(a.supportFolder());
    for (const QString& text : texts)
        EXPECT_TRUE(kept.contains(text)) << "the first computer has: " << kept.join(" | ").toStdString();
}

TEST_F(SyncX11Test, WhatAComputerCopiedWhileItsClockRanFarAheadReachesTheOtherOnceItsClockIsRight)
{
    b.clockOffsetMs = 200LL * 24 * 60 * 60 * 1000;
    ASSERT_TRUE(a.start(m_app, shared.path())) << a.output.toStdString();
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();
    const QStringList ahead {"copied ahead one", "copied ahead two", "copied ahead three"};
    for (const QString& text : ahead) {
        ASSERT_TRUE(b.copy(text.toUtf8()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(b.supportFolder()).contains(text); }, waitMs)) << text.toStdString();
    }

    // Its clock is put right and it starts again; both copy more.
    b.stop();
    b.clockOffsetMs = 0;
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();
    ASSERT_TRUE(b.copy("copied once right"));
    ASSERT_TRUE(a.copy("copied on the first computer"));
    const auto all = [&] {
        const QStringList kept = storedTexts(a.supportFolder());
        for (const QString& text : ahead + QStringList {"copied once right"})
            if (!kept.contains(text))
                return false;
        return true;
    };
    EXPECT_TRUE(QTest::qWaitFor(all, waitMs)) << "the first computer has: " << storedTexts(a.supportFolder()).join(" | ").toStdString();
}

// How many records another computer wrote a computer holds as stamped too far ahead of its clock.
int heldAhead(const Computer& c)
{
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(c.supportFolder() + QStringLiteral("/LumraSync.sqlite"));
    sqlite3_stmt* st = nullptr;
    int held = 0;
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM pending WHERE why = 'ahead'", -1, &st, nullptr) == SQLITE_OK
        && sqlite3_step(st) == SQLITE_ROW)
        held = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return held;
}

TEST_F(SyncX11Test, ACopyMadeOnAComputerTwoHundredDaysBehindIsOldToNeitherRetention)
{
    b.clockOffsetMs = -200LL * 24 * 60 * 60 * 1000;
    ASSERT_TRUE(a.start(m_app, shared.path())) << a.output.toStdString();
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();
    // When the second of a pair of copies is published, the pass that opened the sync (and the
    // retention run after it) is over on its writer.
    auto copyAndWait = [&](Computer& from, Computer& to, const QString& text) {
        return from.copy(text.toUtf8())
            && QTest::qWaitFor([&] { return storedTexts(to.supportFolder()).contains(text); }, waitMs);
    };
    // The computer behind holds what the other wrote as stamped far ahead of its clock.
    ASSERT_TRUE(a.copy("copied on the right clock"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return heldAhead(b) > 0; }, waitMs));
    const QStringList behind {"copied behind one", "copied behind two"};
    for (const QString& text : behind)
        ASSERT_TRUE(copyAndWait(b, a, text)) << text.toStdString() << ": " << storedTexts(a.supportFolder()).join(" | ").toStdString();

    // The first computer's retention (150 days) at its next start.
    a.stop();
    ASSERT_TRUE(a.start(m_app, shared.path())) << a.output.toStdString();
    // The other one still holds what this one writes: its own journal says when each pass is over.
    const auto published = [&](const QString& text) {
        QFile f(deviceFolder(shared.path(), a) + QStringLiteral("/journal-1.jsonl"));
        return f.open(QIODevice::ReadOnly) && f.readAll().contains(text.toUtf8());
    };
    for (const QString& text : {QStringLiteral("first after a restart"), QStringLiteral("second after a restart")})
        ASSERT_TRUE(a.copy(text.toUtf8()) && QTest::qWaitFor([&] { return published(text); }, waitMs)) << text.toStdString();
    // The other clock is put right; its retention runs at its start.
    b.stop();
    b.clockOffsetMs = 0;
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();
    ASSERT_TRUE(copyAndWait(b, a, QStringLiteral("first once right")));
    ASSERT_TRUE(copyAndWait(b, a, QStringLiteral("second once right")));
    ASSERT_TRUE(copyAndWait(a, b, QStringLiteral("read back")));
    for (Computer* c : {&a, &b})
        for (const QString& text : behind)
            EXPECT_TRUE(storedTexts(c->supportFolder()).contains(text)) << storedTexts(c->supportFolder()).join(" | ").toStdString();
}

// Changes the first computer's store as its user would while it is stopped: Lumra finds them at its next start.
bool changeStore(const Computer& c, const QByteArray& sql)
{
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(c.supportFolder() + QStringLiteral("/Lumra.sqlite"));
    bool ok = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK
        && sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK && sqlite3_changes(db) > 0;
    sqlite3_close(db);
    return ok;
}

TEST_F(SyncX11Test, WhatIsDeletedOnAComputerWhoseClockIsTwoHundredDaysBehindStaysDeletedOnBoth)
{
    ASSERT_TRUE(a.start(m_app, shared.path())) << a.output.toStdString();
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();
    const QStringList texts {"shared zero", "shared one", "shared two"};
    for (const QString& text : texts) {
        ASSERT_TRUE(a.copy(text.toUtf8()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(b.supportFolder()).contains(text); }, waitMs)) << text.toStdString();
    }

    // A dead clock battery: the second computer runs 200 days behind, and its user deletes two rows
    // and comments the third.
    b.stop();
    ASSERT_TRUE(changeStore(b, "DELETE FROM CDClipboardItem WHERE textContent IN ('shared zero', 'shared one')"));
    ASSERT_TRUE(changeStore(b, "UPDATE CDClipboardItem SET comment = 'commented behind' WHERE textContent = 'shared two'"));
    b.clockOffsetMs = -200LL * 24 * 60 * 60 * 1000;
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(a.supportFolder()).size() == 1; }, waitMs))
        << "the deletes reached the first computer: " << storedTexts(a.supportFolder()).join(" | ").toStdString();

    // Its clock is put right: nothing comes back, and the comment holds on both.
    b.stop();
    b.clockOffsetMs = 0;
    ASSERT_TRUE(b.start(m_app, shared.path())) << b.output.toStdString();
    ASSERT_TRUE(a.copy("copied once right"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedTexts(b.supportFolder()).contains("copied once right"); }, waitMs));
    QTest::qWait(12000); // long enough for each to read the other again (they rescan every 5 s)
    for (Computer* c : {&a, &b}) {
        EXPECT_EQ(storedTexts(c->supportFolder()), QStringList({"copied once right", "shared two"}))
            << storedTexts(c->supportFolder()).join(" | ").toStdString();
        EXPECT_TRUE(storedColumnContains(c->supportFolder(), "comment", "commented behind"));
    }
}

} // namespace
