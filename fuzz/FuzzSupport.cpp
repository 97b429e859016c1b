#include "FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QTemporaryDir>

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
    return 0;
}
