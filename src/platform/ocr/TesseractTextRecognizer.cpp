#include "platform/ocr/TesseractTextRecognizer.h"

#include "platform/image/ImageDecoder.h"
#include "platform/image/ImageDecoding.h"
#include "platform/process/HelperProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

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
// and the program looks at the disk, which Lumra's start does not wait for.
struct TesseractTextRecognizer::Program {
    std::mutex mutex;
    QString tessdataFolder;
    bool lookedFor = false;
    bool shutDown = false;
    std::unique_ptr<HelperProcess> process; // null without language data or program

    HelperProcess* get()
    {
        const std::lock_guard lock(mutex);
        if (std::exchange(lookedFor, true) || shutDown)
            return process.get();
        const QString folder = tessdataFolder.isEmpty() ? findTessdataFolder() : tessdataFolder;
        if (folder.isEmpty() || !QFileInfo::exists(QDir(folder).filePath(QStringLiteral("eng.traineddata")))) {
            qCWarning(lcOcr) << "English text recognition data not found; looked in" << folder;
        } else if (const QString program = image::ImageDecoder::installedProgram(); !program.isEmpty()) {
            const HelperProcess::Limits limits {ocr::readyMark, maxTextBytes, wallTimePerPicture, image::ImageDecoder::maxResidentBytes};
            process = std::make_unique<HelperProcess>(program, QStringList {QLatin1String(ocr::programArgument), folder}, limits);
        }
        return process.get();
    }
};

class TesseractWorker final : public QObject {
    Q_OBJECT
public:
    TesseractWorker(std::shared_ptr<TesseractTextRecognizer::Program> program, std::chrono::milliseconds cpuTime,
                    std::shared_ptr<std::atomic_bool> cancelled)
        : m_program(std::move(program))
        , m_cpuTime(cpuTime)
        , m_cancelled(std::move(cancelled))
    {
    }

    void recognizeData(const QByteArray& data, const QUuid& id)
    {
        HelperProcess* program = m_cancelled->load() || data.isEmpty() ? nullptr : m_program->get();
        if (!program) {
            emit finished(id, QString());
            return;
        }
        QByteArray answer;
        switch (program->exchange(data, m_cpuTime, &answer)) {
        case HelperProcess::Outcome::answered:
            emit finished(id, QString::fromUtf8(answer));
            return;
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
        emit finished(id, QString());
    }

    void recognizeImage(const QImage& image, const QUuid& id)
    {
        const Result<QByteArray> png = image.isNull() || m_cancelled->load() ? Result<QByteArray>::failure(QString())
                                                                             : image::encodePng(image);
        recognizeData(png ? *png : QByteArray(), id);
    }

signals:
    void finished(const QUuid& id, const QString& text);

private:
    const std::shared_ptr<TesseractTextRecognizer::Program> m_program;
    const std::chrono::milliseconds m_cpuTime;
    std::shared_ptr<std::atomic_bool> m_cancelled;
};

TesseractTextRecognizer::TesseractTextRecognizer(QObject* parent, const QString& tessdataFolder, std::chrono::milliseconds cpuTime)
    : TextRecognizer(parent)
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
    , m_program(std::make_shared<Program>())
{
    m_program->tessdataFolder = tessdataFolder;
    m_thread.setObjectName(QStringLiteral("lumra-ocr"));
    m_worker = new TesseractWorker(m_program, cpuTime, m_cancelled);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &TesseractWorker::finished, this, &TextRecognizer::recognized, Qt::QueuedConnection);
    m_thread.start(QThread::LowPriority);
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
    m_thread.quit();
    m_thread.wait();
}

void TesseractTextRecognizer::recognize(const QImage& image, const QUuid& id)
{
    TesseractWorker* worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker, image, id] { worker->recognizeImage(image, id); }, Qt::QueuedConnection);
}

void TesseractTextRecognizer::recognize(const QByteArray& imageData, const QUuid& id)
{
    TesseractWorker* worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker, imageData, id] { worker->recognizeData(imageData, id); }, Qt::QueuedConnection);
}

void TesseractTextRecognizer::waitForQueuedWork()
{
    // Requests run in order on the worker: an empty one queued behind them returns once they are done.
    QMetaObject::invokeMethod(m_worker, [] {}, Qt::BlockingQueuedConnection);
}

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

#include "TesseractTextRecognizer.moc"
