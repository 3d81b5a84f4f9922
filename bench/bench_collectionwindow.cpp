// The Check Collection window while 10,000 rows arrive: what the rows cost
// in memory above the window with none, and the longest pause of its event
// loop (a timer ticking every millisecond tells how long nothing ran). The
// time is set against the same check drained with no window at all.
#include "benchsupport.h"

#include "collection/check.h"
#include "collectionwin/checktablemodel.h"
#include "collectionwin/collectionwindow.h"
#include "romheader/romheader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/stat.h>

#include <algorithm>

namespace kelvo::bench {

namespace {

// `n` images of 4 KiB in 100 directories.
void makeImages(const ScratchDir& dir, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        const std::string sub = dir.file("set " + std::to_string(i % 100));
        ::mkdir(sub.c_str(), 0755);
        writeImage(joinPath(sub, collectionName(std::size_t(i), ".gba")), 4096);
    }
}

struct WindowRun {
    std::size_t rows = 0;
    double heapGrowth = 0;   // bytes
    double longestPause = 0; // seconds
};

WindowRun checkInWindow(const std::string& root) {
    WindowRun run;
    CollectionWindow window;
    window.show();
    QCoreApplication::processEvents();
    const std::size_t before = heapInUse();

    QEventLoop loop;
    QObject::connect(&window, &CollectionWindow::checkEnded, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    tick.start();
    window.checkPath(root);
    loop.exec();
    tick.stop();
    longest = std::max(longest, clock.nsecsElapsed() - last);

    run.rows = window.model().rows().size();
    run.heapGrowth = double(heapInUse()) - double(before);
    run.longestPause = double(longest) / 1e9;
    return run;
}

std::size_t checkBare(const std::string& root) {
    CheckOptions options;
    options.paths = {root};
    CollectionCheck check(std::move(options), {}, nullptr);
    RowOrder order;
    std::size_t rows = 0;
    for (bool finished = false; !finished;) {
        CheckBatch batch = check.takeWaiting(std::chrono::milliseconds(250));
        finished = batch.finished;
        rows += order.add(std::move(batch)).size();
    }
    return rows;
}

void windowCheck(benchmark::State& state, std::int64_t count) {
    const std::int64_t n = smokeRun() ? 200 : count;
    const ScratchDir& dir = cachedDirectory("collection-window", n, makeImages);
    WindowRun worst;
    std::size_t bareRows = 0;
    const auto ours = [&] {
        const WindowRun run = checkInWindow(dir.path());
        worst.rows = run.rows;
        worst.heapGrowth = std::max(worst.heapGrowth, run.heapGrowth);
        worst.longestPause = std::max(worst.longestPause, run.longestPause);
    };
    const auto baseline = [&] { bareRows = checkBare(dir.path()); };
    SideBySide clock;
    for (auto _ : state)
        clock.run(state, ours, baseline);
    clock.report(state);
    state.counters["rows_mib"] = worst.heapGrowth / 1048576.0;
    state.counters["longest_pause_ms"] = worst.longestPause * 1e3;
    if (worst.rows != std::size_t(n) || bareRows != std::size_t(n))
        fail(state, "the window showed " + std::to_string(worst.rows) + " rows, the bare check " +
                        std::to_string(bareRows) + ", of " + std::to_string(n));
}

} // namespace

void registerCollectionWindowBenchmarks() {
    benchmark::RegisterBenchmark("check_collection_window/10000", windowCheck, 10000)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace kelvo::bench
