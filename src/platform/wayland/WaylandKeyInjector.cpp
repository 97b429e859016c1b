#include "platform/wayland/WaylandKeyInjector.h"

#include "platform/keys/PasteKeys.h"
#include "platform/wayland/WaylandConnection.h"

#include <QElapsedTimer>
#include <QThread>
#include <QLoggingCategory>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <optional>
#include <atomic>
#include <sys/mman.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcWaylandKeys, "lumra.keys.wayland")

namespace lumra {

namespace {

constexpr quint32 keyReleased = 0;
constexpr quint32 keyPressed = 1;
// How long the compositor may take to name the focused window before the paste is given up: past
// it the user may have gone on typing somewhere else.
constexpr auto focusPatience = std::chrono::seconds(1);

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

// The virtual keyboard and the window list, on the injector's own thread.
class WaylandKeyInjector::Keyboard final : public QObject {
public:
    Keyboard(WaylandKeyInjector* owner)
        : m_owner(owner)
    {
    }
    ~Keyboard() override;

    // Connects and binds; false when the session's compositor cannot be reached.
    bool open();
    // `sent` runs on the injector's creating thread once the keys went.
    void paste(const std::function<void()>& sent);
    bool canPost() const { return m_canPost.load(); }

    struct Toplevel {
        QString appId;
        bool activated = false;
    };

    WaylandKeyInjector* m_owner;
    std::unique_ptr<WaylandConnection> m_connection;
    wl_proxy* m_seat = nullptr;
    wl_proxy* m_manager = nullptr;
    wl_proxy* m_keyboard = nullptr;
    wl_proxy* m_toplevels = nullptr; // the compositor's list of windows, when it offers one
    QHash<wl_proxy*, Toplevel> m_toplevelStates;
    quint32 m_controlMask = 0;
    quint32 m_shiftMask = 0;
    std::atomic<bool> m_canPost {false};
    bool m_keysSent = false;

private:
    Status createKeyboard();
    // The focused window's app id, empty when the compositor lists no windows; nothing when it
    // did not say in time. `noneInFront` is set when it lists windows and none is active.
    std::optional<QString> focusedAppId(bool* noneInFront);
    void fail(const QString& message) { QMetaObject::invokeMethod(m_owner->m_relay.get(), [owner = m_owner, message] { owner->tellFailure(message); }); }
};

// Follows the compositor's windows: which is active, and its app id.
struct ToplevelListeners {
    static WaylandKeyInjector::Keyboard& injector(void* data) { return *static_cast<WaylandKeyInjector::Keyboard*>(data); }
    static WaylandKeyInjector::Keyboard::Toplevel* state(void* data, zwlr_foreign_toplevel_handle_v1* handle)
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
    std::unique_ptr<WaylandKeyInjector> injector(new WaylandKeyInjector);
    Keyboard* keyboard = injector->m_keyboard;
    bool opened = false;
    QMetaObject::invokeMethod(keyboard, [keyboard, &opened] { opened = keyboard->open(); }, Qt::BlockingQueuedConnection);
    if (!opened)
        return nullptr;
    return injector;
}

WaylandKeyInjector::WaylandKeyInjector()
    : m_thread(BackgroundWork::current().thread("lumra-wlkeys"))
    , m_relay(std::make_unique<QObject>())
{
    m_keyboard = new Keyboard(this);
    m_keyboard->moveToThread(m_thread->thread());
}

WaylandKeyInjector::~WaylandKeyInjector()
{
    Keyboard* keyboard = m_keyboard;
    QMetaObject::invokeMethod(keyboard, [keyboard] { delete keyboard; }, Qt::BlockingQueuedConnection);
    m_thread.reset();
}

bool WaylandKeyInjector::canPost() const { return m_keyboard->canPost(); }

Status WaylandKeyInjector::postPasteThen(std::function<void()> sent)
{
    if (!canPost())
        return Status::failure(unavailableReason());
    Keyboard* keyboard = m_keyboard;
    QMetaObject::invokeMethod(keyboard, [keyboard, sent = std::move(sent)] { keyboard->paste(sent); }, Qt::QueuedConnection);
    return {};
}

void WaylandKeyInjector::setFailureHandler(QObject* context, std::function<void(const QString&)> handler)
{
    m_context = context;
    m_handler = std::move(handler);
}

void WaylandKeyInjector::tellFailure(const QString& message)
{
    qCWarning(lcWaylandKeys).noquote() << message;
    if (!m_context || !m_handler)
        return;
    QMetaObject::invokeMethod(m_context.data(), [context = m_context, handler = m_handler, message] {
        if (context)
            handler(message);
    });
}

bool WaylandKeyInjector::Keyboard::open()
{
    m_connection = WaylandConnection::open();
    if (!m_connection)
        return false;
    m_manager = m_connection->bind(&zwp_virtual_keyboard_manager_v1_interface, 1);
    if (m_manager)
        m_seat = m_connection->bind(&wl_seat_interface, 1);
    m_canPost.store(m_manager && m_seat);
    if (!canPost()) {
        qCWarning(lcWaylandKeys) << "the compositor offers no virtual keyboard: Lumra copies and the user pastes";
        return true;
    }
    m_toplevels = m_connection->bind(&zwlr_foreign_toplevel_manager_v1_interface, 2);
    if (m_toplevels)
        zwlr_foreign_toplevel_manager_v1_add_listener(reinterpret_cast<zwlr_foreign_toplevel_manager_v1*>(m_toplevels),
                                                      &ToplevelListeners::manager, this);
    m_connection->flush();
    connect(m_connection.get(), &WaylandConnection::broken, this, [this](const QString& reason) {
        m_canPost.store(false);
        // Only a paste sent makes the compositor refuse the keyboard; otherwise it is a lost session.
        if (m_keysSent)
            fail(QStringLiteral("Lumra could not paste: the compositor refused the virtual keyboard (%1).").arg(reason));
        else
            qCWarning(lcWaylandKeys).noquote() << reason;
    });
    return true;
}

WaylandKeyInjector::Keyboard::~Keyboard()
{
    if (!m_connection)
        return;
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

Status WaylandKeyInjector::Keyboard::createKeyboard()
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

std::optional<QString> WaylandKeyInjector::Keyboard::focusedAppId(bool* noneInFront)
{
    *noneInFront = false;
    if (!m_toplevels)
        return QString();
    // The window the popup gave the focus back to may have been reported only just now.
    if (!m_connection->roundtrip(QDeadlineTimer(focusPatience)))
        return std::nullopt;
    for (const Toplevel& toplevel : std::as_const(m_toplevelStates)) {
        if (toplevel.activated)
            return toplevel.appId;
    }
    *noneInFront = true;
    return QString();
}

void WaylandKeyInjector::Keyboard::paste(const std::function<void()>& sent)
{
    if (!canPost() || m_connection->isBroken())
        return; // told when the connection broke
    if (!m_keyboard) {
        if (Status created = createKeyboard(); !created) {
            fail(created.error());
            return;
        }
    }
    bool noneInFront = false;
    const std::optional<QString> appId = focusedAppId(&noneInFront);
    if (m_connection->isBroken())
        return;
    // Keys with no window to take them go nowhere, and the paste would seem to have worked.
    if (noneInFront) {
        fail(KeyInjectorMessages::noWindowInFront());
        return;
    }
    if (!appId) {
        fail(QStringLiteral("Lumra did not paste: the compositor did not say in time which window is in front. The "
                            "item is on the clipboard: paste it with Ctrl+V (Ctrl+Shift+V in a terminal)."));
        return;
    }
    const PasteChord chord = pasteChordFor({*appId});
    if (chord == PasteChord::none) {
        fail(noPasteKeyMessage(*appId));
        return;
    }
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
    // The compositor takes the keys when it can; one that refuses the keyboard ends the
    // connection, which is told then. A slow compositor is no refusal.
    m_keysSent = true;
    m_connection->flush();
    if (sent)
        QMetaObject::invokeMethod(m_owner->m_relay.get(), sent);
}

} // namespace lumra
