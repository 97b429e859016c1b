#include "platform/wayland/WaylandKeyInjector.h"

#include "platform/keys/PasteKeys.h"
#include "platform/wayland/WaylandConnection.h"

#include <QElapsedTimer>
#include <QLoggingCategory>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <optional>
#include <sys/mman.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcWaylandKeys, "lumra.keys.wayland")

namespace lumra {

namespace {

constexpr quint32 keyReleased = 0;
constexpr quint32 keyPressed = 1;

// A US keymap as xkbcommon writes it, and the Ctrl and Shift modifier bits in it.
struct Keymap {
    QByteArray text; // NUL-terminated, as the protocol wants it
    quint32 controlMask = 0;
    quint32 shiftMask = 0;
};

std::optional<Keymap> usKeymap()
{
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context)
        return std::nullopt;
    const xkb_rule_names names {"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    std::optional<Keymap> result;
    if (keymap) {
        char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        const xkb_mod_index_t control = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CTRL);
        const xkb_mod_index_t shift = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
        if (text && control != XKB_MOD_INVALID && shift != XKB_MOD_INVALID)
            result = Keymap {QByteArray(text, qsizetype(strlen(text)) + 1), 1u << control, 1u << shift};
        free(text);
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    return result;
}

quint32 now()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return quint32(clock.elapsed());
}

} // namespace

// Follows the compositor's windows: which is active, and its app id.
struct ToplevelListeners {
    static WaylandKeyInjector& injector(void* data) { return *static_cast<WaylandKeyInjector*>(data); }
    static WaylandKeyInjector::Toplevel* state(void* data, zwlr_foreign_toplevel_handle_v1* handle)
    {
        auto& states = injector(data).m_toplevelStates;
        auto it = states.find(reinterpret_cast<wl_proxy*>(handle));
        return it == states.end() ? nullptr : &*it;
    }

    static void title(void*, zwlr_foreign_toplevel_handle_v1*, const char*) { }
    static void appId(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* id)
    {
        if (auto* toplevel = state(data, handle))
            toplevel->appId = QString::fromUtf8(id);
    }
    static void output(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) { }
    static void states(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* list)
    {
        auto* toplevel = state(data, handle);
        if (!toplevel)
            return;
        toplevel->activated = false;
        const auto* entries = static_cast<const quint32*>(list->data);
        for (size_t i = 0; i < list->size / sizeof(quint32); ++i)
            toplevel->activated |= entries[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    }
    static void done(void*, zwlr_foreign_toplevel_handle_v1*) { }
    static void closed(void* data, zwlr_foreign_toplevel_handle_v1* handle)
    {
        injector(data).m_toplevelStates.remove(reinterpret_cast<wl_proxy*>(handle));
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
    }
    static constexpr zwlr_foreign_toplevel_handle_v1_listener handle {title, appId, output, output, states, done, closed};

    static void added(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* toplevel)
    {
        injector(data).m_toplevelStates.insert(reinterpret_cast<wl_proxy*>(toplevel), {});
        zwlr_foreign_toplevel_handle_v1_add_listener(toplevel, &handle, data);
    }
    static void finished(void* data, zwlr_foreign_toplevel_manager_v1* manager)
    {
        injector(data).m_toplevels = nullptr;
        zwlr_foreign_toplevel_manager_v1_destroy(manager);
    }
    static constexpr zwlr_foreign_toplevel_manager_v1_listener manager {added, finished};
};

std::unique_ptr<WaylandKeyInjector> WaylandKeyInjector::create()
{
    auto connection = WaylandConnection::open();
    if (!connection)
        return nullptr;
    return std::unique_ptr<WaylandKeyInjector>(new WaylandKeyInjector(std::move(connection)));
}

WaylandKeyInjector::WaylandKeyInjector(std::unique_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
{
    m_manager = m_connection->bind(&zwp_virtual_keyboard_manager_v1_interface, 1);
    if (m_manager)
        m_seat = m_connection->bind(&wl_seat_interface, 1);
    if (!canPost())
        qCWarning(lcWaylandKeys) << "the compositor offers no virtual keyboard: Lumra copies and the user pastes";
    if (canPost()) {
        m_toplevels = m_connection->bind(&zwlr_foreign_toplevel_manager_v1_interface, 2);
        if (m_toplevels)
            zwlr_foreign_toplevel_manager_v1_add_listener(reinterpret_cast<zwlr_foreign_toplevel_manager_v1*>(m_toplevels),
                                                          &ToplevelListeners::manager, this);
    }
}

WaylandKeyInjector::~WaylandKeyInjector()
{
    for (auto it = m_toplevelStates.cbegin(); it != m_toplevelStates.cend(); ++it)
        zwlr_foreign_toplevel_handle_v1_destroy(reinterpret_cast<zwlr_foreign_toplevel_handle_v1*>(it.key()));
    if (m_toplevels)
        zwlr_foreign_toplevel_manager_v1_destroy(reinterpret_cast<zwlr_foreign_toplevel_manager_v1*>(m_toplevels));
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(reinterpret_cast<zwp_virtual_keyboard_v1*>(m_keyboard));
    if (m_manager)
        wl_proxy_destroy(m_manager); // the manager has no destructor request
    if (m_seat)
        wl_proxy_destroy(m_seat);
    m_connection->flush();
}

bool WaylandKeyInjector::canPost() const { return m_manager && m_seat && !m_connection->isBroken(); }

Status WaylandKeyInjector::createKeyboard()
{
    const std::optional<Keymap> keymap = usKeymap();
    if (!keymap)
        return Status::failure(QStringLiteral("Lumra cannot paste: no keyboard map could be made for Ctrl+V."));
    const int fd = ::memfd_create("lumra-keymap", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, keymap->text.constData(), size_t(keymap->text.size())) != keymap->text.size()) {
        if (fd >= 0)
            ::close(fd);
        return Status::failure(QStringLiteral("Lumra cannot paste: the keyboard map could not be handed over."));
    }
    auto* keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
        reinterpret_cast<zwp_virtual_keyboard_manager_v1*>(m_manager), reinterpret_cast<wl_seat*>(m_seat));
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, quint32(keymap->text.size()));
    ::close(fd);
    m_keyboard = reinterpret_cast<wl_proxy*>(keyboard);
    m_controlMask = keymap->controlMask;
    m_shiftMask = keymap->shiftMask;
    return {};
}

QString WaylandKeyInjector::focusedAppId()
{
    if (!m_toplevels)
        return QString();
    // The window the popup gave the focus back to may have been reported only just now.
    m_connection->roundtrip(QDeadlineTimer(500));
    for (const Toplevel& toplevel : std::as_const(m_toplevelStates)) {
        if (toplevel.activated)
            return toplevel.appId;
    }
    return QString();
}

Status WaylandKeyInjector::postPaste()
{
    if (!canPost())
        return Status::failure(unavailableReason());
    if (!m_keyboard) {
        if (Status created = createKeyboard(); !created)
            return created;
    }
    const QString appId = focusedAppId();
    const PasteChord chord = pasteChordFor({appId});
    if (chord == PasteChord::none)
        return Status::failure(noPasteKeyMessage(appId));
    const bool shift = chord == PasteChord::controlShiftV;
    auto* keyboard = reinterpret_cast<zwp_virtual_keyboard_v1*>(m_keyboard);
    zwp_virtual_keyboard_v1_key(keyboard, now(), KEY_LEFTCTRL, keyPressed);
    if (shift)
        zwp_virtual_keyboard_v1_key(keyboard, now(), KEY_LEFTSHIFT, keyPressed);
    zwp_virtual_keyboard_v1_modifiers(keyboard, m_controlMask | (shift ? m_shiftMask : 0), 0, 0, 0);
    zwp_virtual_keyboard_v1_key(keyboard, now(), KEY_V, keyPressed);
    zwp_virtual_keyboard_v1_key(keyboard, now(), KEY_V, keyReleased);
    if (shift)
        zwp_virtual_keyboard_v1_key(keyboard, now(), KEY_LEFTSHIFT, keyReleased);
    zwp_virtual_keyboard_v1_key(keyboard, now(), KEY_LEFTCTRL, keyReleased);
    zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
    // The round trip shows whether the compositor took the keys or refused the keyboard.
    if (!m_connection->roundtrip(QDeadlineTimer(2000)) || m_connection->isBroken())
        return Status::failure(QStringLiteral("Lumra could not send %1: the compositor refused the virtual keyboard.")
                                   .arg(pasteChordName(chord)));
    return {};
}

} // namespace lumra
