#pragma once

#include "engine/ClipboardManager.h"
#include "model/NotificationCenter.h"
#include "platform/cloud/CloudKeyValueStore.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace lumra::test {

// Records the side effects that the history and capture code will provide.
class RecordingClipboardManager : public ClipboardManager {
public:
    using ClipboardManager::ClipboardManager;
    QStringList effects;
    // What the retention pass saw, to check ordering against other settings.
    qint64 recycleBinDaysAtPurge = -1;
    QVariant cloudRetentionAtRetention;

protected:
    void applyRetention() override
    {
        effects << "applyRetention";
        cloudRetentionAtRetention = cloudStore().object("retentionDays");
    }
    void purgeExpiredTrash() override
    {
        effects << "purgeExpiredTrash";
        recycleBinDaysAtPurge = recycleBinDays();
    }
    void startAutoCleanTimer() override { effects << "startAutoCleanTimer"; }
    void clearThumbnailCache() override { effects << "clearThumbnailCache"; }
    void updateFilteredItems() override { effects << "updateFilteredItems"; }
};

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest()
    {
        NotificationCenter& center = NotificationCenter::defaultCenter();
        for (const QString& name : { Notifications::keepWindowOpenChanged, Notifications::showTrafficLightsChanged,
                                     Notifications::quickPasteChanged, Notifications::menuBarIconChanged })
            center.observe(name, &m_observer, [this, name](const QVariantMap&) { notifications << name; });
    }

    QString path() const { return m_dir.path() + QStringLiteral("/settings.json"); }

    // A fresh store on the same file, with the app's registered defaults unless told otherwise.
    UserDefaults& reopenDefaults(bool registered = true)
    {
        manager.reset();
        defaults.reset(); // writes the old store before the new one reads the file
        defaults = std::make_unique<UserDefaults>(path(), &clock);
        if (registered)
            ClipboardManager::registerDefaultSettings(*defaults);
        return *defaults;
    }
    RecordingClipboardManager& makeManager()
    {
        if (!defaults)
            reopenDefaults();
        manager = std::make_unique<RecordingClipboardManager>(*defaults, &cloud, clock);
        QObject::connect(manager.get(), &ClipboardManager::settingChanged,
                         [this](Setting, const QString& key) { changedKeys << key; });
        return *manager;
    }
    void clearRecords()
    {
        changedKeys.clear();
        notifications.clear();
        if (manager)
            manager->effects.clear();
        cloud.resetCounts();
    }

    QTemporaryDir m_dir;
    ManualClock clock;
    InMemoryCloudKeyValueStore cloud;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<RecordingClipboardManager> manager;
    QStringList changedKeys;
    QStringList notifications;

private:
    QObject m_observer;
};

} // namespace lumra::test
