#include "engine/ClipboardManager.h"

namespace lumra {

ClipboardManager::ClipboardManager(UserDefaults& defaults, CloudKeyValueStore* cloudStore, Clock& clock, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_cloudStore(cloudStore ? *cloudStore : CloudKeyValueStore::defaultStore())
    , m_clock(clock)
{
    readSettingsAtLaunch();
    startCloudSettingsMirror();
}

ClipboardManager::~ClipboardManager() = default;

} // namespace lumra
