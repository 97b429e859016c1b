// Memory as a user's system monitor shows it: the real lumra program started over a generated
// history in a temporary home, on a private X server, one copy made by another process, then the
// kernel's own figures for the process.
#include "BenchSize.h"
#include "TextHistory.h"

#include "engine/ClipboardManager.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "platform/defaults/UserDefaults.h"

#include <benchmark/benchmark.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <map>
#include <ranges>
#include <memory>

using namespace lumra;

namespace {

// A private X server on the first free display from :150 on, for the life of the object.
class PrivateXServer {
public:
    PrivateXServer()
    {
        for (int n = 150; n < 200 && m_display.isEmpty(); ++n) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) || QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            m_server.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
                                                    "+extension", "XFIXES"});
            if (!m_server.waitForStarted())
                return;
            QDeadlineTimer deadline(5000);
            while (!deadline.hasExpired() && m_server.state() == QProcess::Running) {
                if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))) {
                    m_display = QStringLiteral(":%1").arg(n);
                    break;
                }
                QThread::msleep(50);
            }
            if (m_display.isEmpty())
                m_server.kill(), m_server.waitForFinished();
        }
    }
    ~PrivateXServer()
    {
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill();
    }
    QString display() const { return m_display; }

private:
    QProcess m_server;
    QString m_display;
};

// The kernel's figures for one process, in bytes.
struct ProcessMemory {
    double rss = 0;     // VmRSS
    double rssAnon = 0; // heap and other private memory
    double rssFile = 0; // mapped files: libraries, the store if it is mapped
    double pss = 0;     // smaps_rollup, shared pages divided among their users
};

double kilobytesField(const QByteArray& text, const QByteArray& name)
{
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').first().toDouble() * 1024;
    return 0;
}

ProcessMemory readMemory(qint64 pid)
{
    auto read = [pid](const char* file) {
        QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray status = read("status");
    const QByteArray rollup = read("smaps_rollup");
    return {kilobytesField(status, "VmRSS"), kilobytesField(status, "RssAnon"), kilobytesField(status, "RssFile"),
            kilobytesField(rollup, "Pss")};
}

// The newest text the store holds, read as any SQLite client would.
QString newestStoredText(const QString& storePath)
{
    QString text;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(storePath).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT textContent FROM CDClipboardItem ORDER BY pk DESC LIMIT 1", -1, &st, nullptr) == SQLITE_OK
            && sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
            text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return text;
}

// A home of its own with `count` generated texts in the store, settings that keep them all and no
// first-run window.
class GeneratedHome {
public:
    // One in `richEvery` items (none at 0) also carries its text as rich text, as copies out of
    // browsers and word processors do.
    GeneratedHome(int count, int (*length)(QRandomGenerator&), int richEvery = 0)
    {
        for (const char* folder : {"data/Lumra", "config/Lumra", "cache", "runtime"})
            QDir(m_dir.path()).mkpath(QString::fromLatin1(folder));
        QFile::setPermissions(m_dir.path() + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        {
            UserDefaults defaults(m_dir.path() + QStringLiteral("/config/Lumra/settings.json"));
            defaults.set(QStringLiteral("iCloudSyncEnabled"), false);
            defaults.set(QStringLiteral("hasCompletedOnboarding"), true);
            defaults.set(QStringLiteral("maxItems"), std::max(count * 2, 1000));
            defaults.set(QStringLiteral("retentionDays"), 0);
        }
        PersistenceController persistence(false, nullptr, supportFolder());
        if (count == 0)
            return;
        QList<ClipboardItem> items = bench::textHistory(count, length, &m_utf8);
        for (qsizetype i = 0; richEvery > 0 && i < items.size(); i += richEvery) {
            items[i].rtfData = richTextOf(*items[i].textContent);
            m_rtf += items[i].rtfData->size();
        }
        // Oldest first, in the order they were captured: the order decides how full the index pages are.
        for (const ClipboardItem& item : std::views::reverse(items))
            populateManagedItem(*persistence.viewContext().insert(store::EntityKind::item), item);
        if (Status s = persistence.save(); !s)
            qFatal("could not fill the store: %s", qPrintable(s.error()));
    }

    QString supportFolder() const { return m_dir.path() + QStringLiteral("/data/Lumra"); }
    QString storePath() const { return supportFolder() + QStringLiteral("/Lumra.sqlite"); }
    qint64 utf8Bytes() const { return m_utf8; }
    qint64 rtfBytes() const { return m_rtf; }

    QProcessEnvironment environment(const QString& display) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.path() + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path() + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        return env;
    }

private:
    // RTF as a word processor writes it: tables of fonts and colours, a paragraph style, a bold word.
    static QByteArray richTextOf(const QString& text)
    {
        QByteArray body;
        for (const QChar c : text) {
            if (c == u'\\' || c == u'{' || c == u'}')
                body += '\\' + QByteArray(1, char(c.unicode()));
            else if (c == u'\n')
                body += "\\par\n";
            else if (c.unicode() < 0x80)
                body += char(c.unicode());
            else
                body += "\\u" + QByteArray::number(qint16(c.unicode())) + '?';
        }
        const qsizetype space = body.indexOf(' ');
        if (space > 0)
            body = "{\\b " + body.left(space) + "}" + body.mid(space);
        return "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Helvetica;}"
               "{\\f1\\fnil\\fcharset0 Menlo-Regular;}{\\f2\\froman\\fcharset0 Times-Roman;}}\n"
               "{\\colortbl;\\red255\\green255\\blue255;\\red0\\green0\\blue0;\\red38\\green38\\blue38;}\n"
               "\\paperw11900\\paperh16840\\margl1440\\margr1440\\vieww11520\\viewh8400\\viewkind0\n"
               "\\pard\\tx566\\tx1133\\tx1700\\tx2267\\tx2834\\tx3401\\pardirnatural\\partightenfactor0\n\n"
               "\\f0\\fs24 \\cf2 "
            + body + "}";
    }

    QTemporaryDir m_dir;
    qint64 m_utf8 = 0;
    qint64 m_rtf = 0;
};

struct Run {
    ProcessMemory memory;
    double captureMs = 0; // from the copy to the row in the store
    QString error;
};

// Starts lumra over `home`, copies one text with xclip once it is up, waits for the row and for the
// resident size to settle (the history loads on a worker), and reads the process's figures.
Run measureProcess(const GeneratedHome& home, const QString& display)
{
    Run run;
    QProcess lumra;
    lumra.setProcessEnvironment(home.environment(display));
    lumra.setProcessChannelMode(QProcess::MergedChannels);
    lumra.start(QStringLiteral(LUMRA_APP_PATH), {});
    if (!lumra.waitForStarted()) {
        run.error = QStringLiteral("lumra did not start");
        return run;
    }
    QElapsedTimer sinceStart;
    sinceStart.start();
    QByteArray output;
    QDeadlineTimer started(30'000);
    while (!output.contains("Lumra started") && !started.hasExpired() && lumra.state() == QProcess::Running) {
        lumra.waitForReadyRead(100);
        output += lumra.readAll();
    }
    if (!output.contains("Lumra started")) {
        run.error = QStringLiteral("lumra did not come up: ") + QString::fromUtf8(output.right(2000));
        return run;
    }

    const QString copied = QStringLiteral("one copy while memory is measured");
    QProcess xclip;
    xclip.setProcessEnvironment(home.environment(display));
    xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-i"});
    xclip.waitForStarted();
    xclip.write(copied.toUtf8());
    xclip.closeWriteChannel();
    xclip.waitForFinished();
    QElapsedTimer sinceCopy;
    sinceCopy.start();
    QDeadlineTimer captured(30'000);
    while (newestStoredText(home.storePath()) != copied && !captured.hasExpired())
        QThread::msleep(5);
    run.captureMs = double(sinceCopy.nsecsElapsed()) / 1e6;
    if (captured.hasExpired()) {
        run.error = QStringLiteral("the copy was not captured");
        return run;
    }

    // Settled: at least two seconds after the start and no change of more than 256 KB for a second.
    double last = readMemory(lumra.processId()).rss;
    QElapsedTimer steady;
    steady.start();
    QDeadlineTimer settle(60'000);
    while (!settle.hasExpired() && (sinceStart.elapsed() < 2000 || steady.elapsed() < 1000)) {
        QThread::msleep(100);
        const double now = readMemory(lumra.processId()).rss;
        if (std::abs(now - last) > 256 * 1024)
            steady.restart();
        last = now;
    }
    run.memory = readMemory(lumra.processId());
    lumra.terminate();
    if (!lumra.waitForFinished(10'000))
        lumra.kill(), lumra.waitForFinished();
    return run;
}

void measure(benchmark::State& state, int count, int (*length)(QRandomGenerator&), int richEvery = 0)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        state.SkipWithError("needs Xvfb and xclip");
        return;
    }
    PrivateXServer server;
    if (server.display().isEmpty()) {
        state.SkipWithError("could not start Xvfb");
        return;
    }
    const GeneratedHome empty(0, length);
    const GeneratedHome full(count, length, richEvery);
    for (auto _ : state) {
        const Run before = measureProcess(empty, server.display());
        const Run after = measureProcess(full, server.display());
        if (!before.error.isEmpty() || !after.error.isEmpty()) {
            state.SkipWithError(qPrintable(before.error + after.error));
            return;
        }
        const double growth = after.memory.rss - before.memory.rss;
        state.counters["empty_rss_MB"] = before.memory.rss / 1e6;
        state.counters["rss_MB"] = after.memory.rss / 1e6;
        state.counters["pss_MB"] = after.memory.pss / 1e6;
        state.counters["rss_anon_MB"] = after.memory.rssAnon / 1e6;
        state.counters["rss_file_MB"] = after.memory.rssFile / 1e6;
        state.counters["growth_MB"] = growth / 1e6;
        state.counters["growth_pss_MB"] = (after.memory.pss - before.memory.pss) / 1e6;
        state.counters["growth_anon_MB"] = (after.memory.rssAnon - before.memory.rssAnon) / 1e6;
        state.counters["growth_file_MB"] = (after.memory.rssFile - before.memory.rssFile) / 1e6;
        state.counters["growth_per_item_B"] = growth / count;
        state.counters["growth_per_utf8"] = growth / double(full.utf8Bytes());
        state.counters["text_utf8_MB"] = double(full.utf8Bytes()) / 1e6;
        state.counters["rtf_MB"] = double(full.rtfBytes()) / 1e6;
        state.counters["store_MB"] = double(QFileInfo(full.storePath()).size()) / 1e6;
        state.counters["capture_ms"] = after.captureMs;
    }
}

// 100,000 texts of about 100 characters: growth at most 60 MB.
void BM_ProcessMemoryShortTexts(benchmark::State& state)
{
    measure(state, bench::historySize(100'000), bench::shortTextLength);
}
BENCHMARK(BM_ProcessMemoryShortTexts)->Iterations(1)->Unit(benchmark::kSecond);

// 13,600 texts of 3.4 KB on average: growth at most 2.5 times their UTF-8.
void BM_ProcessMemoryLongTexts(benchmark::State& state)
{
    measure(state, bench::historySize(13'600), bench::longTextLength);
}
BENCHMARK(BM_ProcessMemoryLongTexts)->Iterations(1)->Unit(benchmark::kSecond);

// The short texts again, one in five with rich text beside it: the list holds none of the RTF.
void BM_ProcessMemoryShortTextsOneInFiveRich(benchmark::State& state)
{
    measure(state, bench::historySize(100'000), bench::shortTextLength, 5);
}
BENCHMARK(BM_ProcessMemoryShortTextsOneInFiveRich)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
