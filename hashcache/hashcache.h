// The hash cache: what one pass over an image found (its four hashes, its
// first 192 bytes, its save-type IDs and padding), kept in an SQLite database
// at $XDG_CACHE_HOME/kelvo-gba/hashes.sqlite3, so an image seen before is
// answered without reading it again.
//
// A row is keyed by the path's bytes and the file's device, inode, size and
// modification and change times in nanoseconds: a file changed in any way
// (written, truncated, replaced, touched, renamed over) is read again. The
// path is in the key because FAT and exFAT make inode numbers up at each
// mount. An archive's members are keyed by the archive's path and state plus
// the member's name.
//
// The cache never stands in the way: one that cannot be opened, is locked,
// unreadable, damaged, or from another version of the program leaves the
// program working without it (a damaged or outdated one is started afresh),
// and problem() says why in one sentence the windows show once.
//
// Plain C++ (no Qt) on SQLite's C API, so the command line shares it.
#pragma once

#include "romheader/imagescan.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kelvo {

// Which file (or archive member) a scan describes, and its state when read.
struct CacheKey {
    std::string path;   // the file's path, its bytes as given
    std::string member; // a member's name inside the archive at `path`; empty for a plain file
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;      // the file's (the archive's) size in bytes
    std::int64_t modifiedNs = 0; // st_mtim, nanoseconds since the epoch
    std::int64_t changedNs = 0;  // st_ctim, the same

    bool operator==(const CacheKey&) const = default;
};

// The key of the file at `path` as `info` (its stat) describes it; of the
// archive member `member` when one is named.
[[nodiscard]] CacheKey cacheKey(std::string path, const struct stat& info, std::string member = {});

// The key under which the scan of `key`'s file padded to `paddedSize` with
// `padByte` is kept (see scanImagePaddedCached).
[[nodiscard]] CacheKey paddedKey(const CacheKey& key, std::uint8_t padByte,
                                 std::uint64_t paddedSize);

// The cache a process keeps open for its lifetime (one per process is
// enough; two programs can share the file). Reading an archive's members
// through it goes like scanImageCached, with the archive's stat for the key:
//
//     fstat(archiveFd, &info);
//     const auto started = std::chrono::system_clock::now();
//     const CacheKey key = cacheKey(archivePath, info, memberName);
//     if (std::optional<ImageScan> kept = cache.lookup(key)) ... // done
//     ImageHasher hasher(HashThreads::One);  // inflate into hasher.buffer(), commit()
//     const ImageScan scan = hasher.finish();
//     fstat(archiveFd, &after);
//     cache.storeIfUnchanged(key, scan, after, started);
class HashCache {
public:
    struct Options {
        // How long an operation waits for another program's lock on the
        // cache before going on without it.
        std::chrono::milliseconds busyTimeout{1000};
        // Rows not looked up or stored for this long are removed.
        std::chrono::seconds maxAge{std::chrono::hours(24 * 90)};
        // Past this many rows the ones seen longest ago are removed.
        std::int64_t maxRows = 200'000;
        // A file changed less than this before it was read is not kept: on
        // a file system with coarse times (FAT keeps 2 s) a change right
        // after the read could leave every field of the key as it was.
        std::chrono::nanoseconds settleTime = std::chrono::seconds(2);
    };

    // $XDG_CACHE_HOME/kelvo-gba/hashes.sqlite3 (see xdg.h); empty when there
    // is no cache directory.
    [[nodiscard]] static std::string defaultFile();

    // Opens the cache at `file`, creating it and its directory as needed.
    // Never throws for the cache's sake: see active() and problem().
    explicit HashCache(const std::string& file = defaultFile());
    HashCache(const std::string& file, const Options& options);
    // Writes what is still pending. No other thread may use the cache by then.
    ~HashCache();
    HashCache(const HashCache&) = delete;
    HashCache& operator=(const HashCache&) = delete;

    [[nodiscard]] const std::string& file() const;
    [[nodiscard]] const Options& options() const;
    // Whether lookups can be answered (stores may still be refused: see problem()).
    [[nodiscard]] bool active() const;

    // Everything below may be called from several threads at once.

    // The scan kept for exactly this key, if any.
    [[nodiscard]] std::optional<ImageScan> lookup(const CacheKey& key);
    // Keeps `scan` for `key`, replacing the row of an earlier state of the
    // same path and member. Rows from several threads are written together,
    // one transaction for what gathered while the last one was written.
    void store(const CacheKey& key, const ImageScan& scan);
    // Stores `scan` only if the file was not changed while it was read:
    // `after` (a stat taken after the read) still gives `key`, and the file
    // was last changed at least settleTime before `readStarted`. Returns
    // whether it stored.
    bool storeIfUnchanged(const CacheKey& key, const ImageScan& scan, const struct stat& after,
                          std::chrono::system_clock::time_point readStarted);
    // Writes what is pending now (the last-seen times of rows looked up).
    void flush();

    // Why the cache is off, or was started afresh, in one sentence naming
    // the file; empty when all is well.
    [[nodiscard]] std::string problem() const;
    // The same, but only the first time it is asked for each problem: for a
    // status line that says it once.
    [[nodiscard]] std::optional<std::string> takeProblem();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The whole-file pass (see scanImage) through the cache: a file whose key the
// cache holds is answered from it after one stat; any other is opened once,
// scanned from that descriptor, and stored if it did not change meanwhile. A
// null `cache` reads the file every time. `progress` hears the end at once
// for a cached answer. Throws FileError as scanImage does; never for the cache.
[[nodiscard]] ImageScan scanImageCached(const std::string& path, HashCache* cache,
                                        const Progress& progress = {},
                                        HashThreads threads = HashThreads::Parallel);

// scanImagePadded through the cache, each pad byte's scan kept under its
// paddedKey: matching a trimmed dump a second time reads nothing.
[[nodiscard]] std::vector<ImageScan>
scanImagePaddedCached(const std::string& path, HashCache* cache,
                      std::span<const std::uint8_t> padBytes, std::uint64_t paddedSize,
                      const Progress& progress = {}, HashThreads threads = HashThreads::Parallel);

} // namespace kelvo
