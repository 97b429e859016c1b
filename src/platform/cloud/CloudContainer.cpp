#include "platform/cloud/CloudContainer.h"

namespace lumra {

QString NoSyncFolderContainer::identifier() const { return QStringLiteral("sync-folder"); }

QString NoSyncFolderContainer::reason() { return QStringLiteral("no sync folder chosen"); }

void NoSyncFolderContainer::accountStatus(std::function<void(Result<CloudAccountStatus>)> completion)
{
    completion(CloudAccountStatus::noAccount);
}

void InMemoryCloudContainer::accountStatus(std::function<void(Result<CloudAccountStatus>)> completion)
{
    if (m_error)
        completion(Result<CloudAccountStatus>::failure(*m_error));
    else
        completion(m_status);
}

} // namespace lumra
