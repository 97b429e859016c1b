#include "ui/items/ItemRowFacts.h"

#include "engine/ClipboardManager.h"
#include "engine/filter/ItemClassification.h"
#include "platform/core/LinkSchemes.h"
#include "ui/items/RowFormatters.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace lumra {

namespace {

constexpr qsizetype maxShownTextLength = 2000;
constexpr qsizetype maxCommentLength = 200;
constexpr int maxShownFileNames = 3;
const QChar middleDot(0x00B7);

int imageHeightFor(const QString& setting)
{
    if (setting == QLatin1String("big"))
        return 120;
    if (setting == QLatin1String("bigger"))
        return 200;
    return 60;
}

int imageFileIconSize(const QString& setting)
{
    if (setting == QLatin1String("big"))
        return 80;
    if (setting == QLatin1String("bigger"))
        return 110;
    return 56;
}

// Lets a long link or address break anywhere instead of running off the row.
QString breakableAnywhere(const QString& text)
{
    QString out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i > 0 && !text[i].isLowSurrogate())
            out += QChar(0x200B);
        out += text[i];
    }
    return out;
}

QString metadataText(const ClipboardItem& item, const RowSettings& settings, const RowContext& context)
{
    QStringList parts;
    const bool age = settings.showDateLabels;
    if (age)
        parts << relativeAgeText(item.dateAdded, context.now);
    if (context.categoryName) {
        if (age)
            parts << middleDot;
        parts << *context.categoryName;
    }
    const bool size = settings.showImageDimensions && item.contentType == ClipboardContentType::image && context.imageSize
        && context.imageSize->isValid();
    if (size) {
        if (age || context.categoryName)
            parts << middleDot;
        parts << imageSizeText(context.imageSize->width(), context.imageSize->height());
    }
    if (settings.showExactTimestamps) {
        if (age || context.categoryName || size)
            parts << middleDot;
        parts << QStringLiteral("Copied: ") + exactTimestampText(item.firstCopiedDate.value_or(item.dateAdded));
        if (item.lastPastedDate)
            parts << QString(middleDot) + QStringLiteral(" Pasted: ") + exactTimestampText(*item.lastPastedDate);
    }
    return parts.join(QLatin1Char(' '));
}

void fillFiles(ItemRowFacts& facts, const ClipboardItem& item, const RowSettings& settings, const RowContext& context)
{
    QList<QUrl> urls;
    for (const QString& s : item.fileURLStrings.value_or(QStringList())) {
        const QUrl url(s);
        if (url.isValid() && !url.isEmpty())
            urls << url;
    }
    const QList<bool>* stored = item.fileURLIsDirectory && item.fileURLIsDirectory->size() == urls.size()
        ? &*item.fileURLIsDirectory
        : nullptr;
    QList<bool> folders;
    QList<bool> missing;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        const QString path = urls[i].toLocalFile();
        const FilePresence seen = context.probeFile && !path.isEmpty() ? context.probeFile(path) : FilePresence::missing;
        missing << (seen == FilePresence::missing);
        const bool folder = seen == FilePresence::folder
            || (seen != FilePresence::file && (stored ? stored->at(i) : urls[i].path().endsWith(QLatin1Char('/'))));
        folders << (folder && !isPackageURL(urls[i].toString()));
    }
    const int folderCount = int(folders.count(true));
    const int n = int(urls.size());
    const bool mixed = n >= 2 && folderCount > 0 && folderCount < n;
    const bool allFiles = n >= 2 && folderCount == 0;
    facts.anyFileMissing = missing.contains(true);
    facts.firstFilePath = n > 0 ? urls.first().toLocalFile() : QString();
    facts.firstIsFolder = n > 0 && folders.first();
    facts.fileIconSize = 56;
    if (mixed)
        facts.fileIcon = ItemRowFacts::FileIcon::mixed;
    else if (allFiles)
        facts.fileIcon = ItemRowFacts::FileIcon::multipleFiles;
    else if (n == 0)
        facts.fileIcon = ItemRowFacts::FileIcon::noFile;
    else if (missing.first())
        facts.fileIcon = facts.firstIsFolder ? ItemRowFacts::FileIcon::missingFolder : ItemRowFacts::FileIcon::missingFile;
    else if (settings.showFileThumbnails && !item.isSensitive) {
        facts.fileIcon = ItemRowFacts::FileIcon::thumbnail;
        if (isImageFileItem(item))
            facts.fileIconSize = imageFileIconSize(settings.imageFileThumbnailSize);
    } else
        facts.fileIcon = ItemRowFacts::FileIcon::fileIcon;

    facts.fileCaption = fileCountCaption(folderCount, n - folderCount);
    for (int i = 0; i < n && i < maxShownFileNames; ++i) {
        const QString name = urls[i].fileName().isEmpty() ? QFileInfo(urls[i].path().chopped(urls[i].path().endsWith(QLatin1Char('/')) ? 1 : 0)).fileName()
                                                             : urls[i].fileName();
        facts.fileNames << (item.isSensitive ? QStringLiteral("••••••") : name);
        facts.fileMissing << missing[i];
    }
    facts.fileOverflow = std::max(0, n - maxShownFileNames);
    if (item.isSensitive)
        facts.firstFilePath.clear();
}

} // namespace

RowSettings RowSettings::from(const ClipboardManager& m)
{
    RowSettings s;
    s.textLineLimit = int(m.textLineLimit());
    s.itemFontSize = m.itemFontSize();
    s.itemLineSpacing = m.itemLineSpacing();
    s.imageThumbnailHeight = m.imageThumbnailHeight();
    s.showFileThumbnails = m.showFileThumbnails();
    s.imageFileThumbnailSize = m.imageFileThumbnailSize();
    s.showTags = m.showTags();
    s.commentFontSize = m.commentFontSize();
    s.metadataFontSize = m.metadataFontSize();
    s.tagsFontSize = m.tagsFontSize();
    s.showDateLabels = m.showDateLabels();
    s.showImageDimensions = m.showImageDimensions();
    s.showExactTimestamps = m.showExactTimestamps();
    s.showCategoryName = m.showCategoryName();
    s.showSourceAppIcon = m.showSourceAppIcon();
    s.itemVerticalPadding = m.itemVerticalPadding();
    s.dividerStyle = m.dividerStyle();
    return s;
}

std::optional<QUrl> openableLink(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > maxWholeValueLength)
        return std::nullopt;
    for (const QChar c : trimmed) {
        if (c.isSpace())
            return std::nullopt;
    }
    if (emailMatch(trimmed).whole)
        return QUrl(QStringLiteral("mailto:") + trimmed);
    QUrl url(trimmed, QUrl::StrictMode);
    if (url.scheme().isEmpty() && trimmed.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        url = QUrl(QStringLiteral("http://") + trimmed, QUrl::StrictMode);
    if (!url.isValid() || !isOpenableLinkScheme(url.scheme()))
        return std::nullopt;
    const bool mail = url.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0;
    if (mail ? url.path().isEmpty() : url.host().isEmpty())
        return std::nullopt;
    return url;
}

ItemRowFacts ItemRowFacts::make(const ClipboardItem& item, const RowSettings& settings, const RowContext& context)
{
    ItemRowFacts facts;
    facts.isSensitive = item.isSensitive;
    if (settings.showSourceAppIcon && item.sourceAppBundleId && !item.sourceAppBundleId->isEmpty())
        facts.sourceAppBundleId = item.sourceAppBundleId;
    facts.pinBadge = item.isPinnedToTop ? PinBadge::pin : item.isPinned ? PinBadge::star : PinBadge::none;
    facts.hasComment = item.comment.has_value();
    if (item.shortcut)
        facts.shortcutText = item.shortcut->displayString();

    switch (item.contentType) {
    case ClipboardContentType::text: {
        facts.kind = Kind::text;
        const QString real = item.textContent.value_or(QString());
        QString shown = item.isSensitive ? item.maskedDisplayText() : real;
        shown.truncate(maxShownTextLength);
        const QString trimmed = real.trimmed();
        if (!item.isSensitive && (isLinkText(real) || emailMatch(trimmed).whole))
            shown = breakableAnywhere(shown);
        facts.text = shown;
        facts.lineLimit = std::max(1, settings.textLineLimit);
        facts.isCommand = looksLikeCommand(real);
        if (!item.isSensitive) {
            if (isColorText(trimmed))
                facts.swatch = detectedColor(trimmed);
            facts.link = openableLink(real);
        }
        break;
    }
    case ClipboardContentType::image:
        facts.kind = Kind::image;
        facts.imageHeight = imageHeightFor(settings.imageThumbnailHeight);
        // A picture whose data is gone (no size can be read) shows the "Image" label instead.
        facts.showThumbnail = !item.isSensitive && context.imageSize && context.imageSize->isValid();
        if (!item.isSensitive && item.ocrText)
            facts.recognisedText = item.ocrText->simplified().left(maxShownTextLength);
        break;
    case ClipboardContentType::file:
        facts.kind = Kind::files;
        fillFiles(facts, item, settings, context);
        break;
    }

    if (settings.showTags)
        facts.tags = item.tags;
    if (item.comment)
        facts.comment = item.comment->left(maxCommentLength);
    facts.metadataLine = metadataText(item, settings, context);
    if (item.isTrashed && item.trashedDate)
        facts.deletedLine = QStringLiteral("Deleted: ") + relativeAgeText(*item.trashedDate, context.now);
    return facts;
}

} // namespace lumra
