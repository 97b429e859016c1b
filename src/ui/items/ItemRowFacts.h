#pragma once

#include "model/ClipboardItem.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace lumra {

class ClipboardManager;

// The settings a row is drawn with, read once per change of any of them.
struct RowSettings {
    int textLineLimit = 3;
    double itemFontSize = 16;
    double itemLineSpacing = 3;
    QString imageThumbnailHeight = QStringLiteral("big");
    bool showFileThumbnails = true;
    QString imageFileThumbnailSize = QStringLiteral("default");
    bool showTags = true;
    double commentFontSize = 10;
    double metadataFontSize = 10;
    double tagsFontSize = 10;
    bool showDateLabels = true;
    bool showImageDimensions = true;
    bool showExactTimestamps = false;
    bool showCategoryName = true;
    bool showSourceAppIcon = true;
    double itemVerticalPadding = 14;
    QString dividerStyle = QStringLiteral("fullWidth");

    static RowSettings from(const ClipboardManager& manager);
};

// What is at a copied file's path, as far as is known yet.
enum class FilePresence { unknown, missing, file, folder };

// What a row needs from outside the item: looked up by the caller, so the facts stay pure.
struct RowContext {
    QDateTime now;
    std::optional<QString> categoryName; // the item's category, when it still exists
    std::optional<QSize> imageSize;      // pixel size of an image item; none when its data cannot be read
    // For a file path: what is there. Until that is known the row shows the file as it was stored.
    std::function<FilePresence(const QString& path)> probeFile;
};

// Everything a history row shows, decided once per item and settings; the delegate only paints it.
// A sensitive item's content is never in here in clear: no text, swatch, link, thumbnail,
// recognised text or file names.
struct ItemRowFacts {
    enum class Kind { text, image, files };
    enum class PinBadge { none, pin, star };
    enum class FileIcon { mixed, multipleFiles, noFile, missingFolder, missingFile, thumbnail, fileIcon };

    Kind kind = Kind::text;

    // Badge column, top to bottom.
    std::optional<QString> sourceAppBundleId; // shown when the setting is on and the app has an icon
    PinBadge pinBadge = PinBadge::none;
    bool hasComment = false;
    std::optional<QString> shortcutText;
    bool isSensitive = false;

    // Text content.
    QString text;
    int lineLimit = 3;

    // Image content.
    int imageHeight = 60;
    bool showThumbnail = false;       // false: the "Image" label instead
    QString recognisedText;           // text found in the picture, one line

    // File content.
    FileIcon fileIcon = FileIcon::noFile;
    QString firstFilePath;
    bool firstIsFolder = false;
    int fileIconSize = 56;
    QString fileCaption;
    QStringList fileNames;   // at most three
    QList<bool> fileMissing; // per shown name
    int fileOverflow = 0;
    bool anyFileMissing = false;

    // Trailing accessories of text rows.
    std::optional<QColor> swatch;
    std::optional<QUrl> link;
    bool isCommand = false;

    // Lines under the content.
    QStringList tags;
    std::optional<QString> comment;
    QString metadataLine;               // empty: no line
    std::optional<QString> deletedLine; // "Deleted: 2 days ago"

    static ItemRowFacts make(const ClipboardItem& item, const RowSettings& settings, const RowContext& context);
};

// The link a row's button may open: the whole trimmed text is one http, https, ftp or mailto URL
// (a bare "www." address reads as http, a bare e-mail address as mailto). Anything else, file:
// and launcher URLs and custom schemes among them, gets no button: the text is untrusted.
std::optional<QUrl> openableLink(const QString& text);

} // namespace lumra
