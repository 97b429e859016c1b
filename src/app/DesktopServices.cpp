#include "app/DesktopServices.h"

#include "engine/ClipboardManager.h"
#include "platform/keys/X11GlobalHotKeys.h"
#include "platform/keys/X11KeyInjector.h"
#include "platform/ocr/TesseractTextRecognizer.h"
#include "platform/pasteboard/X11Pasteboard.h"
#include "platform/sound/QtSoundPlayer.h"
#include "platform/wayland/WaylandGlobalHotKeys.h"
#include "platform/wayland/WaylandKeyInjector.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/workspace/X11Workspace.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QProcess>

Q_LOGGING_CATEGORY(lcDesktop, "lumra.app.desktop")

namespace lumra {

DesktopServices::DesktopServices(DisplayBackend backend)
    : m_textRecognizer(std::make_unique<TesseractTextRecognizer>())
    , m_soundPlayer(std::make_unique<QtSoundPlayer>())
{
    if (backend == DisplayBackend::wayland) {
        m_pasteboard = WaylandPasteboard::create();
        noteLaunchChange();
        m_workspace = std::make_unique<WaylandWorkspace>();
        m_keyInjector = WaylandKeyInjector::create();
        m_hotKeys = WaylandGlobalHotKeys::create();
        if (!m_pasteboard)
            qCWarning(lcDesktop) << "No Wayland clipboard access: Lumra runs without recording copies.";
        return;
    }
    m_pasteboard = X11Pasteboard::create();
    noteLaunchChange();
    m_workspace = X11Workspace::create();
    m_keyInjector = std::make_unique<X11KeyInjector>();
    m_hotKeys = std::make_unique<X11GlobalHotKeys>();
    if (!m_pasteboard)
        qCWarning(lcDesktop) << "No X11 clipboard: Lumra runs without recording copies.";
    if (!m_workspace)
        qCWarning(lcDesktop) << "No X11 window manager information: focus is not given back after a paste.";
}

DesktopServices::~DesktopServices() = default;

// The engine starts later, after the history is opened: copies made meanwhile were heard and count.
void DesktopServices::noteLaunchChange()
{
    if (m_pasteboard)
        m_changeCountAtLaunch = m_pasteboard->changeCount();
}

AppServices DesktopServices::appServices()
{
    AppServices services;
    services.workspace = m_workspace.get();
    services.keyInjector = m_keyInjector.get();
    services.pasteboard = m_pasteboard.get();
    services.hotKeys = m_hotKeys.get();
    services.makeClipboardManager = [this] {
        ClipboardManagerServices engine;
        engine.pasteboard = m_pasteboard.get();
        engine.workspace = m_workspace.get();
        engine.keyInjector = m_keyInjector.get();
        engine.textRecognizer = m_textRecognizer.get();
        engine.soundPlayer = m_soundPlayer.get();
        engine.loadHistoryInBackground = true;
        engine.changeCountAtLaunch = m_changeCountAtLaunch;
        return std::make_unique<ClipboardManager>(engine);
    };
    services.startNewInstance = [] {
        // The new process waits for this one to end before it claims the session.
        QProcess process;
        process.setProgram(QCoreApplication::applicationFilePath());
        process.setArguments(QCoreApplication::arguments().mid(1));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LUMRA_REPLACES_PID"), QString::number(QCoreApplication::applicationPid()));
        process.setProcessEnvironment(environment);
        return process.startDetached();
    };
    return services;
}

} // namespace lumra
