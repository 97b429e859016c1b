#pragma once

#include "platform/core/Clock.h"

namespace lumra::test {

// Installs a ManualClock as the shared clock for the life of the object.
class ManualClockScope {
public:
    explicit ManualClockScope(QDateTime start = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC))
        : clock(std::move(start))
    {
        Clock::setShared(&clock);
    }
    ~ManualClockScope() { Clock::setShared(nullptr); }

    ManualClock clock;
};

} // namespace lumra::test
