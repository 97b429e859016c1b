#include "ui/preview/PreviewContent.h"

#include "engine/ClipboardManager.h"
#include "engine/filter/ItemClassification.h"
#include "engine/ItemMedia.h"
#include "platform/core/Folders.h"
#include "platform/files/FileChecks.h"
#include "platform/image/ImageDecoding.h"
#include "platform/image/ImageFileExtensions.h"
#include "ui/preview/PreviewFiles.h"

#include <QCollator>
#include <QDirIterator>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <limits>
#include <numeric>
#include <utility>

namespace lumra {

namespace {

const QString previewTextPrefix = QStringLiteral("/preview-text-");

QString iconNameOf(const QMimeDatabase& types, const QString& name, bool isDirectory)
{
    return isDirectory ? QStringLiteral("folder") : types.mimeTypeForFile(name, QMimeDatabase::MatchExtension).iconName();
}

std::optional<QRect> frameForPixels(QSize size, const PreviewFrame::Screens& screens)
{
    if (size.width() <= 0 || size.height() <= 0)
        return std::nullopt;
    return PreviewFrame::previewWindowSize(size.width(), size.height(), screens);
}

QSize orientedSize(const image::ImageHeader& header)
{
    return (header.transformation & QImageIOHandler::TransformationRotate90) ? header.size.transposed() : header.size;
}

PreviewBridge textBridge(const ClipboardItem& item, const ClipboardManager& manager)
{
    PreviewBridge bridge;
    PreviewTextContent content;
    content.text = item.textContent.value_or(QString()); // also what a refused RTF falls back to
    if (StoredRichText::Reader read = manager.media().richTextReader(item)) {
        content.kind = PreviewTextContent::Kind::rich;
        content.richText = std::make_shared<StoredRichText>(std::move(read));
    } else {
        content.fontSize = manager.itemFontSize() * 1.2;
    }
    bridge.textContent = content;
    // Nothing is written there; the name stays in Lumra's private folder all the same, never in
    // the shared /tmp where another user could put a file under it.
    if (const Result<QString> folder = Folders::privateTempFolder())
        bridge.url = QUrl::fromLocalFile(folder.value() + previewTextPrefix + Json::uuidString(item.id));
    bridge.kind = QStringLiteral("Text");
    bridge.displayPath = textDisplayPath(item);
    bridge.layer = PreviewLayer::text;
    return bridge;
}

std::optional<PreviewBridge> imageBridge(const ClipboardItem& item, ClipboardManager& manager,
                                         const PreviewFrame::Screens& screens)
{
    std::optional<QByteArray> bytes = manager.media().imageData(item);
    if (!bytes || bytes->isEmpty())
        return std::nullopt;
    auto folder = PreviewFiles::previewFolder();
    if (!folder)
        return std::nullopt;
    PreviewBridge bridge;
    const QString name = PreviewFiles::checkedPngFileName(item.id.toString(QUuid::Id128) + QStringLiteral(".png"));
    bridge.url = QUrl::fromLocalFile(folder.value() + QLatin1Char('/') + name);
    bridge.kind = QStringLiteral("Image");
    // The file is Lumra's temporary copy: its name would tell the user nothing they could use.
    bridge.displayPath = bridge.kind;
    if (auto header = image::readImageHeader(*bytes)) {
        const QSize pixels = orientedSize(header.value());
        bridge.preferredFrame = frameForPixels(pixels, screens);
        bridge.displayPath = QStringLiteral("Image · %1 × %2 pixels").arg(pixels.width()).arg(pixels.height());
    }
    bridge.layer = PreviewLayer::image;
    bridge.imageBytes = std::move(*bytes);
    return bridge;
}

} // namespace

QByteArray StoredRichText::bytes()
{
    const std::lock_guard lock(m_mutex);
    if (m_read)
        m_bytes = std::exchange(m_read, {})().value_or(QByteArray());
    return m_bytes;
}

bool StoredRichText::wasRead()
{
    const std::lock_guard lock(m_mutex);
    return !m_read;
}

qsizetype characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString textDisplayPath(const ClipboardItem& item)
{
    const qsizetype count = characterCount(item.textContent.value_or(QString()));
    if (item.hasRichText())
        return count >= 1 ? QStringLiteral("Rich Text · %1 characters").arg(count) : QStringLiteral("Rich Text");
    return QStringLiteral("%1 characters").arg(count);
}

std::optional<PreviewBundleKind> bundleKindFor(qsizetype count, qsizetype directories)
{
    if (count <= 0)
        return std::nullopt;
    if (directories == 0)
        return PreviewBundleKind::multipleFiles;
    if (directories == count)
        return PreviewBundleKind::multipleFolders;
    return PreviewBundleKind::mixed;
}

QString bundleTitle(PreviewBundleKind kind)
{
    switch (kind) {
    case PreviewBundleKind::multipleFiles: return QStringLiteral("Files");
    case PreviewBundleKind::multipleFolders: return QStringLiteral("Folders");
    case PreviewBundleKind::mixed: break;
    }
    return QStringLiteral("Files & Folders");
}

PreviewLayer layerForFile(const QString& path)
{
    if (image::imageFileExtensions().contains(QFileInfo(path).suffix().toLower()))
        return PreviewLayer::image;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    if (type.inherits(QStringLiteral("application/pdf")))
        return PreviewLayer::pdf;
    const QString name = type.name();
    if (name.startsWith(QLatin1String("audio/")) || name.startsWith(QLatin1String("video/")))
        return PreviewLayer::media;
    if (type.inherits(QStringLiteral("text/plain")))
        return PreviewLayer::textFile;
    return PreviewLayer::fallback;
}

PreviewBuild makePreviewBridge(const ClipboardItem& item, ClipboardManager& manager, const PreviewFrame::Screens& screens)
{
    PreviewBuild build;
    switch (item.contentType) {
    case ClipboardContentType::text:
        build.bridge = textBridge(item, manager);
        return build;
    case ClipboardContentType::image:
        build.bridge = imageBridge(item, manager, screens);
        return build;
    case ClipboardContentType::file:
        break;
    }

    // fileURLs() keeps only files that exist; its look-ups are bounded, so a hung mount costs a bound.
    build.accesses = manager.media().fileURLs(item);
    if (build.accesses.isEmpty()) {
        build.filesMissing = true;
        return build;
    }
    QList<QUrl> urls;
    for (const FileBookmarkAccessPtr& access : build.accesses)
        urls.append(access->url());
    const QList<bool> stored = item.fileURLIsDirectory.value_or(QList<bool>());
    const QStringList storedUrls = item.fileURLStrings.value_or(QStringList());
    auto isDirectory = [&](const QUrl& url) {
        const qsizetype index = storedUrls.indexOf(url.toString());
        return index >= 0 && index < stored.size() ? stored[index] : url.path().endsWith(QLatin1Char('/'));
    };

    PreviewBridge bridge;
    bridge.url = urls.first();
    bridge.isFile = true;
    if (urls.size() > 1) {
        const qsizetype directories = std::count_if(urls.begin(), urls.end(), isDirectory);
        bridge.bundleKind = bundleKindFor(urls.size(), directories);
        bridge.kind = bundleTitle(*bridge.bundleKind);
        bridge.revealURLs = urls;
        bridge.bundleURLs = urls;
        bridge.displayPath = PreviewFrame::commonParentFolder(urls);
        bridge.layer = PreviewLayer::entries;
    } else if (isDirectory(bridge.url)) {
        bridge.kind = QStringLiteral("Folder");
        bridge.revealURLs = {bridge.url};
        bridge.displayPath = bridge.url.toLocalFile();
        bridge.layer = PreviewLayer::entries;
        bridge.listFolder = true;
    } else {
        const QString path = bridge.url.toLocalFile();
        bridge.kind = QStringLiteral("File");
        bridge.revealURLs = {bridge.url};
        bridge.displayPath = path;
        bridge.layer = layerForFile(path);
        if (isImageFileItem(item)) {
            // The header only: a few bytes, whatever the picture's size.
            const std::unique_ptr<QFile> file = openRegularFile(path);
            const image::DecodeLimits anySize { std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max() };
            if (file) {
                if (auto header = image::readImageHeader(*file, anySize))
                    bridge.preferredFrame = frameForPixels(orientedSize(header.value()), screens);
            }
        }
    }
    build.bridge = std::move(bridge);
    return build;
}

// ----------------------------------------------------------------------------------------------- listings

void sortPreviewEntries(QList<PreviewEntry>& entries)
{
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(entries.begin(), entries.end(), [&](const PreviewEntry& a, const PreviewEntry& b) {
        if (a.isDirectory != b.isDirectory)
            return a.isDirectory;
        return collator.compare(a.name, b.name) < 0;
    });
}

PreviewListing listFolderForPreview(const QString& folder, qsizetype cap)
{
    struct Found {
        QString name;
        bool isDirectory;
        qint64 size;
        QCollatorSortKey key;
    };
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);

    std::vector<Found> found;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString name = info.fileName();
        found.push_back({name, info.isDir(), info.isDir() ? -1 : info.size(), collator.sortKey(name)});
    }
    std::vector<qsizetype> order(found.size());
    std::iota(order.begin(), order.end(), 0);
    auto before = [&](qsizetype a, qsizetype b) {
        if (found[a].isDirectory != found[b].isDirectory)
            return found[a].isDirectory;
        const int byName = found[a].key.compare(found[b].key);
        return byName != 0 ? byName < 0 : a < b;
    };
    const qsizetype kept = std::min<qsizetype>(cap, qsizetype(order.size()));
    std::partial_sort(order.begin(), order.begin() + kept, order.end(), before);

    const QMimeDatabase types;
    PreviewListing listing;
    listing.moreCount = qsizetype(order.size()) - kept;
    listing.entries.reserve(kept);
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (qsizetype i = 0; i < kept; ++i) {
        const Found& entry = found[order[i]];
        listing.entries.append({prefix + entry.name, entry.name, entry.isDirectory,
                                entry.size >= 0 ? std::optional<qint64>(entry.size) : std::nullopt,
                                iconNameOf(types, entry.name, entry.isDirectory)});
    }
    return listing;
}

PreviewListing describeFilesForPreview(const QList<QUrl>& urls, qsizetype cap)
{
    const QMimeDatabase types;
    PreviewListing listing;
    const qsizetype kept = std::min(cap, urls.size());
    listing.moreCount = urls.size() - kept;
    for (qsizetype i = 0; i < kept; ++i) {
        const QString path = urls[i].toLocalFile();
        const QFileInfo info(path);
        PreviewEntry entry{path, info.fileName(), info.isDir(), std::nullopt,
                           iconNameOf(types, path, info.isDir())};
        if (info.exists() && !info.isDir())
            entry.size = info.size();
        listing.entries.append(entry);
    }
    return listing;
}

QString moreEntriesText(qsizetype count)
{
    return QStringLiteral("and %1 more").arg(count);
}

FileFacts readFileFacts(const QString& path)
{
    const QFileInfo info(path);
    FileFacts facts;
    facts.name = info.fileName();
    facts.exists = info.exists();
    facts.isDirectory = info.isDir();
    if (facts.exists && !facts.isDirectory)
        facts.size = info.size();
    facts.modified = info.lastModified();
    facts.typeDescription = QMimeDatabase().mimeTypeForFile(path).comment();
    return facts;
}

QString byteCountText(qint64 bytes)
{
    if (bytes < 1000)
        return bytes == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(bytes);
    static const struct {
        double unit;
        const char* name;
        int decimals;
    } units[] = {{1e3, "KB", 0}, {1e6, "MB", 1}, {1e9, "GB", 2}, {1e12, "TB", 2}};
    int chosen = 0;
    for (int i = 0; i < 4; ++i)
        if (double(bytes) >= units[i].unit * (i == 0 ? 1 : 0.9995))
            chosen = i;
    const auto& u = units[chosen];
    QString number = QString::number(double(bytes) / u.unit, 'f', u.decimals);
    if (number.contains(QLatin1Char('.'))) {
        while (number.endsWith(QLatin1Char('0')))
            number.chop(1);
        if (number.endsWith(QLatin1Char('.')))
            number.chop(1);
    }
    return number + QLatin1Char(' ') + QLatin1String(u.name);
}

} // namespace lumra
