// A simulated family library: the driver functions of the family named by
// SIMULATED_FAMILY under its resolution prefix SIMULATED_RESOLUTION, with
// the argument lists of the family catalog, which is also where the build
// reads the export list from.
#include "driver_operations.h"
#include "families/family_catalog.h"

#if !defined(SIMULATED_FAMILY) || !defined(SIMULATED_PREFIX) || !defined(SIMULATED_RESOLUTION)
#error "the build names the family to simulate"
#endif

extern "C" {

// The close functions of the families return nothing.
#define SIMULATOR_FAMILY_EXPORT(family, prefix, resolution, operation, driver, result, parameters, arguments, kind,   \
                                fallback)                                                                              \
    result ZELBRIDGE_CALL ZELBRIDGE_FAMILY_JOIN(resolution, driver) parameters                                         \
    {                                                                                                                  \
        return static_cast<result>(simulator::driver arguments);                                                       \
    }
ZELBRIDGE_FAMILY_ROWS(SIMULATOR_FAMILY_EXPORT, SIMULATED_FAMILY, SIMULATED_PREFIX, SIMULATED_RESOLUTION)
#undef SIMULATOR_FAMILY_EXPORT

} // extern "C"
