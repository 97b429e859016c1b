#pragma once

#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/core/Clock.h"

#include <QHash>
#include <QUuid>

namespace lumra {

// The mirrored settings in the sync folder: each computer keeps its values, each with the time it
// was set, in its own "settings.json"; a key reads as the latest value any computer set (a tie goes
// to the greater device id). With no folder nothing is kept and nothing leaves the computer.
class SyncFolderKeyValueStore final : public CloudKeyValueStore {
    Q_OBJECT
public:
    explicit SyncFolderKeyValueStore(Clock& clock = Clock::shared(), QObject* parent = nullptr);

    // `root` is the sync folder's Lumra folder (empty: none). Values other computers set meanwhile
    // are announced through didChangeExternally.
    void setFolder(const QString& root, const QUuid& device);
    QString folder() const { return m_root; }

    QVariant object(const QString& key) const override;
    void setObject(const QString& key, const QVariant& value) override;
    void removeObject(const QString& key) override;
    QVariantMap dictionaryRepresentation() const override;
    // Writes this computer's file when it changed, then reads the others'.
    bool synchronize() override;
    // Reads the other computers' files and announces the keys whose value changed.
    void rescan();
    // Deletes this computer's own file from the folder and stops writing it.
    void forgetThisComputer() override;

private:
    struct Entry {
        QVariant value; // invalid: removed
        qint64 mtime = 0;
        QUuid device;
    };
    using Values = QHash<QString, Entry>;
    static Values readFile(const QString& path, const QUuid& device);
    void readOthers();
    Values merged() const;
    void announceChanges(const Values& before);

    Clock& m_clock;
    QString m_root;
    QUuid m_device;
    Values m_own;
    Values m_others;
    bool m_dirty = false;
};

} // namespace lumra
