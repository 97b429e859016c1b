#include "platform/ocr/TesseractTextRecognizer.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QPainter>
#include <QSignalSpy>

using namespace lumra;

namespace {

// Generous: recognition runs for real, under the sanitizers. Not a speed assertion.
constexpr int answerWaitMs = 120000;

QImage renderText(const QStringList& lines, QImage::Format format = QImage::Format_RGB32, QColor background = Qt::white)
{
    QImage image(1400, 130 * int(lines.size()) + 60, format);
    image.fill(background);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(64);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (int i = 0; i < lines.size(); ++i)
        painter.drawText(40, 110 + 130 * i, lines.at(i));
    return image;
}

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

struct Answer {
    QUuid id;
    QString text;
};

std::vector<Answer> waitForAnswers(QSignalSpy& spy, int count)
{
    while (spy.count() < count && spy.wait(answerWaitMs)) { }
    std::vector<Answer> answers;
    for (const QList<QVariant>& args : spy)
        answers.push_back({ args.at(0).toUuid(), args.at(1).toString() });
    return answers;
}

class TesseractTextRecognizerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TesseractTextRecognizer::findTessdataFolder().isEmpty())
            GTEST_SKIP() << "tesseract-ocr-eng is not installed";
    }
};

} // namespace

TEST_F(TesseractTextRecognizerTest, RecognisesRenderedTextFromAnImageAndFromPngBytes)
{
    TesseractTextRecognizer recognizer;
    QSignalSpy spy(&recognizer, &TextRecognizer::recognized);
    const QUuid fromImage = QUuid::createUuid();
    const QUuid fromBytes = QUuid::createUuid();
    const QImage image = renderText({ QStringLiteral("Lumra 42 recognises text") });

    recognizer.recognize(image, fromImage);
    recognizer.recognize(png(image), fromBytes);

    const auto answers = waitForAnswers(spy, 2);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].id, fromImage);
    EXPECT_EQ(answers[0].text, QStringLiteral("Lumra 42 recognises text"));
    EXPECT_EQ(answers[1].id, fromBytes);
    EXPECT_EQ(answers[1].text, QStringLiteral("Lumra 42 recognises text"));
}

TEST_F(TesseractTextRecognizerTest, JoinsLinesWithOneLineFeed)
{
    TesseractTextRecognizer recognizer;
    QSignalSpy spy(&recognizer, &TextRecognizer::recognized);
    recognizer.recognize(renderText({ QStringLiteral("First line here"), QStringLiteral("Second line here") }),
                         QUuid::createUuid());

    const auto answers = waitForAnswers(spy, 1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].text, QStringLiteral("First line here\nSecond line here"));
}

TEST_F(TesseractTextRecognizerTest, TextOnATransparentBackgroundIsRead)
{
    TesseractTextRecognizer recognizer;
    QSignalSpy spy(&recognizer, &TextRecognizer::recognized);
    recognizer.recognize(renderText({ QStringLiteral("Clear glass") }, QImage::Format_ARGB32, Qt::transparent),
                         QUuid::createUuid());

    const auto answers = waitForAnswers(spy, 1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].text, QStringLiteral("Clear glass"));
}

TEST_F(TesseractTextRecognizerTest, BlankNullAndUnreadableImagesAreAnsweredWithNoText)
{
    TesseractTextRecognizer recognizer;
    QSignalSpy spy(&recognizer, &TextRecognizer::recognized);
    QImage blank(300, 200, QImage::Format_RGB32);
    blank.fill(Qt::white);
    const QUuid blankId = QUuid::createUuid(), garbageId = QUuid::createUuid(), nullId = QUuid::createUuid();

    recognizer.recognize(blank, blankId);
    recognizer.recognize(QByteArray("no image here"), garbageId);
    recognizer.recognize(QImage(), nullId);

    const auto answers = waitForAnswers(spy, 3);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0].id, blankId);
    EXPECT_EQ(answers[1].id, garbageId);
    EXPECT_EQ(answers[2].id, nullId);
    for (const Answer& a : answers)
        EXPECT_TRUE(a.text.isEmpty()) << a.text.toStdString();
}

TEST(TesseractTextRecognizer, MissingLanguageDataAnswersEmptyInsteadOfFailing)
{
    QTemporaryDir empty;
    TesseractTextRecognizer recognizer(nullptr, empty.path());
    QSignalSpy spy(&recognizer, &TextRecognizer::recognized);
    const QUuid id = QUuid::createUuid();
    recognizer.recognize(renderText({ QStringLiteral("Unseen") }), id);

    const auto answers = waitForAnswers(spy, 1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].id, id);
    EXPECT_TRUE(answers[0].text.isEmpty());
}

TEST_F(TesseractTextRecognizerTest, DestroyingWithWorkQueuedDoesNotDeliverOrHang)
{
    int delivered = 0;
    {
        TesseractTextRecognizer recognizer;
        QObject::connect(&recognizer, &TextRecognizer::recognized, [&] { ++delivered; });
        const QImage image = renderText({ QStringLiteral("Queued work") });
        for (int i = 0; i < 5; ++i)
            recognizer.recognize(image, QUuid::createUuid());
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 0);
}

TEST(TesseractTextRecognizer, FindsTessdataThroughTheEnvironment)
{
    QTemporaryDir prefix;
    QDir(prefix.path()).mkpath(QStringLiteral("tessdata"));
    QFile marker(prefix.path() + QStringLiteral("/tessdata/eng.traineddata"));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();

    const QByteArray saved = qgetenv("TESSDATA_PREFIX");
    const bool wasSet = qEnvironmentVariableIsSet("TESSDATA_PREFIX");
    qputenv("TESSDATA_PREFIX", QFile::encodeName(prefix.path()));
    const QString found = TesseractTextRecognizer::findTessdataFolder();
    if (wasSet)
        qputenv("TESSDATA_PREFIX", saved);
    else
        qunsetenv("TESSDATA_PREFIX");

    EXPECT_EQ(found, prefix.path() + QStringLiteral("/tessdata"));
}
