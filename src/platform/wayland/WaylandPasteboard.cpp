#include "platform/wayland/WaylandPasteboard.h"

#include "platform/wayland/WaylandConnection.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <wayland-client.h>

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcWaylandPasteboard, "lumra.pasteboard.wayland")

namespace lumra {

// The two data-control protocols differ only in their names: the same requests and events in the
// same order. One implementation drives both through the generic proxy calls.
struct DataControlProtocol {
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
    const wl_interface* offer;
    quint32 version;
};

namespace {

static_assert(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE == ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE == ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_DESTROY == ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION == ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_DESTROY == ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_OFFER == ZWLR_DATA_CONTROL_SOURCE_V1_OFFER);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_DESTROY == ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_OFFER_V1_RECEIVE == ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE);
static_assert(EXT_DATA_CONTROL_OFFER_V1_DESTROY == ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);

// Version 1 of the wlroots protocol has no primary-selection events: Lumra leaves that one alone.
const DataControlProtocol extProtocol {&ext_data_control_manager_v1_interface, &ext_data_control_device_v1_interface,
                                       &ext_data_control_source_v1_interface, &ext_data_control_offer_v1_interface, 1};
const DataControlProtocol wlrProtocol {&zwlr_data_control_manager_v1_interface,
                                       &zwlr_data_control_device_v1_interface,
                                       &zwlr_data_control_source_v1_interface, &zwlr_data_control_offer_v1_interface, 1};

constexpr qint64 maxTransferBytes = qint64(256) * 1024 * 1024;
constexpr auto readerPatience = std::chrono::seconds(30);

quint32 versionOf(wl_proxy* proxy) { return wl_proxy_get_version(proxy); }

void destroyRequest(wl_proxy* proxy, quint32 opcode)
{
    wl_proxy_marshal_flags(proxy, opcode, nullptr, versionOf(proxy), WL_MARSHAL_FLAG_DESTROY);
}

template<typename Listener>
void addListener(wl_proxy* proxy, const Listener& listener, void* data)
{
    wl_proxy_add_listener(proxy, reinterpret_cast<void (**)(void)>(const_cast<Listener*>(&listener)), data);
}

} // namespace

struct WaylandPasteboard::Listeners {
    static WaylandPasteboard* self(void* data) { return static_cast<WaylandPasteboard*>(data); }

    struct Offer {
        void (*offer)(void*, wl_proxy*, const char*);
    };
    struct Device {
        void (*dataOffer)(void*, wl_proxy*, wl_proxy*);
        void (*selection)(void*, wl_proxy*, wl_proxy*);
        void (*finished)(void*, wl_proxy*);
        void (*primarySelection)(void*, wl_proxy*, wl_proxy*);
    };
    struct Source {
        void (*send)(void*, wl_proxy*, const char*, int32_t);
        void (*cancelled)(void*, wl_proxy*);
    };

    static constexpr Offer offer {[](void* d, wl_proxy* o, const char* type) { self(d)->offered(o, type); }};
    static constexpr Device device {
        [](void* d, wl_proxy*, wl_proxy* o) { self(d)->introduced(o); },
        [](void* d, wl_proxy*, wl_proxy* o) { self(d)->selected(o); },
        [](void* d, wl_proxy*) { self(d)->finished(); },
        [](void* d, wl_proxy*, wl_proxy* o) { self(d)->primarySelected(o); },
    };
    static constexpr Source source {
        [](void* d, wl_proxy* s, const char* type, int32_t fd) { self(d)->send(s, type, fd); },
        [](void* d, wl_proxy* s) { self(d)->cancelled(s); },
    };
};

// Feeds one reader through its pipe as it drains; gives up on a reader that stops reading.
class WaylandPasteboard::Writer final : public QObject {
public:
    Writer(int fd, QByteArray data, QObject* parent)
        : QObject(parent)
        , m_fd(fd)
        , m_data(std::move(data))
        , m_notifier(fd, QSocketNotifier::Write, this)
    {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        connect(&m_notifier, &QSocketNotifier::activated, this, &Writer::writeSome);
        m_stall.setSingleShot(true);
        connect(&m_stall, &QTimer::timeout, this, [this] {
            qCDebug(lcWaylandPasteboard) << "a clipboard reader stopped reading; the transfer is dropped";
            finish();
        });
        m_stall.start(readerPatience);
    }
    ~Writer() override { ::close(m_fd); }

private:
    void writeSome()
    {
        while (m_offset < m_data.size()) {
            const ssize_t written = ::write(m_fd, m_data.constData() + m_offset, size_t(m_data.size() - m_offset));
            if (written > 0) {
                m_offset += written;
                m_stall.start(readerPatience); // a slow reader that keeps reading is waited for
                continue;
            }
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0 && errno == EAGAIN)
                return;
            break; // the reader went away
        }
        finish();
    }
    void finish()
    {
        m_notifier.setEnabled(false);
        deleteLater();
    }

    int m_fd;
    QByteArray m_data;
    qsizetype m_offset = 0;
    QSocketNotifier m_notifier;
    QTimer m_stall;
};

bool WaylandPasteboard::sessionOffersDataControl()
{
    auto connection = WaylandConnection::open();
    return connection
        && (connection->globalVersion(extProtocol.manager->name) || connection->globalVersion(wlrProtocol.manager->name));
}

std::unique_ptr<WaylandPasteboard> WaylandPasteboard::create()
{
    auto connection = WaylandConnection::open();
    if (!connection)
        return nullptr;
    const DataControlProtocol* protocol = nullptr;
    if (connection->globalVersion(extProtocol.manager->name))
        protocol = &extProtocol;
    else if (connection->globalVersion(wlrProtocol.manager->name))
        protocol = &wlrProtocol;
    if (!protocol) {
        qCWarning(lcWaylandPasteboard) << "the compositor offers no clipboard data-control protocol"
                                       << "(ext-data-control-v1 or zwlr-data-control-unstable-v1)";
        return nullptr;
    }
    wl_proxy* seat = connection->bind(&wl_seat_interface, 1);
    if (!seat) {
        qCWarning(lcWaylandPasteboard) << "the compositor offers no seat";
        return nullptr;
    }
    wl_proxy* manager = connection->bind(protocol->manager, protocol->version);
    // A peer that closes its pipe early must not end Lumra with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    return std::unique_ptr<WaylandPasteboard>(new WaylandPasteboard(std::move(connection), *protocol, seat, manager));
}

WaylandPasteboard::WaylandPasteboard(std::unique_ptr<WaylandConnection> connection,
                                     const DataControlProtocol& protocol, wl_proxy* seat, wl_proxy* manager)
    : m_connection(std::move(connection))
    , m_protocol(protocol)
    , m_seat(seat)
    , m_manager(manager)
{
    m_device = wl_proxy_marshal_flags(m_manager, ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE, m_protocol.device,
                                      versionOf(m_manager), 0, nullptr, m_seat);
    addListener(m_device, Listeners::device, this);
    // The first selection event describes what was on the clipboard before Lumra started.
    m_connection->roundtrip(QDeadlineTimer(2000));
    m_started = true;
    qCInfo(lcWaylandPasteboard).noquote() << "clipboard through" << protocolName();
}

WaylandPasteboard::~WaylandPasteboard()
{
    for (wl_proxy* offer : m_introduced.keys())
        destroyRequest(offer, ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
    m_selection.reset();
    destroyOffer(m_primary);
    if (m_source)
        destroyRequest(m_source, ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
    if (m_device)
        destroyRequest(m_device, ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
    destroyRequest(m_manager, ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
    wl_proxy_destroy(m_seat);
    m_connection->flush();
}

QString WaylandPasteboard::protocolName() const { return QString::fromLatin1(m_protocol.manager->name); }

void WaylandPasteboard::destroyOffer(wl_proxy*& offer)
{
    if (offer)
        destroyRequest(offer, ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
    offer = nullptr;
}

std::shared_ptr<wl_proxy> WaylandPasteboard::lease(wl_proxy* offer)
{
    if (!offer)
        return nullptr;
    // A reader on the capture worker may still hold the offer when the next copy replaces it;
    // the last holder lets it go, and it is destroyed on this object's thread.
    QPointer<WaylandPasteboard> self(this);
    return std::shared_ptr<wl_proxy>(offer, [self](wl_proxy* proxy) {
        if (!self)
            return;
        auto destroy = [proxy] { destroyRequest(proxy, ZWLR_DATA_CONTROL_OFFER_V1_DESTROY); };
        if (QThread::currentThread() == self->thread())
            destroy();
        else
            QMetaObject::invokeMethod(self.data(), destroy, Qt::QueuedConnection);
    });
}

void WaylandPasteboard::introduced(wl_proxy* offer)
{
    m_introduced.insert(offer, {});
    addListener(offer, Listeners::offer, this);
}

void WaylandPasteboard::offered(wl_proxy* offer, const char* mimeType)
{
    auto it = m_introduced.find(offer);
    if (it == m_introduced.end())
        return; // types only come right after the offer is introduced
    // Each type is an event of its own: past the limit they cost no more than being ignored.
    if (it->types.size() >= OfferLimits::maxTypes)
        return;
    const QString type = QString::fromUtf8(mimeType);
    if (!it->seen.contains(type)) {
        it->seen.insert(type);
        it->types.append(type);
    }
}

void WaylandPasteboard::selected(wl_proxy* offer)
{
    if (!offer || !m_selection || offer != m_selection.get())
        m_selection = lease(offer);
    m_selectionTypes = offer ? m_introduced.take(offer).types : QStringList();
    const bool ours = m_expectOwnSelection && m_source;
    m_expectOwnSelection = false;
    if (ours || !m_started)
        return;
    ++m_changeCount;
    emitChangedLater();
}

void WaylandPasteboard::primarySelected(wl_proxy* offer)
{
    m_introduced.remove(offer);
    if (offer != m_primary) {
        destroyOffer(m_primary);
        m_primary = offer;
    }
}

void WaylandPasteboard::finished()
{
    qCWarning(lcWaylandPasteboard) << "the compositor ended clipboard access for this seat; copies are no longer recorded";
    destroyRequest(m_device, ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
    m_device = nullptr;
}

void WaylandPasteboard::send(wl_proxy* source, const char* mimeType, int fd)
{
    auto it = m_served.data.constFind(QString::fromUtf8(mimeType));
    if (source != m_source || it == m_served.data.constEnd()) {
        ::close(fd); // the reader sees an empty answer
        return;
    }
    new Writer(fd, *it, this);
}

void WaylandPasteboard::cancelled(wl_proxy* source)
{
    destroyRequest(source, ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
    if (source != m_source)
        return;
    m_source = nullptr;
    m_served = {};
}

qint64 WaylandPasteboard::changeCount() const
{
    m_connection->dispatchPending();
    return m_changeCount;
}

bool WaylandPasteboard::isOwnedByUs() const { return m_source != nullptr; }

// One change's offer, read through a pipe on the caller's thread: requests on a proxy may be
// sent from any thread, and the offer is held until the reader lets it go.
class WaylandPasteboard::Reader final : public OfferReader {
public:
    explicit Reader(const WaylandPasteboard& pasteboard)
        : m_offer(pasteboard.m_selection)
        , m_display(pasteboard.m_connection->display())
        , m_types(pasteboard.m_selectionTypes)
        , m_unresponsiveAt(pasteboard.m_unresponsiveAt)
        , m_change(pasteboard.m_changeCount)
        , m_ours(pasteboard.isOwnedByUs())
        , m_piece(pasteboard.m_readTimeout)
    {
        if (m_ours)
            m_served = pasteboard.m_served;
    }

    qint64 changeCount() const override { return m_change; }
    bool ownedByUs() const override { return m_ours; }

    Result<QStringList> types(QDeadlineTimer) override
    {
        return boundedTypes(m_ours ? m_served.types : m_types);
    }

    OfferRead data(const QString& type, qint64 maxBytes, QDeadlineTimer deadline) override
    {
        if (m_ours) {
            auto it = m_served.data.constFind(type);
            if (it == m_served.data.constEnd())
                return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard holds no %1").arg(type));
            OfferRead read;
            read.bytes = *it;
            return read;
        }
        if (!m_offer)
            return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard is empty"));
        if (!m_types.contains(type))
            return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard holds no %1").arg(type));
        if (m_unresponsiveAt->load() == m_change)
            return OfferRead::failure(OfferRead::Outcome::timedOut, QStringLiteral("The clipboard owner did not answer"));
        return receive(type, maxBytes, deadline);
    }

    // An offer's bytes come only from the program that made it: once another copy replaced it,
    // reads of it end empty, never with the new owner's bytes.
    bool readFromItsOwner() override { return true; }

private:
    OfferRead receive(const QString& type, qint64 maxBytes, QDeadlineTimer deadline)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard data could not be read: no pipe"));
        wl_proxy* offer = m_offer.get();
        wl_proxy_marshal_flags(offer, ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE, nullptr, versionOf(offer), 0,
                               type.toUtf8().constData(), fds[1]);
        wl_display_flush(m_display);
        ::close(fds[1]);

        // The owner writes and closes its end; each piece must come within the per-piece limit
        // and all of them before the deadline.
        OfferRead result;
        char buffer[64 * 1024];
        for (;;) {
            const qint64 remaining = deadline.remainingTime();
            const int wait = int(remaining < 0 ? m_piece.count() : qMin<qint64>(remaining, m_piece.count()));
            pollfd descriptor {fds[0], POLLIN, 0};
            const int ready = ::poll(&descriptor, 1, wait);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0) {
                ::close(fds[0]);
                m_unresponsiveAt->store(m_change);
                if (deadline.hasExpired())
                    return OfferRead::failure(OfferRead::Outcome::pastDeadline, QStringLiteral("The clipboard owner took too long"));
                qCDebug(lcWaylandPasteboard) << "clipboard owner did not answer within" << m_piece.count() << "ms";
                return OfferRead::failure(OfferRead::Outcome::timedOut,
                                          QStringLiteral("The clipboard owner did not answer within %1 ms").arg(m_piece.count()));
            }
            const ssize_t count = ::read(fds[0], buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            if (result.bytes.size() + count > maxBytes) {
                ::close(fds[0]);
                return OfferRead::failure(OfferRead::Outcome::tooLarge, QStringLiteral("The clipboard data is too large"));
            }
            result.bytes.append(buffer, count);
        }
        ::close(fds[0]);
        return result;
    }

    std::shared_ptr<wl_proxy> m_offer;
    wl_display* m_display;
    QStringList m_types;
    std::shared_ptr<std::atomic<qint64>> m_unresponsiveAt;
    qint64 m_change;
    bool m_ours;
    std::chrono::milliseconds m_piece;
    ServedTypes m_served;
};

std::shared_ptr<OfferReader> WaylandPasteboard::offerReader()
{
    m_connection->dispatchPending();
    return std::make_shared<Reader>(*this);
}

Result<QStringList> WaylandPasteboard::types() { return offerReader()->types(QDeadlineTimer(m_readTimeout)); }

Result<QByteArray> WaylandPasteboard::data(const QString& mimeType)
{
    OfferRead read = offerReader()->data(mimeType, maxTransferBytes, QDeadlineTimer(m_readTimeout));
    if (!read.ok())
        return Result<QByteArray>::failure(read.error);
    return std::move(read.bytes);
}

Result<qint64> WaylandPasteboard::write(const QList<PasteboardRepresentation>& representations)
{
    if (!m_device)
        return Result<qint64>::failure(QStringLiteral("Lumra could not take the clipboard: the compositor ended clipboard access"));
    ServedTypes served = servedTypesFor(representations);
    wl_proxy* source = wl_proxy_marshal_flags(m_manager, ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE,
                                              m_protocol.source, versionOf(m_manager), 0, nullptr);
    addListener(source, Listeners::source, this);
    for (const QString& type : std::as_const(served.types))
        wl_proxy_marshal_flags(source, ZWLR_DATA_CONTROL_SOURCE_V1_OFFER, nullptr, versionOf(source), 0,
                               type.toUtf8().constData());
    wl_proxy_marshal_flags(m_device, ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION, nullptr, versionOf(m_device), 0,
                           source);
    // The previous source is cancelled by the compositor, not by us: a reader may still be on it.
    m_source = source;
    m_served = std::move(served);
    m_expectOwnSelection = true;
    m_unresponsiveAt->store(-1);
    if (!m_connection->roundtrip(QDeadlineTimer(m_readTimeout)) || m_source != source) {
        m_expectOwnSelection = false;
        return Result<qint64>::failure(QStringLiteral("Lumra could not take the clipboard"));
    }
    ++m_changeCount;
    return m_changeCount;
}

} // namespace lumra
