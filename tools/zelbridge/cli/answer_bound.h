// The longest answer the tool, the server and the Python package return
// whole. A longer one is still read in full, so that the answers after it
// keep their order, and is returned cut to this with the number of bytes cut.
#pragma once

#include "recording/recording_format.h"

#include <cstddef>

namespace zelbridge::tool {

inline constexpr std::size_t kAnswerBound = 16 * 1024 * 1024;

// Whatever the recorder keeps whole, the tool prints whole when it replays it.
static_assert(kAnswerBound >= recording::kTextBound, "an answer the recorder keeps whole must not be cut");

} // namespace zelbridge::tool
