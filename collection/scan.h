// Checking what the walk found, one file at a time: an image file, or every
// image inside an archive, into rows. The check's workers run this; a row
// is also checked again this way after a repair.
//
// Each image is answered from the hash cache when the cache holds its file
// in the state the walk found it (one stat, taken by the walk); otherwise it
// is read once, hashed on the calling thread, matched against the lists and
// stored in the cache, unless it changed while it was read.
#pragma once

#include "collection/row.h"
#include "collection/walk.h"

#include "checksumlists/match.h"
#include "hashcache/hashcache.h"

#include <functional>

namespace kelvo {

struct ScanSettings {
    const ListSet* lists = nullptr; // none: no matching
    HashCache* cache = nullptr;     // none: every image is read
    // Archive members are matched by their stated size and CRC32 alone,
    // their SHA-1 and save type "not computed" unless the cache has them.
    bool trustArchiveChecksums = false;
    // Asked after each chunk read; true stops with a FileError of kind
    // Cancelled, and the rows of the file are not made.
    std::function<bool()> stopped;
    // Hears the bytes of the file (of an archive, compressed bytes) as
    // they are read or answered from the cache.
    std::function<void(std::uint64_t bytes)> bytesRead;
};

// Checks `item` and hands each of its rows to `row` (an archive's as each
// member is done). Throws only FileError of kind Cancelled: every other
// failure is a row.
void checkItem(const WalkItem& item, const ScanSettings& settings,
               const std::function<void(CheckRow&&)>& row);

// The image `row` names (a plain file, or one member of an archive) checked
// again as it is now, keeping the row's place (root, order, relative path).
[[nodiscard]] CheckRow checkAgain(const CheckRow& row, const ScanSettings& settings);

} // namespace kelvo
