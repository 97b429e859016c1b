#include "Teardown.h"

#include "platform/core/Allocator.h"
#include "platform/core/BackgroundWork.h"

#include <benchmark/benchmark.h>

#include <QApplication>

int main(int argc, char** argv)
{
    lumra::keepLargeBuffersOutOfHeaps(); // as the program does
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    lumra::BackgroundWork work;
    lumra::BackgroundWork::setCurrent(&work);
    QApplication app(argc, argv); // widget benchmarks need it
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    lumra::bench::teardown();
    benchmark::Shutdown();
    return 0;
}
