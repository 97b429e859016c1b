#pragma once

#include "platform/core/Clock.h"

#include <QString>

#include <array>
#include <chrono>
#include <memory>

namespace lumra {

// Copies that never reached the history, told once per burst: the first loss is logged as it
// happens, later ones within the window are only counted, and one line then sums them up. A
// hostile owner re-taking the clipboard thousands of times costs a few lines, and every loss is
// still counted in the diagnostics.
class CaptureLosses {
public:
    // `leftOut`: the settings or the owner's marks keep it out; `notSaved`: the history could not take it.
    enum class Kind { unseen, replaced, notRead, refused, quit, leftOut, notSaved };

    explicit CaptureLosses(Clock& clock, std::chrono::milliseconds window = std::chrono::seconds(5));
    ~CaptureLosses();
    CaptureLosses(const CaptureLosses&) = delete;
    CaptureLosses& operator=(const CaptureLosses&) = delete;

    // `message` says what was lost and why; a refusal, a copy cut off by the quit or one the history
    // could not save is a warning, the rest information.
    void note(Kind kind, const QString& message, qint64 count = 1);

private:
    void sumUp();

    Clock& m_clock;
    std::chrono::milliseconds m_window;
    std::unique_ptr<Timer> m_burst; // active while a burst is open
    std::array<qint64, 7> m_held {};
    QString m_lastRefusal;
};

} // namespace lumra
