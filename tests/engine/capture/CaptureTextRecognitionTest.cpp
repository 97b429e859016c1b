#include "CaptureFixture.h"

#include "platform/ocr/TesseractTextRecognizer.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QSignalSpy>

using namespace lumra;
using namespace lumra::test;

namespace {

// Generous: recognition runs for real, under the sanitizers. Not a speed assertion.
constexpr int answerWaitMs = 120000;

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
    ASSERT_TRUE(answered.wait(answerWaitMs));

    ASSERT_EQ(untrashed().size(), 1);
    EXPECT_EQ(untrashed().first().ocrText.value_or(QString()).simplified(), "Invoice 4711 paid");
    manager.reset(); // before the recognizer it was given
}

} // namespace
