#pragma once

#include "engine/CaptureReading.h"
#include "model/ClipboardItem.h"
#include "platform/core/BackgroundWork.h"
#include "platform/core/Clock.h"

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <QStringList>
#include <QUuid>

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace lumra {

class CaptureLosses;
class Pasteboard;
class Workspace;

// What a change is read with, as the user's settings say at the moment it is seen.
struct CaptureRules {
    bool richText = false;
    bool ignoreTransient = false;
    bool wantImages = true;
    std::array<bool, captureCategoryCount> captured {}; // by kind
    QList<IgnoredApp> ignored;
};

// What capture needs of the history it feeds: the settings it reads, the change count it shares with
// paste, and where a prepared copy is stored.
class CaptureStore {
public:
    virtual ~CaptureStore() = default;
    // False while capture is paused or there is no store to write to.
    virtual bool acceptsCopies() const = 0;
    virtual CaptureRules captureRules() const = 0;
    virtual bool isCaptureEnabled(CaptureCategory category) const = 0;
    virtual qint64 lastChangeCount() const = 0;
    virtual void setLastChangeCount(qint64 changeCount) = 0;
    // The store files the journal is kept in, the one that takes new entries first; none without a store.
    virtual QStringList journalFiles() const = 0;

    // `late`: a later change was stored before this one, which keeps a row re-copied since as it is
    // (true is returned, and `skipped` set).
    virtual bool storeText(const QString& text, const std::optional<QByteArray>& rtf, CaptureCategory category,
        const std::optional<QString>& bundleId, const std::optional<QString>& appName, const QDateTime& copiedAt,
        bool late, QUuid* storedId, bool* skipped)
        = 0;
    virtual bool storeImage(const QByteArray& png, const QString& fileName, CaptureCategory category,
        const std::optional<QString>& bundleId, const std::optional<QString>& appName, const QDateTime& copiedAt,
        bool late, bool* skipped)
        = 0;
    virtual bool storeFiles(const QStringList& urls, const QList<bool>& directories, const QStringList& bookmarks,
        CaptureCategory category, const std::optional<QString>& bundleId, const std::optional<QString>& appName,
        const QDateTime& copiedAt, bool late, bool* skipped)
        = 0;
    // The rich text made for a text stored before; nothing when the row moved on meanwhile.
    virtual void addRichText(const QUuid& id, const QDateTime& copiedAt, const QByteArray& rtf) = 0;
    // After each copy the user made in this run was stored.
    virtual void copyStored(bool countsForReminder) = 0;
};

struct CaptureServices {
    Pasteboard* pasteboard = nullptr; // none: nothing is captured
    Workspace* workspace = nullptr;
    Clock* clock = nullptr;
    BackgroundWork* work = nullptr;
    std::function<QByteArray(const QString& html)> htmlToRtf;
    image::ImageDecoder* decoder = nullptr; // the capture's shared programs
    // The change count of the clipboard's content before Lumra ran: never captured.
    std::optional<qint64> changeCountAtLaunch;
};

// The road from the clipboard to the history: each change is read at once on a lane of its own; a
// copy is stored as soon as it is read, with its copy time, so the list keeps the order of the
// changes whatever finished first. What is costly to make of it (rich text from HTML, an image's
// PNG, the look-ups of copied files) is made off the main thread, and kept in the capture journal
// meanwhile, so a copy whose owner is gone survives a crash or a quit.
class CaptureService : public QObject {
    Q_OBJECT
public:
    CaptureService(CaptureStore& store, CaptureServices services, QObject* parent = nullptr);
    ~CaptureService() override;

    // Takes up what the last run left in the journal and, with a pasteboard, starts listening.
    void start();

    // Looks at the clipboard once and records what another application copied since the last
    // look. Runs every 0.5 s and as soon as the pasteboard reports a change.
    void checkClipboard();
    bool hasPendingCaptures() const;
    // Lumra quits: a change not yet looked at is read too (`lookOnceMore`); reads in flight and what
    // is made of them are waited for a short while and stored, and a copy still not read is said
    // lost. The journal's writes get a bounded wait, so what was read is on disk for the next start.
    void storeCapturesAtQuit(bool lookOnceMore = true);

    // At quit, what is still being read or derived is waited for this long.
    static constexpr std::chrono::milliseconds quitWait { 300 };
    // And the journal's writes this long: a picture's bytes take a while to reach the disk.
    static constexpr std::chrono::milliseconds journalWaitAtQuit { 500 };

signals:
    // A copied picture was not recorded as no decoder program could be started; said once until
    // one is decoded again.
    void picturesNotRecorded(const QString& message);

private:
    // The journal's reads and writes, on its lane; the tries of what the last run left.
    struct JournalLane;
    struct JournalTries;
    // The copy as the main thread saw it change.
    struct PendingCapture {
        std::optional<QString> bundleId;
        std::optional<QString> appName;
        QDateTime copiedAt;
        quint64 serial = 0; // change order
        QFuture<PreparedCapture> work;
        std::optional<QUuid> row; // the stored text whose rich text is being made
        QStringList fileUrls; // the files being looked up
        bool journalled = false; // kept in the capture journal under its serial
        bool resumed = false; // taken from the journal of an earlier run
        bool inFlood = false; // read while the clipboard was taken over and over
        int journalStore = 0; // resumed: the store file and row of its entry
        qint64 journalRow = 0;
    };
    struct TakenUp;

    void watchCapture(const QFuture<PreparedCapture>& work, quint64 serial, bool derived);
    void takeRead(quint64 serial);
    void takeDerived(quint64 serial);
    void derive(PendingCapture capture, PreparedCapture prepared);
    // The capture journal (see store::CaptureJournal): what was read is kept until it is stored.
    void journalCapture(PendingCapture& capture, const PreparedCapture& prepared);
    void forgetJournalled(const PendingCapture& capture);
    void resumeJournal();
    // Queues a write of the journal; finishJournalWrites() waits for it.
    void writeJournal(std::function<void()> write);
    void finishJournalWrites();
    bool storePrepared(const PendingCapture& capture, const PreparedCapture& prepared, QUuid* textRow = nullptr);

    CaptureStore& m_store;
    CaptureServices m_services;
    BackgroundWork& m_work;
    std::unique_ptr<Timer> m_pollTimer;
    std::unique_ptr<CaptureLosses> m_losses;
    std::shared_ptr<JournalLane> m_journal;
    std::shared_ptr<JournalTries> m_journalTries;
    std::shared_ptr<std::atomic<qint64>> m_newestChange;
    quint64 m_nextSerial = 0;
    // Takings between two looks that make a flood: no one copies that fast.
    static constexpr qint64 floodTakings = 100;
    bool m_flooding = false; // the last look found a flood
    std::optional<quint64> m_newestStored; // the serial of the latest change stored so far
    std::map<quint64, PendingCapture> m_reads; // by change order
    std::map<quint64, PendingCapture> m_derivations; // by change order
    bool m_quitting = false;
    bool m_decoderFailureTold = false; // since a picture was last decoded
};

} // namespace lumra
