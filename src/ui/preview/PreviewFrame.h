#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QUrl>

#include <optional>

namespace lumra::PreviewFrame {

inline constexpr QSize defaultSize{760, 560};
inline constexpr QSize minimumSize{520, 420};
inline constexpr int contentExtraHeight = 90; // header and footer around an image
inline constexpr double screenShare = 0.8;
inline constexpr int animationInset = 60;

// The available areas of the screens, in screen order, and the primary one; read from the
// desktop by current(), given by hand in tests.
struct Screens {
    QList<QRect> available;
    std::optional<QRect> main;
    static Screens current();
};

// The frame for content of `width` x `height` pixels: 90 added to the height, scaled down to 0.8
// of the main screen, never below the minimum, centred on the main screen. None for an empty size.
std::optional<QRect> previewWindowSize(int width, int height, const Screens& screens);
// `frame` moved and shrunk onto the first screen it touches (else the main one); `fallback`
// when there is no screen.
QRect fitFrameToScreens(const QRect& frame, const QRect& fallback, const Screens& screens);
// The saved frame kept on a screen, else 760 x 560 centred on the main screen.
QRect restoredPreviewWindowFrame(const std::optional<QString>& saved, const Screens& screens);
// The frame the opening animation starts from and the closing one ends at.
QRect animationFrame(const QRect& frame);

// The saved form "{{x, y}, {w, h}}"; parsing gives none for anything else.
QString frameString(const QRect& frame);
std::optional<QRect> parseFrameString(const QString& text);

// The deepest folder holding every file, compared by whole path components ("/a/b" and "/a/bc"
// share "/a"). Empty for no files.
QString commonParentFolder(const QList<QUrl>& urls);

} // namespace lumra::PreviewFrame
