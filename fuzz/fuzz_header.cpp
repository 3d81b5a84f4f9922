// Reading, decoding, detailing, retitling and repairing an image made of
// arbitrary bytes.
//
// Input: 12 bytes of a title to write, then the image. The image lives in a
// memory file reached through /proc, so each run touches no disk and the core
// opens it by path exactly as it opens an image the user clicked.
#include "fuzz/fuzz_support.h"
#include "romheader/imageinfo.h"
#include "romheader/romheader.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using namespace kelvo;
using fuzz::require;

using Bytes = std::vector<std::uint8_t>;

class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("kelvo-fuzz-image", MFD_CLOEXEC)) {
        require(fd_ >= 0, "memfd_create failed");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    [[nodiscard]] const std::string& path() const { return path_; }

    void replace(std::span<const std::uint8_t> bytes) const {
        require(::ftruncate(fd_, 0) == 0, "cannot empty the memory file");
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            require(n > 0, "cannot fill the memory file");
            done += static_cast<std::size_t>(n);
        }
    }

    [[nodiscard]] Bytes contents() const {
        struct stat info {};
        require(::fstat(fd_, &info) == 0, "cannot measure the memory file");
        Bytes bytes(static_cast<std::size_t>(info.st_size));
        require(::pread(fd_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
                "cannot read the memory file back");
        return bytes;
    }

private:
    int fd_;
    std::string path_;
};

// The header byte at `offset` as the console sees it; a short image reads NUL there.
std::uint8_t byteAt(const Bytes& image, std::size_t offset) {
    return offset < image.size() ? image[offset] : 0;
}

bool checkHolds(const Bytes& image) {
    // The check byte makes 0x19 plus the bytes 0xA0..0xBD a multiple of 256.
    unsigned sum = 0x19;
    for (std::size_t offset = kTitleOffset; offset <= kCheckOffset; ++offset)
        sum += byteAt(image, offset);
    return sum % 256 == 0;
}

void requireText(const std::string& text, const char* what) {
    require(fuzz::isWellFormedUtf8(text), what, text);
}

void checkRead(const Bytes& image, const RomHeader& header) {
    const auto fieldMatches = [&image](std::span<const std::uint8_t> field, std::size_t offset) {
        for (std::size_t i = 0; i < field.size(); ++i) {
            if (field[i] != byteAt(image, offset + i))
                return false;
        }
        return true;
    };
    require(fieldMatches(header.title, kTitleOffset), "title bytes differ from the image");
    require(header.gameType == byteAt(image, kGameTypeOffset), "game type differs");
    require(fieldMatches(header.cartId, kCartIdOffset), "cart ID differs");
    require(header.territory == byteAt(image, kTerritoryOffset), "territory differs");
    require(fieldMatches(header.makerCode, kMakerOffset), "maker code differs");
    require(header.storedCheck == byteAt(image, kCheckOffset), "stored check differs");
    require(header.checkValid() == checkHolds(image), "check verdict is wrong");

    require(header.sizeBytes == static_cast<std::int64_t>(image.size()), "size in bytes is wrong");
    const std::int64_t nearest = header.sizeMbit * 131072;
    require(std::max(nearest, header.sizeBytes) - std::min(nearest, header.sizeBytes) <= 65536,
            "size in megabits is not the nearest whole one");

    // Everything the window shows must be text it can display.
    const std::string title = visibleText(header.title);
    requireText(title, "title text is not UTF-8");
    const auto titleEnd = std::find(header.title.begin(), header.title.end(), 0);
    require(characterCount(title) == std::size_t(titleEnd - header.title.begin()),
            "title text does not hold one character per byte before the NUL", title);
    requireText(codeText(header.cartId), "cart ID text is not UTF-8");
    requireText(decodeMaker(header.makerCode), "maker text is not UTF-8");
    requireText(decodeGameType(header.gameType), "game type text is not UTF-8");
    requireText(decodeTerritory(header.territory), "territory text is not UTF-8");
    requireText(megabitText(header.sizeMbit), "megabit text is not UTF-8");
    requireText(megabyteText(header.sizeMbit, ","), "megabyte text is not UTF-8");
}

// Writing a title changes the 12 title bytes, and the check byte only when
// it was right before; it never changes the length or any other byte.
void checkWrite(const MemoryFile& file, const Bytes& image, const TitleBytes& title) {
    bool refusedShort = false;
    try {
        writeTitle(file.path(), title);
    } catch (const FileError& error) {
        require(error.kind() == FileError::Kind::TooShort, "writing a title failed", error.what());
        refusedShort = true;
    }
    require(refusedShort == (image.size() < std::size_t(kMinWritableLength)),
            "a title was written into an image shorter than a header, or refused in a whole one");

    Bytes expected = image;
    if (!refusedShort) {
        std::copy(title.begin(), title.end(), expected.begin() + kTitleOffset);
        if (checkHolds(image)) {
            unsigned sum = 0x19;
            for (std::size_t offset = kTitleOffset; offset < kCheckOffset; ++offset)
                sum += expected[offset];
            expected[kCheckOffset] = static_cast<std::uint8_t>(0x100 - sum % 256);
        }
    }
    require(file.contents() == expected, "the image on disk is not the old one with the new title");
}

// The whole-file pass reads every byte once: the header as it is, each
// save-type ID where the image holds it at an aligned offset, the padding
// run as counted from the end; every row is text the dialog can show.
void checkDetails(const MemoryFile& file, const Bytes& image) {
    ImageScan scan;
    try {
        scan = scanImage(file.path());
    } catch (const FileError& error) {
        fuzz::fail("the whole-file pass failed on a regular file", error.what());
    }
    require(scan.size == image.size(), "the pass did not cover the whole image");
    for (std::size_t i = 0; i < kHeaderLength; ++i)
        require(scan.header[i] == byteAt(image, i), "the pass's header differs from the image");
    for (const std::string& id : scan.saveIds) {
        bool aligned = false;
        for (std::size_t at = 0; !aligned && at + id.size() <= image.size(); at += 4)
            aligned = std::memcmp(image.data() + at, id.data(), id.size()) == 0;
        require(aligned, "a save-type ID is not in the image at an aligned offset", id);
        require(!saveTypeOf(id).empty(), "a save-type ID has no type", id);
    }
    std::size_t run = 0;
    while (run < image.size() && image[image.size() - 1 - run] == image.back())
        ++run;
    require(image.empty() || (scan.lastByte == image.back() && scan.trailingRun == run),
            "the padding run is miscounted");
    for (const DetailRow& row : imageDetails(file.path(), scan))
        requireText(row.value, "a detail row is not UTF-8");
}

// A repaired header passes the console's fixed-value and check-byte tests,
// and no other byte changes.
void checkRepair(const MemoryFile& file) {
    const Bytes before = file.contents();
    try {
        repairHeader(file.path(), planRepair(file.path()));
    } catch (const FileError& error) {
        // Not an image: neither the logo (its CRC32, by zlib) nor the fixed value.
        const bool tooShort = before.size() < std::size_t(kMinWritableLength);
        const bool notAnImage =
            !tooShort && ::crc32(0, before.data() + kLogoOffset, kLogoLength) != kLogoCrc32 &&
            before[kFixedValueOffset] != 0x96;
        require((error.kind() == FileError::Kind::TooShort && tooShort) ||
                    (error.kind() == FileError::Kind::NotAnImage && notAnImage),
                "repairing a header failed", error.what());
        require(file.contents() == before, "a refused repair changed the image");
        return;
    }
    const Bytes after = file.contents();
    require(after.size() == before.size(), "the repair changed the image's length");
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (i != kFixedValueOffset && i != kCheckOffset)
            require(after[i] == before[i], "the repair changed a byte it does not own");
    }
    require(after[kFixedValueOffset] == kFixedValue && checkHolds(after),
            "a repaired header still fails the console's checks");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const MemoryFile file;
    if (size < kTitleWidth)
        return -1; // not an input of this format; keep it out of the corpus
    TitleBytes title;
    std::copy_n(data, kTitleWidth, title.begin());
    const Bytes image(data + kTitleWidth, data + size);

    file.replace(image);
    RomHeader header;
    try {
        readHeader(file.path(), header);
    } catch (const FileError& error) {
        fuzz::fail("reading a regular file failed", error.what());
    }
    checkRead(image, header);

    std::array<std::uint8_t, kCheckedLength> checked{};
    for (std::size_t i = 0; i < checked.size(); ++i)
        checked[i] = byteAt(image, kTitleOffset + i);
    require(headerCheck(checked) == header.computedCheck,
            "computed check differs from headerCheck");

    checkDetails(file, image);
    checkWrite(file, image, title);
    checkRepair(file);
    return 0;
}
