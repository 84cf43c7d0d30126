#include "support/Terminal.h"

#ifndef _WIN32

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace trevane::testing {

std::string RunOnTerminal(const std::string& program, const std::vector<std::string>& arguments,
                          const std::filesystem::path& workingFolder) {
    int master = -1;
    int slave = -1;
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        ADD_FAILURE() << "openpty: " << std::strerror(errno);
        return {};
    }
    std::vector<std::string> words = {program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(slave, 1);
        dup2(slave, 2);
        close(master);
        close(slave);
        if (!workingFolder.empty() && chdir(workingFolder.c_str()) != 0) {
            _exit(127);
        }
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    close(slave);
    std::string out;
    // Until the child's end closes the terminal (EIO), within a bound.
    pollfd ready{master, POLLIN, 0};
    char buffer[4096];
    while (pid > 0 && poll(&ready, 1, 10'000) > 0) {
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(got));
    }
    close(master);
    if (pid > 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    } else {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(errno);
    }
    return out;
}

}  // namespace trevane::testing

#endif
