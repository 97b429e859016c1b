// "*.thumbnailer" files any package (or anyone who can write to a data folder) installs: their
// keys, and the Exec value split into a program and its arguments without a shell.
#include "FuzzSupport.h"

#include "platform/thumbnails/Thumbnailers.h"

using namespace lumra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text = fuzz::unfold(data, size);
    const QString input = QStringLiteral("/tmp/a b/poster.png");
    const QString output = QStringLiteral("/tmp/out.png");
    if (const auto thumbnailer = thumbnails::parseThumbnailer(text, QStringLiteral("/usr/share/thumbnailers/x.thumbnailer"))) {
        FUZZ_CHECK(!thumbnailer->exec.isEmpty());
        FUZZ_CHECK(!thumbnailer->mimeTypes.isEmpty());
        const QStringList args = thumbnails::expandExec(thumbnailer->exec, input, QStringLiteral("file:///tmp/a%20b/poster.png"), output, 256);
        // Field codes fill arguments in place: a path with a space never splits into two.
        FUZZ_CHECK(args.size() == thumbnailer->exec.size());
    }
    (void)thumbnails::splitExec(QString::fromUtf8(text));
    return 0;
}
