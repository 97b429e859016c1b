#pragma once

#include <QSize>
#include <QtGlobal>

#include <algorithm>

namespace lumra::ocr {

// What Lumra and its text-recognition program agree on. The program is the picture decoder
// (lumra-image-decoder) started as `program <Lumra's pid> --recognize-text <tessdata folder>`: it
// loads Tesseract's English data before it confines itself. A request is a picture's bytes, the
// answer its recognised lines in UTF-8, joined by "\n" (none when nothing was read).
inline constexpr char programArgument[] = "--recognize-text";
inline constexpr quint64 readyMark = 0x3152434f4152554cULL; // "LURAOCR1"

// Pictures are scaled down to this long side first; recognition time grows with pixels.
inline constexpr int maxRecognitionSide = 4096;

// The size a picture is recognised at: its own, or scaled to maxRecognitionSide on its long side.
inline QSize recognitionSize(QSize picture)
{
    const double scale = std::min(1.0, double(maxRecognitionSide) / std::max(picture.width(), picture.height()));
    return {std::max(1, int(picture.width() * scale)), std::max(1, int(picture.height() * scale))};
}

} // namespace lumra::ocr
