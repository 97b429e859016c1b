#include "platform/wayland/WaylandPasteboard.h"

#include "platform/wayland/WaylandConnection.h"

#include <QHash>
#include <QLoggingCategory>
#include <QMutex>
#include <QSet>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <wayland-client.h>

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
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
constexpr auto firstRetry = std::chrono::milliseconds(100);
constexpr auto longestRetry = std::chrono::seconds(5);
constexpr int initialSelectionTimeoutMs = 2000;
// A compositor that cannot send a client everything it owes (a copy of many thousands of types)
// marks the client broken but only drops it when the client next speaks: Lumra speaks (a
// roundtrip) after every large offer and now and then when idle, and gives up on silence.
constexpr int largeOfferTypeEvents = 1000;
constexpr auto idleCheckInterval = std::chrono::seconds(15);
constexpr auto compositorPatience = std::chrono::seconds(5);

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

// An offer of another client's, let go by its last holder (the connection's thread, or a reader
// on the capture worker) on whichever thread that is; the connection lives as long as its offers.
struct WaylandPasteboard::Offer {
    Offer(wl_proxy* proxy, std::shared_ptr<WaylandConnection> connection)
        : proxy(proxy)
        , connection(std::move(connection))
    {
    }
    ~Offer()
    {
        destroyRequest(proxy, ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
        connection->flush();
        ::close(wake);
    }
    Offer(const Offer&) = delete;
    Offer& operator=(const Offer&) = delete;

    enum Ending { live, replaced, lost };
    // Wakes a reader waiting on its pipe.
    void end(Ending why)
    {
        ending.store(why);
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
    }

    wl_proxy* const proxy;
    const std::shared_ptr<WaylandConnection> connection;
    std::atomic<int> ending {live};
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
};

// What the connection's thread tells the main thread and the readers.
struct WaylandPasteboard::Shared {
    mutable QMutex mutex;
    qint64 changeCount = 1;
    std::shared_ptr<Offer> selection; // the newest copy only: older ones are let go unread
    QStringList selectionTypes;
    bool ownedByUs = false;
    int writesQueued = 0; // handed to the connection's thread, not yet sent: owned from the start
    ServedTypes served;
    bool changeAnnounced = false; // a notice to the main thread is on its way
    QString protocolName;
    // For readers on other threads: the change whose owner did not answer.
    std::shared_ptr<std::atomic<qint64>> unresponsiveAt = std::make_shared<std::atomic<qint64>>(-1);
};

// One write, handed from the main thread to the connection's, which sends it as it comes.
struct WriteJob {
    ServedTypes served;
};

// The data-control connection and everything on it, on the pasteboard's own thread.
class WaylandPasteboard::Session final : public QObject {
public:
    Session(std::shared_ptr<Shared> shared, WaylandPasteboard* owner)
        : m_shared(std::move(shared))
        , m_owner(owner)
        , m_retry(new QTimer(this))
        , m_idleCheck(new QTimer(this))
        , m_silence(new QTimer(this))
    {
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &Session::retry);
        m_idleCheck->setInterval(idleCheckInterval);
        connect(m_idleCheck, &QTimer::timeout, this, &Session::checkAlive);
        m_silence->setSingleShot(true);
        m_silence->setInterval(compositorPatience);
        connect(m_silence, &QTimer::timeout, this, [this] {
            lose(QStringLiteral("the compositor stopped answering"));
        });
    }
    ~Session() override { tearDown(); }

    // Connects and binds; false (with the reason in the log the first time) when that fails.
    bool open();
    void close()
    {
        m_retry->stop();
        m_idleCheck->stop();
        tearDown();
    }
    void write(const std::shared_ptr<WriteJob>& job);

private:
    struct Introduced {
        QStringList types;
        QSet<QString> seen;
        int events = 0;
    };
    // A write sent, waiting for the compositor to have handled it.
    struct PendingWrite {
        Session* session;
        wl_proxy* callback;
        wl_proxy* source;
    };
    friend struct Listeners;

    void introduced(wl_proxy* offer);
    void offered(wl_proxy* offer, const char* mimeType);
    void selected(wl_proxy* offer);
    void primarySelected(wl_proxy* offer);
    void send(wl_proxy* source, const char* mimeType, int fd);
    void cancelled(wl_proxy* source);
    void written(PendingWrite* pending);
    void reportWriteFailed(const QString& message);
    void checkAlive();
    void restored();
    bool reconnectNow();

    // Leaves the event being dispatched first: the connection is not torn down under itself.
    void loseLater(const QString& reason);
    void lose(const QString& reason);
    void retry();
    void tearDown();

    std::shared_ptr<Shared> m_shared;
    WaylandPasteboard* m_owner;
    QTimer* m_retry;
    QTimer* m_idleCheck;
    QTimer* m_silence;
    wl_proxy* m_aliveCheck = nullptr;
    bool m_restoring = false; // a break was reported and the connection has not proved itself since
    std::chrono::milliseconds m_retryDelay = firstRetry;
    std::shared_ptr<WaylandConnection> m_connection;
    quint64 m_generation = 0; // of connections, so that a late notice of a lost one is ignored
    bool m_everOpened = false;
    const DataControlProtocol* m_protocol = nullptr;
    wl_proxy* m_seat = nullptr;
    wl_proxy* m_manager = nullptr;
    wl_proxy* m_device = nullptr;
    wl_proxy* m_primary = nullptr;
    wl_proxy* m_source = nullptr; // Lumra's own, until another copy cancels it
    QHash<wl_proxy*, Introduced> m_introduced; // offers whose selection event has not come yet
    std::vector<std::unique_ptr<PendingWrite>> m_pendingWrites;
    bool m_expectOwnSelection = false;
    bool m_initialSelection = false; // the one found at the very start is no change
};

struct WaylandPasteboard::Listeners {
    using Session = WaylandPasteboard::Session;
    static Session* self(void* data) { return static_cast<Session*>(data); }

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
        [](void* d, wl_proxy*) { self(d)->loseLater(QStringLiteral("the compositor ended clipboard access")); },
        [](void* d, wl_proxy*, wl_proxy* o) { self(d)->primarySelected(o); },
    };
    static constexpr Source source {
        [](void* d, wl_proxy* s, const char* type, int32_t fd) { self(d)->send(s, type, fd); },
        [](void* d, wl_proxy* s) { self(d)->cancelled(s); },
    };
    static constexpr wl_callback_listener written {[](void* d, wl_callback*, uint32_t) {
        auto* pending = static_cast<Session::PendingWrite*>(d);
        pending->session->written(pending);
    }};
    static constexpr wl_callback_listener alive {[](void* d, wl_callback*, uint32_t) {
        Session* session = self(d);
        wl_proxy_destroy(session->m_aliveCheck);
        session->m_aliveCheck = nullptr;
        session->m_silence->stop();
        session->restored();
    }};
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

bool WaylandPasteboard::Session::open()
{
    const bool reopening = m_everOpened;
    std::unique_ptr<WaylandConnection> connection = WaylandConnection::open(reopening);
    if (!connection)
        return false;
    const DataControlProtocol* protocol = nullptr;
    if (connection->globalVersion(extProtocol.manager->name))
        protocol = &extProtocol;
    else if (connection->globalVersion(wlrProtocol.manager->name))
        protocol = &wlrProtocol;
    if (!protocol) {
        if (!reopening)
            qCWarning(lcWaylandPasteboard) << "the compositor offers no clipboard data-control protocol"
                                           << "(ext-data-control-v1 or zwlr-data-control-unstable-v1)";
        return false;
    }
    wl_proxy* seat = connection->bind(&wl_seat_interface, 1);
    if (!seat) {
        if (!reopening)
            qCWarning(lcWaylandPasteboard) << "the compositor offers no seat";
        return false;
    }
    ++m_generation;
    m_connection = std::move(connection);
    m_protocol = protocol;
    m_seat = seat;
    m_manager = m_connection->bind(protocol->manager, protocol->version);
    const quint64 generation = m_generation;
    connect(m_connection.get(), &WaylandConnection::broken, this, [this, generation](const QString& reason) {
        if (generation == m_generation)
            lose(reason);
    }, Qt::QueuedConnection);
    connect(m_connection.get(), &WaylandConnection::globalRemoved, this, [this, generation](const QByteArray& name) {
        if (generation == m_generation && m_protocol && name == m_protocol->manager->name)
            lose(QStringLiteral("the compositor withdrew clipboard data control"));
    }, Qt::QueuedConnection);

    m_device = wl_proxy_marshal_flags(m_manager, ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE, m_protocol->device,
                                      versionOf(m_manager), 0, nullptr, m_seat);
    addListener(m_device, Listeners::device, this);
    // The first selection event describes the clipboard as it is now. At the very start that is
    // what was there before Lumra; after a break it may be a copy made meanwhile, so it counts.
    m_initialSelection = !reopening;
    const bool answered = m_connection->roundtrip(QDeadlineTimer(initialSelectionTimeoutMs));
    m_initialSelection = false;
    // A compositor that drops Lumra as it describes the clipboard (a copy of too many types) is
    // tried again later, without a word each time.
    if (!answered && reopening) {
        tearDown();
        return false;
    }
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->protocolName = QString::fromLatin1(protocol->manager->name);
    }
    m_everOpened = true;
    m_retryDelay = firstRetry;
    m_idleCheck->start();
    // A new connection is trusted once the compositor has answered after describing the
    // clipboard in full: one dropped over a copy of too many types is not news to the user.
    if (reopening)
        checkAlive();
    else
        qCInfo(lcWaylandPasteboard).noquote() << "clipboard through" << protocol->manager->name;
    return true;
}

void WaylandPasteboard::Session::loseLater(const QString& reason)
{
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation, reason] {
        if (generation == m_generation)
            lose(reason);
    }, Qt::QueuedConnection);
}

void WaylandPasteboard::Session::lose(const QString& reason)
{
    if (!m_connection)
        return;
    tearDown();
    if (m_restoring)
        qCDebug(lcWaylandPasteboard).noquote() << "the restored clipboard connection broke too:" << reason;
    else
        qCWarning(lcWaylandPasteboard).noquote() << "the clipboard connection broke (" + reason
                + "): copies are not recorded until Lumra has connected again";
    m_restoring = true;
    m_retry->start(m_retryDelay);
}

void WaylandPasteboard::Session::retry()
{
    if (open())
        return;
    m_retryDelay = qMin<std::chrono::milliseconds>(m_retryDelay * 2, longestRetry);
    qCDebug(lcWaylandPasteboard) << "no clipboard connection yet; next try in" << m_retryDelay.count() << "ms";
    m_retry->start(m_retryDelay);
}

void WaylandPasteboard::Session::tearDown()
{
    if (!m_connection)
        return;
    ++m_generation;
    for (const auto& pending : m_pendingWrites)
        wl_proxy_destroy(pending->callback);
    // The compositor withdraws a lost client's copy itself; whether it was pasted first is unknown.
    if (!m_pendingWrites.empty())
        reportWriteFailed(QStringLiteral("Lumra could not take the clipboard: the clipboard connection was lost"));
    m_pendingWrites.clear();
    if (m_aliveCheck)
        wl_proxy_destroy(m_aliveCheck);
    m_aliveCheck = nullptr;
    m_silence->stop();
    for (wl_proxy* offer : m_introduced.keys())
        destroyRequest(offer, ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
    m_introduced.clear();
    if (m_primary)
        destroyRequest(m_primary, ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
    if (m_source)
        destroyRequest(m_source, ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
    if (m_device)
        destroyRequest(m_device, ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
    destroyRequest(m_manager, ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
    wl_proxy_destroy(m_seat);
    m_primary = m_source = m_device = m_manager = m_seat = nullptr;
    m_expectOwnSelection = false;
    std::shared_ptr<Offer> selection;
    {
        QMutexLocker lock(&m_shared->mutex);
        selection = std::move(m_shared->selection);
        m_shared->selectionTypes.clear();
        m_shared->ownedByUs = false;
        m_shared->served = {};
    }
    if (selection)
        selection->end(Offer::lost);
    selection.reset();
    m_connection->flush();
    m_connection->disconnect(this);
    m_connection->stopReading();
    // Readers still holding an offer keep the connection until they let go.
    m_connection.reset();
}

void WaylandPasteboard::Session::introduced(wl_proxy* offer)
{
    m_introduced.insert(offer, {});
    addListener(offer, Listeners::offer, this);
}

void WaylandPasteboard::Session::offered(wl_proxy* offer, const char* mimeType)
{
    auto it = m_introduced.find(offer);
    if (it == m_introduced.end())
        return; // types only come right after the offer is introduced
    if (++it->events == largeOfferTypeEvents)
        checkAlive();
    // Each type is an event of its own: past the limit they cost no more than being ignored.
    if (it->types.size() >= OfferLimits::maxTypes)
        return;
    const QString type = QString::fromUtf8(mimeType);
    if (!it->seen.contains(type)) {
        it->seen.insert(type);
        it->types.append(type);
    }
}

void WaylandPasteboard::Session::selected(wl_proxy* offer)
{

    QStringList types = offer ? m_introduced.take(offer).types : QStringList();
    const bool ours = m_expectOwnSelection && m_source;
    m_expectOwnSelection = false;
    std::shared_ptr<Offer> replaced;
    bool announce = false;
    {
        QMutexLocker lock(&m_shared->mutex);
        if (!offer || !m_shared->selection || offer != m_shared->selection->proxy) {
            replaced = std::move(m_shared->selection);
            if (replaced)
                replaced->end(Offer::replaced);
            m_shared->selection = offer ? std::make_shared<Offer>(offer, m_connection) : nullptr;
        }
        m_shared->selectionTypes = std::move(types);
        if (!ours && !m_initialSelection) {
            ++m_shared->changeCount;
            announce = !m_shared->changeAnnounced;
            m_shared->changeAnnounced = true;
        }
    }
    // However many copies come while the main thread is busy, it hears of them once.
    if (announce)
        QMetaObject::invokeMethod(m_owner, &WaylandPasteboard::announceChange, Qt::QueuedConnection);
}

void WaylandPasteboard::Session::primarySelected(wl_proxy* offer)
{
    m_introduced.remove(offer);
    if (offer == m_primary)
        return;
    if (m_primary)
        destroyRequest(m_primary, ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
    m_primary = offer;
}

void WaylandPasteboard::Session::send(wl_proxy* source, const char* mimeType, int fd)
{
    QByteArray data;
    bool served = false;
    if (source == m_source) {
        QMutexLocker lock(&m_shared->mutex);
        auto it = m_shared->served.data.constFind(QString::fromUtf8(mimeType));
        served = it != m_shared->served.data.constEnd();
        if (served)
            data = *it;
    }
    if (!served) {
        ::close(fd); // the reader sees an empty answer
        return;
    }
    new Writer(fd, std::move(data), this);
}

void WaylandPasteboard::Session::cancelled(wl_proxy* source)
{
    destroyRequest(source, ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
    if (source != m_source)
        return;
    m_source = nullptr;
    QMutexLocker lock(&m_shared->mutex);
    m_shared->ownedByUs = false;
    m_shared->served = {};
}

bool WaylandPasteboard::Session::reconnectNow()
{
    // A break the connection's thread has not handled yet is handled first.
    if (m_connection) {
        m_connection->dispatchPending();
        if (m_connection->isBroken())
            lose(QStringLiteral("the Wayland connection was lost"));
    }
    if (m_device)
        return true;
    // The user is waiting: the next try is made now rather than when the pause ends.
    m_retry->stop();
    retry();
    return m_device != nullptr;
}

void WaylandPasteboard::Session::write(const std::shared_ptr<WriteJob>& job)
{
    if (!reconnectNow()) {
        {
            QMutexLocker lock(&m_shared->mutex);
            --m_shared->writesQueued;
        }
        reportWriteFailed(QStringLiteral("Lumra could not take the clipboard: its clipboard connection is being restored"));
        return;
    }
    // Sent at once, however busy the compositor: it handles the request when it can, and nothing
    // Lumra does afterwards takes the clipboard from the user again.
    ServedTypes served = std::move(job->served);
    wl_proxy* source = wl_proxy_marshal_flags(m_manager, ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE,
                                              m_protocol->source, versionOf(m_manager), 0, nullptr);
    addListener(source, Listeners::source, this);
    for (const QString& type : std::as_const(served.types))
        wl_proxy_marshal_flags(source, ZWLR_DATA_CONTROL_SOURCE_V1_OFFER, nullptr, versionOf(source), 0,
                               type.toUtf8().constData());
    wl_proxy_marshal_flags(m_device, ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION, nullptr, versionOf(m_device), 0,
                           source);
    // The previous source is cancelled by the compositor, not by us: a reader may still be on it.
    m_source = source;
    m_expectOwnSelection = true;
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->served = std::move(served);
        m_shared->ownedByUs = true;
        --m_shared->writesQueued;
        m_shared->unresponsiveAt->store(-1);
    }
    // Once the compositor has handled the request, the source is either the selection or was
    // cancelled by a copy another program made right after.
    auto* callback = reinterpret_cast<wl_proxy*>(wl_display_sync(m_connection->display()));
    m_pendingWrites.push_back(std::make_unique<PendingWrite>(PendingWrite {this, callback, source}));
    wl_callback_add_listener(reinterpret_cast<wl_callback*>(callback), &Listeners::written, m_pendingWrites.back().get());
    m_connection->flush();
}

void WaylandPasteboard::Session::written(PendingWrite* pending)
{
    wl_proxy_destroy(pending->callback);
    // Answers come in order: any other write still pending is a later one of Lumra's own, which
    // cancelled this one's source.
    const bool held = m_source == pending->source || m_pendingWrites.size() > 1;
    std::erase_if(m_pendingWrites, [pending](const auto& p) { return p.get() == pending; });
    if (held)
        return;
    m_expectOwnSelection = false;
    reportWriteFailed(QStringLiteral("Another program took the clipboard just as Lumra wrote to it: what is pasted is theirs"));
}

void WaylandPasteboard::Session::reportWriteFailed(const QString& message)
{
    QMetaObject::invokeMethod(m_owner, [owner = m_owner, message] { emit owner->writeFailed(message); }, Qt::QueuedConnection);
}

void WaylandPasteboard::Session::restored()
{
    if (!m_restoring)
        return;
    m_restoring = false;
    QMutexLocker lock(&m_shared->mutex);
    qCWarning(lcWaylandPasteboard).noquote() << "clipboard through" << m_shared->protocolName
                                             << "again: copies are recorded again";
}

void WaylandPasteboard::Session::checkAlive()
{
    if (!m_connection || m_aliveCheck)
        return;
    m_aliveCheck = reinterpret_cast<wl_proxy*>(wl_display_sync(m_connection->display()));
    wl_callback_add_listener(reinterpret_cast<wl_callback*>(m_aliveCheck), &Listeners::alive, this);
    m_connection->flush();
    m_silence->start();
}

bool WaylandPasteboard::sessionOffersDataControl()
{
    auto connection = WaylandConnection::open();
    return connection
        && (connection->globalVersion(extProtocol.manager->name) || connection->globalVersion(wlrProtocol.manager->name));
}

std::unique_ptr<WaylandPasteboard> WaylandPasteboard::create()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_SOCKET"))
        return nullptr;
    // A peer that closes its pipe early must not end Lumra with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    std::unique_ptr<WaylandPasteboard> pasteboard(new WaylandPasteboard);
    bool opened = false;
    Session* session = pasteboard->m_session;
    QMetaObject::invokeMethod(session, [session, &opened] { opened = session->open(); }, Qt::BlockingQueuedConnection);
    if (!opened)
        return nullptr;
    return pasteboard;
}

WaylandPasteboard::WaylandPasteboard()
    : m_shared(std::make_shared<Shared>())
    , m_thread(new QThread(this))
    , m_session(new Session(m_shared, this))
{
    m_thread->setObjectName(QStringLiteral("Lumra clipboard connection"));
    m_session->moveToThread(m_thread);
    m_thread->start();
}

WaylandPasteboard::~WaylandPasteboard()
{
    Session* session = m_session;
    QMetaObject::invokeMethod(session, [session] { session->close(); }, Qt::BlockingQueuedConnection);
    // Deleted on its own thread as that thread ends, with the transfers still under way.
    session->deleteLater();
    m_thread->quit();
    m_thread->wait();
}

QString WaylandPasteboard::protocolName() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->protocolName;
}

void WaylandPasteboard::announceChange()
{
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->changeAnnounced = false;
    }
    emit changed();
}

qint64 WaylandPasteboard::changeCount() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->changeCount;
}

bool WaylandPasteboard::isOwnedByUs() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->ownedByUs || m_shared->writesQueued > 0;
}

// One change's offer, read through a pipe on the caller's thread: requests on a proxy may be
// sent from any thread, and the offer (and its connection) is held until the reader lets it go.
class WaylandPasteboard::Reader final : public OfferReader {
public:
    // Takes the current change; `shared` is locked by the caller.
    Reader(const Shared& shared, std::chrono::milliseconds piece)
        : m_offer(shared.selection)
        , m_types(shared.selectionTypes)
        , m_unresponsiveAt(shared.unresponsiveAt)
        , m_change(shared.changeCount)
        , m_ours(shared.ownedByUs)
        , m_piece(piece)
    {
        if (m_ours)
            m_served = shared.served;
    }

    qint64 changeCount() const override { return m_change; }
    bool ownedByUs() const override { return m_ours; }

    Result<QStringList> types(QDeadlineTimer) override
    {
        if (!m_ours && m_offer) {
            if (const QString ended = endedBeforeRead(); !ended.isEmpty())
                return Result<QStringList>::failure(ended);
        }
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
        if (const QString ended = endedBeforeRead(); !ended.isEmpty())
            return OfferRead::failure(OfferRead::Outcome::refused, ended);
        return receive(type, maxBytes, deadline);
    }

    // An offer's bytes come only from the program that made it: once another copy replaced it,
    // reads of it end empty, never with the new owner's bytes.
    bool readFromItsOwner() override { return true; }

private:
    // Why a read of this offer would get nothing: asked after another copy replaced it, its owner
    // is no longer asked by the compositor (the pipe would only wait); on a lost connection, the
    // request never leaves Lumra.
    QString endedBeforeRead() const
    {
        switch (m_offer->ending.load()) {
        case Offer::replaced:
            return QStringLiteral("Another copy replaced it before it was read");
        case Offer::lost:
            return QStringLiteral("The clipboard connection was lost before it was read");
        default:
            return m_offer->connection->isBroken() ? QStringLiteral("The clipboard connection was lost") : QString();
        }
    }

    OfferRead receive(const QString& type, qint64 maxBytes, QDeadlineTimer deadline)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard data could not be read: no pipe"));
        wl_proxy* offer = m_offer->proxy;
        wl_proxy_marshal_flags(offer, ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE, nullptr, versionOf(offer), 0,
                               type.toUtf8().constData(), fds[1]);
        // A request that cannot leave Lumra is never answered: nothing is waited for.
        const bool sent = wl_display_flush(m_offer->connection->display()) >= 0 || errno == EAGAIN;
        ::close(fds[1]);
        if (!sent) {
            ::close(fds[0]);
            return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard connection was lost"));
        }

        // The owner writes and closes its end; each piece must come within the per-piece limit
        // and all of them before the deadline.
        OfferRead result;
        char buffer[64 * 1024];
        for (;;) {
            const qint64 remaining = deadline.remainingTime();
            const int wait = int(remaining < 0 ? m_piece.count() : qMin<qint64>(remaining, m_piece.count()));
            // The wake stays readable once the offer ended: after that only the pipe is watched.
            pollfd descriptors[2] {{fds[0], POLLIN, 0}, {m_offer->wake, POLLIN, 0}};
            const int ready = ::poll(descriptors, m_offer->ending.load() == Offer::live ? 2 : 1, wait);
            if (ready < 0 && errno == EINTR)
                continue;
            // A lost connection ends the read at once: the copy is read again on the next one.
            if (m_offer->ending.load() == Offer::lost) {
                ::close(fds[0]);
                return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard connection was lost"));
            }
            if (ready > 0 && !(descriptors[0].revents & (POLLIN | POLLHUP | POLLERR)))
                continue; // replaced while read: its owner was asked first, so its answer is its own
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
            if (count <= 0) {
                // An end that came from the lost connection, not from the owner.
                if (result.bytes.isEmpty() && (m_offer->ending.load() == Offer::lost || m_offer->connection->isBroken())) {
                    ::close(fds[0]);
                    return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard connection was lost"));
                }
                break;
            }
            if (result.bytes.size() + count > maxBytes) {
                ::close(fds[0]);
                return OfferRead::failure(OfferRead::Outcome::tooLarge, QStringLiteral("The clipboard data is too large"));
            }
            result.bytes.append(buffer, count);
        }
        ::close(fds[0]);
        return result;
    }

    std::shared_ptr<Offer> m_offer;
    QStringList m_types;
    std::shared_ptr<std::atomic<qint64>> m_unresponsiveAt;
    qint64 m_change;
    bool m_ours;
    std::chrono::milliseconds m_piece;
    ServedTypes m_served;
};

std::shared_ptr<OfferReader> WaylandPasteboard::offerReader()
{
    QMutexLocker lock(&m_shared->mutex);
    return std::make_shared<Reader>(*m_shared, m_readTimeout);
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
    auto job = std::make_shared<WriteJob>();
    job->served = servedTypesFor(representations);
    qint64 changeCount;
    {
        QMutexLocker lock(&m_shared->mutex);
        changeCount = ++m_shared->changeCount;
        ++m_shared->writesQueued;
    }
    // Nothing is waited for here: a write that does not hold is told by writeFailed().
    Session* session = m_session;
    QMetaObject::invokeMethod(session, [session, job] { session->write(job); }, Qt::QueuedConnection);
    return changeCount;
}

} // namespace lumra
