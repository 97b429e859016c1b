#include "platform/pasteboard/X11Pasteboard.h"

#include "platform/x11/X11Connection.h"

#include <QLoggingCategory>

#include <climits>
#include <vector>

#include "platform/x11/X11Includes.h"

Q_LOGGING_CATEGORY(lcPasteboard, "lumra.pasteboard")

namespace lumra {

using namespace x11;

namespace {

constexpr qint64 maxTransferBytes = qint64(256) * 1024 * 1024;
constexpr qsizetype chunkBytes = 128 * 1024; // larger data goes out incrementally

} // namespace

std::unique_ptr<X11Pasteboard> X11Pasteboard::create()
{
    auto connection = X11Connection::open();
    if (!connection)
        return nullptr;
    int eventBase = 0;
    int errorBase = 0;
    if (!XFixesQueryExtension(connection->display(), &eventBase, &errorBase)) {
        qCWarning(lcPasteboard) << "the X server has no XFixes extension";
        return nullptr;
    }
    return std::unique_ptr<X11Pasteboard>(new X11Pasteboard(std::move(connection), eventBase));
}

X11Pasteboard::X11Pasteboard(std::unique_ptr<X11Connection> connection, int xfixesEventBase)
    : m_connection(std::move(connection))
    , m_xfixesEventBase(xfixesEventBase)
{
    Display* display = m_connection->display();
    m_clipboardAtom = m_connection->atom("CLIPBOARD");
    m_propertyAtom = m_connection->atom("LUMRA_SELECTION");
    replaceRequestor();
    m_ownWindow = XCreateSimpleWindow(display, m_connection->rootWindow(), -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(display, m_ownWindow, PropertyChangeMask);
    XFixesSelectSelectionInput(display, m_connection->rootWindow(), m_clipboardAtom,
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask
                                   | XFixesSelectionClientCloseNotifyMask);
    m_owner = XGetSelectionOwner(display, m_clipboardAtom);
    m_connection->setEventHandler([this](XEvent& event) { handleEvent(&event); });
}

struct X11Pasteboard::Transfer {
    Window requestor = 0;
    Atom property = 0;
    Atom type = 0;
    QByteArray data;
    qsizetype offset = 0;
    QDeadlineTimer expiry;
};

X11Pasteboard::~X11Pasteboard()
{
    Display* display = m_connection->display();
    XDestroyWindow(display, m_requestor);
    XDestroyWindow(display, m_ownWindow);
}

void X11Pasteboard::replaceRequestor()
{
    // A new window after a timeout: a late answer to the old request lands on a window that
    // no longer exists instead of being taken for the answer to the next one.
    Display* display = m_connection->display();
    if (m_requestor)
        XDestroyWindow(display, m_requestor);
    m_requestor = XCreateSimpleWindow(display, m_connection->rootWindow(), -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(display, m_requestor, PropertyChangeMask);
    XFlush(display);
}

void X11Pasteboard::handleEvent(void* rawEvent)
{
    auto& event = *static_cast<XEvent*>(rawEvent);
    if (event.type == SelectionRequest)
        return serve(&event.xselectionrequest);
    if (event.type == PropertyNotify)
        return continueTransfer(&event.xproperty);
    if (event.type == SelectionClear && event.xselectionclear.window == m_ownWindow) {
        m_served.clear();
        m_servedTypes.clear();
        return;
    }
    if (event.type != m_xfixesEventBase + XFixesSelectionNotify)
        return;
    const auto& notify = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
    if (notify.selection != m_clipboardAtom)
        return;
    m_owner = notify.subtype == XFixesSetSelectionOwnerNotify ? notify.owner : 0;
    const bool fromOurWrite = m_expectOwnEvent && m_owner == m_ownWindow;
    m_expectOwnEvent = false;
    if (fromOurWrite)
        return;
    ++m_changeCount;
    emitChangedLater();
}

qint64 X11Pasteboard::changeCount() const
{
    m_connection->dispatchPending();
    return m_changeCount;
}

bool X11Pasteboard::isOwnedByUs() const { return m_owner == m_ownWindow; }

bool X11Pasteboard::isOwnedNow()
{
    m_connection->dispatchPending();
    return isOwnedByUs();
}

Result<QStringList> X11Pasteboard::types()
{
    if (isOwnedNow())
        return m_servedTypes;
    if (m_owner == 0)
        return QStringList();
    unsigned long type = 0;
    auto body = convert(m_connection->atom("TARGETS"), &type);
    if (!body)
        return Result<QStringList>::failure(body.error());
    const QByteArray& raw = body.value();
    std::vector<Atom> atoms(raw.size() / sizeof(long));
    memcpy(atoms.data(), raw.constData(), atoms.size() * sizeof(long));
    std::vector<char*> names(atoms.size(), nullptr);
    QStringList result;
    if (!atoms.empty() && XGetAtomNames(m_connection->display(), atoms.data(), int(atoms.size()), names.data())) {
        static const QStringList meta {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE"};
        for (char* name : names) {
            const QString value = QString::fromUtf8(name);
            if (!meta.contains(value) && !result.contains(value))
                result.append(value);
        }
    }
    for (char* name : names) {
        if (name)
            XFree(name);
    }
    m_connection->takeError(); // an atom the owner made up
    return result;
}

Result<QByteArray> X11Pasteboard::data(const QString& mimeType)
{
    if (isOwnedNow()) {
        auto it = m_served.constFind(mimeType);
        if (it == m_served.constEnd())
            return Result<QByteArray>::failure(QStringLiteral("The clipboard holds no %1").arg(mimeType));
        return *it;
    }
    if (m_owner == 0)
        return Result<QByteArray>::failure(QStringLiteral("The clipboard is empty"));
    unsigned long type = 0;
    return convert(m_connection->atom(mimeType.toUtf8().constData()), &type);
}

Result<QByteArray> X11Pasteboard::convert(unsigned long target, unsigned long* type)
{
    const qint64 change = m_changeCount;
    if (m_unresponsiveAt == change)
        return Result<QByteArray>::failure(QStringLiteral("The clipboard owner did not answer"));
    Display* display = m_connection->display();
    XConvertSelection(display, m_clipboardAtom, target, m_propertyAtom, m_requestor, XCurrentTime);
    XFlush(display);

    XEvent event;
    const bool answered = m_connection->waitFor(
        [&](const XEvent& e) {
            return e.type == SelectionNotify && e.xselection.requestor == m_requestor
                && e.xselection.selection == m_clipboardAtom && e.xselection.target == target;
        },
        QDeadlineTimer(m_readTimeout), &event);
    if (!answered) {
        m_unresponsiveAt = change;
        replaceRequestor();
        qCDebug(lcPasteboard) << "clipboard owner did not answer within" << m_readTimeout.count() << "ms";
        return Result<QByteArray>::failure(
            QStringLiteral("The clipboard owner did not answer within %1 ms").arg(m_readTimeout.count()));
    }
    if (event.xselection.property == XNone)
        return Result<QByteArray>::failure(
            QStringLiteral("The clipboard owner cannot provide %1").arg(m_connection->atomName(target)));
    bool incremental = false;
    auto body = readProperty(type, &incremental);
    if (body && incremental)
        return readIncrementally();
    return body;
}

Result<QByteArray> X11Pasteboard::readProperty(unsigned long* type, bool* incremental)
{
    Display* display = m_connection->display();
    Atom actualType = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* bytes = nullptr;
    const int status = XGetWindowProperty(display, m_requestor, m_propertyAtom, 0, maxTransferBytes / 4, XTrue,
                                          AnyPropertyType, &actualType, &format, &items, &after, &bytes);
    m_connection->takeError();
    if (status != XSuccess)
        return Result<QByteArray>::failure(QStringLiteral("The clipboard data could not be read"));
    QByteArray result;
    if (bytes) {
        const qint64 unit = format == 32 ? qint64(sizeof(long)) : format == 16 ? 2 : 1;
        result = QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(items * unit));
        XFree(bytes);
    }
    if (after > 0)
        return Result<QByteArray>::failure(QStringLiteral("The clipboard data is too large"));
    *type = actualType;
    *incremental = actualType == m_connection->atom("INCR");
    return result;
}

Result<QByteArray> X11Pasteboard::readIncrementally()
{
    // Deleting the INCR property (readProperty did) asks the owner for the first chunk; each
    // chunk must arrive within the timeout, and an empty one ends the transfer.
    QByteArray result;
    for (;;) {
        XEvent event;
        const bool arrived = m_connection->waitFor(
            [&](const XEvent& e) {
                return e.type == PropertyNotify && e.xproperty.window == m_requestor
                    && e.xproperty.atom == m_propertyAtom && e.xproperty.state == PropertyNewValue;
            },
            QDeadlineTimer(m_readTimeout), &event);
        if (!arrived) {
            m_unresponsiveAt = m_changeCount;
            replaceRequestor();
            return Result<QByteArray>::failure(QStringLiteral("The clipboard owner stopped sending data"));
        }
        unsigned long type = 0;
        bool incremental = false;
        auto chunk = readProperty(&type, &incremental);
        if (!chunk)
            return chunk;
        if (chunk->isEmpty())
            return result;
        if (result.size() + chunk->size() > maxTransferBytes) {
            replaceRequestor();
            return Result<QByteArray>::failure(QStringLiteral("The clipboard data is too large"));
        }
        result += chunk.value();
    }
}

Result<qint64> X11Pasteboard::write(const QList<PasteboardRepresentation>& representations)
{
    auto [types, served] = servedTypesFor(representations);

    Display* display = m_connection->display();
    const unsigned long time = m_connection->serverTime(m_ownWindow, QDeadlineTimer(m_readTimeout));
    XSetSelectionOwner(display, m_clipboardAtom, m_ownWindow, time);
    if (XGetSelectionOwner(display, m_clipboardAtom) != m_ownWindow)
        return Result<qint64>::failure(QStringLiteral("Lumra could not take the clipboard"));
    m_servedTypes = types;
    m_served = served;
    m_transfers.clear();
    m_ownedSince = time;
    // Our XFixes event is already on the connection, ahead of the reply above.
    m_expectOwnEvent = true;
    m_connection->dispatchPending();
    m_owner = m_ownWindow;
    m_unresponsiveAt = -1;
    return ++m_changeCount;
}

void X11Pasteboard::serve(const void* rawRequest)
{
    const auto& request = *static_cast<const XSelectionRequestEvent*>(rawRequest);
    Display* display = m_connection->display();
    Atom property = request.property == XNone ? request.target : request.property; // obsolete clients
    const bool current = request.owner == m_ownWindow && request.selection == m_clipboardAtom
        && m_owner == m_ownWindow
        && (request.time == XCurrentTime || request.time >= m_ownedSince);
    const QString target = current ? m_connection->atomName(request.target) : QString();

    if (!current) {
        property = XNone;
    } else if (target == QLatin1String("TARGETS")) {
        std::vector<long> atoms {long(request.target), long(m_connection->atom("TIMESTAMP"))};
        for (const QString& type : std::as_const(m_servedTypes))
            atoms.push_back(long(m_connection->atom(type.toUtf8().constData())));
        XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(atoms.data()), int(atoms.size()));
    } else if (target == QLatin1String("TIMESTAMP")) {
        const long time = long(m_ownedSince);
        XChangeProperty(display, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&time), 1);
    } else if (auto it = m_served.constFind(target); it != m_served.constEnd()) {
        if (it->size() > chunkBytes) {
            auto transfer = std::make_shared<Transfer>();
            transfer->requestor = request.requestor;
            transfer->property = property;
            transfer->type = request.target;
            transfer->data = *it;
            transfer->expiry = QDeadlineTimer(std::chrono::seconds(30));
            m_transfers.removeIf([&](const auto& t) {
                return t->expiry.hasExpired() || (t->requestor == request.requestor && t->property == property);
            });
            m_transfers.append(transfer);
            XSelectInput(display, request.requestor, PropertyChangeMask);
            const long size = long(it->size());
            XChangeProperty(display, request.requestor, property, m_connection->atom("INCR"), 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&size), 1);
        } else {
            XChangeProperty(display, request.requestor, property, request.target, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(it->constData()), int(it->size()));
        }
    } else {
        property = XNone;
    }

    XEvent reply {};
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.property = property;
    reply.xselection.time = request.time;
    XSendEvent(display, request.requestor, XFalse, 0, &reply);
    XFlush(display);
    if (m_connection->takeError())
        qCDebug(lcPasteboard) << "a clipboard request could not be answered; the requestor is gone";
}

void X11Pasteboard::continueTransfer(const void* rawEvent)
{
    const auto& event = *static_cast<const XPropertyEvent*>(rawEvent);
    if (event.state != PropertyDelete)
        return;
    for (qsizetype i = 0; i < m_transfers.size(); ++i) {
        Transfer& transfer = *m_transfers[i];
        if (transfer.requestor != event.window || transfer.property != event.atom)
            continue;
        // The requestor took the last piece: send the next, or an empty one to finish.
        Display* display = m_connection->display();
        const qsizetype size = qMin(chunkBytes, transfer.data.size() - transfer.offset);
        XChangeProperty(display, transfer.requestor, transfer.property, transfer.type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(transfer.data.constData() + transfer.offset),
                        int(size));
        transfer.offset += size;
        transfer.expiry = QDeadlineTimer(std::chrono::seconds(30));
        if (size == 0) {
            XSelectInput(display, transfer.requestor, NoEventMask);
            m_transfers.removeAt(i);
        }
        XFlush(display);
        if (m_connection->takeError())
            m_transfers.removeIf([&](const auto& t) { return t->requestor == event.window; });
        return;
    }
}

} // namespace lumra
