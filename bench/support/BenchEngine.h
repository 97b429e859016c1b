#pragma once

#include "engine/ClipboardManager.h"
#include "model/store/PersistenceController.h"
#include "platform/cloud/CloudKeyValueStore.h"

#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace lumra::bench {

// What a whole engine needs in a benchmark: a temporary folder for the store and the settings,
// time on a manual clock, the cloud key-value store in memory.
struct BenchEngine {
    QString storeFolder() const { return dir.path() + QStringLiteral("/store"); }

    // The settings file with the engine's defaults registered and cloud sync as given.
    UserDefaults& openDefaults(bool sync)
    {
        defaults.reset();
        defaults = std::make_unique<UserDefaults>(dir.path() + QStringLiteral("/settings.json"), &clock);
        ClipboardManager::registerDefaultSettings(*defaults);
        defaults->set(QStringLiteral("iCloudSyncEnabled"), sync);
        return *defaults;
    }

    // Fills the store with a generated history of `size` items, before the engine starts.
    void fillHistory(int size);

    // A whole engine over the store folder; `configure` hands it the doubles it should use.
    template <class Manager = ClipboardManager>
    std::unique_ptr<Manager> start(const std::function<void(ClipboardManagerServices&)>& configure = {})
    {
        if (!defaults)
            openDefaults(false);
        ClipboardManagerServices services;
        services.defaults = defaults.get();
        services.cloudKeyValueStore = &kv;
        services.clock = &clock;
        services.storeFolder = storeFolder();
        if (configure)
            configure(services);
        return std::make_unique<Manager>(services);
    }

    QTemporaryDir dir;
    ManualClock clock;
    InMemoryCloudKeyValueStore kv;
    std::unique_ptr<UserDefaults> defaults;
};

} // namespace lumra::bench
