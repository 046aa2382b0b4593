// What a driver library offers a defined system: the 28 operations, in the
// order of a binding's operation table, with the argument list each driver
// function takes. Driver functions use the standard calling convention and
// return a 32-bit result; the results of the two close operations are ignored.
#pragma once

#include <cstdint>

// A needed driver function or driver library is not available; the same
// value, spelled the same way, as in the public header.
#define FUNCTION_NOT_AVAILABLE (-1034)
// What a driver's TranslateError says of that code: a caller hands every
// failure it got to the driver of its system, the bridge's own included.
#define FUNCTION_NOT_AVAILABLE_TEXT "function not available"

#if defined(_WIN32)
#define ZELBRIDGE_STDCALL __stdcall
#else
#define ZELBRIDGE_STDCALL
#endif

namespace zelbridge {

// A value the bridge passes through without looking at it: an integer or a
// pointer, one 32-bit word on the Windows target.
using Word = std::intptr_t;
using ConnectionId = std::int32_t;


// X(operation, parameter list, argument list). The parameter lists are those
// of the driver functions, so per-connection operations start with the
// connection identifier.
#define ZELBRIDGE_DRIVER_OPERATIONS(X)                                                                   \
    X(InterfaceSetupDlg, (Word a1), (a1))                                                                \
    X(ConnectRS232, (Word a1, Word a2), (a1, a2))                                                        \
    X(ConnectNIgpib, (Word a1, Word a2), (a1, a2))                                                       \
    X(ConnectPciBoard, (Word a1), (a1))                                                                  \
    X(Connect, (Word a1), (a1))                                                                          \
    X(ConnectTCPIP, (Word a1, Word a2), (a1, a2))                                                        \
    X(ConnectDaisyChainDevice, (Word a1, Word a2), (a1, a2))                                             \
    X(ConnectUSB, (Word a1), (a1))                                                                       \
    X(ListUSB, (Word a1, Word a2), (a1, a2))                                                             \
    X(EnumerateUSB, (Word a1, Word a2, Word a3), (a1, a2, a3))                                           \
    X(TranslateError, (Word a1, Word a2, Word a3), (a1, a2, a3))                                         \
    X(OpenRS232DaisyChain, (Word a1, Word a2, Word a3, Word a4, Word a5), (a1, a2, a3, a4, a5))          \
    X(CloseDaisyChain, (Word a1), (a1))                                                                  \
    X(IsConnected, (ConnectionId id), (id))                                                              \
    X(CloseConnection, (ConnectionId id), (id))                                                          \
    X(SetErrorCheck, (ConnectionId id, Word a1), (id, a1))                                               \
    X(GetError, (ConnectionId id), (id))                                                                 \
    X(ZelCommandset, (ConnectionId id, const char* command), (id, command))                              \
    X(ZelGetAnswer, (ConnectionId id, char* answer, std::int32_t size), (id, answer, size))              \
    X(ZelGetAnswerSize, (ConnectionId id, std::int32_t* answerSize), (id, answerSize))                   \
    X(SetQMC, (ConnectionId id, Word a1, Word a2, Word a3), (id, a1, a2, a3))                            \
    X(GetQMC, (ConnectionId id, Word a1, Word a2, Word a3), (id, a1, a2, a3))                            \
    X(SetQMCA, (ConnectionId id, Word a1, Word a2, Word a3, Word a4), (id, a1, a2, a3, a4))              \
    X(GetQMCA, (ConnectionId id, Word a1, Word a2, Word a3, Word a4), (id, a1, a2, a3, a4))              \
    X(OpenUserStagesEditDialog, (ConnectionId id), (id))                                                 \
    X(OpenQxStagesEditDialog, (ConnectionId id), (id))                                                   \
    X(SendNonZELString, (ConnectionId id, Word a1), (id, a1))                                            \
    X(ReceiveNonZELString, (ConnectionId id, Word a1, Word a2), (id, a1, a2))

enum class Operation : unsigned {
#define ZELBRIDGE_ENUMERATE(name, params, args) name,
    ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_ENUMERATE)
#undef ZELBRIDGE_ENUMERATE
};

inline constexpr unsigned kOperationCount = 0
#define ZELBRIDGE_COUNT(name, params, args) +1
    ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_COUNT)
#undef ZELBRIDGE_COUNT
    ;
static_assert(kOperationCount == 28);

inline constexpr const char* kOperationNames[kOperationCount] = {
#define ZELBRIDGE_NAME(name, params, args) #name,
    ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_NAME)
#undef ZELBRIDGE_NAME
};

// The driver function type of each operation: DriverFunction<Operation::GetError>.
template <Operation> struct DriverFunctionOf;
#define ZELBRIDGE_FUNCTION_TYPE(name, params, args)                                                      \
    template <> struct DriverFunctionOf<Operation::name> {                                               \
        using Type = std::int32_t(ZELBRIDGE_STDCALL*) params;                                            \
    };
ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_FUNCTION_TYPE)
#undef ZELBRIDGE_FUNCTION_TYPE
template <Operation op> using DriverFunction = typename DriverFunctionOf<op>::Type;

} // namespace zelbridge
