#pragma once

#include "platform/pasteboard/Pasteboard.h"

#include <QDeadlineTimer>

#include <chrono>
#include <memory>

namespace lumra {

class X11Connection;

// The CLIPBOARD selection on X11.
//
// Changes are seen through XFixes selection-owner events on a connection of our own, so a copy
// is noticed within milliseconds. Other applications' data is read on that same connection with
// a bounded wait: QClipboard converts synchronously and can stall the main thread for seconds
// on a slow or dead owner, whereas here an owner that does not answer within the read timeout
// makes the read fail, and further reads of that same change fail at once. While Lumra owns the
// clipboard its data is read from QClipboard directly (asking our own process over X would wait
// on the very thread that must answer). Writes go through QClipboard, which keeps serving the
// data after the write.
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
    Result<QStringList> types() override;
    Result<QByteArray> data(const QString& mimeType) override;
    Result<qint64> write(const QList<PasteboardRepresentation>& representations) override;

private:
    X11Pasteboard(std::unique_ptr<X11Connection> connection, int xfixesEventBase);
    void handleEvent(void* event);
    void emitChangedLater();
    std::optional<QString> localText(const QString& mimeType) const;
    Result<QByteArray> convert(unsigned long target, unsigned long* type);
    Result<QByteArray> readProperty(unsigned long* type, bool* incremental);
    Result<QByteArray> readIncrementally();
    void replaceRequestor();

    std::unique_ptr<X11Connection> m_connection;
    int m_xfixesEventBase;
    unsigned long m_clipboardAtom = 0;
    unsigned long m_propertyAtom = 0;
    unsigned long m_requestor = 0;
    quint64 m_owner = 0;
    quint64 m_ownWindow = 0;       // the window QClipboard owns the selection with
    bool m_expectOwnEvent = false; // our write's owner event must not count twice
    qint64 m_changeCount = 1;
    qint64 m_unresponsiveAt = -1; // change count whose owner did not answer
    bool m_changedQueued = false;
    std::chrono::milliseconds m_readTimeout {500};
};

} // namespace lumra
