#pragma once

#include "model/ClipboardItem.h"
#include "ui/preview/PreviewFrame.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace lumra {

class ClipboardManager;

enum class PreviewBundleKind { multipleFiles, multipleFolders, mixed };

// An item's RTF, megabytes of it, read from the store by the first worker that asks and kept for
// the next: it never passes through the window's thread.
class StoredRichText {
public:
    using Reader = std::function<std::optional<QByteArray>()>;
    explicit StoredRichText(Reader read) : m_read(std::move(read)) {}

    QByteArray bytes(); // empty when the store no longer holds it
    bool wasRead();

private:
    std::mutex m_mutex;
    Reader m_read;
    QByteArray m_bytes;
};

struct PreviewTextContent {
    enum class Kind { plain, rich };
    Kind kind = Kind::plain;
    QString text;         // plain, and for rich text that cannot be read
    double fontSize = 0;  // plain
    std::shared_ptr<StoredRichText> richText; // rich
};

// Which of our preview layers fills the content area.
enum class PreviewLayer { text, image, pdf, media, textFile, entries, fallback };

// What the preview window shows for one item; built on the main thread from what is already
// known (no folder listing, no decoding), the rest is read off the main thread by the window.
struct PreviewBridge {
    QUrl url;
    QString kind; // "Text", "Image", "File", "Folder", "Files", "Folders", "Files & Folders"
    bool isFile = false;
    QList<QUrl> revealURLs;
    QList<QUrl> bundleURLs;  // several files of one item
    std::optional<PreviewBundleKind> bundleKind;
    std::optional<PreviewTextContent> textContent;
    QString displayPath;
    std::optional<QRect> preferredFrame;

    PreviewLayer layer = PreviewLayer::text;
    QByteArray imageBytes;   // image items: written to `url` and decoded by a worker
    bool listFolder = false; // one folder: its entries are listed by a worker
};

// The result of building: a bridge, nothing to show, or a file item none of whose files exists.
struct PreviewBuild {
    std::optional<PreviewBridge> bridge;
    bool filesMissing = false;
    QList<FileBookmarkAccessPtr> accesses; // keep while the preview is open
};
PreviewBuild makePreviewBridge(const ClipboardItem& item, ClipboardManager& manager,
                               const PreviewFrame::Screens& screens = PreviewFrame::Screens::current());

// "Rich Text · 42 characters", "0 characters": user-perceived characters.
QString textDisplayPath(const ClipboardItem& item);
qsizetype characterCount(const QString& text);
std::optional<PreviewBundleKind> bundleKindFor(qsizetype count, qsizetype directories);
QString bundleTitle(PreviewBundleKind kind);
// Chosen by the file name alone, so no disk is touched on the main thread.
PreviewLayer layerForFile(const QString& path);

// One row of a listing; facts are read off the main thread.
struct PreviewEntry {
    QString path;
    QString name;
    bool isDirectory = false;
    std::optional<qint64> size; // none for folders and unreadable files
    QString iconName;           // the theme icon of its type, looked up with the facts
};
struct PreviewListing {
    QList<PreviewEntry> entries; // at most the cap, folders first then by name
    qsizetype moreCount = 0;     // entries left out beyond the cap
};
inline constexpr qsizetype previewListingCap = 2000;

// Worker functions: may run on any thread, touch the disk, keep at most `cap` entries.
PreviewListing listFolderForPreview(const QString& folder, qsizetype cap = previewListingCap);
PreviewListing describeFilesForPreview(const QList<QUrl>& urls, qsizetype cap = previewListingCap);
void sortPreviewEntries(QList<PreviewEntry>& entries);
QString moreEntriesText(qsizetype count); // "and 98000 more"

struct FileFacts {
    QString name;
    QString typeDescription;
    std::optional<qint64> size;
    QDateTime modified;
    bool exists = false;
    bool isDirectory = false;
};
FileFacts readFileFacts(const QString& path);
// The file-size style: "345 bytes", "12 KB", "1.5 MB".
QString byteCountText(qint64 bytes);

} // namespace lumra
