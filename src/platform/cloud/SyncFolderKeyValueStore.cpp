#include "platform/cloud/SyncFolderKeyValueStore.h"

#include "platform/cloud/SyncFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

#include <cmath>

namespace lumra {

namespace {

constexpr qint64 maxSettingsFileBytes = 256 * 1024;
constexpr int maxKeyLength = 100;
constexpr int maxStringLength = 4096;

bool wins(const auto& a, const auto& b)
{
    if (a.mtime != b.mtime)
        return a.mtime > b.mtime;
    return sync::uuidText(a.device) > sync::uuidText(b.device);
}

} // namespace

SyncFolderKeyValueStore::SyncFolderKeyValueStore(Clock& clock, QObject* parent) : CloudKeyValueStore(parent), m_clock(clock) { }

void SyncFolderKeyValueStore::setFolder(const QString& root, const QUuid& device)
{
    if (root == m_root && device == m_device)
        return;
    const Values before = merged();
    m_root = root;
    m_device = device;
    m_own.clear();
    m_others.clear();
    m_dirty = false;
    if (m_requestPass) {
        announceChanges(before);
        if (!m_root.isEmpty())
            m_requestPass(); // the files are read on the worker
        return;
    }
    if (!m_root.isEmpty())
        m_own = readFile(m_root, m_device);
    readOthers();
    announceChanges(before);
}

SyncFolderKeyValueStore::Files SyncFolderKeyValueStore::readFiles(const QString& root, const QUuid& device)
{
    Files files;
    if (root.isEmpty())
        return files;
    files.own = readFile(root, device);
    for (const QUuid& other : sync::SyncFiles::otherDevices(root, device)) {
        const Values values = readFile(root, other);
        for (auto it = values.begin(); it != values.end(); ++it)
            if (!files.others.contains(it.key()) || wins(it.value(), files.others[it.key()]))
                files.others.insert(it.key(), it.value());
    }
    return files;
}

Status SyncFolderKeyValueStore::writeFile(const QString& root, const QUuid& device, const QByteArray& bytes)
{
    Result<sync::SyncDir> folder = sync::SyncFiles::openDeviceFolder(root, device, true);
    if (!folder)
        return folder.status();
    return folder->write(QString::fromLatin1(sync::SyncFiles::settingsName), bytes);
}

std::optional<QByteArray> SyncFolderKeyValueStore::takePendingWrite()
{
    if (!m_dirty || m_root.isEmpty())
        return std::nullopt;
    m_dirty = false;
    return ownFileBytes();
}

void SyncFolderKeyValueStore::receive(const Files& files)
{
    if (m_root.isEmpty())
        return;
    const Values before = merged();
    // Values set here since the pass began are newer than the file it read.
    for (auto it = files.own.begin(); it != files.own.end(); ++it)
        if (!m_own.contains(it.key()) || wins(it.value(), m_own[it.key()]))
            m_own.insert(it.key(), it.value());
    m_others = files.others;
    announceChanges(before);
}

void SyncFolderKeyValueStore::readOthers() { m_others = readFiles(m_root, m_device).others; }

SyncFolderKeyValueStore::Values SyncFolderKeyValueStore::readFile(const QString& root, const QUuid& device)
{
    Values values;
    Result<sync::SyncDir> folder = sync::SyncFiles::openDeviceFolder(root, device, false);
    if (!folder)
        return values;
    Result<QByteArray> bytes = folder->read(QString::fromLatin1(sync::SyncFiles::settingsName), maxSettingsFileBytes + 1);
    if (!bytes || bytes.value().size() > maxSettingsFileBytes)
        return values;
    const QJsonObject file = QJsonDocument::fromJson(bytes.value()).object();
    if (file.value(QStringLiteral("v")).toDouble(-1) != 1)
        return values;
    const QJsonObject entries = file.value(QStringLiteral("values")).toObject();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it.key().isEmpty() || it.key().size() > maxKeyLength || !it.value().isObject())
            continue;
        const QJsonObject e = it.value().toObject();
        const double mtime = e.value(QStringLiteral("mtime")).toDouble(-1);
        if (!std::isfinite(mtime) || mtime < 0 || mtime > 9e15)
            continue;
        const QJsonValue v = e.value(QStringLiteral("value"));
        Entry entry;
        entry.mtime = qint64(mtime);
        entry.device = device;
        if (v.isBool())
            entry.value = v.toBool();
        else if (v.isDouble() && std::isfinite(v.toDouble()))
            entry.value = v.toDouble() == std::floor(v.toDouble()) && std::abs(v.toDouble()) < 9e15 ? QVariant(qint64(v.toDouble()))
                                                                                                     : QVariant(v.toDouble());
        else if (v.isString() && v.toString().size() <= maxStringLength)
            entry.value = v.toString();
        else if (!v.isNull())
            continue;
        values.insert(it.key(), entry);
    }
    return values;
}

SyncFolderKeyValueStore::Values SyncFolderKeyValueStore::merged() const
{
    Values all = m_others;
    for (auto it = m_own.begin(); it != m_own.end(); ++it)
        if (!all.contains(it.key()) || wins(it.value(), all[it.key()]))
            all.insert(it.key(), it.value());
    return all;
}

QVariant SyncFolderKeyValueStore::object(const QString& key) const { return merged().value(key).value; }

QVariantMap SyncFolderKeyValueStore::dictionaryRepresentation() const
{
    QVariantMap map;
    const Values all = merged();
    for (auto it = all.begin(); it != all.end(); ++it)
        if (it.value().value.isValid())
            map.insert(it.key(), it.value().value);
    return map;
}

void SyncFolderKeyValueStore::setObject(const QString& key, const QVariant& value)
{
    if (m_root.isEmpty())
        return;
    Entry entry {value, m_clock.now().toMSecsSinceEpoch(), m_device};
    // A value set here is newer than anything seen, whatever the other clocks said.
    if (const auto it = m_others.find(key); it != m_others.end() && !wins(entry, it.value()))
        entry.mtime = it.value().mtime + 1;
    m_own.insert(key, entry);
    m_dirty = true;
}

void SyncFolderKeyValueStore::removeObject(const QString& key) { setObject(key, QVariant()); }

bool SyncFolderKeyValueStore::synchronize()
{
    if (m_root.isEmpty())
        return false;
    if (m_requestPass) {
        m_requestPass(); // written and read by the worker's next pass
        return true;
    }
    bool ok = true;
    if (m_dirty) {
        ok = writeFile(m_root, m_device, ownFileBytes()).ok();
        m_dirty = !ok;
    }
    rescan();
    return ok;
}

void SyncFolderKeyValueStore::forgetThisComputer()
{
    if (!m_root.isEmpty()) {
        const QString folder = sync::SyncFiles::deviceFolder(m_root, m_device);
        // Only our own file, and never through a planted link.
        const bool linked = QFileInfo(m_root).isSymLink() || QFileInfo(sync::SyncFiles::devicesFolder(m_root)).isSymLink()
            || QFileInfo(folder).isSymLink();
        if (!linked)
            QFile::remove(sync::SyncFiles::settingsPath(folder));
    }
    m_own.clear();
    m_dirty = false;
    m_root.clear();
}

QByteArray SyncFolderKeyValueStore::ownFileBytes() const
{
    QJsonObject entries;
    for (auto it = m_own.begin(); it != m_own.end(); ++it) {
        QJsonObject e;
        e.insert(QStringLiteral("value"), QJsonValue::fromVariant(it.value().value));
        e.insert(QStringLiteral("mtime"), double(it.value().mtime));
        entries.insert(it.key(), e);
    }
    QJsonObject file;
    file.insert(QStringLiteral("v"), 1);
    file.insert(QStringLiteral("values"), entries);
    return QJsonDocument(file).toJson();
}

void SyncFolderKeyValueStore::rescan()
{
    if (m_root.isEmpty())
        return;
    if (m_requestPass) {
        m_requestPass();
        return;
    }
    const Values before = merged();
    readOthers();
    announceChanges(before);
}

void SyncFolderKeyValueStore::announceChanges(const Values& before)
{
    const Values after = merged();
    QStringList changed;
    for (auto it = after.begin(); it != after.end(); ++it)
        if (it.value().device != m_device && before.value(it.key()).value != it.value().value)
            changed.append(it.key());
    changed.sort();
    if (!changed.isEmpty())
        emit didChangeExternally(changed);
}

} // namespace lumra
