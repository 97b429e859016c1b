// Pictures that cost a decoder far more than their bytes, offered on the clipboard: each is
// refused or read within its bound before it is decoded, and the next copy is stored as usual.
#include "CaptureFixture.h"

#include "../../platform/image/AmplifyingImages.h"
#include "LargestAllocation.h"
#include "model/Diagnostics.h"
#include "platform/image/ImageDecoding.h"

#include <gtest/gtest.h>

using namespace lumra;
using namespace lumra::test;

namespace {

TEST_F(CaptureTest, APictureThatAmplifiesCostsOnlyItsOwnCopy)
{
    DiagnosticsCapture log;
    start();
    const QByteArray icon = iconWithTextChunks(3, 4 * 1024 * 1024);
    const QByteArray webp = losslessWebp(8192, 8192);
    const QByteArray scans = withLastScanRepeated(progressiveJpeg(markedImage(512, 512)), 6000);
    const QByteArray svg = svgOfRects(60000);
    copy({rep("image/png", solidPng(Qt::blue))}); // the image plug-ins loaded before anything is measured

    const auto largest = largestAllocationDuring([&] {
        copy({rep("image/x-icon", icon)});
        copy({rep("image/webp", webp)});
        copy({rep("image/jpeg", scans)});
        copy({rep("image/svg+xml", svg)});
        copyText(QStringLiteral("the next copy"));
    });

    // The first picture, the icon, the next copy.
    ASSERT_EQ(texts(), (QStringList { QStringLiteral("<image>"), QStringLiteral("<image>"), QStringLiteral("the next copy") }))
        << log.text().toStdString();
    // The icon is stored, without the text its PNG carried.
    const QByteArray stored = row(untrashed()[1])->bytes(store::ItemAttr::imageData).value_or(QByteArray());
    EXPECT_EQ(image::imageDimensions(stored), QSize(4, 4));
    EXPECT_LT(stored.size(), 4096);
    for (const char* why : { "would take 512.0 MB to decode", "too many scans", "60001 elements" })
        EXPECT_TRUE(log.text().contains(QLatin1String(why))) << why << "\n" << log.text().toStdString();

    if (!largest)
        GTEST_SKIP() << "no sanitizer runtime: the largest allocation is not measured";
    EXPECT_LT(*largest, 4u * 1024 * 1024) << "no decoder buffer beyond the bytes offered";
}

} // namespace
