#pragma once

#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/core/Clock.h"
#include "platform/core/Result.h"

#include <QHash>

#include <functional>
#include <optional>
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

    struct Entry {
        QVariant value; // invalid: removed
        qint64 mtime = 0;
        QUuid device;
    };
    using Values = QHash<QString, Entry>;
    // What the files of the folder say: this computer's and the others' (merged) values.
    struct Files {
        Values own;
        Values others;
    };

    // Hands the file access to the owner's worker: reads and writes then wait for its next pass
    // (`requestPass` asks for one), which calls readFiles()/writeFile() off the main thread and
    // gives back what it read through receive().
    void setFileAccess(std::function<void()> requestPass) { m_requestPass = std::move(requestPass); }
    // The bytes of this computer's file when they changed since taken last.
    std::optional<QByteArray> takePendingWrite();
    void receive(const Files& files);
    static Files readFiles(const QString& root, const QUuid& device);
    static Status writeFile(const QString& root, const QUuid& device, const QByteArray& bytes);

private:
    static Values readFile(const QString& root, const QUuid& device);
    QByteArray ownFileBytes() const;
    void readOthers();
    Values merged() const;
    void announceChanges(const Values& before);

    Clock& m_clock;
    QString m_root;
    QUuid m_device;
    Values m_own;
    Values m_others;
    bool m_dirty = false;
    std::function<void()> m_requestPass;
};

} // namespace lumra
