#include <mutex>
#include <optional>

#include "common/StopControl.h"
#include "protocol/Limits.h"
#include "protocol/Protocol.h"
#include "sim/MachineImpl.h"
#include "sim/RequestFramer.h"

// A session that hands each request straight to the machine, yet frames and fails the way the
// TCP client does over a real link, so tests on either path see the same behaviour.
namespace trevane::sim {
namespace {

class InProcessClient final : public MotionClient {
  public:
    InProcessClient(std::shared_ptr<Responder> responder, std::string address, std::uint16_t port,
                    InProcessOptions options)
        : machine_(std::move(responder)),
          impl_(*machine_),
          session_(impl_.OpenSession()),
          endpoint_(address + ":" + std::to_string(port)),
          options_(options),
          framer_(kMaxRequestBytes),
          lastActivity_(Now()) {}

    ~InProcessClient() override { impl_.CloseSession(session_); }

    std::string command(const std::string& command, const std::string& terminator,
                        const std::string& acknowledgement, bool trim) override {
        const char accepted =
            acknowledgement.empty() ? protocol::kAccepted : acknowledgement.front();
        protocol::ReplyParser parser(protocol::ReplyKind::Text,
                                     protocol::AcknowledgementsFor(command, terminator), accepted,
                                     kMaxReplyBytes);
        std::lock_guard lock(mutex_);
        Exchange(command + terminator, command, parser, timeouts_.reply);
        if (parser.Rejected()) {
            throw Rejection(command);
        }
        return trim ? protocol::TrimReply(parser.Data()) : parser.TakeData();
    }

    std::string connection() override {
        protocol::ReplyParser parser(protocol::ReplyKind::Text);
        std::lock_guard lock(mutex_);
        Exchange(std::string(protocol::kIdentityRequest) + "\r", protocol::kIdentityRequest, parser,
                 timeouts_.reply);
        if (parser.Rejected()) {
            throw Rejection(protocol::kIdentityRequest);
        }
        const std::string identity = protocol::TrimReply(parser.Data());
        return identity.empty() ? endpoint_ : endpoint_ + " " + identity;
    }

    std::string programUpload() override {
        protocol::ReplyParser parser(protocol::ReplyKind::Upload, 1, protocol::kAccepted,
                                     kMaxReplyBytes);
        std::lock_guard lock(mutex_);
        Exchange("UL\r", "UL", parser, timeouts_.upload);
        if (parser.Rejected()) {
            throw Rejection("UL");
        }
        return protocol::ToUnixLineEnds(parser.Data());
    }

    std::vector<char> record(const std::string& query) override {
        protocol::ReplyParser parser(protocol::ReplyKind::Record);
        std::lock_guard lock(mutex_);
        Exchange(query + "\r", query, parser, timeouts_.reply);
        if (parser.Rejected()) {
            throw Rejection(query);
        }
        const std::string& data = parser.Data();
        return std::vector<char>(data.begin(), data.end());
    }

  private:
    // Sends `bytes` and feeds the replies to `parser`. The caller holds `mutex_`.
    void Exchange(std::string_view bytes, std::string_view request, protocol::ReplyParser& parser,
                  std::chrono::milliseconds timeout) {
        ThrowIfSpent(request);
        if (options_.idleTimeout && Now() - lastActivity_ >= *options_.idleTimeout) {
            SpendClosedUnsent(request);
        }
        std::vector<Request> requests;
        framer_.Feed(bytes, requests);
        for (std::size_t index = 0; index < requests.size(); ++index) {
            const std::string wire = Answer(requests[index], index == 0, request, timeout);
            try {
                parser.Feed(wire);
            } catch (const protocol::ReplyFormatError& error) {
                Spend("reply to '" + protocol::Printable(request) + "' from " + endpoint_ + ": " +
                      error.what());
            }
        }
        if (!parser.Done()) {
            // The controller still waits for the rest of a line, or sent a short reply.
            AwaitNoReply(request, timeout);
        }
    }

    void ThrowIfSpent(std::string_view request) const {
        if (!spentReason_) {
            return;
        }
        const std::string text = "cannot send '" + protocol::Printable(request) +
                                 "': the session to " + endpoint_ + " is spent (" + *spentReason_ +
                                 ")";
        switch (spentHow_) {
            case Spent::TimedOut:
                throw MotionError::Timeout(text);
            case Spent::Closed:
                // Refused here, so it was not sent either.
                throw MotionError::ClosedByController(text, false);
            case Spent::Broken:
                break;
        }
        throw MotionError(text);
    }

    // The machine's reply to one line, with the link's faults applied. `first`: the first line
    // of the request, so that nothing of the request went out before it.
    std::string Answer(const Request& line, bool first, std::string_view request,
                       std::chrono::milliseconds timeout) {
        const LinkFaults link = impl_.Link();
        ++requests_;
        if (link.dropAfter > 0 && requests_ > static_cast<unsigned long long>(link.dropAfter)) {
            // The server closes the connection behind its last reply: a request that starts
            // after that finds it closed; a line of one already under way was sent.
            if (first) {
                SpendClosedUnsent(request);
            }
            SpendClosedWhileWaiting(request);
        }
        if (link.cutAt > 0 && requests_ >= static_cast<unsigned long long>(link.cutAt)) {
            // The link breaks while the request is under way: nothing answers it.
            impl_.RecordOnly(session_, line.line);
            SpendClosedWhileWaiting(request);
        }
        lastActivity_ = Now();
        if (link.silent) {
            impl_.RecordOnly(session_, line.line);
            AwaitNoReply(request, timeout);
        }
        Reply reply = impl_.Exchange(session_, line.line, line.tooLong);
        if (reply.closes) {
            SpendClosedWhileWaiting(request);
        }
        if (reply.silent) {
            AwaitNoReply(request, timeout);
        }
        if (link.delayMs > 0) {
            const std::chrono::milliseconds delay(link.delayMs);
            if (delay >= timeout) {
                WaitOut(timeout);
                SpendByTimeout(request);
            }
            WaitOut(delay);
        }
        lastActivity_ = Now();
        return reply.Wire();
    }

    // No reply is coming: the reply timeout runs out, unless the controller closes the session
    // for being idle before that, as the server does with a request it never answers.
    [[noreturn]] void AwaitNoReply(std::string_view request, std::chrono::milliseconds timeout) {
        if (options_.idleTimeout) {
            const Clock::TimePoint closing = lastActivity_ + *options_.idleTimeout;
            if (closing < Now() + timeout) {
                impl_.GetClock()->SleepUntil(closing, CurrentStopToken());
                SpendClosedWhileWaiting(request);
            }
        }
        WaitOut(timeout);
        SpendByTimeout(request);
    }

    MotionError Rejection(std::string_view request) {
        std::string text =
            "controller at " + endpoint_ + " rejected '" + protocol::Printable(request) + "'";
        std::string controllerReason;
        try {
            protocol::ReplyParser reason(protocol::ReplyKind::Text);
            Exchange("TC1\r", "TC1", reason, timeouts_.reply);
            const std::string trimmed = protocol::TrimReply(reason.Data());
            if (!reason.Rejected() && !trimmed.empty()) {
                controllerReason = trimmed;
                text += ": " + trimmed;
            }
        } catch (const MotionError&) {
            // The rejection is the error to report.
        }
        return MotionError::Rejection(text, controllerReason);
    }

    // The time a real link would have taken; on a virtual clock this only moves the clock.
    void WaitOut(std::chrono::milliseconds duration) {
        impl_.GetClock()->SleepFor(duration, CurrentStopToken());
    }

    Clock::TimePoint Now() const { return impl_.GetClock()->Now(); }

    // As the TCP client does, a timeout and a session the controller closed are told apart from
    // a broken link, now and for every later call of the spent session.
    [[noreturn]] void Spend(const std::string& reason) {
        spentReason_ = reason;
        spentHow_ = Spent::Broken;
        throw MotionError(reason);
    }
    [[noreturn]] void SpendByTimeout(std::string_view request) {
        spentReason_ =
            "no reply to '" + protocol::Printable(request) + "' from " + endpoint_ + " in time";
        spentHow_ = Spent::TimedOut;
        throw MotionError::Timeout(*spentReason_);
    }
    [[noreturn]] void SpendClosedUnsent(std::string_view request) {
        spentReason_ = "the controller at " + endpoint_ + " " +
                       std::string(protocol::kClosedTheSession) + "; '" +
                       protocol::Printable(request) + "' was not sent";
        spentHow_ = Spent::Closed;
        throw MotionError::ClosedByController(*spentReason_, false);
    }
    [[noreturn]] void SpendClosedWhileWaiting(std::string_view request) {
        spentReason_ = "connection to " + endpoint_ + " " +
                       std::string(protocol::kClosedTheConnection) +
                       " while waiting for the reply to '" + protocol::Printable(request) + "'";
        spentHow_ = Spent::Closed;
        throw MotionError::ClosedByController(*spentReason_, true);
    }

    const std::shared_ptr<Responder> machine_;
    Responder& impl_;
    const int session_;
    const std::string endpoint_;
    const TcpTimeouts timeouts_{};
    const InProcessOptions options_;

    enum class Spent { Broken, TimedOut, Closed };

    std::mutex mutex_;  // one exchange at a time; guards everything below
    RequestFramer framer_;
    unsigned long long requests_ = 0;
    // The last request received or reply given, on the simulator's clock.
    Clock::TimePoint lastActivity_;
    std::optional<std::string> spentReason_;
    Spent spentHow_ = Spent::Broken;
};

}  // namespace

std::shared_ptr<MotionClient> MakeInProcessClient(std::shared_ptr<Machine> machine,
                                                  const std::string& address, std::uint16_t port,
                                                  InProcessOptions options) {
    if (!machine) {
        throw MotionError("no simulated machine to open a session on at '" + address + "'");
    }
    return MakeInProcessClient(AsResponder(std::move(machine)), address, port, options);
}

std::shared_ptr<MotionClient> MakeInProcessClient(std::shared_ptr<Responder> responder,
                                                  const std::string& address, std::uint16_t port,
                                                  InProcessOptions options) {
    if (!responder) {
        throw MotionError("no simulated controller to open a session on at '" + address + "'");
    }
    if (options.idleTimeout && *options.idleTimeout <= std::chrono::milliseconds::zero()) {
        throw MotionError("cannot open a simulated session at '" + address +
                          "': the idle time must be positive");
    }
    return std::make_shared<InProcessClient>(std::move(responder), address, port, options);
}

SessionFactory InProcessSessionFactory(std::shared_ptr<Machine> machine, InProcessOptions options) {
    return [machine, options](const std::string& address) {
        return MakeInProcessClient(machine, address, 23, options);
    };
}

SessionFactory InProcessSessionFactory(std::shared_ptr<Responder> responder,
                                       InProcessOptions options) {
    return [responder, options](const std::string& address) {
        return MakeInProcessClient(responder, address, 23, options);
    };
}

}  // namespace trevane::sim
