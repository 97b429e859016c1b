#include "model/sync/SyncEngineParts.h"

#include "../../platform/image/AmplifyingImages.h"
#include "CpuTime.h"

#include <gtest/gtest.h>

#include <QSvgRenderer>

using namespace lumra;
using namespace lumra::test;

// Another computer's picture is taken only when every reader here would read it within its bounds,
// and the check itself decodes nothing.
TEST(SyncImageCheck, TakesOnlyWhatTheReadersReadWithinTheirBounds)
{
    EXPECT_TRUE(sync::detail::isImage(encode(markedImage(40, 30), "png")));
    EXPECT_TRUE(sync::detail::isImage(svgOfRects(100)));
    const QByteArray overCap = pngHeaderClaiming(20000, 20000);
    const QByteArray webp = losslessWebp(8192, 8192);
    const QByteArray tiff = oneStripTiff(8192, 8192);
    const QByteArray svg = svgOfRects(100000);
    const double cpu = cpuSecondsDuring([&] {
        EXPECT_FALSE(sync::detail::isImage(overCap)) << "over the pixel cap";
        EXPECT_FALSE(sync::detail::isImage(webp));
        EXPECT_FALSE(sync::detail::isImage(tiff));
        EXPECT_FALSE(sync::detail::isImage(svg));
    });
    // Parsing the SVG alone costs more than checking all four, on this machine as busy as it is.
    EXPECT_LT(cpu, cpuSecondsDuring([&] { EXPECT_TRUE(QSvgRenderer(svg).isValid()); }))
        << "a picture was decoded or parsed to be checked";
}
