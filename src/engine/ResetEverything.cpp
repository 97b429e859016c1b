#include "engine/ResetEverything.h"

#include "engine/ClipboardManager.h"
#include "platform/login/LoginItem.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcReset, "lumra.reset")

namespace lumra {

DataResetReport resetEverything(ClipboardManager& manager, LoginItem& loginItem, const DataResetTargets& targets)
{
    // A login item that cannot be removed must not stop the reset.
    if (loginItem.isEnabled())
        if (const Status s = loginItem.setEnabled(false); !s)
            qCWarning(lcReset).noquote() << "the login item stays:" << s.error();
    manager.prepareForReset();
    const DataResetReport report = removeLumraData(targets);
    for (const QString& path : report.refused)
        qCWarning(lcReset).noquote() << "not a folder of Lumra's, left alone:" << path;
    for (const QString& path : report.failed)
        qCWarning(lcReset).noquote() << "could not be removed:" << path;
    return report;
}

} // namespace lumra
