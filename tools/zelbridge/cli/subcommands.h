// The three subcommands, each returning the tool's exit code.
#pragma once

#include "command_line.h"

#include <iosfwd>

namespace zelbridge::tool {

int RunSend(const Invocation& request, std::ostream& out, std::ostream& err);
int RunShell(const Invocation& request, std::istream& in, std::ostream& out, std::ostream& err);
int RunCheck(const Invocation& request, std::ostream& out);

} // namespace zelbridge::tool
