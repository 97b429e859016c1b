#pragma once

#include "engine/ClipboardManager.h"
#include "PendingCaptures.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/pasteboard/X11Pasteboard.h"
#include "platform/workspace/X11Workspace.h"

#include "TempDataDir.h"

#include <gtest/gtest.h>

#include <memory>

namespace lumra::test {

// The engine on the real X11 clipboard and workspace, with its data in a temporary folder.
class X11EngineTest : public DataDirTest {
protected:
    void startEngine()
    {
        pasteboard = X11Pasteboard::create();
        workspace = X11Workspace::create();
        ASSERT_TRUE(pasteboard && workspace) << "needs an X server with XFixes";
        defaults = std::make_unique<UserDefaults>(dataDir.configHome() + "/settings.json");
        ClipboardManager::registerDefaultSettings(*defaults);
        defaults->set("iCloudSyncEnabled", false);
        ClipboardManagerServices services;
        services.defaults = defaults.get();
        services.cloudKeyValueStore = &kv;
        services.storeFolder = dataDir.supportFolder();
        services.pasteboard = pasteboard.get();
        services.workspace = workspace.get();
        manager = std::make_unique<ClipboardManager>(services);
    }

    InMemoryCloudKeyValueStore kv;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<X11Pasteboard> pasteboard;
    std::unique_ptr<X11Workspace> workspace;
    std::unique_ptr<ClipboardManager> manager;
};

} // namespace lumra::test
