// What the graph tests share: the module loaded the way an application loads
// it, the install path, the log of the stand-in graph libraries, and a walk
// that calls every graph entry point with arguments of its own.
#pragma once

#include "graph/graph_functions.h"
#include "graph_call_text.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace zelbridge::test {

struct GraphCall {
    std::string function;
    int result;
    // What the library was scripted to return, and the line it should log.
    int libraryResult;
    std::string expectedLine;
};

// Argument values that no other argument of a walk repeats: words of both
// signs, doubles with fraction bits set.
class ArgumentSource {
public:
    explicit ArgumentSource(int walk) : next_(walk * 1000) {}
    template <typename Value> Value Next();

private:
    int next_;
};

template <> inline ZelWord ArgumentSource::Next<ZelWord>()
{
    ++next_;
    return next_ % 2 ? next_ : -next_;
}

template <> inline double ArgumentSource::Next<double>()
{
    ++next_;
    return (next_ % 2 ? -1 : 1) * (next_ + 0.375);
}

// Written out rather than taken from the function table the module is built from.
inline int UnavailableResult(const std::string& function)
{
    return function == "QXGraph3DCreate" ? -1 : 0;
}

class GraphTest : public ::testing::Test {
protected:
    GraphTest() { installPath.Remove(); }

    static std::string BinarySubfolder(const std::string& folder) { return BinaryDirectory() + PathSeparator() + folder; }

    // Calls every entry point once, in the order of the function table, each
    // after scripting a result of the library's own for it.
    std::vector<GraphCall> CallEveryEntryPoint(int walk)
    {
        std::vector<GraphCall> calls;
        ArgumentSource source(walk);
#define GRAPH_TEST_CALL(ordinal, name, parameters, arguments, unavailable)                                         \
    calls.push_back(CallWithFreshArguments(module.Get<decltype(&::name)>(#name), #name,                            \
                                           (ordinal % 2 ? -1 : 1) * (ordinal * 100 + walk), source));
        ZELBRIDGE_GRAPH_FUNCTIONS(GRAPH_TEST_CALL)
#undef GRAPH_TEST_CALL
        return calls;
    }

    // How many loads of the library at `path` the module holds: the test
    // adds one of its own, then releases until the library records its
    // unloading. -1 when that never happens.
    int LoadsHeldByTheModule(const std::string& path, const std::string& tag)
    {
        const platform::ModuleHandle library = platform::OpenModule(path.c_str());
        if (!library)
            return -1;
        const std::string unloaded = tag + ":unload\n";
        for (int releases = 1; releases <= 8; ++releases) {
            platform::CloseModule(library);
            if (script.Log().find(unloaded) != std::string::npos)
                return releases - 1;
        }
        return -1;
    }

    ScopedInstallPath installPath;
    ScopedDriverScript script;
    ZelbridgeModule module;

private:
    template <typename... Arguments>
    GraphCall CallWithFreshArguments(int(ZELBRIDGE_CALL* entryPoint)(Arguments...), const char* function,
                                     int libraryResult, ArgumentSource& source)
    {
        script.SetResult(function, libraryResult);
        // Braced initialisation takes the values in order.
        const std::tuple<Arguments...> values{source.Next<Arguments>()...};
        GraphCall call{function, 0, libraryResult,
                       std::apply([function](auto... value) { return GraphCallText(function, value...); }, values)};
        if (entryPoint)
            call.result = std::apply(entryPoint, values);
        return call;
    }
};

} // namespace zelbridge::test
