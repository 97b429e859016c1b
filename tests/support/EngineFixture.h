#pragma once

#include "engine/ClipboardManager.h"
#include "engine/PasteService.h"
#include "PendingCaptures.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/keys/RecordingKeyInjector.h"
#include "platform/ocr/FakeTextRecognizer.h"
#include "platform/pasteboard/FakePasteboard.h"
#include "platform/sound/SoundPlayer.h"
#include "platform/workspace/FakeWorkspace.h"

#include "TempDataDir.h"

#include <gtest/gtest.h>

#include <QTest>

#include <functional>
#include <memory>

namespace lumra::test {

// Fills in what a stored row carries beyond the item's values (image bytes, bookmarks…).
using RowFiller = std::function<void(store::ManagedObject&)>;

// The row's image bytes; nothing to fill when there are none.
inline RowFiller withImageData(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {};
    return [bytes](store::ManagedObject& row) { row.set(store::ItemAttr::imageData, bytes); };
}

// A text item under a fresh id.
inline ClipboardItem textItem(const QString& text, const QDateTime& dateAdded)
{
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.textContent = text;
    item.dateAdded = dateAdded;
    return item;
}

// Stores the items directly, as a capture or an import would (into `target`, or where the store
// puts new rows), and loads the history again.
inline void storeItems(ClipboardManager& manager, const QList<ClipboardItem>& items, const RowFiller& extra = {},
                       const store::PersistentStore* target = nullptr)
{
    auto& context = manager.persistence()->viewContext();
    for (const ClipboardItem& item : items) {
        auto row = context.insert(store::EntityKind::item, target);
        populateManagedItem(*row, item);
        if (extra)
            extra(*row);
    }
    EXPECT_TRUE(manager.persistence()->save().ok());
    manager.loadItems();
}

// Stores `item` under a fresh id (a day old unless dated).
inline ClipboardItem insertItem(ClipboardManager& manager, ClipboardItem item, const RowFiller& extra = {})
{
    item.id = QUuid::createUuid();
    if (!item.dateAdded.isValid())
        item.dateAdded = manager.clock().now().addDays(-1);
    storeItems(manager, {item}, extra);
    return item;
}

// Puts the item on the clipboard and marks it pasted, as a paste does once its key went; sends no key.
inline bool copyToPasteboard(ClipboardManager& manager, const ClipboardItem& item, bool moveToTop,
                             bool plainText = false, bool newline = false)
{
    if (!manager.paste().writeItem(item, plainText, newline))
        return false;
    manager.paste().notePasted({item.id}, moveToTop, manager.clock().now());
    return true;
}

// The same, returning once the clipboard holds the write, as a paste waits before its key: another
// program reading sooner may still get what was copied before.
inline bool copyToPasteboardHeld(ClipboardManager& manager, const ClipboardItem& item)
{
    const std::optional<qint64> written = manager.paste().writeItem(item, false, false);
    if (!written)
        return false;
    manager.paste().notePasted({item.id}, true, manager.clock().now());
    Pasteboard* pasteboard = manager.services().pasteboard;
    return QTest::qWaitFor([&] { return pasteboard->holds(*written); }, 20000);
}

// Everything a whole engine needs in a test: Lumra's folders in a temporary directory, time on a
// manual clock, settings in a file there, the cloud key-value store in memory, and the desktop
// doubles a test may hand to the engine.
class EngineHarness {
public:
    // Opens the settings file (writing out the one open before), with the engine's defaults
    // registered and cloud sync as given.
    UserDefaults& openDefaults(bool sync = false)
    {
        if (defaults) {
            EXPECT_TRUE(defaults->flush().ok());
            defaults.reset();
        }
        defaults = std::make_unique<UserDefaults>(dataDir.configHome() + QStringLiteral("/settings.json"), &clock);
        ClipboardManager::registerDefaultSettings(*defaults);
        defaults->set(QStringLiteral("iCloudSyncEnabled"), sync);
        return *defaults;
    }

    // The settings, key-value store, clock and store folder; no desktop doubles.
    ClipboardManagerServices engineServices()
    {
        if (!defaults)
            openDefaults();
        ClipboardManagerServices services;
        services.defaults = defaults.get();
        services.cloudKeyValueStore = &kv;
        services.clock = &clock;
        services.storeFolder = dataDir.supportFolder();
        return services;
    }

    // A whole engine; `configure` hands it the doubles (or real backends) the test wants.
    template <class Manager = ClipboardManager>
    std::unique_ptr<Manager> start(const std::function<void(ClipboardManagerServices&)>& configure = {})
    {
        ClipboardManagerServices services = engineServices();
        if (configure)
            configure(services);
        return std::make_unique<Manager>(services);
    }

    TempDataDir dataDir;
    ManualClock clock;
    InMemoryCloudKeyValueStore kv;
    std::unique_ptr<UserDefaults> defaults;
    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    RecordingKeyInjector injector;
    RecordingSoundPlayer sounds;
    FakeTextRecognizer recognizer;
};

class EngineTest : public ::testing::Test, public EngineHarness {};

} // namespace lumra::test
