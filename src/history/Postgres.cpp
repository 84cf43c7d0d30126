#include "history/Postgres.h"

#if TREVANE_HAVE_LIBPQ

#include <libpq-fe.h>

#include <charconv>
#include <cstdlib>

#include "history/HistoryStore.h"

namespace trevane::pg {
namespace {

// A server that stops answering must not hold a test's end for long.
constexpr const char* kConnectTimeoutSeconds = "10";
constexpr const char* kTcpUserTimeoutMs = "30000";
constexpr const char* kStatementTimeout = "SET statement_timeout = 60000";

std::string OneLine(const char* message) {
    std::string text;
    for (const char* c = message == nullptr ? "" : message; *c != '\0'; ++c) {
        const bool blank = *c == '\n' || *c == '\t' || *c == '\r' || *c == ' ';
        if (!blank) {
            text += *c;
        } else if (!text.empty() && text.back() != ' ') {
            text += ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

}  // namespace

Result::~Result() {
    if (result_ != nullptr) {
        PQclear(result_);
    }
}

int Result::Rows() const {
    return PQntuples(result_);
}

bool Result::IsNull(int row, int column) const {
    return PQgetisnull(result_, row, column) != 0;
}

std::string Result::Text(int row, int column) const {
    return std::string(PQgetvalue(result_, row, column),
                       static_cast<std::size_t>(PQgetlength(result_, row, column)));
}

long long Result::Int(int row, int column) const {
    const std::string text = Text(row, column);
    long long value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

double Result::Real(int row, int column) const {
    const std::string text = Text(row, column);
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

Connection::Connection(const std::string& conninfo, const std::string& shown) : shown_(shown) {
    // Ours first: what the URL or service says wins over them.
    std::vector<const char*> keys;
    std::vector<const char*> values;
    if (std::getenv("PGCONNECT_TIMEOUT") == nullptr) {
        keys.push_back("connect_timeout");
        values.push_back(kConnectTimeoutSeconds);
    }
    keys.insert(keys.end(), {"tcp_user_timeout", "application_name", "dbname", nullptr});
    values.insert(values.end(), {kTcpUserTimeoutMs, "trevane", conninfo.c_str(), nullptr});
    conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (conn_ == nullptr) {
        throw history::HistoryError("the history server " + shown_ +
                                    " cannot be reached: " + "out of memory");
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string why = OneLine(PQerrorMessage(conn_));
        PQfinish(conn_);
        conn_ = nullptr;
        throw history::HistoryError("the history server " + shown_ + " cannot be reached: " + why);
    }
    // The server's notices ("already exists, skipping") are no business of the operator's.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    try {
        Execute(kStatementTimeout);
    } catch (...) {
        // A throwing constructor runs no destructor: the server may go between the two steps.
        PQfinish(conn_);
        conn_ = nullptr;
        throw;
    }
}

Connection::~Connection() {
    if (conn_ != nullptr) {
        PQfinish(conn_);
    }
}

void Connection::Fail(const std::string& what) const {
    throw history::HistoryError("the history server " + shown_ + " failed: " + what);
}

void Connection::Execute(const std::string& sql) {
    pg_result* raw = PQexec(conn_, sql.c_str());
    const Result result(raw);
    const ExecStatusType status = raw == nullptr ? PGRES_FATAL_ERROR : PQresultStatus(raw);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        Fail(OneLine(raw == nullptr ? PQerrorMessage(conn_) : PQresultErrorMessage(raw)));
    }
}

Result Connection::Query(const std::string& sql, const std::vector<Param>& params) {
    std::vector<const char*> values;
    for (const Param& param : params) {
        values.push_back(param ? param->c_str() : nullptr);
    }
    pg_result* raw = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                  values.data(), nullptr, nullptr, 0);
    Result result(raw);
    const ExecStatusType status = raw == nullptr ? PGRES_FATAL_ERROR : PQresultStatus(raw);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        Fail(OneLine(raw == nullptr ? PQerrorMessage(conn_) : PQresultErrorMessage(raw)));
    }
    return result;
}

std::string NumberText(double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return std::string(text, ec == std::errc{} ? end : text);
}

std::string NumberText(long long value) {
    return std::to_string(value);
}

}  // namespace trevane::pg

#endif
