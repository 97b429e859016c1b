#include "engine/ClipboardManager.h"

#include "engine/CaptureLosses.h"
#include "engine/filter/ItemClassification.h"
#include "engine/filter/LinkDetector.h"
#include "model/Diagnostics.h"
#include "model/store/CaptureJournal.h"
#include "model/store/PersistenceController.h"
#include "platform/files/FileBookmark.h"
#include "platform/core/Allocator.h"
#include "platform/files/FileChecks.h"
#include "platform/image/ImageDecoder.h"
#include "platform/image/ImageDecoding.h"
#include "platform/image/ImageFileExtensions.h"
#include "platform/image/ScreenshotDetection.h"
#include "platform/ocr/TextRecognizer.h"
#include "platform/keys/KeyInjector.h"
#include "platform/pasteboard/Pasteboard.h"
#include "platform/richtext/RtfCodec.h"
#include "platform/workspace/KnownApps.h"
#include "platform/workspace/Workspace.h"

#include <QFileInfo>
#include <QFuture>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QUrl>
#include <QtConcurrent>

#include <algorithm>
#include <limits>
#include <array>
#include <map>
#include <mutex>
#include <thread>

Q_LOGGING_CATEGORY(lcCapture, "lumra.capture")

namespace lumra {

namespace Attr = store::ItemAttr;

using namespace std::chrono_literals;

namespace {

const QString captureCategoryName = QStringLiteral("Capture");

// More files than this in one copy is refused whole: every one of them is looked up on disk.
constexpr qsizetype maxFilesPerCopy = 10000;
constexpr auto fileCheckBound = 2s;

} // namespace

// What the capture worker makes of a copied image.
struct PreparedImage {
    QByteArray png;
    QString fileName;
    CaptureCategory category = CaptureCategory::image;
    QString error; // refused or unreadable
    bool decoderNotStarted = false;
};

namespace {

// Runs off the main thread: the bytes come from another application and are checked against
// the decode limits before any pixel is decoded.
PreparedImage prepareImage(const QByteArray& raw, const std::optional<QString>& sourceAppBundleId,
                           image::ImageDecoder* decoder)
{
    PreparedImage prepared;
    if (auto header = image::readImageHeader(raw); !header) {
        prepared.error = header.error();
        return prepared;
    }
    // The capture's own decoder programs: no copy waits behind display work, nor behind another
    // application's pictures.
    auto png = image::pngData(raw, {}, 0, image::DecodeTurn::capture(sourceAppBundleId.value_or(QString()), decoder));
    if (!png) {
        prepared.error = png.error();
        prepared.decoderNotStarted = png.error() == image::ImageDecoder::notStarted;
        return prepared;
    }
    prepared.png = std::move(png).value();
    prepared.fileName = image::imageFileName(prepared.png);
    prepared.category = image::captureCategoryForImageData(raw, sourceAppBundleId);
    return prepared;
}

} // namespace

// What the worker hands back for copied files: one folder flag and one bookmark slot per URL,
// so no file of the copy is lost or shifted.
struct PreparedFiles {
    QStringList urls;
    QList<bool> directories;
    QStringList bookmarks;
    CaptureCategory category = CaptureCategory::file;
};

namespace {

CaptureCategory categoryForFiles(const QStringList& urlStrings, const QList<bool>& directories)
{
    QStringList urls;
    QList<bool> folders;
    for (qsizetype i = 0; i < urlStrings.size(); ++i) {
        const QString& string = urlStrings[i];
        if (QUrl(string, QUrl::StrictMode).isValid() && !string.isEmpty()) {
            urls.append(string);
            folders.append(directories[i] && !isPackageURL(string));
        }
    }
    if (urls.isEmpty())
        return CaptureCategory::file;
    if (!folders.contains(false))
        return CaptureCategory::folder;
    if (folders.contains(true))
        return CaptureCategory::file;
    const QSet<QString>& extensions = image::imageFileExtensions();
    for (const QString& url : urls) {
        if (!extensions.contains(QFileInfo(QUrl(url).path()).suffix().toLower()))
            return CaptureCategory::file;
    }
    return CaptureCategory::imageFile;
}

// Runs off the main thread, each file looked up within a bound (see checkFiles()). Folder URLs
// from a file manager carry no trailing slash; with `addFolderSlashes` they get it, so folder
// copies can be told from file copies as stored URLs expect.
PreparedFiles prepareFiles(const QStringList& urlStrings, bool addFolderSlashes)
{
    QStringList paths;
    paths.reserve(urlStrings.size());
    for (const QString& url : urlStrings)
        paths.append(QUrl(url).toLocalFile());
    const QList<std::optional<FileState>> states = checkFiles(paths, fileCheckBound);

    PreparedFiles prepared;
    for (qsizetype i = 0; i < urlStrings.size(); ++i) {
        QString url = urlStrings[i];
        if (addFolderSlashes && states[i] && states[i]->isDirectory && !url.endsWith(QLatin1Char('/')))
            url += QLatin1Char('/');
        const auto bookmark = FileBookmark::create(url, states[i]);
        prepared.bookmarks.append(bookmark ? QString::fromLatin1(bookmark->toBase64()) : QString());
        prepared.directories.append(FileBookmark::isDirectory(url, states[i]));
        prepared.urls.append(url);
    }
    prepared.category = categoryForFiles(prepared.urls, prepared.directories);
    return prepared;
}

// Type names for the log, never content: the first few, each cut short.
QString typeList(const QStringList& types)
{
    constexpr qsizetype shown = 6;
    QStringList names;
    for (const QString& type : types.first(std::min(types.size(), shown)))
        names.append(type.size() > 80 ? type.left(80) + QStringLiteral("…") : type);
    if (types.size() > shown)
        names.append(QStringLiteral("%1 more").arg(types.size() - shown));
    return names.join(QLatin1String(", "));
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

QString jsonText(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

std::optional<QStringList> decodeStringArray(const std::optional<QString>& json)
{
    if (!json)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(json->toUtf8());
    if (!document.isArray())
        return std::nullopt;
    QStringList strings;
    for (const QJsonValue& value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        strings.append(value.toString());
    }
    return strings;
}

store::Predicate untrashed()
{
    return store::Predicate::eq("isTrashed", false) || store::Predicate::isNull("isTrashed");
}

// The first untrashed row under the content key that `sameContent` accepts; a fetch error
// finds none.
store::ManagedObjectPtr findDuplicate(store::ManagedObjectContext& context, const QString& contentKey,
                                      const std::function<bool(const store::ManagedObject&)>& sameContent)
{
    store::FetchRequest request;
    request.predicate = store::Predicate::eq(store::contentKeyColumn, contentKey) && untrashed();
    auto rows = context.fetch(request);
    if (!rows) {
        qCWarning(lcCapture).noquote() << "Failed to fetch clipboard items:" << rows.error();
        return nullptr;
    }
    for (const store::ManagedObjectPtr& row : rows.value()) {
        if (sameContent(*row))
            return row;
    }
    return nullptr;
}

void stampCopy(store::ManagedObject& row, const QDateTime& copiedAt, const std::optional<QString>& bundleId,
               const std::optional<QString>& appName)
{
    row.set(Attr::dateAdded, copiedAt);
    row.set(Attr::firstCopiedDate, copiedAt);
    row.set(Attr::sourceAppBundleId, bundleId);
    row.set(Attr::sourceAppName, appName);
}

// For a copy stored after a later one (its read or look-ups took longer): when the later copy had
// the same content, the row already tells of it and keeps its place in the list.
bool copiedAgainSince(const store::ManagedObjectPtr& row, bool late, const QDateTime& copiedAt, bool* skipped)
{
    const std::optional<QDateTime> added = row && late ? row->date(Attr::dateAdded) : std::nullopt;
    const bool since = added && *added > copiedAt;
    if (skipped)
        *skipped = since;
    return since;
}

} // namespace

// One copy as its read left it: nothing (skipped), a refusal to log, or the content to store at
// once, with what is costly to derive from it still to come.
struct PreparedCapture {
    std::optional<ClipboardContentType> kind;
    CaptureCategory category = CaptureCategory::text;
    QString text;
    std::optional<QByteArray> rtf;
    std::optional<QString> html; // made into rich text after the text is stored
    QStringList fileUrls;        // looked up after the copy is taken
    PreparedFiles files;
    QByteArray imageData;        // made into PNG after the copy is taken
    QString imageType;
    PreparedImage image;
    QString notRead;   // the offer could not be read (info)
    QString refusal;   // the owner broke a bound, or the content is refused (warning)
    QString unreadableTypes;
    bool replaced = false; // a later copy replaced the offer before its read began
    bool notBegun = false; // a copy from the journal whose work did not begin: the next start has it
};

namespace {

// What the main thread knew and decided when it saw the change.
struct CaptureRequest {
    std::shared_ptr<OfferReader> reader;
    bool richText = false;
    bool ignoreTransient = false;
    bool wantImages = true;
    std::array<bool, captureCategoryCount> captured {}; // by kind, at the time of the copy
    std::optional<QString> bundleId;
};

// Sorts out what was read; nothing here is costly or touches the engine's state.
PreparedCapture sortRead(PasteboardSnapshot snapshot, const CaptureRequest& request)
{
    PreparedCapture prepared;
    if (!snapshot.refusal.isEmpty()) {
        prepared.refusal = QStringLiteral("Copy not recorded: ") + snapshot.refusal;
        return prepared;
    }
    if (snapshot.failed()) {
        prepared.notRead = snapshot.error;
        return prepared;
    }
    if (snapshot.concealed || (request.ignoreTransient && (snapshot.transient || snapshot.autoGenerated)))
        return prepared;
    prepared.unreadableTypes = snapshot.unreadableTypes.join(QLatin1String(", "));

    if (!snapshot.fileUrls.isEmpty()) {
        if (snapshot.fileUrls.size() > maxFilesPerCopy) {
            prepared.refusal = QStringLiteral("Copy not recorded: %1 files in one copy, more than %2")
                                   .arg(snapshot.fileUrls.size())
                                   .arg(maxFilesPerCopy);
            return prepared;
        }
        prepared.kind = ClipboardContentType::file;
        prepared.fileUrls = std::move(snapshot.fileUrls);
    } else if (snapshot.text && !snapshot.text->isEmpty()) {
        prepared.kind = ClipboardContentType::text;
        prepared.category = ClipboardManager::captureCategoryForText(*snapshot.text);
        // Rich text is kept only for a text that will be stored.
        if (request.richText && request.captured[size_t(prepared.category)]) {
            if (snapshot.rtf && !snapshot.rtf->isEmpty())
                prepared.rtf = std::move(snapshot.rtf);
            else if (snapshot.html && !snapshot.html->isEmpty())
                prepared.html = std::move(snapshot.html);
        }
        prepared.text = std::move(*snapshot.text);
    } else if (!snapshot.imageData.isEmpty()) {
        if (!request.wantImages)
            return prepared;
        prepared.kind = ClipboardContentType::image;
        prepared.imageData = std::move(snapshot.imageData);
        prepared.imageType = snapshot.imageType;
    } else if (const PasteboardOffer offer = describeTypes(snapshot.types);
               !offer.fileUrls && !offer.text && !offer.image && !snapshot.types.isEmpty()) {
        // Text in a form Lumra does not read (UTF-16, say): the copy is lost, so it is said.
        prepared.refusal = QStringLiteral("Copy not recorded: none of its types can be read (") + typeList(snapshot.types)
            + QLatin1Char(')');
    } else if (!snapshot.unreadableTypes.isEmpty()) {
        // An owner too slow, or unwilling, to answer for any type Lumra asked for.
        prepared.notRead = QStringLiteral("its owner gave none of ") + typeList(snapshot.unreadableTypes);
    }
    return prepared;
}

// On a reading thread, as soon as the change is seen, so the owner is asked while it still owns
// the clipboard. An offer replaced before its turn came is gone: asking for it would only get the
// later copy's answer, or nothing.
PreparedCapture readCapture(const CaptureRequest& request, const std::atomic<qint64>& newestChange)
{
    if (request.reader->changeCount() < newestChange.load()) {
        PreparedCapture replaced;
        replaced.replaced = true;
        return replaced;
    }
    PasteboardSnapshot snapshot = readOffer(*request.reader, request.richText, QDeadlineTimer(OfferLimits::wholeOffer));
    const bool large = snapshot.bytesRead >= qint64(1024) * 1024;
    PreparedCapture prepared = sortRead(std::move(snapshot), request);
    // The pieces of a large offer were freed in this thread's heap; they go back to the system
    // rather than stay with Lumra.
    if (large)
        releaseFreedMemory();
    return prepared;
}

// What is costly to make of a copy: its rich text, its PNG, its files looked up.
PreparedCapture deriveCapture(PreparedCapture prepared, const std::optional<QString>& bundleId,
                              const std::function<QByteArray(const QString&)>& htmlToRtf, image::ImageDecoder* decoder)
{
    switch (prepared.kind.value_or(ClipboardContentType::text)) {
    case ClipboardContentType::text:
        if (prepared.html) {
            QByteArray rtf = htmlToRtf(*prepared.html);
            if (!rtf.isEmpty())
                prepared.rtf = std::move(rtf);
        }
        break;
    case ClipboardContentType::file:
        prepared.files = prepareFiles(prepared.fileUrls, true);
        break;
    case ClipboardContentType::image: {
        const bool large = prepared.imageData.size() >= qsizetype(1024) * 1024;
        prepared.image = prepareImage(prepared.imageData, bundleId, decoder);
        if (!prepared.image.error.isEmpty())
            prepared.image.error += QStringLiteral(" (offered as ") + prepared.imageType + QLatin1Char(')');
        prepared.imageData.clear();
        if (large)
            releaseFreedMemory();
        break;
    }
    }
    return prepared;
}

// Files as named, for a copy whose look-ups did not end before Lumra quit.
PreparedFiles unlookedFiles(const QStringList& urls)
{
    PreparedFiles files;
    files.urls = urls;
    for (const QString& url : urls) {
        files.directories.append(FileBookmark::isDirectory(url, std::nullopt));
        const auto bookmark = FileBookmark::create(url, std::nullopt);
        files.bookmarks.append(bookmark ? QString::fromLatin1(bookmark->toBase64()) : QString());
    }
    files.category = categoryForFiles(files.urls, files.directories);
    return files;
}

// At quit, what is still being derived is waited for this long; the rest is stored as it is.
constexpr auto quitWait = 300ms;

} // namespace

// The copy as the main thread saw it change.
struct ClipboardManager::PendingCapture {
    std::optional<QString> bundleId;
    std::optional<QString> appName;
    QDateTime copiedAt;
    quint64 serial = 0; // change order
    QFuture<PreparedCapture> work;
    std::optional<QUuid> row;  // the stored text whose rich text is being made
    QStringList fileUrls;      // the files being looked up
    bool journalled = false;   // kept in the capture journal under its serial
    bool resumed = false;      // taken from the journal of an earlier run
    int journalStore = 0;      // resumed: the store file and row of its entry
    qint64 journalRow = 0;
};

namespace {

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

// The journal's reads and writes, in order, on a thread of their own with a connection of their
// own: a picture's bytes take a while to reach the disk, and the window's thread does not wait.
struct JournalLane {
    // The history's store files: the first takes new entries; each is read at start, as one
    // written before sync was switched on or off is in the other.
    QStringList paths;
    std::map<int, std::unique_ptr<sql::Database>> dbs;
    struct Key {
        int store = 0;
        qint64 row = 0;
    };
    std::map<quint64, Key> keys; // the journal's row of each capture serial

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
};

// Marks an entry from the journal as begun on the lane that works it, right as its work starts, so
// the entries a killed start never got to keep their try. Connections of its own: the journal's
// thread may be writing a picture meanwhile. Closed at quit: no resumed work begins after.
struct JournalTries {
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

struct ClipboardManager::CaptureState {
    explicit CaptureState(Clock& clock)
        : losses(clock)
    {
        // Each change is read at once on a thread of its own, however many owners hold theirs,
        // each within its deadline; beyond this many at once, the newest waits for the first to end.
        reading->setMaxThreadCount(maxReadsAtOnce);
        // Rich text, pictures and file look-ups: each kind in a lane of its own, so none waits
        // behind another kind's slow copies, and none in a read's way.
        for (QThreadPool* lane : {richText.get(), pictures.get(), files.get()}) {
            lane->setMaxThreadCount(2);
            lane->setExpiryTimeout(-1);
        }
        // A picture waits for a decoder program of the capture's, which serves each application's
        // copies apart, newest first; its thread only waits, so every copy in a burst has one.
        pictures->setMaxThreadCount(maxPicturesAtOnce);
        pictures->setExpiryTimeout(30'000); // a burst's threads go once idle; the programs stay
        // What the last run left counts a try as each entry's work begins: two at a time, so a
        // start killed meanwhile costs no more than those two.
        resumed->setMaxThreadCount(2);
        resumed->setExpiryTimeout(-1);
        journal->setMaxThreadCount(1);
    }
    ~CaptureState()
    {
        // A read or conversion still running ends at its deadline on its own, holding nothing
        // of the engine; quitting does not wait that long for it.
        letFinish(std::move(reading));
        letFinish(std::move(richText));
        letFinish(std::move(pictures));
        letFinish(std::move(files));
        letFinish(std::move(resumed));
        // What was read must be on disk before Lumra ends; the quit deadline bounds the wait.
        journal->waitForDone();
    }
    static void letFinish(std::unique_ptr<QThreadPool> pool)
    {
        if (pool->waitForDone(100))
            return;
        std::thread([pool = pool.release()] {
            pool->waitForDone();
            delete pool;
        }).detach();
    }
    std::unique_ptr<QThreadPool> reading = std::make_unique<QThreadPool>();
    std::unique_ptr<QThreadPool> richText = std::make_unique<QThreadPool>();
    std::unique_ptr<QThreadPool> pictures = std::make_unique<QThreadPool>();
    std::unique_ptr<QThreadPool> files = std::make_unique<QThreadPool>();
    std::unique_ptr<QThreadPool> resumed = std::make_unique<QThreadPool>();
    std::unique_ptr<QThreadPool> journal = std::make_unique<QThreadPool>();
    std::shared_ptr<JournalLane> journalLane = std::make_shared<JournalLane>();
    std::shared_ptr<JournalTries> journalTries = std::make_shared<JournalTries>();
    QThreadPool* laneFor(ClipboardContentType kind) const
    {
        switch (kind) {
        case ClipboardContentType::text:
            return richText.get();
        case ClipboardContentType::image:
            return pictures.get();
        case ClipboardContentType::file:
            break;
        }
        return files.get();
    }
    std::shared_ptr<std::atomic<qint64>> newestChange = std::make_shared<std::atomic<qint64>>(0);
    quint64 nextSerial = 0;
    std::optional<quint64> newestStored; // the serial of the latest change stored so far
    std::map<quint64, PendingCapture> reads;       // by change order
    std::map<quint64, PendingCapture> derivations; // by change order
    bool quitting = false;
    bool decoderFailureTold = false; // since a picture was last decoded
    QSet<QUuid> pendingRecognition;
    CaptureLosses losses;
};

// ---------------------------------------------------------------------------- Polling

void ClipboardManager::startMonitoring()
{
    m_capture = std::make_shared<CaptureState>(m_clock);
    resumeJournal();
    if (TextRecognizer* recognizer = m_services.textRecognizer)
        connect(recognizer, &TextRecognizer::recognized, this, &ClipboardManager::applyRecognizedText);
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { storeCapturesAtQuit(); });
    if (KeyInjector* keys = m_services.keyInjector)
        keys->setFailureHandler(this, [this](const QString& message) { tellPasteKeyFailed(message); });
    Pasteboard* pasteboard = m_services.pasteboard;
    if (!pasteboard)
        return;
    // What is on the clipboard at launch was copied before Lumra ran: never captured.
    m_lastChangeCount = m_services.changeCountAtLaunch.value_or(pasteboard->changeCount());
    m_pollTimer = m_clock.start(std::chrono::milliseconds(500), true, [this] { checkClipboard(); });
    connect(pasteboard, &Pasteboard::changed, this, &ClipboardManager::checkClipboard);
    connect(pasteboard, &Pasteboard::writeFailed, this, &ClipboardManager::tellWriteFailed);
    connect(pasteboard, &Pasteboard::writeHeld, this, &ClipboardManager::sendPendingPaste);
}

void ClipboardManager::checkClipboard()
{
    Pasteboard* pasteboard = m_services.pasteboard;
    if (m_isPaused || !pasteboard || !m_persistence || !m_capture || m_capture->quitting)
        return;
    if (pasteboard->changeCount() == m_lastChangeCount)
        return;
    // The reader holds the owner and change count of this moment; reading what they offer, and
    // anything a slow or hostile owner can make costly, happens on a reading thread.
    CaptureRequest request;
    request.reader = pasteboard->offerReader();
    // Changes in between were replaced before Lumra looked (a burst of copies, say).
    if (const qint64 unseen = request.reader->changeCount() - m_lastChangeCount - 1; unseen > 0) {
        m_capture->losses.note(CaptureLosses::Kind::unseen,
                               unseen == 1 ? QStringLiteral("Copy not read: a later copy replaced it before Lumra looked")
                                           : QStringLiteral("Copies not read: %1 replaced before Lumra looked").arg(unseen),
                               unseen);
    }
    // Stored before any filtering: a change that is skipped is never looked at again.
    m_lastChangeCount = request.reader->changeCount();
    // Every change replaces the offers before it, Lumra's own included.
    m_capture->newestChange->store(std::max(m_capture->newestChange->load(), m_lastChangeCount));
    if (request.reader->ownedByUs())
        return;

    std::optional<AppIdentity> source;
    if (Workspace* workspace = m_services.workspace) {
        const QList<IgnoredApp> ignored = ignoredApplications();
        source = workspace->sourceApplication(request.reader->ownerWindow());
        if (isIgnored(ignored, source) || isIgnored(ignored, workspace->frontmostApplication()))
            return;
    }

    PendingCapture capture;
    capture.bundleId = source ? nonEmpty(source->bundleId) : std::nullopt;
    capture.appName = source ? nonEmpty(source->name) : std::nullopt;
    capture.copiedAt = m_clock.now();
    request.richText = preserveFormatting();
    request.ignoreTransient = ignoreTransientContent();
    request.wantImages = captureImages() || captureScreenshots();
    for (int kind = 0; kind < captureCategoryCount; ++kind)
        request.captured[size_t(kind)] = isCaptureEnabled(CaptureCategory(kind));
    request.bundleId = capture.bundleId;
    capture.work = QtConcurrent::run(m_capture->reading.get(),
                                     [request = std::move(request), newest = m_capture->newestChange] {
                                         return readCapture(request, *newest);
                                     });
    const quint64 serial = capture.serial = m_capture->nextSerial++;
    watchCapture(capture.work, serial, false);
    m_capture->reads.emplace(serial, std::move(capture));
}

void ClipboardManager::watchCapture(const QFuture<PreparedCapture>& work, quint64 serial, bool derived)
{
    auto* watcher = new QFutureWatcher<PreparedCapture>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, serial, derived] {
        watcher->deleteLater();
        derived ? takeDerived(serial) : takeRead(serial);
    });
    watcher->setFuture(work);
}

bool ClipboardManager::hasPendingCaptures() const
{
    return m_capture && (!m_capture->reads.empty() || !m_capture->derivations.empty());
}

void ClipboardManager::finishPendingCaptures()
{
    if (!m_capture)
        return;
    while (hasPendingCaptures()) {
        auto& pending = !m_capture->reads.empty() ? m_capture->reads : m_capture->derivations;
        const quint64 serial = pending.begin()->first;
        pending.begin()->second.work.waitForFinished();
        &pending == &m_capture->reads ? takeRead(serial) : takeDerived(serial);
    }
}

void ClipboardManager::storeCapturesAtQuit(bool lookOnceMore)
{
    if (!m_capture || m_capture->quitting)
        return;
    // A copy made a moment before the quit may not have been looked at yet.
    if (lookOnceMore)
        checkClipboard();
    // Copies being read were made before the quit: their owners get the same short wait as what is
    // still being made of the copies read, all within the quit's bound.
    if (!m_capture->reads.empty())
        qCInfo(lcCapture).noquote() << "Quitting with copies still being read:" << m_capture->reads.size();
    const QDeadlineTimer wait(quitWait);
    const auto finished = [](const std::map<quint64, PendingCapture>& pending) {
        return std::find_if(pending.begin(), pending.end(), [](const auto& entry) { return entry.second.work.isFinished(); });
    };
    while (!m_capture->reads.empty() || !m_capture->derivations.empty()) {
        if (const auto read = finished(m_capture->reads); read != m_capture->reads.end()) {
            takeRead(read->first);
            continue;
        }
        if (const auto done = finished(m_capture->derivations); done != m_capture->derivations.end()) {
            takeDerived(done->first);
            continue;
        }
        if (wait.hasExpired())
            break;
        QThread::msleep(5);
    }
    if (const qsizetype unread = qsizetype(m_capture->reads.size()); unread > 0) {
        m_capture->losses.note(CaptureLosses::Kind::quit,
                               unread == 1 ? QStringLiteral("Copy not read: Lumra quit before its owner handed it over")
                                           : QStringLiteral("Copies not read: Lumra quit before their owners handed %1 over").arg(unread),
                               unread);
    }
    // No resumed work begins from here on; what began is put back below.
    m_capture->journalTries->close();
    // What is still being derived is finished at the next start from the journal. Files are
    // stored as named meanwhile (the next start looks them up); texts are stored already. A
    // picture not in the journal is nothing without its PNG.
    for (auto& [serial, capture] : m_capture->derivations) {
        if (!capture.fileUrls.isEmpty() && !capture.resumed) {
            PreparedCapture files;
            files.kind = ClipboardContentType::file;
            files.files = unlookedFiles(capture.fileUrls);
            storePrepared(capture, files);
        } else if (!capture.row && !capture.journalled) {
            m_capture->losses.note(CaptureLosses::Kind::quit, QStringLiteral("Image not captured: Lumra quit before it was converted"));
        }
        // Taken up at this start and not finished, though nothing went wrong: the next start tries it.
        if (capture.resumed) {
            m_capture->journal->start([lane = m_capture->journalLane, serial = serial] {
                lane->change(serial, [](store::CaptureJournal& entries, qint64 row) { return entries.putBack(row); }, false);
            });
        }
    }
    m_capture->quitting = true;
    m_capture->reads.clear();
    m_capture->derivations.clear();
}

void ClipboardManager::takeRead(quint64 serial)
{
    auto node = m_capture->reads.extract(serial);
    if (node.empty())
        return;
    PendingCapture& capture = node.mapped();
    PreparedCapture prepared = capture.work.result();
    CaptureLosses& losses = m_capture->losses;
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
        losses.note(CaptureLosses::Kind::notRead, QStringLiteral("Copy not read: ") + prepared.notRead);
        return;
    }
    if (!prepared.unreadableTypes.isEmpty())
        qCInfo(lcCapture).noquote() << "Clipboard owner gave none of:" << prepared.unreadableTypes;
    if (!prepared.kind)
        return;

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

void ClipboardManager::derive(PendingCapture capture, PreparedCapture prepared)
{
    const quint64 serial = capture.serial;
    QThreadPool* lane = capture.resumed ? m_capture->resumed.get() : m_capture->laneFor(*prepared.kind);
    std::shared_ptr<JournalTries> tries;
    if (capture.resumed)
        tries = m_capture->journalTries;
    // Newest first: a burst of copies is served from the copy the user made last.
    capture.work = QtConcurrent::task([prepared = std::move(prepared), bundleId = capture.bundleId,
                                       htmlToRtf = m_services.htmlToRtf, decoder = m_services.captureDecoder,
                                       tries = std::move(tries),
                                       entry = std::pair(capture.journalStore, capture.journalRow)]() mutable {
                       if (tries && !tries->begin(entry.first, entry.second)) {
                           PreparedCapture kept;
                           kept.notBegun = true;
                           return kept;
                       }
                       return deriveCapture(std::move(prepared), bundleId, htmlToRtf, decoder);
                   })
                       .onThreadPool(*lane)
                       .withPriority(int(std::min<quint64>(serial, std::numeric_limits<int>::max())))
                       .spawn();
    watchCapture(capture.work, serial, true);
    m_capture->derivations.emplace(serial, std::move(capture));
}

void ClipboardManager::journalCapture(PendingCapture& capture, const PreparedCapture& prepared)
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
    m_capture->journal->start([lane = m_capture->journalLane, serial = capture.serial,
                                  entry = std::move(entry)] {
        const Result<qint64> key = lane->journal().add(entry);
        if (key)
            lane->keys[serial] = {0, *key};
        else
            qCWarning(lcCapture).noquote() << "Copy not kept for a restart:" << key.error();
    });
}

void ClipboardManager::forgetJournalled(const PendingCapture& capture)
{
    if (!capture.journalled)
        return;
    m_capture->journal->start([lane = m_capture->journalLane, serial = capture.serial] {
        lane->change(serial, [](store::CaptureJournal& entries, qint64 row) { return entries.remove(row); }, true);
    });
}

namespace {

struct TakenUp {
    QList<std::pair<int, store::JournalEntry>> entries; // by store file
    QList<store::JournalEntry> dropped;
    QString error;
};

} // namespace

void ClipboardManager::resumeJournal()
{
    if (!m_persistence)
        return;
    // The store that never syncs takes the journal: what it holds is this computer's alone.
    QStringList paths;
    for (const store::PersistentStore* file : {m_persistence->localStore(), m_persistence->cloudStore()})
        if (file && !paths.contains(file->path))
            paths.append(file->path);
    if (paths.isEmpty())
        return;
    for (const char* name : {"Lumra.sqlite", "LumraLocal.sqlite"}) {
        const QString other = m_persistence->folder() + QLatin1Char('/') + QLatin1String(name);
        if (!paths.contains(other) && QFileInfo::exists(other))
            paths.append(other);
    }
    m_capture->journalLane->paths = paths;
    m_capture->journalTries->paths = paths;
    QFuture<TakenUp> taken = QtConcurrent::run(m_capture->journal.get(), [lane = m_capture->journalLane] {
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
                taken.entries.append({file, std::move(entry)});
        }
        return taken;
    });
    auto* watcher = new QFutureWatcher<TakenUp>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, state = std::weak_ptr(m_capture)] {
        watcher->deleteLater();
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
        const std::shared_ptr<CaptureState> capturing = state.lock();
        if (!capturing)
            return;
        // Quit before any of it began: the next start takes it up as it is.
        if (capturing->quitting)
            return;
        std::map<quint64, JournalLane::Key> keys;
        for (const auto& [file, entry] : taken.entries) {
            PendingCapture capture;
            capture.bundleId = entry.sourceAppBundleId;
            capture.appName = entry.sourceAppName;
            capture.copiedAt = entry.copiedAt;
            capture.serial = m_capture->nextSerial++;
            capture.journalled = capture.resumed = true;
            capture.journalStore = file;
            capture.journalRow = entry.key;
            keys[capture.serial] = {file, entry.key};
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
        m_capture->journal->start([lane = m_capture->journalLane, keys = std::move(keys)] {
            lane->keys.insert(keys.begin(), keys.end());
        });
    });
    watcher->setFuture(taken);
}

void ClipboardManager::takeDerived(quint64 serial)
{
    auto node = m_capture->derivations.extract(serial);
    if (node.empty())
        return;
    PendingCapture& capture = node.mapped();
    const PreparedCapture prepared = capture.work.result();
    if (prepared.notBegun)
        return; // still in the journal, for the next start
    bool finished = true;
    if (capture.row) {
        if (prepared.rtf)
            addRichText(*capture.row, capture.copiedAt, *prepared.rtf);
        else
            finished = false;
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

void ClipboardManager::addRichText(const QUuid& id, const QDateTime& copiedAt, const QByteArray& rtf)
{
    const store::ManagedObjectPtr row = fetchManagedItem(id);
    // Copied again since (the later copy's own rich text stands), trashed or deleted: nothing to add.
    if (!row || row->date(Attr::dateAdded) != copiedAt || row->boolean(Attr::isTrashed).value_or(false)
        || !preserveFormatting())
        return;
    row->set(Attr::rtfData, rtf);
    if (Status saved = m_persistence->save(); !saved) {
        qCWarning(lcCapture).noquote() << "CoreData save error:" << saved.error();
        return;
    }
    mergeSavedRows({row});
}

bool ClipboardManager::storePrepared(const PendingCapture& capture, const PreparedCapture& prepared, QUuid* textRow)
{
    const bool late = m_capture->newestStored && *m_capture->newestStored > capture.serial;
    bool stored = false;
    bool skipped = false; // a late copy of what was copied again since: told already
    bool countsForReminder = false;
    switch (*prepared.kind) {
    case ClipboardContentType::file:
        if (!isCaptureEnabled(prepared.files.category))
            return false;
        stored = storeFiles(prepared.files.urls, prepared.files.directories, prepared.files.bookmarks,
                            prepared.files.category, capture.bundleId, capture.appName, capture.copiedAt, late,
                            &skipped);
        break;
    case ClipboardContentType::text:
        if (!isCaptureEnabled(prepared.category))
            return false;
        stored = storeText(prepared.text, prepared.rtf, prepared.category, capture.bundleId, capture.appName,
                           capture.copiedAt, late, textRow, &skipped);
        countsForReminder = true;
        break;
    case ClipboardContentType::image:
        if (!prepared.image.error.isEmpty()) {
            const QString message = QStringLiteral("Image not captured: ") + prepared.image.error;
            qCWarning(lcCapture).noquote() << message;
            Diagnostics::shared().warn(captureCategoryName, message);
            // Every picture is lost until the decoder can be started again: a log line is not enough.
            if (prepared.image.decoderNotStarted && !std::exchange(m_capture->decoderFailureTold, true))
                emit picturesNotRecorded(
                    QStringLiteral("Pictures are not being recorded: Lumra's picture decoder could not be started."));
            return false;
        }
        m_capture->decoderFailureTold = false;
        if (!isCaptureEnabled(prepared.image.category))
            return false;
        stored = storeImage(prepared.image.png, prepared.image.fileName, prepared.image.category, capture.bundleId,
                            capture.appName, capture.copiedAt, late, &skipped);
        countsForReminder = !(capture.bundleId && KnownApps::isFileManager(*capture.bundleId));
        break;
    }
    if (!stored || skipped)
        return false;
    m_capture->newestStored = std::max(m_capture->newestStored.value_or(0), capture.serial);
    Diagnostics::shared().debug(captureCategoryName,
                                QStringLiteral("Captured item from ") + capture.bundleId.value_or(QStringLiteral("unknown")));
    // A copy of the last run, finished at this start, was heard and counted then.
    if (!capture.resumed) {
        playCopySound();
        recordCopyForReminder(countsForReminder);
    }
    return true;
}
// ---------------------------------------------------------------------------- Storing

bool ClipboardManager::addTextItem(const QString& text, const std::optional<QByteArray>& rtfData,
                                   CaptureCategory category, const std::optional<QString>& sourceAppBundleId,
                                   const std::optional<QString>& sourceAppName)
{
    return storeText(text, rtfData, category, sourceAppBundleId, sourceAppName, m_clock.now());
}

bool ClipboardManager::addImageItem(const QByteArray& pngData, CaptureCategory category,
                                    const std::optional<QString>& sourceAppBundleId,
                                    const std::optional<QString>& sourceAppName)
{
    return storeImage(pngData, image::imageFileName(pngData), category, sourceAppBundleId, sourceAppName,
                      m_clock.now());
}

bool ClipboardManager::addFileItem(const QStringList& fileURLStrings, CaptureCategory category,
                                   const std::optional<QString>& sourceAppBundleId,
                                   const std::optional<QString>& sourceAppName)
{
    const PreparedFiles prepared = prepareFiles(fileURLStrings, false);
    return storeFiles(prepared.urls, prepared.directories, prepared.bookmarks, category, sourceAppBundleId,
                      sourceAppName, m_clock.now());
}

namespace {

// With sync on, the row goes to the synced store when its kind may sync; with sync off the one
// store takes it (null: the context's first store).
const store::PersistentStore* placement(const PersistenceController& persistence, bool syncs)
{
    if (!persistence.iCloudEnabled())
        return nullptr;
    return syncs ? persistence.cloudStore() : persistence.localStore();
}

} // namespace

bool ClipboardManager::storeText(const QString& text, const std::optional<QByteArray>& rtfData,
                                 CaptureCategory category, const std::optional<QString>& bundleId,
                                 const std::optional<QString>& appName, const QDateTime& copiedAt, bool late,
                                 QUuid* storedId, bool* skipped)
{
    if (!m_persistence)
        return false;
    store::ManagedObjectContext& context = m_persistence->viewContext();
    store::ManagedObjectPtr row = findDuplicate(context, store::contentKeyForText(text), [&](const store::ManagedObject& r) {
        return r.string(Attr::textContent) == text;
    });
    if (copiedAgainSince(row, late, copiedAt, skipped))
        return true;
    if (row) {
        if (rtfData)
            row->set(Attr::rtfData, *rtfData);
        else if (!preserveFormatting())
            row->setValue(Attr::rtfData, {});
    } else {
        row = context.insert(store::EntityKind::item, placement(*m_persistence, shouldSync(category)));
        row->set(Attr::id, QUuid::createUuid());
        row->set(Attr::contentType, toRawValue(ClipboardContentType::text));
        row->set(Attr::textContent, text);
        row->set(Attr::rtfData, rtfData);
    }
    stampCopy(*row, copiedAt, bundleId, appName);
    if (storedId)
        *storedId = row->uuid(Attr::id).value_or(QUuid());
    return saveCapture(row);
}

bool ClipboardManager::storeImage(const QByteArray& pngData, const QString& fileName, CaptureCategory category,
                                  const std::optional<QString>& bundleId, const std::optional<QString>& appName,
                                  const QDateTime& copiedAt, bool late, bool* skipped)
{
    if (!m_persistence || pngData.isEmpty())
        return false;
    store::ManagedObjectContext& context = m_persistence->viewContext();
    store::ManagedObjectPtr row = findDuplicate(context, store::contentKeyForImage(fileName), [&](const store::ManagedObject& r) {
        return r.string(Attr::imageFileName) == fileName;
    });
    if (copiedAgainSince(row, late, copiedAt, skipped))
        return true;
    std::optional<QUuid> insertedId;
    if (!row) {
        insertedId = QUuid::createUuid();
        row = context.insert(store::EntityKind::item,
                             placement(*m_persistence, shouldSync(category, qint64(pngData.size()))));
        row->set(Attr::id, *insertedId);
        row->set(Attr::contentType, toRawValue(ClipboardContentType::image));
        row->set(Attr::imageFileName, fileName);
        row->set(Attr::imageData, pngData);
    }
    stampCopy(*row, copiedAt, bundleId, appName);
    if (!saveCapture(row))
        return false;
    if (insertedId && enableImageOCR())
        recognizeText(pngData, *insertedId);
    return true;
}

bool ClipboardManager::storeFiles(const QStringList& fileURLStrings, const QList<bool>& directories,
                                  const QStringList& bookmarks, CaptureCategory category,
                                  const std::optional<QString>& bundleId, const std::optional<QString>& appName,
                                  const QDateTime& copiedAt, bool late, bool* skipped)
{
    if (!m_persistence || fileURLStrings.isEmpty())
        return false;
    QStringList sorted = fileURLStrings;
    sorted.sort();
    store::ManagedObjectContext& context = m_persistence->viewContext();
    QStringList storedOrder;
    store::ManagedObjectPtr row = findDuplicate(context, store::contentKeyForFiles(fileURLStrings), [&](const store::ManagedObject& r) {
        std::optional<QStringList> stored = decodeStringArray(r.string(Attr::fileURLStringsJSON));
        if (!stored)
            return false;
        storedOrder = *stored;
        stored->sort();
        return *stored == sorted;
    });
    if (copiedAgainSince(row, late, copiedAt, skipped))
        return true;

    // A duplicate keeps its own order of the files: the flags and bookmarks follow that order, or
    // they would name other files than the URLs beside them.
    QList<bool> flagsInOrder = directories;
    QStringList bookmarksInOrder = bookmarks;
    if (row && storedOrder != fileURLStrings) {
        QList<qsizetype> unused;
        for (qsizetype i = 0; i < fileURLStrings.size(); ++i)
            unused.append(i);
        for (qsizetype i = 0; i < storedOrder.size(); ++i) {
            const auto from = std::find_if(unused.begin(), unused.end(), [&](qsizetype j) { return fileURLStrings[j] == storedOrder[i]; });
            flagsInOrder[i] = directories.value(*from);
            bookmarksInOrder[i] = bookmarks.value(*from);
            unused.erase(from);
        }
    }
    QJsonArray flags;
    for (bool directory : flagsInOrder)
        flags.append(directory);
    const QString bookmarksJSON = jsonText(QJsonArray::fromStringList(bookmarksInOrder));
    const QString directoriesJSON = jsonText(flags);

    if (!row) {
        row = context.insert(store::EntityKind::item, placement(*m_persistence, shouldSync(category)));
        row->set(Attr::id, QUuid::createUuid());
        row->set(Attr::contentType, toRawValue(ClipboardContentType::file));
        row->set(Attr::fileURLStringsJSON, jsonText(QJsonArray::fromStringList(fileURLStrings)));
    }
    row->set(Attr::fileURLIsDirectoryJSON, directoriesJSON);
    row->set(Attr::fileBookmarksJSON, bookmarksJSON);
    stampCopy(*row, copiedAt, bundleId, appName);
    return saveCapture(row);
}

bool ClipboardManager::saveCapture(const store::ManagedObjectPtr& row)
{
    // The copy and the rows it pushes over the limit are written together.
    QList<store::ManagedObjectPtr> rows {row};
    if (auto trimmed = markRowsBeyondLimit(row); trimmed)
        rows += *trimmed;
    else
        qCWarning(lcCapture).noquote() << "Item limit not applied:" << trimmed.error();
    if (!commitRows(rows, "Saving a copy", rows.size() > 1)) {
        Diagnostics::shared().warn(captureCategoryName, QStringLiteral("Copy not recorded: the history could not be saved"));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------- Text recognition

void ClipboardManager::recognizeText(const QByteArray& pngData, const QUuid& id)
{
    TextRecognizer* recognizer = m_services.textRecognizer;
    if (!recognizer || !m_capture)
        return;
    const store::ManagedObjectPtr row = fetchManagedItem(id);
    if (!row || row->boolean(Attr::isSensitive).value_or(false))
        return;
    m_capture->pendingRecognition.insert(id);
    recognizer->recognize(pngData, id);
}

void ClipboardManager::applyRecognizedText(const QUuid& id, const QString& text)
{
    if (!m_capture || !m_capture->pendingRecognition.remove(id) || text.isEmpty())
        return;
    const store::ManagedObjectPtr row = fetchManagedItem(id);
    // Marked sensitive while it was being read: its text stays out of the history.
    if (!row || row->boolean(Attr::isSensitive).value_or(false))
        return;
    row->set(Attr::ocrText, text);
    if (Status saved = m_persistence->save(); !saved) {
        qCWarning(lcCapture).noquote() << "CoreData save error:" << saved.error();
        return;
    }
    mergeSavedRows({row});
}

// ---------------------------------------------------------------------------- Classification

CaptureCategory ClipboardManager::captureCategoryForText(const QString& text)
{
    const QStringView trimmed = QStringView(text).trimmed();
    if (trimmed.size() > maxWholeValueLength)
        return CaptureCategory::text;
    if (isColorText(trimmed))
        return CaptureCategory::color;
    if (emailMatch(trimmed).whole)
        return CaptureCategory::email;
    if (isLinkText(text))
        return CaptureCategory::link;
    return CaptureCategory::text;
}

CaptureCategory ClipboardManager::captureCategoryForCheckedFiles(const QStringList& fileURLStrings,
                                                                const QList<std::optional<FileState>>& states)
{
    QList<bool> directories;
    for (qsizetype i = 0; i < fileURLStrings.size(); ++i)
        directories.append(FileBookmark::isDirectory(fileURLStrings[i], i < states.size() ? states[i] : std::nullopt));
    return categoryForFiles(fileURLStrings, directories);
}

bool ClipboardManager::isScreenshotImage(const QByteArray& imageData) { return image::isScreenshotImage(imageData); }

CaptureCategory ClipboardManager::captureCategoryForImageData(const std::optional<QByteArray>& imageData,
                                                              const std::optional<QString>& sourceAppBundleId)
{
    return image::captureCategoryForImageData(imageData, sourceAppBundleId);
}

CaptureCategory ClipboardManager::captureCategoryForFileURLs(const QStringList& fileURLStrings)
{
    QList<bool> directories;
    for (const QString& url : fileURLStrings)
        directories.append(FileBookmark::isDirectory(url));
    return categoryForFiles(fileURLStrings, directories);
}

std::optional<QByteArray> ClipboardManager::richTextData(const PasteboardSnapshot& snapshot)
{
    if (snapshot.rtf && !snapshot.rtf->isEmpty())
        return snapshot.rtf;
    if (snapshot.html && !snapshot.html->isEmpty()) {
        QByteArray rtf = RichText::rtfFromHtml(*snapshot.html);
        if (!rtf.isEmpty())
            return rtf;
    }
    return std::nullopt;
}

Result<QByteArray> ClipboardManager::pngData(const PasteboardSnapshot& snapshot)
{
    return image::pngData(snapshot.imageData);
}

} // namespace lumra
