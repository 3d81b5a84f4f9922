// "Show one header": what clicking an image in the header window costs in
// the core, against the fewest calls that fetch the same bytes.
#include "benchsupport.h"

#include "romheader/romheader.h"

#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

namespace kelvo::bench {

namespace {

// Everything the window fills in for one image, as texts.
struct ShownHeader {
    std::string sizeMbit, sizeMb, title, cartId, maker, advance, territory;
    bool checkOk = false;
};

// Both sides are kept out of line so that callgrind counts each per call.
void showOneHeader(benchmark::State& state) {
    const ScratchDir dir("header");
    const std::string path = dir.file("Sample Game (Europe).gba");
    writeImage(path, 16 << 20, "SAMPLE TITLE", "AXYE", "01");

    ShownHeader shown;
    const auto ours = [&]() __attribute__((noinline)) {
        // As the window does: the size comes from readHeader's own open file.
        RomHeader header;
        readHeader(path, header);
        shown.sizeMbit = megabitText(header.sizeMbit);
        std::string decimalPoint; // as the window: asked for only when there is a fraction
        if (header.sizeMbit % 8 != 0)
            decimalPoint = QLocale().decimalPoint().toStdString();
        shown.sizeMb = megabyteText(header.sizeMbit, decimalPoint);
        shown.title = visibleText(header.title);
        shown.cartId = visibleText(header.cartId);
        shown.maker = decodeMaker(header.makerCode);
        shown.advance = decodeGameType(header.gameType);
        shown.territory = decodeTerritory(header.territory);
        shown.checkOk = header.checkValid();
        benchmark::DoNotOptimize(shown);
    };

    std::array<char, kHeaderLength> bytes{};
    off_t length = 0;
    const auto baseline = [&]() __attribute__((noinline)) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        ::fstat(fd, &info);
        const ssize_t n = ::pread(fd, bytes.data(), bytes.size(), 0);
        ::close(fd);
        length = info.st_size + n;
        benchmark::DoNotOptimize(bytes);
        benchmark::DoNotOptimize(length);
    };

    SideBySide clock;
    for (auto _ : state)
        clock.run(state, ours, baseline);
    clock.report(state);

    if (shown.title != "SAMPLE TITLE" || shown.sizeMbit != "128Mbit" || shown.sizeMb != "16MB" ||
        shown.maker != "01 - Nintendo" || shown.territory != "E - English" || !shown.checkOk)
        fail(state, "decoded " + shown.title + " / " + shown.sizeMbit + " / " + shown.sizeMb +
                        " / " + shown.maker + " / " + shown.territory);
}

} // namespace

void registerHeaderBenchmarks() {
    benchmark::RegisterBenchmark("show_one_header", showOneHeader)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
}

} // namespace kelvo::bench
