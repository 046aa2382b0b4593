// Simulator.dll: the 28 operations of the driver contract under the prefix
// SIM_, each with the contract's own argument list.
#include "api/driver_contract.h"
#include "driver_operations.h"

using zelbridge::ConnectionId;
using zelbridge::Word;

extern "C" {

#define SIMULATOR_EXPORT(name, params, args, description, families)                                                                           \
    std::int32_t ZELBRIDGE_STDCALL SIM_##name params { return simulator::name args; }
ZELBRIDGE_DRIVER_OPERATIONS(SIMULATOR_EXPORT)
#undef SIMULATOR_EXPORT

} // extern "C"
