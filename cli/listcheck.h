// What the commands that hold images against checksum lists share: the
// lists (those the windows' configuration names, then those given with
// --dat, which add to them), and an image hashed and matched through the
// process's hash cache.
#pragma once

#include "checksumlists/match.h"
#include "cli/command.h"
#include "hashcache/hashcache.h"

#include <string>
#include <vector>

namespace kelvo::cli {

// --dat FILE, repeatable.
inline constexpr Option kDatOption{"dat", '\0', Takes::Value};

struct Lists {
    ListSet set;             // those that loaded, configured ones first
    bool configured = false; // any list was named: the list rows are shown
    // Failure when a list, or the file naming the configured ones, could
    // not be read (each said on standard error, naming it); the others are
    // used all the same.
    Status status = Status::Ok;
};

// Reads the lists configured in $XDG_CONFIG_HOME/kelvo-gba/checksum-lists
// and those `arguments` give with --dat, each file once.
[[nodiscard]] Lists loadLists(const Arguments& arguments);

// Whether an entry of the lists could be an image of `size` bytes: one
// with that size, with the next power of two (a trimmed dump), or with none.
// An image of any other size matches nothing, so it need not be read.
[[nodiscard]] bool anyEntryOfSize(const ListSet& lists, std::uint64_t size);

// scanImageCached through `cache`, whose problem, if it has one, is said
// once on standard error: the cache never fails a command.
[[nodiscard]] ImageScan scanThroughCache(const std::string& path, HashCache& cache);

// Every match of the image at `path`, whose whole-file pass is `scan`,
// best first (see matchImage). A trimmed dump's padded hashes are read
// through the cache too. Throws FileError when the file cannot be read again.
[[nodiscard]] std::vector<ListMatch> matchThroughCache(const ListSet& lists, const ImageScan& scan,
                                                       const std::string& path, HashCache& cache);

} // namespace kelvo::cli
