#pragma once

#include "ui/Palettes.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPalette>
#include <QWidget>

namespace lumra::test {

// A dark desktop palette, for pictures of how a window reads in a dark theme.
inline QPalette darkPalette() { return Palettes::dark(); }

// Saves the picture as `name`.png in the build folder's artifacts/, to be looked at.
inline void saveArtifact(const QImage& picture, const QString& name)
{
    const QString folder = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
    QDir().mkpath(folder);
    EXPECT_TRUE(picture.save(folder + QLatin1Char('/') + name + QStringLiteral(".png")));
}

// Saves the widget's picture as `name`.png in the build folder's artifacts/.
inline void saveArtifact(QWidget& widget, const QString& name) { saveArtifact(widget.grab().toImage(), name); }

} // namespace lumra::test
