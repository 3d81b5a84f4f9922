// Start-up: a whole process that creates the application and the header
// window and exits at its first painted frame, against the same process
// with an empty QWidget. All runs are kelvo-startup-probe, so they load the
// same libraries and differ only in the window. A third process, showing one
// QLabel, tells apart what any text costs (the first use of the font system)
// from what the header window adds.
//
// The header window's timed runs have a 3,700-entry checksum list configured,
// as a collector's would: the lists are read after the first frame, which is
// where the probe leaves, so all they may cost the start is what knowing of
// them takes (the List row). Its memory is taken from a fourth run with no
// list, the window alone.
#include "benchsupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

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

// This process's environment with $XDG_CONFIG_HOME and $XDG_CACHE_HOME set
// to `config` and `cache`.
std::vector<std::string> environmentWith(const std::string& config, const std::string& cache) {
    std::vector<std::string> settings{"XDG_CONFIG_HOME=" + config, "XDG_CACHE_HOME=" + cache};
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view setting(*entry);
        if (!setting.starts_with("XDG_CONFIG_HOME=") && !setting.starts_with("XDG_CACHE_HOME="))
            settings.emplace_back(setting);
    }
    return settings;
}

// Runs the probe in `directory`, where the header window opens, with
// `environment` and its standard output on a pipe; the output is two short
// lines, well within the pipe's buffer, so it is read after the exit.
ProbeRun runProbe(const char* mode, const std::string& directory,
                  const std::vector<std::string>& environment) {
    std::vector<char*> envp;
    for (const std::string& setting : environment)
        envp.push_back(const_cast<char*>(setting.c_str()));
    envp.push_back(nullptr);
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
        ::posix_spawn(&pid, KELVO_STARTUP_PROBE, &actions, nullptr, argv, envp.data()) == 0;
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
    const ScratchDir listed("start-listed");
    writeChecksumListXml(listed.file("list.dat"), smokeRun() ? 37 : 3700);
    ::mkdir(listed.file("kelvo-gba").c_str(), 0755);
    std::ofstream(listed.file("kelvo-gba/checksum-lists")) << listed.file("list.dat") << '\n';
    const ScratchDir unlisted("start-unlisted");
    const ScratchDir cache("start-cache");
    const std::vector<std::string> withList = environmentWith(listed.path(), cache.path());
    const std::vector<std::string> withoutList = environmentWith(unlisted.path(), cache.path());

    ProbeTotals header;
    ProbeTotals headerAlone;
    ProbeTotals empty;
    ProbeTotals label;
    ProbeRun last[4];
    SideBySide clock;
    for (auto _ : state) {
        clock.run(
            state, [&] { last[0] = runProbe("header", directory.path(), withList); },
            [&] { last[1] = runProbe("empty", directory.path(), withList); });
        last[2] = runProbe("label", directory.path(), withList);
        last[3] = runProbe("header", directory.path(), withoutList);
        for (const ProbeRun& run : last) {
            if (!run.ok) {
                fail(state, "kelvo-startup-probe did not exit cleanly after its first frame");
                return;
            }
        }
        header.add(last[0]);
        empty.add(last[1]);
        label.add(last[2]);
        headerAlone.add(last[3]);
    }
    clock.report(state);
    const double runs = double(state.iterations());
    state.counters["memory_ratio"] = headerAlone.peakKb / empty.peakKb;
    state.counters["ours_peak"] = kibibytes(headerAlone.peakKb / runs);
    state.counters["baseline_peak"] = kibibytes(empty.peakKb / runs);
    state.counters["ours_private"] = kibibytes(headerAlone.privateKb / runs);
    state.counters["baseline_private"] = kibibytes(empty.privateKb / runs);
    state.counters["label"] = label.seconds / runs;
    state.counters["label_peak"] = kibibytes(label.peakKb / runs);
    state.counters["ratio_vs_label"] = header.seconds / label.seconds;
    state.counters["memory_ratio_vs_label"] = headerAlone.peakKb / label.peakKb;
}

} // namespace

void registerStartupBenchmarks() {
    benchmark::RegisterBenchmark("start_up/header_window", startUp)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(smokeRun() ? 1 : 20);
}

} // namespace kelvo::bench
