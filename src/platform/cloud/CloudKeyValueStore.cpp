#include "platform/cloud/CloudKeyValueStore.h"

#include "platform/cloud/SyncFolderKeyValueStore.h"

namespace lumra {

CloudKeyValueStore& CloudKeyValueStore::defaultStore()
{
    static CloudKeyValueStore* store = new SyncFolderKeyValueStore; // lives for the process
    return *store;
}

void InMemoryCloudKeyValueStore::setObject(const QString& key, const QVariant& value)
{
    ++m_writeCount;
    m_values.insert(key, value);
}

void InMemoryCloudKeyValueStore::receiveExternalChange(const QVariantMap& values)
{
    m_values.insert(values);
    emit didChangeExternally(values.keys());
}

} // namespace lumra
