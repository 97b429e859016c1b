#include "ui/preview/DragOut.h"

#include "ui/shell/PopupPanel.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "engine/PasteService.h"
#include "engine/ItemMedia.h"
#include "platform/image/ImageDecoding.h"
#include "platform/core/BackgroundWork.h"
#include "platform/richtext/RtfCodec.h"
#include "platform/x11/X11Connection.h"
#include "ui/preview/FileThumbnailView.h"
#include "ui/preview/PreviewFiles.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDebug>
#include <QDrag>
#include <QFutureWatcher>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>

#include <cmath>

namespace lumra {

namespace {

constexpr int fadeDurationMs = 200;

// Forms made on a lane: bytes by type, and the files written in the drag folder.
struct LaneForms {
    QList<std::pair<QString, QByteArray>> data;
    QList<QUrl> urls;
    QList<qsizetype> pictures; // which of the dragged pictures have their file
};

// The picture of an image item in the drag folder, under its checked name; none when it cannot be
// made. A picture as stored: capture stores PNG, while one another computer synced keeps its own
// format and goes out as it is, never decoded here. On the lane: a photo is tens of megabytes.
std::optional<QUrl> writeDragImageFile(const QString& folder, QString name, const QByteArray& stored, QString* mimeType)
{
    const std::optional<image::PictureType> type = image::pictureType(stored);
    if (!type)
        return std::nullopt;
    *mimeType = QLatin1String(type->mimeType);
    if (!name.endsWith(QLatin1String(".png")))
        name += QStringLiteral(".png");
    name = PreviewFiles::checkedPngFileName(name);
    name.replace(name.size() - 3, 3, QLatin1String(type->suffix));
    const QString path = folder + QLatin1Char('/') + name;
    if (const Status written = PreviewFiles::writeFileAtomically(path, stored); !written) {
        qWarning().noquote() << "Drag:" << written.error();
        return std::nullopt;
    }
    return QUrl::fromLocalFile(path);
}

// Each form within `bound` goes as it is; of those past it, the first (the richest) goes as a file
// of the drag folder, the rest are left out.
class BoundedForms {
public:
    BoundedForms(LaneForms* forms, std::optional<qint64> bound, QString folder, QString baseName)
        : m_forms(forms), m_bound(bound), m_folder(std::move(folder)), m_baseName(std::move(baseName))
    {
    }
    void offer(const char* mimeType, const char* suffix, QByteArray bytes)
    {
        if (!m_bound || bytes.size() <= *m_bound) {
            m_forms->data.append({QLatin1String(mimeType), std::move(bytes)});
            return;
        }
        if (m_wroteFile || m_folder.isEmpty())
            return;
        m_wroteFile = true;
        const QString path = m_folder + QLatin1Char('/') + m_baseName + QLatin1Char('.') + QLatin1String(suffix);
        if (const Status written = PreviewFiles::writeFileAtomically(path, bytes); !written)
            qWarning().noquote() << "Drag:" << written.error();
        else
            m_forms->urls << QUrl::fromLocalFile(path);
    }

private:
    LaneForms* m_forms;
    std::optional<qint64> m_bound;
    QString m_folder;
    QString m_baseName;
    bool m_wroteFile = false;
};

QList<QUrl> fileUrlsOf(ClipboardManager& manager, const ClipboardItem& item, QList<FileBookmarkAccessPtr>* accesses)
{
    QList<QUrl> urls;
    const QList<FileBookmarkAccessPtr> resolved = manager.media().fileURLs(item);
    for (const FileBookmarkAccessPtr& access : resolved) {
        urls << access->url();
        accesses->append(access);
    }
    if (!urls.isEmpty())
        return urls;
    for (const QString& text : item.fileURLStrings.value_or(QStringList())) {
        const QUrl url(text);
        if (url.isValid() && !url.isEmpty())
            urls << url;
    }
    return urls;
}

QPixmap dragPixmap(const QList<QUrl>& urls)
{
    QPixmap pixmap(40, 40);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const int shown = int(std::min<qsizetype>(urls.size(), 3));
    for (int i = shown - 1; i >= 0; --i)
        fileIcon(urls[i].toLocalFile(), urls[i].path().endsWith(QLatin1Char('/'))).paint(&painter, QRect(i * 4, i * 4, 32, 32));
    return pixmap;
}

} // namespace

QVariant DragMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    QVariant data = QMimeData::retrieveData(mimeType, type);
    if (data.isValid() && !m_delivered) {
        m_delivered = true;
        if (auto onDelivered = std::exchange(m_onDelivered, nullptr))
            onDelivered();
    }
    return data;
}

std::optional<qint64> dragFormBound()
{
    const std::optional<qint64> request = X11Connection::qtLargestRequestBytes();
    if (!request)
        return std::nullopt;
    // Room for the request's own header and whatever the toolkit adds.
    return *request - *request / 8;
}

DragListAccess DragListAccess::filteredItems(const ClipboardManager& manager)
{
    const HistoryFilter* m = &manager.filters();
    return {[m] { return m->filteredItemCount(); }, [m](qsizetype i) -> const ClipboardItem& { return m->filteredItemAt(i); }};
}

QList<ClipboardItem> additionalItemsForDrag(const ClipboardItem& row, const QList<QUuid>& selectedIds,
                                            const DragListAccess& list, ClipboardContentType type)
{
    QList<ClipboardItem> items;
    if (selectedIds.size() < 2 || !selectedIds.contains(row.id))
        return items;
    const QSet<QUuid> selected(selectedIds.begin(), selectedIds.end());
    const qsizetype count = list.count();
    for (qsizetype i = 0; i < count; ++i) {
        const ClipboardItem& item = list.at(i);
        if (item.id != row.id && item.contentType == type && selected.contains(item.id))
            items << item;
    }
    return items;
}

QList<ClipboardItem> combinedTextItemsForDrag(const ClipboardItem& row, const QList<QUuid>& selectedIds,
                                              const DragListAccess& list)
{
    if (selectedIds.size() < 2 || !selectedIds.contains(row.id))
        return {};
    QHash<QUuid, qsizetype> positions;
    const QSet<QUuid> selected(selectedIds.begin(), selectedIds.end());
    const qsizetype count = list.count();
    for (qsizetype i = 0; i < count; ++i)
        if (selected.contains(list.at(i).id))
            positions.insert(list.at(i).id, i); // a later duplicate wins
    QList<ClipboardItem> items;
    for (const QUuid& id : selectedIds) {
        const auto found = positions.constFind(id);
        if (found == positions.constEnd())
            return {};
        const ClipboardItem& item = list.at(*found);
        if (item.contentType != ClipboardContentType::text)
            return {};
        items << item;
    }
    return items;
}

std::optional<QString> combinedDragText(const QList<ClipboardItem>& items, const QString& combineTextsMode)
{
    const bool horizontal = combineTextsMode == QLatin1String("horizontal");
    if (!horizontal && combineTextsMode != QLatin1String("vertical"))
        return std::nullopt;
    QStringList parts;
    for (const ClipboardItem& item : items) {
        if (!item.textContent)
            continue;
        const QString part = horizontal ? item.textContent->trimmed() : *item.textContent;
        if (!part.isEmpty())
            parts << part;
    }
    if (parts.isEmpty())
        return std::nullopt;
    return parts.join(horizontal ? QStringLiteral(" ") : QStringLiteral("\n"));
}

void makeDragPayload(const ClipboardItem& row, const QList<QUuid>& selectedIds, const DragListAccess& list,
                     ClipboardManager& manager, bool shiftHeld, QObject* context,
                     std::function<void(DragPayload)> ready, std::optional<qint64> bound)
{
    DragPayload payload;
    payload.mimeData = std::make_unique<DragMimeData>();
    DragMimeData* mime = payload.mimeData.get();
    const Result<QString> dragFolder = PreviewFiles::dragFolder();
    const QString folder = dragFolder ? dragFolder.value() : QString();
    // What the store holds is read on the lane, and forms that are megabytes are made there.
    std::function<LaneForms()> onLane;
    bool patient = false;
    // A text whose bytes may be past the bound is measured, and perhaps written out, on the lane.
    const auto offerText = [&](const QString& text) -> QString {
        if (!bound || qint64(text.size()) * 3 <= *bound) {
            mime->setText(text);
            return {};
        }
        return text;
    };
    switch (row.contentType) {
    case ClipboardContentType::text: {
        const QList<ClipboardItem> texts = combinedTextItemsForDrag(row, selectedIds, list);
        std::optional<QString> joined = texts.size() >= 2 ? combinedDragText(texts, manager.combineTextsMode()) : std::nullopt;
        payload.items = joined ? texts : QList<ClipboardItem>{row};
        const QString longText = offerText(joined ? *joined : row.textContent.value_or(QString()));
        std::function<std::optional<QByteArray>()> read;
        if (!joined && manager.preserveFormatting() && !shiftHeld && row.hasRichText())
            read = manager.media().richTextReader(row);
        if (!read && longText.isNull())
            break;
        patient = bool(read);
        // A long document takes seconds to read and convert.
        onLane = [read = std::move(read), longText, bound, folder, name = row.id.toString(QUuid::WithoutBraces)] {
            LaneForms forms;
            BoundedForms offered(&forms, bound, folder, name);
            if (const std::optional<QByteArray> rtf = read ? read() : std::nullopt) {
                if (const std::optional<QString> html = RichText::htmlFromRtf(*rtf))
                    offered.offer("text/html", "html", html->toUtf8());
                offered.offer("text/rtf", "rtf", *rtf);
            }
            if (!longText.isNull())
                offered.offer("text/plain", "txt", longText.toUtf8());
            return forms;
        };
        break;
    }
    case ClipboardContentType::image: {
        const QList<ClipboardItem> pictures
            = QList<ClipboardItem>{row} + additionalItemsForDrag(row, selectedIds, list, ClipboardContentType::image);
        QList<std::pair<std::function<std::optional<QByteArray>()>, QString>> reads;
        for (const ClipboardItem& item : pictures) {
            if (item.imageFileName && !folder.isEmpty())
                reads.append({manager.media().imageReader(item), *item.imageFileName});
            else
                reads.append({nullptr, QString()});
        }
        onLane = [reads, folder, bound] {
            LaneForms forms;
            std::optional<std::pair<QString, QByteArray>> first;
            for (qsizetype i = 0; i < reads.size(); ++i) {
                const std::optional<QByteArray> stored = reads[i].first ? reads[i].first() : std::nullopt;
                QString mimeType;
                const std::optional<QUrl> url = stored ? writeDragImageFile(folder, reads[i].second, *stored, &mimeType) : std::nullopt;
                if (!url)
                    continue;
                forms.urls << *url;
                forms.pictures << i;
                if (!first)
                    first = std::pair{mimeType, *stored};
            }
            // One picture goes as its bytes too, when one request carries them; the file always.
            if (forms.urls.size() == 1 && (!bound || first->second.size() <= *bound))
                forms.data.append(*first);
            return forms;
        };
        payload.items = pictures;
        break;
    }
    case ClipboardContentType::file: {
        QList<QUrl> urls;
        for (const ClipboardItem& item : QList<ClipboardItem>{row} + additionalItemsForDrag(row, selectedIds, list, ClipboardContentType::file)) {
            const QList<QUrl> itemUrls = fileUrlsOf(manager, item, &mime->accesses);
            if (itemUrls.isEmpty())
                continue;
            urls << itemUrls;
            payload.items << item;
        }
        if (urls.isEmpty())
            payload = {};
        else
            mime->setUrls(urls);
        break;
    }
    }
    if (!onLane) {
        ready(std::move(payload));
        return;
    }

    // Handed over once, when the forms are made or, for rich text, when patience runs out.
    struct Pending {
        DragPayload payload;
        std::function<void(DragPayload)> ready;
        bool picturesOnly = false;
    };
    auto pending = std::make_shared<Pending>(Pending{std::move(payload), std::move(ready), row.contentType == ClipboardContentType::image});
    auto handOver = [pending](const LaneForms* forms) {
        if (!pending->ready)
            return;
        if (!forms)
            qInfo().noquote() << "Drag: the rich text was not made in time and is left out";
        DragPayload made = std::move(pending->payload);
        if (pending->picturesOnly) {
            QList<ClipboardItem> taken;
            for (qsizetype i : forms ? forms->pictures : QList<qsizetype>())
                taken << made.items[i];
            made.items = taken;
        }
        if (forms) {
            for (const auto& [mimeType, bytes] : forms->data)
                made.mimeData->setData(mimeType, bytes);
            if (!forms->urls.isEmpty())
                made.mimeData->setUrls(forms->urls);
        }
        if (made.mimeData->formats().isEmpty())
            made = {};
        std::exchange(pending->ready, nullptr)(std::move(made));
    };
    auto* watcher = new QFutureWatcher<LaneForms>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, handOver] {
        watcher->deleteLater();
        // None when the lanes were shut down.
        const LaneForms forms = watcher->future().resultCount() ? watcher->result() : LaneForms();
        handOver(&forms);
    });
    watcher->setFuture(manager.work().run(BackgroundWork::Lane::previews, std::move(onLane)));
    if (patient) {
        manager.clock().after(richFormsPatience, context, [handOver] { handOver(nullptr); });
    }
}

Qt::DropAction runDrag(QObject* source, DragPayload payload, ClipboardManager& manager, const DragExec& exec)
{
    if (payload.isEmpty())
        return Qt::IgnoreAction;
    QPointer<PopupPanel> popup = PopupPanel::findOpen();
    const bool popupWasKey = popup && QApplication::activeWindow() == popup;
    const QList<QUrl> urls = payload.mimeData->urls();

    // The platform owns the drag from here: on X11 it lives until the receiver says it has
    // finished, since the data is asked for only after the drop.
    auto* drag = new QDrag(source);
    QPointer<DragMimeData> mime = payload.mimeData.release();
    drag->setMimeData(mime);
    if (!urls.isEmpty())
        drag->setPixmap(dragPixmap(urls));
    const Qt::DropAction action = exec ? exec(drag) : drag->exec(Qt::CopyAction, Qt::CopyAction);
    if (action == Qt::IgnoreAction || !mime)
        return action;

    auto delivered = [guard = QPointer<ClipboardManager>(&manager), items = payload.items, popup, popupWasKey] {
        for (const ClipboardItem& item : items) {
            if (!guard)
                return;
            guard->paste().markPastedAndCount(item);
        }
        if (guard && !guard->keepWindowOpen() && popup && popupWasKey)
            fadeOutAndClosePopup(popup);
    };
    if (mime->wasDelivered())
        delivered();
    else
        mime->setOnDelivered(std::move(delivered));
    return action;
}

void fadeOutAndClosePopup(PopupPanel* panel)
{
    QPointer<PopupPanel> guard(panel);
    auto* fade = new QPropertyAnimation(panel, "windowOpacity", panel);
    fade->setDuration(fadeDurationMs);
    fade->setEndValue(0.0);
    QObject::connect(fade, &QPropertyAnimation::finished, panel, [guard] {
        if (!guard)
            return;
        guard->close();
        if (guard && !guard->isClosed())
            guard->setWindowOpacity(1.0);
    });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

RowDragController::RowDragController(QAbstractItemView* view, ClipboardManager& manager,
                                     std::function<std::optional<ClipboardItem>(const QModelIndex&)> itemAt,
                                     std::function<QList<QUuid>()> selectedIds, QObject* parent)
    : QObject(parent ? parent : view)
    , m_view(view)
    , m_viewport(view->viewport())
    , m_manager(&manager)
    , m_itemAt(std::move(itemAt))
    , m_selectedIds(std::move(selectedIds))
{
    view->viewport()->installEventFilter(this);
}

bool RowDragController::eventFilter(QObject* watched, QEvent* event)
{
    // Only mouse events touch the view: others also arrive while it is being destroyed.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        if (watched != m_viewport || !m_view)
            return false;
        break;
    default:
        return false;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        m_pressAt.reset();
        if (mouse->button() == Qt::LeftButton) {
            m_pressIndex = m_view->indexAt(mouse->position().toPoint());
            if (m_pressIndex.isValid())
                m_pressAt = mouse->position().toPoint();
        }
        return false;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_preparing)
            return true; // the row's drag is on its way: the list does not select meanwhile
        if (!m_pressAt || !(mouse->buttons() & Qt::LeftButton))
            return false;
        const QPoint moved = mouse->position().toPoint() - *m_pressAt;
        if (std::hypot(moved.x(), moved.y()) < dragDistance)
            return true;
        m_pressAt.reset(); // one press, at most one drag
        const std::optional<ClipboardItem> row = m_pressIndex.isValid() ? m_itemAt(m_pressIndex) : std::nullopt;
        if (!row || !m_manager)
            return true;
        // The drag starts once its forms are made, if the button is still held then.
        const quint64 serial = ++m_dragSerial;
        m_preparing = true;
        makeDragPayload(*row, m_selectedIds(), DragListAccess::filteredItems(*m_manager), *m_manager,
                        mouse->modifiers() & Qt::ShiftModifier, this, [this, serial](DragPayload payload) {
                            if (serial != m_dragSerial)
                                return;
                            m_preparing = false;
                            if (payload.isEmpty() || !m_manager || !m_view)
                                return;
                            const Qt::DropAction action = runDrag(m_view, std::move(payload), *m_manager, m_exec);
                            emit dragFinished(action);
                        });
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_pressAt.reset();
        if (std::exchange(m_preparing, false))
            ++m_dragSerial;
        return false;
    default:
        return false;
    }
}

} // namespace lumra
