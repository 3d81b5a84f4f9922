#include "benchsupport.h"

#include "romheader/romheader.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace kelvo::bench {

namespace {

bool failed = false;

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

void fail(benchmark::State& state, const std::string& why) {
    failed = true;
    std::fprintf(stderr, "kelvo-bench: %s\n", why.c_str());
    state.SkipWithError(why.c_str());
}

bool anyFailed() {
    return failed;
}

ScratchDir::ScratchDir(std::string_view tag) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("kelvo-bench-" + std::string(tag) + "-XXXXXX"))
            .string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throwErrno("mkdtemp " + pattern);
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::file(std::string_view name) const {
    return joinPath(path_, name);
}

const ScratchDir& cachedDirectory(const std::string& kind, std::int64_t n, MakeEntries make) {
    static std::map<std::pair<std::string, std::int64_t>, std::unique_ptr<ScratchDir>> made;
    auto& dir = made[{kind, n}];
    if (!dir) {
        dir = std::make_unique<ScratchDir>(kind);
        make(*dir, n);
    }
    return *dir;
}

void writeImage(const std::string& path, std::int64_t size, std::string_view title,
                std::string_view gameCode, std::string_view maker) {
    std::array<std::uint8_t, kMinWritableLength> head{};
    std::copy_n(title.begin(), std::min(title.size(), kTitleWidth), head.begin() + kTitleOffset);
    std::copy_n(gameCode.begin(), std::min<std::size_t>(gameCode.size(), 4),
                head.begin() + kGameTypeOffset);
    std::copy_n(maker.begin(), std::min(maker.size(), kMakerWidth), head.begin() + kMakerOffset);
    head[0xB2] = 0x96;
    head[kCheckOffset] =
        headerCheck(std::span(head).subspan<kTitleOffset, kCheckedLength>());

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throwErrno("create " + path);
    const bool ok = ::write(fd, head.data(), head.size()) == ssize_t(head.size()) &&
                    ::ftruncate(fd, std::max<std::int64_t>(size, kMinWritableLength)) == 0;
    const int code = errno;
    ::close(fd);
    if (!ok) {
        errno = code;
        throwErrno("write " + path);
    }
}

void writeEmptyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throwErrno("create " + path);
    ::close(fd);
}

std::string collectionName(std::size_t index, std::string_view suffix) {
    static constexpr std::array<std::string_view, 7> kWords = {
        "Advance Racer", "castle quest", "Dragon Tales", "Puzzle League",
        "Moon Patrol",   "Star Fighter", "Zoo Keeper"};
    static constexpr std::array<std::string_view, 4> kRegions = {"Europe", "USA", "Japan",
                                                                 "En,Fr,De"};
    char number[24];
    std::snprintf(number, sizeof number, " %06zu (", index);
    std::string name(kWords[(index * 5) % kWords.size()]);
    name += number;
    name += kRegions[index % kRegions.size()];
    name += ')';
    name += suffix;
    return name;
}

std::size_t heapInUse() {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

void SideBySide::report(benchmark::State& state) const {
    if (runs_ == 0)
        return;
    const double ours = std::chrono::duration<double>(ours_).count();
    const double baseline = std::chrono::duration<double>(baseline_).count();
    state.counters["ratio"] = baseline > 0 ? ours / baseline : 0;
    state.counters["ours"] = ours / double(runs_);
    state.counters["baseline"] = baseline / double(runs_);
}

} // namespace kelvo::bench
