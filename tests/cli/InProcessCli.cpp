#include "InProcessCli.h"

#include <mutex>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <stdexcept>
#include <thread>

#include "cli/CommandLine.h"
#include "protocol/MotionClient.h"

namespace trevane::testing {
namespace {

// What a run prints, kept whole: the verb's thread and the test's thread both write to it, as
// they do to the program's standard streams.
class LockedText final : public std::streambuf {
  public:
    std::string Text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            const char ch = traits_type::to_char_type(c);
            xsputn(&ch, 1);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        std::lock_guard lock(mutex_);
        text_.append(text, static_cast<std::size_t>(count));
        return count;
    }

  private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace

InterruptingClock::InterruptingClock() : time_(std::chrono::system_clock::now()) {}

void InterruptingClock::SetControl(std::shared_ptr<cli::RunControl> control) {
    std::lock_guard lock(mutex_);
    control_ = std::move(control);
}

void InterruptingClock::InterruptAt(Duration elapsed, int signal) {
    std::lock_guard lock(mutex_);
    at_ = elapsed;
    signal_ = signal;
}

bool InterruptingClock::SleepFor(Duration duration, std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!at_ || time_.Elapsed() + duration < *at_) {
        lock.unlock();
        return time_.SleepFor(duration, stop);
    }
    time_.Advance(*at_ - std::min(*at_, time_.Elapsed()));
    at_.reset();
    control_->Arrive(signal_);
    lock.unlock();
    // The run's watcher turns the interrupt into the stop within its poll.
    for (int wait = 0; wait < 10000 && !stop.stop_requested(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return !stop.stop_requested();
}

bool InterruptingClock::SleepUntil(TimePoint deadline, std::stop_token stop) {
    const TimePoint now = Now();
    return SleepFor(deadline > now ? deadline - now : Duration::zero(), std::move(stop));
}

InProcessCli::InProcessCli() : clock_(std::make_shared<InterruptingClock>()) {}

std::shared_ptr<sim::Machine> InProcessCli::AddController(std::uint16_t port,
                                                          sim::InProcessOptions options) {
    auto machine = std::make_shared<sim::Machine>(clock_);
    served_[port] = {machine, options};
    return machine;
}

CliRun InProcessCli::Run(const std::string& arguments) {
    std::istringstream in(arguments);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return Run(words);
}

CliRun InProcessCli::Run(const std::vector<std::string>& arguments) {
    LockedText outText;
    LockedText errText;
    std::ostream out(&outText);
    std::ostream err(&errText);
    cli::CliEnvironment environment(out, err);
    environment.clock = clock_;
    environment.outIsTerminal = outIsTerminal;
    environment.errIsTerminal = outIsTerminal;
    environment.historyVariable = historyVariable;
    // A run of its own, as each start of the program is.
    environment.control = std::make_shared<cli::RunControl>();
    clock_->SetControl(environment.control);
    const std::map<std::uint16_t, Served> served = served_;
    environment.openSessions = [served](std::uint16_t port, int) -> SessionFactory {
        const auto found = served.find(port);
        if (found == served.end()) {
            return [port](const std::string& address) -> std::shared_ptr<MotionClient> {
                throw MotionError("connect to " + address + ":" + std::to_string(port) +
                                  " refused: nothing listens there");
            };
        }
        const Served controller = found->second;
        return [controller, port](const std::string& address) {
            return sim::MakeInProcessClient(controller.machine, address, port, controller.options);
        };
    };
    CliRun run;
    run.exitCode = cli::RunCommandLine(arguments, environment);
    run.out = outText.Text();
    run.err = errText.Text();
    return run;
}

}  // namespace trevane::testing
