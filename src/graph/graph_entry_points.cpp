// The 31 exported QXGraph3D entry points: each forwards its arguments
// unchanged to the graph library's function of the same name.
#include "diag/call_recorder.h"
#include "graph/graph_binding.h"

namespace zelbridge {

// The out-of-line path of a graph entry point: the first call, or any call
// while recording. Doubles come by reference where a copy would quiet a
// signalling NaN (see FirstCallParameter).
template <GraphFunction function, typename Function = GraphFunctionType<function>> struct GraphSlowCall;
template <GraphFunction function, typename... Parameters>
struct GraphSlowCall<function, int(ZELBRIDGE_CALL*)(Parameters...)> {
    [[gnu::noinline]] static int Call(const char* name, int unavailable,
                                      FirstCallParameter<Parameters>... arguments) noexcept
    {
        const auto forward = [&]() noexcept {
            const GraphBinding& graph = GraphBinding::Instance();
            if (graph.available())
                return graph.functions().Call<function>(arguments...);
            return GraphFirstCall<function>::Call(unavailable, arguments...);
        };
        return RecordedCall(name, kNoOwner, forward, arguments...);
    }
};

} // namespace zelbridge

extern "C" {

// No trace and no timer: after the first call an entry point is one test of
// the binding and one call through the table.
#define ZELBRIDGE_DEFINE_GRAPH_ENTRY_POINT(ordinal, name, parameters, arguments, unavailable)                      \
    int ZELBRIDGE_CALL name parameters                                                                             \
    {                                                                                                              \
        const zelbridge::GraphBinding& graph = zelbridge::GraphBinding::Instance();                                \
        if (graph.ReadyForQuietCall())                                                   \
            return graph.functions().Call<zelbridge::GraphFunction::name>(ZELBRIDGE_GRAPH_UNPACK arguments);        \
        return zelbridge::GraphSlowCall<zelbridge::GraphFunction::name>::Call(#name, unavailable,                  \
                                                                               ZELBRIDGE_GRAPH_UNPACK arguments);   \
    }
#define ZELBRIDGE_GRAPH_UNPACK(...) __VA_ARGS__
ZELBRIDGE_GRAPH_FUNCTIONS(ZELBRIDGE_DEFINE_GRAPH_ENTRY_POINT)
#undef ZELBRIDGE_DEFINE_GRAPH_ENTRY_POINT
#undef ZELBRIDGE_GRAPH_UNPACK

} // extern "C"
