#pragma once

#include <QDeadlineTimer>
#include <QTest>

#include <functional>

namespace lumra::test {

// Runs the event loop until `done` holds or `timeoutMs` passed; returns whether it holds.
// (QtTest's QTRY_ macros report to QtTest, which GoogleTest does not see.)
inline bool processEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

} // namespace lumra::test
