// The help of the program and of each subcommand.
#pragma once

#include "command_line.h"

namespace zelbridge::tool {

// kNone gives the program's own help.
const char* HelpText(Subcommand subcommand) noexcept;

} // namespace zelbridge::tool
