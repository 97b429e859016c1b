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

    QString recognizeData(const QByteArray& data)
    {
        HelperProcess* program = m_cancelled->load() || data.isEmpty() ? nullptr : m_program->get();
        if (!program)
            return QString();
        QByteArray answer;
        switch (program->exchange(data, m_cpuTime, &answer)) {
        case HelperProcess::Outcome::answered:
            return QString::fromUtf8(answer);
        case HelperProcess::Outcome::pastDeadline:
            qCWarning(lcOcr) << "Text not recognised: the picture took longer than recognition may";
            break;
        case HelperProcess::Outcome::lost:
            if (!m_cancelled->load())
                qCWarning(lcOcr) << "Text not recognised: the recognition program failed on the picture";
            break;
        case HelperProcess::Outcome::unavailable:
            if (!m_cancelled->load())
                qCWarning(lcOcr) << "Text not recognised: the recognition program could not be started";
            break;
        }
        return QString();
    }

    QString recognizeImage(const QImage& image)
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

void TesseractTextRecognizer::post(std::function<QString(TesseractWorker&)> request, const QUuid& id)
{
    QPointer<TesseractTextRecognizer> self(this);
    m_work.start(BackgroundWork::Lane::textRecognition, [token = m_tasks.token(), worker = m_worker, self, request, id] {
        if (worker->cancelled())
            return;
        const QString text = request(*worker);
        QMetaObject::invokeMethod(qApp, [self, id, text] {
            if (self)
                emit self->recognized(id, text);
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

