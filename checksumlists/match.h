// Holding an image against the loaded checksum lists: which entries it
// matches, how (which hashes agreed, or only once padded to a power of two),
// and the words the program shows for the result.
#pragma once

#include "checksumlists/checksumlist.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// The lists in the order the user configured them. Holds only lists that
// never change, so one set may be read from several threads at once; a
// change of configuration makes a new set.
class ListSet {
public:
    ListSet() = default;
    // Null pointers (lists that failed to load) are left out.
    explicit ListSet(std::vector<std::shared_ptr<const ChecksumList>> lists)
        : lists_(std::move(lists)) {
        std::erase(lists_, nullptr);
    }

    [[nodiscard]] const std::vector<std::shared_ptr<const ChecksumList>>& lists() const {
        return lists_;
    }
    [[nodiscard]] bool empty() const { return lists_.empty(); }

private:
    std::vector<std::shared_ptr<const ChecksumList>> lists_;
};

// A match's standing, best first: matches are ordered by it.
enum class ListStatus : std::uint8_t {
    Verified,  // the entry is marked verified
    Good,      // listed without a flag
    Trimmed,   // matched only with padding appended; whatever the entry says
    BadDump,   // the entry is marked baddump
    NotListed, // no entry matched
};

// "Verified", "Good", "Trimmed", "Bad dump", "Not in the loaded lists".
[[nodiscard]] std::string_view statusText(ListStatus status);

// Which hashes the image and the entry both have, all of which agreed.
struct AgreedHashes {
    bool crc32 = false;
    bool md5 = false;
    bool sha1 = false;
    bool sha256 = false;
    bool operator==(const AgreedHashes&) const = default;
};

// "CRC32, MD5, SHA-1, SHA-256", those that agreed in that order.
[[nodiscard]] std::string agreedText(const AgreedHashes& agreed);

// The padding a trimmed dump matched with.
struct Padding {
    std::uint8_t byte = 0xFF;     // 0xFF or 0x00
    std::uint64_t paddedSize = 0; // the next power of two
    bool operator==(const Padding&) const = default;
};

struct ListMatch {
    std::shared_ptr<const ChecksumList> list; // keeps `rom` alive
    const ListRom* rom = nullptr;             // the entry, inside list->roms
    ListStatus status = ListStatus::Good;
    AgreedHashes agreed;
    std::optional<Padding> padding; // set for a Trimmed match only
};

// What matching needs of an image's whole-file pass (see scanImage).
[[nodiscard]] inline ImageHashes hashesOf(const ImageScan& scan) {
    return {scan.size, scan.crc32, scan.md5, scan.sha1, scan.sha256};
}

// Hashes the image as if `paddedSize - size` bytes of `padByte` followed it,
// never writing them; nothing when it cannot (the file changed, was
// cancelled). The matcher calls it only when a padded CRC32, computed
// without reading the file, matches an entry.
using PaddedHasher =
    std::function<std::optional<ImageHashes>(std::uint8_t padByte, std::uint64_t paddedSize)>;

// Every entry of every list that the image matches, best first. A match
// needs the size (where the entry has one) and every hash that both the
// entry and the image have to agree; entries are found by size and CRC32,
// or by the other hashes for entries without a CRC32.
//
// When nothing matches and the size is not a power of two, the image is
// tried padded to the next power of two with 0xFF, then with 0x00: entries
// with that size and the padded CRC32 are candidates, and `hashPadded` gives
// their other hashes (without it, the CRC32 alone decides, as for an image
// with only a size and a CRC32). An entry without a CRC32 is never found
// this way: telling would mean reading every trimmed image again.
//
// Order: an entry named `fileName` first, then by status (Verified, Good,
// Trimmed, Bad dump), then by the lists' order and each list's own.
[[nodiscard]] std::vector<ListMatch> matchImage(const ListSet& lists, const ImageHashes& image,
                                                std::string_view fileName,
                                                const PaddedHasher& hashPadded = {});

// The header window's List row: "Verified: <name>", "Trimmed: <name> and 2
// more", or "Not in the loaded lists".
[[nodiscard]] std::string matchSummary(const std::vector<ListMatch>& matches);
// One match for a tooltip: "Verified: <name> in <list label> (CRC32, SHA-1
// agree)"; a trimmed one adds "padded to N bytes with 0xFF".
[[nodiscard]] std::string matchDescription(const ListMatch& match);

// ---------------------------------------------------------------------------
// CRC-32 arithmetic (zlib's polynomial) for padding that is never read.

// The CRC32 of `length` bytes all equal to `byte`, in O(log length) steps.
[[nodiscard]] std::uint32_t crc32OfRun(std::uint8_t byte, std::uint64_t length);
// The CRC32 of an image of `size` bytes whose CRC32 is `crc`, followed by
// `paddedSize - size` bytes of `byte`.
[[nodiscard]] std::uint32_t paddedCrc32(std::uint32_t crc, std::uint64_t size, std::uint8_t byte,
                                        std::uint64_t paddedSize);

} // namespace kelvo
