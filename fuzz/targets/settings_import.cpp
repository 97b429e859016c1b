// A settings file the user picked to import.
#include "FuzzSupport.h"

#include "engine/SettingsFile.h"

using namespace lumra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const settingsfile::Parsed parsed = settingsfile::parse(fuzz::bytes(data, size));
    if (!parsed.error.isEmpty()) {
        FUZZ_CHECK(parsed.accepted.isEmpty());
        return 0;
    }
    for (auto it = parsed.accepted.begin(); it != parsed.accepted.end(); ++it)
        FUZZ_CHECK(settingsfile::keys().contains(it.key()));
    // What was accepted, written out as a settings file, is accepted again unchanged.
    if (!parsed.accepted.isEmpty()) {
        const QVariantMap accepted = parsed.accepted;
        const settingsfile::Parsed again = settingsfile::parse(settingsfile::encode([&](const QString& key) {
            return accepted.value(key);
        }));
        FUZZ_CHECK(again.error.isEmpty());
        FUZZ_CHECK(again.refused == 0);
        FUZZ_CHECK(again.accepted == accepted);
    }
    return 0;
}
