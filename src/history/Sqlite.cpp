#include "history/Sqlite.h"

#include <sqlite3.h>

#include <cerrno>
#include <utility>

namespace trevane::sqlite {
namespace {

std::string Reason(sqlite3* db, int code, const char* message) {
    return FailureText(code, db != nullptr ? sqlite3_system_errno(db) : 0,
                       message != nullptr ? message : sqlite3_errstr(code));
}

[[noreturn]] void Throw(sqlite3* db, int code, std::string_view doing) {
    const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw SqliteError(std::string(doing) + ": " + Reason(db, code, message), code);
}

}  // namespace

std::string FailureText(int code, int systemErrno, const std::string& message) {
    // SQLite reports a full disk met while writing its journal as an I/O error.
    if ((code & 0xFF) == SQLITE_FULL || systemErrno == ENOSPC) {
        return "disk full";
    }
    return message;
}

bool SqliteError::NotADatabase() const {
    const int primary = code_ & 0xFF;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

Database::Database(const std::string& path, Mode mode, int busyTimeoutMs) {
    const int access = mode == Mode::ReadOnly    ? SQLITE_OPEN_READONLY
                       : mode == Mode::ReadWrite ? SQLITE_OPEN_READWRITE
                                                 : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int flags = access | SQLITE_OPEN_NOMUTEX;
    const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (code != SQLITE_OK) {
        const std::string message =
            Reason(db_, code, db_ != nullptr ? sqlite3_errmsg(db_) : nullptr);
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqliteError("cannot open '" + path + "': " + message, code);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
}

Database::~Database() {
    sqlite3_close_v2(db_);
}

void Database::Execute(std::string_view sql) {
    char* error = nullptr;
    const int code = sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &error);
    if (code != SQLITE_OK) {
        const std::string message = Reason(db_, code, error);
        sqlite3_free(error);
        throw SqliteError(message, code);
    }
}

Statement Database::Prepare(std::string_view sql) {
    return Statement(db_, sql);
}

std::int64_t Database::LastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    const int code =
        sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    if (code != SQLITE_OK) {
        Throw(db, code, "preparing a query");
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}

void Statement::Fail(int code) const {
    Throw(db_, code, "running a query");
}

Statement& Statement::Bind(int index, std::int64_t value) {
    if (const int code = sqlite3_bind_int64(stmt_, index, value); code != SQLITE_OK) {
        Fail(code);
    }
    return *this;
}

Statement& Statement::Bind(int index, double value) {
    if (const int code = sqlite3_bind_double(stmt_, index, value); code != SQLITE_OK) {
        Fail(code);
    }
    return *this;
}

Statement& Statement::Bind(int index, std::string_view value) {
    const int code = sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
    if (code != SQLITE_OK) {
        Fail(code);
    }
    return *this;
}

Statement& Statement::BindNull(int index) {
    if (const int code = sqlite3_bind_null(stmt_, index); code != SQLITE_OK) {
        Fail(code);
    }
    return *this;
}

bool Statement::Step() {
    const int code = sqlite3_step(stmt_);
    if (code == SQLITE_ROW) {
        return true;
    }
    if (code == SQLITE_DONE) {
        return false;
    }
    Fail(code);
}

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double Statement::Real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

std::string Statement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text != nullptr
               ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
               : std::string();
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.Execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.Execute("ROLLBACK");
        } catch (const SqliteError&) {
            // Nothing was committed either way.
        }
    }
}

void Transaction::Commit() {
    db_.Execute("COMMIT");
    done_ = true;
}

}  // namespace trevane::sqlite
