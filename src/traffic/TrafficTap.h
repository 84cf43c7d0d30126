#pragma once

#include <functional>
#include <memory>
#include <string>

#include "protocol/MotionClient.h"

// The one observer of every exchange of a session: each goes to a traffic recorder, and to the
// recorder's exchange watcher when one is installed (trevane-cli's command watch).
namespace trevane {

class TrafficRecorder;

// One exchange as the session's caller saw it.
struct TappedExchange {
    enum class Call { Command, Connection, Upload, Record };
    Call call = Call::Command;
    const char* session = "";  // "command" or "record"
    std::string command;       // the command or record query as given, without its terminator
    std::string reply;         // the data the call returned (Command and Connection)
    bool ok = false;
    bool rejected = false;         // the controller answered "?"
    std::string controllerReason;  // its "TC1" reason when it gave one
    std::string error;             // when not ok: what the session threw
    bool timedOut = false;         // no reply came in time (or the session was spent by that)
};

// `inner` with every exchange reported to `recorder` under `session` ("command" or "record").
std::shared_ptr<MotionClient> TapSession(std::shared_ptr<MotionClient> inner, const char* session,
                                         TrafficRecorder& recorder);

}  // namespace trevane
