// The subcommands, each returning the tool's exit code.
#pragma once

#include "command_line.h"

#include <iosfwd>

namespace zelbridge::tool {

int RunSend(const Invocation& request, std::ostream& out, std::ostream& err);
// Prompts only when `prompt`: piped input gets answers alone.
int RunShell(const Invocation& request, bool prompt, std::istream& in, std::ostream& out, std::ostream& err);
int RunCheck(const Invocation& request, std::ostream& out);
int RunConfig(const Invocation& request, std::ostream& out, std::ostream& err);
// The recording is the invocation's one argument.
int RunReplay(const Invocation& request, std::ostream& out);
// A simulator description of each controller a recording holds.
int RunDescribe(const Invocation& request, std::ostream& out, std::ostream& err);
// A recording or trace as trace events, or an HTML page.
int RunTimeline(const Invocation& request, std::ostream& out, std::ostream& err);
// Serves the module over HTTP until interrupted; the log goes to `err`.
int RunServe(const Invocation& request, std::ostream& out, std::ostream& err);
// The tool's version, and the version and file of the module it loads.
int RunVersion(std::ostream& out);

} // namespace zelbridge::tool
