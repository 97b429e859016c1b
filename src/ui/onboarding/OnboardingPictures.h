#pragma once

#include "engine/SettingOptions.h"

#include <QImage>
#include <QWidget>

namespace lumra {

// The walkthrough's pictures: Lumra's own windows, drawn with a sample history and compiled in,
// once for light and once for dark desktops.
namespace OnboardingPictures {

QString overviewName(int tipIndex); // "LumraOverview1" … "LumraOverview10"
QString stylePreviewName(AppearanceStyle style);
bool isDark(const QPalette& palette);
// The scales the pictures are drawn at: 1 and 2 (for screens of twice the density).
inline constexpr int scales[] = {1, 2};
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
};

} // namespace lumra
