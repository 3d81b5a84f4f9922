// A thin RAII layer over SQLite's C API: a connection, a prepared statement,
// and failures as one exception carrying SQLite's code and text. Private to
// the hashcache library.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvo::sqlite {

class Error : public std::runtime_error {
public:
    Error(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    // The primary result code (SQLITE_BUSY, SQLITE_CORRUPT, ...).
    [[nodiscard]] int code() const { return code_ & 0xFF; }

private:
    int code_;
};

class Statement {
public:
    Statement() = default;
    Statement(sqlite3* db, std::string_view sql);

    void bind(int index, std::span<const std::uint8_t> blob);
    void bind(int index, std::string_view blob); // bytes, stored as a BLOB
    void bind(int index, std::int64_t value);
    void bindText(int index, std::string_view text);

    // One step: true when it produced a row. Throws on failure.
    bool step();
    // Ready for the next bindings; what the last run left is dropped.
    void reset() { sqlite3_reset(statement_.get()); }

    [[nodiscard]] std::int64_t integer(int column) const {
        return sqlite3_column_int64(statement_.get(), column);
    }
    [[nodiscard]] std::span<const std::uint8_t> blob(int column) const;
    [[nodiscard]] std::string_view text(int column) const;

private:
    struct Finalize {
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

// Resets a statement when it goes, whichever way the run ends.
class Run {
public:
    explicit Run(Statement& statement) : statement_(statement) {}
    ~Run() { statement_.reset(); }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

private:
    Statement& statement_;
};

class Connection {
public:
    // Opens `file` with `flags` (SQLITE_OPEN_*; each connection is used by one
    // thread at a time, so SQLite's own locking is left out) and waits up to
    // `busyTimeout` for another connection's lock before failing with BUSY.
    Connection(const std::string& file, int flags, std::chrono::milliseconds busyTimeout);

    void exec(const char* sql);
    // The single integer a statement such as "PRAGMA user_version" returns.
    [[nodiscard]] std::int64_t queryInteger(const char* sql);
    [[nodiscard]] sqlite3* get() const { return db_.get(); }

private:
    struct Close {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    std::unique_ptr<sqlite3, Close> db_;
};

// Throws the connection's last error.
[[noreturn]] void fail(sqlite3* db, int code);

} // namespace kelvo::sqlite
