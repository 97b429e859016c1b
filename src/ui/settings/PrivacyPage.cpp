#include "ui/settings/PrivacyPage.h"

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
