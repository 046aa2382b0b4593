// The 31 exported QXGraph3D entry points: each forwards its arguments
// unchanged to the graph library's function of the same name.
#include "diag/call_recorder.h"
#include "graph/graph_binding.h"

extern "C" {

// No trace and no timer: after the first call an entry point is one test of
// the binding, one of the recording flag and one call through the table.
#define ZELBRIDGE_DEFINE_GRAPH_ENTRY_POINT(ordinal, name, parameters, arguments, unavailable)                      \
    int ZELBRIDGE_CALL name parameters                                                                             \
    {                                                                                                              \
        const zelbridge::GraphBinding& graph = zelbridge::GraphBinding::Instance();                                \
        if (graph.available() && zelbridge::CallRecorder::Off())                                                   \
            return graph.functions().Call<zelbridge::GraphFunction::name>(ZELBRIDGE_GRAPH_UNPACK arguments);        \
        /* By reference: a copy of a double on 32-bit x86 would quiet a signalling NaN. */                         \
        const auto forward = [&]() noexcept {                                                                      \
            if (graph.available())                                                                                 \
                return graph.functions().Call<zelbridge::GraphFunction::name>(ZELBRIDGE_GRAPH_UNPACK arguments);    \
            return zelbridge::GraphFirstCall<zelbridge::GraphFunction::name>::Call(unavailable,                    \
                                                                                   ZELBRIDGE_GRAPH_UNPACK arguments); \
        };                                                                                                         \
        return zelbridge::RecordedCallOutOfLine(#name, zelbridge::kNoOwner, forward, ZELBRIDGE_GRAPH_UNPACK arguments); \
    }
#define ZELBRIDGE_GRAPH_UNPACK(...) __VA_ARGS__
ZELBRIDGE_GRAPH_FUNCTIONS(ZELBRIDGE_DEFINE_GRAPH_ENTRY_POINT)
#undef ZELBRIDGE_DEFINE_GRAPH_ENTRY_POINT
#undef ZELBRIDGE_GRAPH_UNPACK

} // extern "C"
