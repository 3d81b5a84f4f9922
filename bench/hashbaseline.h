// The bare baseline of every hashing benchmark: one read of a file feeding
// the same buffer to zlib's CRC32 and OpenSSL's MD5, SHA-1 and SHA-256, one
// after another on one thread; and the image those benchmarks hash.
#pragma once

#include "romheader/imagescan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::bench {

struct Digests {
    std::uint32_t crc = 0;
    Md5Digest md5{};
    Sha1Digest sha1{};
    Sha256Digest sha256{};

    [[nodiscard]] bool sameAs(const ImageScan& scan) const {
        return crc == scan.crc32 && md5 == scan.md5 && sha1 == scan.sha1 && sha256 == scan.sha256;
    }
    // CRC32, MD5, SHA-1 and SHA-256 in hex, as Image Details shows them.
    [[nodiscard]] std::vector<std::string> texts() const;
};

// The fewest steps to the four digests: read, hash, nothing else.
[[nodiscard]] Digests readAndHash(const std::string& path, std::vector<std::uint8_t>& buffer);

// Half varied bytes (xorshift), half 0xFF padding, as a cartridge dump looks;
// a save-type ID (SRAM_V113) a quarter of the way in.
void makeDumpLikeImage(const std::string& path, std::size_t size);

} // namespace kelvo::bench
