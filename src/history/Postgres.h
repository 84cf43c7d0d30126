#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The few libpq calls the server store makes, as RAII types that throw HistoryError with the
// server's own reason on one line. Built only where libpq is.
struct pg_conn;
struct pg_result;

namespace trevane::pg {

using Param = std::optional<std::string>;  // nullopt is SQL NULL

class Result {
  public:
    explicit Result(pg_result* result) : result_(result) {}
    ~Result();
    Result(Result&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    Result& operator=(Result&&) = delete;

    int Rows() const;
    bool IsNull(int row, int column) const;
    std::string Text(int row, int column) const;
    long long Int(int row, int column) const;
    double Real(int row, int column) const;

  private:
    pg_result* result_;
};

class Connection {
  public:
    // Connects within a bounded time; `shown` names the server in every message.
    Connection(const std::string& conninfo, const std::string& shown);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // One or more statements without parameters.
    void Execute(const std::string& sql);
    Result Query(const std::string& sql, const std::vector<Param>& params = {});

  private:
    [[noreturn]] void Fail(const std::string& what) const;

    pg_conn* conn_ = nullptr;
    std::string shown_;
};

// Numbers in the "C" form whatever the process locale is.
std::string NumberText(double value);
std::string NumberText(long long value);

}  // namespace trevane::pg
