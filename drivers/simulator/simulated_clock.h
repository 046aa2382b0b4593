// The time the simulator runs on: the steady clock, or a time a test sets.
#pragma once

#include "axis_motion.h"

namespace simulator {

// Names a file that holds a whole number of milliseconds: the clock stands
// at that time, and a test moves it on by writing the file again, so moves
// and delays take no real time and end exactly when the test says. A file
// rather than the variable's own value, because a test program's C runtime
// need not be the one the simulator reads its environment through, and
// another process (the zelbridge tool) can share the file.
inline constexpr char kClockVariable[] = "ZELBRIDGE_SIM_CLOCK";

// Read at every call: the file's time, or the steady clock while the
// variable is unset or its file holds no such number.
Clock::time_point SimulatedNow() noexcept;

} // namespace simulator
