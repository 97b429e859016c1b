#pragma once

#include "platform/pasteboard/Pasteboard.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QHash>

#include <chrono>
#include <deque>
#include <memory>
#include <vector>

namespace lumra {

class Timer;
class X11Connection;

// The CLIPBOARD selection on X11, on an Xlib connection of our own.
//
// Changes are seen through XFixes selection-owner events, so a copy is noticed within
// milliseconds. Other applications' data is read with a bounded wait: QClipboard converts
// synchronously and can stall the main thread for seconds on a slow or dead owner, whereas
// here an owner that does not answer within the read timeout makes the read fail, and further
// reads of that same change fail at once.
//
// Lumra's writes are served from this connection too rather than through QClipboard: QClipboard
// takes the selection with the last timestamp Qt happened to see, which the server rejects
// once another client has taken it more recently, so a paste would silently put nothing on the
// clipboard. Here the selection is taken with a fresh server timestamp, large data goes out in
// INCR chunks, and Lumra keeps owning (and serving) the clipboard until someone else takes it.
// While Lumra owns it, reads are answered from memory.
//
// Serving costs the same for every request however many transfers are pending: a transfer is
// found by its (requestor, property), there are at most a few per requesting program and a
// bounded number in all, and one whose requestor stops taking its pieces is dropped. A program past
// its own bound is refused; once all are taken, a program holding fewer than the busiest one takes
// the slot of that one's transfer idle longest, so no crowd of programs keeps another's paste out.
// An X error is tied to the answer it belongs to by its serial, so a requestor that vanished costs
// its own transfers only.
class X11Pasteboard final : public Pasteboard {
    Q_OBJECT
public:
    // nullptr when not running on X11 or XFixes is missing.
    static std::unique_ptr<X11Pasteboard> create();
    ~X11Pasteboard() override;

    void setReadTimeout(std::chrono::milliseconds timeout) { m_readTimeout = timeout; }
    std::chrono::milliseconds readTimeout() const { return m_readTimeout; }

    qint64 changeCount() const override;
    bool isOwnedByUs() const override;
    quint64 ownerWindow() const override { return m_owner; }
    std::shared_ptr<OfferReader> offerReader() override;
    Result<QStringList> types() override;
    Result<QByteArray> data(const QString& mimeType) override;
    Result<qint64> write(const QList<PasteboardRepresentation>& representations) override;

    // Incremental transfers that may be pending at once, per requesting program (X client, however
    // many windows it asks from) and in all.
    static constexpr int maxTransfersPerClient = 4;
    static constexpr int maxTransfers = 64;
    // A transfer whose requestor takes no piece for this long is dropped.
    static constexpr std::chrono::seconds transferStallTimeout {5};
    int pendingTransfers() const { return int(m_transfers.size()); }
    // Other programs' copies are read on up to this many connections of their own, side by side.
    static constexpr int maxReadChannels = 8;
    // Reads of other programs' copies waiting for a read channel to come free.
    int readsWaitingForAChannel() const;

private:
    struct Transfer {
        unsigned long type = 0;
        QByteArray data;
        qsizetype offset = 0;
        std::chrono::milliseconds lastProgress {}; // Clock::elapsed(): a step of the wall clock changes nothing
        quint64 id = 0; // the server reuses the ids of windows that are gone
    };
    struct TransferKey {
        unsigned long requestor = 0;
        unsigned long property = 0;
        friend bool operator==(const TransferKey&, const TransferKey&) = default;
        friend size_t qHash(const TransferKey& key, size_t seed = 0) { return qHashMulti(seed, key.requestor, key.property); }
    };
    class ReadChannel;
    class ReadChannels;
    class Reader;

    X11Pasteboard(std::unique_ptr<X11Connection> connection, int xfixesEventBase);
    void handleEvent(void* event);
    void serve(const void* request);
    void continueTransfer(const void* propertyEvent);
    bool startTransfer(const TransferKey& key, unsigned long type, const QByteArray& data);
    bool makeRoomFor(unsigned long client);
    void dropTransfer(const TransferKey& key);
    void dropTransfersOf(unsigned long requestor, quint64 startedBefore);
    void dropStalledTransfers();
    void answered(unsigned long firstSerial, unsigned long requestor);
    void settleErrors();
    void publishChange(); // tells the reads which change is the newest

    std::unique_ptr<X11Connection> m_connection;
    int m_xfixesEventBase;
    unsigned long m_clipboardAtom = 0;
    unsigned long m_targetsAtom = 0;
    unsigned long m_timestampAtom = 0;
    unsigned long m_incrAtom = 0;
    unsigned long m_ownWindow = 0; // the window Lumra owns the selection with
    unsigned long m_ownedSince = 0;
    quint64 m_owner = 0;
    unsigned long m_ownedAt = 0; // the server time the owner took the clipboard at, 0 when unknown
    unsigned long m_goneOwner = 0; // the owner that went away with the last change, if one did
    bool m_expectOwnEvent = false; // our write's owner event must not count twice
    qint64 m_changeCount = 1;
    std::shared_ptr<ReadChannels> m_channels; // opened as other programs' copies are read
    std::chrono::milliseconds m_readTimeout {500};
    QStringList m_servedTypes;
    QHash<QString, QByteArray> m_served;
    QHash<unsigned long, QByteArray> m_servedByAtom; // what each target atom is answered with
    std::vector<long> m_targetsReply;
    QHash<TransferKey, Transfer> m_transfers;
    quint64 m_nextTransferId = 0;
    QHash<unsigned long, int> m_transfersPerWindow; // whose property changes we listen to
    QHash<unsigned long, int> m_transfersPerClient;
    struct Answer {
        unsigned long firstSerial = 0;
        unsigned long lastSerial = 0;
        unsigned long requestor = 0;
        quint64 transfersBefore = 0; // transfers of a later window with the same id are not its
    };
    std::deque<Answer> m_unsettled; // answers the server may still report an error for, oldest first
    std::unique_ptr<Timer> m_stallSweep; // runs while transfers are pending
    std::unique_ptr<Timer> m_retiredSweep; // runs while read channels may keep retired windows
};

} // namespace lumra
