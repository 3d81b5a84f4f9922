// "Make List" with all six columns: the real handler, pressed through the
// window's button, against a loop of stat, open, pread and close per image
// and one write of the same text.
#include "benchsupport.h"

#include "windowkit/filelist.h"
#include "listwin/romlistwindow.h"
#include "romheader/romheader.h"

#include <QCoreApplication>
#include <QPushButton>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kelvo::bench {

namespace {

void makeImages(const ScratchDir& dir, std::int64_t n) {
    static constexpr std::array<std::string_view, 4> kMakers = {"01", "08", "52", "7D"};
    for (std::int64_t i = 0; i < n; ++i) {
        const auto k = std::size_t(i);
        const std::string title = "GAME " + std::to_string(k % 100000);
        writeImage(dir.file(collectionName(k, ".bin")), std::int64_t(4) << (20 + k % 4), title,
                   "AG" + std::to_string(k % 10) + "EJPD"[k % 4], kMakers[k % kMakers.size()]);
    }
}

// The benchmark runs in the images' directory, where "Make List" writes list.txt.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& path)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~WorkingDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

void emptyFile(const std::string& path) {
    std::ofstream(path, std::ios::binary | std::ios::trunc);
}

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void makeList(benchmark::State& state) {
    const std::int64_t n = state.range(0);
    const ScratchDir& dir = cachedDirectory("images", n, makeImages);
    const WorkingDirectory inImages(dir.path());
    const std::string ourList = dir.file("list.txt");
    const std::string baselineList = dir.file("baseline.txt");

    RomListWindow window;
    window.show();
    QCoreApplication::processEvents();
    auto* make = window.findChild<QPushButton*>(QStringLiteral("cmdMake"));
    const std::vector<std::string>& names = window.findChild<FileList*>("File2")->names();
    if (!make || std::int64_t(names.size()) != n) {
        fail(state, "the list window does not show the " + std::to_string(n) + " images");
        return;
    }

    // One press outside the clock yields the text the baseline writes.
    emptyFile(ourList);
    make->click();
    const std::string text = contentsOf(ourList);
    const QString expected = QStringLiteral("Listed %1 files").arg(n);
    if (!window.statusText().startsWith(expected) ||
        std::count(text.begin(), text.end(), '\n') != n + 2) {
        fail(state, "Make List wrote " + std::to_string(text.size()) + " bytes and said \"" +
                        window.statusText().toStdString() + "\"");
        return;
    }

    const auto ours = [&] { make->click(); };
    const auto baseline = [&] {
        std::array<char, 4096> path{};
        const std::size_t stem = dir.path().size() + 1;
        std::copy(dir.path().begin(), dir.path().end(), path.begin());
        path[stem - 1] = '/';
        std::array<char, kHeaderLength> bytes{};
        for (const std::string& name : names) {
            std::copy(name.begin(), name.end(), path.begin() + std::ptrdiff_t(stem));
            path[stem + name.size()] = '\0';
            struct stat info {};
            ::stat(path.data(), &info);
            const int fd = ::open(path.data(), O_RDONLY | O_CLOEXEC);
            benchmark::DoNotOptimize(::pread(fd, bytes.data(), bytes.size(), 0));
            ::close(fd);
            benchmark::DoNotOptimize(bytes);
        }
        const int out =
            ::open(baselineList.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        benchmark::DoNotOptimize(::write(out, text.data(), text.size()));
        ::close(out);
    };

    SideBySide clock;
    for (auto _ : state) {
        emptyFile(ourList);
        emptyFile(baselineList);
        clock.run(state, ours, baseline);
    }
    clock.report(state);
    if (contentsOf(ourList) != text || contentsOf(baselineList) != text)
        fail(state, "list.txt differs between presses");
}

} // namespace

void registerMakeListBenchmarks() {
    benchmark::RegisterBenchmark("make_list/all_columns", makeList)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Arg(smokeRun() ? 10 : 10'000);
}

} // namespace kelvo::bench
