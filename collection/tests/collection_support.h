// What the collection tests share: images with a real header built in code,
// zip archives written byte by byte (so a test can make them lie about
// sizes, checksums, names and encryption), a tree in a scratch directory,
// and a whole check run to its end with its rows in the walk's order.
//
// Expected hashes in the tests come from Python's zlib and hashlib over
// the same bytes, pasted in.
#pragma once

#include "collection/check.h"
#include "romheader/tests/scratch_dir.h"

#include <optional>
#include <string>
#include <vector>

namespace kelvo::test {

// `size` bytes of (i * 7 + 3 + seed * 11) mod 256, under a header with the
// console's boot logo, the fixed value, `fields` (title, game code, maker;
// NUL-padded) and a valid check byte.
Bytes image(std::size_t size, std::uint8_t seed = 0,
            std::string_view fields = "SAMPLE TITLEAXYJ01");

struct ZipEntry {
    ZipEntry(std::string entryName, Bytes entryData, bool deflate = true)
        : name(std::move(entryName)), data(std::move(entryData)), deflated(deflate) {}
    // What a lying or hostile archive states.
    ZipEntry& storedCrc(std::uint32_t crc) { return crc32 = crc, *this; }
    ZipEntry& stated(std::uint32_t size) { return statedSize = size, *this; }
    ZipEntry& encrypt() { return encrypted = true, *this; }
    ZipEntry& sharing(std::size_t entry) { return dataOf = entry, *this; }

    std::string name;
    Bytes data;
    bool deflated = true;
    std::optional<std::uint32_t> crc32;      // the stored CRC32 when it should lie
    std::optional<std::uint32_t> statedSize; // the stated size when it should lie
    bool encrypted = false;                  // the flag only: the data stay plain
    std::optional<std::size_t> dataOf;       // an earlier entry's data (an overlap)
};

// A zip archive of `entries`, written as PKWARE's note describes it.
Bytes makeZip(const std::vector<ZipEntry>& entries);

// "file|header cell|crc32|sha1", then "|list status|list name" when lists
// were loaded: a row as the tests compare it.
std::string describe(const CheckRow& row);

class CollectionTest : public ScratchDirTest {
protected:
    void makeDirectory(std::string_view name) const;
    void write(std::string_view name, const Bytes& bytes) const;
    void link(std::string_view name, std::string_view target) const;

    // Runs a check to its end and returns its rows in the walk's order.
    static std::vector<CheckRow> checkAll(CheckOptions options, const ListSet& lists = {},
                                          HashCache* cache = nullptr);
};

} // namespace kelvo::test
