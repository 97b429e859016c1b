#pragma once

#include "engine/ClipboardManager.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/keys/RecordingKeyInjector.h"
#include "platform/pasteboard/FakePasteboard.h"
#include "platform/sound/SoundPlayer.h"

#include "TempDataDir.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace lumra::test {

// A whole engine over the store folder of `dir`; `services` brings the desktop doubles or backends.
inline std::unique_ptr<ClipboardManager> makeEngine(const TempDataDir& dir, ManualClock& clock, CloudKeyValueStore& kv,
                                                    std::unique_ptr<UserDefaults>& defaults, ClipboardManagerServices services)
{
    defaults = std::make_unique<UserDefaults>(dir.configHome() + "/settings.json", &clock);
    ClipboardManager::registerDefaultSettings(*defaults);
    defaults->set("iCloudSyncEnabled", false);
    services.defaults = defaults.get();
    services.cloudKeyValueStore = &kv;
    services.clock = &clock;
    services.storeFolder = dir.supportFolder();
    return std::make_unique<ClipboardManager>(services);
}

// Stores `item` under a fresh id (a day old unless dated), with `extra` filling what values do not carry.
inline ClipboardItem insertItem(ClipboardManager& manager, ClipboardItem item, const std::function<void(store::ManagedObject&)>& extra = {})
{
    item.id = QUuid::createUuid();
    if (!item.dateAdded.isValid())
        item.dateAdded = manager.clock().now().addDays(-1);
    auto row = manager.persistence()->viewContext().insert(store::EntityKind::item);
    populateManagedItem(*row, item);
    if (extra)
        extra(*row);
    EXPECT_TRUE(manager.persistence()->save().ok());
    manager.loadItems();
    return item;
}

// A whole engine over a temporary store, with the clipboard, keys and sound replaced by doubles.
class PasteTest : public DataDirTest {
protected:
    void SetUp() override { manager = makeManager(); }
    void TearDown() override
    {
        // Lets one-shot delays still pending after the test run out (with the manager gone, they do nothing).
        manager.reset();
        clock.advance(std::chrono::hours(1));
    }

    std::unique_ptr<ClipboardManager> makeManager()
    {
        ClipboardManagerServices services;
        services.pasteboard = &pasteboard;
        services.keyInjector = &keys;
        services.soundPlayer = &sounds;
        return makeEngine(dataDir, clock, kv, defaults, services);
    }

    ClipboardItem addItem(const ClipboardItem& item, const std::function<void(store::ManagedObject&)>& extra = {})
    {
        return insertItem(*manager, item, extra);
    }

    ClipboardItem addText(const QString& text, std::optional<QByteArray> rtf = std::nullopt)
    {
        ClipboardItem item;
        item.textContent = text;
        item.rtfData = std::move(rtf);
        return addItem(item);
    }

    ClipboardItem addImage(const QByteArray& png, std::optional<QString> fileName = QStringLiteral("0123456789abcdef0123456789abcdef.png"))
    {
        ClipboardItem item;
        item.contentType = ClipboardContentType::image;
        item.imageFileName = fileName;
        return addItem(item, [&](store::ManagedObject& row) { row.set(store::ItemAttr::imageData, png); });
    }

    static QString jsonArray(const QStringList& strings)
    {
        return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(strings)).toJson(QJsonDocument::Compact));
    }

    // `bookmarks` as stored (Base64 of the file URL); `urls` the stored URL strings.
    ClipboardItem addFiles(const QStringList& bookmarks, const QStringList& urls)
    {
        ClipboardItem item;
        item.contentType = ClipboardContentType::file;
        item.fileURLStrings = urls;
        return addItem(item, [&](store::ManagedObject& row) { row.set(store::ItemAttr::fileBookmarksJSON, jsonArray(bookmarks)); });
    }

    static QString fileUrl(const QString& path) { return QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded()); }
    static QString bookmark(const QString& path) { return ClipboardManager::fileBookmarkString(QUrl::fromLocalFile(path)); }

    // The last write as type -> bytes.
    QMap<QString, QByteArray> lastWrite() const
    {
        QMap<QString, QByteArray> byType;
        if (!pasteboard.writes().isEmpty()) {
            for (const auto& representation : pasteboard.writes().last())
                byType.insert(representation.mimeType, representation.data);
        }
        return byType;
    }

    std::optional<ClipboardItem> current(const QUuid& id) const
    {
        for (const ClipboardItem& item : manager->clipboardItems()) {
            if (item.id == id)
                return item;
        }
        return std::nullopt;
    }

    ManualClock clock;
    InMemoryCloudKeyValueStore kv;
    FakePasteboard pasteboard;
    RecordingKeyInjector keys;
    RecordingSoundPlayer sounds;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<ClipboardManager> manager;
};

} // namespace lumra::test
