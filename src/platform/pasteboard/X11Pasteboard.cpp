#include "platform/pasteboard/X11Pasteboard.h"

#include "platform/x11/X11Connection.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMimeData>

#include <climits>
#include <vector>

#include "platform/x11/X11Includes.h"

Q_LOGGING_CATEGORY(lcPasteboard, "lumra.pasteboard")

namespace lumra {

using namespace x11;

namespace {

constexpr qint64 maxTransferBytes = qint64(256) * 1024 * 1024;

QClipboard* qtClipboard() { return QGuiApplication::clipboard(); }

bool weOwnTheClipboard()
{
    QClipboard* clipboard = qtClipboard();
    return clipboard && clipboard->ownsClipboard();
}

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
    XFixesSelectSelectionInput(display, m_connection->rootWindow(), m_clipboardAtom,
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask
                                   | XFixesSelectionClientCloseNotifyMask);
    m_owner = XGetSelectionOwner(display, m_clipboardAtom);
    m_connection->setEventHandler([this](XEvent& event) { handleEvent(&event); });
}

X11Pasteboard::~X11Pasteboard()
{
    if (m_requestor)
        XDestroyWindow(m_connection->display(), m_requestor);
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

void X11Pasteboard::emitChangedLater()
{
    if (m_changedQueued)
        return;
    m_changedQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_changedQueued = false;
            emit changed();
        },
        Qt::QueuedConnection);
}

qint64 X11Pasteboard::changeCount() const
{
    m_connection->dispatchPending();
    return m_changeCount;
}

bool X11Pasteboard::isOwnedByUs() const { return m_ownWindow != 0 && m_owner == m_ownWindow; }

Result<QStringList> X11Pasteboard::types()
{
    m_connection->dispatchPending();
    if (weOwnTheClipboard()) {
        const QMimeData* mime = qtClipboard()->mimeData();
        return mime ? mime->formats() : QStringList();
    }
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

std::optional<QString> X11Pasteboard::localText(const QString& mimeType) const
{
    using namespace PasteboardMime;
    if (mimeType != QLatin1String(utf8String) && mimeType != QLatin1String(latin1String))
        return std::nullopt;
    const QMimeData* mime = qtClipboard()->mimeData();
    return mime && mime->hasText() ? std::optional(mime->text()) : std::nullopt;
}

Result<QByteArray> X11Pasteboard::data(const QString& mimeType)
{
    m_connection->dispatchPending();
    if (weOwnTheClipboard()) {
        if (auto text = localText(mimeType))
            return mimeType == QLatin1String(PasteboardMime::latin1String) ? text->toLatin1() : text->toUtf8();
        const QMimeData* mime = qtClipboard()->mimeData();
        if (!mime || !mime->hasFormat(mimeType))
            return Result<QByteArray>::failure(QStringLiteral("The clipboard holds no %1").arg(mimeType));
        return mime->data(mimeType);
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
    QClipboard* clipboard = qtClipboard();
    if (!clipboard)
        return Result<qint64>::failure(QStringLiteral("No clipboard is available"));
    m_connection->dispatchPending();
    auto* mime = new QMimeData;
    for (const auto& representation : representations) {
        if (representation.mimeType == QLatin1String(PasteboardMime::textUtf8))
            mime->setText(QString::fromUtf8(representation.data));
        mime->setData(representation.mimeType, representation.data);
    }
    clipboard->setMimeData(mime, QClipboard::Clipboard);
    if (!clipboard->ownsClipboard())
        return Result<qint64>::failure(QStringLiteral("Lumra could not take the clipboard"));

    // QClipboard has made the server record the new owner by the time setMimeData returns, so
    // its XFixes event is already on our connection, ahead of this reply.
    Display* display = m_connection->display();
    m_ownWindow = XGetSelectionOwner(display, m_clipboardAtom);
    m_expectOwnEvent = true;
    m_connection->dispatchPending();
    m_owner = m_ownWindow;
    m_unresponsiveAt = -1;
    return ++m_changeCount;
}

} // namespace lumra
