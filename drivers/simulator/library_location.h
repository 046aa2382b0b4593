// The folder the simulator library was loaded from, where it looks for
// Simulator.json when no file is named.
#pragma once

#include <string>

namespace simulator {

// With a trailing separator; empty when the platform cannot tell.
std::string LibraryFolder();

} // namespace simulator
