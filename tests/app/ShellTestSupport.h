#pragma once

#include "engine/ClipboardManager.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/keys/FakeGlobalHotKeys.h"
#include "platform/keys/RecordingKeyInjector.h"
#include "platform/pasteboard/FakePasteboard.h"
#include "platform/workspace/FakeWorkspace.h"

#include "ManualClockScope.h"
#include "TempDataDir.h"

#include <QCoreApplication>

#include <memory>

namespace lumra::test {

// The shell over the whole engine on doubles: an in-memory clipboard, workspace, key injector
// and hot keys, settings and history in a temporary folder, time on a manual clock.
class ShellTest : public DataDirTest {
protected:
    ShellTest()
    {
        defaults = std::make_unique<UserDefaults>(dataDir.configHome() + QStringLiteral("/settings.json"), &clock());
        ClipboardManager::registerDefaultSettings(*defaults);
        defaults->set(QStringLiteral("iCloudSyncEnabled"), false);
    }

    ManualClock& clock() { return m_clockScope.clock; }

    ClipboardManagerServices engineServices()
    {
        ClipboardManagerServices services;
        services.defaults = defaults.get();
        services.cloudKeyValueStore = &kv;
        services.clock = &clock();
        services.storeFolder = dataDir.supportFolder();
        services.pasteboard = &pasteboard;
        services.workspace = &workspace;
        services.keyInjector = &injector;
        return services;
    }

    std::unique_ptr<ClipboardManager> makeManager() { return std::make_unique<ClipboardManager>(engineServices()); }

    static ClipboardItem textItem(const QString& text, std::optional<ItemShortcut> shortcut = std::nullopt,
                                  bool trashed = false)
    {
        static int counter = 0;
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.textContent = text;
        item.dateAdded = QDateTime(QDate(2026, 2, 1), QTime(12, 0), Qt::UTC).addSecs(-(++counter));
        item.shortcut = shortcut;
        item.isTrashed = trashed;
        return item;
    }

    // The text of Lumra's last clipboard write; empty when it wrote nothing.
    QString lastWrittenText() const
    {
        if (pasteboard.writes().isEmpty())
            return {};
        for (const PasteboardRepresentation& r : pasteboard.writes().last()) {
            if (r.mimeType.startsWith(QLatin1String("text/plain")))
                return QString::fromUtf8(r.data);
        }
        return {};
    }

    static void processEvents()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    ManualClockScope m_clockScope;
    InMemoryCloudKeyValueStore kv;
    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    RecordingKeyInjector injector;
    FakeGlobalHotKeys keys;
    std::unique_ptr<UserDefaults> defaults;
};

inline constexpr quint64 ctrlAlt = ItemShortcut::commandFlag | ItemShortcut::optionFlag;

} // namespace lumra::test
