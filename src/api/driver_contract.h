// The one description of the operations: the 28 a driver library offers a
// defined system, in the order of a binding's operation table, and the few
// only the families export, with the argument list each driver function takes
// and where each family exports it. Driver functions use the standard calling convention and
// return a 32-bit result; the results of the two close operations are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

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


// What each generic operation is, for every layer that needs to know: the
// entry points and the binding forward by it, the recorder writes each
// argument by its kind, the tool and the Python package take their lists from
// it, and the tests hold the header and the module definition file to it.
enum class OperationKind : std::uint8_t {
    Connect,      // the result becomes the system's connection identifier
    Unbound,      // the caller's words only, no connection
    OnConnection, // the connection identifier goes first
};

// What one word after the index (or the connection identifier) is to the
// drivers of this project and the header's documentation.
enum class ArgumentKind : std::uint8_t {
    Integer,    // a number the driver reads: port, baud rate, error code
    Opaque,     // a word whose meaning is the driver's alone: read by nobody else
    Text,       // a terminated text the driver reads
    Buffer,     // a char buffer the driver writes; its capacity follows
    Capacity,   // the size in bytes of the buffer before it
    IntegerOut, // a 32-bit integer the driver writes
};

enum class OperationTiming : std::uint8_t {
    Traced,  // TIMER start and end lines
    Silent,  // an end line only for a call that took a tick: polled in tight loops
    Untimed,
};

// What the entry point gives back.
enum class EntryResult : std::uint8_t {
    DriverResult,     // the driver's result, unchanged
    IndexIfConnected, // the system index when the driver's result is 0 or more, else -1
    NoResult,         // the entry point returns nothing
};

// Whether the driver function shows a window on the machine that calls it.
enum class Interaction : std::uint8_t { Plain, Dialog };

inline constexpr unsigned kMaxOperationArguments = 5;

struct ArgumentKinds {
    ArgumentKind kinds[kMaxOperationArguments] = {};
    std::uint8_t count = 0;
};

template <typename... Kinds> constexpr ArgumentKinds Takes(Kinds... kinds)
{
    static_assert(sizeof...(Kinds) <= kMaxOperationArguments);
    ArgumentKinds list{};
    ((list.kinds[list.count++] = kinds), ...);
    return list;
}

struct OperationDescription {
    const char* name;
    OperationKind kind;
    ArgumentKinds arguments;
    int ordinal; // of the generic export of the same name; 0 for an operation of the families alone
    OperationTiming timing;
    EntryResult result;
    std::int32_t invalidIndexResult; // when the index names no system
    // When the driver function cannot be called: a generic driver lacks it,
    // or a family's library is missing or incomplete.
    std::int32_t missingResult;
    Interaction interaction;
};

// The family table: the families whose entry points the rows below name.
// F(family, exported prefix, resolution prefix, library file, load style,
//   whether the command forwarder writes its unavailable line,
//   ordinal of the availability check)
// M317_VB_ resolves the M317_ names, from a library of its own. The order is
// that of the columns of ordinals in each row's InFamilies(...).
#define ZELBRIDGE_FAMILIES_WITH(F, context)                                                                         \
    F(context, M317, M317_, M317_, "M317_ZEL_DLL.DLL", SharedLoader, true, 1)                                        \
    F(context, M317_VB, M317_VB_, M317_, "M317_VB_ZEL_DLL.DLL", FullTrace, true, 36)                                 \
    F(context, M318, M318_, M318_, "M318_ZEL_DLL.DLL", ShortTrace, false, 11)                                        \
    F(context, M329, M329_, M329_, "M329_ZEL_DLL.DLL", FullTrace, true, 48)                                          \
    F(context, T520, T520_, T520_, "T520_ZEL_DLL.DLL", ShortTrace, false, 79)                                        \
    F(context, T5XX, T5XX_, T5XX_, "T5XX_ZEL_DLL.DLL", ShortTrace, false, 23)

// Each family's column in the rows' ordinals. A row may end before the
// column of a family added later: that family lacks the operation.
#define ZELBRIDGE_FAMILY_MARK_M317(...) ZELBRIDGE_FAMILY_COLUMN_1(__VA_ARGS__, 0, 0, 0, 0, 0, 0, 0, 0)
#define ZELBRIDGE_FAMILY_MARK_M317_VB(...) ZELBRIDGE_FAMILY_COLUMN_2(__VA_ARGS__, 0, 0, 0, 0, 0, 0, 0, 0)
#define ZELBRIDGE_FAMILY_MARK_M318(...) ZELBRIDGE_FAMILY_COLUMN_3(__VA_ARGS__, 0, 0, 0, 0, 0, 0, 0, 0)
#define ZELBRIDGE_FAMILY_MARK_M329(...) ZELBRIDGE_FAMILY_COLUMN_4(__VA_ARGS__, 0, 0, 0, 0, 0, 0, 0, 0)
#define ZELBRIDGE_FAMILY_MARK_T520(...) ZELBRIDGE_FAMILY_COLUMN_5(__VA_ARGS__, 0, 0, 0, 0, 0, 0, 0, 0)
#define ZELBRIDGE_FAMILY_MARK_T5XX(...) ZELBRIDGE_FAMILY_COLUMN_6(__VA_ARGS__, 0, 0, 0, 0, 0, 0, 0, 0)
#define ZELBRIDGE_FAMILY_COLUMN_1(a, ...) a
#define ZELBRIDGE_FAMILY_COLUMN_2(a, b, ...) b
#define ZELBRIDGE_FAMILY_COLUMN_3(a, b, c, ...) c
#define ZELBRIDGE_FAMILY_COLUMN_4(a, b, c, d, ...) d
#define ZELBRIDGE_FAMILY_COLUMN_5(a, b, c, d, e, ...) e
#define ZELBRIDGE_FAMILY_COLUMN_6(a, b, c, d, e, f, ...) f
#define ZELBRIDGE_FAMILY_COLUMN_7(a, b, c, d, e, f, g, ...) g
#define ZELBRIDGE_FAMILY_COLUMN_8(a, b, c, d, e, f, g, h, ...) h
// (COLUMN_7 and COLUMN_8 are there for the families added next.)


// The description of every operation, one row each:
// X(operation, parameter list, argument list, description, families).
// The parameter lists are those of the driver functions, so per-connection
// operations start with the connection identifier; a family entry point takes
// exactly these parameters. The description is
// (connection role, arguments after the index, ordinal of the generic export,
//  timing, entry result, result for an invalid index, result when the driver
//  function cannot be called, interaction);
// an entry point with no result ignores its two results. The last result is
// both a generic call's when its driver lacks the function and a family call's
// when the family library cannot be used.
// The families part is NoFamily, or InFamilies(resolution order, driver
// function after the resolution prefix, family trace, ordinals): the ordinals
// of the family entry points in the order of ZELBRIDGE_FAMILIES_WITH
// above, 0 where a family lacks the operation. A
// family resolves its driver functions in the resolution order.
//
// A new operation is one row here, its declaration in include/zelbridge.h and
// its tests: everything else is generated from the rows or checked against them.
#define ZELBRIDGE_DRIVER_OPERATIONS(X) \
    X(InterfaceSetupDlg, (Word a1), (a1),\
      (Connect, Takes(Opaque), 91, Untimed, IndexIfConnected, -1, -1, Dialog),\
      InFamilies(1, InterfaceSetupDlg, Plain, (0, 0, 12, 0, 80, 24))) \
    X(ConnectRS232, (Word a1, Word a2), (a1, a2),\
      (Connect, Takes(Integer, Integer), 92, Traced, IndexIfConnected, -1, -1, Plain),\
      InFamilies(3, ConnectRS232, Plain, (0, 0, 13, 49, 81, 25))) \
    X(ConnectNIgpib, (Word a1, Word a2), (a1, a2),\
      (Connect, Takes(Integer, Integer), 93, Traced, IndexIfConnected, -1, -1, Plain),\
      InFamilies(4, ConnectNIgpib, Plain, (0, 0, 14, 0, 82, 26))) \
    X(ConnectPciBoard, (Word a1), (a1),\
      (Connect, Takes(Integer), 113, Traced, IndexIfConnected, -1, -1, Plain),\
      InFamilies(5, ConnectPciBoard, Plain, (0, 0, 0, 0, 0, 27))) \
    X(Connect, (Word a1), (a1),\
      (Connect, Takes(Integer), 95, Traced, IndexIfConnected, -1, -1, Plain),\
      InFamilies(2, Connect, Plain, (2, 37, 0, 0, 0, 0))) \
    X(ConnectTCPIP, (Word a1, Word a2), (a1, a2),\
      (Connect, Takes(Text, Integer), 94, Traced, IndexIfConnected, -1, -1, Plain),\
      NoFamily) \
    X(ConnectDaisyChainDevice, (Word a1, Word a2), (a1, a2),\
      (Connect, Takes(Integer, Integer), 114, Traced, DriverResult, -1, -1, Plain),\
      NoFamily) \
    X(ConnectUSB, (Word a1), (a1),\
      (Connect, Takes(Text), 118, Traced, DriverResult, 0, -1, Plain),\
      NoFamily) \
    X(ListUSB, (Word a1, Word a2), (a1, a2),\
      (Unbound, Takes(Buffer, Capacity), 117, Traced, DriverResult, 0, -1, Plain),\
      NoFamily) \
    X(EnumerateUSB, (Word a1, Word a2, Word a3), (a1, a2, a3),\
      (Unbound, Takes(Buffer, Capacity, Opaque), 119, Traced, DriverResult, 0, -1, Plain),\
      NoFamily) \
    X(TranslateError, (Word a1, Word a2, Word a3), (a1, a2, a3),\
      (Unbound, Takes(Integer, Buffer, Capacity), 99, Traced, DriverResult, 0, 0, Plain),\
      InFamilies(10, TranslateError, Plain, (6, 41, 18, 53, 86, 31))) \
    X(OpenRS232DaisyChain, (Word a1, Word a2, Word a3, Word a4, Word a5), (a1, a2, a3, a4, a5),\
      (Unbound, Takes(Integer, Integer, Opaque, Opaque, Opaque), 115, Traced, DriverResult, -1, -1, Plain),\
      NoFamily) \
    X(CloseDaisyChain, (Word a1), (a1),\
      (Unbound, Takes(Integer), 116, Traced, NoResult, 0, 0, Plain),\
      NoFamily) \
    X(IsConnected, (ConnectionId id), (id),\
      (OnConnection, Takes(), 96, Traced, DriverResult, 0, 0, Plain),\
      InFamilies(6, IsConnected, Plain, (3, 38, 15, 50, 83, 28))) \
    X(CloseConnection, (ConnectionId id), (id),\
      (OnConnection, Takes(), 97, Traced, NoResult, 0, 0, Plain),\
      InFamilies(7, CloseConnection, Plain, (4, 39, 16, 51, 84, 29))) \
    X(SetErrorCheck, (ConnectionId id, Word a1), (id, a1),\
      (OnConnection, Takes(Integer), 100, Traced, DriverResult, 0, 0, Plain),\
      InFamilies(9, SetErrorCheck, Plain, (7, 42, 19, 54, 87, 32))) \
    X(GetError, (ConnectionId id), (id),\
      (OnConnection, Takes(), 98, Traced, DriverResult, FUNCTION_NOT_AVAILABLE, FUNCTION_NOT_AVAILABLE, Plain),\
      InFamilies(8, GetError, Plain, (5, 40, 17, 52, 85, 30))) \
    X(ZelCommandset, (ConnectionId id, const char* command), (id, command),\
      (OnConnection, Takes(Text), 101, Traced, DriverResult, 0, 0, Plain),\
      InFamilies(13, ZelCommandset, Command, (8, 43, 20, 55, 88, 33))) \
    X(ZelGetAnswer, (ConnectionId id, char* answer, std::int32_t size), (id, answer, size),\
      (OnConnection, Takes(Buffer, Capacity), 102, Traced, DriverResult, 0, 0, Plain),\
      InFamilies(14, ZelGetAnswer, Answer, (9, 44, 21, 56, 89, 34))) \
    X(ZelGetAnswerSize, (ConnectionId id, std::int32_t* answerSize), (id, answerSize),\
      (OnConnection, Takes(IntegerOut), 103, Silent, DriverResult, 0, 0, Plain),\
      InFamilies(15, ZelGetAnswerSize, Size, (10, 45, 22, 57, 90, 35))) \
    X(SetQMC, (ConnectionId id, Word a1, Word a2, Word a3), (id, a1, a2, a3),\
      (OnConnection, Takes(Opaque, Opaque, Opaque), 104, Traced, DriverResult, 0, 0, Plain),\
      InFamilies(16, SetQMC, Silent, (59, 63, 0, 67, 0, 0))) \
    X(GetQMC, (ConnectionId id, Word a1, Word a2, Word a3), (id, a1, a2, a3),\
      (OnConnection, Takes(Opaque, Opaque, Opaque), 105, Traced, DriverResult, 0, 0, Plain),\
      InFamilies(17, GetQMC, Silent, (60, 64, 0, 68, 0, 0))) \
    X(SetQMCA, (ConnectionId id, Word a1, Word a2, Word a3, Word a4), (id, a1, a2, a3, a4),\
      (OnConnection, Takes(Opaque, Opaque, Opaque, Opaque), 106, Traced, DriverResult, 0, 0, Plain),\
      InFamilies(18, SetQMCA, Silent, (61, 65, 0, 69, 0, 0))) \
    X(GetQMCA, (ConnectionId id, Word a1, Word a2, Word a3, Word a4), (id, a1, a2, a3, a4),\
      (OnConnection, Takes(Opaque, Opaque, Opaque, Opaque), 107, Traced, DriverResult, 0, 0, Plain),\
      InFamilies(19, GetQMCA, Silent, (62, 66, 0, 70, 0, 0))) \
    X(OpenUserStagesEditDialog, (ConnectionId id), (id),\
      (OnConnection, Takes(), 110, Traced, DriverResult, 0, 0, Dialog),\
      InFamilies(20, OpenUserStagesEditDialog, Silent, (73, 75, 0, 77, 0, 0))) \
    X(OpenQxStagesEditDialog, (ConnectionId id), (id),\
      (OnConnection, Takes(), 111, Traced, DriverResult, 0, 0, Dialog),\
      InFamilies(21, OpenQxStagesEditDialog, Silent, (74, 76, 0, 78, 0, 0))) \
    X(SendNonZELString, (ConnectionId id, Word a1), (id, a1),\
      (OnConnection, Takes(Text), 108, Traced, DriverResult, 0, 0, Plain),\
      NoFamily) \
    X(ReceiveNonZELString, (ConnectionId id, Word a1, Word a2), (id, a1, a2),\
      (OnConnection, Takes(Buffer, Capacity), 109, Traced, DriverResult, 0, 0, Plain),\
      NoFamily)

// The operations only families export: rows of the same form, with no generic
// export (ordinal 0), so no timer and no index.
#define ZELBRIDGE_FAMILY_ONLY_OPERATIONS(X) \
    X(GetCurrentBoardId, (Word a1), (a1),\
      (Unbound, Takes(Integer), 0, Untimed, DriverResult, 0, -1, Plain),\
      InFamilies(11, GetCurrentBoardId, Plain, (47, 46, 0, 0, 0, 0))) \
    X(GetCurrentInterfaceId, (Word a1), (a1),\
      (Unbound, Takes(Integer), 0, Untimed, DriverResult, 0, -1, Plain),\
      InFamilies(12, GetCurrentInterfaceId, Plain, (0, 0, 0, 58, 0, 0))) \
    X(SendString, (Word a1, Word a2), (a1, a2),\
      (Unbound, Takes(Integer, Text), 0, Untimed, DriverResult, 0, 0, Plain),\
      InFamilies(22, T5XXSendString, Silent, (0, 0, 0, 0, 0, 71))) \
    X(ReadLine, (ConnectionId id, Word a1, Word a2), (id, a1, a2),\
      (OnConnection, Takes(Buffer, Capacity), 0, Untimed, DriverResult, 0, 0, Plain),\
      InFamilies(23, T5XXReadLine, Line, (0, 0, 0, 0, 0, 72)))

#define ZELBRIDGE_ALL_OPERATIONS(X) ZELBRIDGE_DRIVER_OPERATIONS(X) ZELBRIDGE_FAMILY_ONLY_OPERATIONS(X)

// The generic operations first, so that their values index an operation table.
enum class Operation : unsigned {
#define ZELBRIDGE_ENUMERATE(name, params, args, description, families) name,
    ZELBRIDGE_ALL_OPERATIONS(ZELBRIDGE_ENUMERATE)
#undef ZELBRIDGE_ENUMERATE
};

inline constexpr unsigned kOperationCount = 0
#define ZELBRIDGE_COUNT(name, params, args, description, families) +1
    ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_COUNT)
#undef ZELBRIDGE_COUNT
    ;

// The generic operations and those of the families alone.
inline constexpr unsigned kDescribedOperationCount = 0
#define ZELBRIDGE_COUNT(name, params, args, description, families) +1
    ZELBRIDGE_ALL_OPERATIONS(ZELBRIDGE_COUNT)
#undef ZELBRIDGE_COUNT
    ;

inline constexpr const char* kOperationNames[kOperationCount] = {
#define ZELBRIDGE_NAME(name, params, args, description, families) #name,
    ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_NAME)
#undef ZELBRIDGE_NAME
};

// The driver function type of each operation: DriverFunction<Operation::GetError>.
template <Operation> struct DriverFunctionOf;
#define ZELBRIDGE_FUNCTION_TYPE(name, params, args, description, families)                                                      \
    template <> struct DriverFunctionOf<Operation::name> {                                               \
        using Type = std::int32_t(ZELBRIDGE_STDCALL*) params;                                            \
    };
ZELBRIDGE_ALL_OPERATIONS(ZELBRIDGE_FUNCTION_TYPE)
#undef ZELBRIDGE_FUNCTION_TYPE
template <Operation op> using DriverFunction = typename DriverFunctionOf<op>::Type;

namespace description_terms {
inline constexpr auto Connect = OperationKind::Connect;
inline constexpr auto Unbound = OperationKind::Unbound;
inline constexpr auto OnConnection = OperationKind::OnConnection;
inline constexpr auto Integer = ArgumentKind::Integer;
inline constexpr auto Opaque = ArgumentKind::Opaque;
inline constexpr auto Text = ArgumentKind::Text;
inline constexpr auto Buffer = ArgumentKind::Buffer;
inline constexpr auto Capacity = ArgumentKind::Capacity;
inline constexpr auto IntegerOut = ArgumentKind::IntegerOut;
inline constexpr auto Traced = OperationTiming::Traced;
inline constexpr auto Silent = OperationTiming::Silent;
inline constexpr auto Untimed = OperationTiming::Untimed;
inline constexpr auto DriverResult = EntryResult::DriverResult;
inline constexpr auto IndexIfConnected = EntryResult::IndexIfConnected;
inline constexpr auto NoResult = EntryResult::NoResult;
inline constexpr auto Plain = Interaction::Plain;
inline constexpr auto Dialog = Interaction::Dialog;

#define ZELBRIDGE_DESCRIPTION_UNPACK(...) __VA_ARGS__
#define ZELBRIDGE_DESCRIPTION_ROW(...) OperationDescription{__VA_ARGS__},
#define ZELBRIDGE_DESCRIBE(name, params, args, description, families)                                              \
    ZELBRIDGE_DESCRIPTION_ROW(#name, ZELBRIDGE_DESCRIPTION_UNPACK description)
inline constexpr OperationDescription kOperations[kOperationCount] = {ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_DESCRIBE)};
inline constexpr OperationDescription kDescribedOperations[kDescribedOperationCount] = {
    ZELBRIDGE_ALL_OPERATIONS(ZELBRIDGE_DESCRIBE)};
#undef ZELBRIDGE_DESCRIBE
#undef ZELBRIDGE_DESCRIPTION_ROW
#undef ZELBRIDGE_DESCRIPTION_UNPACK
} // namespace description_terms

using description_terms::kDescribedOperations;
using description_terms::kOperations;

constexpr const OperationDescription& Describe(Operation op) noexcept
{
    return kDescribedOperations[static_cast<unsigned>(op)];
}

// The driver functions the Connect operation calls, the first the driver
// exports: a driver that has both connects a PCI board through
// ConnectPciBoard. The entry point, the tool and the Python package (through
// its generated declarations) all take the rule from here.
inline constexpr Operation kConnectCalls[] = {Operation::ConnectPciBoard, Operation::Connect};

// What the exported entry point of the operation returns: a generic one and a
// family's alike.
template <Operation op>
using EntryResultType = std::conditional_t<Describe(op).result == EntryResult::NoResult, void, int>;

// The driver function's parameters are the description's arguments, after
// the connection identifier where there is one: a row that disagrees with its
// own parameter list does not compile.
namespace detail {
template <typename Function> struct ParameterCount;
template <typename... Parameters> struct ParameterCount<std::int32_t(ZELBRIDGE_STDCALL*)(Parameters...)> {
    static constexpr unsigned value = sizeof...(Parameters);
};

constexpr bool CapacityFollowsEachBuffer(const ArgumentKinds& list)
{
    for (unsigned i = 0; i < list.count; ++i) {
        const bool buffer = list.kinds[i] == ArgumentKind::Buffer;
        const bool capacity = list.kinds[i] == ArgumentKind::Capacity;
        if (buffer && (i + 1 == list.count || list.kinds[i + 1] != ArgumentKind::Capacity))
            return false;
        if (capacity && (i == 0 || list.kinds[i - 1] != ArgumentKind::Buffer))
            return false;
    }
    return true;
}
} // namespace detail

#define ZELBRIDGE_CHECK_DESCRIPTION(name, params, args, description, families)                                     \
    static_assert(detail::ParameterCount<DriverFunction<Operation::name>>::value ==                      \
                      Describe(Operation::name).arguments.count +                                        \
                          (Describe(Operation::name).kind == OperationKind::OnConnection ? 1u : 0u),     \
                  #name ": the description's arguments must match the driver's parameters");             \
    static_assert(detail::CapacityFollowsEachBuffer(Describe(Operation::name).arguments),                \
                  #name ": every buffer needs its capacity right after it");                           \
    static_assert((Describe(Operation::name).ordinal != 0) == (static_cast<unsigned>(Operation::name) < kOperationCount), \
                  #name ": a generic operation has the ordinal of its export, a family's alone none");
ZELBRIDGE_ALL_OPERATIONS(ZELBRIDGE_CHECK_DESCRIPTION)
#undef ZELBRIDGE_CHECK_DESCRIPTION

} // namespace zelbridge
