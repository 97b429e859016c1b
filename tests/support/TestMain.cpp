#include "platform/core/BackgroundWork.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

// Qt's D-Bus thread keeps libdbus's read buffer until exit; Qt PDF's view keeps its scroller
// registration and its render thread for the process, and drops the parser state of a file that
// fails to load as a PDF. Where GStreamer has its PulseAudio and OpenAL sinks (as on any desktop),
// Qt Multimedia's player keeps the sink's context and GLib's buffers, and OpenAL drops the text of
// the error it prints when no sound device opens. None of them is a leak of ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so\nleak:QScroller::grabGesture\nleak:QPdfPageRenderer\n"
           "leak:QPdfDocumentPrivate::initiateAsyncLoadWithTotalSizeKnown\nleak:libpulse.so\nleak:libglib-2.0.so\n"
           "leak:libopenal.so\nleak:__vasprintf_internal\nleak:gst_device_monitor\n";
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Date and locale dependent tests assume these unless they set their own.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", "UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    lumra::BackgroundWork work;
    lumra::BackgroundWork::setCurrent(&work);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumra"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
