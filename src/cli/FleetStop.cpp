#include "cli/FleetStop.h"

#include <exception>
#include <system_error>
#include <thread>

#include "net/TcpMotionClient.h"

namespace trevane::cli {
namespace {

std::optional<std::string> StopMotion(const FleetController& controller) {
    try {
        TcpMotionClient session(controller.address, static_cast<std::uint16_t>(controller.port));
        session.command("AB1");
        return std::nullopt;
    } catch (const std::exception& failure) {
        return std::string(failure.what());
    } catch (...) {
        return std::string("failed");
    }
}

}  // namespace

std::vector<std::optional<std::string>> StopMotionOn(
    const std::vector<FleetController>& controllers) {
    std::vector<std::optional<std::string>> results(controllers.size());
    {
        std::vector<std::jthread> attempts;
        for (std::size_t i = 0; i < controllers.size(); ++i) {
            try {
                attempts.emplace_back([&, i] { results[i] = StopMotion(controllers[i]); });
            } catch (const std::system_error&) {
                results[i] = StopMotion(controllers[i]);  // no thread to spare: in turn
            }
        }
    }
    return results;
}

}  // namespace trevane::cli
