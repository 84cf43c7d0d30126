#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// The few SQLite calls the history makes, as RAII types that throw SqliteError with SQLite's
// own message, so every caller reports one clear reason.
namespace trevane::sqlite {

// The text of a failure: SQLite's message, but "disk full" however SQLite names a full disk.
std::string FailureText(int code, int systemErrno, const std::string& message);

class SqliteError : public std::runtime_error {
  public:
    SqliteError(const std::string& what, int code) : std::runtime_error(what), code_(code) {}
    int Code() const { return code_; }
    // The file is not a database, or is damaged.
    bool NotADatabase() const;

  private:
    int code_;
};

class Statement;

class Database {
  public:
    enum class Mode { ReadOnly, ReadWrite, Create };
    // Opens the file, with a busy timeout so that a second writer waits for the first instead
    // of failing at once.
    Database(const std::string& path, Mode mode, int busyTimeoutMs);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void Execute(std::string_view sql);
    Statement Prepare(std::string_view sql);
    std::int64_t LastInsertId() const;

  private:
    sqlite3* db_ = nullptr;
};

class Statement {
  public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& operator=(Statement&&) = delete;

    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, double value);
    Statement& Bind(int index, std::string_view value);
    Statement& BindNull(int index);
    // True while there is a row to read.
    bool Step();
    // Ready to run again with new values.
    void Reset();

    std::int64_t Int(int column) const;
    double Real(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

  private:
    [[noreturn]] void Fail(int code) const;

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE on construction (waiting for other writers up to the busy timeout), ROLLBACK
// unless Commit() was called.
class Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

  private:
    Database& db_;
    bool done_ = false;
};

}  // namespace trevane::sqlite
