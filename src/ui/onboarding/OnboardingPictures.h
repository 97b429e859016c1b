#pragma once

#include "engine/SettingOptions.h"

#include <QImage>
#include <QWidget>

#include <optional>

class QPainter;

namespace lumra {

// The walkthrough's pictures: Lumra's own windows, drawn with a sample history and compiled in,
// once for light and once for dark desktops.
namespace OnboardingPictures {

QString overviewName(int tipIndex); // "LumraOverview1" … "LumraOverview10"
QString stylePreviewName(AppearanceStyle style);
bool isDark(const QPalette& palette);
// What tip `index` says over its picture. The first names the shortcut that opens Lumra as it is
// set now (`openShortcut`, empty while none is).
struct TipText {
    QString title;
    QString caption;
};
TipText tipText(int index, const QString& openShortcut);
// The size the tip pictures are drawn for; their words go in the band above the windows.
inline constexpr QSize tipCanvas {960, 600};
// Draws a tip's words over its picture, which is shown in `target`.
void paintTipText(QPainter& painter, const QRectF& target, const TipText& text, const QPalette& palette);

// The resource path of `name` for a light or dark window, drawn at `scale` ("…@2x.png" at 2).
QString path(const QString& name, bool dark, int scale = 1);
// The scale that fits a screen of `devicePixelRatio`.
int scaleFor(qreal devicePixelRatio);
// The picture for `palette` at the scale that fits `devicePixelRatio` (its pixel ratio set to
// that scale), else at scale 1; a null image when it is missing or unreadable.
QImage load(const QString& name, const QPalette& palette, qreal devicePixelRatio = 1);

} // namespace OnboardingPictures

// Shows one picture scaled down to fit, in a rounded, outlined frame with a soft shadow; a faint
// fill stands in for a missing picture. With an aspect ratio the frame keeps it (16:10 for tips).
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    void setPicture(const QString& name);
    QString pictureName() const { return m_name; }
    bool hasPicture() const { return !m_image.isNull(); }
    void setAspectRatio(qreal ratio) { m_ratio = ratio; update(); }
    void setMaximumPictureHeight(int height) { m_maxHeight = height; update(); }
    void setFramed(bool framed) { m_framed = framed; update(); }
    // Words drawn over the picture (a tip's title and caption); none by default.
    void setTipText(std::optional<OnboardingPictures::TipText> text);
    const std::optional<OnboardingPictures::TipText>& tipText() const { return m_text; }
    // The rectangle the picture takes in this widget.
    QRectF pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void reload();
    QString m_name;
    QImage m_image;
    int m_scale = 1; // the scale the picture was loaded for
    qreal m_ratio = 0; // 0: the picture's own
    int m_maxHeight = 0;
    bool m_framed = true;
    std::optional<OnboardingPictures::TipText> m_text;
};

} // namespace lumra
