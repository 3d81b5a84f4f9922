#include "hashcache/sqlite.h"

#include <system_error>

namespace kelvo::sqlite {

void fail(sqlite3* db, int code) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    // Where a system call failed, the system's reason says most.
    const int primary = code & 0xFF;
    if (db && (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR || primary == SQLITE_FULL))
        if (const int error = sqlite3_system_errno(db); error != 0)
            message += ": " + std::generic_category().message(error);
    throw Error(code, message);
}

Statement::Statement(sqlite3* db, std::string_view sql) {
    sqlite3_stmt* statement = nullptr;
    const int code = sqlite3_prepare_v3(db, sql.data(), int(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                        &statement, nullptr);
    statement_.reset(statement);
    if (code != SQLITE_OK)
        fail(db, code);
}

void Statement::bind(int index, std::span<const std::uint8_t> blob) {
    // Bound for one run only: the caller's bytes outlive it.
    const int code =
        sqlite3_bind_blob64(statement_.get(), index, blob.data(), blob.size(), SQLITE_STATIC);
    if (code != SQLITE_OK)
        fail(sqlite3_db_handle(statement_.get()), code);
}

void Statement::bind(int index, std::string_view blob) {
    bind(index, std::span(reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()));
}

void Statement::bind(int index, std::int64_t value) {
    const int code = sqlite3_bind_int64(statement_.get(), index, value);
    if (code != SQLITE_OK)
        fail(sqlite3_db_handle(statement_.get()), code);
}

void Statement::bindText(int index, std::string_view text) {
    const int code = sqlite3_bind_text64(statement_.get(), index, text.data(), text.size(),
                                         SQLITE_STATIC, SQLITE_UTF8);
    if (code != SQLITE_OK)
        fail(sqlite3_db_handle(statement_.get()), code);
}

bool Statement::step() {
    const int code = sqlite3_step(statement_.get());
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        return false;
    fail(sqlite3_db_handle(statement_.get()), code);
}

std::span<const std::uint8_t> Statement::blob(int column) const {
    const void* data = sqlite3_column_blob(statement_.get(), column);
    const int size = sqlite3_column_bytes(statement_.get(), column);
    return {static_cast<const std::uint8_t*>(data), data ? std::size_t(size) : 0};
}

std::string_view Statement::text(int column) const {
    const unsigned char* data = sqlite3_column_text(statement_.get(), column);
    const int size = sqlite3_column_bytes(statement_.get(), column);
    return {reinterpret_cast<const char*>(data), data ? std::size_t(size) : 0};
}

Connection::Connection(const std::string& file, int flags, std::chrono::milliseconds busyTimeout) {
    sqlite3* db = nullptr;
    const int code = sqlite3_open_v2(file.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(db);
    if (code != SQLITE_OK)
        fail(db, code);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, int(busyTimeout.count()));
}

void Connection::exec(const char* sql) {
    const int code = sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        fail(db_.get(), code);
}

std::int64_t Connection::queryInteger(const char* sql) {
    Statement statement(db_.get(), sql);
    return statement.step() ? statement.integer(0) : 0;
}

} // namespace kelvo::sqlite
