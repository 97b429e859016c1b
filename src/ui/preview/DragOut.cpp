#include "ui/preview/DragOut.h"

#include "ui/shell/PopupPanel.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "engine/PasteService.h"
#include "engine/ItemMedia.h"
#include "platform/image/ImageDecoding.h"
#include "platform/core/BackgroundWork.h"
#include "platform/richtext/RtfCodec.h"
#include "ui/preview/FileThumbnailView.h"
#include "ui/preview/PreviewFiles.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDrag>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>

#include <cmath>

namespace lumra {

namespace {

constexpr int fadeDurationMs = 200;

// A picture as stored: capture stores PNG, while one another computer synced keeps its own format
// and goes out as it is, never decoded here.
struct DraggedPicture {
    QByteArray bytes;
    QString mimeType;
};

// The picture of an image item in the drag folder, under its checked name; none when it cannot be made.
std::optional<QUrl> writeDragImageFile(ClipboardManager& manager, const ClipboardItem& item, DraggedPicture* picture)
{
    if (!item.imageFileName)
        return std::nullopt;
    const std::optional<QByteArray> stored = manager.media().imageData(item);
    const std::optional<image::PictureType> type = stored ? image::pictureType(*stored) : std::nullopt;
    auto folder = PreviewFiles::dragFolder();
    if (!type || !folder)
        return std::nullopt;
    picture->bytes = *stored;
    picture->mimeType = QLatin1String(type->mimeType);
    QString name = *item.imageFileName;
    if (!name.endsWith(QLatin1String(".png")))
        name += QStringLiteral(".png");
    name = PreviewFiles::checkedPngFileName(name);
    name.replace(name.size() - 3, 3, QLatin1String(type->suffix));
    const QString path = folder.value() + QLatin1Char('/') + name;
    if (!PreviewFiles::writeFileAtomically(path, picture->bytes))
        return std::nullopt;
    return QUrl::fromLocalFile(path);
}

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

QStringList DragMimeData::formats() const
{
    QStringList all = QMimeData::formats();
    if (m_rtf.valid() && !all.contains(QLatin1String("text/rtf")))
        all << QStringLiteral("text/rtf");
    if (m_html.valid() && !all.contains(QLatin1String("text/html")))
        all << QStringLiteral("text/html");
    return all;
}

namespace {

// A wait on the lane, not work on this thread; dropped or too slow, there is nothing.
template <typename T>
QVariant waitedFor(const std::shared_future<std::optional<T>>& made)
{
    if (!made.valid() || made.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
        return {};
    try {
        if (const std::optional<T> value = made.get())
            return *value;
    } catch (const std::future_error&) {
    }
    return {};
}

} // namespace

QVariant DragMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    QVariant data = QMimeData::retrieveData(mimeType, type);
    if (!data.isValid() && mimeType == QLatin1String("text/rtf"))
        data = waitedFor(m_rtf);
    else if (!data.isValid() && mimeType == QLatin1String("text/html"))
        data = waitedFor(m_html);
    if (data.isValid() && !m_delivered) {
        m_delivered = true;
        if (auto onDelivered = std::exchange(m_onDelivered, nullptr))
            onDelivered();
    }
    return data;
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

DragPayload makeDragPayload(const ClipboardItem& row, const QList<QUuid>& selectedIds, const DragListAccess& list,
                            ClipboardManager& manager, bool shiftHeld)
{
    DragPayload payload;
    auto mime = std::make_unique<DragMimeData>();
    switch (row.contentType) {
    case ClipboardContentType::text: {
        const QList<ClipboardItem> texts = combinedTextItemsForDrag(row, selectedIds, list);
        if (texts.size() >= 2) {
            if (auto joined = combinedDragText(texts, manager.combineTextsMode())) {
                mime->setText(*joined);
                payload.items = texts;
                break;
            }
        }
        mime->setText(row.textContent.value_or(QString()));
        if (manager.preserveFormatting() && !shiftHeld && row.hasRichText()) {
            // A long document takes seconds to read and convert: the main thread only hands the work on.
            if (auto read = manager.media().richTextReader(row)) {
                auto rtfRead = std::make_shared<std::promise<std::optional<QByteArray>>>();
                auto htmlMade = std::make_shared<std::promise<std::optional<QString>>>();
                mime->setPendingRichText(rtfRead->get_future().share(), htmlMade->get_future().share());
                manager.work().start(BackgroundWork::Lane::previews, [rtfRead, htmlMade, read = std::move(read)] {
                    const std::optional<QByteArray> rtf = read();
                    rtfRead->set_value(rtf);
                    htmlMade->set_value(rtf ? RichText::htmlFromRtf(*rtf) : std::nullopt);
                });
            }
        }
        payload.items = {row};
        break;
    }
    case ClipboardContentType::image: {
        QList<QUrl> urls;
        DraggedPicture first;
        for (const ClipboardItem& item : QList<ClipboardItem>{row} + additionalItemsForDrag(row, selectedIds, list, ClipboardContentType::image)) {
            DraggedPicture picture;
            if (auto url = writeDragImageFile(manager, item, &picture)) {
                urls << *url;
                payload.items << item;
                if (first.bytes.isEmpty())
                    first = picture;
            }
        }
        if (urls.isEmpty())
            return {};
        mime->setUrls(urls);
        if (urls.size() == 1)
            mime->setData(first.mimeType, first.bytes);
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
            return {};
        mime->setUrls(urls);
        break;
    }
    }
    payload.mimeData = std::move(mime);
    return payload;
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
        if (!m_pressAt || !(mouse->buttons() & Qt::LeftButton))
            return false;
        const QPoint moved = mouse->position().toPoint() - *m_pressAt;
        if (std::hypot(moved.x(), moved.y()) < dragDistance)
            return true;
        m_pressAt.reset(); // one press, at most one drag
        const std::optional<ClipboardItem> row = m_pressIndex.isValid() ? m_itemAt(m_pressIndex) : std::nullopt;
        if (!row || !m_manager)
            return true;
        DragPayload payload = makeDragPayload(*row, m_selectedIds(), DragListAccess::filteredItems(*m_manager),
                                              *m_manager, mouse->modifiers() & Qt::ShiftModifier);
        if (payload.isEmpty())
            return true;
        const Qt::DropAction action = runDrag(m_view, std::move(payload), *m_manager, m_exec);
        emit dragFinished(action);
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_pressAt.reset();
        return false;
    default:
        return false;
    }
}

} // namespace lumra
