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
    InProcessClient(std::shared_ptr<Responder> responder, std::string address, std::uint16_t port)
        : machine_(std::move(responder)),
          impl_(*machine_),
          session_(impl_.OpenSession()),
          endpoint_(address + ":" + std::to_string(port)),
          framer_(kMaxRequestBytes) {}

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
        if (spentReason_) {
            const std::string text = "cannot send '" + protocol::Printable(request) +
                                     "': the session to " + endpoint_ + " is spent (" +
                                     *spentReason_ + ")";
            throw spentByTimeout_ ? MotionError::Timeout(text) : MotionError(text);
        }
        std::vector<Request> requests;
        framer_.Feed(bytes, requests);
        for (const Request& line : requests) {
            const std::string wire = Answer(line, request, timeout);
            try {
                parser.Feed(wire);
            } catch (const protocol::ReplyFormatError& error) {
                Spend("reply to '" + protocol::Printable(request) + "' from " + endpoint_ + ": " +
                      error.what());
            }
        }
        if (!parser.Done()) {
            // The controller still waits for the rest of a line, or sent a short reply.
            WaitOut(timeout);
            SpendByTimeout(request);
        }
    }

    // The machine's reply to one line, with the link's faults applied.
    std::string Answer(const Request& line, std::string_view request,
                       std::chrono::milliseconds timeout) {
        const LinkFaults link = impl_.Link();
        ++requests_;
        if (link.dropAfter > 0 && requests_ > static_cast<unsigned long long>(link.dropAfter)) {
            Spend("connection to " + endpoint_ +
                  " closed the connection while waiting for the "
                  "reply to '" +
                  protocol::Printable(request) + "'");
        }
        if (link.silent) {
            impl_.RecordOnly(session_, line.line);
            WaitOut(timeout);
            SpendByTimeout(request);
        }
        Reply reply = impl_.Exchange(session_, line.line, line.tooLong);
        if (reply.silent) {
            WaitOut(timeout);
            SpendByTimeout(request);
        }
        if (link.delayMs > 0) {
            const std::chrono::milliseconds delay(link.delayMs);
            if (delay >= timeout) {
                WaitOut(timeout);
                SpendByTimeout(request);
            }
            WaitOut(delay);
        }
        return reply.Wire();
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

    [[noreturn]] void Spend(const std::string& reason) {
        spentReason_ = reason;
        throw MotionError(reason);
    }
    // As the TCP client does, a timeout is told apart from a broken link, now and for every
    // later call of the spent session.
    [[noreturn]] void SpendByTimeout(std::string_view request) {
        spentReason_ =
            "no reply to '" + protocol::Printable(request) + "' from " + endpoint_ + " in time";
        spentByTimeout_ = true;
        throw MotionError::Timeout(*spentReason_);
    }

    const std::shared_ptr<Responder> machine_;
    Responder& impl_;
    const int session_;
    const std::string endpoint_;
    const TcpTimeouts timeouts_{};

    std::mutex mutex_;  // one exchange at a time; guards everything below
    RequestFramer framer_;
    unsigned long long requests_ = 0;
    std::optional<std::string> spentReason_;
    bool spentByTimeout_ = false;
};

}  // namespace

std::shared_ptr<MotionClient> MakeInProcessClient(std::shared_ptr<Machine> machine,
                                                  const std::string& address, std::uint16_t port) {
    if (!machine) {
        throw MotionError("no simulated machine to open a session on at '" + address + "'");
    }
    return MakeInProcessClient(AsResponder(std::move(machine)), address, port);
}

std::shared_ptr<MotionClient> MakeInProcessClient(std::shared_ptr<Responder> responder,
                                                  const std::string& address, std::uint16_t port) {
    if (!responder) {
        throw MotionError("no simulated controller to open a session on at '" + address + "'");
    }
    return std::make_shared<InProcessClient>(std::move(responder), address, port);
}

SessionFactory InProcessSessionFactory(std::shared_ptr<Machine> machine) {
    return [machine](const std::string& address) { return MakeInProcessClient(machine, address); };
}

SessionFactory InProcessSessionFactory(std::shared_ptr<Responder> responder) {
    return [responder](const std::string& address) {
        return MakeInProcessClient(responder, address, 23);
    };
}

}  // namespace trevane::sim
