#include "support/ChildProcess.h"

#ifndef _WIN32

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace trevane::testing {
namespace {

using std::chrono::milliseconds;

class SpawnActions {
  public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

// Appends what `fd` has to `text`; false once the writer closed it.
bool Drain(int fd, std::string& text) {
    char buffer[4096];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
        return true;
    }
    return count < 0 && errno == EINTR;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& workingFolder) {
    std::vector<std::string> words = arguments;
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe for " + program);
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        throw std::runtime_error("cannot make a pipe for " + program);
    }
    int result = 0;
    {
        SpawnActions actions;
        posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(actions.get(), out[1], 1);
        posix_spawn_file_actions_adddup2(actions.get(), err[1], 2);
        if (!workingFolder.empty()) {
            posix_spawn_file_actions_addchdir_np(actions.get(), workingFolder.c_str());
        }
        // The child starts with the default signal dispositions whatever the test runner set.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t all;
        sigfillset(&all);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        result =
            posix_spawn(&pid_, program.c_str(), actions.get(), &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
    }
    close(out[1]);
    close(err[1]);
    if (result != 0) {
        close(out[0]);
        close(err[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + program);
    }
    reader_ = std::jthread([this, outFd = out[0], errFd = err[0]] { ReadOutputs(outFd, errFd); });
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    // The reader ends when the killed child's pipes close.
}

void ChildProcess::ReadOutputs(int outFd, int errFd) {
    pollfd entries[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(entries, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (pollfd& entry : entries) {
            if (entry.fd < 0 || entry.revents == 0) {
                continue;
            }
            std::lock_guard lock(mutex_);
            if (!Drain(entry.fd, entry.fd == outFd ? out_ : err_)) {
                close(entry.fd);
                entry.fd = -1;
                --open;
            }
            changed_.notify_all();
        }
    }
    for (const pollfd& entry : entries) {
        if (entry.fd >= 0) {
            close(entry.fd);
        }
    }
    std::lock_guard lock(mutex_);
    outputsClosed_ = true;
    changed_.notify_all();
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, signal);
    }
}

bool ChildProcess::WaitForOutput(std::string_view text, milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return out_.find(text) != std::string::npos || outputsClosed_;
    }) && out_.find(text) != std::string::npos;
}

std::string ChildProcess::Output() const {
    std::lock_guard lock(mutex_);
    return out_;
}

std::string ChildProcess::Errors() const {
    std::lock_guard lock(mutex_);
    return err_;
}

int ChildProcess::WaitForExit(milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reaped_) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    // Everything the child wrote is in once its pipes closed.
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [this] { return outputsClosed_; });
    return exitCode_;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::filesystem::path& workingFolder, milliseconds timeout) {
    ChildProcess child(program, arguments, workingFolder);
    ProgramRun run;
    run.exitCode = child.WaitForExit(timeout);
    if (!child.Exited()) {
        child.Signal(SIGKILL);
        child.WaitForExit(std::chrono::seconds(10));
    }
    run.out = child.Output();
    run.err = child.Errors();
    return run;
}

}  // namespace trevane::testing

#endif
