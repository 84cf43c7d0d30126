#pragma once

#include <filesystem>
#include <optional>
#include <string>

// A PostgreSQL server of the tests' own: initdb and pg_ctl in a scratch folder (as an
// unprivileged user when the tests run as root), listening on 127.0.0.1 on a free port, with
// password logins for its one account. POSIX only.
namespace trevane::testing {

class PostgresServer {
  public:
    // The executable's one server, started on first use and stopped when the tests end. Null
    // where the server's programs are missing (WhyMissing() says which).
    static PostgresServer* Shared();
    static std::string WhyMissing();

    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    int Port() const { return port_; }
    const std::string& User() const { return user_; }
    // The account's password, for the tests that look for it in what a program wrote.
    const std::string& Password() const { return password_; }
    // A password file holding the right password, and one holding a wrong one.
    const std::filesystem::path& PassFile() const { return passFile_; }
    const std::filesystem::path& WrongPassFile() const { return wrongPassFile_; }

    // "postgresql://USER@127.0.0.1:PORT/NAME", the database made new and empty.
    std::string NewDatabase();
    std::string Url(const std::string& database) const;

    // For the outage tests.
    void Stop();
    void Start();

  private:
    PostgresServer(const std::filesystem::path& bin, const std::filesystem::path& folder);
    std::string AsServerUser(const std::string& command) const;

    std::filesystem::path bin_;
    std::filesystem::path folder_;
    int port_ = 0;
    std::string user_ = "trevane_test";
    std::string password_;
    std::filesystem::path passFile_;
    std::filesystem::path wrongPassFile_;
    int databases_ = 0;
    bool running_ = false;
};

// Skips the test, loudly, where the server's programs are missing; fails it in CI.
#define TREVANE_REQUIRE_POSTGRES(server)                                      \
    do {                                                                      \
        if ((server) == nullptr) {                                            \
            if (::trevane::testing::InContinuousIntegration()) {              \
                FAIL() << "no PostgreSQL server: "                            \
                       << ::trevane::testing::PostgresServer::WhyMissing();   \
            }                                                                 \
            GTEST_SKIP() << "SKIPPED, no PostgreSQL server: "                 \
                         << ::trevane::testing::PostgresServer::WhyMissing(); \
        }                                                                     \
    } while (false)

bool InContinuousIntegration();

}  // namespace trevane::testing
