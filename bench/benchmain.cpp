// Runs the benchmarks inside a QApplication on Qt's offscreen platform (unless
// QT_QPA_PLATFORM names another), so the real widgets work without a display.
//
//   kelvo-bench [--smoke] [Google Benchmark flags]
//
// --smoke (or KELVO_BENCH_SMOKE=1) shrinks every size so a run takes seconds.
#include "benchsupport.h"

#include <QApplication>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace kelvo::bench {
namespace {
bool smoke = false;
} // namespace

bool smokeRun() {
    return smoke;
}

} // namespace kelvo::bench

int main(int argc, char** argv) {
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            kelvo::bench::smoke = true;
        else
            args.push_back(argv[i]);
    }
    if (const char* flag = std::getenv("KELVO_BENCH_SMOKE"); flag && *flag && *flag != '0')
        kelvo::bench::smoke = true;

    ::setenv("QT_QPA_PLATFORM", "offscreen", 0); // the start-up probes inherit it
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    int benchArgc = int(args.size());
    benchmark::Initialize(&benchArgc, args.data());
    if (benchmark::ReportUnrecognizedArguments(benchArgc, args.data()))
        return 2;

    kelvo::bench::registerHeaderBenchmarks();
    kelvo::bench::registerCopyBenchmarks();
    kelvo::bench::registerListBenchmarks();
    kelvo::bench::registerMakeListBenchmarks();
    kelvo::bench::registerStartupBenchmarks();
    kelvo::bench::registerDetailsBenchmarks();
    kelvo::bench::registerChecksumListBenchmarks();
    kelvo::bench::registerCliBenchmarks();
    kelvo::bench::registerVerifyBenchmarks();
    kelvo::bench::registerCollectionBenchmarks();
    kelvo::bench::registerCollectionWindowBenchmarks();
    benchmark::AddCustomContext("qt_platform", QGuiApplication::platformName().toStdString());
    benchmark::AddCustomContext("size", kelvo::bench::smokeRun() ? "smoke" : "full");

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return kelvo::bench::anyFailed() ? 1 : 0;
}
