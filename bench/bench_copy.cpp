// "Rename File To ROM Title" on a large image: the core's copy against the
// fewest calls that make an equally durable copy on the same file system,
// the way cp --reflink=auto --sparse=auto copies (a clone, else
// copy_file_range over the data extents), then fsync of the copy and of its
// directory. cp itself is timed on the same files for comparison.
#include "benchsupport.h"

#include "romheader/romheader.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <vector>

extern char** environ;

namespace kelvo::bench {

namespace {

// A dense image holds data in every byte; a sparse one only its header.
void makeSource(const std::string& path, std::int64_t size, bool dense) {
    writeImage(path, size);
    if (!dense)
        return;
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = char(i * 7 + 3);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    for (std::int64_t at = kHeaderLength; at < size; at += std::int64_t(chunk.size())) {
        const auto n = std::size_t(std::min<std::int64_t>(size - at, std::int64_t(chunk.size())));
        if (::pwrite(fd, chunk.data(), n, at) != ssize_t(n))
            break;
    }
    ::fsync(fd);
    ::close(fd);
}

void bareCopy(const std::string& source, const std::string& target, const std::string& dir) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    ::fstat(in, &info);
    const int out =
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777);
    if (::ioctl(out, FICLONE, in) != 0) {
        for (off_t at = 0; (at = ::lseek(in, at, SEEK_DATA)) >= 0;) {
            const off_t end = ::lseek(in, at, SEEK_HOLE);
            off_t from = at;
            off_t to = at;
            while (
                from<end&& ::copy_file_range(in, &from, out, &to, std::size_t(end - from), 0)> 0) {
            }
            at = end;
        }
        benchmark::DoNotOptimize(::ftruncate(out, info.st_size));
    }
    ::fsync(out);
    ::close(out);
    ::close(in);
    const int directory = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::fsync(directory);
    ::close(directory);
}

// Seconds one run of cp takes, the process start included.
double timeCp(const std::string& source, const std::string& target) {
    char* const argv[] = {const_cast<char*>("cp"),
                          const_cast<char*>("--reflink=auto"),
                          const_cast<char*>("--sparse=auto"),
                          const_cast<char*>(source.c_str()),
                          const_cast<char*>(target.c_str()),
                          nullptr};
    ::unlink(target.c_str());
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = 0;
    if (::posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0 ||
        ::waitpid(pid, &status, 0) != pid || status != 0)
        return 0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void copyToTitleBenchmark(benchmark::State& state, bool dense) {
    const std::int64_t size = state.range(0);
    const ScratchDir dir("copy");
    const std::string source = dir.file("Sample Game (Europe).gba");
    makeSource(source, size, dense);
    const std::string ourCopy = dir.file("SAMPLE TITLE.gba");
    const std::string baselineCopy = dir.file("baseline.gba");

    const auto ours = [&] { copyToTitle(source, dir.path(), "SAMPLE TITLE"); };
    const auto baseline = [&] { bareCopy(source, baselineCopy, dir.path()); };
    SideBySide clock;
    for (auto _ : state) {
        ::unlink(ourCopy.c_str());
        ::unlink(baselineCopy.c_str());
        clock.run(state, ours, baseline);
    }
    clock.report(state);

    constexpr int kCpRuns = 5;
    double cp = 0;
    for (int i = 0; i < kCpRuns; ++i)
        cp += timeCp(source, dir.file("cp.gba"));
    state.counters["cp"] = cp / kCpRuns;

    struct stat made {};
    struct stat bare {};
    if (::stat(ourCopy.c_str(), &made) != 0 || ::stat(baselineCopy.c_str(), &bare) != 0 ||
        made.st_size != size || bare.st_size != size ||
        made.st_blocks > bare.st_blocks + 64 /* 32 KiB */)
        fail(state, "the copy is " + std::to_string(made.st_size) + " bytes in " +
                        std::to_string(made.st_blocks) + " blocks; the baseline's " +
                        std::to_string(bare.st_blocks));
    if (cp == 0)
        fail(state, "cp failed");
}

} // namespace

void registerCopyBenchmarks() {
    benchmark::RegisterBenchmark("copy_to_title/dense",
                                 [](benchmark::State& state) { copyToTitleBenchmark(state, true); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Arg(smokeRun() ? 65536 : 33554432);
    benchmark::RegisterBenchmark(
        "copy_to_title/sparse", [](benchmark::State& state) { copyToTitleBenchmark(state, false); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Arg(smokeRun() ? 1048576 : 3221225472);
}

} // namespace kelvo::bench
