#pragma once

#include "ui/settings/SettingsContext.h"

#include <QWidget>

class QLabel;

namespace lumra {

class IgnoredAppsBox;
class SettingSwitchRow;

// The Privacy page: "Ignore transient content" and the applications whose copies are never saved.
class PrivacyPage : public QWidget {
    Q_OBJECT
public:
    explicit PrivacyPage(SettingsContext context, QWidget* parent = nullptr);

    SettingSwitchRow* transientRow() const { return m_transient; }
    IgnoredAppsBox* appsBox() const { return m_apps; }
    // Shown where the desktop does not tell which application made a copy; null elsewhere.
    QLabel* sourceNote() const { return m_sourceNote; }

private:
    SettingSwitchRow* m_transient;
    IgnoredAppsBox* m_apps;
    QLabel* m_sourceNote = nullptr;
};

} // namespace lumra
