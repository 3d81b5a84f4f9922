// Start-up: a whole process that creates the application and the header
// window and exits after its first painted frame, against the same process
// with an empty QWidget. All runs are kelvo-startup-probe, so they load the
// same libraries and differ only in the window. A third process, showing one
// QLabel, tells apart what any text costs (the first use of the font system)
// from what the header window adds.
#include "benchsupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <string>

extern char** environ;

namespace kelvo::bench {

namespace {

struct ProbeRun {
    double seconds = 0;
    double peakKb = 0;
    double privateKb = 0;
    bool ok = false;
};

// The number after `key` in the probe's output ("VmHWM:   29604 kB").
double kilobytes(const std::string& output, const std::string& key) {
    const std::size_t at = output.rfind(key);
    return at == std::string::npos ? 0 : std::strtod(output.c_str() + at + key.size(), nullptr);
}

// Runs the probe in `directory`, where the header window opens, with its
// standard output on a pipe; the output is one line, well within the pipe's
// buffer, so it is read after the exit.
ProbeRun runProbe(const char* mode, const std::string& directory) {
    ProbeRun run;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    char* const argv[] = {const_cast<char*>(KELVO_STARTUP_PROBE), const_cast<char*>(mode), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const bool spawned =
        ::posix_spawn(&pid, KELVO_STARTUP_PROBE, &actions, nullptr, argv, environ) == 0;
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    int status = 0;
    if (spawned && ::waitpid(pid, &status, 0) == pid) {
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::string output;
        std::array<char, 256> buffer;
        for (ssize_t n; (n = ::read(pipeFds[0], buffer.data(), buffer.size())) > 0;)
            output.append(buffer.data(), std::size_t(n));
        run.peakKb = kilobytes(output, "VmHWM:");
        run.privateKb = kilobytes(output, "RssAnon:");
        run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && run.peakKb > 0;
    }
    ::close(pipeFds[0]);
    return run;
}

// Sums of the runs of one mode.
struct ProbeTotals {
    double seconds = 0;
    double peakKb = 0;
    double privateKb = 0;
    void add(const ProbeRun& run) {
        seconds += run.seconds;
        peakKb += run.peakKb;
        privateKb += run.privateKb;
    }
};

benchmark::Counter kibibytes(double kb) {
    return benchmark::Counter(kb * 1024, benchmark::Counter::kDefaults,
                              benchmark::Counter::kIs1024);
}

void startUp(benchmark::State& state) {
    const ScratchDir directory("start");
    writeImage(directory.file("Sample Game (Europe).gba"), 16 << 20);
    ProbeTotals header;
    ProbeTotals empty;
    ProbeTotals label;
    ProbeRun last[3];
    SideBySide clock;
    for (auto _ : state) {
        clock.run(
            state, [&] { last[0] = runProbe("header", directory.path()); },
            [&] { last[1] = runProbe("empty", directory.path()); });
        last[2] = runProbe("label", directory.path());
        for (const ProbeRun& run : last) {
            if (!run.ok) {
                fail(state, "kelvo-startup-probe did not exit cleanly after its first frame");
                return;
            }
        }
        header.add(last[0]);
        empty.add(last[1]);
        label.add(last[2]);
    }
    clock.report(state);
    const double runs = double(state.iterations());
    state.counters["memory_ratio"] = header.peakKb / empty.peakKb;
    state.counters["ours_peak"] = kibibytes(header.peakKb / runs);
    state.counters["baseline_peak"] = kibibytes(empty.peakKb / runs);
    state.counters["ours_private"] = kibibytes(header.privateKb / runs);
    state.counters["baseline_private"] = kibibytes(empty.privateKb / runs);
    state.counters["label"] = label.seconds / runs;
    state.counters["label_peak"] = kibibytes(label.peakKb / runs);
    state.counters["ratio_vs_label"] = header.seconds / label.seconds;
    state.counters["memory_ratio_vs_label"] = header.peakKb / label.peakKb;
}

} // namespace

void registerStartupBenchmarks() {
    benchmark::RegisterBenchmark("start_up/header_window", startUp)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(smokeRun() ? 1 : 20);
}

} // namespace kelvo::bench
