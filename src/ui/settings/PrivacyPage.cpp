#include "ui/settings/PrivacyPage.h"

#include "engine/ClipboardManager.h"
#include "platform/workspace/Workspace.h"
#include "ui/settings/BoundRows.h"
#include "ui/settings/IgnoredAppsBox.h"

#include <QLabel>
#include <QVBoxLayout>

namespace lumra {

PrivacyPage::PrivacyPage(SettingsContext context, QWidget* parent)
    : QWidget(parent)
    , m_transient(new SettingSwitchRow(context.manager, PrivacyTables::ignoreTransientContent(), this))
    , m_apps(new IgnoredAppsBox(context.manager, context.prompts, 32, 0, this))
{
    setFont(SettingsStyle::font(14, false, font()));
    auto* header = new QVBoxLayout;
    header->setSpacing(2);
    header->addWidget(SettingsStyle::label(QStringLiteral("Ignore Applications"), 15, true, false, this));
    header->addWidget(SettingsStyle::label(QStringLiteral("Do not save content copied from the applications below."), 12,
                                           false, true, this));
    // Where the desktop does not say who copied, the list cannot work: said here, not left to be found out.
    const Workspace* workspace = context.manager.services().workspace;
    if (workspace && !workspace->knowsSourceApplications()) {
        m_sourceNote = SettingsStyle::label(
            QStringLiteral("This desktop does not tell Lumra which application made a copy, so copies from the "
                           "applications below are saved too. Password managers still mark their copies, and those "
                           "are never saved."),
            12, false, true, this);
        m_sourceNote->setObjectName(QStringLiteral("sourceApplicationsNote"));
        m_sourceNote->setWordWrap(true);
        header->addWidget(m_sourceNote);
    }
    auto* apps = new QVBoxLayout;
    apps->setSpacing(8);
    apps->addLayout(header);
    apps->addWidget(m_apps, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);
    layout->addWidget(m_transient);
    layout->addLayout(apps, 1);
}

} // namespace lumra
