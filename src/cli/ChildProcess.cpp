#include "cli/ChildProcess.h"

#include <stdexcept>

#ifndef _WIN32
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#ifdef __linux__
#include <sys/prctl.h>
#endif

extern char** environ;
#endif

namespace trevane::cli {

#ifdef _WIN32

bool ChildProcessesAvailable() {
    return false;
}
std::string OwnProgramPath() {
    return {};
}
void TakeHeldInterrupts() {}
Child::Child(const ChildSpec& spec) {
    throw std::runtime_error("cannot start '" + spec.program + "': not available on Windows");
}
Child::~Child() = default;
std::optional<int> Child::Poll() {
    return status_;
}
void Child::Signal(int) {}
void Child::Freeze() {}
void Child::Kill() {}

#else

namespace {

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// Runs in the forked child, where only async-signal-safe calls are allowed: every string was
// made before the fork. The interrupt signals arrive blocked and stay so through execve, which
// keeps them pending until the new program takes them; none of them may reach it ignored.
// Never returns.
[[noreturn]] void BecomeChild(const ChildSpec& spec, char* const* argv, char* const* envp,
                              pid_t parent) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::signal(signal, SIG_DFL);
    }
    const sigset_t held = InterruptSignals();
    sigprocmask(SIG_SETMASK, &held, nullptr);
    setpgid(0, 0);
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
    if (getppid() != parent) {
        _exit(127);  // the parent died before the death signal was armed
    }
    const int in = open("/dev/null", O_RDONLY);
    if (in < 0 || spec.outputFd < 0 || spec.errorFd < 0 || dup2(in, 0) < 0 ||
        dup2(spec.outputFd, 1) < 0 || dup2(spec.errorFd, 2) < 0 ||
        chdir(spec.folder.c_str()) != 0) {
        _exit(127);
    }
    execve(spec.program.c_str(), argv, envp);
    _exit(127);
}

// Holds the interrupt signals on the calling thread while it lives: the child is forked with
// them blocked, so none can reach it before it has handlers, nor run this program's handler in
// the child's copy, where it would be lost at execve.
class HeldInterrupts {
  public:
    HeldInterrupts() {
        const sigset_t held = InterruptSignals();
        pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~HeldInterrupts() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    HeldInterrupts(const HeldInterrupts&) = delete;
    HeldInterrupts& operator=(const HeldInterrupts&) = delete;

  private:
    sigset_t previous_;
};

}  // namespace

bool ChildProcessesAvailable() {
    return true;
}

void TakeHeldInterrupts() {
    const sigset_t held = InterruptSignals();
    pthread_sigmask(SIG_UNBLOCK, &held, nullptr);
}

std::string OwnProgramPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

Child::Child(const ChildSpec& spec) {
    std::vector<std::string> args{spec.program};
    args.insert(args.end(), spec.arguments.begin(), spec.arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> env = spec.environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const std::string& added : spec.environment) {
            replaced = replaced || added.starts_with(name);
        }
        if (!replaced) {
            env.emplace_back(text);
        }
    }
    std::vector<char*> envp;
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    const HeldInterrupts held;
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("cannot start '" + spec.program + "' in '" + spec.folder +
                                 "': " + std::strerror(errno));
    }
    if (pid == 0) {
        BecomeChild(spec, argv.data(), envp.data(), parent);
    }
    pid_ = pid;
}

Child::~Child() {
    if (!Poll()) {
        Kill();
    }
}

std::optional<int> Child::Poll() {
    if (status_ || pid_ < 0) {
        return status_;
    }
    int status = 0;
    const pid_t ended = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
    if (ended == static_cast<pid_t>(pid_)) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (ended < 0 && errno != EINTR) {
        status_ = 127;  // reaped by someone else: nothing is left to wait for
    }
    return status_;
}

void Child::Signal(int signal) {
    if (!Poll()) {
        kill(static_cast<pid_t>(pid_), signal);
    }
}

void Child::Freeze() {
    if (!Poll()) {
        kill(static_cast<pid_t>(pid_), SIGSTOP);
    }
}

void Child::Kill() {
    if (Poll()) {
        return;
    }
    kill(static_cast<pid_t>(pid_), SIGKILL);
    int status = 0;
    while (waitpid(static_cast<pid_t>(pid_), &status, 0) < 0 && errno == EINTR) {
    }
    status_ = 128 + SIGKILL;
}

#endif

}  // namespace trevane::cli
