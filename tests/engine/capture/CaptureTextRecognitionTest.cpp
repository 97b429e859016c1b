#include "CaptureFixture.h"

#include "platform/ocr/TesseractTextRecognizer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPainter>
#include <QSignalSpy>

using namespace lumra;
using namespace lumra::test;

namespace {

TEST_F(CaptureTest, ACopiedPictureGetsItsTextRecognised)
{
    if (TesseractTextRecognizer::findTessdataFolder().isEmpty())
        GTEST_SKIP() << "no English Tesseract data";
    TesseractTextRecognizer tesseract;
    textRecognizer = &tesseract;
    start();
    manager->setEnableImageOCR(true);

    QImage picture(1200, 200, QImage::Format_RGB32);
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(64);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(40, 120, QStringLiteral("Invoice 4711 paid"));
    }
    QSignalSpy answered(&tesseract, &TextRecognizer::recognized);
    copy({rep(PasteboardMime::png, pngOf(picture))});
    // However long recognition takes on this machine: wait for the work, not for a time.
    tesseract.waitForQueuedWork();
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(answered.count(), 1);

    ASSERT_EQ(untrashed().size(), 1);
    EXPECT_EQ(untrashed().first().ocrText.value_or(QString()).simplified(), "Invoice 4711 paid");
    manager.reset(); // before the recognizer it was given
}

} // namespace
