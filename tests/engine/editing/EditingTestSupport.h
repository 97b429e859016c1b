#pragma once

#include "model/NotificationCenter.h"

#include "EngineFixture.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <functional>
#include <vector>

namespace lumra::test {

// The engine with its housekeeping hooks opened up: background work waits until the test runs it.
class EditingManager : public ClipboardManager {
public:
    using ClipboardManager::ClipboardManager;
    using ClipboardManager::applyRetention;
    using ClipboardManager::purgeExpiredTrash;
    using ClipboardManager::runAutoClean;

    bool runBackgroundInline = false;
    std::vector<std::function<void()>> pendingWork;
    QList<QUuid> evicted;
    QList<QUuid> deletedCategories;

    // Runs what runAutoClean handed over, then delivers its result to the main thread.
    void finishBackgroundWork()
    {
        auto work = std::move(pendingWork);
        pendingWork.clear();
        for (auto& w : work)
            w();
        QCoreApplication::processEvents();
    }

protected:
    void runInBackground(std::function<void()> work) override
    {
        if (runBackgroundInline)
            ClipboardManager::runInBackground(std::move(work));
        else
            pendingWork.push_back(std::move(work));
    }
    void evictItemCaches(const QUuid& id) override { evicted << id; }
    void didDeleteCategory(const QUuid& id) override { deletedCategories << id; }
};

class EditingTest : public EngineTest {
protected:
    void TearDown() override { manager.reset(); }

    EditingManager& open(bool sync = false)
    {
        manager.reset();
        openDefaults(sync);
        manager = start<EditingManager>();
        return *manager;
    }
    // Closes and opens the store again, as at the next start.
    EditingManager& reopen() { return open(manager->persistence()->iCloudEnabled()); }

    ClipboardItem text(const QString& content, qint64 ageSeconds = 60) { return textItem(content, clock.now().addSecs(-ageSeconds)); }
    ClipboardItem image(const QString& fileName, qint64 ageSeconds = 60)
    {
        ClipboardItem item = text({}, ageSeconds);
        item.textContent.reset();
        item.contentType = ClipboardContentType::image;
        item.imageFileName = fileName;
        return item;
    }
    ClipboardItem file(const QString& url, qint64 ageSeconds = 60)
    {
        ClipboardItem item = text({}, ageSeconds);
        item.textContent.reset();
        item.contentType = ClipboardContentType::file;
        item.fileURLStrings = QStringList {url};
        item.fileURLIsDirectory = QList<bool> {false};
        return item;
    }

    // Stores the items directly (as a capture or an import would) and loads them.
    void store(const QList<ClipboardItem>& items, const store::PersistentStore* target = nullptr,
               const QByteArray& imageBytes = {})
    {
        storeItems(*manager, items, withImageData(imageBytes), target);
    }

    std::optional<ClipboardItem> find(const QUuid& id) const
    {
        for (const ClipboardItem& item : manager->clipboardItems())
            if (item.id == id)
                return item;
        return std::nullopt;
    }
    // The in-memory history must say what the store says.
    void expectHistoryMatchesStore()
    {
        QList<ClipboardItem> inMemory = manager->clipboardItems();
        manager->loadItems();
        QList<ClipboardItem> stored = manager->clipboardItems();
        auto byId = [](const ClipboardItem& a, const ClipboardItem& b) { return a.id.toString() < b.id.toString(); };
        std::sort(inMemory.begin(), inMemory.end(), byId);
        std::sort(stored.begin(), stored.end(), byId);
        EXPECT_EQ(inMemory, stored);
    }

    std::unique_ptr<EditingManager> manager;
};

// Counts both forms of the shortcut-set announcement.
class ShortcutAnnouncements {
public:
    explicit ShortcutAnnouncements(ClipboardManager& manager) : m_spy(&manager, &ClipboardManager::itemShortcutsChanged)
    {
        NotificationCenter::defaultCenter().observe(Notifications::itemShortcutsChanged, &m_context,
                                                    [this](const QVariantMap&) { ++m_posted; });
    }
    int signalled() const { return int(m_spy.count()); }
    int posted() const { return m_posted; }

private:
    QObject m_context;
    QSignalSpy m_spy;
    int m_posted = 0;
};

} // namespace lumra::test
