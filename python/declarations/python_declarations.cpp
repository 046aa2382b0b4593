// Writes the Python package's declarations of the entry points from the
// operation table and the family catalog: zelbridge/_operations.py. With
// --check FILE it says whether FILE is what it would write.
#include "api/driver_contract.h"
#include "families/family_catalog.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <type_traits>

namespace zelbridge {
namespace {

// The ctypes name of one parameter: what the driver reads in it, else its C type.
template <typename Parameter> const char* PythonType(ArgumentKind kind)
{
    if (kind == ArgumentKind::Text || kind == ArgumentKind::Buffer)
        return "\"text\"";
    if (kind == ArgumentKind::IntegerOut)
        return "\"int_pointer\"";
    return sizeof(Parameter) == sizeof(std::int32_t) ? "\"int\"" : "\"word\"";
}

template <typename Function> struct Signature;
template <typename Result, typename... Parameters> struct Signature<Result(ZELBRIDGE_CALL*)(Parameters...)> {
    // The parameters after the first `skip`, each with its kind.
    static std::string Arguments(const ArgumentKinds& kinds, unsigned skip)
    {
        std::string text;
        unsigned index = 0;
        unsigned kind = 0;
        unsigned written = 0;
        const auto add = [&](const char* type) {
            if (index++ < skip)
                return;
            text += written++ ? ", " : "";
            text += type;
        };
        (add(index < skip ? "" : PythonType<Parameters>(kinds.kinds[kind++])), ...);
        return "(" + text + (written == 1 ? ",)" : ")");
    }
    static const char* Result_() { return std::is_void_v<Result> ? "None" : "\"int\""; }
};

const char* KindName(OperationKind kind)
{
    switch (kind) {
    case OperationKind::Connect: return "connect";
    case OperationKind::Unbound: return "unbound";
    case OperationKind::OnConnection: return "on_connection";
    }
    return "";
}

std::string Declarations()
{
    std::ostringstream out;
    out << "\"\"\"The entry points' declarations, written by python_declarations from the\n"
           "operation table and the family catalog; do not edit. A test fails while this\n"
           "file differs from what the tables give.\"\"\"\n\n"
           "# operation: (result, arguments after the system index, kind)\n"
           "OPERATIONS = {\n";
#define ZELBRIDGE_PYTHON_GENERIC(name, params, args, description, families)                                              \
    out << "    \"" #name "\": ("                                                                           \
        << (Describe(Operation::name).result == EntryResult::NoResult ? "None" : "\"int\"") << ", "      \
        << Signature<DriverFunction<Operation::name>>::Arguments(                                           \
               Describe(Operation::name).arguments,                                                          \
               Describe(Operation::name).kind == OperationKind::OnConnection ? 1 : 0)                       \
        << ", \"" << KindName(Describe(Operation::name).kind) << "\"),\n";
    ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_PYTHON_GENERIC)
#undef ZELBRIDGE_PYTHON_GENERIC
    out << "}\n\n"
           "# What Connect calls: the first of these the driver (or family) has.\n"
           "CONNECT_CALLS = (";
    for (Operation operation : kConnectCalls)
        out << "\"" << Describe(operation).name << "\", ";
    out << ")\n\n"
           "# family prefix: {call: (result, every argument)}\n"
           "FAMILY_CALLS = {\n";
    // Each operation's family declaration: every parameter, the connection
    // identifier included.
    std::string familyCall[kDescribedOperationCount];
#define ZELBRIDGE_PYTHON_FAMILY_CALL(name, params, args, description, families)                                  \
    familyCall[static_cast<unsigned>(Operation::name)] =                                                          \
        std::string("(") +                                                                                        \
        (Describe(Operation::name).result == EntryResult::NoResult ? "None" : "\"int\"") + ", " +                \
        Signature<DriverFunction<Operation::name>>::Arguments(FamilyArguments(Operation::name), 0) + ")";
    ZELBRIDGE_ALL_OPERATIONS(ZELBRIDGE_PYTHON_FAMILY_CALL)
#undef ZELBRIDGE_PYTHON_FAMILY_CALL
    std::size_t family = 0;
#define ZELBRIDGE_PYTHON_FAMILY(name, prefix, ...) "\"" ZELBRIDGE_FAMILY_STRING(prefix) "\"",
    for (const char* prefix : {ZELBRIDGE_FAMILIES(ZELBRIDGE_PYTHON_FAMILY)}) {
        out << "    " << prefix << ": {\n"
            << "        \"IsDLLAvailable\": (\"int\", ()),\n";
        for (const FamilyUse& use : FamilyUsesInResolutionOrder())
            if (Exports(static_cast<Family>(family), use.operation))
                out << "        \"" << Describe(use.operation).name << "\": "
                    << familyCall[static_cast<unsigned>(use.operation)] << ",\n";
        out << "    },\n";
        ++family;
    }
#undef ZELBRIDGE_PYTHON_FAMILY
    out << "}\n";
    return out.str();
}

} // namespace
} // namespace zelbridge

int main(int argc, char** argv)
{
    const std::string declarations = zelbridge::Declarations();
    if (argc == 3 && std::string(argv[1]) == "--check") {
        std::ifstream file(argv[2], std::ios::binary);
        std::ostringstream current;
        current << file.rdbuf();
        if (current.str() == declarations)
            return 0;
        std::cerr << argv[2] << " is not what the operation table and the family catalog give; write it anew with\n"
                  << "  " << argv[0] << " > " << argv[2] << "\n";
        return 1;
    }
    std::cout << declarations;
    return 0;
}
