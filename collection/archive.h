// The images inside a .zip archive, read through libzip without unpacking
// the archive and without ever writing it (it is opened read-only).
//
// A member's size and CRC32 come from the archive's directory. Inflating a
// member never goes past the size the directory states, and the CRC32 of
// what came out is held against the stored one, so a member that lies about
// either is reported damaged. An archive whose members overlap (the way
// small archives inflate to terabytes) or claim far more than any
// compression gives is refused as a whole before anything is inflated.
// Member names are only names: "../x.gba" or "/etc/x.gba" is shown, never
// used as a path.
#pragma once

#include "romheader/imagescan.h"

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kelvo {

// No GBA image is larger than 32 MiB; a member (or file) claiming more than
// this is not read at all.
inline constexpr std::uint64_t kMaxImageSize = std::uint64_t{64} << 20;
// The most image members one archive is read for; past it the archive gets
// one row saying so.
inline constexpr std::size_t kMaxArchiveImages = 100'000;

// Deflate gives at most about 1032 bytes per byte. An archive whose image
// members together claim more than this many times its size, and more than
// kBombFloor bytes, is refused (a zip bomb): below the floor reading all is
// cheap whatever the ratio.
inline constexpr std::uint64_t kMaxArchiveRatio = 1100;
inline constexpr std::uint64_t kBombFloor = std::uint64_t{256} << 20;

struct ArchiveMember {
    std::uint64_t index = 0;          // libzip's
    std::string name;                 // as the archive names it, in UTF-8 (libzip converts CP437)
    std::uint64_t size = 0;           // as the directory states it
    std::uint64_t compressedSize = 0; // as the directory states it
    std::uint32_t crc32 = 0;          // as the directory states it
    bool encrypted = false;
    // Another member before it has the same name: the hash cache tells
    // them apart by their position.
    bool repeatedName = false;
    // The name the hash cache keeps the member's scan under.
    [[nodiscard]] std::string cacheName() const;
};

// A member that cannot be read: FileError of kind Malformed whose reason is
// what the row's Header cell says ("damaged archive member", "encrypted
// archive member", "unsupported compression method", ...). Its path is the
// archive's.
// An archive that cannot be read as one is a FileError of kind Malformed
// whose reason starts "damaged archive" (or "zip bomb"); one that cannot be
// opened at all, of kind System.

class ZipArchive {
public:
    // Opens the archive at `path` read-only; `info` receives its stat from
    // the open descriptor. Throws FileError.
    [[nodiscard]] static ZipArchive open(const std::string& path, struct stat& info);
    // An archive in memory (`bytes` must outlive it); `path` names it in errors.
    [[nodiscard]] static ZipArchive fromBytes(std::span<const std::uint8_t> bytes,
                                              const std::string& path);

    ~ZipArchive();
    ZipArchive(ZipArchive&&) noexcept;
    ZipArchive& operator=(ZipArchive&&) noexcept;

    // The members named like images (.gba, .agb, .bin in any case; hidden
    // names and directories left out), in the archive's order, at most
    // kMaxArchiveImages of them.
    [[nodiscard]] const std::vector<ArchiveMember>& images() const;
    // How many image members were left out past kMaxArchiveImages.
    [[nodiscard]] std::size_t imagesLeftOut() const;
    // The archive's state now (fstat of the open file): whether it changed
    // while it was read. Empty for an archive in memory.
    [[nodiscard]] bool statNow(struct stat& info) const;

    // Called after each chunk with the uncompressed bytes done; false
    // stops the read with a FileError of kind Cancelled.
    using Progress = std::function<bool(std::uint64_t done)>;

    // Inflates the whole member into `hasher`, never more than its stated
    // size, and checks its length and its CRC32 against the directory's.
    void inflate(const ArchiveMember& member, ImageHasher& hasher,
                 const Progress& progress = {}) const;
    // The member's first bytes, up to a header's length (NUL past the end),
    // with how many there were.
    [[nodiscard]] std::uint64_t readHeader(const ArchiveMember& member, HeaderBytes& header) const;

private:
    struct Impl;
    explicit ZipArchive(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace kelvo
