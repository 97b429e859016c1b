// The settings file as it is read at start: any bytes in settings.json must give a value for every
// setting that its own check accepts, and never a crash.
#include "FuzzSupport.h"

#include "engine/SettingsCatalogue.h"
#include "platform/defaults/UserDefaults.h"

#include <QDir>
#include <QFile>

using namespace lumra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = fuzz::writeScratchFile(QStringLiteral("settings.json"), fuzz::bytes(data, size));
    {
        UserDefaults defaults(path);
        for (const SettingInfo& info : settingsCatalogue()) {
            if (info.type == SettingType::IgnoredApps) {
                if (const auto stored = defaults.data(info.key)) {
                    if (const auto apps = decodeIgnoredApplications(*stored))
                        FUZZ_CHECK(decodeIgnoredApplications(encodeIgnoredApplications(*apps)) == apps);
                }
                continue;
            }
            const auto value = settingValueFromVariant(info, defaults.object(info.key));
            if (value && isValidSettingValue(info, *value)) {
                // A value read and accepted is stored back as a value that reads the same.
                const auto again = settingValueFromVariant(info, settingValueToVariant(*value));
                FUZZ_CHECK(again && *again == *value);
            }
        }
        (void)defaults.dictionaryRepresentation();
    }
    // An unreadable file is moved aside, never left for the next input to trip over.
    QFile::remove(path);
    for (const QString& name : QDir(fuzz::scratchFolder()).entryList({QStringLiteral("settings.json*")}, QDir::Files))
        QFile::remove(fuzz::scratchFolder() + QLatin1Char('/') + name);
    return 0;
}
