#pragma once

#include <QByteArray>

namespace lumra::bench {

// A desktop-like PNG, 4000 x 3000 (800 x 600 in the short mode): a gradient, flat window panels
// and lines of text, which is what screenshots on the clipboard mostly look like. `variant`
// changes the text, so each variant is a different picture.
QByteArray screenshotPng(int variant = 0);

} // namespace lumra::bench
