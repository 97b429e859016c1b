#pragma once

#include "engine/CaptureService.h"
#include "engine/ClipboardManager.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace lumra::test {

// Lets the event loop hand every read, and what is made of it, to the engine as each ends, until
// none is left: the copies are stored as the running app stores them.
inline void finishPendingCaptures(ClipboardManager& manager)
{
    CaptureService* capture = manager.captureService();
    while (capture && capture->hasPendingCaptures())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace lumra::test
