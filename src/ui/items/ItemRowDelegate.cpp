#include "ui/items/ItemRowDelegate.h"

#include "engine/ClipboardManager.h"
#include "engine/ItemMedia.h"
#include "platform/files/FileLookups.h"
#include "platform/files/IconFiles.h"
#include "platform/symbols/Symbols.h"
#include "ui/items/AppIcons.h"
#include "ui/popup/ContentViewState.h"
#include "ui/popup/HistoryListModel.h"
#include "ui/preview/FileThumbnailCache.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <cmath>

namespace lumra {

namespace {

constexpr int badgeWidth = 16;
constexpr int badgeSymbol = 12;
constexpr int columnSpacing = 8;
constexpr int lineGap = 2;
constexpr int swatchSize = 16;
constexpr int linkSize = 20;
constexpr int terminalSize = 16;
constexpr qreal cornerRadius = 6;

QFont sized(const QFont& base, double pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font = base;
    font.setPixelSize(std::max(1, int(std::lround(pixels))));
    font.setWeight(weight);
    return font;
}

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

const QColor pinBlue(10, 132, 255);
const QColor starOrange(255, 149, 0);
const QColor commentGray(169, 169, 169);
const QColor linkBlue(10, 132, 255);

} // namespace

QString lastShownLine(const QString& rest, const QFontMetricsF& metrics, qreal width)
{
    // Only this line's own text: what follows a line break stays on the lines that are not shown.
    const qsizetype lineEnd = rest.indexOf(QChar::LineSeparator);
    if (lineEnd < 0)
        return metrics.elidedText(rest, Qt::ElideRight, width);
    const QString line = rest.left(lineEnd);
    const QChar ellipsis(0x2026);
    const QString cut = metrics.elidedText(line, Qt::ElideRight, width - metrics.horizontalAdvance(ellipsis));
    return cut == line ? line + ellipsis : cut;
}

Qt::LayoutDirection textDirection(const QString& text)
{
    // The first letter with a direction of its own decides, as in a line edit.
    return text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
}

double highlightFadeLevel(double from, bool fadingIn, std::chrono::milliseconds elapsed)
{
    const double t = std::clamp(double(elapsed.count()) / double(ItemRowDelegate::highlightFade.count()), 0.0, 1.0);
    const double eased = t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t); // ease in and out
    return fadingIn ? from + (1 - from) * eased : from * (1 - eased);
}

namespace {

// Lays out `text` in at most `maxLines` lines of `width`; draws them when a painter is given,
// the last shown line cut with an ellipsis when text is left over. Returns the lines used.
int wrappedText(QPainter* painter, const QString& text, const QFont& font, QPoint origin, int width, int maxLines,
                qreal extraSpacing)
{
    if (text.isEmpty() || width <= 0 || maxLines <= 0)
        return text.isEmpty() ? 1 : 0;
    QString laid = text;
    laid.replace(QLatin1Char('\n'), QChar::LineSeparator);
    laid.replace(QLatin1Char('\r'), QChar::LineSeparator);
    laid.replace(QLatin1Char('\t'), QLatin1Char(' '));
    QTextLayout layout(laid, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Hebrew or Arabic reads from the right edge, as the search field and the preview show it.
    const Qt::LayoutDirection direction = textDirection(text);
    option.setTextDirection(direction);
    option.setAlignment(direction == Qt::RightToLeft ? Qt::AlignRight | Qt::AlignAbsolute : Qt::AlignLeft | Qt::AlignAbsolute);
    layout.setTextOption(option);
    const QFontMetricsF metrics(font);
    const qreal step = metrics.height() + extraSpacing;
    int lines = 0;
    layout.beginLayout();
    struct Shown {
        int start;
        int length;
    };
    QList<Shown> shown;
    bool more = false;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        if (lines == maxLines) {
            more = true;
            break;
        }
        line.setLineWidth(width);
        line.setPosition(QPointF(0, lines * step));
        shown.append({line.textStart(), line.textLength()});
        ++lines;
    }
    layout.endLayout();
    if (!painter)
        return lines;
    for (int i = 0; i < shown.size(); ++i) {
        const QPointF at(origin.x(), origin.y() + i * step);
        const bool last = i == shown.size() - 1;
        if (last && more) {
            const QString elided = lastShownLine(laid.mid(shown[i].start), metrics, width);
            painter->save();
            painter->setFont(font);
            painter->setLayoutDirection(direction);
            painter->drawText(QRectF(at, QSizeF(width, metrics.height())), option.alignment() | Qt::AlignTop, elided);
            painter->restore();
        } else {
            layout.lineAt(i).draw(painter, at - QPointF(0, i * step));
        }
    }
    return lines;
}

QPixmap tinted(const QIcon& icon, int size, const QColor& color, qreal dpr)
{
    QPixmap pixmap = icon.pixmap(QSize(size, size), dpr);
    if (pixmap.isNull())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

int lineHeight(const QFont& font) { return QFontMetrics(font).height(); }

struct RowFonts {
    QFont item;
    QFont metadata;
    QFont caption;
    QFont tags;
    QFont comment;

    RowFonts(const QFont& base, const RowSettings& s)
        : item(sized(base, s.itemFontSize))
        , metadata(sized(base, s.metadataFontSize))
        , caption(sized(base, s.metadataFontSize + 1))
        , tags(sized(base, s.tagsFontSize))
        , comment(sized(base, s.commentFontSize))
    {
    }
};

int badgeColumnHeight(const ItemRowFacts& facts)
{
    int height = 0;
    int count = 0;
    const auto add = [&](int h) {
        height += h + (count++ ? 3 : 0);
    };
    if (facts.sourceAppBundleId)
        add(16);
    if (facts.pinBadge != ItemRowFacts::PinBadge::none)
        add(badgeSymbol);
    if (facts.hasComment)
        add(badgeSymbol);
    if (facts.shortcutText)
        add(badgeSymbol);
    if (facts.isSensitive)
        add(badgeSymbol);
    return height;
}

// Asked for only once the file was found, so the thumbnail workers do not wait on a hung mount.
std::optional<QImage> foundFileThumbnail(const QString& path, int pixelSize)
{
    const std::optional<FileLook> look = FileLookups::instance().look(path);
    if (!look || look->kind != FileLook::Kind::file)
        return std::nullopt;
    return FileThumbnailCache::shared().thumbnail(path, pixelSize);
}

} // namespace

ItemRowDelegate::ItemRowDelegate(ClipboardManager& manager, ContentViewState& state, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_manager(&manager)
    , m_state(&state)
{
    connect(&state, &ContentViewState::highlightedItemIdChanged, this, &ItemRowDelegate::highlightChanged);
    connect(&IconFiles::instance(), &IconFiles::loaded, this, &ItemRowDelegate::repaintNeeded);
}

double ItemRowDelegate::highlightLevel(const QUuid& id) const
{
    if (m_fadeId != id || !m_manager)
        return 0;
    return highlightFadeLevel(m_fadeFrom, m_fadingIn, std::chrono::milliseconds(m_fadeStart.msecsTo(m_manager->clock().now())));
}

void ItemRowDelegate::highlightChanged()
{
    if (!m_manager || !m_state)
        return;
    const std::optional<QUuid> id = m_state->highlightedItemId();
    const double level = m_fadeId ? highlightLevel(*m_fadeId) : 0;
    m_fadeFrom = id && id == m_fadeId ? level : id ? 0 : level;
    m_fadingIn = id.has_value();
    if (id)
        m_fadeId = id;
    m_fadeStart = m_manager->clock().now();
    m_fadeTick = m_manager->clock().start(std::chrono::milliseconds(16), true, [this] {
        emit repaintNeeded();
        if (m_fadeStart.msecsTo(m_manager->clock().now()) < highlightFade.count())
            return;
        if (!m_fadingIn)
            m_fadeId.reset();
        m_fadeTick.reset();
    });
    emit repaintNeeded();
}

RowGeometry ItemRowDelegate::layout(const ItemRowFacts& facts, const RowSettings& s, const QFont& base, int width)
{
    const RowFonts fonts(base, s);
    RowGeometry g;
    const int vpad = int(std::lround(std::max(0.0, s.itemVerticalPadding)));
    const int frameLeft = listPaddingX;
    const int frameRight = width - listPaddingX; // exclusive
    const int innerLeft = frameLeft + 8;
    const int innerRight = frameRight - 8;
    const int top = rowSpacing / 2;

    // Trailing accessories, from the right edge inwards.
    int right = innerRight;
    const auto takeTrailing = [&](int size) {
        right -= size;
        const QRect r(right, 0, size, size);
        right -= columnSpacing;
        return r;
    };
    if (facts.kind == ItemRowFacts::Kind::text) {
        if (facts.isCommand)
            g.terminal = takeTrailing(terminalSize);
        if (facts.link)
            g.link = takeTrailing(linkSize);
        if (facts.swatch)
            g.swatch = takeTrailing(swatchSize);
    }
    const int mainLeft = innerLeft + badgeWidth + columnSpacing;
    const int mainWidth = std::max(40, (right + (right == innerRight ? 0 : columnSpacing)) - mainLeft);
    int y = top + vpad;

    switch (facts.kind) {
    case ItemRowFacts::Kind::text: {
        const int lines = std::max(1, wrappedText(nullptr, facts.text, fonts.item, {}, mainWidth, facts.lineLimit, s.itemLineSpacing));
        g.textLines = lines;
        const int h = int(std::ceil(lines * (QFontMetricsF(fonts.item).height() + s.itemLineSpacing) - s.itemLineSpacing));
        g.content = QRect(mainLeft, y, mainWidth, h);
        break;
    }
    case ItemRowFacts::Kind::image: {
        const int h = facts.showThumbnail ? facts.imageHeight : std::max(lineHeight(fonts.item), 20);
        g.content = QRect(mainLeft, y, mainWidth, h);
        if (!facts.recognisedText.isEmpty()) {
            g.recognisedText = QRect(mainLeft, g.content.bottom() + 1 + lineGap, mainWidth, lineHeight(fonts.metadata));
        }
        break;
    }
    case ItemRowFacts::Kind::files: {
        const int s56 = facts.fileIcon == ItemRowFacts::FileIcon::mixed ? facts.fileIconSize * 2 + 4 + int(facts.fileIconSize * 0.35)
                                                                        : facts.fileIconSize;
        const int iconWidth = std::min(s56, mainWidth / 2);
        g.fileIcon = QRect(mainLeft, y, iconWidth, facts.fileIconSize);
        const int names = lineHeight(fonts.caption) + int(facts.fileNames.size()) * int(lineHeight(fonts.item) + s.itemLineSpacing)
            + (facts.fileOverflow > 0 ? lineHeight(fonts.metadata) + 2 : 0);
        g.content = QRect(mainLeft, y, mainWidth, std::max(facts.fileIconSize, names));
        break;
    }
    }
    y = std::max(y + g.content.height(), g.recognisedText.isNull() ? 0 : g.recognisedText.bottom() + 1);
    const auto addLine = [&](QRect& rect, int height) {
        y += lineGap;
        rect = QRect(mainLeft, y, mainWidth, height);
        y += height;
    };
    if (!facts.tags.isEmpty())
        addLine(g.tags, lineHeight(fonts.tags) + 2);
    if (facts.comment) {
        const int lines = facts.comment->isEmpty() ? 1 : wrappedText(nullptr, *facts.comment, fonts.comment, {}, mainWidth, 2, 0);
        addLine(g.comment, lines * lineHeight(fonts.comment));
    }
    if (!facts.metadataLine.isEmpty())
        addLine(g.metadata, lineHeight(fonts.metadata));
    if (facts.deletedLine)
        addLine(g.deleted, lineHeight(fonts.metadata));

    const int mainBottom = y;
    const int badgeHeight = badgeColumnHeight(facts);
    const int innerHeight = std::max({mainBottom - (top + vpad), badgeHeight, g.terminal.isNull() ? 0 : terminalSize,
                                      g.link.isNull() ? 0 : linkSize});
    g.frame = QRect(frameLeft, top, frameRight - frameLeft, innerHeight + 2 * vpad);
    g.height = g.frame.height() + rowSpacing;
    const int centreY = g.frame.center().y();
    g.badges = QRect(innerLeft, centreY - badgeHeight / 2, badgeWidth, badgeHeight);
    for (QRect* r : {&g.swatch, &g.link, &g.terminal}) {
        if (!r->isNull())
            r->moveTop(centreY - r->height() / 2);
    }
    return g;
}

QSize ItemRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto* model = qobject_cast<const HistoryListModel*>(index.model());
    const int width = option.rect.width() > 0 ? option.rect.width() : 320;
    if (!model || model->kindOf(index.row()) != HistoryListModel::RowKind::item)
        return {width, loaderHeight};
    if (const std::optional<int> cached = model->cachedHeight(index.row(), width))
        return {width, *cached};
    const int height = layout(model->facts(index.row()), model->settings(), option.font, width).height;
    model->cacheHeight(index.row(), width, height);
    return {width, height};
}

QRect ItemRowDelegate::linkRect(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto* model = qobject_cast<const HistoryListModel*>(index.model());
    if (!model || model->kindOf(index.row()) != HistoryListModel::RowKind::item)
        return {};
    const RowGeometry g = layout(model->facts(index.row()), model->settings(), option.font, option.rect.width());
    return g.link.isNull() ? QRect() : g.link.translated(option.rect.topLeft());
}

void ItemRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto* model = qobject_cast<const HistoryListModel*>(index.model());
    if (!model)
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (model->kindOf(index.row()) == HistoryListModel::RowKind::item)
        paintItem(painter, option, *model, index.row());
    else
        paintLoader(painter, option, *model);
    painter->restore();
}

void ItemRowDelegate::paintLoader(QPainter* painter, const QStyleOptionViewItem& option, const HistoryListModel& model) const
{
    if (!model.isLoadingMore())
        return;
    QFont caption = sized(option.font, 11);
    painter->setFont(caption);
    painter->setPen(withAlpha(option.palette.color(QPalette::Text), 0.6));
    painter->drawText(option.rect, Qt::AlignCenter, QStringLiteral("Loading more..."));
}

void ItemRowDelegate::paintItem(QPainter* painter, const QStyleOptionViewItem& option, const HistoryListModel& model,
                                int row) const
{
    const ItemRowFacts& facts = model.facts(row);
    const ClipboardItem* item = model.itemAt(row);
    if (!item)
        return;
    const RowSettings& s = model.settings();
    const RowFonts fonts(option.font, s);
    const RowGeometry g = layout(facts, s, option.font, option.rect.width());
    const QPoint at = option.rect.topLeft();
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPalette& palette = option.palette;
    const QColor text = palette.color(QPalette::Text);
    const QColor secondary = withAlpha(text, 0.62);
    const QColor tertiary = withAlpha(text, 0.45);
    const QColor accent = palette.color(QPalette::Highlight);

    // Background by state: the first that holds decides.
    const QUuid id = item->id;
    QColor background = Qt::transparent;
    if (m_state) {
        const bool hovered = m_state->hoveredItemId() == id && !m_state->keyboardNavActive();
        if (const double level = highlightLevel(id); level > 0)
            background = QColor(255, 204, 0, int(std::lround(51 * level)));
        else if (m_state->keyboardSelectedId() == id)
            background = withAlpha(accent, 0.25);
        else if (m_state->selectedIds().contains(id))
            background = withAlpha(accent, 0.2);
        else if (hovered)
            background = withAlpha(accent, 0.1);
    }
    const QRect frame = g.frame.translated(at);
    if (background.alpha() > 0) {
        QPainterPath path;
        path.addRoundedRect(frame, cornerRadius, cornerRadius);
        painter->fillPath(path, background);
    }

    // Divider along the bottom edge.
    if (s.dividerStyle != QLatin1String("none")) {
        const int inset = s.dividerStyle == QLatin1String("fullWidth") ? 0 : 8 + 12;
        painter->setPen(QPen(withAlpha(text, 0.12), 1));
        const int y = frame.bottom();
        painter->drawLine(frame.left() + inset, y, frame.right() - inset, y);
    }

    // Badge column.
    int by = g.badges.top() + at.y();
    const int bx = g.badges.left() + at.x();
    const auto badge = [&](const QPixmap& pixmap, int size) {
        if (!pixmap.isNull())
            painter->drawPixmap(QRect(bx + (badgeWidth - size) / 2, by, size, size), pixmap);
        by += size + 3;
    };
    if (facts.sourceAppBundleId) {
        const QIcon icon = AppIcons::appIcon(m_manager ? m_manager->services().workspace : nullptr, *facts.sourceAppBundleId);
        if (!icon.isNull())
            badge(icon.pixmap(QSize(16, 16), dpr), 16);
    }
    if (facts.pinBadge == ItemRowFacts::PinBadge::pin)
        badge(tinted(Symbols::icon(QStringLiteral("pin.fill")), badgeSymbol, pinBlue, dpr), badgeSymbol);
    else if (facts.pinBadge == ItemRowFacts::PinBadge::star)
        badge(tinted(Symbols::icon(QStringLiteral("star.fill")), badgeSymbol, starOrange, dpr), badgeSymbol);
    if (facts.hasComment)
        badge(tinted(Symbols::icon(QStringLiteral("text.bubble.fill")), badgeSymbol, commentGray, dpr), badgeSymbol);
    if (facts.shortcutText)
        badge(tinted(Symbols::icon(QStringLiteral("keyboard")), badgeSymbol, secondary, dpr), badgeSymbol);
    if (facts.isSensitive)
        badge(tinted(Symbols::icon(QStringLiteral("lock.fill")), badgeSymbol, secondary, dpr), badgeSymbol);

    // Content.
    const QRect content = g.content.translated(at);
    switch (facts.kind) {
    case ItemRowFacts::Kind::text:
        painter->setPen(text);
        painter->setFont(fonts.item);
        wrappedText(painter, facts.text, fonts.item, content.topLeft(), content.width(), facts.lineLimit, s.itemLineSpacing);
        break;
    case ItemRowFacts::Kind::image: {
        std::optional<QImage> thumb;
        if (facts.showThumbnail && m_manager) {
            // Decoded at the device pixels it is painted in: sharp, and no bigger than that.
            const QSize box(int(std::ceil(content.width() * dpr)), int(std::ceil(facts.imageHeight * dpr)));
            thumb = m_manager->media().thumbnail(*item, facts.imageHeight, box);
        }
        if (thumb && !thumb->isNull()) {
            QSizeF size = QSizeF(thumb->size()).scaled(QSizeF(content.width(), facts.imageHeight), Qt::KeepAspectRatio);
            const QRectF target(content.topLeft(), size);
            QPainterPath clip;
            clip.addRoundedRect(target, 4, 4);
            painter->save();
            painter->setClipPath(clip);
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->drawImage(target, *thumb);
            painter->restore();
            painter->setPen(QPen(withAlpha(QColor(128, 128, 128), 0.2), 1));
            painter->drawPath(clip);
        } else if (!facts.showThumbnail || !m_manager) {
            const QPixmap photo = tinted(Symbols::icon(facts.isSensitive ? QStringLiteral("lock.fill") : QStringLiteral("photo")), 16, secondary, dpr);
            painter->drawPixmap(content.left(), content.top() + (content.height() - 16) / 2, photo);
            painter->setPen(secondary);
            painter->setFont(fonts.item);
            painter->drawText(content.adjusted(22, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Image"));
        }
        if (!g.recognisedText.isNull()) {
            painter->setPen(secondary);
            painter->setFont(fonts.metadata);
            const QRect r = g.recognisedText.translated(at);
            painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                              QFontMetrics(fonts.metadata).elidedText(facts.recognisedText, Qt::ElideRight, r.width()));
        }
        break;
    }
    case ItemRowFacts::Kind::files: {
        painter->save();
        if (facts.anyFileMissing)
            painter->setOpacity(0.55);
        const QRect iconRect = g.fileIcon.translated(at);
        const int sz = facts.fileIconSize;
        const auto drawIcon = [&](const QIcon& icon, QRect r) {
            const int side = std::min(r.width(), r.height());
            icon.paint(painter, QRect(r.left(), r.top() + (r.height() - side) / 2, side, side));
        };
        switch (facts.fileIcon) {
        case ItemRowFacts::FileIcon::mixed: {
            const int side = std::min(sz, (iconRect.width() - 4 - int(sz * 0.35)) / 2);
            drawIcon(AppIcons::folderIcon(), QRect(iconRect.left(), iconRect.top(), side, sz));
            const QPixmap plus = tinted(Symbols::icon(QStringLiteral("plus")), int(sz * 0.35), secondary, dpr);
            painter->drawPixmap(iconRect.left() + side + 2, iconRect.top() + (sz - int(sz * 0.35)) / 2, plus);
            drawIcon(AppIcons::multipleFilesIcon(), QRect(iconRect.left() + side + 4 + int(sz * 0.35), iconRect.top(), side, sz));
            break;
        }
        case ItemRowFacts::FileIcon::multipleFiles:
            drawIcon(AppIcons::multipleFilesIcon(), iconRect);
            break;
        case ItemRowFacts::FileIcon::noFile:
            painter->drawPixmap(iconRect.topLeft(), tinted(Symbols::icon(QStringLiteral("doc")), sz, secondary, dpr));
            break;
        case ItemRowFacts::FileIcon::missingFolder:
            drawIcon(AppIcons::folderIcon(), iconRect);
            break;
        case ItemRowFacts::FileIcon::missingFile:
            drawIcon(AppIcons::genericFileIcon(), iconRect);
            break;
        case ItemRowFacts::FileIcon::thumbnail:
            // Looked up by this row's own path every paint, so a reused row never shows another file's picture.
            if (const auto picture = foundFileThumbnail(facts.firstFilePath, int(sz * dpr))) {
                QSize shown = picture->size().scaled(iconRect.size(), Qt::KeepAspectRatio);
                painter->drawImage(QRect(QPoint(iconRect.left() + (iconRect.width() - shown.width()) / 2,
                                                iconRect.top() + (iconRect.height() - shown.height()) / 2),
                                         shown),
                                   *picture);
                break;
            }
            [[fallthrough]];
        case ItemRowFacts::FileIcon::fileIcon:
            drawIcon(facts.firstFilePath.isEmpty() ? AppIcons::genericFileIcon() : AppIcons::fileIcon(facts.firstFilePath), iconRect);
            break;
        }
        // Names column.
        int x = iconRect.right() + 1 + columnSpacing;
        const int w = content.right() - x;
        int y = content.top();
        painter->setPen(secondary);
        painter->setFont(fonts.caption);
        painter->drawText(QRect(x, y, w, lineHeight(fonts.caption)), Qt::AlignLeft | Qt::AlignVCenter, facts.fileCaption + QLatin1Char(':'));
        y += lineHeight(fonts.caption);
        for (int i = 0; i < facts.fileNames.size(); ++i) {
            QFont font = fonts.item;
            font.setStrikeOut(i < facts.fileMissing.size() && facts.fileMissing[i]);
            painter->setFont(font);
            painter->setPen(text);
            const int h = lineHeight(fonts.item);
            painter->drawText(QRect(x, y, w, h), Qt::AlignLeft | Qt::AlignVCenter,
                              QFontMetrics(font).elidedText(facts.fileNames[i], Qt::ElideMiddle, w));
            y += h + int(s.itemLineSpacing);
        }
        if (facts.fileOverflow > 0) {
            painter->setPen(secondary);
            painter->setFont(fonts.metadata);
            painter->drawText(QRect(x, y + 2, w, lineHeight(fonts.metadata)), Qt::AlignLeft | Qt::AlignVCenter,
                              QStringLiteral("+%1 More").arg(facts.fileOverflow));
        }
        painter->restore();
        break;
    }
    }

    // Tags, comment, metadata, deleted.
    if (!g.tags.isNull()) {
        const QRect r = g.tags.translated(at);
        painter->save();
        painter->setClipRect(r);
        painter->setFont(fonts.tags);
        const QFontMetrics fm(fonts.tags);
        int x = r.left();
        for (const QString& tag : facts.tags) {
            const int w = fm.horizontalAdvance(tag) + 8;
            const QRectF chip(x + 0.5, r.top() + 0.5, w - 1, r.height() - 1);
            painter->setPen(QPen(withAlpha(accent, 0.5), 1));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(chip, 3, 3);
            painter->setPen(withAlpha(text, 0.9));
            painter->drawText(chip, Qt::AlignCenter, tag);
            x += w + 4;
            if (x >= r.right())
                break;
        }
        painter->restore();
    }
    if (!g.comment.isNull() && facts.comment) {
        painter->setPen(commentGray);
        painter->setFont(fonts.comment);
        wrappedText(painter, *facts.comment, fonts.comment, g.comment.translated(at).topLeft(), g.comment.width(), 2, 0);
    }
    if (!g.metadata.isNull()) {
        const QRect r = g.metadata.translated(at);
        painter->setPen(tertiary);
        painter->setFont(fonts.metadata);
        painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter, QFontMetrics(fonts.metadata).elidedText(facts.metadataLine, Qt::ElideRight, r.width()));
    }
    if (!g.deleted.isNull() && facts.deletedLine) {
        const QRect r = g.deleted.translated(at);
        const QColor red = withAlpha(QColor(255, 59, 48), 0.6);
        const int sym = std::max(8, int(s.metadataFontSize) - 1);
        painter->drawPixmap(r.left(), r.top() + (r.height() - sym) / 2, tinted(Symbols::icon(QStringLiteral("trash")), sym, red, dpr));
        painter->setPen(red);
        painter->setFont(fonts.metadata);
        const QRect textRect = r.adjusted(sym + 4, 0, 0, 0);
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(fonts.metadata).elidedText(*facts.deletedLine, Qt::ElideRight, textRect.width()));
    }

    // Trailing accessories.
    if (facts.swatch && !g.swatch.isNull()) {
        const QRectF r = QRectF(g.swatch.translated(at)).adjusted(0.25, 0.25, -0.25, -0.25);
        painter->setPen(QPen(withAlpha(text, 0.2), 0.5));
        painter->setBrush(*facts.swatch);
        painter->drawRoundedRect(r, 4, 4);
    }
    if (!g.link.isNull()) {
        // An arrow up and to the right, drawn so it reads the same in every icon theme.
        const QRectF r = QRectF(g.link.translated(at)).adjusted(5, 5, -5, -5);
        QPen pen(linkBlue, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawLine(r.bottomLeft(), r.topRight());
        const qreal head = r.width() * 0.6;
        painter->drawPolyline(QPolygonF{QPointF(r.right() - head, r.top()), r.topRight(), QPointF(r.right(), r.top() + head)});
    }
    if (!g.terminal.isNull())
        painter->drawPixmap(g.terminal.translated(at), tinted(Symbols::icon(QStringLiteral("apple.terminal.fill")), terminalSize, text, dpr));
}

} // namespace lumra
