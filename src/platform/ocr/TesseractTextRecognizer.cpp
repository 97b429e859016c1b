#include "platform/ocr/TesseractTextRecognizer.h"

#include "platform/image/ImageDecoder.h"
#include "platform/image/ImageDecoding.h"
#include "platform/process/HelperProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>

#include <mutex>
#include <utility>

Q_LOGGING_CATEGORY(lcOcr, "lumra.ocr")

namespace lumra {

using process::HelperProcess;

namespace {

// Text for a page of 4096² pixels is far less.
constexpr qint64 maxTextBytes = qint64(16) * 1024 * 1024;

} // namespace

// The recognition program, looked for on the worker at the first request: finding the language data
// and the program looks at the disk, which Lumra's start does not wait for, and neither does its quit.
struct TesseractTextRecognizer::Program {
    std::mutex mutex;
    QString tessdataFolder;
    bool lookedFor = false; // the worker's alone: one request at a time
    bool shutDown = false;
    std::unique_ptr<HelperProcess> process; // null without language data or program

    HelperProcess* get()
    {
        if (!std::exchange(lookedFor, true)) {
            std::unique_ptr<HelperProcess> found = look();
            const std::lock_guard lock(mutex);
            if (!shutDown)
                process = std::move(found);
        }
        const std::lock_guard lock(mutex);
        return shutDown ? nullptr : process.get();
    }

    std::unique_ptr<HelperProcess> look() const
    {
        const QString folder = tessdataFolder.isEmpty() ? findTessdataFolder() : tessdataFolder;
        if (folder.isEmpty() || !QFileInfo::exists(QDir(folder).filePath(QStringLiteral("eng.traineddata")))) {
            qCWarning(lcOcr) << "English text recognition data not found; looked in" << folder;
            return nullptr;
        }
        const QString program = image::ImageDecoder::installedProgram();
        if (program.isEmpty())
            return nullptr;
        // No text found is an answer of no bytes.
        const HelperProcess::Limits limits {.readyMark = ocr::readyMark,
                                            .maxAnswerBytes = maxTextBytes,
                                            .wallClockCap = wallTimePerPicture,
                                            .maxResidentBytes = image::ImageDecoder::maxResidentBytes,
                                            .mayAnswerNothing = true};
        return std::make_unique<HelperProcess>(program, QStringList {QLatin1String(ocr::programArgument), folder}, limits);
    }
};

// Works the requests on the lane, one at a time; it outlives the recognizer while one still runs.
class TesseractWorker {
public:
    TesseractWorker(std::shared_ptr<TesseractTextRecognizer::Program> program, std::chrono::milliseconds cpuTime,
                    std::shared_ptr<std::atomic_bool> cancelled)
        : m_program(std::move(program))
        , m_cpuTime(cpuTime)
        , m_cancelled(std::move(cancelled))
    {
    }

    // Empty when nothing was read; none when the read did not run to its end, which is logged.
    std::optional<QString> recognizeData(const QByteArray& data)
    {
        HelperProcess* program = m_cancelled->load() || data.isEmpty() ? nullptr : m_program->get();
        if (!program)
            return QString();
        QByteArray answer;
        const HelperProcess::Outcome outcome = program->exchange(data, m_cpuTime, &answer);
        if (outcome == HelperProcess::Outcome::answered)
            return QString::fromUtf8(answer);
        if (m_cancelled->load())
            return std::nullopt;
        switch (outcome) {
        case HelperProcess::Outcome::pastDeadline:
            qCWarning(lcOcr) << "Text not recognised: the picture took longer than recognition may; it is read again at a later start";
            break;
        case HelperProcess::Outcome::lost:
            switch (program->lastEnd()) {
            case HelperProcess::End::killed:
                qCWarning(lcOcr) << "Text not recognised: the recognition program was killed while it worked (out of memory, or"
                                    " ended from outside); it is read again at a later start";
                break;
            case HelperProcess::End::crashed:
                qCWarning(lcOcr) << "Text not recognised: the recognition program crashed on the picture; it is read again at"
                                    " a later start";
                break;
            case HelperProcess::End::failed:
                qCWarning(lcOcr) << "Text not recognised: the recognition program failed on the picture; it is read again at"
                                    " a later start";
                break;
            }
            break;
        case HelperProcess::Outcome::unavailable:
        case HelperProcess::Outcome::dropped:
        case HelperProcess::Outcome::answered:
            qCWarning(lcOcr) << "Text not recognised: the recognition program could not be started; it is read again at a"
                                " later start";
            break;
        }
        return std::nullopt;
    }

    std::optional<QString> recognizeImage(const QImage& image)
    {
        const Result<QByteArray> png = image.isNull() || m_cancelled->load() ? Result<QByteArray>::failure(QString())
                                                                             : image::encodePng(image);
        return recognizeData(png ? *png : QByteArray());
    }

    bool cancelled() const { return m_cancelled->load(); }

private:
    const std::shared_ptr<TesseractTextRecognizer::Program> m_program;
    const std::chrono::milliseconds m_cpuTime;
    std::shared_ptr<std::atomic_bool> m_cancelled;
};

TesseractTextRecognizer::TesseractTextRecognizer(QObject* parent, const QString& tessdataFolder, std::chrono::milliseconds cpuTime,
                                                 BackgroundWork* work)
    : TextRecognizer(parent)
    , m_work(work ? *work : BackgroundWork::current())
    , m_tasks(m_work)
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
    , m_program(std::make_shared<Program>())
{
    m_program->tessdataFolder = tessdataFolder;
    m_worker = std::make_shared<TesseractWorker>(m_program, cpuTime, m_cancelled);
}

TesseractTextRecognizer::~TesseractTextRecognizer()
{
    m_cancelled->store(true);
    {
        const std::lock_guard lock(m_program->mutex);
        m_program->shutDown = true;
        if (m_program->process)
            m_program->process->shutDown();
    }
    m_tasks.wait();
}

void TesseractTextRecognizer::post(std::function<std::optional<QString>(TesseractWorker&)> request, const QUuid& id)
{
    QPointer<TesseractTextRecognizer> self(this);
    m_work.start(BackgroundWork::Lane::textRecognition, [token = m_tasks.token(), worker = m_worker, self, request, id] {
        if (worker->cancelled())
            return;
        const std::optional<QString> text = request(*worker);
        if (!text && worker->cancelled())
            return;
        QMetaObject::invokeMethod(qApp, [self, id, text] {
            if (self && text)
                emit self->recognized(id, *text);
            else if (self)
                emit self->notRecognized(id);
        }, Qt::QueuedConnection);
    });
}

void TesseractTextRecognizer::recognize(const QImage& image, const QUuid& id)
{
    post([image](TesseractWorker& worker) { return worker.recognizeImage(image); }, id);
}

void TesseractTextRecognizer::recognize(const QByteArray& imageData, const QUuid& id)
{
    post([imageData](TesseractWorker& worker) { return worker.recognizeData(imageData); }, id);
}

void TesseractTextRecognizer::waitForQueuedWork() { m_tasks.wait(); }

pid_t TesseractTextRecognizer::runningProcess() const
{
    const std::lock_guard lock(m_program->mutex);
    return m_program->process ? m_program->process->currentProcess() : 0;
}

QString TesseractTextRecognizer::findTessdataFolder()
{
    QStringList candidates;
    const QString prefix = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!prefix.isEmpty())
        candidates << prefix << QDir(prefix).filePath(QStringLiteral("tessdata"));
    candidates << QStringLiteral("/usr/share/tesseract-ocr/5/tessdata") << QStringLiteral("/usr/share/tesseract-ocr/4.00/tessdata");
    for (const QString& folder : candidates) {
        if (QFileInfo::exists(QDir(folder).filePath(QStringLiteral("eng.traineddata"))))
            return folder;
    }
    return QString();
}

} // namespace lumra

