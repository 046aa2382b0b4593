// A simulated family library: the driver functions of the family named by
// SIMULATED_FAMILY under its resolution prefix SIMULATED_RESOLUTION, with
// the argument lists of the operation description, which is also where the
// build takes the export list from.
#include "driver_operations.h"
#include "families/family_catalog.h"

#if !defined(SIMULATED_FAMILY) || !defined(SIMULATED_PREFIX) || !defined(SIMULATED_RESOLUTION)
#error "the build names the family to simulate"
#endif

using zelbridge::ConnectionId;
using zelbridge::Word;

extern "C" {

// The close functions of the families return nothing.
#define SIMULATOR_FAMILY_EXPORT(family, prefix, resolution, operation, driver, parameters, arguments, ...)            \
    zelbridge::EntryResultType<zelbridge::Operation::operation> ZELBRIDGE_CALL                                         \
        ZELBRIDGE_FAMILY_JOIN(resolution, driver) parameters                                                           \
    {                                                                                                                  \
        using Result = zelbridge::EntryResultType<zelbridge::Operation::operation>;                                    \
        return static_cast<Result>(simulator::driver arguments);                                                       \
    }
#define SIMULATOR_FAMILY_EXPORTS(...)                                                                                  \
    ZELBRIDGE_FAMILY_ENTRY_OF(SIMULATOR_FAMILY_EXPORT, SIMULATED_FAMILY, SIMULATED_PREFIX, SIMULATED_RESOLUTION,        \
                              __VA_ARGS__)
ZELBRIDGE_ALL_OPERATIONS(SIMULATOR_FAMILY_EXPORTS)
#undef SIMULATOR_FAMILY_EXPORTS
#undef SIMULATOR_FAMILY_EXPORT

} // extern "C"
