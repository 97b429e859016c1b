#include "FuzzSupport.h"

#include "platform/core/BackgroundWork.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace lumra::fuzz {

namespace {

QTemporaryDir* scratch = nullptr;

void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    // Warnings about bad input are expected by the thousand; only fatal ones matter.
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}

} // namespace

const QString& scratchFolder()
{
    static const QString path = scratch->path();
    return path;
}

QString writeScratchFile(const QString& name, const QByteArray& contents)
{
    const QString path = scratchFolder() + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
        fail("could not write a scratch file");
    return path;
}

QByteArray unfold(const uint8_t* data, size_t size, qsizetype maxBytes, char counter)
{
    if (size < 5)
        return bytes(data, size);
    const int times = data[0] <= 0xF0 ? 1 : 1 << (data[0] - 0xF0);
    const QByteArray body = bytes(data + 5, size - 5);
    const qsizetype start = std::min<qsizetype>((data[1] << 8) | data[2], body.size());
    const qsizetype length = std::min<qsizetype>((data[3] << 8) | data[4], body.size() - start);
    const QByteArray unit = body.mid(start, length);
    QByteArray out = body.left(start);
    const bool numbered = counter && unit.contains(counter);
    for (int i = 0; i < times && out.size() + unit.size() <= maxBytes; ++i)
        out += numbered ? QByteArray(unit).replace(counter, QByteArray::number(i)) : unit;
    out += body.mid(start + length);
    return out.left(maxBytes);
}

QList<QByteArray> parts(const QByteArray& body, const QByteArray& separator, qsizetype count)
{
    QList<QByteArray> out;
    qsizetype from = 0;
    for (qsizetype at = body.indexOf(separator); at >= 0; at = body.indexOf(separator, from)) {
        out.append(body.mid(from, at - from));
        from = at + separator.size();
    }
    out.append(body.mid(from));
    while (out.size() < count)
        out.append(QByteArray());
    return out;
}

void fail(const char* what)
{
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

} // namespace lumra::fuzz

// Qt needs an application object for fonts (rich text) and image plug-ins; one for the process.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "UTC");
    lumra::fuzz::scratch = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/lumra-fuzz-XXXXXX"));
    const QByteArray home = lumra::fuzz::scratch->path().toUtf8();
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/config");
    qputenv("XDG_DATA_HOME", home + "/data");
    qputenv("XDG_CACHE_HOME", home + "/cache");
    qputenv("XDG_RUNTIME_DIR", home + "/runtime");
    qInstallMessageHandler(lumra::fuzz::quietMessages);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    static int qtArgc = 1;
    static char name[] = "lumra-fuzz";
    static char* qtArgv[] = {name, nullptr};
    new QGuiApplication(qtArgc, qtArgv);
    lumra::BackgroundWork::setCurrent(new lumra::BackgroundWork);
    return 0;
}
