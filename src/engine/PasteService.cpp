#include "engine/PasteService.h"

#include "engine/ClipboardManager.h"
#include "engine/ItemMedia.h"
#include "engine/CopyReminder.h"

#include "model/Diagnostics.h"
#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"
#include "platform/core/Folders.h"
#include "platform/image/ImageDecoding.h"
#include "platform/keys/KeyInjector.h"
#include "platform/pasteboard/Pasteboard.h"
#include "platform/richtext/RtfCodec.h"
#include "platform/workspace/Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFutureWatcher>
#include <QLoggingCategory>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>

#include <cmath>

Q_LOGGING_CATEGORY(lcPaste, "lumra.paste")

namespace lumra {

using namespace std::chrono_literals;

namespace {

const QString totalSuccessfulPastesKey = QStringLiteral("totalSuccessfulPastes");
const QString pendingCelebrationMessageKey = QStringLiteral("pendingCelebrationMessage");
constexpr qint64 secondsSavedPerPaste = 10;
constexpr auto pasteKeyDelay = 100ms;

PasteboardRepresentation representation(const char* mimeType, QByteArray data)
{
    return { QString::fromLatin1(mimeType), std::move(data) };
}

// Only a name Lumra made itself (the digest of the picture) may name a file; anything else
// (an imported name with a path in it, say) could write outside the folder.
QString tempImageFileName(const ClipboardItem& item)
{
    static const QRegularExpression digestName(QStringLiteral("^[0-9a-f]{32}\\.png$"));
    if (item.imageFileName && digestName.match(*item.imageFileName).hasMatch())
        return *item.imageFileName;
    return QStringLiteral("clipboard-%1.png").arg(Json::uuidString(item.id));
}

} // namespace

PasteService::PasteService(ClipboardManager& manager, SaveRows saveRows)
    : m_manager(manager)
    , m_saveRows(std::move(saveRows))
{
    if (KeyInjector* keys = m_manager.services().keyInjector)
        keys->setFailureHandler(this, [this](const QString& message) { tellPasteKeyFailed(message); });
    if (Pasteboard* pasteboard = m_manager.services().pasteboard) {
        connect(pasteboard, &Pasteboard::writeFailed, this, &PasteService::tellWriteFailed);
        connect(pasteboard, &Pasteboard::writeHeld, this, &PasteService::sendPendingPaste);
    }
    // A paste whose rich text is still being made is not written as Lumra quits.
    if (QCoreApplication* app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            dropWriteBeingMade();
            ++m_sequenceSerial;
        });
    }
}

PasteService::~PasteService() = default;

Clock& PasteService::clock() const
{
    return m_manager.clock();
}

// ----------------------------------------------------------------------------------------------------- content

QList<PasteboardRepresentation> PasteService::textRepresentations(
    const ClipboardItem& item, bool plainText, bool newline, std::optional<QByteArray>* rtf) const
{
    if (!item.textContent)
        return {};
    QString text = *item.textContent;
    if (newline)
        text += QLatin1Char('\n');
    QList<PasteboardRepresentation> result { representation(PasteboardMime::textUtf8, text.toUtf8()) };
    // Empty: kept in the store, read by whoever makes the forms (a long document is megabytes).
    if (!plainText && m_manager.preserveFormatting() && item.hasRichText())
        *rtf = item.rtfData && !item.rtfData->isEmpty() ? *item.rtfData : QByteArray();
    return result;
}

QList<PasteboardRepresentation> PasteService::richTextForms(const QByteArray& stored, bool newline)
{
    std::optional<QByteArray> openable = RichText::rtfWithOpenableLinks(stored);
    if (!openable)
        return {};
    QByteArray rtf = std::move(*openable);
    if (newline) {
        if (auto withParagraph = RichText::rtfAppendingParagraph(rtf))
            rtf = std::move(*withParagraph);
    }
    QList<PasteboardRepresentation> result { representation(PasteboardMime::rtf, rtf) };
    // Linux applications read rich text as HTML.
    if (const auto html = RichText::htmlFromRtf(rtf)) {
        result.append(representation(PasteboardMime::html, html->toUtf8()));
    } else {
        const QString message = QStringLiteral("Pasted without HTML: its rich text is longer or nests deeper than HTML is made of");
        qCInfo(lcPaste).noquote() << message;
        Diagnostics::shared().info(QStringLiteral("Paste"), message);
    }
    return result;
}

QString PasteService::pasteFolder()
{
    const Result<QString> folder = Folders::privateTempSubfolder(QStringLiteral("LumraPaste"));
    if (!folder)
        return {};
    if (!m_pasteFolderEmptied) {
        // Pictures pasted in an earlier run are of no use to anyone now.
        QDir dir(*folder);
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
            dir.remove(name);
        m_pasteFolderEmptied = true;
    }
    return *folder;
}

PasteService::FormsMaker PasteService::imageForms(const ClipboardItem& item)
{
    // A photo is tens of megabytes: read and written where the paste makes its forms, not here.
    auto read = m_manager.media().imageReader(item);
    if (!read)
        return {};
    return [read = std::move(read), folder = pasteFolder(), name = tempImageFileName(item)] {
        return pictureForms(read(), folder, name);
    };
}

QList<PasteboardRepresentation> PasteService::pictureForms(
    const std::optional<QByteArray>& data, const QString& folder, QString name)
{
    if (!data || data->isEmpty())
        return {};
    // Capture stores PNG; a picture another computer synced keeps its own format and goes out as it
    // is, under its own type, never decoded here.
    const std::optional<image::PictureType> type = image::pictureType(*data);
    if (!type) {
        qCWarning(lcPaste).noquote() << "Stored image cannot be pasted: it is in no format Lumra reads";
        return {};
    }
    QList<PasteboardRepresentation> result { representation(type->mimeType, *data) };

    // File managers and upload fields take the picture as a file.
    if (folder.isEmpty())
        return result;
    name.replace(name.size() - 3, 3, QLatin1String(type->suffix));
    const QString path = folder + QLatin1Char('/') + name;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(*data) == data->size() && file.commit()) {
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        result.append(Pasteboard::fileUrlRepresentations({ QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded()) }));
    } else {
        qCWarning(lcPaste).noquote() << "Image file for the paste not written:" << file.errorString();
    }
    return result;
}

QList<PasteboardRepresentation> PasteService::fileRepresentations(
    const ClipboardItem& item, QList<FileBookmarkAccessPtr>* accesses)
{
    QStringList storedUrls;
    const QList<FileBookmarkAccessPtr> byIndex = m_manager.media().fileAccessByIndex(item, &storedUrls);
    const qsizetype count = std::max(byIndex.size(), storedUrls.size());
    QStringList urls;
    for (qsizetype i = 0; i < count; ++i) {
        const FileBookmarkAccessPtr access = i < byIndex.size() ? byIndex[i] : nullptr;
        if (access) {
            urls.append(QString::fromUtf8(access->url().toEncoded()));
            accesses->append(access);
        } else if (i < storedUrls.size()) {
            // A file whose bookmark no longer resolves is still offered by its last known place,
            // when that is a file on this computer (an imported web address is no file).
            const QUrl url(storedUrls[i]);
            if (url.isValid() && url.isLocalFile() && !url.toLocalFile().isEmpty())
                urls.append(QString::fromUtf8(url.toEncoded()));
        }
    }
    if (urls.isEmpty())
        return {};
    return Pasteboard::fileUrlRepresentations(urls);
}

QList<PasteboardRepresentation> PasteService::pasteRepresentations(const ClipboardItem& item, bool plainText,
    bool newline, QList<FileBookmarkAccessPtr>* accesses, std::optional<QByteArray>* rtf, FormsMaker* picture)
{
    switch (item.contentType) {
    case ClipboardContentType::text:
        return textRepresentations(item, plainText, newline, rtf);
    case ClipboardContentType::image:
        *picture = imageForms(item);
        return {};
    case ClipboardContentType::file:
        return fileRepresentations(item, accesses);
    }
    return {};
}

// ----------------------------------------------------------------------------------------------------- writing

std::optional<qint64> PasteService::writePasteboard(const QList<PasteboardRepresentation>& representations)
{
    Pasteboard* pasteboard = m_manager.services().pasteboard;
    if (!pasteboard || representations.isEmpty())
        return std::nullopt;
    dropWriteBeingMade();
    const Result<qint64> changeCount = pasteboard->write(representations);
    if (!changeCount) {
        tellWriteFailed(changeCount.error());
        return std::nullopt;
    }
    m_manager.reminder().endReminderBurst();
    m_lastPasteDate = clock().now();
    m_manager.setLastChangeCount(*changeCount);
    return *changeCount;
}

void PasteService::tellWriteFailed(const QString& message)
{
    ++m_failedWrites;
    qCWarning(lcPaste).noquote() << "Clipboard write failed:" << message;
    Diagnostics::shared().error(QStringLiteral("Paste"), QStringLiteral("Clipboard write failed: ") + message);
    emit pasteFailed(message);
}

void PasteService::pasteAfterWrite(qint64 changeCount, std::chrono::milliseconds delay, std::function<void()> sent)
{
    const quint64 serial = ++m_pasteSerial;
    m_pendingPaste = PendingPaste { serial, changeCount, m_failedWrites, false, std::move(sent) };
    clock().after(delay, this, [this, serial] {
        if (m_pendingPaste && m_pendingPaste->serial == serial) {
            m_pendingPaste->due = true;
            sendPendingPaste();
        }
    });
    clock().after(std::max(delay, writeHeldPatience), this, [this, serial] {
        if (!m_pendingPaste || m_pendingPaste->serial != serial)
            return;
        m_pendingPaste.reset();
        tellPasteKeyFailed(QStringLiteral("Lumra did not paste: the clipboard did not take the item in time. Nothing "
                                          "was sent to the window in front."));
    });
}

void PasteService::sendPendingPaste()
{
    if (!m_pendingPaste || !m_pendingPaste->due)
        return;
    // A failed write was told already; the clipboard holds something else.
    if (m_pendingPaste->failedWrites != m_failedWrites) {
        m_pendingPaste.reset();
        return;
    }
    Pasteboard* pasteboard = m_manager.services().pasteboard;
    if (!pasteboard || !pasteboard->holds(m_pendingPaste->changeCount))
        return; // Pasteboard::writeHeld or the patience comes next
    const PendingPaste paste = std::move(*m_pendingPaste);
    m_pendingPaste.reset();
    Workspace* workspace = m_manager.services().workspace;
    if (workspace && workspace->knowsFrontmostApplication() && !workspace->frontmostApplication()) {
        tellPasteKeyFailed(KeyInjectorMessages::noWindowInFront());
        return;
    }
    // A key that went nowhere (no window took it) is told by the injector, and nothing is marked.
    (void)simulatePaste(paste.sent);
}

void PasteService::notePasted(const QList<QUuid>& ids, bool moveToTop, const QDateTime& when)
{
    QList<store::ManagedObjectPtr> rows;
    for (const QUuid& id : ids) {
        if (store::ManagedObjectPtr row = stampPasted(id, moveToTop, when))
            rows.append(std::move(row));
        recordSuccessfulPaste();
    }
    if (!rows.isEmpty())
        (void)m_saveRows(rows, "Saving the paste");
}

store::ManagedObjectPtr PasteService::stampPasted(const QUuid& id, bool moveToTop, const QDateTime& when)
{
    store::ManagedObjectPtr row = m_manager.fetchManagedItem(id);
    if (!row)
        return nullptr;
    const QDateTime now = when.isValid() ? when : clock().now();
    row->set(store::ItemAttr::lastPastedDate, now);
    if (moveToTop)
        row->set(store::ItemAttr::dateAdded, now);
    return row;
}

std::optional<qint64> PasteService::writeContent(const ClipboardItem& item,
    const QList<PasteboardRepresentation>& content, const QList<FileBookmarkAccessPtr>& accesses)
{
    if (content.isEmpty()) {
        qCInfo(lcPaste) << "Nothing to paste for item" << item.id;
        return std::nullopt;
    }
    const std::optional<qint64> changeCount = writePasteboard(content);
    // The target application reads the files after the paste, not during it.
    if (changeCount)
        m_manager.media().keepFileAccess(accesses, 10s);
    return changeCount;
}

std::optional<qint64> PasteService::writeItem(const ClipboardItem& item, bool plainText, bool newline)
{
    QList<FileBookmarkAccessPtr> accesses;
    std::optional<QByteArray> rtf;
    FormsMaker picture;
    QList<PasteboardRepresentation> content = pasteRepresentations(item, plainText, newline, &accesses, &rtf, &picture);
    if (picture)
        content += picture();
    if (rtf && rtf->isEmpty())
        rtf = m_manager.media().richText(item);
    if (rtf)
        content += richTextForms(*rtf, newline);
    return writeContent(item, content, accesses);
}

std::optional<quint64> PasteService::writeItemThen(
    const ClipboardItem& item, bool plainText, bool newline, std::function<void(std::optional<qint64>)> done)
{
    dropWriteBeingMade();
    QList<FileBookmarkAccessPtr> accesses;
    std::optional<QByteArray> rtf;
    FormsMaker picture;
    QList<PasteboardRepresentation> content = pasteRepresentations(item, plainText, newline, &accesses, &rtf, &picture);
    if (!rtf && !picture) {
        done(writeContent(item, content, accesses));
        return std::nullopt;
    }
    // A long document costs each form seconds, a photo's bytes a tenth of one: the main thread
    // only hands them on.
    using Forms = QList<PasteboardRepresentation>;
    const quint64 serial = ++m_writeSerial;
    auto* watcher = new QFutureWatcher<Forms>(this);
    connect(watcher, &QFutureWatcherBase::finished, this,
        [this, watcher, serial, item, content = std::move(content), accesses, done = std::move(done)]() mutable {
            watcher->deleteLater();
            if (!m_making || m_making->serial != serial)
                return; // dropped meanwhile
            m_making.reset();
            emit preparingChanged(false);
            if (watcher->future().resultCount() == 0)
                return; // dropped at the lanes' shutdown
            done(writeContent(item, content + watcher->result(), accesses));
        });
    // The store's bytes are read on the lane too, a picture's file written there.
    m_making = WriteBeingMade { serial,
        m_manager.work().run(BackgroundWork::Lane::previews,
            [read = m_manager.media().richTextReader(item), picture = std::move(picture), newline] {
            if (picture)
                return picture();
            const std::optional<QByteArray> rtf = read ? read() : std::nullopt;
            return rtf ? richTextForms(*rtf, newline) : Forms();
        }) };
    watcher->setFuture(m_making->forms);
    emit preparingChanged(true);
    return serial;
}

void PasteService::dropWriteBeingMade()
{
    if (!m_making)
        return;
    m_making->forms.cancel();
    m_making.reset();
    emit preparingChanged(false);
}

void PasteService::Paste::cancel()
{
    if (!preparing())
        return;
    qCInfo(lcPaste) << "Paste cancelled before its write: nothing is written or sent";
    m_service->dropWriteBeingMade();
}

bool PasteService::Paste::preparing() const
{
    return m_service && m_service->m_making && m_service->m_making->serial == m_write;
}

std::shared_ptr<PasteService::Paste> PasteService::pasteItem(const ClipboardItem& item, bool moveToTop,
    bool plainText, std::chrono::milliseconds delay, std::function<void()> written)
{
    ++m_sequenceSerial;
    auto nothingWritten = std::make_shared<bool>(false);
    const std::optional<quint64> making = writeItemThen(item, plainText, false,
        [this, id = item.id, moveToTop, delay, chosen = clock().now(), written = std::move(written), nothingWritten](
            std::optional<qint64> changeCount) {
            if (!changeCount) {
                *nothingWritten = true;
                return;
            }
            pasteAfterWrite(*changeCount, delay, [this, id, moveToTop, chosen] { notePasted({ id }, moveToTop, chosen); });
            if (written)
                written();
        });
    if (*nothingWritten)
        return nullptr;
    return std::shared_ptr<Paste>(new Paste(this, making.value_or(0)));
}

void PasteService::markPastedAndCount(const ClipboardItem& item)
{
    const store::ManagedObjectPtr row = stampPasted(item.id, true);
    if (!row)
        return;
    (void)m_saveRows({ row }, "Saving the paste");
    recordSuccessfulPaste();
}

// ----------------------------------------------------------------------------------------------------- counter

void PasteService::recordSuccessfulPaste()
{
    const qint64 total = m_manager.userDefaults().readableInteger(totalSuccessfulPastesKey).value_or(0) + 1;
    m_manager.userDefaults().set(totalSuccessfulPastesKey, total);
    if (m_manager.showTimeSavedCelebration() && total % 25 == 0) {
        m_manager.userDefaults().set(pendingCelebrationMessageKey,
            QStringLiteral("Saved %1 of copying & pasting 🎉").arg(formatTimeSaved(total * secondsSavedPerPaste)));
    }
}

QString PasteService::formatTimeSaved(qint64 seconds)
{
    const auto format = [](qint64 number, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(number).arg(QLatin1String(number == 1 ? one : many));
    };
    const auto rounded = [seconds](double unit) { return qint64(std::round(double(seconds) / unit)); };
    if (seconds >= 86400)
        return format(rounded(86400), "Day", "Days");
    if (seconds >= 3600)
        return format(rounded(3600), "Hr", "Hrs");
    if (seconds < 60)
        return format(seconds, "Sec", "Secs");
    return format(rounded(60), "Min", "Mins");
}

// ----------------------------------------------------------------------------------------------------- pasting

Status PasteService::simulatePaste(std::function<void()> sent)
{
    KeyInjector* keys = m_manager.services().keyInjector;
    Status status = Status::failure(QStringLiteral("Lumra cannot paste: no way to send keys is set up."));
    if (keys && sent) {
        status = keys->postPasteThen([self = QPointer<PasteService>(this), sent = std::move(sent)] {
            if (self)
                sent();
        });
    } else if (keys) {
        status = keys->postPaste();
    }
    if (!status)
        tellPasteKeyFailed(status.error());
    return status;
}

void PasteService::tellPasteKeyFailed(const QString& message)
{
    qCWarning(lcPaste).noquote() << message;
    Diagnostics::shared().error(QStringLiteral("Paste"), message);
    emit pasteFailed(message);
}

void PasteService::tellNothingChosen()
{
    qCInfo(lcPaste) << "Return with no item chosen";
    emit pasteFailed(QStringLiteral("Nothing was pasted: no item is chosen."));
}

void PasteService::copyAndPaste(const ClipboardItem& item, bool newline)
{
    const bool textNewline = newline && item.contentType == ClipboardContentType::text;
    writeItemThen(item, false, textNewline,
        [this, id = item.id, chosen = clock().now()](std::optional<qint64> changeCount) {
            if (changeCount)
                pasteAfterWrite(*changeCount, pasteKeyDelay, [this, id, chosen] { notePasted({ id }, false, chosen); });
        });
}

void PasteService::pasteInTurn(
    const QList<ClipboardItem>& items, qsizetype index, const QDateTime& chosen, quint64 sequence)
{
    if (sequence != m_sequenceSerial)
        return;
    const ClipboardItem& item = items[index];
    const bool last = index + 1 == items.size();
    const bool newline = m_manager.pasteOnNewLines() && !last && item.contentType == ClipboardContentType::text;
    writeItemThen(item, false, newline,
        [this, items, index, chosen, sequence, last, id = item.id](std::optional<qint64> changeCount) {
            // Marked, and moved to the top with the rest of a selection, only once its own key went.
            if (changeCount) {
                pasteAfterWrite(*changeCount, pasteKeyDelay,
                    [this, id, chosen, moveToTop = items.size() >= 2] { notePasted({ id }, moveToTop, chosen); });
            }
            if (last)
                return;
            // Timed from this write, so a step whose rich text took long still comes in order.
            const std::chrono::milliseconds step = m_manager.pasteOnNewLines() ? 550ms : 400ms;
            clock().after(step, this, [=, this] { pasteInTurn(items, index + 1, chosen, sequence); });
        });
}

void PasteService::pasteItems(const QList<ClipboardItem>& items)
{
    const quint64 sequence = ++m_sequenceSerial;
    const auto mode = fromRawValue<CombineTextsMode>(m_manager.combineTextsMode());
    const bool allText = std::all_of(items.begin(), items.end(),
        [](const ClipboardItem& item) { return item.contentType == ClipboardContentType::text; });
    if (items.size() >= 2 && allText && mode && *mode != CombineTextsMode::off) {
        const bool horizontal = *mode == CombineTextsMode::horizontal;
        QStringList texts;
        QList<QUuid> ids;
        for (const ClipboardItem& item : items) {
            ids.append(item.id);
            const QString text
                = horizontal ? item.textContent.value_or(QString()).trimmed() : item.textContent.value_or(QString());
            if (!text.isEmpty())
                texts.append(text);
        }
        if (texts.isEmpty())
            return;
        const QString joined = texts.join(horizontal ? QStringLiteral(" ") : QStringLiteral("\n"));
        if (const std::optional<qint64> changeCount
            = writePasteboard({ representation(PasteboardMime::textUtf8, joined.toUtf8()) })) {
            pasteAfterWrite(
                *changeCount, pasteKeyDelay, [this, ids, chosen = clock().now()] { notePasted(ids, true, chosen); });
        }
        return;
    }

    if (items.isEmpty())
        return;
    clock().after(0ms, this, [this, items, chosen = clock().now(), sequence] { pasteInTurn(items, 0, chosen, sequence); });
}

} // namespace lumra
