#include "checksumlists/match.h"

#include "romheader/imageedit.h"

#include <zlib.h>

#include <algorithm>
#include <bit>

namespace kelvo {

namespace {

static_assert(sizeof(z_off_t) >= 8, "CRC arithmetic needs 64-bit lengths");

// Padding longer than this cannot be combined in zlib's signed lengths.
constexpr std::uint64_t kMaxPaddedSize = std::uint64_t{1} << 62;

// Whether every hash that both have agrees (and the size, where the entry
// has one); which ones did, or nothing.
std::optional<AgreedHashes> agreement(const ListRom& rom, const ImageHashes& image) {
    if (rom.size && *rom.size != image.size)
        return std::nullopt;
    AgreedHashes agreed;
    const auto check = [](const auto& listed, const auto& actual, bool& flag) {
        if (!listed || !actual)
            return true;
        flag = *listed == *actual;
        return flag;
    };
    const std::optional<std::uint32_t> crc = image.crc32;
    if (!check(rom.crc32, crc, agreed.crc32) || !check(rom.md5, image.md5, agreed.md5) ||
        !check(rom.sha1, image.sha1, agreed.sha1) ||
        !check(rom.sha256, image.sha256, agreed.sha256))
        return std::nullopt;
    if (agreed == AgreedHashes{})
        return std::nullopt; // nothing in common to compare
    return agreed;
}

ListStatus statusOf(DumpStatus status) {
    switch (status) {
    case DumpStatus::Verified:
        return ListStatus::Verified;
    case DumpStatus::BadDump:
        return ListStatus::BadDump;
    case DumpStatus::Good:
    case DumpStatus::NoDump:
        break;
    }
    return ListStatus::Good;
}

// Adds a match for each of the lists' candidates for `image` that agrees.
void collect(const ListSet& lists, const ImageHashes& probe, const ImageHashes& image,
             const std::optional<Padding>& padding, std::vector<ListMatch>& matches) {
    for (const auto& list : lists.lists()) {
        for (const std::uint32_t i : list->candidates(probe)) {
            const ListRom& rom = list->roms[i];
            if (const auto agreed = agreement(rom, image))
                matches.push_back({list, &rom, padding ? ListStatus::Trimmed : statusOf(rom.status),
                                   *agreed, padding});
        }
    }
}

std::string hexByte(std::uint8_t byte) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 15];
}

} // namespace

std::string_view statusText(ListStatus status) {
    switch (status) {
    case ListStatus::Verified:
        return "Verified";
    case ListStatus::Good:
        return "Good";
    case ListStatus::Trimmed:
        return "Trimmed";
    case ListStatus::BadDump:
        return "Bad dump";
    case ListStatus::NotListed:
        break;
    }
    return "Not in the loaded lists";
}

std::string agreedText(const AgreedHashes& agreed) {
    std::string text;
    const auto add = [&text](bool flag, const char* name) {
        if (flag)
            text += (text.empty() ? "" : ", ") + std::string(name);
    };
    add(agreed.crc32, "CRC32");
    add(agreed.md5, "MD5");
    add(agreed.sha1, "SHA-1");
    add(agreed.sha256, "SHA-256");
    return text;
}

std::vector<ListMatch> matchImage(const ListSet& lists, const ImageHashes& image,
                                  std::string_view fileName, const PaddedHasher& hashPadded) {
    std::vector<ListMatch> matches;
    collect(lists, image, image, std::nullopt, matches);

    const std::uint64_t padded = nextPowerOfTwo(image.size);
    if (matches.empty() && image.size > 0 && padded != image.size && padded != 0 &&
        padded <= kMaxPaddedSize) {
        for (const std::uint8_t byte : {std::uint8_t(0xFF), std::uint8_t(0x00)}) {
            const ImageHashes probe{
                padded, paddedCrc32(image.crc32, image.size, byte, padded), {}, {}, {}};
            const bool anyCandidate =
                std::any_of(lists.lists().begin(), lists.lists().end(),
                            [&](const auto& list) { return !list->candidates(probe).empty(); });
            if (!anyCandidate)
                continue;
            const std::optional<ImageHashes> hashed = hashPadded ? hashPadded(byte, padded) : probe;
            if (hashed && hashed->size == padded)
                collect(lists, probe, *hashed, Padding{byte, padded}, matches);
        }
    }

    std::stable_sort(matches.begin(), matches.end(), [fileName](const auto& a, const auto& b) {
        const bool aNamed = a.rom->name == fileName;
        const bool bNamed = b.rom->name == fileName;
        if (aNamed != bNamed)
            return aNamed;
        return a.status < b.status;
    });
    return matches;
}

std::string matchSummary(const std::vector<ListMatch>& matches) {
    if (matches.empty())
        return std::string(statusText(ListStatus::NotListed));
    std::string text = std::string(statusText(matches.front().status)) + ": " +
                       std::string(matches.front().rom->name);
    if (matches.size() > 1)
        text += " and " + std::to_string(matches.size() - 1) + " more";
    return text;
}

std::string matchDescription(const ListMatch& match) {
    std::string text = std::string(statusText(match.status)) + ": " + std::string(match.rom->name) +
                       " in " + match.list->label();
    if (match.padding)
        text += ", padded to " + std::to_string(match.padding->paddedSize) + " bytes with " +
                hexByte(match.padding->byte);
    return text + " (" + agreedText(match.agreed) + " agreed)";
}

std::uint32_t crc32OfRun(std::uint8_t byte, std::uint64_t length) {
    // Runs of 1, 2, 4, ... bytes, each the previous one twice, combined for
    // the bits set in `length`; every byte is the same, so order is no matter.
    uLong run = ::crc32(0L, &byte, 1);
    std::uint64_t runLength = 1;
    uLong crc = ::crc32(0L, Z_NULL, 0);
    for (; length != 0; length >>= 1) {
        if (length & 1)
            crc = ::crc32_combine(crc, run, z_off_t(runLength));
        if (length > 1) {
            run = ::crc32_combine(run, run, z_off_t(runLength));
            runLength *= 2;
        }
    }
    return std::uint32_t(crc);
}

std::uint32_t paddedCrc32(std::uint32_t crc, std::uint64_t size, std::uint8_t byte,
                          std::uint64_t paddedSize) {
    const std::uint64_t length = paddedSize - size;
    return std::uint32_t(::crc32_combine(crc, crc32OfRun(byte, length), z_off_t(length)));
}

} // namespace kelvo
