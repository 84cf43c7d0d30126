#include "AutotestHarness.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>

#include "autotest/AxisMotionTest.h"
#include "autotest/ConfigurationChecks.h"
#include "autotest/TestLog.h"
#include "autotest/TestRunner.h"
#include "common/StopControl.h"
#include "common/StopWait.h"
#include "history/StoreTest.h"
#include "link/ControllerLink.h"
#include "link/Operator.h"
#include "report/TestReport.h"
#include "support/ScratchFolder.h"

namespace trevane::autotest_testing {

using namespace std::chrono_literals;

// A held thread that is not released within this bound means the main thread was stuck.
constexpr auto kHoldBound = 20s;

void PausePoint::Arm(long target) {
    std::lock_guard lock(mutex_);
    mainThread_ = std::this_thread::get_id();
    target_ = target;
    count_ = 0;
    held_ = false;
    released_ = false;
}

void PausePoint::Disarm() {
    Arm(0);
}

void PausePoint::Tick() {
    std::unique_lock lock(mutex_);
    if (std::this_thread::get_id() == mainThread_) {
        return;
    }
    if (++count_ != target_) {
        return;
    }
    held_ = true;
    changed_.notify_all();
    // A stop lets the thread go, as a window operation gives up for a stopped caller.
    const std::stop_token stop = CurrentStopToken();
    if (!WaitForOrStopped(changed_, lock, stop, kHoldBound, [this] { return released_; }) &&
        !stop.stop_requested()) {
        gaveUp_ = true;
    }
}

bool PausePoint::WaitUntilHeld(const std::function<bool()>& runEnded) {
    std::unique_lock lock(mutex_);
    while (!held_) {
        lock.unlock();
        if (runEnded()) {
            lock.lock();
            return held_;
        }
        lock.lock();
        changed_.wait_for(lock, 1ms, [this] { return held_; });
    }
    return true;
}

void PausePoint::Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

long PausePoint::Count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

bool PausePoint::GaveUp() const {
    std::lock_guard lock(mutex_);
    return gaveUp_;
}

PausePoint& Pause() {
    static PausePoint pause;
    return pause;
}

void ProgressTrace::Record() {
    Record(testing::TestState().progress.load());
}

void ProgressTrace::Record(int value) {
    std::lock_guard lock(mutex_);
    if (values_.empty() || values_.back() != value) {
        values_.push_back(value);
    }
}

std::vector<int> ProgressTrace::Values() const {
    std::lock_guard lock(mutex_);
    return values_;
}

void ProgressTrace::Clear() {
    std::lock_guard lock(mutex_);
    values_.clear();
}

ProgressTrace& SeenProgress() {
    static ProgressTrace trace;
    return trace;
}

TestClock::TestClock(std::chrono::system_clock::time_point wallStart, const TestFlags& progress)
    : clock_(wallStart), test_(progress) {}

Clock::TimePoint TestClock::Now() {
    return clock_.Now();
}

std::chrono::system_clock::time_point TestClock::WallNow() {
    return clock_.WallNow();
}

bool TestClock::SleepFor(Duration duration, std::stop_token stop) {
    Pause().Tick();
    const int progress = test_.progress.load();
    SeenProgress().Record(progress);
    Duration oversleep{0};
    {
        std::lock_guard lock(mutex_);
        waits_.push_back({duration, progress});
        if (oversleeps_ && waits_.size() % 3 == 0) {
            oversleep = 6ms;
        }
    }
    return clock_.SleepFor(duration + oversleep, stop);
}

std::vector<TestClock::Wait> TestClock::Waits() const {
    std::lock_guard lock(mutex_);
    return waits_;
}

bool TestWindow::Admit() {
    return !CurrentThreadStopRequested();
}

void TestWindow::AppendTranscript(const std::string& text) {
    Pause().Tick();
    std::lock_guard lock(windowThread_);
    if (Admit()) {
        SpyWindow::AppendTranscript(text);
    }
}

void TestWindow::ScrollTranscriptToEnd() {
    std::lock_guard lock(windowThread_);
    if (Admit()) {
        SpyWindow::ScrollTranscriptToEnd();
    }
}

void TestWindow::SetTestStatus(const std::string& text) {
    Pause().Tick();
    std::lock_guard lock(windowThread_);
    if (Admit()) {
        SeenProgress().Record();
        SpyWindow::SetTestStatus(text);
    }
}

void TestWindow::TestRunningChanged(bool running) {
    Pause().Tick();
    std::lock_guard lock(windowThread_);
    if (Admit()) {
        SeenProgress().Record();
        SpyWindow::TestRunningChanged(running);
    }
}

std::chrono::system_clock::time_point WallTime(int hour, int minute, int second) {
    using namespace std::chrono;
    return sys_days{year{2012} / November / 29} + hours{hour} + minutes{minute} + seconds{second};
}

void AutotestFixture::SetUp() {
#ifdef _WIN32
    _putenv_s("TZ", "UTC");
    _tzset();
#else
    ::setenv("TZ", "UTC", 1);
    ::tzset();
#endif
    folder_.emplace("trevane-autotest");
    guard_.emplace();
    // Only the history's own tests keep one; the others judge the folder's files.
    testing::History().SetEnabled(false);
    Pause().Disarm();
    SeenProgress().Clear();

    window_ = std::make_shared<TestWindow>();
    testing::SetWindow(window_);
    UseController(std::make_shared<ScriptedController>());
    StartClockAt(WallTime(14, 5, 9));
}

void AutotestFixture::TearDown() {
    Pause().Release();
    testing::StopAndJoinTestThreads();
    EXPECT_FALSE(Pause().GaveUp()) << "the window's thread was stuck while the test was held";
    context_.reset();
    guard_.reset();
    folder_.reset();
}

void AutotestFixture::StartClockAt(std::chrono::system_clock::time_point wallStart) {
    clock_ = std::make_shared<TestClock>(wallStart, testing::TestState());
    SetSystemClock(clock_);
    testing::MakeLogFileName();
}

void AutotestFixture::UseController(std::shared_ptr<ScriptedController> controller) {
    controller_ = std::move(controller);
    controller_->OnEveryExchange([] { Pause().Tick(); });
    testing::Link().Attach(controller_, nullptr, "127.0.0.1");
}

void AutotestFixture::DropController() {
    testing::Link().Close();
    controller_.reset();
}

void AutotestFixture::RunWholeTest() {
    ASSERT_FALSE(testing::TestState().running);
    testing::OnRunAutoTest();
    ASSERT_TRUE(testing::WaitForTestEnd(60s)) << "the test thread did not end";
}

TestContext& AutotestFixture::Context() {
    if (!context_) {
        Controller& controller = testing::TheController();
        context_.reset(new TestContext{controller.Link(), controller.Log(), controller.Recorder(),
                                       controller.Runner()});
    }
    return *context_;
}

std::string AutotestFixture::LogBytes() const {
    return testing::ReadFile(testing::LogFilePath());
}

std::vector<std::string> AutotestFixture::Entries() const {
    return window_->TestStatusHistory();
}

std::vector<std::string> AutotestFixture::EntriesOf(const std::string& axis) const {
    std::vector<std::string> entries;
    for (const std::string& entry : Entries()) {
        if (entry.starts_with(axis + " Axis")) {
            entries.push_back(entry);
        }
    }
    return entries;
}

std::vector<std::string> After(const std::vector<std::string>& all, const std::string& first) {
    auto it = std::find(all.begin(), all.end(), first);
    return it == all.end() ? std::vector<std::string>{}
                           : std::vector<std::string>(it + 1, all.end());
}

namespace {

// "mm/dd/yy HH:MM:SS" and the two blanks before the text.
constexpr std::size_t kStampLength = 19;

bool IsStampAt(const std::string& log, std::size_t at) {
    static constexpr const char* kShape = "00/00/00 00:00:00  ";
    for (std::size_t i = 0; i < kStampLength; ++i) {
        const char c = log[at + i];
        if (kShape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(c)) : c != kShape[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

ScriptedController::Script VaryingReadings() {
    return [](const std::string& command, int n) -> std::optional<std::string> {
        if (command.size() != 3 || command[2] == 'W') {
            return std::nullopt;
        }
        if (command.starts_with("TT")) {
            char text[32];
            const auto end = std::to_chars(text, text + sizeof text, -(0.1 + 0.005 * n),
                                           std::chars_format::fixed, 4);
            return std::string(text, end.ptr);
        }
        if (command.starts_with("TE")) {
            return std::to_string(n % 97 - 48);
        }
        return std::nullopt;
    };
}

std::vector<std::string> SplitLogEntries(const std::string& log) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at + kStampLength <= log.size(); ++at) {
        if (IsStampAt(log, at)) {
            starts.push_back(at);
            at += kStampLength - 1;
        }
    }
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t from = starts[i] + kStampLength;
        const std::size_t to = i + 1 < starts.size() ? starts[i + 1] : log.size();
        entries.push_back(log.substr(from, to - from));
    }
    return entries;
}

std::vector<std::string> CommandsOfWatch(const std::string& axis) {
    std::vector<std::string> commands;
    for (int cycle = 0; cycle < 200; ++cycle) {
        commands.push_back("TT" + axis);
        commands.push_back("TE" + axis);
    }
    return commands;
}

std::vector<std::string> CommandsOfCleanAxis(const std::string& axis) {
    std::vector<std::string> commands;
    auto append = [&commands](const std::vector<std::string>& more) {
        commands.insert(commands.end(), more.begin(), more.end());
    };
    append({"MG _LR" + axis, "PT" + axis + "=1", "PA" + axis + "=-20000"});
    append(CommandsOfWatch(axis));
    append({"TE" + axis, "TP" + axis, "MG _LF" + axis, "PT" + axis + "=1", "PA" + axis + "=0"});
    append(CommandsOfWatch(axis));
    append({"TE" + axis, "TP" + axis});
    return commands;
}

}  // namespace trevane::autotest_testing
