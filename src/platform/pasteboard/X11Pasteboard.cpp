#include "platform/pasteboard/X11Pasteboard.h"

#include "platform/core/Clock.h"
#include "platform/x11/X11Connection.h"

#include <QLoggingCategory>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/x11/X11Includes.h"

Q_LOGGING_CATEGORY(lcPasteboard, "lumra.pasteboard")

namespace lumra {

using namespace x11;

namespace {

constexpr qint64 maxTransferBytes = qint64(256) * 1024 * 1024;
constexpr qsizetype chunkBytes = 128 * 1024; // larger data goes out incrementally
// Answers whose errors are still awaited; past this many the server is waited for once.
constexpr size_t maxUnsettledAnswers = 1024;

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
    m_targetsAtom = m_connection->atom("TARGETS");
    m_timestampAtom = m_connection->atom("TIMESTAMP");
    m_incrAtom = m_connection->atom("INCR");
    m_ownWindow = XCreateSimpleWindow(display, m_connection->rootWindow(), -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(display, m_ownWindow, PropertyChangeMask);
    XFixesSelectSelectionInput(display, m_connection->rootWindow(), m_clipboardAtom,
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask
                                   | XFixesSelectionClientCloseNotifyMask);
    m_owner = XGetSelectionOwner(display, m_clipboardAtom);
    publishChange();
    m_connection->setEventHandler([this](XEvent& event) { handleEvent(&event); });
    // A change of owner is counted and announced once for all that come before the event loop turns.
    m_connection->setCheapEvents([base = xfixesEventBase](const XEvent& event) {
        return event.type == base + XFixesSelectionNotify;
    });
}

X11Pasteboard::~X11Pasteboard()
{
    XDestroyWindow(m_connection->display(), m_ownWindow);
}

void X11Pasteboard::handleEvent(void* rawEvent)
{
    auto& event = *static_cast<XEvent*>(rawEvent);
    if (event.type != m_xfixesEventBase + XFixesSelectionNotify)
        settleErrors(); // errors read along with this event belong to answers already sent
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
    m_goneOwner = notify.subtype == XFixesSetSelectionOwnerNotify ? 0 : (notify.owner ? notify.owner : m_owner);
    m_owner = notify.subtype == XFixesSetSelectionOwnerNotify ? notify.owner : 0;
    m_ownedAt = m_owner ? notify.selection_timestamp : 0;
    const bool fromOurWrite = m_expectOwnEvent && m_owner == m_ownWindow;
    m_expectOwnEvent = false;
    if (fromOurWrite)
        return;
    ++m_changeCount;
    publishChange();
    emitChangedLater();
}

qint64 X11Pasteboard::changeCount() const
{
    m_connection->dispatchPending();
    return m_changeCount;
}

bool X11Pasteboard::isOwnedByUs() const { return m_owner == m_ownWindow; }

namespace {

// What X11 says of one taking of the clipboard: the window, and the server time it was taken at.
// A program that copies again on the same window is told apart by the time.
struct Ownership {
    unsigned long owner = 0;
    unsigned long since = 0;
    friend bool operator==(const Ownership&, const Ownership&) = default;
};

QString changedWhileRead() { return QStringLiteral("The clipboard changed while it was read"); }
QString replacedBeforeRead() { return QStringLiteral("A later copy replaced it before it was read"); }
QString ownerWentAway() { return QStringLiteral("The clipboard owner went away before its copy was read"); }
QString ownerCopiedAgain() { return QStringLiteral("Its owner copied again while it was read"); }
QString untoldCopiedAgain()
{
    return QStringLiteral("Another copy followed it at once, and which program made either is unknown");
}
QString markedCopyFollowedIt() { return QStringLiteral("A copy marked concealed followed it at once: it may hold the same secret"); }
QString replacedWhileRead() { return QStringLiteral("A later copy needed its channel while it was read"); }

} // namespace

// Reads other programs' offers on an X connection of its own, so the capture never touches the
// connection the main thread watches and serves on. Used by one read at a time (see ReadChannels).
//
// The channel hears every change of the clipboard's owner (XFixes), in the order the server made
// them, among the answers to its requests. So it knows whether the change being read is still the
// clipboard's before it asks, and whether a later owner may have made an answer. A request is sent
// only while the change's owner holds the clipboard, and the window it names stays until the
// request is answered or long after: an owner that answers a window that is gone gets an X error,
// which ends most programs.
class X11Pasteboard::ReadChannel {
public:
    static constexpr std::chrono::seconds retiredLife {30};
    static constexpr size_t maxRetired = 32;

    explicit ReadChannel(std::unique_ptr<X11Connection> connection)
        : m_connection(std::move(connection))
        , m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        m_connection->setWakeFd(m_wakeFd);
        Display* display = m_connection->display();
        int errorBase = 0;
        XFixesQueryExtension(display, &m_xfixesEventBase, &errorBase);
        m_clipboardAtom = m_connection->atom("CLIPBOARD");
        m_propertyAtom = m_connection->atom("LUMRA_SELECTION");
        m_markAtom = m_connection->atom("LUMRA_MARK");
        m_connection->setEventHandler([this](XEvent& event) { note(event); });
        XFixesSelectSelectionInput(display, m_connection->rootWindow(), m_clipboardAtom,
                                   XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask
                                       | XFixesSelectionClientCloseNotifyMask);
        m_requestor = newRequestor();
        XSync(display, XFalse); // every change from here on is heard
    }
    ~ReadChannel()
    {
        Display* display = m_connection->display();
        XDestroyWindow(display, m_requestor);
        for (const Retired& retired : m_retired)
            XDestroyWindow(display, retired.window);
        if (m_wakeFd >= 0)
            ::close(m_wakeFd);
    }

    // Any thread: the read on this channel is of a copy already replaced, and a later one waits for
    // a channel. It stops at once instead of waiting out its owner.
    void askToYield()
    {
        m_yield = true;
        const quint64 one = 1;
        if (m_wakeFd >= 0)
            (void)!::write(m_wakeFd, &one, sizeof one);
    }

    // While the channel is free (no read uses it): destroys the retired windows whose time is up.
    // True while some are left.
    bool sweepRetired()
    {
        forgetRetired(0);
        XFlush(m_connection->display());
        return !m_retired.empty();
    }

    // Starts reading `change` on this channel: empty when its owner still holds the clipboard,
    // else why it cannot be read.
    QString begin(Ownership change)
    {
        m_yield = false;
        drainWake();
        m_change = change;
        m_reading = false;
        settle();
        m_movesAtBegin = m_moves;
        m_copiedAgain.clear();
        // A channel that has heard no change yet knows only the window.
        if ((m_heard && m_latest != change) || m_ownerNow != change.owner)
            return whyMoved(replacedBeforeRead());
        m_latest = change; // also for a channel that had heard of no change yet
        m_changeProcess = m_connection->processOf(change.owner);
        m_reading = true;
        return QString();
    }

    // Before each further request of the same read: empty when nothing moved since begin().
    QString stillCurrent()
    {
        settle();
        if (m_moves != m_movesAtBegin || m_ownerNow != m_change.owner)
            return whyMoved(changedWhileRead());
        return QString();
    }

    // Why the last convert() stopped, when the clipboard's owner moved under it.
    const QString& interruption() const { return m_interruption; }

    // After the last answer: empty when, since begin() and up to `settled` at least, the change's
    // program has not taken the clipboard again and no copy marked concealed followed it. An owner
    // may answer and then copy again, or copy again in the middle of an incremental transfer: the
    // bytes read may then be the later copy's. A password manager may mark what it has just
    // offered from another process (a helper it started), so every copy heard within the window
    // is asked for its types, whichever program made it.
    QString confirm(QDeadlineTimer settled, std::chrono::milliseconds piece)
    {
        const auto isOwnerChange = [this](const XEvent& e) { return e.type == m_xfixesEventBase + XFixesSelectionNotify; };
        quint64 checked = m_movesAtBegin;
        bool cut = false; // a later read needs the channel: the copy now on the clipboard is the last one asked
        for (int interrupted = 0;;) {
            XEvent event;
            while (m_copiedAgain.isEmpty() && m_moves == checked && !cut && !settled.hasExpired()
                   && m_connection->waitFor(isOwnerChange, settled, &event))
                note(event);
            settle(); // every change the server made until now
            if (!m_copiedAgain.isEmpty())
                return m_copiedAgain;
            if (m_yield.exchange(false)) {
                drainWake();
                cut = true;
            }
            if (m_moves == checked)
                return QString();
            const quint64 moves = m_moves;
            const std::optional<QString> marked = markedCopyFollowed(piece);
            if (!marked && ++interrupted < maxInterruptedChecks)
                continue; // asked again, of the copy after it
            if (!marked)
                return QStringLiteral("Copies kept following it too fast to tell whether one is a secret");
            checked = moves;
            if (!marked->isEmpty() || cut)
                return *marked;
        }
    }

    // Asks the change's owner for `target` (begin() or stillCurrent() checked it holds the
    // clipboard). With `cut`, bytes past `maxBytes` are left unread instead of failing the read.
    OfferRead convert(const char* target, qint64 maxBytes, bool cut, std::chrono::milliseconds piece,
                      QDeadlineTimer deadline)
    {
        Display* display = m_connection->display();
        const Atom targetAtom = m_connection->atom(target);
        m_interruption.clear();
        m_marked = false;
        m_asking = true;
        XConvertSelection(display, m_clipboardAtom, targetAtom, m_propertyAtom, m_requestor, XCurrentTime);
        // The server handles the two one after the other: an owner change heard after the mark was
        // made after the request reached the owner.
        XChangeProperty(display, m_requestor, m_markAtom, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
        XFlush(display);
        XEvent event;
        const bool answered = awaitAnswer(
            [&](const XEvent& e) {
                return e.type == SelectionNotify && e.xselection.requestor == m_requestor
                    && e.xselection.selection == m_clipboardAtom && e.xselection.target == targetAtom;
            },
            earlier(piece, deadline), &event);
        m_asking = false;
        if (!answered) {
            if (!m_interruption.isEmpty()) {
                retireRequestor();
                return OfferRead::failure(OfferRead::Outcome::refused, m_interruption);
            }
            return gaveUp(piece, deadline);
        }
        if (event.xselection.property == XNone)
            return OfferRead::failure(OfferRead::Outcome::refused,
                                      QStringLiteral("The clipboard owner cannot provide %1").arg(QLatin1String(target)));
        bool incremental = false;
        OfferRead read = readProperty(maxBytes, cut, &incremental);
        if (read.ok() && incremental)
            read = readIncrementally(read.size, maxBytes, cut, piece, deadline);
        if (!read.ok())
            retireRequestor();
        return read;
    }

    // The names of a TARGETS answer that boundedTypes() keeps, in one round trip: the first ones,
    // and the markers wherever they are listed. Only these are named, as naming a hundred thousand
    // atoms takes Xlib seconds. Made-up atoms are skipped.
    QStringList typeNames(const QByteArray& raw)
    {
        std::vector<Atom> listed(raw.size() / sizeof(long));
        memcpy(listed.data(), raw.constData(), listed.size() * sizeof(long));
        QSet<Atom> markers;
        for (const char* marker : PasteboardMime::markers)
            markers.insert(m_connection->atom(marker));
        constexpr qsizetype firstOnes = OfferLimits::maxTypes + 8; // the meta targets come on top
        QSet<Atom> seen;
        std::vector<Atom> atoms;
        for (Atom atom : listed) {
            if ((atoms.size() < size_t(firstOnes) || markers.contains(atom)) && !seen.contains(atom)) {
                seen.insert(atom);
                atoms.push_back(atom);
            }
        }
        std::vector<char*> names(atoms.size(), nullptr);
        QStringList result;
        if (!atoms.empty())
            XGetAtomNames(m_connection->display(), atoms.data(), int(atoms.size()), names.data());
        for (char* name : names) {
            if (name) {
                result.append(QString::fromUtf8(name));
                XFree(name);
            }
        }
        m_connection->takeError();
        return result;
    }

private:
    struct Retired {
        Window window = 0;
        std::chrono::milliseconds since {}; // Clock::elapsed()
    };

    static constexpr int maxInterruptedChecks = 16;

    static QDeadlineTimer earlier(std::chrono::milliseconds piece, QDeadlineTimer deadline)
    {
        const QDeadlineTimer pieceDeadline(piece);
        return deadline.deadlineNSecs() < pieceDeadline.deadlineNSecs() ? deadline : pieceDeadline;
    }

    void drainWake()
    {
        quint64 pending = 0;
        if (m_wakeFd >= 0)
            (void)!::read(m_wakeFd, &pending, sizeof pending);
    }

    // Why the read's copy does not count, when the clipboard's owner now (another program's copy,
    // heard within the settle window) lists a concealed marker or does not say what it lists;
    // nothing when a later copy or a later read interrupted the asking.
    std::optional<QString> markedCopyFollowed(std::chrono::milliseconds piece)
    {
        // Lumra's own copies are never marked, and its main thread may be waiting for this read.
        if (m_ownerNow == 0 || m_connection->processOf(m_ownerNow) == qint64(::getpid()))
            return QString();
        const qint64 maxBytes = qint64(OfferLimits::maxListedTypes) * qint64(sizeof(long));
        const OfferRead read = convert("TARGETS", maxBytes, false, piece, QDeadlineTimer(piece));
        if (!m_copiedAgain.isEmpty())
            return m_copiedAgain;
        if (!std::exchange(m_interruption, QString()).isEmpty())
            return std::nullopt;
        if (read.ok())
            return describeTypes(typeNames(read.bytes)).concealed ? markedCopyFollowedIt() : QString();
        if (read.outcome == OfferRead::Outcome::refused)
            return QString(); // no list, so no marker either
        return QStringLiteral("A copy followed it at once and did not say whether it is a secret");
    }

    // One round trip: every owner change the server made before it has then been heard.
    void settle()
    {
        Display* display = m_connection->display();
        int heard = 0;
        // An idle channel may have a flood of changes waiting at the server: taken in as it comes
        // first, as the round trip would queue all of it in memory before its answer.
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            note(event);
            ++heard;
        }
        m_ownerNow = XGetSelectionOwner(display, m_clipboardAtom);
        while (XEventsQueued(display, QueuedAlready) > 0 || XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            note(event);
            ++heard;
        }
        // Changes read after the round trip's answer are newer than it: an owner that exits just
        // then must read as gone, not as still there.
        if (m_heard)
            m_ownerNow = m_latest.owner;
        // An idle channel hears a flood of changes all at once, here.
        if (heard >= X11Connection::burstEvents)
            m_connection->releaseBurstMemory();
        forgetRetired(0);
    }

    QString whyMoved(const QString& otherwise) const
    {
        return m_ownerNow == 0 && m_goneOwner == m_change.owner ? ownerWentAway() : otherwise;
    }

    void note(const XEvent& event)
    {
        if (event.type == m_xfixesEventBase + XFixesSelectionNotify) {
            const auto& notify = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
            if (notify.selection != m_clipboardAtom)
                return;
            const bool gone = notify.subtype != XFixesSetSelectionOwnerNotify;
            if (gone)
                m_goneOwner = notify.owner ? notify.owner : m_latest.owner;
            m_latest = {gone ? 0 : notify.owner, notify.selection_timestamp};
            m_heard = true;
            ++m_moves;
            if (!gone && m_reading && m_copiedAgain.isEmpty())
                m_copiedAgain = whetherCopiedAgain(notify.owner);
            // A change heard before the mark may have come before the request, which then went to
            // the later owner; after it, only the same window taking the clipboard again (or
            // going away) makes the answer suspect.
            if (m_asking && (!m_marked || (gone ? m_goneOwner : notify.owner) == m_change.owner))
                m_interruption = gone && m_goneOwner == m_change.owner ? ownerWentAway() : changedWhileRead();
            return;
        }
        if (event.type == PropertyNotify && event.xproperty.window == m_requestor && event.xproperty.atom == m_markAtom) {
            m_marked = true;
            return;
        }
        if (event.type == SelectionNotify)
            forgetRetired(event.xselection.requestor); // the late answer came: no request names it now
    }

    // Why the read's copy does not count now that `owner` took the clipboard: empty when another
    // program did. Where a process is unknown, the copy read is given up rather than risk keeping a
    // text its program marked secret a moment later.
    QString whetherCopiedAgain(Window owner)
    {
        // Not even the window tells: a program that took the gone owner's number may have its id.
        const qint64 process = m_connection->processOf(owner);
        if (process != 0 && m_changeProcess != 0)
            return process == m_changeProcess ? ownerCopiedAgain() : QString();
        qCInfo(lcPasteboard) << "no process known for clipboard owner" << (m_changeProcess ? owner : m_change.owner)
                             << "; the copy before it is not kept";
        return untoldCopiedAgain();
    }

    // Waits for the event `answer` accepts; false at the deadline or when an owner change makes
    // the answer suspect (interruption() says which).
    bool awaitAnswer(const std::function<bool(const XEvent&)>& answer, QDeadlineTimer deadline, XEvent* out)
    {
        const auto isOwnerChange = [this](const XEvent& e) { return e.type == m_xfixesEventBase + XFixesSelectionNotify; };
        for (;;) {
            XEvent event;
            if (!m_connection->waitFor([&](const XEvent& e) { return answer(e) || isOwnerChange(e); }, deadline, &event)) {
                if (m_yield)
                    m_interruption = replacedWhileRead();
                return false;
            }
            if (answer(event)) {
                *out = event;
                return true;
            }
            note(event);
            if (!m_interruption.isEmpty())
                return false;
        }
    }

    OfferRead gaveUp(std::chrono::milliseconds piece, QDeadlineTimer deadline)
    {
        retireRequestor();
        if (deadline.hasExpired())
            return OfferRead::failure(OfferRead::Outcome::pastDeadline, QStringLiteral("The clipboard owner took too long"));
        qCDebug(lcPasteboard) << "clipboard owner did not answer within" << piece.count() << "ms";
        return OfferRead::failure(OfferRead::Outcome::timedOut,
                                  QStringLiteral("The clipboard owner did not answer within %1 ms").arg(piece.count()));
    }

    Window newRequestor()
    {
        Display* display = m_connection->display();
        const Window window = XCreateSimpleWindow(display, m_connection->rootWindow(), -10, -10, 1, 1, 0, 0, 0);
        XSelectInput(display, window, PropertyChangeMask);
        return window;
    }

    // After a read that did not finish, the next request names a new window, so a late answer or
    // piece is never taken for the next one's. The old window stays until its answer comes or for
    // retiredLife: an owner may still hold a request naming it.
    void retireRequestor()
    {
        forgetRetired(0);
        Display* display = m_connection->display();
        if (m_retired.size() >= maxRetired) {
            XDestroyWindow(display, m_retired.front().window);
            m_retired.erase(m_retired.begin());
        }
        m_retired.push_back({m_requestor, Clock::shared().elapsed()});
        m_requestor = newRequestor();
        XFlush(display);
    }

    // Destroys the retired `answered` window, and those whose time is up.
    void forgetRetired(Window answered)
    {
        Display* display = m_connection->display();
        const std::chrono::milliseconds now = Clock::shared().elapsed();
        std::erase_if(m_retired, [&](const Retired& retired) {
            if (retired.window != answered && now - retired.since < retiredLife)
                return false;
            XDestroyWindow(display, retired.window);
            return true;
        });
    }

    // For an INCR answer, `size` is the size the owner announced.
    OfferRead readProperty(qint64 maxBytes, bool cut, bool* incremental)

    {
        Display* display = m_connection->display();
        Atom actualType = 0;
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* bytes = nullptr;
        const long units = long(qMin<qint64>(maxBytes / 4 + 1, maxTransferBytes / 4));
        const int status = XGetWindowProperty(display, m_requestor, m_propertyAtom, 0, units, XTrue, AnyPropertyType,
                                              &actualType, &format, &items, &after, &bytes);
        m_connection->takeError();
        if (status != XSuccess)
            return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard data could not be read"));
        OfferRead read;
        if (bytes) {
            const qint64 unit = format == 32 ? qint64(sizeof(long)) : format == 16 ? 2 : 1;
            read.bytes = QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(items * unit));
            if (actualType == m_connection->atom("INCR") && format == 32 && items >= 1)
                read.size = *reinterpret_cast<const long*>(bytes);
            XFree(bytes);
        }
        *incremental = actualType == m_connection->atom("INCR");
        if (*incremental)
            return read;
        const qint64 wireBytes = qint64(items) * (format / 8) + qint64(after);
        if (cut) {
            read.bytes.truncate(qsizetype(qMin<qint64>(read.bytes.size(), maxBytes)));
            return read;
        }
        if (after > 0 || wireBytes > maxBytes)
            return OfferRead::failure(OfferRead::Outcome::tooLarge, QStringLiteral("The clipboard data is too large"),
                                      wireBytes);
        return read;
    }

    OfferRead readIncrementally(qint64 announced, qint64 maxBytes, bool cut,
                                std::chrono::milliseconds piece, QDeadlineTimer deadline)
    {
        if (!cut && announced > maxBytes)
            return OfferRead::failure(OfferRead::Outcome::tooLarge, QStringLiteral("The clipboard data is too large"),
                                      announced);
        // Deleting the INCR property (readProperty did) asks the owner for the first chunk; each
        // chunk must arrive within the per-piece limit, all of them before the deadline, and an
        // empty one ends the transfer. The chunks are kept as they come and joined once at the
        // end: growing one buffer would copy it again and again, and an owner that sends more than
        // the limit would leave several times the limit of freed buffers behind.
        QList<QByteArray> chunks;
        qint64 total = 0;
        for (;;) {
            XEvent event;
            const bool arrived = m_connection->waitFor(
                [&](const XEvent& e) {
                    return e.type == PropertyNotify && e.xproperty.window == m_requestor
                        && e.xproperty.atom == m_propertyAtom && e.xproperty.state == PropertyNewValue;
                },
                earlier(piece, deadline), &event);
            if (!arrived && m_yield) {
                retireRequestor();
                m_interruption = replacedWhileRead();
                return OfferRead::failure(OfferRead::Outcome::refused, m_interruption);
            }
            if (!arrived)
                return gaveUp(piece, deadline);
            bool incremental = false;
            OfferRead chunk = readProperty(qMin(maxBytes - total + 1, maxTransferBytes), true, &incremental);
            if (!chunk.ok())
                return chunk;
            if (chunk.bytes.isEmpty())
                break;
            if (total + chunk.bytes.size() > maxBytes) {
                retireRequestor(); // the rest is not wanted
                if (!cut)
                    return OfferRead::failure(OfferRead::Outcome::tooLarge,
                                              QStringLiteral("The clipboard data is too large"));
                chunk.bytes.truncate(qsizetype(maxBytes - total));
                total += chunk.bytes.size();
                chunks.append(std::move(chunk.bytes));
                break;
            }
            total += chunk.bytes.size();
            chunks.append(std::move(chunk.bytes));
        }
        OfferRead result;
        if (chunks.size() == 1) {
            result.bytes = std::move(chunks.first());
            return result;
        }
        result.bytes.reserve(qsizetype(total));
        for (QByteArray& chunk : chunks)
            result.bytes += std::exchange(chunk, QByteArray());
        return result;
    }

    std::unique_ptr<X11Connection> m_connection;
    int m_wakeFd = -1; // see askToYield()
    std::atomic<bool> m_yield = false;
    int m_xfixesEventBase = 0;
    Atom m_clipboardAtom = 0;
    Atom m_propertyAtom = 0;
    Atom m_markAtom = 0;
    Window m_requestor = 0;
    std::vector<Retired> m_retired;
    // What the channel has heard of the clipboard's owner.
    Ownership m_latest;
    Window m_ownerNow = 0;
    Window m_goneOwner = 0;
    bool m_heard = false;
    quint64 m_moves = 0;
    // The read under way.
    Ownership m_change;
    quint64 m_movesAtBegin = 0;
    bool m_reading = false; // begun, and the change's process looked up
    qint64 m_changeProcess = 0; // 0 when unknown
    QString m_copiedAgain; // why the change's program (any window or connection of it) counts as copying again
    bool m_asking = false;
    bool m_marked = false;
    QString m_interruption;
};

// The read channels, so that the offers of several changes are read side by side: an owner that
// takes its time holds one channel, never the reading of the copies made after it.
class X11Pasteboard::ReadChannels {
public:
    // More than the capture reads at once, so no read waits for another's channel.
    static constexpr int maxOpen = maxReadChannels;

    // Main thread (connections are opened there), for each new read: makes sure a channel is
    // free for it and for every other read not yet started, while fewer than maxOpen are open.
    // True when it opened one. The read gives its turn back with unreserve() when it starts.
    bool prepare()
    {
        std::lock_guard lock(m_mutex);
        ++m_reserved;
        bool opened = false;
        while (qsizetype(m_free.size()) < m_reserved && m_open < maxOpen) {
            auto connection = X11Connection::open(X11Connection::Watch::unwatched);
            if (!connection) {
                if (m_open == 0)
                    qCWarning(lcPasteboard) << "no second connection to the X display; other programs' copies cannot be read";
                break;
            }
            m_free.push_back(std::make_unique<ReadChannel>(std::move(connection)));
            ++m_open;
            opened = true;
        }
        return opened;
    }
    void unreserve()
    {
        std::lock_guard lock(m_mutex);
        --m_reserved;
    }
    bool usable()
    {
        std::lock_guard lock(m_mutex);
        return m_open > 0;
    }
    // Main thread: the pasteboard's newest change, and the owner that went away with it (0 when
    // none did). Reads of older ones stop waiting for a channel.
    void noteChange(qint64 change, unsigned long goneOwner)
    {
        std::lock_guard lock(m_mutex);
        m_latestChange = change;
        m_latestGoneOwner = goneOwner;
        m_freed.notify_all();
    }
    // Empty while `change` is the newest the pasteboard has seen, else why it cannot be read.
    QString whyNotNewest(qint64 change, unsigned long owner)
    {
        std::lock_guard lock(m_mutex);
        if (m_latestChange == change)
            return QString();
        return m_latestChange == change + 1 && m_latestGoneOwner == owner ? ownerWentAway() : replacedBeforeRead();
    }
    // A free channel, waited for until the deadline or until a later change than `change` is
    // seen; nullptr when none came free. While it waits, the read of an older change (one already
    // replaced) is asked to give its channel up: the newest change is read at once, however many
    // owners of replaced copies stall.
    std::unique_ptr<ReadChannel> take(QDeadlineTimer deadline, qint64 change)
    {
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        bool askedOne = false;
        std::unique_ptr<ReadChannel> channel;
        for (;;) {
            if (m_latestChange != change)
                break;
            if (!m_free.empty()) {
                channel = std::move(m_free.back());
                m_free.pop_back();
                m_busy.push_back({channel.get(), change, false});
                break;
            }
            if (!askedOne)
                askedOne = askOlderToYield(change);
            if (deadline.isForever())
                m_freed.wait(lock);
            else if (m_freed.wait_for(lock, std::chrono::milliseconds(deadline.remainingTime())) == std::cv_status::timeout
                     && deadline.hasExpired())
                break;
        }
        --m_waiting;
        return channel;
    }
    void giveBack(std::unique_ptr<ReadChannel> channel)
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_busy, [&](const Busy& busy) { return busy.channel == channel.get(); });
        m_free.push_back(std::move(channel));
        m_freed.notify_all();
    }
    // Reads waiting for a channel to come free.
    int waiting()
    {
        std::lock_guard lock(m_mutex);
        return m_waiting;
    }
    // Main thread: destroys the free channels' retired windows whose time is up. True while any
    // channel may still hold some.
    bool sweepRetired()
    {
        std::lock_guard lock(m_mutex);
        bool left = !m_busy.empty();
        for (const auto& channel : m_free)
            left = channel->sweepRetired() || left;
        return left;
    }

private:
    struct Busy {
        ReadChannel* channel = nullptr;
        qint64 change = 0;
        bool asked = false; // asked to yield
    };

    // The read of the oldest change before `change` not yet asked: it stops at once and gives its
    // channel back. False when there is none.
    bool askOlderToYield(qint64 change)
    {
        Busy* oldest = nullptr;
        for (Busy& busy : m_busy) {
            if (!busy.asked && busy.change < change && (!oldest || busy.change < oldest->change))
                oldest = &busy;
        }
        if (!oldest)
            return false;
        oldest->asked = true;
        oldest->channel->askToYield();
        return true;
    }

    std::mutex m_mutex;
    std::condition_variable m_freed;
    std::vector<std::unique_ptr<ReadChannel>> m_free;
    std::vector<Busy> m_busy; // channels a read holds, with the change it reads
    int m_waiting = 0;
    int m_open = 0;
    qsizetype m_reserved = 0; // reads prepared for that have not asked for their channel yet
    qint64 m_latestChange = 0;
    unsigned long m_latestGoneOwner = 0;
};

// One change's offer: served from a copy of what Lumra wrote when the copy is ours, else read
// on a read channel, each answer from the program that owned the clipboard at this change. The
// read holds its channel until it is done, so the channel can tell whether anything moved between
// its requests.
class X11Pasteboard::Reader final : public OfferReader {
public:
    Reader(const X11Pasteboard& pasteboard, std::shared_ptr<ReadChannels> channels)
        : m_channels(std::move(channels))
        , m_change(pasteboard.m_changeCount)
        , m_ownership {pasteboard.m_owner, pasteboard.m_ownedAt}
        , m_ours(pasteboard.isOwnedByUs())
        , m_piece(pasteboard.m_readTimeout)
        , m_reserved(!m_ours)
        , m_settled(OfferLimits::concealedCopyWithin)
    {
        if (m_ours) {
            m_servedTypes = pasteboard.m_servedTypes;
            m_served = pasteboard.m_served;
        }
    }
    ~Reader() override
    {
        unreserve();
        release();
    }

    qint64 changeCount() const override { return m_change; }
    bool ownedByUs() const override { return m_ours; }
    quint64 ownerWindow() const override { return m_ownership.owner; }

    Result<QStringList> types(QDeadlineTimer deadline) override
    {
        if (m_ours)
            return boundedTypes(m_servedTypes);
        if (m_ownership.owner == 0 || !m_channels->usable())
            return QStringList();
        // Read whole: a marker may come last.
        const qint64 maxBytes = qint64(OfferLimits::maxListedTypes) * qint64(sizeof(long));
        QStringList names;
        OfferRead read = convert("TARGETS", maxBytes, false, deadline,
                                 [&](ReadChannel& channel, const QByteArray& atoms) { names = channel.typeNames(atoms); });
        if (read.outcome == OfferRead::Outcome::tooLarge || (read.ok() && read.bytes.size() > maxBytes)) {
            m_typesRefused = true;
            return Result<QStringList>::failure(QStringLiteral("its owner lists more than %1 types, too many to look for markers in")
                                                    .arg(OfferLimits::maxListedTypes));
        }
        if (!read.ok())
            return Result<QStringList>::failure(read.error);
        return boundedTypes(names);
    }

    OfferRead data(const QString& type, qint64 maxBytes, QDeadlineTimer deadline) override
    {
        if (m_ours) {
            auto it = m_served.constFind(type);
            if (it == m_served.constEnd())
                return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard holds no %1").arg(type));
            OfferRead read;
            read.bytes = *it;
            return read;
        }
        if (m_ownership.owner == 0 || !m_channels->usable())
            return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard is empty"));
        return convert(type.toUtf8().constData(), maxBytes, false, deadline);
    }

    bool typesRefused() const override { return m_typesRefused; }

    bool readFromItsOwner() override
    {
        if (m_channel && m_moved.isEmpty()) {
            if (QString why = m_channel->confirm(m_settled, m_piece); !why.isEmpty())
                m_moved = why;
        }
        release();
        return m_moved.isEmpty();
    }
    QString whyNotFromItsOwner() const override { return m_moved.isEmpty() ? changedWhileRead() : m_moved; }
    bool laterCopyReplacedIt() const override
    {
        return m_moved.isEmpty() || m_moved == ownerCopiedAgain() || m_moved == untoldCopiedAgain()
            || m_moved == changedWhileRead() || m_moved == replacedBeforeRead() || m_moved == replacedWhileRead();
    }

private:
    OfferRead convert(const char* target, qint64 maxBytes, bool cut, QDeadlineTimer deadline,
                      const std::function<void(ReadChannel&, const QByteArray&)>& andThen = {})
    {
        // An owner that did not answer once is not asked again for this change; a later owner
        // is never asked for it at all.
        if (m_unresponsive)
            return OfferRead::failure(OfferRead::Outcome::timedOut, QStringLiteral("The clipboard owner did not answer"));
        if (!m_moved.isEmpty())
            return OfferRead::failure(OfferRead::Outcome::refused, m_moved);
        if (!m_channel) {
            // A change the pasteboard already saw replaced is not waited for, nor asked about.
            const auto replaced = [this] {
                const QString why = m_channels->whyNotNewest(m_change, m_ownership.owner);
                return m_asked && !why.isEmpty() ? changedWhileRead() : why;
            };
            if (QString why = replaced(); !why.isEmpty())
                return stop(why);
            unreserve();
            m_channel = m_channels->take(deadline, m_change);
            if (QString why = replaced(); !m_channel && !why.isEmpty())
                return stop(why);
            if (!m_channel)
                return OfferRead::failure(OfferRead::Outcome::pastDeadline,
                                          QStringLiteral("No channel came free to read the clipboard"));
            if (QString why = m_channel->begin(m_ownership); !why.isEmpty())
                return stop(m_asked ? changedWhileRead() : why);
        } else if (QString why = m_channel->stillCurrent(); !why.isEmpty()) {
            return stop(why);
        }
        m_asked = true;
        OfferRead read = m_channel->convert(target, maxBytes, cut, m_piece, deadline);
        m_settled = QDeadlineTimer(OfferLimits::concealedCopyWithin);
        if (!m_channel->interruption().isEmpty())
            return stop(m_channel->interruption());
        if (read.ok() && andThen)
            andThen(*m_channel, read.bytes);
        m_unresponsive = read.outcome == OfferRead::Outcome::timedOut || read.outcome == OfferRead::Outcome::pastDeadline;
        return read;
    }

    // The change can no longer be read from its owner: nothing more is asked, and the read fails.
    OfferRead stop(const QString& why)
    {
        m_moved = why;
        qCDebug(lcPasteboard).noquote() << "clipboard read stopped:" << why;
        release();
        return OfferRead::failure(OfferRead::Outcome::refused, why);
    }

    void unreserve()
    {
        if (std::exchange(m_reserved, false))
            m_channels->unreserve();
    }

    void release()
    {
        if (m_channel)
            m_channels->giveBack(std::move(m_channel));
    }

    std::shared_ptr<ReadChannels> m_channels;
    std::unique_ptr<ReadChannel> m_channel;
    qint64 m_change;
    Ownership m_ownership;
    bool m_ours;
    std::chrono::milliseconds m_piece;
    bool m_reserved; // a channel was prepared for this read and not yet taken
    // See OfferLimits::concealedCopyWithin: no second taking by that program, and no copy marked
    // concealed by any. The program is its process, whatever connection or window it copies from:
    // the server gives a gone client's number to the next one, so two programs copying one after
    // the other can share it.
    QDeadlineTimer m_settled;
    bool m_asked = false;
    bool m_unresponsive = false;
    bool m_typesRefused = false;
    QString m_moved; // why the read stopped, when the clipboard's owner moved under it
    QStringList m_servedTypes;
    QHash<QString, QByteArray> m_served;
};

void X11Pasteboard::publishChange()
{
    if (!m_channels)
        m_channels = std::make_shared<ReadChannels>();
    m_channels->noteChange(m_changeCount, m_goneOwner);
}

int X11Pasteboard::readsWaitingForAChannel() const { return m_channels->waiting(); }

std::shared_ptr<OfferReader> X11Pasteboard::offerReader()
{
    m_connection->dispatchPending();
    // A channel keeps the windows of its unfinished reads for late answers; one that is not used
    // again must still let them go.
    if (!m_retiredSweep || !m_retiredSweep->isActive()) {
        m_retiredSweep = Clock::shared().start(ReadChannel::retiredLife / 3, true, [this] {
            if (!m_channels->sweepRetired())
                m_retiredSweep->stop();
        });
    }
    if (!isOwnedByUs() && m_channels->prepare()) {
        // A new channel hears only of the changes made after it listens: those made before are
        // taken in here first, so that the reader is for the newest of them.
        XSync(m_connection->display(), XFalse);
        m_connection->dispatchPending();
    }
    return std::make_shared<Reader>(*this, m_channels);
}

Result<QStringList> X11Pasteboard::types()
{
    return offerReader()->types(QDeadlineTimer(m_readTimeout));
}

Result<QByteArray> X11Pasteboard::data(const QString& mimeType)
{
    OfferRead read = offerReader()->data(mimeType, maxTransferBytes, QDeadlineTimer(m_readTimeout));
    if (!read.ok())
        return Result<QByteArray>::failure(read.error);
    return std::move(read.bytes);
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
    // Targets are matched by atom, so a request costs no round trip to learn its target's name.
    m_servedByAtom.clear();
    m_targetsReply = {long(m_targetsAtom), long(m_timestampAtom)};
    for (const QString& type : std::as_const(m_servedTypes)) {
        const Atom atom = m_connection->atom(type.toUtf8().constData());
        m_servedByAtom.insert(atom, m_served.value(type));
        m_targetsReply.push_back(long(atom));
    }
    for (auto it = m_transfersPerWindow.cbegin(); it != m_transfersPerWindow.cend(); ++it)
        XSelectInput(display, it.key(), NoEventMask);
    m_transfers.clear();
    m_transfersPerWindow.clear();
    m_transfersPerClient.clear();
    m_stallSweep.reset();
    m_ownedSince = time;
    // Our XFixes event is already on the connection, ahead of the reply above.
    m_expectOwnEvent = true;
    m_connection->dispatchPending();
    m_owner = m_ownWindow;
    m_ownedAt = time;
    m_goneOwner = 0;
    ++m_changeCount;
    publishChange();
    return m_changeCount;
}

void X11Pasteboard::serve(const void* rawRequest)
{
    const auto& request = *static_cast<const XSelectionRequestEvent*>(rawRequest);
    Display* display = m_connection->display();
    // Lumra reads its own copies from memory, so a request naming one of its windows is forged;
    // answering it would write to, and change the event selection of, Lumra's own window.
    if (m_connection->clientOf(request.requestor) == m_connection->clientOf(m_ownWindow)) {
        qCDebug(lcPasteboard) << "ignored a clipboard request naming Lumra's own window";
        return;
    }
    const unsigned long firstSerial = m_connection->nextRequest();
    Atom property = request.property == XNone ? request.target : request.property; // obsolete clients
    const bool current = request.owner == m_ownWindow && request.selection == m_clipboardAtom
        && m_owner == m_ownWindow
        && (request.time == XCurrentTime || request.time >= m_ownedSince);

    if (!current) {
        property = XNone;
    } else if (request.target == m_targetsAtom) {
        XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(m_targetsReply.data()), int(m_targetsReply.size()));
    } else if (request.target == m_timestampAtom) {
        const long time = long(m_ownedSince);
        XChangeProperty(display, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&time), 1);
    } else if (auto it = m_servedByAtom.constFind(request.target); it != m_servedByAtom.constEnd()) {
        if (it->size() <= chunkBytes) {
            XChangeProperty(display, request.requestor, property, request.target, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(it->constData()), int(it->size()));
        } else if (startTransfer({request.requestor, property}, request.target, *it)) {
            const long size = long(it->size());
            XChangeProperty(display, request.requestor, property, m_incrAtom, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&size), 1);
        } else {
            property = XNone; // too many transfers pending
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
    answered(firstSerial, request.requestor);
}

// The requests from `firstSerial` on answered `requestor`: an error for any of them means that
// requestor is gone, and it alone loses its transfers.
void X11Pasteboard::answered(unsigned long firstSerial, unsigned long requestor)
{
    m_unsettled.push_back({firstSerial, m_connection->nextRequest() - 1, requestor, m_nextTransferId});
    if (m_unsettled.size() <= maxUnsettledAnswers) {
        XFlush(m_connection->display());
        return;
    }
    XSync(m_connection->display(), XFalse); // every error of them is in once the server answers
    settleErrors();
}

void X11Pasteboard::settleErrors()
{
    for (const X11Connection::Error& error : m_connection->takeErrors()) {
        // Errors of other requests (the event selection of a window that is gone) need nothing.
        const auto answer = std::find_if(m_unsettled.cbegin(), m_unsettled.cend(), [&](const Answer& a) {
            return error.serial >= a.firstSerial && error.serial <= a.lastSerial;
        });
        if (answer == m_unsettled.cend())
            continue;
        qCDebug(lcPasteboard) << "a clipboard request could not be answered; the requestor is gone";
        dropTransfersOf(answer->requestor, answer->transfersBefore);
    }
    const unsigned long handled = m_connection->lastRequestHandled();
    while (!m_unsettled.empty() && m_unsettled.front().lastSerial <= handled)
        m_unsettled.pop_front();
}

bool X11Pasteboard::startTransfer(const TransferKey& key, unsigned long type, const QByteArray& data)
{
    const bool replacing = m_transfers.contains(key); // the requestor asks again on the same property
    if (!replacing) {
        // Bound per program, not per window: one program asking from many windows must not hold
        // every slot.
        const unsigned long client = m_connection->clientOf(key.requestor);
        if (m_transfersPerClient.value(client) >= maxTransfersPerClient)
            return false;
        if (m_transfers.size() >= maxTransfers)
            dropStalledTransfers();
        if (m_transfers.size() >= maxTransfers && !makeRoomFor(client))
            return false;
        ++m_transfersPerClient[client];
        ++m_transfersPerWindow[key.requestor];
    }
    // Also when the window is known: it may be a new one with the id of one that is gone.
    XSelectInput(m_connection->display(), key.requestor, PropertyChangeMask);
    m_transfers.insert(key, Transfer {type, data, 0, Clock::shared().elapsed(), m_nextTransferId++});
    if (!m_stallSweep || !m_stallSweep->isActive())
        m_stallSweep = Clock::shared().start(transferStallTimeout, true, [this] { dropStalledTransfers(); });
    return true;
}

// Every slot is taken: a program holding fewer transfers than the busiest one gets the slot of
// that one's transfer idle longest, so that many programs together cannot keep a paste out.
bool X11Pasteboard::makeRoomFor(unsigned long client)
{
    int busiest = 0;
    for (int held : std::as_const(m_transfersPerClient))
        busiest = std::max(busiest, held);
    if (m_transfersPerClient.value(client) >= busiest)
        return false;
    const Transfer* idlest = nullptr;
    TransferKey idlestKey;
    for (auto it = m_transfers.cbegin(); it != m_transfers.cend(); ++it) {
        if (m_transfersPerClient.value(m_connection->clientOf(it.key().requestor)) == busiest
            && (!idlest || it->lastProgress < idlest->lastProgress)) {
            idlest = &*it;
            idlestKey = it.key();
        }
    }
    if (!idlest)
        return false;
    qCDebug(lcPasteboard) << "dropped the longest idle clipboard transfer of the busiest requestor to serve another";
    dropTransfer(idlestKey);
    return true;
}

void X11Pasteboard::dropTransfer(const TransferKey& key)
{
    if (!m_transfers.remove(key))
        return;
    auto perClient = m_transfersPerClient.find(m_connection->clientOf(key.requestor));
    if (perClient != m_transfersPerClient.end() && --*perClient <= 0)
        m_transfersPerClient.erase(perClient);
    auto perWindow = m_transfersPerWindow.find(key.requestor);
    if (perWindow != m_transfersPerWindow.end() && --*perWindow <= 0) {
        m_transfersPerWindow.erase(perWindow);
        XSelectInput(m_connection->display(), key.requestor, NoEventMask);
    }
    if (m_transfers.isEmpty() && m_stallSweep)
        m_stallSweep->stop(); // not destroyed here: this may run inside its own callback
}

void X11Pasteboard::dropTransfersOf(unsigned long requestor, quint64 startedBefore)
{
    if (!m_transfersPerWindow.contains(requestor))
        return;
    std::vector<TransferKey> keys;
    for (auto it = m_transfers.cbegin(); it != m_transfers.cend(); ++it) {
        if (it.key().requestor == requestor && it->id < startedBefore)
            keys.push_back(it.key());
    }
    for (const TransferKey& key : keys)
        dropTransfer(key);
}

void X11Pasteboard::dropStalledTransfers()
{
    settleErrors();
    const std::chrono::milliseconds now = Clock::shared().elapsed();
    std::vector<TransferKey> stalled;
    for (auto it = m_transfers.cbegin(); it != m_transfers.cend(); ++it) {
        if (now - it->lastProgress >= transferStallTimeout)
            stalled.push_back(it.key());
    }
    for (const TransferKey& key : stalled)
        dropTransfer(key);
    if (!stalled.empty()) {
        qCDebug(lcPasteboard) << "dropped" << stalled.size() << "clipboard transfers whose requestors stopped reading";
        XFlush(m_connection->display());
    }
}

void X11Pasteboard::continueTransfer(const void* rawEvent)
{
    const auto& event = *static_cast<const XPropertyEvent*>(rawEvent);
    if (event.state != PropertyDelete)
        return;
    const TransferKey key {event.window, event.atom};
    auto it = m_transfers.find(key);
    if (it == m_transfers.end())
        return;
    // The requestor took the last piece: send the next, or an empty one to finish.
    Transfer& transfer = *it;
    Display* display = m_connection->display();
    const unsigned long firstSerial = m_connection->nextRequest();
    const qsizetype size = qMin(chunkBytes, transfer.data.size() - transfer.offset);
    XChangeProperty(display, key.requestor, key.property, transfer.type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(transfer.data.constData() + transfer.offset), int(size));
    transfer.offset += size;
    transfer.lastProgress = Clock::shared().elapsed();
    if (size == 0)
        dropTransfer(key);
    answered(firstSerial, key.requestor);
}

} // namespace lumra
