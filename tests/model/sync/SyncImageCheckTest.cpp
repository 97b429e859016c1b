#include "model/sync/SyncEngineParts.h"

#include "../../platform/image/AmplifyingImages.h"
#include "LargestAllocation.h"

#include <gtest/gtest.h>

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
    // Parsed, the SVG would cost at least one allocation for each of its 100,000 elements.
    const std::optional<size_t> allocations = allocationsDuring([&] { EXPECT_FALSE(sync::detail::isImage(svg)); });
    if (allocations) {
        EXPECT_LT(*allocations, size_t(10000)) << "the SVG was parsed to be checked";
    }
    // Decoded, any of the others would take 256 MB of pixels.
    const std::optional<size_t> largest = largestAllocationDuring([&] {
        EXPECT_FALSE(sync::detail::isImage(overCap)) << "over the pixel cap";
        EXPECT_FALSE(sync::detail::isImage(webp));
        EXPECT_FALSE(sync::detail::isImage(tiff));
    });
    expectLargestAllocationBelow(largest, size_t(16) * 1024 * 1024, "a picture was decoded to be checked");
}
