#include "traffic/TrafficTap.h"

#include <exception>
#include <mutex>
#include <type_traits>
#include <utility>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "traffic/TrafficRecorder.h"

namespace trevane {
namespace {

void Tell(const TrafficRecorder& recorder, const TappedExchange& exchange) {
    if (const TrafficRecorder::ExchangeWatcher watcher = recorder.Watcher()) {
        watcher(exchange);
    }
}

// Sees each exchange from the caller's side of the contract, so the TCP client and the
// in-process simulated controller are recorded alike. The contract hands back the reply's data
// only: the reply shown is that data, the acknowledgement the one the call implies.
class TrafficTap final : public MotionClient {
  public:
    TrafficTap(std::shared_ptr<MotionClient> inner, const char* session, TrafficRecorder& recorder)
        : inner_(std::move(inner)), session_(session), recorder_(recorder) {}

    std::string command(const std::string& command, const std::string& terminator,
                        const std::string& acknowledgement, bool trim) override {
        return Exchange(
            {TappedExchange::Call::Command, command}, command + terminator,
            acknowledgement.empty() ? ":" : acknowledgement,
            [&] { return inner_->command(command, terminator, acknowledgement, trim); },
            [](const std::string& reply, TrafficEntry& entry) {
                entry.reply = EscapeBytes(reply);
            });
    }

    std::string connection() override {
        return Exchange(
            {TappedExchange::Call::Connection, {}}, "\x12\x16\r", ":",
            [&] { return inner_->connection(); },
            [](const std::string& reply, TrafficEntry& entry) {
                entry.reply = EscapeBytes(reply);
            });
    }

    std::string programUpload() override {
        return Exchange(
            {TappedExchange::Call::Upload, {}}, "UL\r", ":",
            [&] { return inner_->programUpload(); },
            [](const std::string& text, TrafficEntry& entry) {
                entry.reply = "program, " + FormatInt(Size(text)) + " bytes";
                entry.bytes = text;
            });
    }

    std::vector<char> record(const std::string& query) override {
        return Exchange(
            {TappedExchange::Call::Record, query}, query + "\r", ":",
            [&] { return inner_->record(query); },
            [](const std::vector<char>& data, TrafficEntry& entry) {
                entry.reply = "record, " + FormatInt(Size(data)) + " bytes";
                entry.bytes.assign(data.begin(), data.end());
            });
    }

  private:
    struct What {
        TappedExchange::Call call;
        std::string command;
    };

    template <typename Bytes>
    static long long Size(const Bytes& bytes) {
        return static_cast<long long>(bytes.size());
    }

    template <typename Call, typename Show>
    std::invoke_result_t<Call&> Exchange(What what, const std::string& request,
                                         const std::string& accepted, Call call, Show show) {
        TappedExchange tapped;
        tapped.call = what.call;
        tapped.session = session_;
        tapped.command = std::move(what.command);
        TrafficEntry entry;
        entry.session = session_;
        Clock& clock = SystemClock();
        entry.time = clock.WallNow();
        const Clock::TimePoint start = clock.Now();
        auto finish = [&] {
            entry.request = EscapeBytes(request);
            entry.microseconds =
                std::chrono::duration_cast<std::chrono::microseconds>(clock.Now() - start).count();
            recorder_.Add(std::move(entry));
            Tell(recorder_, tapped);
        };
        // Anything but a failure of the link (a stop unwinding the caller) is no exchange's
        // outcome and is not recorded.
        try {
            auto reply = call();
            show(reply, entry);
            entry.acknowledgement = accepted;
            tapped.ok = true;
            if constexpr (std::is_same_v<decltype(reply), std::string>) {
                tapped.reply = reply;
            }
            finish();
            return reply;
        } catch (const MotionError& error) {
            entry.acknowledgement = error.Rejected() ? "?" : "";
            entry.reason = error.Rejected() ? error.ControllerReason() : error.what();
            tapped.rejected = error.Rejected();
            tapped.controllerReason = error.ControllerReason();
            tapped.error = error.what();
            tapped.timedOut = error.TimedOut();
            finish();
            throw;
        } catch (const std::exception& error) {
            entry.reason = error.what();
            tapped.error = error.what();
            finish();
            throw;
        }
    }

    const std::shared_ptr<MotionClient> inner_;
    const char* const session_;
    TrafficRecorder& recorder_;
};

}  // namespace

std::shared_ptr<MotionClient> TapSession(std::shared_ptr<MotionClient> inner, const char* session,
                                         TrafficRecorder& recorder) {
    if (!inner) {
        return inner;
    }
    return std::make_shared<TrafficTap>(std::move(inner), session, recorder);
}

}  // namespace trevane
