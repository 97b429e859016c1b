#pragma once

#include "model/ClipboardItem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace lumra::image {

// Desktop-entry ids of the screenshot tools whose images count as screenshots even
// without metadata saying so.
const QStringList& screenshotToolIds();

// The EXIF UserComment of JPEG, TIFF, WebP, HEIF… data or of a PNG's eXIf chunk, as text.
std::optional<QString> exifUserComment(const QByteArray& data);

// The values of a PNG's tEXt, zTXt and iTXt chunks, in file order; empty for other formats.
QStringList pngTextValues(const QByteArray& data);

// True when the image's EXIF user comment or one of its PNG text values contains
// "screenshot" or "screen capture" in any letter case. Unreadable data gives false.
bool isScreenshotImage(const QByteArray& data);

// screenshot when the bytes carry screenshot metadata or come from a screenshot tool,
// else image.
CaptureCategory captureCategoryForImageData(const std::optional<QByteArray>& data,
                                            const std::optional<QString>& sourceAppBundleId);

} // namespace lumra::image
