// What the benchmarks share: generated files in a scratch directory, the
// side-by-side clock for our path and its baseline, and heap measurement.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvo::bench {

// The smoke run (--smoke) uses tiny sizes so it only proves the benchmarks work.
[[nodiscard]] bool smokeRun();
// A benchmark found our path doing the wrong thing: report it and make the
// program exit with a failure, whatever the timings.
void fail(benchmark::State& state, const std::string& why);
[[nodiscard]] bool anyFailed();

void registerHeaderBenchmarks();
void registerCopyBenchmarks();
void registerListBenchmarks();
void registerMakeListBenchmarks();
void registerStartupBenchmarks();
void registerDetailsBenchmarks();
void registerChecksumListBenchmarks();
void registerCliBenchmarks();
void registerVerifyBenchmarks();
void registerCollectionBenchmarks();
void registerCollectionWindowBenchmarks();

// A fresh directory under the system's temporary directory, removed with its
// contents when it goes.
class ScratchDir {
public:
    explicit ScratchDir(std::string_view tag);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] std::string file(std::string_view name) const;

private:
    std::string path_;
};

// A directory of `n` generated entries, made by make(dir, n) on first use and
// kept until the program ends: Google Benchmark calls a benchmark several
// times while it settles the iteration count.
using MakeEntries = void (*)(const ScratchDir& dir, std::int64_t n);
[[nodiscard]] const ScratchDir& cachedDirectory(const std::string& kind, std::int64_t n,
                                                MakeEntries make);

// An image with a valid header, `size` bytes long (sparse past the header).
void writeImage(const std::string& path, std::int64_t size, std::string_view title = "SAMPLE TITLE",
                std::string_view gameCode = "AXYE", std::string_view maker = "01");
void writeEmptyFile(const std::string& path);
// A Logiqx XML checksum list of `n` entries at `path`, shaped like No-Intro's
// Game Boy Advance list (long names, all five figures, some statuses).
void writeChecksumListXml(const std::string& path, std::int64_t n);
// A name as found in a collection, "Sample Game 000042 (Europe)" + suffix;
// the words vary with `index` so sorting has work to do.
[[nodiscard]] std::string collectionName(std::size_t index, std::string_view suffix);

// Bytes the heap hands out at this moment (small blocks and mapped ones).
[[nodiscard]] std::size_t heapInUse();

// Times our path and the baseline in the same iteration. Which goes first
// alternates, so neither always meets the caches the other has warmed.
class SideBySide {
public:
    using Clock = std::chrono::steady_clock;

    // Our time becomes the iteration's time (benchmarks use UseManualTime()).
    template <typename Ours, typename Baseline>
    void run(benchmark::State& state, Ours&& ours, Baseline&& baseline) {
        Clock::duration oursTime{};
        Clock::duration baselineTime{};
        if (runs_ % 2 == 0) {
            oursTime = timed(ours);
            baselineTime = timed(baseline);
        } else {
            baselineTime = timed(baseline);
            oursTime = timed(ours);
        }
        ++runs_;
        ours_ += oursTime;
        baseline_ += baselineTime;
        state.SetIterationTime(std::chrono::duration<double>(oursTime).count());
    }

    // ratio = ours / baseline over all iterations; ours and baseline in
    // seconds per iteration.
    void report(benchmark::State& state) const;

private:
    template <typename F> static Clock::duration timed(F& f) {
        const auto start = Clock::now();
        f();
        return Clock::now() - start;
    }

    std::size_t runs_ = 0;
    Clock::duration ours_{};
    Clock::duration baseline_{};
};

} // namespace kelvo::bench
