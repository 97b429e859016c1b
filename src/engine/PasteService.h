#pragma once

#include "model/ClipboardItem.h"
#include "platform/core/Result.h"
#include "platform/pasteboard/Pasteboard.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace lumra {

class ClipboardManager;
class Clock;
namespace store {
class ManagedObject;
using ManagedObjectPtr = std::shared_ptr<ManagedObject>;
} // namespace store

// Puts history items on the clipboard and pastes them: the item is written, the paste key waits
// until the clipboard holds the write, and only then goes to the window in front. Whatever fails on
// the way is told through pasteFailed(). The manager owns it and lends it its history, settings and
// the desktop backends it was given.
class PasteService : public QObject {
    Q_OBJECT
public:
    // How the rows a paste marks are saved: the history's own commit, lent to no one else.
    using SaveRows = std::function<Status(const QList<store::ManagedObjectPtr>& rows, const char* operation)>;
    PasteService(ClipboardManager& manager, SaveRows saveRows);
    ~PasteService() override;

    // Longest wait for the clipboard to confirm Lumra's write before the paste is given up: past
    // it the user may have gone on typing.
    static constexpr std::chrono::milliseconds writeHeldPatience { 1000 };

    // Time of the last write to the clipboard; invalid before the first.
    QDateTime lastPasteDate() const { return m_lastPasteDate; }

    // One paste, from the choice to its key. Until it is written (its rich forms may take seconds)
    // it can be cancelled: by whoever chose it (the popup, as it closes), a newer write or the quit.
    // Then nothing is written, no key sent and nothing marked. Once written, its key goes.
    class Paste {
    public:
        void cancel();
        bool preparing() const; // its forms are still being made

    private:
        friend class PasteService;
        Paste(PasteService* service, quint64 write) : m_service(service), m_write(write) { }
        QPointer<PasteService> m_service;
        quint64 m_write; // 0: written (or dropped) before the paste was handed out
    };

    // Writes the item and, once the write holds and `delay` has passed, sends Ctrl+V to the window
    // in front. The item is marked pasted (as of now; moved to the top when asked) and the paste
    // counted only when the key went; a paste that cannot go is told. `plainText` leaves out rich
    // text, whose forms are otherwise made on a lane first; `written` runs once the write is made.
    // Null when nothing can be written.
    std::shared_ptr<Paste> pasteItem(const ClipboardItem& item, bool moveToTop, bool plainText,
        std::chrono::milliseconds delay, std::function<void()> written = {});
    // A write's rich forms are being made (the popup tells the user, whose Return seems to do nothing).
    bool preparing() const { return m_making.has_value(); }
    // Pastes the selection: combined into one text when the combine mode allows, else one item
    // after another on the clock.
    void pasteItems(const QList<ClipboardItem>& items);
    // One step of a sequential paste: write the item, then Ctrl+V 0.1 s later once the write holds.
    // `newline` appends a line break to a text (and a paragraph to its rich text).
    void copyAndPaste(const ClipboardItem& item, bool newline);
    // Ctrl+V to the focused window. A failure is returned, logged and signalled by pasteFailed();
    // `sent` runs once the keys went.
    Status simulatePaste(std::function<void()> sent = {});
    // Return in the popup with no item chosen: nothing is pasted, and the user is told so.
    void tellNothingChosen();

    // Writes the item to the clipboard, with no bookkeeping; the write's change count, or nothing
    // when there is nothing to write or the write fails (then the history is untouched). Its rich
    // forms are made on the calling thread.
    std::optional<qint64> writeItem(const ClipboardItem& item, bool plainText, bool newline);
    // The forms a stored RTF goes out in: links Lumra would not open made plain, a paragraph added
    // when asked, and the HTML Linux applications read. Each reads the whole document.
    static QList<PasteboardRepresentation> richTextForms(const QByteArray& rtf, bool newline);
    // Marks the rows pasted at `when` and counts one paste each (a row may be gone: still counted).
    void notePasted(const QList<QUuid>& ids, bool moveToTop, const QDateTime& when);
    // Bookkeeping and count for an item pasted another way (dragged out); nothing when its row is gone.
    void markPastedAndCount(const ClipboardItem& item);
    // Counts one paste under "totalSuccessfulPastes"; every 25th stores "pendingCelebrationMessage".
    void recordSuccessfulPaste();
    // "4 Mins", "1 Hr", "0 Secs", "2 Days".
    static QString formatTimeSaved(qint64 seconds);

signals:
    // The chosen item could not be put on the clipboard, or the synthetic Ctrl+V could not be
    // sent. The app tells the user.
    void pasteFailed(const QString& message);
    void preparingChanged(bool preparing);

private:
    // The representations to write for an item; empty when there is nothing to write.
    // `rtf` gets the stored RTF whose forms are still to be made; none when there are none.
    // `picture` gets what reads and writes a picture's forms, made where it is called.
    using FormsMaker = std::function<QList<PasteboardRepresentation>()>;
    QList<PasteboardRepresentation> pasteRepresentations(const ClipboardItem& item, bool plainText, bool newline,
        QList<FileBookmarkAccessPtr>* accesses, std::optional<QByteArray>* rtf, FormsMaker* picture);
    QList<PasteboardRepresentation> textRepresentations(
        const ClipboardItem& item, bool plainText, bool newline, std::optional<QByteArray>* rtf) const;
    FormsMaker imageForms(const ClipboardItem& item);
    // A stored picture's bytes under their own type, and as a file in `folder` (none when empty).
    static QList<PasteboardRepresentation> pictureForms(
        const std::optional<QByteArray>& data, const QString& folder, QString name);
    QList<PasteboardRepresentation> fileRepresentations(
        const ClipboardItem& item, QList<FileBookmarkAccessPtr>* accesses);
    QString pasteFolder();
    std::optional<qint64> writePasteboard(const QList<PasteboardRepresentation>& representations);
    std::optional<qint64> writeContent(const ClipboardItem& item, const QList<PasteboardRepresentation>& content,
        const QList<FileBookmarkAccessPtr>& accesses);
    // writeItem with the rich forms made on a lane: `done` gets the change count (none: nothing was
    // written), unless the write is dropped first. The write still being made, if any.
    std::optional<quint64> writeItemThen(const ClipboardItem& item, bool plainText, bool newline,
        std::function<void(std::optional<qint64>)> done);
    // The write whose forms are being made is not made; its lane's reader stops.
    void dropWriteBeingMade();
    // One step of a sequential paste; the next follows its write.
    void pasteInTurn(const QList<ClipboardItem>& items, qsizetype index, const QDateTime& chosen, quint64 sequence);
    // A clipboard write failed, at once or later (Pasteboard::writeFailed): logged and told.
    void tellWriteFailed(const QString& message);
    // The paste key could not be sent, at once or later (KeyInjector's failure handler).
    void tellPasteKeyFailed(const QString& message);
    // Ctrl+V once the write that returned `changeCount` holds and `delay` has passed, unless a write
    // failed meanwhile (it would paste something else); `sent` runs once the key went.
    void pasteAfterWrite(qint64 changeCount, std::chrono::milliseconds delay, std::function<void()> sent);
    void sendPendingPaste();
    // Marks the items pasted and moves them to the top; no count, no clipboard.
    void markPasted(const QList<ClipboardItem>& items);
    // Sets lastPastedDate (and dateAdded when `moveToTop`) on the row, unsaved; null when it is gone.
    store::ManagedObjectPtr stampPasted(const QUuid& id, bool moveToTop, const QDateTime& when = {});

    Clock& clock() const;

    ClipboardManager& m_manager;
    SaveRows m_saveRows;
    // The Ctrl+V waiting for its write to hold; a newer paste replaces it.
    struct PendingPaste {
        quint64 serial = 0;
        qint64 changeCount = 0;
        quint64 failedWrites = 0;
        bool due = false;
        std::function<void()> sent;
    };
    std::optional<PendingPaste> m_pendingPaste;
    quint64 m_pasteSerial = 0;
    // The write whose rich forms are being made on a lane; any other write drops it.
    struct WriteBeingMade {
        quint64 serial = 0;
        QFuture<QList<PasteboardRepresentation>> forms;
    };
    std::optional<WriteBeingMade> m_making;
    quint64 m_writeSerial = 0;
    quint64 m_sequenceSerial = 0; // the newest paste: a sequence still under way stops
    QDateTime m_lastPasteDate;
    bool m_pasteFolderEmptied = false;
    quint64 m_failedWrites = 0;
};

} // namespace lumra
