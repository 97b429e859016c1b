#include "platform/ocr/TesseractTextRecognizer.h"

#include "platform/image/ImageDecoder.h"
#include "platform/image/ImageDecoding.h"
#include "platform/process/HelperProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcOcr, "lumra.ocr")

namespace lumra {

using process::HelperProcess;

namespace {

// Text for a page of 4096² pixels is far less.
constexpr qint64 maxTextBytes = qint64(16) * 1024 * 1024;

} // namespace

class TesseractWorker final : public QObject {
    Q_OBJECT
public:
    TesseractWorker(HelperProcess* program, std::chrono::milliseconds cpuTime, std::shared_ptr<std::atomic_bool> cancelled)
        : m_program(program)
        , m_cpuTime(cpuTime)
        , m_cancelled(std::move(cancelled))
    {
    }

    void recognizeData(const QByteArray& data, const QUuid& id)
    {
        if (m_cancelled->load() || !m_program || data.isEmpty()) {
            emit finished(id, QString());
            return;
        }
        QByteArray answer;
        switch (m_program->exchange(data, m_cpuTime, &answer)) {
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
    HelperProcess* const m_program;
    const std::chrono::milliseconds m_cpuTime;
    std::shared_ptr<std::atomic_bool> m_cancelled;
};

TesseractTextRecognizer::TesseractTextRecognizer(QObject* parent, const QString& tessdataFolder, std::chrono::milliseconds cpuTime)
    : TextRecognizer(parent)
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
{
    const QString folder = tessdataFolder.isEmpty() ? findTessdataFolder() : tessdataFolder;
    if (folder.isEmpty() || !QFileInfo::exists(QDir(folder).filePath(QStringLiteral("eng.traineddata")))) {
        qCWarning(lcOcr) << "English text recognition data not found; looked in" << folder;
    } else if (const QString program = image::ImageDecoder::installedProgram(); !program.isEmpty()) {
        const HelperProcess::Limits limits {ocr::readyMark, maxTextBytes, wallTimePerPicture, image::ImageDecoder::maxResidentBytes};
        m_program = std::make_unique<HelperProcess>(program, QStringList {QLatin1String(ocr::programArgument), folder}, limits);
    }
    m_thread.setObjectName(QStringLiteral("lumra-ocr"));
    m_worker = new TesseractWorker(m_program.get(), cpuTime, m_cancelled);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &TesseractWorker::finished, this, &TextRecognizer::recognized, Qt::QueuedConnection);
    m_thread.start(QThread::LowPriority);
}

TesseractTextRecognizer::~TesseractTextRecognizer()
{
    m_cancelled->store(true);
    if (m_program)
        m_program->shutDown();
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
    return m_program ? m_program->currentProcess() : 0;
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
