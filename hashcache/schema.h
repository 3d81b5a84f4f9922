// The cache's tables and the statements that read and write them. Private
// to the hashcache library.
#pragma once

#include "hashcache/hashcache.h"
#include "hashcache/sqlite.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kelvo::schema {

// Bumped whenever the tables change; a cache with another version is made
// again (older) or left alone (newer).
inline constexpr std::int64_t kVersion = 1;

inline constexpr const char* kLookup =
    "SELECT device, inode, size, modified_ns, changed_ns, image_size, crc32, md5, sha1, sha256, "
    "header, save_ids, last_byte, trailing_run, last_seen FROM scans "
    "WHERE path = ?1 AND member = ?2";

// The row kept for `key`'s path and member, if its file state is `key`'s and
// its figures are whole; `seen` gets its last-seen time.
[[nodiscard]] std::optional<ImageScan> readRow(sqlite::Statement& lookup, const CacheKey& key,
                                               std::int64_t& seen);

enum class Outcome {
    Ready,   // the tables were there, or were made in an empty file
    Rebuilt, // an older version's tables were replaced
    Newer,   // a newer version's: left alone, and this writer is not usable
};

// The one connection that writes, with its statements.
class Writer {
public:
    // Opens `file` (creating it) in WAL mode and makes this version's tables
    // unless they are there; `outcome` says which.
    Writer(const std::string& file, std::chrono::milliseconds busyTimeout, Outcome& outcome);

    void upsert(const CacheKey& key, const ImageScan& scan, std::int64_t seen);
    void renew(const CacheKey& key, std::int64_t seen);
    // Removes rows last seen before `seenBefore` (a bounded number per call,
    // so a cache left alone for months is cleared over several stores), then
    // the rows seen longest ago while there are more than `maxRows`.
    void prune(std::int64_t seenBefore, std::int64_t maxRows);

    sqlite::Connection connection;

private:
    sqlite::Statement upsert_;
    sqlite::Statement renew_;
    sqlite::Statement pruneOld_;
    sqlite::Statement countRows_;
    sqlite::Statement pruneOldest_;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(Writer& writer);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    sqlite::Connection& connection_;
    bool open_ = true;
};

} // namespace kelvo::schema
