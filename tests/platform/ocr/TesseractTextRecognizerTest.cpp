#include "platform/ocr/TesseractTextRecognizer.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QPainter>
#include <QSignalSpy>

#include <functional>

using namespace lumra;

namespace {

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

// Recognition runs for real, under the sanitizers, for as long as the machine needs: the test waits
// for the work to be done, not for a time.
std::vector<Answer> answersOf(TesseractTextRecognizer& recognizer, QSignalSpy& spy)
{
    recognizer.waitForQueuedWork();
    QCoreApplication::sendPostedEvents();
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

TEST_F(TesseractTextRecognizerTest, RecognisesRenderedTextLineByLine)
{
    const QImage single = renderText({ QStringLiteral("Lumra 42 recognises text") });
    const struct {
        const char* name;
        std::function<void(TextRecognizer&, const QUuid&)> request;
        QString expected;
    } cases[] = {
        { "image", [&](TextRecognizer& r, const QUuid& id) { r.recognize(single, id); },
          QStringLiteral("Lumra 42 recognises text") },
        { "PNG bytes", [&](TextRecognizer& r, const QUuid& id) { r.recognize(png(single), id); },
          QStringLiteral("Lumra 42 recognises text") },
        { "two lines joined by one line feed",
          [](TextRecognizer& r, const QUuid& id) {
              r.recognize(renderText({ QStringLiteral("First line here"), QStringLiteral("Second line here") }), id);
          },
          QStringLiteral("First line here\nSecond line here") },
        { "dark text on a transparent background",
          [](TextRecognizer& r, const QUuid& id) {
              r.recognize(renderText({ QStringLiteral("Clear glass") }, QImage::Format_ARGB32, Qt::transparent), id);
          },
          QStringLiteral("Clear glass") },
    };

    TesseractTextRecognizer recognizer;
    QSignalSpy spy(&recognizer, &TextRecognizer::recognized);
    std::vector<QUuid> ids;
    for (const auto& c : cases) {
        ids.push_back(QUuid::createUuid());
        c.request(recognizer, ids.back());
    }

    const auto answers = answersOf(recognizer, spy);
    ASSERT_EQ(answers.size(), std::size(cases));
    for (size_t i = 0; i < answers.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(answers[i].id, ids[i]);
        EXPECT_EQ(answers[i].text, cases[i].expected);
    }
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

    const auto answers = answersOf(recognizer, spy);
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

    const auto answers = answersOf(recognizer, spy);
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
