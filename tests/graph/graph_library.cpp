// A stand-in for the 3D graph library: every function records its call and
// returns the result the test set. The build decides which functions it
// exports and under which tag it records.
#include "driver_recorder.h"
#include "graph/graph_functions.h"
#include "graph_call_text.h"

#include <chrono>
#include <thread>

#ifndef GRAPH_TAG
#define GRAPH_TAG "graph"
#endif
#define GRAPH_UNPACK(...) __VA_ARGS__

namespace {

const zelbridge::test::LifetimeRecorder lifetime(GRAPH_TAG);

// Keeps a first load under way for as long as the test asks, so that a
// second thread's first call can arrive while it is.
struct LoadDelay {
    LoadDelay()
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(zelbridge::test::ResultFor(zelbridge::test::kGraphLoadDelayKey)));
    }
} const loadDelay;

} // namespace

#define GRAPH_DEFINE_FUNCTION(ordinal, name, parameters, arguments, unavailable)                                    \
    extern "C" int ZELBRIDGE_CALL name parameters                                                                  \
    {                                                                                                              \
        zelbridge::test::RecordCall(GRAPH_TAG, #name,                                                               \
                                    [&] { return zelbridge::test::GraphCallText(#name, GRAPH_UNPACK arguments); }); \
        return zelbridge::test::ResultFor(#name);                                                                  \
    }
ZELBRIDGE_GRAPH_FUNCTIONS(GRAPH_DEFINE_FUNCTION)
