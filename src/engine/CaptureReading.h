#pragma once

#include "model/ClipboardItem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace lumra {

class OfferReader;
struct FileState;
namespace image {
class ImageDecoder;
}

// What the capture worker makes of a copied image.
struct PreparedImage {
    QByteArray png;
    QString fileName;
    CaptureCategory category = CaptureCategory::image;
    QString error; // refused or unreadable
    bool decoderNotStarted = false;
};

// What the worker hands back for copied files: one folder flag and one bookmark slot per URL,
// so no file of the copy is lost or shifted.
struct PreparedFiles {
    QStringList urls;
    QList<bool> directories;
    QStringList bookmarks;
    CaptureCategory category = CaptureCategory::file;
};

// One copy as its read left it: nothing (skipped), a refusal to log, or the content to store at
// once, with what is costly to derive from it still to come.
struct PreparedCapture {
    std::optional<ClipboardContentType> kind;
    CaptureCategory category = CaptureCategory::text;
    QString text;
    std::optional<QByteArray> rtf;
    std::optional<QString> html; // made into rich text after the text is stored
    QStringList fileUrls; // looked up after the copy is taken
    PreparedFiles files;
    QByteArray imageData; // made into PNG after the copy is taken
    QString imageType;
    PreparedImage image;
    QString notRead; // the offer could not be read (info)
    bool replacedWhileRead = false; // not read as a later copy replaced it meanwhile
    QString refusal; // the owner broke a bound, or the content is refused (warning)
    QString unreadableTypes;
    QString leftOut; // forms of a text not handed over in time: it is stored without them
    QString droppedForSize; // forms of a text larger than Lumra reads: it is stored without them
    QString noRichText; // why no rich text was made of the HTML read with a text
    QString skipped; // why a copy read in full is not recorded: the settings or its owner's marks
    bool replaced = false; // a later copy replaced the offer before its read began
    bool emptied = false; // the clipboard holds nothing at all (its owner ended): no copy was made
    bool notBegun = false; // a copy from the journal whose work did not begin: the next start has it
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

// Looks each file up within a bound. Folder URLs from a file manager carry no trailing slash; with
// `addFolderSlashes` they get it, so folder copies can be told from file copies as stored URLs expect.
PreparedFiles prepareFiles(const QStringList& urlStrings, bool addFolderSlashes);
// Files as named, for a copy whose look-ups did not end before Lumra quit.
PreparedFiles unlookedFiles(const QStringList& urls);
CaptureCategory categoryForFiles(const QStringList& urlStrings, const QList<bool>& directories);

// What kind of copy a text or a list of files is; pictures are told in image::captureCategoryForImageData.
CaptureCategory captureCategoryForText(const QString& text);
// Folders are told by the file system (file-manager URLs carry no trailing slash).
CaptureCategory captureCategoryForFileURLs(const QStringList& fileURLStrings);
// Folder, image file or file, from file lookups made beforehand (checkFiles()).
CaptureCategory captureCategoryForCheckedFiles(const QStringList& fileURLStrings,
                                               const QList<std::optional<FileState>>& states);

// On a reading thread, as soon as the change is seen, so the owner is asked while it still owns
// the clipboard. An offer replaced before its turn came is gone: asking for it would only get the
// later copy's answer, or nothing.
PreparedCapture readCapture(const CaptureRequest& request, const std::atomic<qint64>& newestChange);
// What is costly to make of a copy: its rich text, its PNG, its files looked up.
PreparedCapture deriveCapture(PreparedCapture prepared, const std::optional<QString>& bundleId,
    const std::function<QByteArray(const QString&)>& htmlToRtf, image::ImageDecoder* decoder = nullptr);

} // namespace lumra
