// A driver library for defined systems: every operation under the prefix
// DRIVER_PREFIX records its call and returns the result the test set. The
// build decides which of them the library exports.
#include "api/driver_contract.h"
#include "driver_recorder.h"

#ifndef DRIVER_TAG
#define DRIVER_TAG "driver"
#endif
#ifndef DRIVER_PREFIX
#define DRIVER_PREFIX DRV_
#endif

namespace {

const zelbridge::test::LifetimeRecorder lifetime(DRIVER_TAG);

} // namespace

using zelbridge::ConnectionId;
using zelbridge::Word;

#define DRIVER_DEFINE(name, params, args, description, families)                                                                   \
    extern "C" std::int32_t ZELBRIDGE_STDCALL DRIVER_JOIN(DRIVER_PREFIX, name) params                      \
    {                                                                                                       \
        return zelbridge::test::Called(DRIVER_TAG, DRIVER_STRING(DRIVER_PREFIX) #name, DRIVER_UNPACK args); \
    }
ZELBRIDGE_DRIVER_OPERATIONS(DRIVER_DEFINE)
