#include "cli/Verbs.h"

namespace trevane::cli {
namespace {

constexpr Verb kVerbs[] = {
    Verb{"connect", RunConnect, CheckConnectArguments},
    Verb{"send", RunSend},
    Verb{"run", RunProcedure},
    Verb{"jog", RunJog},
    Verb{"record", RunRecord, CheckRecordArguments},
    Verb{"dump", RunDump},
    Verb{"autotest", RunAutoTest, CheckAutotestArguments},
    Verb{"history", RunHistory},
    Verb{"fleet", RunFleetVerb},
};

}  // namespace

std::span<const Verb> Verbs() {
    return kVerbs;
}

const Verb* FindVerb(const std::string& name) {
    for (const Verb& verb : kVerbs) {
        if (name == verb.name) {
            return &verb;
        }
    }
    return nullptr;
}

}  // namespace trevane::cli
