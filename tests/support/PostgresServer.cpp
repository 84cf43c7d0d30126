#include "support/PostgresServer.h"

#ifndef _WIN32

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "history/Postgres.h"

namespace trevane::testing {
namespace {

namespace fs = std::filesystem;

// The user the server runs as when the tests run as root: initdb refuses root.
constexpr const char* kServerUser = "nobody";

std::optional<fs::path> FindBin() {
    if (!TREVANE_HAVE_LIBPQ) {
        return std::nullopt;
    }
    if (const char* bin = std::getenv("TREVANE_PG_BIN"); bin != nullptr) {
        return fs::path(bin);
    }
    std::error_code error;
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
        if (fs::exists(entry.path() / "bin" / "initdb") &&
            fs::exists(entry.path() / "bin" / "pg_ctl")) {
            found.push_back(entry.path() / "bin");
        }
    }
    if (found.empty()) {
        return std::nullopt;
    }
    std::sort(found.begin(), found.end());
    return found.back();
}

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no free loopback port for the PostgreSQL server");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

std::string RandomWord(const char* prefix) {
    std::random_device entropy;
    std::string word = prefix;
    for (int i = 0; i < 16; ++i) {
        word += "abcdefghijklmnopqrstuvwxyz0123456789"[entropy() % 36];
    }
    return word;
}

void Run(const std::string& command, const char* what, const fs::path& log) {
    if (std::system(command.c_str()) != 0) {
        std::ifstream in(log);
        throw std::runtime_error(std::string("PostgreSQL server: ") + what + " failed: " + command +
                                 "\n" + std::string(std::istreambuf_iterator<char>(in), {}));
    }
}

void WritePassFile(const fs::path& path, int port, const std::string& user,
                   const std::string& password) {
    std::ofstream(path) << "127.0.0.1:" << port << ":*:" << user << ":" << password << "\n";
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

std::unique_ptr<PostgresServer>& Instance() {
    static std::unique_ptr<PostgresServer> server;
    return server;
}

class StopAtTheEnd : public ::testing::Environment {
  public:
    void TearDown() override;
};

}  // namespace

bool InContinuousIntegration() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

std::string PostgresServer::WhyMissing() {
    if (!TREVANE_HAVE_LIBPQ) {
        return "this build has no libpq";
    }
    return FindBin() ? ""
                     : "initdb and pg_ctl not found under /usr/lib/postgresql/*/bin "
                       "(Debian's postgresql-15; scripts/setup.sh installs it)";
}

PostgresServer* PostgresServer::Shared() {
    std::unique_ptr<PostgresServer>& server = Instance();
    if (!server) {
        const std::optional<fs::path> bin = FindBin();
        if (!bin) {
            return nullptr;
        }
        char folder[] = "/tmp/trevane-pg-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            throw std::runtime_error("PostgreSQL server: no scratch folder");
        }
        // One attempt: a server that cannot start fails every test with the same reason.
        static std::string failed;
        if (!failed.empty()) {
            throw std::runtime_error(failed);
        }
        try {
            server.reset(new PostgresServer(*bin, folder));
        } catch (const std::exception& e) {
            failed = e.what();
            std::error_code ignored;
            fs::remove_all(folder, ignored);
            throw;
        }
        ::testing::AddGlobalTestEnvironment(new StopAtTheEnd);
    }
    return server.get();
}

void StopAtTheEnd::TearDown() {
    Instance().reset();
}

PostgresServer::PostgresServer(const fs::path& bin, const fs::path& folder)
    : bin_(bin), folder_(folder), port_(FreeLoopbackPort()), password_(RandomWord("pw-")) {
    fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const fs::path data = folder_ / "data";
    const fs::path pwfile = folder_ / "pwfile";
    fs::create_directory(data);
    std::ofstream(pwfile) << password_ << "\n";
    if (::geteuid() == 0) {
        const passwd* user = ::getpwnam(kServerUser);
        if (user == nullptr || ::chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0 ||
            ::chown(data.c_str(), user->pw_uid, user->pw_gid) != 0 ||
            ::chown(pwfile.c_str(), user->pw_uid, user->pw_gid) != 0) {
            throw std::runtime_error("PostgreSQL server: cannot hand the folder to nobody");
        }
    }
    fs::permissions(data, fs::perms::owner_all);
    Run(AsServerUser("'" + (bin_ / "initdb").string() + "' -D '" + data.string() + "' -U " + user_ +
                     " --pwfile='" + pwfile.string() +
                     "' --auth=scram-sha-256 -E UTF8 --no-locale --no-sync > '" +
                     (folder_ / "initdb.log").string() + "' 2>&1"),
        "initdb", folder_ / "initdb.log");
    passFile_ = folder_ / "pgpass";
    wrongPassFile_ = folder_ / "pgpass-wrong";
    WritePassFile(passFile_, port_, user_, password_);
    WritePassFile(wrongPassFile_, port_, user_, "not-" + password_);
    // Every libpq connection of the tests finds its password there, as a technician's would.
    ::setenv("PGPASSFILE", passFile_.c_str(), 1);
    Start();
}

PostgresServer::~PostgresServer() {
    try {
        Stop();
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::string PostgresServer::AsServerUser(const std::string& command) const {
    if (::geteuid() != 0) {
        return command;
    }
    std::string quoted;
    for (const char c : command) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return std::string("runuser -u ") + kServerUser + " -- sh -c '" + quoted + "'";
}

void PostgresServer::Start() {
    if (running_) {
        return;
    }
    // Loopback only, and no Unix socket: nothing outside the test can reach it.
    Run(AsServerUser("'" + (bin_ / "pg_ctl").string() + "' -D '" + (folder_ / "data").string() +
                     "' -l '" + (folder_ / "data" / "server.log").string() +
                     "' -w -t 60 -o \"-c "
                     "listen_addresses=127.0.0.1 -p " +
                     std::to_string(port_) +
                     " -c unix_socket_directories= -c fsync=off -c max_connections=60\" start "
                     "> /dev/null"),
        "pg_ctl start", folder_ / "data" / "server.log");
    running_ = true;
}

void PostgresServer::Stop() {
    if (!running_) {
        return;
    }
    Run(AsServerUser("'" + (bin_ / "pg_ctl").string() + "' -D '" + (folder_ / "data").string() +
                     "' -w -t 60 -m fast stop > /dev/null"),
        "pg_ctl stop", folder_ / "data" / "server.log");
    running_ = false;
}

std::string PostgresServer::Url(const std::string& database) const {
    return "postgresql://" + user_ + "@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PostgresServer::NewDatabase() {
    const std::string name = "history_" + std::to_string(++databases_);
#if TREVANE_HAVE_LIBPQ
    pg::Connection admin(Url("postgres"), "the tests' server");
    admin.Execute("DROP DATABASE IF EXISTS " + name);
    admin.Execute("CREATE DATABASE " + name);
#endif
    return Url(name);
}

}  // namespace trevane::testing

#endif
