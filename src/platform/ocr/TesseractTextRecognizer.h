#pragma once

#include "platform/core/BackgroundWork.h"
#include "platform/ocr/TextRecognitionProgram.h"
#include "platform/ocr/TextRecognizer.h"

#include <chrono>
#include <functional>

#include <atomic>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace lumra {

namespace process {
class HelperProcess;
}

class TesseractWorker;

// Text recognition in a program of its own (the picture decoder started to recognise text, see
// TextRecognitionProgram.h), which decodes the picture, holds Tesseract with English data and runs
// it on one thread: Lumra holds only the picture's bytes and the text. Requests run in the order
// they were made, one at a time, on the text recognition lane.
class TesseractTextRecognizer final : public TextRecognizer {
    Q_OBJECT
public:
    // `tessdataFolder` empty: found with findTessdataFolder(). `cpuTime`: what one picture may cost
    // the program (tests give less).
    explicit TesseractTextRecognizer(QObject* parent = nullptr, const QString& tessdataFolder = QString(),
                                     std::chrono::milliseconds cpuTime = cpuTimePerPicture, BackgroundWork* work = nullptr);
    // Drops queued requests, ends the program in the middle of one and waits for that request
    // (not once quitting began: the lanes' shutdown waited for it then, within its bound).
    ~TesseractTextRecognizer() override;

    // The image is sent as PNG.
    void recognize(const QImage& image, const QUuid& id) override;
    void recognize(const QByteArray& imageData, const QUuid& id) override;
    // Blocks until every request made so far has been worked on; their answers arrive with the
    // next round of the event loop. For callers that must not guess how long recognition takes.
    void waitForQueuedWork();

    // The recognition program's process, 0 when none runs (tests).
    pid_t runningProcess() const;

    static constexpr int maxRecognitionSide = ocr::maxRecognitionSide;
    // What one picture's recognition may cost the program's CPU, and take on the clock however busy
    // the machine; past either the program is ended.
    static constexpr std::chrono::seconds cpuTimePerPicture {15};
    static constexpr std::chrono::seconds wallTimePerPicture {120};

    // $TESSDATA_PREFIX (or its "tessdata" subfolder), else Debian's folders; the first one
    // holding "eng.traineddata". Empty when there is none.
    static QString findTessdataFolder();

    struct Program;

private:
    void post(std::function<std::optional<QString>(TesseractWorker&)> request, const QUuid& id);

    BackgroundWork& m_work;
    BackgroundWork::Tasks m_tasks;
    std::shared_ptr<std::atomic_bool> m_cancelled;
    std::shared_ptr<Program> m_program;
    std::shared_ptr<TesseractWorker> m_worker;
};

} // namespace lumra
