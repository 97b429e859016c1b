// What the workers behind the rows' icons spend per ask: looking at a copied file (stat and its
// type), and checking the icon theme's files for a name before the theme is asked for it, over the
// desktop's installed themes.
#include "platform/files/FileLookups.h"
#include "platform/files/IconFiles.h"
#include "platform/symbols/Symbols.h"

#include <benchmark/benchmark.h>

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

} // namespace
