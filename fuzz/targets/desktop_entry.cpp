// Desktop entries are written by any package or any user in ~/.local/share/applications.
#include "FuzzSupport.h"

#include "platform/workspace/DesktopEntries.h"

using namespace lumra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray contents = fuzz::bytes(data, size);
    for (const QString& locale : {QString(), QStringLiteral("de_CH"), QStringLiteral("sr@latin")}) {
        const auto entry = parseDesktopEntry(contents, QStringLiteral("org.example.App"), locale);
        if (entry) {
            FUZZ_CHECK(entry->id == QStringLiteral("org.example.App"));
            FUZZ_CHECK(QStringView(entry->name).isValidUtf16());
        }
    }
    return 0;
}
