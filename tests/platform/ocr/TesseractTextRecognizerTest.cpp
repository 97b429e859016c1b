#include "platform/ocr/TesseractTextRecognizer.h"
#include "platform/image/ImageDecoder.h"
#include "platform/ocr/TextRecognitionProgram.h"
#include "platform/process/HelperProcess.h"

#include "../image/AmplifyingImages.h"
#include "LargestAllocation.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QSignalSpy>

#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <functional>
#include <mutex>
#include <unistd.h>

using namespace lumra;

namespace {

QImage renderText(const QStringList& lines, QImage::Format format = QImage::Format_RGB32, QColor background = Qt::white,
                  int width = 1400)
{
    QImage image(width, 130 * int(lines.size()) + 60, format);
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

QByteArray fileOf(pid_t process, const QString& name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(process).arg(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int threadsOf(pid_t process)
{
    return int(QDir(QStringLiteral("/proc/%1/task").arg(process)).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The program that has the request: it confines itself once it is ready, just before it is sent the
// request. 0 when it is gone first.
pid_t inFlight(const TesseractTextRecognizer& recognizer)
{
    for (pid_t seen = 0;; QThread::yieldCurrentThread()) {
        const pid_t program = recognizer.runningProcess();
        if (program > 0 && fileOf(program, QStringLiteral("status")).contains("\nSeccomp:\t2"))
            return program;
        if (seen > 0 && program != seen)
            return 0;
        seen = program;
    }
}

// Lines logged while it lives, from any thread.
class LoggedLines {
public:
    LoggedLines()
    {
        s_self = this;
        m_previous = qInstallMessageHandler(keep);
    }
    ~LoggedLines()
    {
        qInstallMessageHandler(m_previous);
        s_self = nullptr;
    }
    std::string text() const
    {
        const std::lock_guard lock(m_mutex);
        return m_text.toStdString();
    }

private:
    static void keep(QtMsgType, const QMessageLogContext&, const QString& line)
    {
        const std::lock_guard lock(s_self->m_mutex);
        s_self->m_text += line + QLatin1Char('\n');
    }

    static inline LoggedLines* s_self = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable std::mutex m_mutex;
    QString m_text;
};

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

TEST_F(TesseractTextRecognizerTest, QuittingInTheMiddleOfARequestEndsItsProgramAtOnce)
{
    // A page of small print at the recognition side: many seconds of work for any machine.
    QImage page(TesseractTextRecognizer::maxRecognitionSide, TesseractTextRecognizer::maxRecognitionSide, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(24);
        painter.setFont(font);
        for (int y = 40; y < page.height(); y += 36)
            painter.drawText(20, y, QStringLiteral("Every line of this page holds words to read, %1 of them and more").arg(y).repeated(3));
    }
    const QByteArray bytes = png(page);
    int delivered = 0;
    pid_t program = 0;
    QElapsedTimer quitting;
    {
        TesseractTextRecognizer recognizer;
        QObject::connect(&recognizer, &TextRecognizer::recognized, [&] { ++delivered; });
        recognizer.recognize(bytes, QUuid::createUuid());
        program = inFlight(recognizer);
        ASSERT_GT(program, 0);
        quitting.start();
    }
    // What a person quitting Lumra waits for, not what the page would take.
    EXPECT_LT(quitting.elapsed(), 3000);
    EXPECT_NE(::kill(program, 0), 0);
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

TEST_F(TesseractTextRecognizerTest, PicturesAreDecodedInTheRecognitionProgramNotInLumra)
{
    // A few bytes of GIF with an 8000×8000 screen: decoded, even scaled down to the recognition
    // side, it takes 64 MB of pixels.
    const QByteArray gif = test::gifWithLargeScreen();
    TesseractTextRecognizer recognizer;
    QSignalSpy spy(&recognizer, &TextRecognizer::recognized);
    const QUuid id = QUuid::createUuid();

    const auto largest = test::largestAllocationDuring([&] {
        recognizer.recognize(gif, id);
        recognizer.waitForQueuedWork();
    });
    const auto answers = answersOf(recognizer, spy);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].id, id);
    EXPECT_TRUE(answers[0].text.isEmpty());
    const pid_t program = recognizer.runningProcess();
    EXPECT_GT(program, 0);
    EXPECT_NE(program, ::getpid());
    test::expectLargestAllocationBelow(largest, size_t(8) * 1024 * 1024, "recognising a picture of 8000x8000");
}

// A program killed while it works (the OOM killer, an upgrade replacing it) or crashing costs that
// request only, which is told as not read, for what it was, and never as a picture holding no text.
TEST_F(TesseractTextRecognizerTest, AProgramKilledOrCrashingInTheMiddleOfARequestCostsThatRequestOnly)
{
    // Enough text that recognising it takes long after the program is seen.
    QStringList lines;
    for (int i = 0; i < 24; ++i)
        lines << QStringLiteral("Line %1 of a long page of words to read").arg(i);
    const QImage page = renderText(lines);
    for (const auto& [signal, told] : {std::pair(SIGKILL, "was killed while it worked"), std::pair(SIGABRT, "crashed on the picture")}) {
        SCOPED_TRACE(told);
        LoggedLines log;
        TesseractTextRecognizer recognizer;
        QSignalSpy spy(&recognizer, &TextRecognizer::recognized);
        QSignalSpy failed(&recognizer, &TextRecognizer::notRecognized);
        const QUuid cut = QUuid::createUuid(), next = QUuid::createUuid();

        recognizer.recognize(png(page), cut);
        const pid_t program = inFlight(recognizer);
        ASSERT_GT(program, 0);
        ::kill(program, signal);
        recognizer.recognize(renderText({ QStringLiteral("Still reading") }), next);

        const auto answers = answersOf(recognizer, spy);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].id, next);
        EXPECT_EQ(answers[0].text, QStringLiteral("Still reading"));
        ASSERT_EQ(failed.count(), 1);
        EXPECT_EQ(failed.first().at(0).toUuid(), cut);
        EXPECT_NE(log.text().find(std::string("Text not recognised: the recognition program ") + told), std::string::npos)
            << log.text();
        EXPECT_NE(recognizer.runningProcess(), program);
    }
}

TEST_F(TesseractTextRecognizerTest, TesseractRunsOnOneThreadWithinItsProgramsCpuBudget)
{
    // Wide and transparent: Qt would scale and convert it on threads of its own.
    const QImage text = renderText({ QStringLiteral("One thread reads this line") }, QImage::Format_ARGB32, Qt::transparent, 6000);
    TesseractTextRecognizer recognizer;
    QSignalSpy spy(&recognizer, &TextRecognizer::recognized);
    recognizer.recognize(text, QUuid::createUuid());
    auto answers = answersOf(recognizer, spy);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].text, QStringLiteral("One thread reads this line"));
    // Tesseract's OpenMP threads and Qt's, once started, stay for the next page.
    const pid_t program = recognizer.runningProcess();
    ASSERT_GT(program, 0);
    EXPECT_EQ(threadsOf(program), 1);
    EXPECT_TRUE(fileOf(program, QStringLiteral("environ")).split('\0').contains("OMP_THREAD_LIMIT=1"));

    // Past its CPU time the program is ended and the picture told as not read, to be read again later.
    LoggedLines log;
    TesseractTextRecognizer hurried(nullptr, QString(), std::chrono::milliseconds(1));
    QSignalSpy hurriedSpy(&hurried, &TextRecognizer::recognized);
    QSignalSpy notRead(&hurried, &TextRecognizer::notRecognized);
    hurried.recognize(text, QUuid::createUuid());
    answers = answersOf(hurried, hurriedSpy);
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(notRead.count(), 1);
    EXPECT_NE(log.text().find("Text not recognised: the picture took longer than recognition may"), std::string::npos) << log.text();
    EXPECT_EQ(hurried.runningProcess(), 0);
}

// The program refuses a request larger than any picture before it takes room for it: it ends, as it
// does for any request it cannot serve, instead of waiting for bytes that would pass its bound.
TEST_F(TesseractTextRecognizerTest, TheProgramEndsOnARequestLargerThanAnyPicture)
{
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&files, ends[1], STDOUT_FILENO);
    QList<QByteArray> words {QFile::encodeName(image::ImageDecoder::installedProgram()), QByteArray::number(qint64(::getpid())),
                             ocr::programArgument, QFile::encodeName(TesseractTextRecognizer::findTessdataFolder())};
    std::vector<char*> arguments;
    for (QByteArray& word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);
    pid_t program = 0;
    ASSERT_EQ(::posix_spawn(&program, arguments[0], &files, nullptr, arguments.data(), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    ::close(ends[1]);
    // Waits for the program's bytes or its end; a bound only for a program that does neither.
    const auto received = [&](void* data, size_t size) {
        pollfd ready {ends[0], POLLIN, 0};
        return ::poll(&ready, 1, 120000) == 1 ? ::recv(ends[0], data, size, MSG_WAITALL) : ssize_t(-1);
    };
    quint64 ready = 0;
    ASSERT_EQ(received(&ready, sizeof ready), ssize_t(sizeof ready));
    ASSERT_EQ(ready, ocr::readyMark);

    const process::HelperProcess::Header header {1, image::DecodeLimits().maxBytes + 1};
    ASSERT_EQ(::send(ends[0], &header, sizeof header, MSG_NOSIGNAL), ssize_t(sizeof header));
    char answer = 0;
    EXPECT_EQ(received(&answer, 1), 0) << "the program waits for the request's bytes";
    ::close(ends[0]);
    int status = 0;
    ::kill(program, SIGKILL); // a program that still waits; one that ended is reaped as it was
    ASSERT_EQ(::waitpid(program, &status, 0), program);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST(TextRecognitionSize, LargePicturesAreRecognisedAt4096OnTheirLongSideAndSmallOnesAsTheyAre)
{
    EXPECT_EQ(ocr::recognitionSize(QSize(1400, 300)), QSize(1400, 300));
    EXPECT_EQ(ocr::recognitionSize(QSize(4096, 4096)), QSize(4096, 4096));
    EXPECT_EQ(ocr::recognitionSize(QSize(8192, 2048)), QSize(4096, 1024));
    EXPECT_EQ(ocr::recognitionSize(QSize(3000, 16384)), QSize(750, 4096));
    EXPECT_EQ(ocr::recognitionSize(QSize(40000, 1)), QSize(4096, 1));
}
