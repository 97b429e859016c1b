#include "engine/CaptureService.h"

#include "engine/CaptureLosses.h"
#include "model/Diagnostics.h"
#include "model/store/CaptureJournal.h"
#include "platform/pasteboard/Pasteboard.h"
#include "platform/workspace/KnownApps.h"
#include "platform/workspace/Workspace.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLoggingCategory>

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>

Q_LOGGING_CATEGORY(lcCapture, "lumra.capture")

namespace lumra {

using Lane = BackgroundWork::Lane;

namespace {

const QString captureCategoryName = QStringLiteral("Capture");

// What a copy was stored without: the log and the diagnostics say it.
void tell(const QString& message)
{
    qCInfo(lcCapture).noquote() << message;
    Diagnostics::shared().info(captureCategoryName, message);
}

std::optional<QString> nonEmpty(const QString& text)
{
    return text.isEmpty() ? std::nullopt : std::optional(text);
}

bool isIgnored(const QList<IgnoredApp>& ignored, const std::optional<AppIdentity>& app)
{
    if (!app || app->bundleId.isEmpty())
        return false;
    // Without a case: a program added by its path is listed by its file name ("xterm"), while
    // its windows, having no desktop entry, report their class ("XTerm").
    return std::any_of(ignored.begin(), ignored.end(), [&](const IgnoredApp& entry) {
        return entry.bundleIdentifier.compare(app->bundleId, Qt::CaseInsensitive) == 0;
    });
}

// The journal of one of `paths`, on a connection kept in `dbs` and opened when first asked for.
store::CaptureJournal journalIn(std::map<int, std::unique_ptr<sql::Database>>& dbs, const QStringList& paths, int store)
{
    std::unique_ptr<sql::Database>& db = dbs[store];
    if (!db && store < paths.size()) {
        db = std::make_unique<sql::Database>();
        if (Status opened = db->open(paths[store], false); !opened)
            qCWarning(lcCapture).noquote() << "Capture journal not opened:" << opened.error();
    }
    return store::CaptureJournal(db && db->isOpen() ? db.get() : nullptr);
}

QString journalledWhat(store::JournalEntry::Kind kind)
{
    switch (kind) {
    case store::JournalEntry::Kind::picture:
        return QStringLiteral("a picture");
    case store::JournalEntry::Kind::files:
        return QStringLiteral("a file list");
    case store::JournalEntry::Kind::richText:
        break;
    }
    return QStringLiteral("the formatting of a text");
}

} // namespace

// own: a picture's bytes take a while to reach the disk, and the window's thread does not wait.
struct CaptureService::JournalLane {
    // The history's store files: the first takes new entries; each is read at start, as one
    // written before sync was switched on or off is in the other.
    QStringList paths;
    std::map<int, std::unique_ptr<sql::Database>> dbs;
    struct Key {
        int store = 0;
        qint64 row = 0;
    };
    std::map<quint64, Key> keys; // the journal's row of each capture serial
    // Writes queued and not yet done or dropped; counted on the main thread's side too.
    std::mutex mutex;
    std::condition_variable idle;
    int queued = 0;

    store::CaptureJournal journal(int store = 0) { return journalIn(dbs, paths, store); }
    void change(quint64 serial, const std::function<Status(store::CaptureJournal&, qint64)>& what, bool forget)
    {
        const auto key = keys.find(serial);
        if (key == keys.end())
            return;
        store::CaptureJournal entries = journal(key->second.store);
        if (Status done = what(entries, key->second.row); !done)
            qCWarning(lcCapture).noquote() << "Capture journal not updated:" << done.error();
        if (forget)
            keys.erase(key);
    }
    void putBack(const std::vector<quint64>& serials)
    {
        std::map<int, QList<qint64>> rows;
        for (const quint64 serial : serials) {
            if (const auto key = keys.find(serial); key != keys.end())
                rows[key->second.store].append(key->second.row);
        }
        for (const auto& [store, inStore] : rows) {
            if (Status done = journal(store).putBack(inStore); !done)
                qCWarning(lcCapture).noquote() << "Capture journal not updated:" << done.error();
        }
    }
};

// Marks an entry from the journal as begun on the lane that works it, right as its work starts, so

// thread may be writing a picture meanwhile. Closed at quit: no resumed work begins after.
struct CaptureService::JournalTries {
    QStringList paths; // as the journal's
    std::mutex mutex;
    bool closed = false;
    std::map<int, std::unique_ptr<sql::Database>> dbs;

    bool begin(int store, qint64 row)
    {
        const std::lock_guard lock(mutex);
        if (closed)
            return false;
        // Unmarked, an entry Lumra died on would be tried at every start: it waits for one that can mark it.
        const Status marked = journalIn(dbs, paths, store).markBegun(row);
        if (!marked)
            qCWarning(lcCapture).noquote() << "Copy from the last run left for the next start:" << marked.error();
        return marked.ok();
    }
    void close()
    {
        const std::lock_guard lock(mutex);
        closed = true;
    }
};

struct CaptureService::TakenUp {
    QList<std::pair<int, store::JournalEntry>> entries; // by store file
    QList<store::JournalEntry> dropped;
    QString error;
};

CaptureService::CaptureService(CaptureStore& store, CaptureServices services, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_services(std::move(services))
    , m_work(m_services.work ? *m_services.work : BackgroundWork::current())
    , m_losses(std::make_unique<CaptureLosses>(m_services.clock ? *m_services.clock : Clock::shared()))
    , m_journal(std::make_shared<JournalLane>())
    , m_journalTries(std::make_shared<JournalTries>())
    , m_newestChange(std::make_shared<std::atomic<qint64>>(0))
{
    if (!m_services.clock)
        m_services.clock = &Clock::shared();
}

CaptureService::~CaptureService()
{
    m_quitting = true;
    m_journalTries->close();
    finishJournalWrites();
}

// ---------------------------------------------------------------------------- Polling

void CaptureService::start()
{
    resumeJournal();
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { storeCapturesAtQuit(); });
    Pasteboard* pasteboard = m_services.pasteboard;
    if (!pasteboard)
        return;
    // What is on the clipboard at launch was copied before Lumra ran: never captured.
    m_store.setLastChangeCount(m_services.changeCountAtLaunch.value_or(pasteboard->changeCount()));
    m_pollTimer = m_services.clock->start(std::chrono::milliseconds(500), true, [this] { checkClipboard(); });
    connect(pasteboard, &Pasteboard::changed, this, &CaptureService::checkClipboard);
}

void CaptureService::checkClipboard()
{
    Pasteboard* pasteboard = m_services.pasteboard;
    if (!pasteboard || m_quitting || !m_store.acceptsCopies())
        return;
    const qint64 lastChangeCount = m_store.lastChangeCount();
    if (pasteboard->changeCount() == lastChangeCount)
        return;
    // The reader holds the owner and change count of this moment; reading what they offer, and
    // anything a slow or hostile owner can make costly, happens on a reading thread.
    CaptureRequest request;
    request.reader = pasteboard->offerReader();
    const qint64 changeCount = request.reader->changeCount();
    // Changes in between were replaced before Lumra looked (a burst of copies, say). A flood of
    // takings, far more than anyone copies between two looks, is one loss however long it lasts.
    const qint64 unseen = changeCount - lastChangeCount - 1;
    const bool wasFlooding = std::exchange(m_flooding, unseen >= floodTakings);
    if (unseen > 0 && !(wasFlooding && m_flooding)) {
        m_losses->note(CaptureLosses::Kind::unseen,
            unseen == 1 ? QStringLiteral("Copy not read: a later copy replaced it before Lumra looked")
                        : QStringLiteral("Copies not read: %1 replaced before Lumra looked").arg(unseen),
            m_flooding ? 1 : unseen);
    }
    // Stored before any filtering: a change that is skipped is never looked at again.
    m_store.setLastChangeCount(changeCount);
    // Every change replaces the offers before it, Lumra's own included.
    m_newestChange->store(std::max(m_newestChange->load(), changeCount));
    if (request.reader->ownedByUs())
        return;

    CaptureRules rules = m_store.captureRules();
    std::optional<AppIdentity> source;
    if (Workspace* workspace = m_services.workspace) {
        source = workspace->sourceApplication(request.reader->ownerWindow());
        std::optional<AppIdentity> ignored;
        if (isIgnored(rules.ignored, source))
            ignored = source;
        else if (std::optional<AppIdentity> front = workspace->frontmostApplication(); isIgnored(rules.ignored, front))
            ignored = std::move(front);
        if (ignored) {
            m_losses->note(CaptureLosses::Kind::leftOut,
                QStringLiteral("Copy not recorded: %1 is an ignored application")
                    .arg(ignored->name.isEmpty() ? ignored->bundleId : ignored->name));
            return;
        }
    }

    PendingCapture capture;
    capture.inFlood = m_flooding;
    capture.bundleId = source ? nonEmpty(source->bundleId) : std::nullopt;
    capture.appName = source ? nonEmpty(source->name) : std::nullopt;
    capture.copiedAt = m_services.clock->now();
    request.richText = rules.richText;
    request.ignoreTransient = rules.ignoreTransient;
    request.wantImages = rules.wantImages;
    request.captured = rules.captured;
    request.bundleId = capture.bundleId;
    capture.work = m_work.run(Lane::captureReads,
        [request = std::move(request), newest = m_newestChange] { return readCapture(request, *newest); });
    const quint64 serial = capture.serial = m_nextSerial++;
    watchCapture(capture.work, serial, false);
    m_reads.emplace(serial, std::move(capture));
}

void CaptureService::watchCapture(const QFuture<PreparedCapture>& work, quint64 serial, bool derived)
{
    auto* watcher = new QFutureWatcher<PreparedCapture>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, serial, derived] {
        watcher->deleteLater();
        derived ? takeDerived(serial) : takeRead(serial);
    });
    watcher->setFuture(work);
}

bool CaptureService::hasPendingCaptures() const
{
    return !m_reads.empty() || !m_derivations.empty();
}

void CaptureService::storeCapturesAtQuit(bool lookOnceMore)
{
    if (m_quitting)
        return;
    // A copy made a moment before the quit may not have been looked at yet.
    if (lookOnceMore)
        checkClipboard();
    // Copies being read were made before the quit: their owners get the same short wait as what is
    // still being made of the copies read, all within the quit's bound.
    if (!m_reads.empty())
        qCInfo(lcCapture).noquote() << "Quitting with copies still being read:" << m_reads.size();
    Clock& clock = *m_services.clock;
    const std::chrono::milliseconds waitEnds = clock.elapsed() + quitWait;
    const auto finished = [](const std::map<quint64, PendingCapture>& pending) {
        return std::find_if(
            pending.begin(), pending.end(), [](const auto& entry) { return entry.second.work.isFinished(); });
    };
    // What the journal holds is finished at the next start: only what is not in it is waited for.
    const auto waitedFor = [this] {
        return !m_reads.empty()
            || std::any_of(m_derivations.begin(), m_derivations.end(), [](const auto& entry) { return !entry.second.journalled; });
    };
    for (;;) {
        // A copy made before the quit may reach Lumra only now, from a slow X server or compositor.
        if (lookOnceMore)
            checkClipboard();
        if (const auto read = finished(m_reads); read != m_reads.end()) {
            takeRead(read->first);
            continue;
        }
        if (const auto done = finished(m_derivations); done != m_derivations.end()) {
            takeDerived(done->first);
            continue;
        }
        if (!waitedFor() || clock.elapsed() >= waitEnds)
            break;
        clock.pause(std::chrono::milliseconds(5));
    }
    if (const qsizetype unread = qsizetype(m_reads.size()); unread > 0) {
        m_losses->note(CaptureLosses::Kind::quit,
            unread == 1 ? QStringLiteral("Copy not read: Lumra quit before its owner handed it over")
                        : QStringLiteral("Copies not read: Lumra quit before their owners handed %1 over").arg(unread),
            unread);
    }
    // No resumed work begins from here on; what began is put back below.
    m_journalTries->close();
    // What is still being derived is finished at the next start from the journal. Files are
    // stored as named meanwhile (the next start looks them up); texts are stored already. A
    // picture not in the journal is nothing without its PNG.
    std::vector<quint64> putBack;
    for (auto& [serial, capture] : m_derivations) {
        if (!capture.fileUrls.isEmpty() && !capture.resumed) {
            PreparedCapture files;
            files.kind = ClipboardContentType::file;
            files.files = unlookedFiles(capture.fileUrls);
            storePrepared(capture, files);
        } else if (!capture.row && !capture.journalled) {
            m_losses->note(
                CaptureLosses::Kind::quit, QStringLiteral("Image not captured: Lumra quit before it was converted"));
        }
        // Taken up at this start and not finished, though nothing went wrong: the next start tries it.
        if (capture.resumed)
            putBack.push_back(serial);
    }
    if (!putBack.empty())
        writeJournal([lane = m_journal, serials = std::move(putBack)] { lane->putBack(serials); });
    m_quitting = true;
    m_reads.clear();
    m_derivations.clear();
    // Before the lanes are shut down, which drops what is still queued.
    finishJournalWrites();
}

void CaptureService::takeRead(quint64 serial)
{
    auto node = m_reads.extract(serial);
    if (node.empty())
        return;
    PendingCapture& capture = node.mapped();
    if (capture.work.resultCount() == 0) {
        // Dropped by the lanes' shutdown before its owner was asked.
        m_losses->note(
            CaptureLosses::Kind::quit, QStringLiteral("Copy not read: Lumra quit before its owner handed it over"));
        return;
    }
    PreparedCapture prepared = capture.work.result();
    CaptureLosses& losses = *m_losses;
    if (capture.inFlood && (prepared.replaced || !prepared.notRead.isEmpty()))
        return; // the flood's one loss counts it
    if (prepared.replaced) {
        losses.note(CaptureLosses::Kind::replaced,
            QStringLiteral("Copy not read: a later copy replaced it before its turn came"));
        return;
    }
    if (!prepared.refusal.isEmpty()) {
        // Said in every mode: a copy the user made is missing from the history.
        losses.note(CaptureLosses::Kind::refused, prepared.refusal);
        return;
    }
    if (!prepared.notRead.isEmpty()) {
        losses.note(prepared.replacedWhileRead ? CaptureLosses::Kind::replaced : CaptureLosses::Kind::notRead,
            QStringLiteral("Copy not read: ") + prepared.notRead);
        return;
    }
    if (prepared.emptied)
        return;
    if (!prepared.unreadableTypes.isEmpty())
        qCInfo(lcCapture).noquote() << "Clipboard owner gave none of:" << prepared.unreadableTypes;
    if (!prepared.droppedForSize.isEmpty())
        tell(QStringLiteral("Copy read without its %1: larger than Lumra reads of it").arg(prepared.droppedForSize));
    if (!prepared.leftOut.isEmpty()) {
        tell(QStringLiteral("Copy read without its %1: its owner took more than %2 s to hand it over")
                 .arg(prepared.leftOut)
                 .arg(double(OfferLimits::wholeOffer.count()) / 1000.0));
    }
    if (!prepared.kind) {
        losses.note(CaptureLosses::Kind::leftOut, QStringLiteral("Copy not recorded: ") + prepared.skipped);
        return;
    }

    // A text is stored now with what was read; the rest waits for what is made of it.
    if (*prepared.kind == ClipboardContentType::text) {
        QUuid row;
        if (!storePrepared(capture, prepared, &row) || !prepared.html)
            return;
        capture.row = row;
    } else {
        capture.fileUrls = prepared.fileUrls;
    }
    // The owner may be gone by now: from here on the journal is the only other copy.
    journalCapture(capture, prepared);
    derive(std::move(capture), std::move(prepared));
}

void CaptureService::derive(PendingCapture capture, PreparedCapture prepared)
{
    const quint64 serial = capture.serial;
    Lane lane = Lane::captureResumed;
    if (!capture.resumed) {
        switch (*prepared.kind) {
        case ClipboardContentType::text:
            lane = Lane::captureRichText;
            break;
        case ClipboardContentType::image:
            lane = Lane::capturePictures;
            break;
        case ClipboardContentType::file:
            lane = Lane::captureFiles;
            break;
        }
    }
    std::shared_ptr<JournalTries> tries;
    if (capture.resumed)
        tries = m_journalTries;
    // Newest first: a burst of copies is served from the copy the user made last.
    capture.work = m_work.run(
        lane,
        [prepared = std::move(prepared), bundleId = capture.bundleId, htmlToRtf = m_services.htmlToRtf,
            decoder = m_services.decoder, tries = std::move(tries),
            entry = std::pair(capture.journalStore, capture.journalRow)]() mutable {
            if (tries && !tries->begin(entry.first, entry.second)) {
                PreparedCapture kept;
                kept.notBegun = true;
                return kept;
            }
            return deriveCapture(std::move(prepared), bundleId, htmlToRtf, decoder);
        },
        int(std::min<quint64>(serial, std::numeric_limits<int>::max())));
    watchCapture(capture.work, serial, true);
    m_derivations.emplace(serial, std::move(capture));
}

void CaptureService::journalCapture(PendingCapture& capture, const PreparedCapture& prepared)
{
    store::JournalEntry entry;
    entry.copiedAt = capture.copiedAt;
    entry.sourceAppBundleId = capture.bundleId;
    entry.sourceAppName = capture.appName;
    switch (*prepared.kind) {
    case ClipboardContentType::text:
        entry.kind = store::JournalEntry::Kind::richText;
        entry.itemId = capture.row;
        entry.payload = prepared.html.value_or(QString()).toUtf8();
        break;
    case ClipboardContentType::image:
        entry.kind = store::JournalEntry::Kind::picture;
        entry.mediaType = prepared.imageType;
        entry.payload = prepared.imageData;
        break;
    case ClipboardContentType::file:
        entry.kind = store::JournalEntry::Kind::files;
        entry.payload = prepared.fileUrls.join(QLatin1Char('\n')).toUtf8();
        break;
    }
    capture.journalled = true;
    writeJournal([lane = m_journal, serial = capture.serial, entry = std::move(entry)] {
        const Result<qint64> key = lane->journal().add(entry);
        if (key)
            lane->keys[serial] = { 0, *key };
        else
            qCWarning(lcCapture).noquote() << "Copy not kept for a restart:" << key.error();
    });
}

void CaptureService::forgetJournalled(const PendingCapture& capture)
{
    if (!capture.journalled)
        return;
    writeJournal([lane = m_journal, serial = capture.serial] {
        lane->change(
            serial, [](store::CaptureJournal& entries, qint64 row) { return entries.remove(row); }, true);
    });
}

void CaptureService::resumeJournal()
{
    const QStringList paths = m_store.journalFiles();
    if (paths.isEmpty())
        return;
    m_journal->paths = paths;
    m_journalTries->paths = paths;
    QFuture<TakenUp> taken = m_work.run(Lane::captureJournal, [lane = m_journal] {
        TakenUp taken;
        for (int file = 0; file < lane->paths.size(); ++file) {
            QList<store::JournalEntry> dropped;
            auto entries = lane->journal(file).takeUp(&dropped);
            taken.dropped += dropped;
            if (!entries) {
                taken.error = entries.error();
                continue;
            }
            for (store::JournalEntry& entry : entries.value())
                taken.entries.append({ file, std::move(entry) });
        }
        return taken;
    });
    auto* watcher = new QFutureWatcher<TakenUp>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        if (watcher->future().resultCount() == 0)
            return; // dropped at shutdown: the journal keeps it all
        const TakenUp taken = watcher->result();
        if (!taken.error.isEmpty())
            qCWarning(lcCapture).noquote() << "Capture journal not read:" << taken.error;
        // Each told once: it is gone from the journal now.
        for (const store::JournalEntry& entry : taken.dropped) {
            const QString message = QStringLiteral("Copy from the last run dropped: %1 copied %2 could not be finished")
                                        .arg(journalledWhat(entry.kind), entry.copiedAt.toString(Qt::ISODate));
            qCWarning(lcCapture).noquote() << message;
            Diagnostics::shared().warn(captureCategoryName, message);
        }
        // Quit before any of it began: the next start takes it up as it is.
        if (m_quitting)
            return;
        std::map<quint64, JournalLane::Key> keys;
        for (const auto& [file, entry] : taken.entries) {
            PendingCapture capture;
            capture.bundleId = entry.sourceAppBundleId;
            capture.appName = entry.sourceAppName;
            capture.copiedAt = entry.copiedAt;
            capture.serial = m_nextSerial++;
            capture.journalled = capture.resumed = true;
            capture.journalStore = file;
            capture.journalRow = entry.key;
            keys[capture.serial] = { file, entry.key };
            PreparedCapture prepared;
            switch (entry.kind) {
            case store::JournalEntry::Kind::picture:
                prepared.kind = ClipboardContentType::image;
                prepared.imageData = entry.payload;
                prepared.imageType = entry.mediaType;
                break;
            case store::JournalEntry::Kind::files:
                prepared.kind = ClipboardContentType::file;
                prepared.fileUrls = QString::fromUtf8(entry.payload).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                capture.fileUrls = prepared.fileUrls;
                break;
            case store::JournalEntry::Kind::richText:
                prepared.kind = ClipboardContentType::text;
                prepared.html = QString::fromUtf8(entry.payload);
                capture.row = entry.itemId;
                break;
            }
            derive(std::move(capture), std::move(prepared));
        }
        writeJournal([lane = m_journal, keys = std::move(keys)] { lane->keys.insert(keys.begin(), keys.end()); });
    });
    watcher->setFuture(taken);
}

void CaptureService::takeDerived(quint64 serial)
{
    auto node = m_derivations.extract(serial);
    if (node.empty())
        return;
    PendingCapture& capture = node.mapped();
    if (capture.work.resultCount() == 0)
        return; // dropped at shutdown: the journal keeps it
    const PreparedCapture prepared = capture.work.result();
    if (prepared.notBegun)
        return; // still in the journal, for the next start
    bool finished = true;
    if (capture.row) {
        if (prepared.rtf)
            m_store.addRichText(*capture.row, capture.copiedAt, *prepared.rtf);
        else
            finished = false;
        if (!prepared.noRichText.isEmpty())
            tell(QStringLiteral("Copy kept without its formatting: ") + prepared.noRichText);
    } else {
        finished = storePrepared(capture, prepared);
    }
    if (capture.resumed && !finished) {
        const QString message = QStringLiteral("Copy from the last run dropped: it could not be finished");
        qCWarning(lcCapture).noquote() << message;
        Diagnostics::shared().warn(captureCategoryName, message);
    }
    forgetJournalled(capture);
}

void CaptureService::writeJournal(std::function<void()> write)
{
    {
        const std::lock_guard lock(m_journal->mutex);
        ++m_journal->queued;
    }
    // Counted down as the task goes, whether it ran or the lanes' shutdown dropped it.
    std::shared_ptr<void> counted(nullptr, [lane = m_journal](void*) {
        const std::lock_guard lock(lane->mutex);
        if (--lane->queued == 0)
            lane->idle.notify_all();
    });
    m_work.start(Lane::captureJournal, [write = std::move(write), counted = std::move(counted)] { write(); });
}

void CaptureService::finishJournalWrites()
{
    // What was read must be on disk before Lumra ends, within the quit's bound. What the journal
    // holds already stays there for the next start; a write still waiting past the bound is lost.
    std::unique_lock lock(m_journal->mutex);
    if (!m_journal->idle.wait_for(lock, journalWaitAtQuit, [this] { return m_journal->queued == 0; }))
        qCWarning(lcCapture).noquote() << "Capture journal writes left unfinished at quit:" << m_journal->queued;
}

bool CaptureService::storePrepared(const PendingCapture& capture, const PreparedCapture& prepared, QUuid* textRow)
{
    const bool late = m_newestStored && *m_newestStored > capture.serial;
    bool stored = false;
    bool skipped = false; // a late copy of what was copied again since: told already
    bool countsForReminder = false;
    const auto recorded = [this](CaptureCategory category) {
        if (m_store.isCaptureEnabled(category))
            return true;
        m_losses->note(CaptureLosses::Kind::leftOut, QStringLiteral("Copy not recorded: the settings leave its kind out"));
        return false;
    };
    switch (*prepared.kind) {
    case ClipboardContentType::file:
        if (!recorded(prepared.files.category))
            return false;
        stored = m_store.storeFiles(prepared.files.urls, prepared.files.directories, prepared.files.bookmarks,
            prepared.files.category, capture.bundleId, capture.appName, capture.copiedAt, late, &skipped);
        break;
    case ClipboardContentType::text:
        if (!recorded(prepared.category))
            return false;
        stored = m_store.storeText(prepared.text, prepared.rtf, prepared.category, capture.bundleId, capture.appName,
            capture.copiedAt, late, textRow, &skipped);
        countsForReminder = true;
        break;
    case ClipboardContentType::image:
        if (!prepared.image.error.isEmpty()) {
            // Each picture's reason is told: pictures come one at a time, and each says what was wrong with it.
            const QString message = QStringLiteral("Image not captured: ") + prepared.image.error;
            qCWarning(lcCapture).noquote() << message;
            Diagnostics::shared().warn(captureCategoryName, message);
            Diagnostics::shared().countLostCopies(1);
            // Every picture is lost until the decoder can be started again: a log line is not enough.
            if (prepared.image.decoderNotStarted && !std::exchange(m_decoderFailureTold, true))
                emit picturesNotRecorded(
                    QStringLiteral("Pictures are not being recorded: Lumra's picture decoder could not be started."));
            return false;
        }
        m_decoderFailureTold = false;
        if (!recorded(prepared.image.category))
            return false;
        stored = m_store.storeImage(prepared.image.png, prepared.image.fileName, prepared.image.category,
            capture.bundleId, capture.appName, capture.copiedAt, late, &skipped);
        countsForReminder = !(capture.bundleId && KnownApps::isFileManager(*capture.bundleId));
        break;
    }
    if (!stored) {
        m_losses->note(CaptureLosses::Kind::notSaved, QStringLiteral("Copy not recorded: the history could not save it"));
        return false;
    }
    // A late copy of what was copied again since: its row tells of the later copy already.
    if (skipped)
        return false;
    m_newestStored = std::max(m_newestStored.value_or(0), capture.serial);
    Diagnostics::shared().debug(captureCategoryName,
        QStringLiteral("Captured item from ") + capture.bundleId.value_or(QStringLiteral("unknown")));
    // A copy of the last run, finished at this start, was heard and counted then.
    if (!capture.resumed)
        m_store.copyStored(countsForReminder);
    return true;
}

} // namespace lumra
