#pragma once

#include <QProcess>

namespace lumra::test {

// openbox on the test's X display while the object lives: which window is in front, focus and
// closing are the window manager's business on a desktop.
class WindowManager {
public:
    WindowManager() = default;
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;
    ~WindowManager() { stop(); }

    static bool installed();

    // Starts it and waits until it has finished starting, so the windows shown next are managed
    // and focused by its main loop rather than caught up in its start (which drops the focus).
    bool start();

    // Ended politely, so it takes its root window properties with it and the next one starts on
    // a display as it was.
    void stop();

private:
    QProcess m_process;
};

} // namespace lumra::test
