// The decoder program is another program: these run stand-ins that misbehave as one might, or
// hold pictures on purpose to show which request is served first.
#include "platform/image/ImageDecoder.h"

#include "ImageFixtures.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

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

namespace {

// A decoder whose stand-in programs hold every SVG until the gate is opened; with no count, shaped
// as the capture's own programs.
struct HeldDecoder {
    explicit HeldDecoder(std::optional<int> programs = std::nullopt)
        : made(programs ? std::make_unique<ImageDecoder>(standIn, *programs, ImageDecoder::defaultCpuTime, arguments())
                        : ImageDecoder::forCapture(standIn, arguments()))
        , decoder(*made)
    {
    }
    QStringList arguments() const { return {QStringLiteral("hold-svg"), folder.filePath(QStringLiteral("gate"))}; }
    ~HeldDecoder()
    {
        open();
        for (std::thread& thread : threads)
            thread.join();
    }
    int held() const { return int(QDir(folder.path()).entryList({QStringLiteral("gate-held-*")}).size()); }
    void open() { QFile(folder.filePath(QStringLiteral("gate"))).open(QIODevice::WriteOnly); }
    // Decodes on a thread of its own; `done` counts the pictures decoded.
    void decode(const QByteArray& picture, const DecodeTurn& turn, std::atomic<int>* done = nullptr)
    {
        threads.emplace_back([=, this] {
            if (decoder.png(picture, {}, 0, turn).ok() && done)
                ++*done;
        });
    }

    static inline const QString standIn = QStringLiteral(LUMRA_STAND_IN_IMAGE_DECODER);
    QTemporaryDir folder;
    std::unique_ptr<ImageDecoder> made;
    ImageDecoder& decoder;
    std::vector<std::thread> threads;
};

const QByteArray slowSvg = "<svg width='10' height='10'/>";

} // namespace

TEST(DecoderTurns, AnotherApplicationsPictureGoesAheadOfOnesQueuedPictures)
{
    // The capture's own programs.
    HeldDecoder held;
    for (int i = 0; i < 6; ++i)
        held.decode(slowSvg, DecodeTurn::capture(QStringLiteral("drawing.desktop")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.held() == 2 && held.decoder.waiting() == 4; }, 30000));

    // Well before the programs holding the SVGs reach their wall-clock cap.
    std::atomic<int> done = 0;
    held.decode(encode(markedImage(32, 32), "png"), DecodeTurn::capture(QStringLiteral("browser.desktop")), &done);
    EXPECT_TRUE(QTest::qWaitFor([&] { return done == 1; }, 20000)) << "the picture waited behind another application's";
    EXPECT_EQ(held.held(), 2);
}

TEST(DecoderTurns, OneApplicationsPicturesAreServedNewestFirst)
{
    HeldDecoder held(1);
    const DecodeTurn turn = DecodeTurn::capture(QStringLiteral("drawing.desktop"));
    held.decode(slowSvg, turn);
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.held() == 1; }, 30000));
    const QByteArray older = encode(markedImage(8, 8), "png");
    const QByteArray newer = encode(markedImage(40, 40), "png");
    ASSERT_NE(older.size(), newer.size());
    std::atomic<int> done = 0;
    held.decode(older, turn, &done);
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.decoder.waiting() == 1; }, 30000));
    held.decode(newer, turn, &done);
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.decoder.waiting() == 2; }, 30000));
    held.open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return done == 2; }, 30000));
    QFile served(held.folder.filePath(QStringLiteral("gate-served")));
    ASSERT_TRUE(served.open(QIODevice::ReadOnly));
    EXPECT_EQ(served.readAll(), QByteArray::number(newer.size()) + '\n' + QByteArray::number(older.size()) + '\n');
}

TEST(DecoderTurns, DisplayWorkNoLongerWantedIsDroppedUndecoded)
{
    HeldDecoder held(1);
    held.decode(slowSvg, {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.held() == 1; }, 30000));
    std::atomic<bool> done = false;
    Result<QByteArray> thumbnail = Result<QByteArray>::failure({});
    std::thread asking([&] {
        thumbnail = held.decoder.png(encode(markedImage(8, 8), "png"), {}, 0, DecodeTurn::shownWithin(std::chrono::milliseconds(50)));
        done = true;
    });
    const bool dropped = QTest::qWaitFor([&] { return done.load(); }, 20000);
    held.open();
    asking.join();
    EXPECT_TRUE(dropped) << "the thumbnail waited for a program after it was no longer wanted";
    ASSERT_FALSE(thumbnail.ok());
    EXPECT_TRUE(thumbnail.error().contains(QStringLiteral("no longer wanted"))) << thumbnail.error().toStdString();
}
