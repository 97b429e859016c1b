// Icon names other programs give (a desktop entry's Icon=) and the icon theme's index.theme they
// are looked up through: what the file check reads and how many files it looks at.
#include "FuzzSupport.h"

#include "platform/files/IconFiles.h"

#include <QDir>
#include <QSet>

using namespace lumra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = fuzz::parts(fuzz::unfold(data, size), QByteArrayLiteral("\n--8<--\n"), 2);
    static const IconThemeSearch search = [] {
        const QString icons = fuzz::scratchFolder() + QStringLiteral("/icons");
        for (const char* folder : { "/theme/16x16/apps", "/theme/scalable/apps", "/hicolor/48x48/apps", "/../pixmaps" })
            QDir().mkpath(icons + QLatin1String(folder));
        return IconThemeSearch { QStringLiteral("theme"), QStringLiteral("hicolor"), { icons },
                                 { fuzz::scratchFolder() + QStringLiteral("/pixmaps") } };
    }();
    // The file check reads no more of an index.theme than this.
    if (const auto index = parseThemeIndex(parts[1].left(ThemeIndex::maxBytes))) {
        FUZZ_CHECK(index->folders.size() <= ThemeIndex::maxFolders);
        FUZZ_CHECK(QSet<QString>(index->folders.begin(), index->folders.end()).size() == index->folders.size());
    }
    fuzz::writeScratchFile(QStringLiteral("icons/theme/index.theme"), parts[1]);
    (void)withoutBlockingFolders(search);
    const QString name = QString::fromUtf8(parts[0]);
    const bool regular = themeIconFilesAreRegular(name, search);
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        FUZZ_CHECK(!regular);
    return 0;
}
