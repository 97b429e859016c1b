#include "ui/onboarding/OnboardingPictures.h"

#include "ui/AppIcon.h"
#include "ui/Palettes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QStyle>

namespace lumra {
namespace {

QStringList pictureNames()
{
    QStringList names {OnboardingPictures::stylePreviewName(AppearanceStyle::standard),
                       OnboardingPictures::stylePreviewName(AppearanceStyle::minimal)};
    for (int i = 0; i < 10; ++i)
        names << OnboardingPictures::overviewName(i);
    return names;
}

// Every picture exists for dense screens too, with twice the pixels of the same picture, so that
// a 200 % screen draws it pixel for pixel.
TEST(OnboardingPicturesTest, DenseScreensGetPicturesOfTwiceThePixels)
{
    for (const bool dark : {false, true}) {
        const QPalette palette = dark ? Palettes::dark() : QApplication::style()->standardPalette();
        for (const QString& name : pictureNames()) {
            const QImage plain = OnboardingPictures::load(name, palette, 1.0);
            const QImage dense = OnboardingPictures::load(name, palette, 2.0);
            ASSERT_FALSE(plain.isNull()) << name.toStdString();
            ASSERT_FALSE(dense.isNull()) << name.toStdString();
            EXPECT_EQ(plain.devicePixelRatio(), 1.0);
            EXPECT_EQ(dense.devicePixelRatio(), 2.0) << name.toStdString();
            EXPECT_EQ(dense.size(), plain.size() * 2) << name.toStdString() << (dark ? " dark" : " light");
            EXPECT_EQ(dense.deviceIndependentSize(), QSizeF(plain.size())) << "the same place on the page";
            EXPECT_EQ(OnboardingPictures::load(name, palette, 1.5).devicePixelRatio(), 2.0) << "150 %: the sharper one, scaled down";
        }
    }
}

TEST(OnboardingPicturesTest, TheAppIconFillsItsFrameAtEveryDensity)
{
    for (const qreal ratio : {1.0, 2.0}) {
        const QPixmap icon = AppIcon::pixmap(120, ratio);
        ASSERT_EQ(icon.size(), QSize(120, 120) * ratio);
        EXPECT_EQ(icon.devicePixelRatio(), ratio);
        // Opaque from edge to edge of the tile, not a small symbol in the middle of a large frame.
        const QImage image = icon.toImage();
        int left = image.width();
        int right = -1;
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, image.height() / 2)) > 128) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        EXPECT_GE(right - left + 1, int(image.width() * 0.9)) << ratio;
    }
    EXPECT_FALSE(AppIcon::icon().isNull());
    EXPECT_EQ(AppIcon::icon().pixmap(QSize(256, 256)).size(), QSize(256, 256)) << "drawn, not a small bitmap scaled";
}

} // namespace
} // namespace lumra
