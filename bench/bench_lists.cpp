// "List a directory": the real file and directory list widgets, shown on the
// offscreen platform, pointed at a directory of N entries until their models
// hold every match and the view has painted the first rows; against readdir, a suffix or
// type test and a sort of the names.
#include "benchsupport.h"

#include "romheader/romheader.h"
#include "windowkit/directorylist.h"
#include "windowkit/filelist.h"

#include <QCoreApplication>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kelvo::bench {

namespace {

// Kept out of line so that callgrind counts each side's instructions per call
// (callgrind_annotate --inclusive=yes: "listFiles(...)::{lambda()#1}" is ours,
// "#2" the baseline).
#define KELVO_PROFILED __attribute__((noinline))

constexpr const char* kImagePatterns = "*.bin ;*.gba ;*.agb";
constexpr std::string_view kMatching[] = {".gba", ".bin", ".agb"};
constexpr std::string_view kOthers[] = {".sav", ".txt", ".png"};

// Half the names carry an image suffix, half another one.
void makeFiles(const ScratchDir& dir, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        const auto k = std::size_t(i / 2);
        writeEmptyFile(dir.file(
            collectionName(std::size_t(i), i % 2 == 0 ? kMatching[k % 3] : kOthers[k % 3])));
    }
}

void makeSubdirectories(const ScratchDir& dir, std::int64_t n) {
    const std::string parent = dir.file("collection");
    ::mkdir(parent.c_str(), 0755);
    for (std::int64_t i = 0; i < n; ++i)
        ::mkdir(joinPath(parent, collectionName(std::size_t(i), "")).c_str(), 0755);
}

bool caseLess(const std::string& a, const std::string& b) {
    return ::strcasecmp(a.c_str(), b.c_str()) < 0;
}

bool hasImageSuffix(const char* name, std::size_t length) {
    return length >= 4 && std::any_of(std::begin(kMatching), std::end(kMatching), [&](auto s) {
               return ::strcasecmp(name + length - 4, s.data()) == 0;
           });
}

template <typename Keep> std::vector<std::string> readAndSort(const std::string& path, Keep keep) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    while (const dirent* entry = ::readdir(dir)) {
        if (keep(*entry))
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), caseLess);
    return names;
}

// Runs the event loop until `widget` has painted: a model reset lays the view
// out on one pass of the loop and paints it on a later one.
class PaintWait : public QObject {
public:
    explicit PaintWait(QWidget* widget) { widget->installEventFilter(this); }

    void wait() {
        painted_ = false;
        for (int pass = 0; pass < 100 && !painted_; ++pass)
            QCoreApplication::processEvents();
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted_ = true;
        return QObject::eventFilter(watched, event);
    }

private:
    bool painted_ = false;
};

// Frees the names for real; assigning {} would keep the vector's buffer.
void release(std::vector<std::string>& names) {
    std::vector<std::string>().swap(names);
}

// Heap bytes `fill` leaves in use, per entry.
template <typename Fill> double heapPerEntry(std::int64_t entries, Fill fill) {
    const std::size_t before = heapInUse();
    fill();
    return (double(heapInUse()) - double(before)) / double(entries);
}

void listFiles(benchmark::State& state) {
    const std::int64_t n = state.range(0);
    const std::int64_t matches = (n + 1) / 2;
    const ScratchDir& dir = cachedDirectory("files", n, makeFiles);
    const ScratchDir empty("empty");

    FileList list;
    list.resize(400, 300);
    list.setPath(empty.path());
    list.setPattern(kImagePatterns);
    list.show();
    PaintWait painted(list.viewport());
    painted.wait();

    const auto ours = [&]() KELVO_PROFILED {
        list.setPath(dir.path());
        painted.wait();
    };
    std::vector<std::string> kept;
    const auto baseline = [&]() KELVO_PROFILED {
        kept = readAndSort(dir.path(), [](const dirent& e) {
            return hasImageSuffix(e.d_name, std::strlen(e.d_name));
        });
    };

    ours(); // the first rows painted load the fonts and glyphs; that is start-up's cost
    SideBySide clock;
    for (auto _ : state) {
        list.setPath(empty.path()); // the previous listing is freed outside the clock
        painted.wait();
        release(kept);
        clock.run(state, ours, baseline);
    }
    clock.report(state);

    if (list.ListCount() != matches || std::int64_t(kept.size()) != matches) {
        fail(state, "listed " + std::to_string(list.ListCount()) + " of " +
                        std::to_string(matches) + " matching files");
        return;
    }
    list.setPath(empty.path());
    painted.wait();
    release(kept);
    state.counters["bytes_per_entry"] = heapPerEntry(matches, ours);
    state.counters["baseline_bytes_per_entry"] = heapPerEntry(matches, baseline);
}

void listSubdirectories(benchmark::State& state) {
    const std::int64_t n = state.range(0);
    const ScratchDir& dir = cachedDirectory("subdirectories", n, makeSubdirectories);
    const std::string collection = dir.file("collection");

    DirectoryList list;
    list.resize(300, 300);
    list.setPath(dir.path());
    list.show();
    PaintWait painted(list.viewport());
    painted.wait();
    const int ancestors = list.ListCount() - 1; // the scratch directory holds only "collection"

    const auto ours = [&]() KELVO_PROFILED {
        list.setPath(collection);
        painted.wait();
    };
    std::vector<std::string> kept;
    const auto baseline = [&]() KELVO_PROFILED {
        kept = readAndSort(
            collection, [](const dirent& e) { return e.d_type == DT_DIR && e.d_name[0] != '.'; });
    };

    ours(); // the first rows painted load the fonts and glyphs; that is start-up's cost
    SideBySide clock;
    for (auto _ : state) {
        list.setPath(dir.path());
        painted.wait();
        release(kept);
        clock.run(state, ours, baseline);
    }
    clock.report(state);

    if (list.ListCount() != ancestors + 1 + n || std::int64_t(kept.size()) != n)
        fail(state, "listed " + std::to_string(list.ListCount() - ancestors - 1) + " of " +
                        std::to_string(n) + " subdirectories");
}

} // namespace

void registerListBenchmarks() {
    auto* files = benchmark::RegisterBenchmark("list_directory/files", listFiles)
                      ->UseManualTime()
                      ->Unit(benchmark::kMillisecond);
    auto* directories =
        benchmark::RegisterBenchmark("list_directory/subdirectories", listSubdirectories)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    if (smokeRun()) {
        files->Arg(10);
        directories->Arg(10);
        return;
    }
    files->Arg(1'000)->Arg(10'000)->Arg(100'000);
    directories->Arg(1'000)->Arg(10'000);
}

} // namespace kelvo::bench
