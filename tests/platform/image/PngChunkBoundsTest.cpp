// A PNG's chunks are taken only whole, and its header only within its cap, however the bytes
// around them are cut.
#include "platform/image/ImageDecoding.h"

#include "ImageFixtures.h"

#include <QBuffer>

#include <gtest/gtest.h>

using namespace lumra;
using namespace lumra::image;
using namespace lumra::test;

namespace {

TEST(PngChunkBounds, AChunkCutShortByAnyOfItsLastBytesIsNotRead)
{
    const QByteArray png = pngHeaderClaiming(4, 4).left(33); // signature and IHDR
    const QByteArray chunk = pngChunk("teSt", QByteArray(16, 'p'));
    ASSERT_EQ(pngChunkPayload(png + chunk, "teSt"), QByteArray(16, 'p'));
    // Missing the CRC, then the payload too: none of the twelve bytes around a payload is optional.
    for (int cut = 1; cut <= 12; ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(pngChunkPayload(png + chunk.chopped(cut), "teSt"), std::nullopt);
    }
}

TEST(PngChunkBounds, AFilesHeaderIsReadNoFurtherThanItsCap)
{
    // Chunks before the pixels are kept to be read with them; text chunks alone are skipped.
    const QByteArray plain = encode(markedImage(4, 4), "png");
    const auto headerOf = [](const QByteArray& bytes) {
        QBuffer file;
        file.setData(bytes);
        file.open(QIODevice::ReadOnly);
        return readImageHeader(file);
    };
    ASSERT_TRUE(headerOf(withChunksAfterHeader(plain, pngChunk("prVt", QByteArray(4 * 1024 * 1024, 'p')))).ok());
    const auto over = headerOf(withChunksAfterHeader(plain, pngChunk("prVt", QByteArray(9 * 1024 * 1024, 'p'))));
    ASSERT_FALSE(over.ok());
    EXPECT_TRUE(over.error().contains(QLatin1String("too large"))) << over.error().toStdString();
}

} // namespace
