// What the hash cache's tests share: a scratch directory holding the cache,
// options that neither wait nor hold back fresh files, and a second, plain
// SQLite connection to look at or tamper with the file behind the cache's back.
#pragma once

#include "hashcache/hashcache.h"
#include "romheader/tests/scratch_dir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <string>

namespace kelvo::test {

// A connection of its own to a cache file, as another program would have.
class RawDatabase {
public:
    explicit RawDatabase(const std::string& file) {
        if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK)
            ADD_FAILURE() << "cannot open " << file << ": " << sqlite3_errmsg(db_);
        sqlite3_busy_timeout(db_, 5000);
    }
    ~RawDatabase() { sqlite3_close(db_); }
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    void exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK)
            ADD_FAILURE() << sql << ": " << (message ? message : "?");
        sqlite3_free(message);
    }
    [[nodiscard]] std::int64_t integer(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        std::int64_t value = -1;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            value = sqlite3_column_int64(statement, 0);
        else
            ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
        sqlite3_finalize(statement);
        return value;
    }

private:
    sqlite3* db_ = nullptr;
};

class CacheTest : public ScratchDirTest {
protected:
    [[nodiscard]] std::string cacheFile() const { return path("cache/hashes.sqlite3"); }

    // Fresh files are kept at once (the tests write them just before), and a
    // lock is given up on quickly.
    [[nodiscard]] static HashCache::Options fast() {
        HashCache::Options options;
        options.settleTime = std::chrono::nanoseconds(0);
        options.busyTimeout = std::chrono::milliseconds(100);
        return options;
    }

    [[nodiscard]] std::string writeImage(std::string_view name, std::size_t length = 4096) {
        const std::string image = path(name);
        writeFile(image, sampleImage(length));
        return image;
    }
};

} // namespace kelvo::test
