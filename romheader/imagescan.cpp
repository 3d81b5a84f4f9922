// The save-type scan, and the whole-file pass over a file: read once,
// straight into the hasher's buffers (imagehasher.cpp), with progress.
#include "romheader/imageinfo.h"
#include "romheader/posixio.h"

#include <fcntl.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace kelvo {

namespace {

using Kind = FileError::Kind;

struct SaveKind {
    std::string_view id;
    std::string_view type;
};

// The ID strings the console's save libraries leave in an image (as GBATEK
// lists them), each followed by a three-digit library version in released
// games, with the memory each one drives.
constexpr SaveKind kSaveKinds[] = {
    {"EEPROM_V", "EEPROM (512 B or 8 KiB)"},
    {"SRAM_V", "SRAM 32 KiB"},
    {"SRAM_F_V", "FRAM 32 KiB"},
    {"FLASH_V", "Flash 64 KiB"},
    {"FLASH512_V", "Flash 64 KiB"},
    {"FLASH1M_V", "Flash 128 KiB"},
};

// An ID's first four letters as one aligned load reads them.
constexpr std::uint32_t firstWord(std::string_view id) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at = std::endian::native == std::endian::little ? 3 - i : i;
        word = word << 8 | static_cast<std::uint8_t>(id[at]);
    }
    return word;
}

constexpr std::uint32_t kEepr = firstWord("EEPR");
constexpr std::uint32_t kSram = firstWord("SRAM");
constexpr std::uint32_t kFlas = firstWord("FLAS");

bool isDigit(std::uint8_t byte) {
    return byte >= '0' && byte <= '9';
}

void matchIdAt(std::span<const std::uint8_t> rest, std::vector<std::string>& found) {
    for (const SaveKind& kind : kSaveKinds) {
        if (rest.size() < kind.id.size() ||
            std::memcmp(rest.data(), kind.id.data(), kind.id.size()) != 0)
            continue;
        std::size_t length = kind.id.size();
        if (rest.size() >= length + 3 &&
            std::all_of(rest.begin() + long(length), rest.begin() + long(length) + 3, isDigit))
            length += 3;
        std::string id(rest.begin(), rest.begin() + long(length));
        if (std::find(found.begin(), found.end(), id) == found.end())
            found.push_back(std::move(id));
        return; // the IDs differ by their sixth letter: one match at most
    }
}

} // namespace

std::size_t findSaveIds(std::span<const std::uint8_t> bytes, bool atEnd,
                        std::vector<std::string>& found) {
    const std::size_t size = bytes.size();
    // Unless this is the end, an ID starting in the last bytes may go on in
    // the next ones: those positions wait.
    const std::size_t limit = atEnd ? (size >= 4 ? size - 3 : 0)
                                    : (size >= kSaveIdMaxLength ? size - kSaveIdMaxLength + 1 : 0);
    std::size_t position = 0;
    for (; position < limit; position += 4) {
        // A filter on the first four letters keeps the loop to one load and
        // three compares per word.
        std::uint32_t word;
        std::memcpy(&word, bytes.data() + position, sizeof word);
        if (word == kEepr || word == kSram || word == kFlas) [[unlikely]]
            matchIdAt(bytes.subspan(position), found);
    }
    return atEnd ? size : position;
}

std::string_view saveTypeOf(std::string_view saveId) {
    for (const SaveKind& kind : kSaveKinds) {
        if (!saveId.starts_with(kind.id))
            continue;
        const std::string_view version = saveId.substr(kind.id.size());
        if (version.empty() ||
            (version.size() == 3 && std::all_of(version.begin(), version.end(), [](char c) {
                 return isDigit(static_cast<std::uint8_t>(c));
             })))
            return kind.type;
    }
    return {};
}

namespace {

// Tells `progress` how far the pass has come, in bytes of `total`; stops the
// pass when it says so.
class Checkpoint {
public:
    Checkpoint(const Progress& progress, const std::string& path, std::uint64_t total)
        : progress_(progress), path_(path), total_(total) {}

    void operator()(std::uint64_t done) const {
        if (progress_ && !progress_(std::min(done, total_), total_))
            throw FileError(Kind::Cancelled, "read", path_, "Cancelled");
    }

private:
    const Progress& progress_;
    const std::string& path_;
    std::uint64_t total_;
};

// Feeds `hasher` the file from its start to its end, straight into the
// hasher's buffers; progress hears after each whole chunk.
void readWhole(int fd, const std::string& path, ImageHasher& hasher, const Checkpoint& checkpoint) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    checkpoint(0);
    for (off_t offset = 0;;) {
        const std::span<std::uint8_t> buffer = hasher.buffer();
        const std::size_t n = posix::readAt(fd, buffer, offset, path);
        hasher.commit(n);
        offset += off_t(n);
        if (n < buffer.size()) // readAt stops short only at the end
            return;
        checkpoint(std::uint64_t(offset));
    }
}

} // namespace

ImageScan scanOpenImage(int fd, const std::string& path, std::uint64_t expectedSize,
                        const Progress& progress, HashThreads threads) {
    const Checkpoint checkpoint(progress, path, expectedSize);
    ImageHasher hasher(threads, path);
    readWhole(fd, path, hasher, checkpoint);
    ImageScan scan = hasher.finish();
    checkpoint(scan.size);
    return scan;
}

ImageScan scanImage(const std::string& path, const Progress& progress, HashThreads threads) {
    struct stat info {};
    const UniqueFd fd = posix::openRegular(path, O_RDONLY, info);
    return scanOpenImage(fd.get(), path, std::uint64_t(info.st_size), progress, threads);
}

std::vector<ImageScan> scanOpenImagePadded(int fd, const std::string& path,
                                           std::uint64_t expectedSize,
                                           std::span<const std::uint8_t> padBytes,
                                           std::uint64_t paddedSize, const Progress& progress,
                                           HashThreads threads) {
    const std::uint64_t expectedPadding = paddedSize > expectedSize ? paddedSize - expectedSize : 0;
    const Checkpoint checkpoint(progress, path, expectedSize + expectedPadding * padBytes.size());
    ImageHasher file(threads, path);
    readWhole(fd, path, file, checkpoint);
    const std::uint64_t padding = paddedSize > file.size() ? paddedSize - file.size() : 0;

    std::vector<ImageScan> scans;
    std::uint64_t done = file.size();
    for (std::size_t i = 0; i < padBytes.size(); ++i) {
        // The last one needs no copy of the file's state.
        ImageHasher padded = i + 1 < padBytes.size() ? file.fork() : std::move(file);
        for (std::uint64_t left = padding; left > 0;) {
            const std::uint64_t step = std::min<std::uint64_t>(left, kScanChunk);
            padded.feedRepeated(padBytes[i], step);
            left -= step;
            done += step;
            checkpoint(done);
        }
        scans.push_back(padded.finish());
    }
    checkpoint(done);
    return scans;
}

std::vector<ImageScan> scanImagePadded(const std::string& path,
                                       std::span<const std::uint8_t> padBytes,
                                       std::uint64_t paddedSize, const Progress& progress,
                                       HashThreads threads) {
    struct stat info {};
    const UniqueFd fd = posix::openRegular(path, O_RDONLY, info);
    return scanOpenImagePadded(fd.get(), path, std::uint64_t(info.st_size), padBytes, paddedSize,
                               progress, threads);
}

} // namespace kelvo
