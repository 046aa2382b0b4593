// The few commands the loopback driver answers: identification, echo, and a
// description of the connection itself.
#pragma once

#include "connection_table.h"

#include <cstdint>

namespace loopback {

// Room for a command and its terminating zero.
inline constexpr std::size_t kCommandCapacity = 256;

// Runs `command` on `connection` and queues its answer there. Returns 0, or
// the error code the command failed with; nothing is queued then.
//
//   *IDN?        Zelbridge,Loopback,<connection identifier>,1.0
//   ECHO <text>  <text>
//   LINK?        how the connection was made, e.g. "rs232 port 1, 9600 baud"
//
// Keywords ignore case; surrounding blanks and line ends are dropped.
std::int32_t Execute(Connection& connection, const char* command) noexcept;

} // namespace loopback
