#pragma once

#include <QObject>

namespace lumra {

class PromptService;

// Lumra is installed from the distribution's packages, so there is no updater of its own:
// "Check for Updates…" tells the user where updates come from.
class UpdaterController : public QObject {
    Q_OBJECT
public:
    explicit UpdaterController(PromptService* prompts = nullptr, QObject* parent = nullptr);

    bool canCheckForUpdates() const { return true; }
    void checkForUpdates();

    static QString updatesMessage(const QString& version);

private:
    PromptService* m_prompts;
};

} // namespace lumra
