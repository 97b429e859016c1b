#pragma once

#include "platform/core/BackgroundWork.h"
#include "platform/pasteboard/Pasteboard.h"

#include <chrono>
#include <memory>


namespace lumra {

// The clipboard selection of a Wayland session, through the compositor's data-control protocol
// (ext-data-control-v1 where offered, else zwlr-data-control-unstable-v1) on a connection of our
// own. Every copy arrives as a selection event with its MIME types, so a change is seen within
// milliseconds and listing the types costs no round trip. The primary selection is left alone.
//
// The connection is read and dispatched on a thread of its own, so the compositor never finds
// Lumra's end full however long the main thread is busy: of the copies made meanwhile only the
// newest offer is kept. When the compositor drops the connection anyway (or ends clipboard access,
// or withdraws the protocol), Lumra connects again with a growing pause and goes on recording. A
// compositor may also give up on a client without closing it (a copy of too many types): a
// roundtrip after every large offer and now and then when idle finds that out within seconds.
//
// Another client's data is read through a pipe with a bounded wait: an owner that sends nothing
// for the read timeout makes the read fail, and further reads of that same change fail at once,
// as do reads of an offer replaced before they began or of a lost connection.
// A write is handed to the connection's thread and sent at once, without waiting for the
// compositor: however long it takes to answer, the write lands when it does, and Lumra never
// takes the clipboard back from the user. A write that does not hold (another program copied as
// it was made, or the connection could not be restored for it) is told by writeFailed(), one that
// does by writeHeld(); a write while the connection is down connects first. Lumra's writes are served from memory for as long
// as it owns the selection; a slow reader is fed as the pipe drains, on the connection's thread.
class WaylandPasteboard final : public Pasteboard {
    Q_OBJECT
public:
    // nullptr when there is no Wayland session or the compositor offers no data-control protocol.
    static std::unique_ptr<WaylandPasteboard> create();
    ~WaylandPasteboard() override;

    // Whether the session's compositor offers a data-control protocol; usable before the
    // application object exists.
    static bool sessionOffersDataControl();

    // The protocol in use: "ext_data_control_manager_v1" or "zwlr_data_control_manager_v1".
    QString protocolName() const;
    // For diagnostics: how many times the connection was opened again after it broke or failed.
    int reconnectAttempts() const;

    void setReadTimeout(std::chrono::milliseconds timeout) { m_readTimeout = timeout; }

    qint64 changeCount() const override;
    bool isOwnedByUs() const override;
    // Once the compositor has handled the write and not cancelled Lumra's source for another copy.
    bool holds(qint64 changeCount) const override;
    std::shared_ptr<OfferReader> offerReader() override;
    Result<QStringList> types() override;
    Result<QByteArray> data(const QString& mimeType) override;
    Result<qint64> write(const QList<PasteboardRepresentation>& representations) override;

private:
    class Session;
    class Writer;
    class Reader;
    struct Offer;
    struct Shared;
    struct Listeners;

    WaylandPasteboard();
    void announceChange();

    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<BackgroundWork::OwnThread> m_thread;
    Session* m_session;
    std::chrono::milliseconds m_readTimeout {500};
};

} // namespace lumra
