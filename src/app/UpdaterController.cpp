#include "app/UpdaterController.h"

#include "ui/shell/Prompt.h"

#include <QCoreApplication>

namespace lumra {

UpdaterController::UpdaterController(PromptService* prompts, QObject* parent)
    : QObject(parent)
    , m_prompts(prompts)
{
}

QString UpdaterController::updatesMessage(const QString& version)
{
    QString text = QStringLiteral(
        "Lumra is updated by your system's package manager. Use your distribution's software "
        "updater to get the newest version.");
    if (!version.isEmpty())
        text += QStringLiteral("\n\nYou have version %1.").arg(version);
    return text;
}

void UpdaterController::checkForUpdates()
{
    PromptService& prompts = m_prompts ? *m_prompts : PromptService::shared();
    prompts.alert(QStringLiteral("Check for Updates"), updatesMessage(QCoreApplication::applicationVersion()),
                  {QStringLiteral("OK")});
}

} // namespace lumra
