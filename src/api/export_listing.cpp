// Prints what scripts and the build need from the description of the 150
// exports, so that the compiler is its one reader: built for the machine that
// builds, run at configure time and by the tests.
//   --json   every export: name, ordinal, group, argument kinds, bytes a 32-bit
//            caller pushes, results without a driver, timing, window
//   --def    the module definition file (src/module/Zelbridge.def)
//   --cmake  the driver export lists, as CMake variables
//   --check-def FILE  whether FILE is what --def prints
#include "api/driver_contract.h"
#include "families/family_catalog.h"
#include "graph/graph_functions.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace zelbridge {
namespace {

// Only ConnectPciBoard is exported under its decorated name, on every target.
constexpr Operation kDecoratedExport = Operation::ConnectPciBoard;
constexpr int kDefineSystemOrdinal = 112;

const char* KindName(ArgumentKind kind)
{
    switch (kind) {
    case ArgumentKind::Integer: return "integer";
    case ArgumentKind::Opaque: return "opaque";
    case ArgumentKind::Text: return "text";
    case ArgumentKind::Buffer: return "buffer";
    case ArgumentKind::Capacity: return "capacity";
    case ArgumentKind::IntegerOut: return "integer_out";
    }
    return "";
}

const char* RoleName(OperationKind kind)
{
    switch (kind) {
    case OperationKind::Connect: return "connect";
    case OperationKind::Unbound: return "unbound";
    case OperationKind::OnConnection: return "on_connection";
    }
    return "";
}

const char* TimingName(OperationTiming timing)
{
    switch (timing) {
    case OperationTiming::Traced: return "traced";
    case OperationTiming::Silent: return "silent";
    case OperationTiming::Untimed: return "untimed";
    }
    return "";
}

struct Export {
    int ordinal = 0;
    std::string name;     // as exported on 32-bit Windows
    std::string internal; // the function's own name
    std::string group;    // generic, family, graph
    std::string family;   // the family's name, for a family export
    std::string prefix;   // the family's prefix
    std::string library;  // the library a family or graph export forwards to
    std::string role;     // connect, unbound, on_connection; empty where none
    std::vector<std::string> arguments; // after the index; every one for family and graph calls
    int bytes = 0;        // what a 32-bit caller pushes
    bool result = true;
    std::string badIndex, missingLibrary, missingFunction; // "" where the case cannot arise
    std::string timing = "untimed";
    bool window = false;
};

// A graph word is opaque: only the graph library knows what it means.
template <typename Function> struct GraphArguments;
template <typename... Parameters> struct GraphArguments<int(ZELBRIDGE_CALL*)(Parameters...)> {
    static std::vector<std::string> Names() { return {(std::is_same_v<Parameters, double> ? "double" : "opaque")...}; }
    static int Bytes() { return (0 + ... + (std::is_same_v<Parameters, double> ? 8 : 4)); }
};

std::string Number(std::int32_t value) { return std::to_string(value); }

std::vector<std::string> Kinds(const ArgumentKinds& kinds)
{
    std::vector<std::string> names;
    for (unsigned i = 0; i < kinds.count; ++i)
        names.push_back(KindName(kinds.kinds[i]));
    return names;
}

std::vector<Export> AllExports()
{
    std::vector<Export> exports;
    for (unsigned i = 0; i < kOperationCount; ++i) {
        const auto operation = static_cast<Operation>(i);
        const OperationDescription& d = Describe(operation);
        Export e;
        e.ordinal = d.ordinal;
        e.internal = d.name;
        e.group = "generic";
        e.role = RoleName(d.kind);
        e.arguments = Kinds(d.arguments);
        e.bytes = 4 * (1 + d.arguments.count);
        e.name = operation == kDecoratedExport ? "_" + e.internal + "@" + std::to_string(e.bytes) : e.internal;
        e.result = d.result != EntryResult::NoResult;
        // An export without a result still meets each case: it returns nothing.
        e.badIndex = Number(d.invalidIndexResult);
        e.missingFunction = Number(d.missingResult);
        e.timing = TimingName(d.timing);
        e.window = d.interaction == Interaction::Dialog;
        exports.push_back(e);
    }
    {
        Export e;
        e.ordinal = kDefineSystemOrdinal;
        e.name = e.internal = "DefineSystem";
        e.group = "generic";
        e.arguments = {"text", "text"};
        e.bytes = 8;
        e.missingLibrary = "-1";
        e.timing = "traced";
        exports.push_back(e);
    }
    std::size_t family = 0;
#define ZELBRIDGE_LIST_FAMILY(familyName, familyPrefix, familyResolution, familyLibrary, style, reports, availabilityOrdinal)               \
    {                                                                                                               \
        Export e;                                                                                                   \
        e.ordinal = availabilityOrdinal;                                                                            \
        e.name = e.internal = ZELBRIDGE_FAMILY_STRING(familyPrefix) "IsDLLAvailable";                                     \
        e.group = "family";                                                                                         \
        e.family = #familyName;                                                                                           \
        e.prefix = ZELBRIDGE_FAMILY_STRING(familyPrefix);                                                                 \
        e.library = familyLibrary;                                                                                        \
        e.missingLibrary = "0";                                                                                     \
        exports.push_back(e);                                                                                       \
        for (const FamilyUse& use : kFamilyUses) {                                                                  \
            const int ordinal = use.ordinals[family];                                                               \
            if (ordinal == 0)                                                                                       \
                continue;                                                                                           \
            const OperationDescription& d = Describe(use.operation);                                                \
            Export entry;                                                                                           \
            entry.ordinal = ordinal;                                                                                \
            entry.name = entry.internal = ZELBRIDGE_FAMILY_STRING(familyPrefix) + std::string(d.name);                    \
            entry.group = "family";                                                                                 \
            entry.family = #familyName;                                                                                   \
            entry.prefix = e.prefix;                                                                                \
            entry.library = e.library;                                                                              \
            entry.role = RoleName(d.kind);                                                                          \
            const ArgumentKinds kinds = FamilyArguments(use.operation);                                             \
            entry.arguments = Kinds(kinds);                                                                         \
            entry.bytes = 4 * kinds.count;                                                                          \
            entry.result = d.result != EntryResult::NoResult;                                                       \
            entry.missingLibrary = Number(d.missingResult);                                                     \
            entry.window = d.interaction == Interaction::Dialog;                                                    \
            exports.push_back(entry);                                                                               \
        }                                                                                                           \
        ++family;                                                                                                   \
    }
    ZELBRIDGE_FAMILIES(ZELBRIDGE_LIST_FAMILY)
#undef ZELBRIDGE_LIST_FAMILY
#define ZELBRIDGE_LIST_GRAPH(graphOrdinal, function, graphParameters, graphArguments, unavailable)                                     \
    {                                                                                                               \
        Export e;                                                                                                   \
        e.ordinal = graphOrdinal;                                                                                        \
        e.name = e.internal = #function;                                                                                \
        e.group = "graph";                                                                                          \
        e.library = kGraphLibraryFile;                                                                              \
        e.arguments = GraphArguments<decltype(&::function)>::Names();                                                   \
        e.bytes = GraphArguments<decltype(&::function)>::Bytes();                                                       \
        e.missingLibrary = Number(unavailable);                                                                     \
        exports.push_back(e);                                                                                       \
    }
    ZELBRIDGE_GRAPH_FUNCTIONS(ZELBRIDGE_LIST_GRAPH)
#undef ZELBRIDGE_LIST_GRAPH
    std::sort(exports.begin(), exports.end(), [](const Export& a, const Export& b) { return a.ordinal < b.ordinal; });
    return exports;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

void PrintJson(const std::vector<Export>& exports)
{
    std::cout << "[\n";
    for (std::size_t i = 0; i < exports.size(); ++i) {
        const Export& e = exports[i];
        const auto optional = [](const std::string& value) { return value.empty() ? std::string("null") : value; };
        std::string arguments;
        for (const std::string& argument : e.arguments)
            arguments += (arguments.empty() ? "" : ", ") + Quoted(argument);
        std::cout << "  {\"ordinal\": " << e.ordinal << ", \"name\": " << Quoted(e.name)
                  << ", \"function\": " << Quoted(e.internal) << ", \"group\": " << Quoted(e.group)
                  << ", \"family\": " << (e.family.empty() ? "null" : Quoted(e.family))
                  << ", \"prefix\": " << (e.prefix.empty() ? "null" : Quoted(e.prefix))
                  << ", \"library\": " << (e.library.empty() ? "null" : Quoted(e.library))
                  << ", \"role\": " << (e.role.empty() ? "null" : Quoted(e.role)) << ", \"arguments\": [" << arguments
                  << "], \"bytes\": " << e.bytes << ", \"result\": " << (e.result ? "true" : "false")
                  << ", \"bad_index\": " << optional(e.badIndex)
                  << ", \"missing_library\": " << optional(e.missingLibrary)
                  << ", \"missing_function\": " << optional(e.missingFunction) << ", \"timing\": " << Quoted(e.timing)
                  << ", \"window\": " << (e.window ? "true" : "false") << "}" << (i + 1 < exports.size() ? "," : "")
                  << "\n";
    }
    std::cout << "]\n";
}

void PrintDef(const std::vector<Export>& exports)
{
    std::cout << "; Export table of Zelbridge.dll: the names and ordinals applications link to.\n"
                 "; Each line is \"exported name = internal stdcall name @ordinal\"; the linker\n"
                 "; checks every internal name, and with it each entry point's argument bytes.\n"
                 "; Written by export_listing --def from the description of the exports; a test\n"
                 "; fails while it differs.\n"
                 "LIBRARY \"Zelbridge.DLL\"\n"
                 "EXPORTS\n";
    for (const Export& e : exports)
        std::cout << "    " << e.name << " = " << e.internal << "@" << e.bytes << " @" << e.ordinal << "\n";
}

void PrintCmake()
{
    std::cout << "# Written by export_listing --cmake from the description of the exports.\n";
    std::cout << "set(ZELBRIDGE_DRIVER_OPERATION_NAMES";
    for (const char* name : kOperationNames)
        std::cout << " " << name;
    std::cout << ")\nset(ZELBRIDGE_FAMILY_NAMES";
#define ZELBRIDGE_CMAKE_FAMILY_NAME(name, ...) std::cout << " " #name;
    ZELBRIDGE_FAMILIES(ZELBRIDGE_CMAKE_FAMILY_NAME)
#undef ZELBRIDGE_CMAKE_FAMILY_NAME
    std::cout << ")\n";
    std::size_t family = 0;
#define ZELBRIDGE_CMAKE_FAMILY(name, prefix, resolution, library, ...)                                              \
    std::cout << "set(ZELBRIDGE_FAMILY_" #name "_PREFIX " ZELBRIDGE_FAMILY_STRING(prefix) ")\n"                       \
              << "set(ZELBRIDGE_FAMILY_" #name "_RESOLUTION " ZELBRIDGE_FAMILY_STRING(resolution) ")\n"               \
              << "set(ZELBRIDGE_FAMILY_" #name "_LIBRARY " library ")\n"                                              \
              << "set(ZELBRIDGE_FAMILY_" #name "_DRIVER_FUNCTIONS";                                                  \
    for (const FamilyUse& use : FamilyUsesInResolutionOrder())                                                      \
        if (use.ordinals[family] != 0)                                                                              \
            std::cout << " " ZELBRIDGE_FAMILY_STRING(resolution) << use.driverFunction;                             \
    std::cout << ")\n";                                                                                             \
    ++family;
    ZELBRIDGE_FAMILIES(ZELBRIDGE_CMAKE_FAMILY)
#undef ZELBRIDGE_CMAKE_FAMILY
}

} // namespace
} // namespace zelbridge

int main(int argc, char** argv)
{
    const std::string mode = argc >= 2 ? argv[1] : "";
    if (mode == "--check-def" && argc == 3) {
        // The module definition file in the tree, held to the description.
        std::ifstream file(argv[2], std::ios::binary);
        std::ostringstream current;
        current << file.rdbuf();
        std::ostringstream expected;
        std::streambuf* const standardOutput = std::cout.rdbuf(expected.rdbuf());
        zelbridge::PrintDef(zelbridge::AllExports());
        std::cout.rdbuf(standardOutput);
        if (current.str() == expected.str())
            return 0;
        std::cerr << argv[2] << " differs from the description of the exports; write it anew with\n  " << argv[0]
                  << " --def > " << argv[2] << "\n";
        return 1;
    }
    if (mode == "--json")
        zelbridge::PrintJson(zelbridge::AllExports());
    else if (mode == "--def")
        zelbridge::PrintDef(zelbridge::AllExports());
    else if (mode == "--cmake")
        zelbridge::PrintCmake();
    else {
        std::cerr << "usage: export_listing --json | --def | --cmake | --check-def FILE\n";
        return 2;
    }
    return 0;
}
