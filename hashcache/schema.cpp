#include "hashcache/schema.h"

#include <algorithm>

namespace kelvo::schema {

namespace {

// One row per path and archive member: a file seen in a new state replaces
// its old row instead of leaving it to age out. Integers are SQLite's signed
// 64 bits; unsigned figures are stored as their bit patterns. `counts` keeps
// the number of rows so checking the cap never counts them.
const std::string kTables = R"(
CREATE TABLE scans (
    path BLOB NOT NULL,
    member BLOB NOT NULL,
    device INTEGER NOT NULL,
    inode INTEGER NOT NULL,
    size INTEGER NOT NULL,
    modified_ns INTEGER NOT NULL,
    changed_ns INTEGER NOT NULL,
    image_size INTEGER NOT NULL,
    crc32 INTEGER NOT NULL,
    md5 BLOB NOT NULL,
    sha1 BLOB NOT NULL,
    sha256 BLOB NOT NULL,
    header BLOB NOT NULL,
    save_ids TEXT NOT NULL,
    last_byte INTEGER NOT NULL,
    trailing_run INTEGER NOT NULL,
    last_seen INTEGER NOT NULL,
    PRIMARY KEY (path, member)
) WITHOUT ROWID;
CREATE INDEX scans_by_last_seen ON scans (last_seen);
CREATE TABLE counts (rows INTEGER NOT NULL);
INSERT INTO counts VALUES (0);
CREATE TRIGGER scans_added AFTER INSERT ON scans BEGIN UPDATE counts SET rows = rows + 1; END;
CREATE TRIGGER scans_removed AFTER DELETE ON scans BEGIN UPDATE counts SET rows = rows - 1; END;
PRAGMA user_version = )" + std::to_string(kVersion) +
                            ";";

constexpr const char* kUpsert =
    "INSERT INTO scans (path, member, device, inode, size, modified_ns, changed_ns, image_size, "
    "crc32, md5, sha1, sha256, header, save_ids, last_byte, trailing_run, last_seen) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17) "
    "ON CONFLICT (path, member) DO UPDATE SET device = excluded.device, "
    "inode = excluded.inode, size = excluded.size, modified_ns = excluded.modified_ns, "
    "changed_ns = excluded.changed_ns, image_size = excluded.image_size, "
    "crc32 = excluded.crc32, md5 = excluded.md5, sha1 = excluded.sha1, "
    "sha256 = excluded.sha256, header = excluded.header, save_ids = excluded.save_ids, "
    "last_byte = excluded.last_byte, trailing_run = excluded.trailing_run, "
    "last_seen = excluded.last_seen";
constexpr const char* kRenew =
    "UPDATE scans SET last_seen = ?3 WHERE path = ?1 AND member = ?2 AND last_seen < ?3";
constexpr const char* kPruneOld =
    "DELETE FROM scans WHERE (path, member) IN "
    "(SELECT path, member FROM scans WHERE last_seen < ?1 ORDER BY last_seen LIMIT 1000)";
constexpr const char* kCountRows = "SELECT rows FROM counts";
constexpr const char* kPruneOldest = "DELETE FROM scans WHERE (path, member) IN "
                                     "(SELECT path, member FROM scans ORDER BY last_seen LIMIT ?1)";

std::int64_t asStored(std::uint64_t value) {
    return static_cast<std::int64_t>(value);
}

template <std::size_t N>
bool copyBlob(std::span<const std::uint8_t> blob, std::array<std::uint8_t, N>& into) {
    if (blob.size() != N)
        return false;
    std::copy(blob.begin(), blob.end(), into.begin());
    return true;
}

void rollBack(sqlite::Connection& connection) {
    sqlite3_exec(connection.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

// Whatever tables an older version (or anything else) left in the file.
void dropAllTables(sqlite::Connection& connection) {
    std::vector<std::string> tables;
    sqlite::Statement list(connection.get(), "SELECT name FROM sqlite_schema WHERE type = 'table' "
                                             "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'");
    while (list.step())
        tables.emplace_back(list.text(0));
    for (const std::string& table : tables) {
        std::string quoted = "\"";
        for (const char c : table)
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        connection.exec(("DROP TABLE " + quoted + "\"").c_str());
    }
}

Outcome makeTables(sqlite::Connection& connection) {
    if (const std::int64_t version = connection.queryInteger("PRAGMA user_version");
        version >= kVersion)
        return version == kVersion ? Outcome::Ready : Outcome::Newer;
    connection.exec("BEGIN IMMEDIATE");
    try {
        // Another instance may have made them since the look above.
        const std::int64_t version = connection.queryInteger("PRAGMA user_version");
        Outcome outcome = version > kVersion ? Outcome::Newer : Outcome::Ready;
        if (version < kVersion) {
            if (connection.queryInteger("SELECT count(*) FROM sqlite_schema") > 0)
                outcome = Outcome::Rebuilt;
            dropAllTables(connection);
            connection.exec(kTables.c_str());
        }
        connection.exec("COMMIT");
        return outcome;
    } catch (...) {
        rollBack(connection);
        throw;
    }
}

} // namespace

std::optional<ImageScan> readRow(sqlite::Statement& lookup, const CacheKey& key,
                                 std::int64_t& seen) {
    const sqlite::Run run(lookup);
    lookup.bind(1, key.path);
    lookup.bind(2, key.member);
    if (!lookup.step())
        return std::nullopt;
    if (lookup.integer(0) != asStored(key.device) || lookup.integer(1) != asStored(key.inode) ||
        lookup.integer(2) != asStored(key.size) || lookup.integer(3) != key.modifiedNs ||
        lookup.integer(4) != key.changedNs)
        return std::nullopt;
    ImageScan scan;
    scan.size = std::uint64_t(lookup.integer(5));
    scan.crc32 = std::uint32_t(lookup.integer(6));
    if (!copyBlob(lookup.blob(7), scan.md5) || !copyBlob(lookup.blob(8), scan.sha1) ||
        !copyBlob(lookup.blob(9), scan.sha256) || !copyBlob(lookup.blob(10), scan.header))
        return std::nullopt; // not a row this program wrote: read the file instead
    const std::string_view ids = lookup.text(11);
    for (std::size_t start = 0; start < ids.size();) {
        const std::size_t end = std::min(ids.find(' ', start), ids.size());
        scan.saveIds.emplace_back(ids.substr(start, end - start));
        start = end + 1;
    }
    scan.lastByte = std::uint8_t(lookup.integer(12));
    scan.trailingRun = std::uint64_t(lookup.integer(13));
    seen = lookup.integer(14);
    return scan;
}

Writer::Writer(const std::string& file, std::chrono::milliseconds busyTimeout, Outcome& outcome)
    : connection(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, busyTimeout) {
    // WAL: lookups never wait for a store, and two instances share the file.
    // NORMAL syncs at checkpoints only: a crash may lose the last rows, which
    // only means hashing those files again.
    {
        sqlite::Statement mode(connection.get(), "PRAGMA journal_mode = WAL");
        if (!mode.step() || mode.text(0) != "wal")
            throw sqlite::Error(SQLITE_CANTOPEN, "no write-ahead log can be kept beside it");
    }
    connection.exec("PRAGMA synchronous = NORMAL");
    outcome = makeTables(connection);
    if (outcome == Outcome::Newer)
        return;
    upsert_ = sqlite::Statement(connection.get(), kUpsert);
    renew_ = sqlite::Statement(connection.get(), kRenew);
    pruneOld_ = sqlite::Statement(connection.get(), kPruneOld);
    countRows_ = sqlite::Statement(connection.get(), kCountRows);
    pruneOldest_ = sqlite::Statement(connection.get(), kPruneOldest);
}

void Writer::upsert(const CacheKey& key, const ImageScan& scan, std::int64_t seen) {
    std::string ids;
    for (const std::string& id : scan.saveIds)
        ids += (ids.empty() ? "" : " ") + id;
    const sqlite::Run run(upsert_);
    upsert_.bind(1, key.path);
    upsert_.bind(2, key.member);
    upsert_.bind(3, asStored(key.device));
    upsert_.bind(4, asStored(key.inode));
    upsert_.bind(5, asStored(key.size));
    upsert_.bind(6, key.modifiedNs);
    upsert_.bind(7, key.changedNs);
    upsert_.bind(8, asStored(scan.size));
    upsert_.bind(9, std::int64_t(scan.crc32));
    upsert_.bind(10, std::span<const std::uint8_t>(scan.md5));
    upsert_.bind(11, std::span<const std::uint8_t>(scan.sha1));
    upsert_.bind(12, std::span<const std::uint8_t>(scan.sha256));
    upsert_.bind(13, std::span<const std::uint8_t>(scan.header));
    upsert_.bindText(14, ids);
    upsert_.bind(15, std::int64_t(scan.lastByte));
    upsert_.bind(16, asStored(scan.trailingRun));
    upsert_.bind(17, seen);
    (void)upsert_.step();
}

void Writer::renew(const CacheKey& key, std::int64_t seen) {
    const sqlite::Run run(renew_);
    renew_.bind(1, key.path);
    renew_.bind(2, key.member);
    renew_.bind(3, seen);
    (void)renew_.step();
}

void Writer::prune(std::int64_t seenBefore, std::int64_t maxRows) {
    {
        const sqlite::Run run(pruneOld_);
        pruneOld_.bind(1, seenBefore);
        (void)pruneOld_.step();
    }
    std::int64_t rows = 0;
    {
        const sqlite::Run run(countRows_);
        rows = countRows_.step() ? countRows_.integer(0) : 0;
    }
    if (rows > maxRows) {
        // A twentieth below the cap, so the next stores do not prune again.
        const sqlite::Run run(pruneOldest_);
        pruneOldest_.bind(1, rows - maxRows + maxRows / 20);
        (void)pruneOldest_.step();
    }
}

Transaction::Transaction(Writer& writer) : connection_(writer.connection) {
    connection_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_)
        rollBack(connection_);
}

void Transaction::commit() {
    connection_.exec("COMMIT");
    open_ = false;
}

} // namespace kelvo::schema
