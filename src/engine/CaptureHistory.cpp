#include "engine/CaptureHistory.h"

#include "engine/CaptureReading.h"
#include "engine/CaptureService.h"
#include "engine/CopyReminder.h"
#include "model/store/PersistenceController.h"
#include "platform/ocr/TextRecognizer.h"
#include "platform/pasteboard/Pasteboard.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QPointer>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcCaptureStore, "lumra.capture")

namespace lumra {

namespace Attr = store::ItemAttr;

namespace {

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

// Not an attribute, never leaves the file: how many reads of a picture's text did not run to their
// end (NULL: none). Added when first needed, with no new schema: an older Lumra reads past it.
constexpr char recognitionTriesColumn[] = "ocrTries";

bool addRecognitionTries(sql::Database& db)
{
    const auto present = [&db] {
        sql::Statement* st = db.prepare(QStringLiteral("SELECT count(*) FROM pragma_table_info('CDClipboardItem') WHERE name = ?"));
        if (!st)
            return false;
        st->bind(1, QString::fromLatin1(recognitionTriesColumn));
        const bool found = st->step() && st->int64(0) > 0;
        st->reset();
        return found;
    };
    // Another connection may have added it meanwhile.
    return present()
        || db.exec(QStringLiteral("ALTER TABLE CDClipboardItem ADD COLUMN %1 INTEGER").arg(QLatin1String(recognitionTriesColumn)))
        || present();
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
        qCWarning(lcCaptureStore).noquote() << "Failed to fetch clipboard items:" << rows.error();
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

// ---------------------------------------------------------------------------- The capture service's side

void ClipboardManager::playCopySound() { m_reminder->playCopySoundNow(); }

void ClipboardManager::recordCopyForReminder(bool countsForReminder)
{
    if (countsForReminder)
        m_reminder->countCopyForReminder();
}

void ClipboardManager::startMonitoring()
{
    m_captureHistory = std::make_unique<CaptureHistory>(*this);
    CaptureServices services;
    services.pasteboard = m_services.pasteboard;
    services.workspace = m_services.workspace;
    services.clock = &m_clock;
    services.work = &work();
    services.htmlToRtf = m_services.htmlToRtf;
    services.decoder = m_services.captureDecoder;
    services.changeCountAtLaunch = m_services.changeCountAtLaunch;
    m_captureService = std::make_unique<CaptureService>(*m_captureHistory, std::move(services));
    connect(m_captureService.get(), &CaptureService::picturesNotRecorded, this, &ClipboardManager::picturesNotRecorded);
    if (TextRecognizer* recognizer = m_services.textRecognizer) {
        connect(recognizer, &TextRecognizer::recognized, this, [this](const QUuid& id, const QString& text) {
            m_captureHistory->applyRecognizedText(id, text);
        });
        connect(recognizer, &TextRecognizer::notRecognized, this,
                [this](const QUuid& id) { m_captureHistory->recognitionFailed(id); });
    }
    m_captureService->start();
    m_captureHistory->resumeRecognition();
}

CaptureRules ClipboardManager::CaptureHistory::captureRules() const
{
    CaptureRules rules;
    rules.richText = m.preserveFormatting();
    rules.ignoreTransient = m.ignoreTransientContent();
    rules.wantImages = m.captureImages() || m.captureScreenshots();
    for (int kind = 0; kind < captureCategoryCount; ++kind)
        rules.captured[size_t(kind)] = m.isCaptureEnabled(CaptureCategory(kind));
    rules.ignored = m.ignoredApplications();
    return rules;
}

QStringList ClipboardManager::CaptureHistory::journalFiles() const
{
    if (!m.m_persistence)
        return {};
    // The store that never syncs takes the journal: what it holds is this computer's alone.
    QStringList paths;
    for (const store::PersistentStore* file : {m.m_persistence->localStore(), m.m_persistence->cloudStore()})
        if (file && !paths.contains(file->path))
            paths.append(file->path);
    if (paths.isEmpty())
        return {};
    // Each is read at start, as one written before sync was switched on or off is in the other.
    for (const char* name : {"Lumra.sqlite", "LumraLocal.sqlite"}) {
        const QString other = m.m_persistence->folder() + QLatin1Char('/') + QLatin1String(name);
        if (!paths.contains(other) && QFileInfo::exists(other))
            paths.append(other);
    }
    return paths;
}

void ClipboardManager::CaptureHistory::saveChangedRow(const store::ManagedObjectPtr& row)
{
    if (Status saved = m.m_persistence->save(); !saved) {
        qCWarning(lcCaptureStore).noquote() << "Store save error:" << saved.error();
        return;
    }
    m.mergeSavedRows({row});
}

void ClipboardManager::CaptureHistory::addRichText(const QUuid& id, const QDateTime& copiedAt, const QByteArray& rtf)
{
    const store::ManagedObjectPtr row = m.fetchManagedItem(id);
    // Copied again since (the later copy's own rich text stands), trashed or deleted: nothing to add.
    if (!row || row->date(Attr::dateAdded) != copiedAt || row->boolean(Attr::isTrashed).value_or(false)
        || !m.preserveFormatting())
        return;
    row->set(Attr::rtfData, rtf);
    saveChangedRow(row);
}

bool ClipboardManager::addTextItem(const QString& text, const std::optional<QByteArray>& rtfData,
                                   CaptureCategory category, const std::optional<QString>& sourceAppBundleId,
                                   const std::optional<QString>& sourceAppName)
{
    return m_captureHistory
        && m_captureHistory->storeText(text, rtfData, category, sourceAppBundleId, sourceAppName, m_clock.now(), false,
                                       nullptr, nullptr);
}

bool ClipboardManager::addFileItem(const QStringList& fileURLStrings, CaptureCategory category,
                                   const std::optional<QString>& sourceAppBundleId,
                                   const std::optional<QString>& sourceAppName)
{
    const PreparedFiles prepared = prepareFiles(fileURLStrings, false);
    return m_captureHistory
        && m_captureHistory->storeFiles(prepared.urls, prepared.directories, prepared.bookmarks, category,
                                        sourceAppBundleId, sourceAppName, m_clock.now(), false, nullptr);
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

bool ClipboardManager::CaptureHistory::storeText(const QString& text, const std::optional<QByteArray>& rtfData,
                                 CaptureCategory category, const std::optional<QString>& bundleId,
                                 const std::optional<QString>& appName, const QDateTime& copiedAt, bool late,
                                 QUuid* storedId, bool* skipped)
{
    if (!m.m_persistence)
        return false;
    store::ManagedObjectContext& context = m.m_persistence->viewContext();
    store::ManagedObjectPtr row = findDuplicate(context, store::contentKeyForText(text), [&](const store::ManagedObject& r) {
        return r.string(Attr::textContent) == text;
    });
    if (copiedAgainSince(row, late, copiedAt, skipped))
        return true;
    if (row) {
        if (rtfData)
            row->set(Attr::rtfData, *rtfData);
        else if (!m.preserveFormatting())
            row->setValue(Attr::rtfData, {});
    } else {
        row = context.insert(store::EntityKind::item, placement(*m.m_persistence, m.shouldSync(category)));
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

bool ClipboardManager::CaptureHistory::storeImage(const QByteArray& pngData, const QString& fileName, CaptureCategory category,
                                  const std::optional<QString>& bundleId, const std::optional<QString>& appName,
                                  const QDateTime& copiedAt, bool late, bool* skipped)
{
    if (!m.m_persistence || pngData.isEmpty())
        return false;
    store::ManagedObjectContext& context = m.m_persistence->viewContext();
    store::ManagedObjectPtr row = findDuplicate(context, store::contentKeyForImage(fileName), [&](const store::ManagedObject& r) {
        return r.string(Attr::imageFileName) == fileName;
    });
    if (copiedAgainSince(row, late, copiedAt, skipped))
        return true;
    std::optional<QUuid> insertedId;
    if (!row) {
        insertedId = QUuid::createUuid();
        row = context.insert(store::EntityKind::item,
                             placement(*m.m_persistence, m.shouldSync(category, qint64(pngData.size()))));
        row->set(Attr::id, *insertedId);
        row->set(Attr::contentType, toRawValue(ClipboardContentType::image));
        row->set(Attr::imageFileName, fileName);
        row->set(Attr::imageData, pngData);
    }
    stampCopy(*row, copiedAt, bundleId, appName);
    if (!saveCapture(row))
        return false;
    if (insertedId && m.enableImageOCR())
        recognizeText(pngData, *insertedId);
    return true;
}

bool ClipboardManager::CaptureHistory::storeFiles(const QStringList& fileURLStrings, const QList<bool>& directories,
                                  const QStringList& bookmarks, CaptureCategory category,
                                  const std::optional<QString>& bundleId, const std::optional<QString>& appName,
                                  const QDateTime& copiedAt, bool late, bool* skipped)
{
    if (!m.m_persistence || fileURLStrings.isEmpty())
        return false;
    QStringList sorted = fileURLStrings;
    sorted.sort();
    store::ManagedObjectContext& context = m.m_persistence->viewContext();
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
        row = context.insert(store::EntityKind::item, placement(*m.m_persistence, m.shouldSync(category)));
        row->set(Attr::id, QUuid::createUuid());
        row->set(Attr::contentType, toRawValue(ClipboardContentType::file));
        row->set(Attr::fileURLStringsJSON, jsonText(QJsonArray::fromStringList(fileURLStrings)));
    }
    row->set(Attr::fileURLIsDirectoryJSON, directoriesJSON);
    row->set(Attr::fileBookmarksJSON, bookmarksJSON);
    stampCopy(*row, copiedAt, bundleId, appName);
    return saveCapture(row);
}

bool ClipboardManager::CaptureHistory::saveCapture(const store::ManagedObjectPtr& row)
{
    // The copy and the rows it pushes over the limit are written together.
    QList<store::ManagedObjectPtr> rows {row};
    if (auto trimmed = m.markRowsBeyondLimit(row); trimmed)
        rows += *trimmed;
    else
        qCWarning(lcCaptureStore).noquote() << "Item limit not applied:" << trimmed.error();
    // A failure is logged by the commit and counted by the capture.
    return m.commitRows(rows, "Saving a copy", rows.size() > 1).ok();
}

// ---------------------------------------------------------------------------- Text recognition

void ClipboardManager::recognizeText(const QByteArray& pngData, const QUuid& id)
{
    if (m_captureHistory)
        m_captureHistory->recognizeText(pngData, id);
}

void ClipboardManager::CaptureHistory::recognizeText(const QByteArray& pngData, const QUuid& id)
{
    TextRecognizer* recognizer = m.m_services.textRecognizer;
    if (!recognizer || !m.m_persistence)
        return;
    const store::ManagedObjectPtr row = m.fetchManagedItem(id);
    if (!row || row->boolean(Attr::isSensitive).value_or(false))
        return;
    m_pendingRecognition.insert(id);
    recognizer->recognize(pngData, id);
}

void ClipboardManager::CaptureHistory::applyRecognizedText(const QUuid& id, const QString& text)
{
    if (!m_pendingRecognition.remove(id))
        return;
    const store::ManagedObjectPtr row = m.fetchManagedItem(id);
    // Marked sensitive while it was being read: its text stays out of the history. An empty text
    // is kept too: it tells the next start this picture was read to its end.
    if (row && !row->boolean(Attr::isSensitive).value_or(false) && (!text.isEmpty() || !row->string(Attr::ocrText))) {
        row->set(Attr::ocrText, text);
        saveChangedRow(row);
    }
    recognizeNextLeftOver();
}

void ClipboardManager::CaptureHistory::recognitionFailed(const QUuid& id)
{
    if (!m_pendingRecognition.remove(id) || !m.m_persistence)
        return;
    QStringList paths;
    for (const store::PersistentStore* file : m.m_persistence->viewContext().stores())
        paths << file->path;
    // Counted in the row's own store, off the main thread like the look for left-over pictures.
    m.runInBackground([paths, id] {
        for (const QString& path : paths) {
            sql::Database db;
            if (!db.open(path, false) || !addRecognitionTries(db))
                continue;
            sql::Statement* st = db.prepare(QStringLiteral("UPDATE CDClipboardItem SET %1 = coalesce(%1, 0) + 1 WHERE id = ?")
                                                .arg(QLatin1String(recognitionTriesColumn)));
            if (st) {
                st->bind(1, id.toRfc4122());
                st->step();
                st->reset();
            }
        }
    });
    recognizeNextLeftOver();
}

void ClipboardManager::CaptureHistory::resumeRecognition()
{
    if (std::exchange(m_resumed, true) || !m.m_services.textRecognizer || !m.m_persistence || !m.enableImageOCR())
        return;
    QStringList paths;
    for (const store::PersistentStore* file : m.m_persistence->viewContext().stores())
        paths << file->path;
    QPointer<ClipboardManager> self(&m);
    // Off the main thread: with few such pictures the look walks the whole history.
    m.runInBackground([self, paths] {
        QList<std::pair<double, QUuid>> found;
        for (const QString& path : paths) {
            sql::Database db;
            if (!db.open(path, false) || !addRecognitionTries(db))
                continue;
            sql::Statement* st = db.prepare(QStringLiteral(
                "SELECT id, dateAdded FROM CDClipboardItem WHERE isTrashed = 0 AND contentType = 'image' AND ocrText IS NULL"
                " AND isSensitive = 0 AND coalesce(%1, 0) < %2 ORDER BY dateAdded DESC LIMIT %3")
                .arg(QLatin1String(recognitionTriesColumn)).arg(recognitionTries).arg(recognitionResumedPerStart));
            while (st && st->step())
                if (const std::optional<QUuid> id = st->uuid(0))
                    found.append({st->real(1), *id});
        }
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        QList<QUuid> ids;
        for (qsizetype i = 0; i < std::min<qsizetype>(found.size(), recognitionResumedPerStart); ++i)
            ids.append(found[i].second);
        QMetaObject::invokeMethod(self.data(), [self, ids] {
            if (self && self->m_captureHistory) {
                self->m_captureHistory->m_leftOver = ids;
                self->m_captureHistory->recognizeNextLeftOver();
            }
        }, Qt::QueuedConnection);
    });
}

void ClipboardManager::CaptureHistory::recognizeNextLeftOver()
{
    // New copies' pictures go first: one left over waits until none of theirs is being read.
    while (m_pendingRecognition.isEmpty() && !m_leftOver.isEmpty() && m.enableImageOCR()) {
        const QUuid id = m_leftOver.takeFirst();
        const store::ManagedObjectPtr row = m.fetchManagedItem(id);
        if (!row || row->string(Attr::ocrText) || row->boolean(Attr::isTrashed).value_or(false))
            continue;
        if (const std::optional<QByteArray> png = row->bytes(Attr::imageData))
            recognizeText(*png, id);
    }
}

} // namespace lumra
