// The command line as build scripts start it: whole processes, spawned with
// posix_spawn on both sides, their output going to /dev/null.
//
// cli/info_header: kelvo-gba-cli info --header, against a C++ program built
// and linked like it that opens the image, reads 192 bytes and prints the
// title; ratio_vs_c holds ours against the same in plain C, linked to the C
// library alone (what loading libstdc++ and the libraries for hashing, the
// checksum lists and the hash cache costs).
// cli/fix: kelvo-gba-cli fix -tTITLE -cCODE -m01 -r<1 or 2>, against the same
// baseline writing 30 header bytes and fsync. The version alternates so every
// run of ours has a byte to write and sync too.
#include "benchsupport.h"

#include "romheader/romheader.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace kelvo::bench {

namespace {

// Runs a program to its end; true when it exited with 0.
bool spawned(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const bool started = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    ::posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return started && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

double secondsOf(const std::vector<std::string>& args, bool& ok) {
    const auto start = SideBySide::Clock::now();
    ok = spawned(args) && ok;
    return std::chrono::duration<double>(SideBySide::Clock::now() - start).count();
}

std::string titleOf(const std::string& path) {
    RomHeader header;
    readHeader(path, header);
    return visibleText(header.title);
}

void infoHeader(benchmark::State& state) {
    const ScratchDir dir("cli");
    const std::string image = dir.file("Sample Game (Europe).gba");
    writeImage(image, 4 << 20);
    SideBySide clock;
    bool ok = true;
    double bareC = 0;
    for (auto _ : state) {
        clock.run(
            state,
            [&] {
                ok = spawned({KELVO_CLI, "info", "--header", image}) && ok;
            },
            [&] {
                ok = spawned({KELVO_CLI_BASELINE, image}) && ok;
            });
        bareC += secondsOf({KELVO_CLI_BASELINE_C, image}, ok);
    }
    clock.report(state);
    if (bareC > 0)
        state.counters["ratio_vs_c"] =
            state.counters["ours"] / (bareC / double(state.iterations()));
    if (!ok)
        fail(state, "kelvo-gba-cli info --header or a baseline failed");
}

void fix(benchmark::State& state) {
    const ScratchDir dir("cli");
    const std::string image = dir.file("game.gba");
    const std::string baselineImage = dir.file("baseline.gba");
    writeImage(image, 4 << 20);
    writeImage(baselineImage, 4 << 20);
    SideBySide clock;
    bool ok = true;
    int version = 1;
    for (auto _ : state) {
        version = 3 - version;
        clock.run(
            state,
            [&] {
                ok = spawned({KELVO_CLI, "fix", "-tTITLE", "-cCODE", "-m01",
                              "-r" + std::to_string(version), image}) &&
                     ok;
            },
            [&] {
                ok = spawned({KELVO_CLI_BASELINE, "--write", baselineImage}) && ok;
            });
    }
    clock.report(state);
    if (!ok || titleOf(image) != "TITLE")
        fail(state, "kelvo-gba-cli fix failed, or did not write the title");
}

} // namespace

void registerCliBenchmarks() {
    benchmark::RegisterBenchmark("cli/info_header", infoHeader)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond)
        ->Iterations(smokeRun() ? 1 : 300);
    benchmark::RegisterBenchmark("cli/fix", fix)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond)
        ->Iterations(smokeRun() ? 1 : 100);
}

} // namespace kelvo::bench
