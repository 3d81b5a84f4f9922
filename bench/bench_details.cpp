// "Image Details": the dialog's whole-file work (one read feeding CRC32, MD5,
// SHA-1, SHA-256, the save-type scan and the padding count, MD5 on a thread
// of its own, then its rows) against one read of the same file feeding the
// same buffer to the same four hash functions, one after another.
#include "benchsupport.h"
#include "hashbaseline.h"

#include "romheader/imageinfo.h"

#include <vector>

namespace kelvo::bench {

namespace {

std::string valueOf(const std::vector<DetailRow>& rows, std::string_view caption) {
    for (const DetailRow& row : rows) {
        if (row.caption == caption)
            return row.value;
    }
    return {};
}

void imageDetailsWork(benchmark::State& state) {
    const auto size = std::size_t(state.range(0));
    const ScratchDir dir("details");
    const std::string path = dir.file("Sample Game (Europe).gba");
    makeDumpLikeImage(path, size);

    std::vector<DetailRow> rows;
    const auto ours = [&] {
        rows = imageDetails(path, scanImage(path));
        benchmark::DoNotOptimize(rows);
    };
    std::vector<std::uint8_t> buffer(kScanChunk);
    Digests digests;
    const auto baseline = [&] {
        digests = readAndHash(path, buffer);
        benchmark::DoNotOptimize(digests);
    };

    SideBySide clock;
    for (auto _ : state)
        clock.run(state, ours, baseline);
    clock.report(state);

    const std::vector<std::string> expected = digests.texts();
    const std::vector<std::string> shown = {valueOf(rows, "CRC32"), valueOf(rows, "MD5"),
                                            valueOf(rows, "SHA-1"), valueOf(rows, "SHA-256")};
    const std::string padding = std::to_string(size - size / 2) + " bytes of 0xFF";
    if (shown != expected || valueOf(rows, "Save type") != "SRAM 32 KiB (SRAM_V113)" ||
        valueOf(rows, "Padding") != padding)
        fail(state, "image details disagree: CRC32 " + shown[0] + " vs " + expected[0] +
                        ", save type " + valueOf(rows, "Save type") + ", padding " +
                        valueOf(rows, "Padding"));
}

} // namespace

void registerDetailsBenchmarks() {
    auto* details = benchmark::RegisterBenchmark("image_details", imageDetailsWork)
                        ->UseManualTime()
                        ->Unit(benchmark::kMillisecond);
    if (smokeRun()) {
        details->Arg(64 * 1024);
        return;
    }
    details->Arg(4 << 20)->Arg(32 << 20);
}

} // namespace kelvo::bench
