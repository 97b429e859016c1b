#pragma once

#include "platform/core/Result.h"

#include <QByteArray>

namespace lumra::pdf {

// One page of a PDF file Lumra sent the descriptor of, drawn on white paper so that neither side
// exceeds `maxPixelSize` and the page holds no more than `maxPixels`, as PNG; with the document's
// page count. A page past the last is the last. The error is in the user's words.
struct RenderedPage {
    int pageCount = 0;
    QByteArray png;
};
Result<RenderedPage> renderPage(int descriptor, int page, int maxPixelSize, qint64 maxPixels);

// Loads the PDF library and what it reads on first use, before the program is confined.
void warmUp();

} // namespace lumra::pdf
