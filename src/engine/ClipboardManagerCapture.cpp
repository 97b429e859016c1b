#include "engine/ClipboardManager.h"

#include "engine/filter/ItemClassification.h"
#include "engine/filter/LinkDetector.h"
#include "model/Diagnostics.h"
#include "model/store/PersistenceController.h"
#include "platform/files/FileBookmark.h"
#include "platform/core/Allocator.h"
#include "platform/files/FileChecks.h"
#include "platform/image/ImageDecoding.h"
#include "platform/image/ImageFileExtensions.h"
#include "platform/image/ScreenshotDetection.h"
#include "platform/ocr/TextRecognizer.h"
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
#include <QThreadPool>
#include <QUrl>
#include <QtConcurrent>

#include <algorithm>
#include <array>
#include <deque>

Q_LOGGING_CATEGORY(lcCapture, "lumra.capture")

namespace lumra {

namespace Attr = store::ItemAttr;

using namespace std::chrono_literals;

namespace {

const QString captureCategoryName = QStringLiteral("Capture");

// More files than this in one copy is refused whole: every one of them is looked up on disk.
constexpr qsizetype maxFilesPerCopy = 10000;
constexpr auto fileCheckBound = 2s;

// What the capture worker makes of a copied image.
struct PreparedImage {
    QByteArray png;
    QString fileName;
    CaptureCategory category = CaptureCategory::image;
    QString error; // refused or unreadable
};

// Runs off the main thread: the bytes come from another application and are checked against
// the decode limits before any pixel is decoded.
PreparedImage prepareImage(const QByteArray& raw, const std::optional<QString>& sourceAppBundleId)
{
    PreparedImage prepared;
    if (auto header = image::readImageHeader(raw); !header) {
        prepared.error = header.error();
        return prepared;
    }
    auto png = image::pngData(raw);
    if (!png) {
        prepared.error = png.error();
        return prepared;
    }
    prepared.png = std::move(png).value();
    prepared.fileName = image::imageFileName(prepared.png);
    prepared.category = image::captureCategoryForImageData(raw, sourceAppBundleId);
    return prepared;
}

// What the worker hands back for copied files: one folder flag and one bookmark slot per URL,
// so no file of the copy is lost or shifted.
struct PreparedFiles {
    QStringList urls;
    QList<bool> directories;
    QStringList bookmarks;
    CaptureCategory category = CaptureCategory::file;
};

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

// What the capture worker hands back for one copy: nothing (skipped), a refusal to log, or the
// content made ready to store.
struct PreparedCapture {
    std::optional<ClipboardContentType> kind;
    CaptureCategory category = CaptureCategory::text;
    QString text;
    std::optional<QByteArray> rtf;
    PreparedFiles files;
    PreparedImage image;
    QString notRead;   // the offer could not be read (info)
    QString refusal;   // the owner broke a bound, or the content is refused (warning)
    QString unreadableTypes;
};

// What the main thread knew and decided when it saw the change.
struct CaptureRequest {
    std::shared_ptr<OfferReader> reader;
    bool richText = false;
    bool ignoreTransient = false;
    bool wantImages = true;
    std::array<bool, captureCategoryCount> captured {}; // by kind, at the time of the copy
    std::optional<QString> bundleId;
};

// Read as soon as the change is seen, on a reading thread of its own, so the owner is asked
// while it still owns the clipboard: however long an earlier copy takes to read or convert.
PasteboardSnapshot readCapture(CaptureRequest request)
{
    return readOffer(*request.reader, request.richText, QDeadlineTimer(OfferLimits::wholeOffer));
}

// The capture worker's share of one copy: classify and convert what was read. Nothing here
// touches the engine's state.
PreparedCapture prepareRead(PasteboardSnapshot snapshot, const CaptureRequest& request)
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
        prepared.files = prepareFiles(snapshot.fileUrls, true);
    } else if (snapshot.text && !snapshot.text->isEmpty()) {
        prepared.kind = ClipboardContentType::text;
        prepared.category = ClipboardManager::captureCategoryForText(*snapshot.text);
        // Rich text is converted only for a text that will be stored.
        const bool kept = request.captured[size_t(prepared.category)];
        prepared.rtf = request.richText && kept ? ClipboardManager::richTextData(snapshot) : std::nullopt;
        prepared.text = std::move(*snapshot.text);
    } else if (!snapshot.imageData.isEmpty()) {
        if (!request.wantImages)
            return prepared;
        prepared.kind = ClipboardContentType::image;
        prepared.image = prepareImage(snapshot.imageData, request.bundleId);
        if (!prepared.image.error.isEmpty())
            prepared.image.error += QStringLiteral(" (offered as ") + snapshot.imageType + QLatin1Char(')');
    } else if (const PasteboardOffer offer = describeTypes(snapshot.types);
               !offer.fileUrls && !offer.text && !offer.image && !snapshot.types.isEmpty()) {
        // Text in a form Lumra does not read (UTF-16, say): the copy is lost, so it is said.
        prepared.refusal = QStringLiteral("Copy not recorded: none of its types can be read (") + typeList(snapshot.types)
            + QLatin1Char(')');
    }
    return prepared;
}

PreparedCapture prepareCapture(PasteboardSnapshot snapshot, const CaptureRequest& request)
{
    const bool large = snapshot.bytesRead >= qint64(1024) * 1024;
    PreparedCapture prepared = prepareRead(std::move(snapshot), request);
    // The pieces of a large offer were freed in the heaps of the threads that read and converted
    // it; they go back to the system rather than stay with Lumra.
    if (large)
        releaseFreedMemory();
    return prepared;
}

} // namespace

struct ClipboardManager::PendingCapture {
    QFuture<PreparedCapture> prepared;
    std::optional<QString> bundleId;
    std::optional<QString> appName;
    QDateTime copiedAt;
};

struct ClipboardManager::CaptureState {
    CaptureState()
    {
        // Reads of several changes run side by side, each within its deadline; conversions take
        // turns on one worker. Copies are stored in the order they were made, whatever finishes
        // first.
        reading->setMaxThreadCount(4);
        worker->setMaxThreadCount(1);
        worker->setExpiryTimeout(-1);
    }
    ~CaptureState()
    {
        // A read still running ends at its deadline on its own, holding nothing of the engine;
        // quitting does not wait that long for it. Its conversion is then still to be handed to
        // the worker, which must outlive it.
        const bool readsDone = reading->waitForDone(1000);
        if (!readsDone)
            (void)reading.release();
        if (!readsDone || !worker->waitForDone(1000))
            (void)worker.release();
    }
    std::unique_ptr<QThreadPool> reading = std::make_unique<QThreadPool>();
    std::unique_ptr<QThreadPool> worker = std::make_unique<QThreadPool>();
    std::deque<PendingCapture> queue;
    QSet<QUuid> pendingRecognition;
};

// ---------------------------------------------------------------------------- Polling

void ClipboardManager::startMonitoring()
{
    m_capture = std::make_shared<CaptureState>();
    if (TextRecognizer* recognizer = m_services.textRecognizer)
        connect(recognizer, &TextRecognizer::recognized, this, &ClipboardManager::applyRecognizedText);
    Pasteboard* pasteboard = m_services.pasteboard;
    if (!pasteboard)
        return;
    // What is on the clipboard at launch was copied before Lumra ran: never captured.
    m_lastChangeCount = m_services.changeCountAtLaunch.value_or(pasteboard->changeCount());
    m_pollTimer = m_clock.start(std::chrono::milliseconds(500), true, [this] { checkClipboard(); });
    connect(pasteboard, &Pasteboard::changed, this, &ClipboardManager::checkClipboard);
}

void ClipboardManager::checkClipboard()
{
    Pasteboard* pasteboard = m_services.pasteboard;
    if (m_isPaused || !pasteboard || !m_persistence || !m_capture)
        return;
    if (pasteboard->changeCount() == m_lastChangeCount)
        return;
    // The reader holds the owner and change count of this moment; reading what they offer, and
    // anything a slow or hostile owner can make costly, happens on the capture worker.
    CaptureRequest request;
    request.reader = pasteboard->offerReader();
    // Stored before any filtering: a change that is skipped is never looked at again.
    m_lastChangeCount = request.reader->changeCount();
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
    CaptureRequest options = request;
    options.reader.reset();
    capture.prepared = QtConcurrent::run(m_capture->reading.get(), readCapture, std::move(request))
                           .then(m_capture->worker.get(), [options](PasteboardSnapshot snapshot) {
                               return prepareCapture(std::move(snapshot), options);
                           });
    enqueueCapture(std::move(capture));
}

bool ClipboardManager::hasPendingCaptures() const { return m_capture && !m_capture->queue.empty(); }

void ClipboardManager::finishPendingCaptures()
{
    if (!m_capture)
        return;
    while (!m_capture->queue.empty()) {
        m_capture->queue.front().prepared.waitForFinished();
        drainCaptureQueue();
    }
}

void ClipboardManager::enqueueCapture(PendingCapture capture)
{
    auto* watcher = new QFutureWatcher<PreparedCapture>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        drainCaptureQueue();
    });
    watcher->setFuture(capture.prepared);
    m_capture->queue.push_back(std::move(capture));
}

void ClipboardManager::drainCaptureQueue()
{
    auto& queue = m_capture->queue;
    while (!queue.empty() && queue.front().prepared.isFinished()) {
        PendingCapture capture = std::move(queue.front());
        queue.pop_front();
        storeCapture(capture);
    }
}

bool ClipboardManager::storeCapture(PendingCapture& capture)
{
    const PreparedCapture prepared = capture.prepared.result();
    if (!prepared.refusal.isEmpty()) {
        // Said in every mode: a copy the user made is missing from the history.
        qCWarning(lcCapture).noquote() << prepared.refusal;
        Diagnostics::shared().warn(captureCategoryName, prepared.refusal);
        return false;
    }
    if (!prepared.notRead.isEmpty()) {
        qCInfo(lcCapture).noquote() << "Clipboard not read:" << prepared.notRead;
        return false;
    }
    if (!prepared.unreadableTypes.isEmpty())
        qCInfo(lcCapture).noquote() << "Clipboard owner gave none of:" << prepared.unreadableTypes;
    if (!prepared.kind)
        return false;

    bool stored = false;
    bool countsForReminder = false;
    switch (*prepared.kind) {
    case ClipboardContentType::file:
        if (!isCaptureEnabled(prepared.files.category))
            return false;
        stored = storeFiles(prepared.files.urls, prepared.files.directories, prepared.files.bookmarks,
                            prepared.files.category, capture.bundleId, capture.appName, capture.copiedAt);
        break;
    case ClipboardContentType::text:
        if (!isCaptureEnabled(prepared.category))
            return false;
        stored = storeText(prepared.text, prepared.rtf, prepared.category, capture.bundleId, capture.appName,
                           capture.copiedAt);
        countsForReminder = true;
        break;
    case ClipboardContentType::image:
        if (!prepared.image.error.isEmpty()) {
            const QString message = QStringLiteral("Image not captured: ") + prepared.image.error;
            qCWarning(lcCapture).noquote() << message;
            Diagnostics::shared().warn(captureCategoryName, message);
            return false;
        }
        if (!isCaptureEnabled(prepared.image.category))
            return false;
        stored = storeImage(prepared.image.png, prepared.image.fileName, prepared.image.category, capture.bundleId,
                            capture.appName, capture.copiedAt);
        countsForReminder = !(capture.bundleId && KnownApps::isFileManager(*capture.bundleId));
        break;
    }
    if (!stored)
        return false;
    Diagnostics::shared().debug(captureCategoryName,
                                QStringLiteral("Captured item from ") + capture.bundleId.value_or(QStringLiteral("unknown")));
    playCopySound();
    recordCopyForReminder(countsForReminder);
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
                                 const std::optional<QString>& appName, const QDateTime& copiedAt)
{
    if (!m_persistence)
        return false;
    store::ManagedObjectContext& context = m_persistence->viewContext();
    store::ManagedObjectPtr row = findDuplicate(context, store::contentKeyForText(text), [&](const store::ManagedObject& r) {
        return r.string(Attr::textContent) == text;
    });
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
    return saveCapture(row);
}

bool ClipboardManager::storeImage(const QByteArray& pngData, const QString& fileName, CaptureCategory category,
                                  const std::optional<QString>& bundleId, const std::optional<QString>& appName,
                                  const QDateTime& copiedAt)
{
    if (!m_persistence || pngData.isEmpty())
        return false;
    store::ManagedObjectContext& context = m_persistence->viewContext();
    store::ManagedObjectPtr row = findDuplicate(context, store::contentKeyForImage(fileName), [&](const store::ManagedObject& r) {
        return r.string(Attr::imageFileName) == fileName;
    });
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
                                  const QDateTime& copiedAt)
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
