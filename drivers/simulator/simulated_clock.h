// The time the simulator runs on: the steady clock, or a time a test sets.
#pragma once

#include "axis_motion.h"

namespace simulator {

// Set to a whole number of milliseconds, this variable stops the clock at
// that time, and a test moves it on by setting it again: moves and delays
// then take no real time and end exactly when the test says. The variable
// is read at every call, in the process that loaded the simulator.
inline constexpr char kClockVariable[] = "ZELBRIDGE_SIM_CLOCK_MS";

Clock::time_point SimulatedNow() noexcept;

} // namespace simulator
