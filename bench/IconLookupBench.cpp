// What the workers behind the rows' icons spend per ask: looking at a copied file (stat and its
// type), and checking the icon theme's files for a name before the theme is asked for it, over the
// desktop's installed themes.
#include "platform/files/FileLookups.h"
#include "platform/files/IconFiles.h"
#include "platform/symbols/Symbols.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace lumra;

namespace {

void BM_LookAtCopiedFile(benchmark::State& state)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("minutes.odt"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(4096, 'x'));
    file.close();
    for (auto _ : state)
        benchmark::DoNotOptimize(lookAtFile(path));
}
BENCHMARK(BM_LookAtCopiedFile)->Unit(benchmark::kMicrosecond);

void BM_CheckThemeIconFiles(benchmark::State& state)
{
    Symbols::icon(QStringLiteral("doc")); // the theme set up as Lumra has it
    const IconThemeSearch search = IconThemeSearch::current();
    const QString names[] = {QStringLiteral("folder"), QStringLiteral("text-x-python"),
                             QStringLiteral("org.example.not-installed")};
    const QString& name = names[state.range(0)];
    state.SetLabel(name.toStdString() + " in " + search.themeName.toStdString());
    for (auto _ : state)
        benchmark::DoNotOptimize(themeIconFilesAreRegular(name, search));
}
BENCHMARK(BM_CheckThemeIconFiles)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// The check at start: every theme of the chain listed once, over the desktop's installed themes.
void BM_CheckThemeAtStart(benchmark::State& state)
{
    Symbols::icon(QStringLiteral("doc"));
    const IconThemeSearch search = IconThemeSearch::current();
    for (auto _ : state)
        benchmark::DoNotOptimize(withoutBlockingFolders(search));
}
BENCHMARK(BM_CheckThemeAtStart)->Unit(benchmark::kMillisecond);

// A name asked of a theme whose index.theme is 1 MB of duplicate folders: read once, not per name.
void BM_CheckNameInABigThemeIndex(benchmark::State& state)
{
    QTemporaryDir root;
    QDir().mkpath(root.filePath(QStringLiteral("Big/apps")));
    QByteArray index = "[Icon Theme]\nName=Big\nDirectories=";
    while (index.size() < 1000 * 1000)
        index += "apps,";
    QFile file(root.filePath(QStringLiteral("Big/index.theme")));
    file.open(QIODevice::WriteOnly);
    file.write(index + "\n");
    file.close();
    const IconThemeSearch search {QStringLiteral("Big"), {}, {root.path()}, {}};
    for (auto _ : state)
        benchmark::DoNotOptimize(themeIconFilesAreRegular(QStringLiteral("text-x-python"), search));
}
BENCHMARK(BM_CheckNameInABigThemeIndex)->Unit(benchmark::kMillisecond);

} // namespace
