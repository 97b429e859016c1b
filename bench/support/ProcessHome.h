#pragma once

// The real lumra program measured from outside: a private X server, and a home of its own with a
// generated history.
#include "TextHistory.h"

#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "platform/defaults/UserDefaults.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <functional>
#include <optional>
#include <ranges>

namespace lumra::bench {

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

// The newest text the store holds, read as any SQLite client would.
inline QString newestStoredText(const QString& storePath)
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
        QList<ClipboardItem> items = textHistory(count, length, &m_utf8);
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

// xclip owns the clipboard with `bytes` as `type` (a text when none), in a process of its own.
inline void xclipCopy(const GeneratedHome& home, const QString& display, const QByteArray& bytes, const QString& type = {})
{
    QProcess xclip;
    xclip.setProcessEnvironment(home.environment(display));
    QStringList arguments {"-selection", "clipboard", "-i"};
    if (!type.isEmpty())
        arguments << QStringLiteral("-t") << type;
    xclip.start(QStringLiteral("xclip"), arguments);
    xclip.waitForStarted();
    xclip.write(bytes);
    xclip.closeWriteChannel();
    xclip.waitForFinished(); // once xclip owns the clipboard; its child serves it
}

inline void xclipCopy(const GeneratedHome& home, const QString& display, const QString& text)
{
    xclipCopy(home, display, text.toUtf8());
}

// The store's rows that `countQuery` counts, its one parameter bound to `parameter` if any.
inline int storedCount(const QString& storePath, const char* countQuery, const std::optional<QString>& parameter = {})
{
    int count = 0;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(storePath).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        sqlite3_stmt* st = nullptr;
        const QByteArray bound = parameter.value_or(QString()).toUtf8();
        if (sqlite3_prepare_v2(db, countQuery, -1, &st, nullptr) == SQLITE_OK) {
            if (parameter)
                sqlite3_bind_text(st, 1, bound.constData(), int(bound.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(st) == SQLITE_ROW)
                count = sqlite3_column_int(st, 0);
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return count;
}

inline int storedWithPrefix(const QString& storePath, const QString& prefix)
{
    return storedCount(storePath, "SELECT count(*) FROM CDClipboardItem WHERE textContent LIKE ?", prefix + QLatin1Char('%'));
}

inline int storedPictures(const QString& storePath)
{
    return storedCount(storePath, "SELECT count(*) FROM CDClipboardItem WHERE imageFileName IS NOT NULL");
}

// A process's resident memory in bytes, 0 once it is gone.
inline double residentBytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() * 1024;
    }
    return 0;
}

// Reads `process`'s output into `output` until it holds `text`, calling `meanwhile` as it waits;
// false when the time is up or the process ended first.
inline bool waitForOutput(QProcess& process, QByteArray& output, const QByteArray& text, int timeoutMs,
                          const std::function<void()>& meanwhile = {})
{
    QDeadlineTimer deadline(timeoutMs);
    while (!output.contains(text) && !deadline.hasExpired() && process.state() == QProcess::Running) {
        process.waitForReadyRead(2);
        output += process.readAll();
        if (meanwhile)
            meanwhile();
    }
    return output.contains(text);
}

// Starts `program` (lumra) over `home` on `server` and waits until it says it is up, and a second
// more for it to settle: nullptr then, else why it cannot be measured.
inline const char* startLumra(QProcess& lumra, const QString& program, const GeneratedHome& home,
                              const PrivateXServer& server, QByteArray& output)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return "needs Xvfb";
    if (server.display().isEmpty())
        return "could not start Xvfb";
    lumra.setProcessEnvironment(home.environment(server.display()));
    lumra.setProcessChannelMode(QProcess::MergedChannels);
    lumra.start(program, {});
    if (!lumra.waitForStarted() || !waitForOutput(lumra, output, "Lumra started", 30'000))
        return "lumra did not come up";
    QThread::msleep(1000);
    return nullptr;
}

} // namespace lumra::bench
