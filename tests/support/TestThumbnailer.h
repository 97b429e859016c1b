#pragma once

#include "TestImages.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

namespace lumra::test {

// A thumbnailer of our own, installed in a data folder of its own the way packages install theirs:
// a shell script declared in "thumbnailers/lumra-test.thumbnailer" for a rare MIME type. The
// folder's name has a space, so the Exec line needs its quotes. What the script does on its next
// run is set with setMode(); every run appends its arguments to runs().
class TestThumbnailer {
public:
    // A type no desktop here draws, recognised by its extension.
    static constexpr const char* mimeType = "application/x-n64-rom";
    static constexpr const char* suffix = "z64";

    enum class Mode { picture, hang, garbage, huge, fail, detach };

    TestThumbnailer()
    {
        QDir(m_root.path()).mkpath(QStringLiteral("test data/thumbnailers"));
        const QString script = folder() + QStringLiteral("/draw");
        writeFile(script,
            "#!/bin/sh\n"
            "dir=$(dirname \"$0\")\n"
            "printf '%s\\n' \"$*\" >> \"$dir/runs\"\n"
            "case $(cat \"$dir/mode\") in\n"
            "  hang) sleep 60 & echo $! > \"$dir/helper\"; wait; : > \"$dir/waited-out\" ;;\n"
            "  garbage) printf 'not a picture' > \"$4\" ;;\n"
            "  huge) cp \"$dir/huge.png\" \"$4\" ;;\n"
            "  fail) exit 3 ;;\n"
            "  detach) sleep 60 >/dev/null 2>&1 & echo $! > \"$dir/helper\"; cp \"$dir/picture.png\" \"$4\" ;;\n"
            "  *) cp \"$dir/picture.png\" \"$4\" ;;\n"
            "esac\n");
        QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        writeFile(folder() + QStringLiteral("/picture.png"), solidPng(QSize(300, 150), QColor(20, 160, 60)));
        writeFile(folder() + QStringLiteral("/huge.png"), solidPng(QSize(6000, 8), QColor(20, 160, 60)));
        writeFile(folder() + QStringLiteral("/thumbnailers/lumra-test.thumbnailer"),
            QStringLiteral(
                "[Thumbnailer Entry]\nTryExec=%1\nExec=\"%1\" -s %s %u %o\nMimeType=text/x-nothing-here;%2;\n")
                .arg(script, QString::fromLatin1(mimeType))
                .toUtf8());
        setMode(Mode::picture);
    }

    // The data folder to put before the system's in XDG_DATA_DIRS.
    QString dataFolder() const { return m_root.path() + QStringLiteral("/test data"); }
    QString folder() const { return dataFolder(); }
    QString script() const { return folder() + QStringLiteral("/draw"); }

    void setMode(Mode mode) const
    {
        static const char* names[] = { "picture", "hang", "garbage", "huge", "fail", "detach" };
        writeFile(folder() + QStringLiteral("/mode"), names[int(mode)]);
    }
    QStringList runs() const
    {
        QFile file(folder() + QStringLiteral("/runs"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // Whether a hanging run was let run to its end rather than ended.
    bool hangWaitedOut() const { return QFile::exists(folder() + QStringLiteral("/waited-out")); }
    // Whether the helper a hanging run started is still alive (a zombie counts as gone).
    bool helperAlive() const
    {
        QFile file(folder() + QStringLiteral("/helper"));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray pid = file.readAll().trimmed();
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
        if (pid.isEmpty() || !stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray fields = stat.readAll();
        const qsizetype close = fields.lastIndexOf(')');
        return close > 0 && fields.mid(close + 2, 1) != "Z";
    }

    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        file.write(bytes);
    }

private:
    QTemporaryDir m_root;
};

// Puts a data folder first in XDG_DATA_DIRS for the life of the object.
class DataDirsScope {
public:
    explicit DataDirsScope(const QString& folder)
        : m_saved(qgetenv("XDG_DATA_DIRS"))
        , m_wasSet(qEnvironmentVariableIsSet("XDG_DATA_DIRS"))
    {
        const QByteArray rest = m_wasSet && !m_saved.isEmpty() ? m_saved : QByteArray("/usr/local/share:/usr/share");
        qputenv("XDG_DATA_DIRS", QFile::encodeName(folder) + ':' + rest);
    }
    ~DataDirsScope()
    {
        if (m_wasSet)
            qputenv("XDG_DATA_DIRS", m_saved);
        else
            qunsetenv("XDG_DATA_DIRS");
    }

private:
    QByteArray m_saved;
    bool m_wasSet;
};

} // namespace lumra::test
