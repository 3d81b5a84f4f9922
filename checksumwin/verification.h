// One image held against the checksum lists: its whole-file pass through the
// hash cache, and every entry it matches, trimmed dumps included. The header
// window's List row, Image Details and the ROM List Generator's List Name
// column all come from here.
//
// Plain C++ (no Qt), so a worker thread can run it.
#pragma once

#include "checksumlists/match.h"
#include "hashcache/hashcache.h"
#include "romheader/imageedit.h"
#include "romheader/imageinfo.h"

#include <memory>
#include <string>
#include <vector>

namespace kelvo {

struct ImageVerdict {
    std::string path;
    // The file as it was before it was read: what Restore Padding may still
    // append to (see appendBytes), refused once the file changed.
    FileState state;
    ImageScan scan;
    std::shared_ptr<const ListSet> lists; // the lists it was held against
    std::vector<ListMatch> matches;       // best first; empty when none matched

    [[nodiscard]] const ListMatch* first() const {
        return matches.empty() ? nullptr : &matches.front();
    }
    // The padding Restore Padding appends: bytes and their value, when the
    // first match is a trimmed one.
    [[nodiscard]] std::optional<Padding> missingPadding() const;
};

// Reads (or finds in `cache`) the image at `path` and matches it against
// `lists` (none: no matching). A trimmed candidate is hashed padded, through
// the cache too. `progress` hears each chunk read and can stop the reading
// (FileError kind Cancelled); FileError also for a file that cannot be read
// or changed size while it was read.
[[nodiscard]] ImageVerdict verifyImage(const std::string& path,
                                       std::shared_ptr<const ListSet> lists, HashCache* cache,
                                       const Progress& progress = {},
                                       HashThreads threads = HashThreads::Parallel);

// Image Details' last rows: "List status" (a status word, or "No lists
// loaded" when `lists` holds none), "List name" and "List" (the list's name
// and version), the last two empty without a match.
[[nodiscard]] std::vector<DetailRow> listDetails(const ImageVerdict& verdict);

} // namespace kelvo
