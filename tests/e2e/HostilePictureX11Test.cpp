#include "engine/ClipboardManager.h"
#include "engine/ItemMedia.h"
#include "platform/image/ImageDecoder.h"

#include "TestImages.h"
#include "X11EngineTest.h"
#include "Xclip.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace lumra;

namespace {

class HostilePictureX11Test : public test::X11EngineTest {
protected:
    void SetUp() override { startEngine(); }
    void TearDown() override { manager.reset(); }
};

// CPU time the capture's decoder programs have spent, in clock ticks.
qint64 decodersCpuTicks()
{
    qint64 ticks = 0;
    for (const pid_t process : image::ImageDecoder::shared(image::DecodeTurn::Lane::capture).runningProcesses()) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(process));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        ticks += fields.value(11).toLongLong() + fields.value(12).toLongLong(); // utime, stime
    }
    return ticks;
}

} // namespace

TEST_F(HostilePictureX11Test, PicturesThatNameFilesOrRunForeverCostOnlyTheirOwnCopy)
{
    // One names a device that blocks whoever opens it; one draws a path that takes a renderer
    // minutes. Neither may hold up the picture copied after them.
    ASSERT_TRUE(test::xclipCopy("<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' "
                                "width='100' height='100'><image width='100' height='100' xlink:href='/dev/ptmx'/></svg>",
                                "image/svg+xml"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager->captureService()->hasPendingCaptures(); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !manager->captureService()->hasPendingCaptures(); }, 20000)) << "the first was never refused";

    ASSERT_TRUE(image::ImageDecoder::shared(image::DecodeTurn::Lane::capture).png(test::solidPng(QSize(64, 48), Qt::red), {}, 0).ok()); // a decoder runs
    const qint64 before = decodersCpuTicks();
    QByteArray path = "M0 0";
    QRandomGenerator random(11);
    for (int i = 0; i < 6000; ++i)
        path += " L" + QByteArray::number(random.bounded(4000)) + ' ' + QByteArray::number(random.bounded(4000));
    ASSERT_TRUE(test::xclipCopy("<svg xmlns='http://www.w3.org/2000/svg' width='4000' height='4000'><path d='" + path
                                    + "' fill='black' stroke='red' stroke-width='3'/></svg>",
                                "image/svg+xml"));
    // The sign that the second is being drawn: a decoder program working on it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return decodersCpuTicks() > before + 20; }, 20000));
    // Lumra's own PNG, which its decoding writes alike.
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const QByteArray png = image::encodePng(picture).value();
    ASSERT_TRUE(test::xclipCopy(png, "image/png"));

    QSignalSpy changed(manager.get(), &ClipboardManager::clipboardItemsChanged);
    const auto pictureStored = [&] {
        const QList<ClipboardItem> items = manager->clipboardItems();
        return std::any_of(items.begin(), items.end(), [&](const ClipboardItem& item) {
            return item.contentType == ClipboardContentType::image && manager->media().imageData(item) == png;
        });
    };
    while (!pictureStored())
        ASSERT_TRUE(changed.wait(20000)) << "the picture copied after the hostile ones was not stored";
}
