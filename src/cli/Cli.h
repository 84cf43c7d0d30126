#pragma once

#include "cli/Verbs.h"
#include "protocol/MotionClient.h"

// What a run of the command line does around a verb; the verbs themselves use Verbs.h.
namespace trevane::cli {

// Runs `verb` with the context's operator on sessions from `sessions`, and closes the sessions
// after it. A verb that throws is named on the error stream and ends kExitFailed.
int RunOnController(VerbContext& context, const Verb& verb, const Invocation& invocation,
                    SessionFactory sessions);
int RunVerb(VerbContext& context, const Verb& verb, const Invocation& invocation);
// With --json every failure ends the output with one object a script can rely on.
void WriteJsonError(VerbContext& context, int status);

}  // namespace trevane::cli
