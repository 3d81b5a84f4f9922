// "Image Details": the dialog's whole-file work (one read feeding CRC32, MD5,
// SHA-1, SHA-256, the save-type scan and the padding count, then its rows)
// against one read of the same file feeding the same buffer to the same four
// hash functions.
#include "benchsupport.h"

#include "romheader/imageinfo.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <vector>

namespace kelvo::bench {

namespace {

// Half varied bytes (xorshift), half 0xFF padding, as a cartridge dump looks;
// a save-type ID a quarter of the way in.
void makeImage(const std::string& path, std::size_t size) {
    std::vector<std::uint8_t> bytes(size, 0xFF);
    std::uint32_t state = 0x12345678;
    for (std::size_t i = 0; i < size / 2; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = std::uint8_t(state);
    }
    const std::string_view id = "SRAM_V113";
    std::copy(id.begin(), id.end(), bytes.begin() + long(size / 4));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(size));
}

struct Digests {
    std::uint32_t crc = 0;
    std::array<std::array<std::uint8_t, EVP_MAX_MD_SIZE>, 3> md{};

    // The same texts the dialog shows, for comparing.
    [[nodiscard]] std::vector<std::string> texts() const {
        const std::array<std::uint8_t, 4> crcBytes{std::uint8_t(crc >> 24), std::uint8_t(crc >> 16),
                                                   std::uint8_t(crc >> 8), std::uint8_t(crc)};
        return {hexText(crcBytes), hexText(std::span(md[0]).first(16)),
                hexText(std::span(md[1]).first(20)), hexText(std::span(md[2]).first(32))};
    }
};

// The fewest steps to the same four digests: read, hash, nothing else.
Digests readAndHash(const std::string& path, std::vector<std::uint8_t>& buffer) {
    Digests digests;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const EVP_MD* types[] = {EVP_md5(), EVP_sha1(), EVP_sha256()};
    std::array<EVP_MD_CTX*, 3> contexts{};
    for (std::size_t i = 0; i < contexts.size(); ++i) {
        contexts[i] = EVP_MD_CTX_new();
        EVP_DigestInit_ex(contexts[i], types[i], nullptr);
    }
    uLong crc = ::crc32(0L, Z_NULL, 0);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        crc = ::crc32(crc, buffer.data(), uInt(n));
        for (EVP_MD_CTX* context : contexts)
            EVP_DigestUpdate(context, buffer.data(), std::size_t(n));
    }
    ::close(fd);
    digests.crc = std::uint32_t(crc);
    for (std::size_t i = 0; i < contexts.size(); ++i) {
        EVP_DigestFinal_ex(contexts[i], digests.md[i].data(), nullptr);
        EVP_MD_CTX_free(contexts[i]);
    }
    return digests;
}

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
    makeImage(path, size);

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
