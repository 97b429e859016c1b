#include "app/StatusMenu.h"

#include "ui/items/SymbolIcon.h"

#include <QMenu>

namespace lumra {

StatusMenu::StatusMenu(StateProvider state, QObject* parent)
    : QObject(parent)
    , m_state(std::move(state))
    , m_menu(std::make_unique<QMenu>())
{
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] {
        if (m_state)
            rebuild(m_state());
    });
    rebuild(m_state ? m_state() : StatusMenuState{});
}

StatusMenu::~StatusMenu() = default;

void StatusMenu::rebuild(const StatusMenuState& state)
{
    QMenu* menu = m_menu.get();
    menu->clear();
    delete m_diagnostics;
    // The symbols take the menu's own ink, so they read on a dark menu as on a light one.
    const QColor ink = menu->palette().color(QPalette::Active, QPalette::WindowText);
    auto add = [this, ink](QMenu* into, const QString& title, const char* symbol, void (StatusMenu::*signal)()) {
        QAction* action = into->addAction(title);
        if (symbol)
            action->setIcon(tintedSymbol(QString::fromLatin1(symbol), ink));
        connect(action, &QAction::triggered, this, signal);
        return action;
    };

    add(menu, QStringLiteral("Settings"), "gear", &StatusMenu::openSettingsRequested);
    add(menu, QStringLiteral("Feature Request"), "lightbulb", &StatusMenu::featureRequestRequested);
    add(menu, QStringLiteral("Help"), "questionmark.bubble", &StatusMenu::helpRequested);
    add(menu, QStringLiteral("About Lumra"), "info.circle", &StatusMenu::aboutRequested);
    add(menu, QStringLiteral("Check for Updates\u2026"), "arrow.down.circle", &StatusMenu::checkForUpdatesRequested)
        ->setEnabled(state.canCheckForUpdates);
    if (!state.hasCompletedOnboarding)
        add(menu, QStringLiteral("Continue Onboarding"), "arrow.forward.circle",
            &StatusMenu::continueOnboardingRequested);
    menu->addSeparator();
    if (state.keepWindowOpen)
        add(menu, QStringLiteral("Auto Close Window"), "pin.slash", &StatusMenu::toggleKeepWindowOpenRequested);
    else
        add(menu, QStringLiteral("Keep Window Open"), "pin", &StatusMenu::toggleKeepWindowOpenRequested);
    menu->addSeparator();

    QMenu* diagnostics = new QMenu(QStringLiteral("Diagnostics"), menu);
    diagnostics->setIcon(tintedSymbol(QStringLiteral("stethoscope"), ink));
    if (state.diagnosticsEnabled)
        add(diagnostics, QStringLiteral("Stop Diagnostics"), nullptr, &StatusMenu::stopDiagnosticsRequested);
    else
        add(diagnostics, QStringLiteral("Start Diagnostics\u2026"), nullptr, &StatusMenu::startDiagnosticsRequested);
    if (state.diagnosticsLogExists)
        add(diagnostics, QStringLiteral("Copy Diagnostics"), nullptr, &StatusMenu::copyDiagnosticsRequested);
    menu->addMenu(diagnostics);
    m_diagnostics = diagnostics;
    menu->addSeparator();

    QAction* quit = add(menu, QStringLiteral("Quit Lumra"), nullptr, &StatusMenu::quitRequested);
    quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
}

} // namespace lumra
