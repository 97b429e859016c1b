#pragma once

#include "platform/pasteboard/Pasteboard.h"

#include <QMap>
#include <QMutex>

#include <atomic>

namespace lumra {

// In-memory clipboard for tests: another application "copies" with setContents(), Lumra's
// writes are recorded. Every change bumps the change count and emits changed() (queued, as
// the real one does).
class FakePasteboard final : public Pasteboard {
    Q_OBJECT
public:
    using Pasteboard::Pasteboard;

    // Another application takes the clipboard with these types and bytes, in offer order.
    void setContents(const QList<PasteboardRepresentation>& representations, quint64 ownerWindow = 0);
    void setText(const QString& text, quint64 ownerWindow = 0);
    void clear();

    // The next reads fail as if the owner did not answer.
    void setUnresponsive(bool unresponsive) { m_unresponsive = unresponsive; }
    // Reads of these types fail (the owner refuses them, or answers after the read timeout).
    void setUnreadableTypes(const QStringList& types) { m_unreadable = types; }
    // The next write fails with this message (empty: writes succeed again).
    void setWriteError(const QString& message) { m_writeError = message; }
    // Writes hold only once confirmWrite() says so, as where the compositor confirms them later.
    void setConfirmsLater(bool later) { m_confirmsLater = later; }
    void confirmWrite()
    {
        m_confirmed = m_changeCount;
        emit writeHeld(m_changeCount);
    }
    bool holds(qint64 changeCount) const override
    {
        return Pasteboard::holds(changeCount) && (!m_confirmsLater || m_confirmed == changeCount);
    }

    const QList<QList<PasteboardRepresentation>>& writes() const { return m_writes; }
    QStringList readsOf() const; // the types read, by data() or a reader, in order

    qint64 changeCount() const override { return m_changeCount; }
    // A copy of the current offer, safe to read on another thread, as if read whole at once.
    std::shared_ptr<OfferReader> offerReader() override;
    bool isOwnedByUs() const override { return m_ownedByUs; }
    quint64 ownerWindow() const override { return m_ownerWindow; }
    Result<QStringList> types() override;
    Result<QByteArray> data(const QString& mimeType) override;
    Result<qint64> write(const QList<PasteboardRepresentation>& representations) override;

private:
    struct Shared {
        mutable QMutex mutex;
        QStringList reads;
        std::atomic<qint64> changeCount {1};
    };
    class Reader;

    void replace(const QList<PasteboardRepresentation>& representations, bool ours, quint64 owner);

    QList<PasteboardRepresentation> m_contents;
    QList<QList<PasteboardRepresentation>> m_writes;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    QStringList m_unreadable;
    qint64 m_changeCount = 1;
    quint64 m_ownerWindow = 0;
    bool m_ownedByUs = false;
    bool m_unresponsive = false;
    bool m_confirmsLater = false;
    qint64 m_confirmed = 0;
    QString m_writeError;
};

} // namespace lumra
