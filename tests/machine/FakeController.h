#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "autotest/TestRunner.h"
#include "link/Link.h"
#include "link/WindowOps.h"
#include "protocol/MotionClient.h"
#include "support/SpyWindow.h"

#include <gtest/gtest.h>

namespace trevane::testing {

// A controller double for the cases the simulated controller cannot make on demand: exact record
// bytes, every exchange failing, a failed upload. Every session it opens shares one state; the
// sessions are numbered in the order they were opened (Connect opens the command session first).
class FakeController {
  public:
    struct Exchange {
        int session;
        std::string line;
    };

    SessionFactory Factory() {
        return [this](const std::string&) -> std::shared_ptr<MotionClient> {
            std::lock_guard lock(mutex_);
            return std::make_shared<Session>(*this, sessionsOpened_++);
        };
    }

    // What the sessions were asked.
    std::vector<std::string> Commands() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> lines;
        for (const Exchange& exchange : commands_) {
            lines.push_back(exchange.line);
        }
        return lines;
    }
    std::vector<Exchange> RecordRequests() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    int Uploads() const {
        std::lock_guard lock(mutex_);
        return uploads_;
    }
    void ClearExchanges() {
        std::lock_guard lock(mutex_);
        commands_.clear();
        records_.clear();
        uploads_ = 0;
    }

    // How they answer.
    void FailCommands(bool fail) {
        std::lock_guard lock(mutex_);
        failCommands_ = fail;
    }
    void SetReply(const std::string& command, std::string reply) {
        std::lock_guard lock(mutex_);
        replies_[command] = std::move(reply);
    }
    void SetRecord(std::vector<char> bytes) {
        std::lock_guard lock(mutex_);
        record_ = std::move(bytes);
        failRecord_ = false;
    }
    void FailRecord() {
        std::lock_guard lock(mutex_);
        failRecord_ = true;
    }
    void SetProgram(std::string text) {
        std::lock_guard lock(mutex_);
        program_ = std::move(text);
        failUpload_ = false;
    }
    void FailUpload() {
        std::lock_guard lock(mutex_);
        failUpload_ = true;
    }

  private:
    class Session final : public MotionClient {
      public:
        Session(FakeController& owner, int number) : owner_(owner), number_(number) {}

        std::string command(const std::string& line, const std::string&, const std::string&,
                            bool) override {
            std::lock_guard lock(owner_.mutex_);
            owner_.commands_.push_back({number_, line});
            if (owner_.failCommands_) {
                throw MotionError("rejected: " + line);
            }
            auto it = owner_.replies_.find(line);
            return it == owner_.replies_.end() ? std::string() : it->second;
        }
        std::string connection() override { return "127.0.0.1 port 23 fake controller"; }
        std::string programUpload() override {
            std::lock_guard lock(owner_.mutex_);
            ++owner_.uploads_;
            if (owner_.failUpload_) {
                throw MotionError("upload timed out");
            }
            return owner_.program_;
        }
        std::vector<char> record(const std::string& query) override {
            std::lock_guard lock(owner_.mutex_);
            owner_.records_.push_back({number_, query});
            if (owner_.failRecord_) {
                throw MotionError("record timed out");
            }
            return owner_.record_;
        }

      private:
        FakeController& owner_;
        int number_;
    };

    mutable std::mutex mutex_;
    int sessionsOpened_ = 0;
    std::vector<Exchange> commands_;
    std::vector<Exchange> records_;
    int uploads_ = 0;
    bool failCommands_ = false;
    std::map<std::string, std::string> replies_;
    std::vector<char> record_;
    bool failRecord_ = false;
    std::string program_;
    bool failUpload_ = false;
};

// A recording window installed for one test, and every program-wide flag and session put back
// afterwards so that tests do not leak into each other.
class LinkTestBase : public ::testing::Test {
  protected:
    void SetUp() override { SetWindow(window_); }
    void TearDown() override {
        g_testRunning = false;
        CloseLink();
        SetSessionFactory(nullptr);
        SetWindow(nullptr);
    }

    // Connects as the Connect button does, then forgets what Connect itself showed.
    void ConnectAndClearTranscript() {
        OnConnect();
        ASSERT_TRUE(g_connected);
        window_->EditTranscript("");
    }

    static int CountErrorLines(const std::string& transcript) {
        const std::string line = std::string(kCommandErrorText) + "\r\n";
        int count = 0;
        for (auto at = transcript.find(line); at != std::string::npos;
             at = transcript.find(line, at + line.size())) {
            ++count;
        }
        return count;
    }

    std::shared_ptr<SpyWindow> window_ = std::make_shared<SpyWindow>();
};

// The link to a FakeController.
class FakeLinkTest : public LinkTestBase {
  protected:
    void SetUp() override {
        LinkTestBase::SetUp();
        SetSessionFactory(controller_.Factory());
    }
    void Connect() {
        ConnectAndClearTranscript();
        controller_.ClearExchanges();
    }

    FakeController controller_;
};

}  // namespace trevane::testing
