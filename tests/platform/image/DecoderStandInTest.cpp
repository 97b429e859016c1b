// The decoder program is another program: these run stand-ins that misbehave as one might, or
// hold pictures on purpose to show which request is served first.
#include "platform/image/ImageDecoder.h"

#include "ImageFixtures.h"

#include <gtest/gtest.h>

using namespace lumra;
using namespace lumra::image;
using namespace lumra::test;

TEST(DecoderStandIn, AnAnswerOfNothingIsABrokenProgram)
{
    const QByteArray png = encode(markedImage(8, 8), "png");
    for (const char* mode : {"answer-empty", "answer-none"}) {
        ImageDecoder decoder(QStringLiteral(LUMRA_STAND_IN_IMAGE_DECODER), 1, ImageDecoder::defaultCpuTime, {QString::fromLatin1(mode)});
        const Result<QByteArray> decoded = decoder.png(png, {}, 0);
        ASSERT_FALSE(decoded.ok()) << mode;
        EXPECT_TRUE(decoded.error().contains(QStringLiteral("failed"))) << decoded.error().toStdString();
        EXPECT_TRUE(decoder.runningProcesses().isEmpty()) << mode << ": the program was kept";
    }
}
