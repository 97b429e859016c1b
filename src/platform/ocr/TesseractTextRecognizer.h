#pragma once

#include <chrono>

#include "platform/ocr/TextRecognizer.h"

#include <QThread>

#include <atomic>
#include <memory>

namespace lumra {

class TesseractWorker;

// One long-lived Tesseract engine with English data on one worker thread; requests run
// in the order they were made.
class TesseractTextRecognizer final : public TextRecognizer {
    Q_OBJECT
public:
    // `tessdataFolder` empty: found with findTessdataFolder().
    explicit TesseractTextRecognizer(QObject* parent = nullptr, const QString& tessdataFolder = QString());
    // Cancels the running request, drops queued ones and waits for the thread.
    ~TesseractTextRecognizer() override;

    void recognize(const QImage& image, const QUuid& id) override;
    void recognize(const QByteArray& imageData, const QUuid& id) override;
    // Blocks until every request made so far has been worked on; their answers arrive with the
    // next round of the event loop. For callers that must not guess how long recognition takes.
    void waitForQueuedWork();

    // Images are scaled down to this long side first; recognition time grows with pixels.
    static constexpr int maxRecognitionSide = 4096;
    // What one picture's recognition may cost its thread, and take on the clock however busy the machine.
    static constexpr std::chrono::seconds cpuTimePerPicture {15};
    static constexpr std::chrono::seconds wallTimePerPicture {120};

    // $TESSDATA_PREFIX (or its "tessdata" subfolder), else Debian's folders; the first one
    // holding "eng.traineddata". Empty when there is none.
    static QString findTessdataFolder();

private:
    QThread m_thread;
    TesseractWorker* m_worker = nullptr;
    std::shared_ptr<std::atomic_bool> m_cancelled;
};

} // namespace lumra
