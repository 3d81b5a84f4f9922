// One pass over a whole image: each chunk read feeds CRC32 (zlib), MD5,
// SHA-1 and SHA-256 (OpenSSL's EVP), the save-type scan and the padding count.
#include "romheader/imageinfo.h"
#include "romheader/posixio.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <fcntl.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

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

struct DigestDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// One OpenSSL digest fed chunk by chunk.
class Digest {
public:
    Digest(const EVP_MD* type, const char* name, const std::string& path)
        : context_(EVP_MD_CTX_new()), name_(name), path_(path) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), type, nullptr) != 1)
            fail();
    }
    void update(std::span<const std::uint8_t> bytes) {
        if (EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) != 1)
            fail();
    }
    template <std::size_t N> void finish(std::array<std::uint8_t, N>& digest) {
        unsigned length = 0;
        if (EVP_MD_CTX_get_size(context_.get()) != int(N) ||
            EVP_DigestFinal_ex(context_.get(), digest.data(), &length) != 1 || length != N)
            fail();
    }

private:
    [[noreturn]] void fail() const {
        throw FileError(Kind::System, "hash", path_,
                        std::string("OpenSSL cannot compute ") + name_);
    }

    std::unique_ptr<EVP_MD_CTX, DigestDeleter> context_;
    const char* name_;
    const std::string& path_;
};

// The run of identical bytes that ends what was fed so far.
void trackTrailingRun(std::span<const std::uint8_t> bytes, ImageScan& scan) {
    if (bytes.empty())
        return;
    const std::uint8_t last = bytes.back();
    // Eight bytes at a time: padding is often half the image.
    const std::uint64_t eight = 0x0101010101010101u * last;
    std::size_t end = bytes.size();
    for (std::uint64_t word; end >= 8; end -= 8) {
        std::memcpy(&word, bytes.data() + end - 8, sizeof word);
        if (word != eight)
            break;
    }
    while (end > 0 && bytes[end - 1] == last)
        --end;
    const auto run = static_cast<std::uint64_t>(bytes.size() - end);
    const bool continues = run == bytes.size() && scan.size > 0 && scan.lastByte == last;
    scan.trailingRun = continues ? scan.trailingRun + run : run;
    scan.lastByte = last;
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

ImageScan scanImage(const std::string& path, const Progress& progress) {
    struct stat info {};
    const UniqueFd fd = posix::openRegular(path, O_RDONLY, info);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const auto total = static_cast<std::uint64_t>(info.st_size);
    const auto checkpoint = [&](std::uint64_t done) {
        if (progress && !progress(std::min(done, total), total))
            throw FileError(Kind::Cancelled, "read", path, "Cancelled");
    };

    ImageScan scan;
    Digest md5(EVP_md5(), "MD5", path);
    Digest sha1(EVP_sha1(), "SHA-1", path);
    Digest sha256(EVP_sha256(), "SHA-256", path);
    uLong crc = ::crc32(0L, Z_NULL, 0);

    // The bytes a save-type ID may still continue from go in front of the
    // next chunk; every other consumer sees each byte once.
    constexpr std::size_t kCarrySpace = 16;
    std::vector<std::uint8_t> buffer(kCarrySpace + kScanChunk);
    std::size_t carried = 0;
    checkpoint(0);
    for (;;) {
        const std::span<std::uint8_t> fresh(buffer.data() + carried, kScanChunk);
        const std::size_t n = posix::readAt(fd.get(), fresh, off_t(scan.size), path);
        const auto chunk = fresh.first(n);
        if (scan.size < kHeaderLength)
            std::copy_n(chunk.begin(), std::min(n, kHeaderLength - std::size_t(scan.size)),
                        scan.header.begin() + long(scan.size));
        crc = ::crc32(crc, chunk.data(), uInt(n));
        md5.update(chunk);
        sha1.update(chunk);
        sha256.update(chunk);
        trackTrailingRun(chunk, scan);
        scan.size += n;

        const bool atEnd = n < kScanChunk; // readAt stops short only at the end
        const std::span<const std::uint8_t> pending(buffer.data(), carried + n);
        const std::size_t examined = findSaveIds(pending, atEnd, scan.saveIds);
        if (atEnd)
            break;
        carried = pending.size() - examined;
        std::copy(pending.begin() + long(examined), pending.end(), buffer.begin());
        checkpoint(scan.size);
    }
    scan.crc32 = static_cast<std::uint32_t>(crc);
    md5.finish(scan.md5);
    sha1.finish(scan.sha1);
    sha256.finish(scan.sha256);
    checkpoint(scan.size);
    return scan;
}

} // namespace kelvo
