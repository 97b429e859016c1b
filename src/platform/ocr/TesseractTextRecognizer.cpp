#include "platform/ocr/TesseractTextRecognizer.h"

#include "platform/image/ImageDecoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPainter>

#include <ctime>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

Q_LOGGING_CATEGORY(lcOcr, "lumra.ocr")

namespace lumra {

namespace {

// Tesseract wants dark text on a plain background: flatten transparency onto white and
// drop colour, and keep the pixel count bounded.
QImage prepared(const QImage& image)
{
    QImage source = image;
    const int longSide = std::max(source.width(), source.height());
    if (longSide > TesseractTextRecognizer::maxRecognitionSide)
        source = source.scaled(source.size().scaled(TesseractTextRecognizer::maxRecognitionSide,
                                                     TesseractTextRecognizer::maxRecognitionSide, Qt::KeepAspectRatio),
                               Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (source.hasAlphaChannel()) {
        QImage flat(source.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, source);
        painter.end();
        source = flat;
    }
    return source.convertToFormat(QImage::Format_Grayscale8);
}

// One picture's recognition ends when Lumra quits or when it has cost its thread more CPU time than
// any readable picture takes (a hostile one can make the layout analysis run for minutes).
struct Stop {
    const std::atomic_bool* cancelled;
    std::chrono::nanoseconds cpuLimit;
    bool timedOut = false;
};

std::chrono::nanoseconds threadCpuTime()
{
    timespec used {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

bool isCancelled(void* stopping, int)
{
    auto* stop = static_cast<Stop*>(stopping);
    if (!stop->timedOut && threadCpuTime() > stop->cpuLimit)
        stop->timedOut = true;
    return stop->timedOut || stop->cancelled->load();
}

} // namespace

class TesseractWorker final : public QObject {
    Q_OBJECT
public:
    TesseractWorker(QString tessdataFolder, std::shared_ptr<std::atomic_bool> cancelled)
        : m_tessdataFolder(std::move(tessdataFolder))
        , m_cancelled(std::move(cancelled))
    {
    }
    ~TesseractWorker() override
    {
        if (m_api)
            m_api->End();
    }

    void recognizeData(const QByteArray& data, const QUuid& id)
    {
        const Result<QImage> image = image::decodeImage(data, {}, TesseractTextRecognizer::maxRecognitionSide);
        if (!image) {
            qCDebug(lcOcr) << "not recognising an unreadable image:" << image.error();
            emit finished(id, QString());
            return;
        }
        recognizeImage(*image, id);
    }

    void recognizeImage(const QImage& image, const QUuid& id)
    {
        if (m_cancelled->load() || image.isNull() || !ensureEngine()) {
            emit finished(id, QString());
            return;
        }
        emit finished(id, linesOf(prepared(image)).join(QLatin1Char('\n')));
    }

signals:
    void finished(const QUuid& id, const QString& text);

private:
    bool ensureEngine()
    {
        if (m_api)
            return true;
        if (m_initFailed)
            return false;
        auto api = std::make_unique<tesseract::TessBaseAPI>();
        const QByteArray folder = QFile::encodeName(m_tessdataFolder);
        if (m_tessdataFolder.isEmpty() || api->Init(folder.constData(), "eng") != 0) {
            qCWarning(lcOcr) << "English text recognition data not found; looked in" << m_tessdataFolder;
            m_initFailed = true;
            return false;
        }
        api->SetPageSegMode(tesseract::PSM_AUTO);
        api->SetVariable("debug_file", "/dev/null");
        m_api = std::move(api);
        return true;
    }

    QStringList linesOf(const QImage& gray)
    {
        QStringList lines;
        m_api->SetImage(gray.constBits(), gray.width(), gray.height(), 1, int(gray.bytesPerLine()));
        m_api->SetSourceResolution(96);
        Stop stop {m_cancelled.get(), threadCpuTime() + TesseractTextRecognizer::cpuTimePerPicture};
        tesseract::ETEXT_DESC monitor;
        monitor.cancel = isCancelled;
        monitor.cancel_this = &stop;
        // Some stages look at the deadline and not at the callback.
        monitor.set_deadline_msecs(int(std::chrono::milliseconds(TesseractTextRecognizer::wallTimePerPicture).count()));
        const bool recognized = m_api->Recognize(&monitor) == 0;
        if (stop.timedOut || monitor.deadline_exceeded())
            qCWarning(lcOcr) << "Text not recognised: the picture took longer than recognition may";
        else if (recognized && !m_cancelled->load()) {
            std::unique_ptr<tesseract::ResultIterator> it(m_api->GetIterator());
            if (it) {
                do {
                    std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
                    const QString line = text ? QString::fromUtf8(text.get()).trimmed() : QString();
                    if (!line.isEmpty())
                        lines.append(line);
                } while (it->Next(tesseract::RIL_TEXTLINE));
            }
        }
        m_api->Clear();
        return lines;
    }

    QString m_tessdataFolder;
    std::shared_ptr<std::atomic_bool> m_cancelled;
    std::unique_ptr<tesseract::TessBaseAPI> m_api;
    bool m_initFailed = false;
};

TesseractTextRecognizer::TesseractTextRecognizer(QObject* parent, const QString& tessdataFolder)
    : TextRecognizer(parent)
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
{
    m_thread.setObjectName(QStringLiteral("lumra-ocr"));
    m_worker = new TesseractWorker(tessdataFolder.isEmpty() ? findTessdataFolder() : tessdataFolder, m_cancelled);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &TesseractWorker::finished, this, &TextRecognizer::recognized, Qt::QueuedConnection);
    m_thread.start(QThread::LowPriority);
}

TesseractTextRecognizer::~TesseractTextRecognizer()
{
    m_cancelled->store(true);
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
