// The 31 functions of the 3D graph library, listed once: the entry points, the
// names resolved, the function table and the tests are all made from this list.
#pragma once

#include "zelbridge.h"

#include <cstddef>

// X(ordinal, name, parameters, arguments, result when unavailable), in the
// order of the function table. The graph library's function of each name takes
// the same parameters as the entry point; the ordinal is the entry point's
// number in the module's export table.
#define ZELBRIDGE_GRAPH_FUNCTIONS(X)                                                                               \
    X(120, QXGraph3DCreate, (ZelWord w1, ZelWord w2), (w1, w2), -1)                                                \
    X(121, QXGraph3DPlotZELArray, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                          \
    X(122, QXGraph3DResetPointOfView, (ZelWord w1), (w1), 0)                                                      \
    X(123, QXGraph3DClearData, (ZelWord w1), (w1), 0)                                                             \
    X(145, QXGraph3DClose, (ZelWord w1), (w1), 0)                                                                 \
    X(146, QXGraph3DShow, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                                  \
    X(124, QXGraph3DInitGridData, (ZelWord w1, double d1, double d2, ZelWord w2, double d3, double d4, ZelWord w3), \
      (w1, d1, d2, w2, d3, d4, w3), 0)                                                                             \
    X(125, QXGraph3DAddDataPoint, (ZelWord w1, ZelWord w2, ZelWord w3, double d1), (w1, w2, w3, d1), 0)           \
    X(126, QXGraph3DGetAutoRange, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                          \
    X(127, QXGraph3DSetAutoRange, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                          \
    X(128, QXGraph3DGetRange, (ZelWord w1, ZelWord w2, ZelWord w3, ZelWord w4), (w1, w2, w3, w4), 0)              \
    X(129, QXGraph3DSetRange, (ZelWord w1, ZelWord w2, double d1, double d2), (w1, w2, d1, d2), 0)                \
    X(130, QXGraph3DSetDrawXYGrid, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                         \
    X(131, QXGraph3DSetDrawXZGrid, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                         \
    X(132, QXGraph3DSetDrawYZGrid, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                         \
    X(133, QXGraph3DSetDrawTicks, (ZelWord w1, ZelWord w2, ZelWord w3), (w1, w2, w3), 0)                          \
    X(134, QXGraph3DSetDrawLabel, (ZelWord w1, ZelWord w2, ZelWord w3), (w1, w2, w3), 0)                          \
    X(135, QXGraph3DSetShowWires, (ZelWord w1, ZelWord w2, ZelWord w3), (w1, w2, w3), 0)                          \
    X(136, QXGraph3DSetShowSurfaces, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                       \
    X(137, QXGraph3DSetProjection, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                         \
    X(138, QXGraph3DSetBackgroundColour, (ZelWord w1, ZelWord w2, ZelWord w3, ZelWord w4), (w1, w2, w3, w4), 0)   \
    X(139, QXGraph3DGetBackgroundColour, (ZelWord w1, ZelWord w2, ZelWord w3, ZelWord w4), (w1, w2, w3, w4), 0)   \
    X(140, QXGraph3DSetDrawXYProjection, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                   \
    X(141, QXGraph3DSetDrawXZProjection, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                   \
    X(142, QXGraph3DSetDrawYZProjection, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                   \
    X(143, QXGraph3DCopyToClipboard, (ZelWord w1), (w1), 0)                                                       \
    X(144, QXGraph3DSelectColourMap, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                       \
    X(147, QXGraph3DSaveToImageFile, (ZelWord w1, ZelWord w2, ZelWord w3), (w1, w2, w3), 0)                       \
    X(148, QXGraph3DSetTickDigits, (ZelWord w1, ZelWord w2, ZelWord w3), (w1, w2, w3), 0)                         \
    X(149, QXGraph3DSetFontSize, (ZelWord w1, ZelWord w2), (w1, w2), 0)                                           \
    X(150, QXGraph3DGetFontSize, (ZelWord w1, ZelWord w2), (w1, w2), 0)

namespace zelbridge {

inline constexpr char kGraphLibraryFile[] = "wxQXGraph3D.dll";

enum class GraphFunction : unsigned {
#define ZELBRIDGE_GRAPH_ENUMERATE(ordinal, name, parameters, arguments, unavailable) name,
    ZELBRIDGE_GRAPH_FUNCTIONS(ZELBRIDGE_GRAPH_ENUMERATE)
#undef ZELBRIDGE_GRAPH_ENUMERATE
};

inline constexpr std::size_t kGraphFunctionCount = 0
#define ZELBRIDGE_GRAPH_COUNT(ordinal, name, parameters, arguments, unavailable) +1
    ZELBRIDGE_GRAPH_FUNCTIONS(ZELBRIDGE_GRAPH_COUNT)
#undef ZELBRIDGE_GRAPH_COUNT
    ;
static_assert(kGraphFunctionCount == 31);

inline constexpr const char* kGraphFunctionNames[kGraphFunctionCount] = {
#define ZELBRIDGE_GRAPH_NAME(ordinal, name, parameters, arguments, unavailable) #name,
    ZELBRIDGE_GRAPH_FUNCTIONS(ZELBRIDGE_GRAPH_NAME)
#undef ZELBRIDGE_GRAPH_NAME
};

// The graph library's function has exactly the type of the entry point the
// public header declares under the same name.
template <GraphFunction> struct GraphFunctionTypeOf;
#define ZELBRIDGE_GRAPH_TYPE(ordinal, name, parameters, arguments, unavailable)                                    \
    template <> struct GraphFunctionTypeOf<GraphFunction::name> {                                                  \
        using Type = decltype(&::name);                                                                            \
    };
ZELBRIDGE_GRAPH_FUNCTIONS(ZELBRIDGE_GRAPH_TYPE)
#undef ZELBRIDGE_GRAPH_TYPE
template <GraphFunction function> using GraphFunctionType = typename GraphFunctionTypeOf<function>::Type;

} // namespace zelbridge
