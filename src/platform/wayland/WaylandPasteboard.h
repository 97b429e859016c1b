#pragma once

#include "platform/pasteboard/Pasteboard.h"

#include <QHash>
#include <QSet>

#include <atomic>

#include <chrono>
#include <memory>

struct wl_proxy;

namespace lumra {

class WaylandConnection;
struct DataControlProtocol;

// The clipboard selection of a Wayland session, through the compositor's data-control protocol
// (ext-data-control-v1 where offered, else zwlr-data-control-unstable-v1) on a connection of our
// own. Every copy arrives as a selection event with its MIME types, so a change is seen within
// milliseconds and listing the types costs no round trip. The primary selection is left alone.
//
// Another client's data is read through a pipe with a bounded wait: an owner that sends nothing
// for the read timeout makes the read fail, and further reads of that same change fail at once.
// Lumra's writes are served from memory for as long as it owns the selection; a slow reader is
// fed as the pipe drains, so it never stalls the main thread.
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

    void setReadTimeout(std::chrono::milliseconds timeout) { m_readTimeout = timeout; }

    qint64 changeCount() const override;
    bool isOwnedByUs() const override;
    std::shared_ptr<OfferReader> offerReader() override;
    Result<QStringList> types() override;
    Result<QByteArray> data(const QString& mimeType) override;
    Result<qint64> write(const QList<PasteboardRepresentation>& representations) override;

private:
    class Writer;
    class Reader;
    struct Listeners;
    struct Introduced {
        QStringList types;
        QSet<QString> seen;
    };

    WaylandPasteboard(std::unique_ptr<WaylandConnection> connection, const DataControlProtocol& protocol,
                      wl_proxy* seat, wl_proxy* manager);
    void offered(wl_proxy* offer, const char* mimeType);
    void introduced(wl_proxy* offer);
    void selected(wl_proxy* offer);
    void primarySelected(wl_proxy* offer);
    void finished();
    void send(wl_proxy* source, const char* mimeType, int fd);
    void cancelled(wl_proxy* source);
    void destroyOffer(wl_proxy*& offer);
    std::shared_ptr<wl_proxy> lease(wl_proxy* offer);

    std::unique_ptr<WaylandConnection> m_connection;
    const DataControlProtocol& m_protocol;
    wl_proxy* m_seat;
    wl_proxy* m_manager;
    wl_proxy* m_device = nullptr;
    QHash<wl_proxy*, Introduced> m_introduced; // offers whose selection event has not come yet
    std::shared_ptr<wl_proxy> m_selection;
    QStringList m_selectionTypes;
    wl_proxy* m_primary = nullptr;
    wl_proxy* m_source = nullptr; // Lumra's own, until another copy cancels it
    bool m_expectOwnSelection = false;
    bool m_started = false; // the selection found at start is no change
    qint64 m_changeCount = 1;
    // For readers on other threads: the change whose owner did not answer.
    std::shared_ptr<std::atomic<qint64>> m_unresponsiveAt = std::make_shared<std::atomic<qint64>>(-1);
    std::chrono::milliseconds m_readTimeout {500};
    ServedTypes m_served;
};

} // namespace lumra
