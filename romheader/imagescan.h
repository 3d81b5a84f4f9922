// The whole-file pass: one read of an image feeding CRC32, MD5, SHA-1,
// SHA-256, the save-type scan and the padding count from the same buffers.
//
// ImageHasher is the pass itself, fed by whoever has the bytes: a file (the
// functions below), an archive member being inflated, or padding that is
// hashed but never written. It hashes on the calling thread, or with MD5 (the
// slowest of the four) and CRC32 on a second thread beside the rest.
//
// Plain C++ like the rest of the core.
#pragma once

#include "romheader/romheader.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kelvo {

using Md5Digest = std::array<std::uint8_t, 16>;
using Sha1Digest = std::array<std::uint8_t, 20>;
using Sha256Digest = std::array<std::uint8_t, 32>;

// The longest save-type ID: "FLASH512_V" and three digits.
inline constexpr std::size_t kSaveIdMaxLength = 13;

// What one pass over an image finds.
struct ImageScan {
    HeaderBytes header{};    // bytes 0x00..0xBF; NUL past a short image's end
    std::uint64_t size = 0;  // bytes read, which every figure below covers
    std::uint32_t crc32 = 0; // zlib's (the usual CRC-32)
    Md5Digest md5{};
    Sha1Digest sha1{};
    Sha256Digest sha256{};
    std::vector<std::string> saveIds; // "SRAM_V113", each once, first found first
    std::uint8_t lastByte = 0;        // meaningful when size > 0
    std::uint64_t trailingRun = 0;    // bytes equal to lastByte that end the file

    bool operator==(const ImageScan&) const = default;
};

// Files are read, and parallel work handed over, in chunks of this size.
inline constexpr std::size_t kScanChunk = 256 * 1024;

enum class HashThreads {
    // Everything on the calling thread: for callers that already keep every
    // core busy (a pool hashing one file per core).
    One,
    // MD5 and CRC32 on a second thread while the calling thread reads and
    // computes the rest, up to eight chunks ahead. The thread starts only
    // once more than one chunk arrives, so a small image costs none.
    Parallel,
};

// One pass over an image's bytes, fed in order. Not for use by several
// threads at once; with HashThreads::Parallel it runs a thread of its own.
// Throws FileError (operation "hash", the `path` given) if OpenSSL fails.
class ImageHasher {
public:
    explicit ImageHasher(HashThreads threads = HashThreads::One, std::string path = {});
    ~ImageHasher();
    ImageHasher(ImageHasher&&) noexcept;
    ImageHasher& operator=(ImageHasher&&) noexcept;
    ImageHasher(const ImageHasher&) = delete;
    ImageHasher& operator=(const ImageHasher&) = delete;

    // The copy-free way in: fill the first bytes of buffer() (kScanChunk
    // long), then commit() how many. With HashThreads::Parallel each buffer
    // is one of a small ring and buffer() waits while all are being hashed.
    [[nodiscard]] std::span<std::uint8_t> buffer();
    void commit(std::size_t length);

    // The same for bytes held elsewhere (copied through buffer() when
    // parallel), and for `count` bytes of `byte`.
    void feed(std::span<const std::uint8_t> bytes);
    void feedRepeated(std::uint8_t byte, std::uint64_t count);

    // Bytes fed so far.
    [[nodiscard]] std::uint64_t size() const;

    // A second pass that goes on from everything fed so far (as if both had
    // been fed the same bytes), with the same threads: one read of a file can
    // then be finished several ways.
    [[nodiscard]] ImageHasher fork();

    // The figures for everything fed. Call once; the hasher is spent after.
    [[nodiscard]] ImageScan finish();

private:
    struct Impl;
    explicit ImageHasher(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Reads the image at `path` once and scans it. `progress` hears after each
// chunk; returning false stops with a FileError of kind Cancelled.
[[nodiscard]] ImageScan scanImage(const std::string& path, const Progress& progress = {},
                                  HashThreads threads = HashThreads::Parallel);

// The same for a file already open as `fd` (`path` names it in errors), read
// from its start to its end; `expectedSize` is what progress counts toward.
[[nodiscard]] ImageScan scanOpenImage(int fd, const std::string& path, std::uint64_t expectedSize,
                                      const Progress& progress = {},
                                      HashThreads threads = HashThreads::Parallel);

// The image at `path` as it would be padded to `paddedSize` with each of
// `padBytes` (a trimmed dump restored to its cartridge's size), one scan per
// pad byte in that order. The file is read and hashed once; only the padding
// is hashed once per pad byte, and nothing is written. A file already
// `paddedSize` long or longer gets no padding.
[[nodiscard]] std::vector<ImageScan> scanImagePadded(const std::string& path,
                                                     std::span<const std::uint8_t> padBytes,
                                                     std::uint64_t paddedSize,
                                                     const Progress& progress = {},
                                                     HashThreads threads = HashThreads::Parallel);
// The same for a file already open as `fd`.
[[nodiscard]] std::vector<ImageScan>
scanOpenImagePadded(int fd, const std::string& path, std::uint64_t expectedSize,
                    std::span<const std::uint8_t> padBytes, std::uint64_t paddedSize,
                    const Progress& progress = {}, HashThreads threads = HashThreads::Parallel);

} // namespace kelvo
