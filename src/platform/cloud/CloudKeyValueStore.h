#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

namespace lumra {

// A small key-value store shared between the user's computers through the sync folder.
// Values are numbers, booleans and strings. Writes are local until synchronize() pushes them;
// changes made on other computers arrive through didChangeExternally.
class CloudKeyValueStore : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The store the app uses: the sync folder's, which keeps nothing until a folder is chosen.
    static CloudKeyValueStore& defaultStore();

    virtual QVariant object(const QString& key) const = 0;
    virtual void setObject(const QString& key, const QVariant& value) = 0;
    virtual void removeObject(const QString& key) = 0;
    virtual QVariantMap dictionaryRepresentation() const = 0;
    // True when the local and shared copies are in step.
    virtual bool synchronize() = 0;
    // Takes back everything this computer published, without publishing anything: the other
    // computers then read its keys as never set here, never as removed or zero.
    virtual void forgetThisComputer() { }

signals:
    // Values were changed elsewhere; `keys` lists them when known.
    void didChangeExternally(const QStringList& keys);
};

// For computers with no sync folder chosen: nothing is kept and nothing leaves the computer.
class NoFolderCloudKeyValueStore final : public CloudKeyValueStore {
    Q_OBJECT
public:
    using CloudKeyValueStore::CloudKeyValueStore;
    QVariant object(const QString&) const override { return {}; }
    void setObject(const QString&, const QVariant&) override { }
    void removeObject(const QString&) override { }
    QVariantMap dictionaryRepresentation() const override { return {}; }
    bool synchronize() override { return false; }
};

// Tests: keeps values in memory, counts writes and synchronisations, and plays changes from
// another computer.
class InMemoryCloudKeyValueStore final : public CloudKeyValueStore {
    Q_OBJECT
public:
    using CloudKeyValueStore::CloudKeyValueStore;
    QVariant object(const QString& key) const override { return m_values.value(key); }
    void setObject(const QString& key, const QVariant& value) override;
    void removeObject(const QString& key) override { m_values.remove(key); }
    QVariantMap dictionaryRepresentation() const override { return m_values; }
    void forgetThisComputer() override { m_values.clear(); }
    bool synchronize() override
    {
        ++m_synchronizeCount;
        return true;
    }

    // Sets the values as another computer would and reports them.
    void receiveExternalChange(const QVariantMap& values);

    int writeCount() const { return m_writeCount; }
    int synchronizeCount() const { return m_synchronizeCount; }
    void resetCounts() { m_writeCount = m_synchronizeCount = 0; }

private:
    QVariantMap m_values;
    int m_writeCount = 0;
    int m_synchronizeCount = 0;
};

} // namespace lumra
