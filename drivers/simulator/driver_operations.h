// Every operation the simulator offers, whatever name a build exports it
// under: the 28 of the driver contract and the four only families use.
#pragma once

#include "api/driver_contract.h"

#include <cstdint>

namespace simulator {

using zelbridge::ConnectionId;
using zelbridge::Word;

#define SIMULATOR_DECLARE_OPERATION(name, params, args, description, families) std::int32_t name params noexcept;
ZELBRIDGE_DRIVER_OPERATIONS(SIMULATOR_DECLARE_OPERATION)
#undef SIMULATOR_DECLARE_OPERATION

// A simulated connection is a board and an interface of its own: these give
// back the identifier of an open connection.
std::int32_t GetCurrentBoardId(Word id) noexcept;
std::int32_t GetCurrentInterfaceId(Word id) noexcept;
// A command and its answer, under the names the T5XX_ family uses.
std::int32_t T5XXSendString(Word id, Word command) noexcept;
std::int32_t T5XXReadLine(ConnectionId id, Word buffer, Word size) noexcept;

} // namespace simulator
