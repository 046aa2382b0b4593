// The six controller families as one table: the descriptors, the binding
// slots and the exported entry points are all generated from it, so names,
// argument lists, kinds and fallbacks cannot drift apart.
#pragma once

#include "zelbridge.h"
#include "api/driver_contract.h"

#include <cstddef>

// X(context, operation, driver function, result, parameters, arguments, kind, fallback, marks)
// The marks say which families export the operation, in the order
// (M317_, M317_VB_, M318_, M329_, T520_, T5XX_). The driver function is the
// name after the family's resolution prefix. Every family resolves its driver
// functions in the order of these rows.
#define ZELBRIDGE_FAMILY_OPERATIONS(X, context)                                                                        \
    X(context, InterfaceSetupDlg, InterfaceSetupDlg, int, (ZelWord a1), (a1), Plain, -1, (0, 0, 1, 0, 1, 1))           \
    X(context, Connect, Connect, int, (ZelWord a1), (a1), Plain, -1, (1, 1, 0, 0, 0, 0))                               \
    X(context, ConnectRS232, ConnectRS232, int, (ZelWord a1, ZelWord a2), (a1, a2), Plain, -1, (0, 0, 1, 1, 1, 1))     \
    X(context, ConnectNIgpib, ConnectNIgpib, int, (ZelWord a1, ZelWord a2), (a1, a2), Plain, -1, (0, 0, 1, 0, 1, 1))   \
    X(context, ConnectPciBoard, ConnectPciBoard, int, (ZelWord a1), (a1), Plain, -1, (0, 0, 0, 0, 0, 1))               \
    X(context, IsConnected, IsConnected, int, (int id), (id), Plain, 0, (1, 1, 1, 1, 1, 1))                            \
    X(context, CloseConnection, CloseConnection, void, (int id), (id), Plain, 0, (1, 1, 1, 1, 1, 1))                   \
    X(context, GetError, GetError, int, (int id), (id), Plain, FUNCTION_NOT_AVAILABLE, (1, 1, 1, 1, 1, 1))             \
    X(context, SetErrorCheck, SetErrorCheck, int, (int id, ZelWord a1), (id, a1), Plain, 0, (1, 1, 1, 1, 1, 1))        \
    X(context, TranslateError, TranslateError, int, (ZelWord a1, ZelWord a2, ZelWord a3), (a1, a2, a3), Plain, 0,      \
      (1, 1, 1, 1, 1, 1))                                                                                              \
    X(context, GetCurrentBoardId, GetCurrentBoardId, int, (ZelWord a1), (a1), Plain, -1, (1, 1, 0, 0, 0, 0))           \
    X(context, GetCurrentInterfaceId, GetCurrentInterfaceId, int, (ZelWord a1), (a1), Plain, -1, (0, 0, 0, 1, 0, 0))   \
    X(context, ZelCommandset, ZelCommandset, int, (int id, const char* command), (id, command), Command, 0,            \
      (1, 1, 1, 1, 1, 1))                                                                                              \
    X(context, ZelGetAnswer, ZelGetAnswer, int, (int id, char* answer, int size), (id, answer, size), Answer, 0,       \
      (1, 1, 1, 1, 1, 1))                                                                                              \
    X(context, ZelGetAnswerSize, ZelGetAnswerSize, int, (int id, int* answerSize), (id, answerSize), Size, 0,          \
      (1, 1, 1, 1, 1, 1))                                                                                              \
    X(context, SetQMC, SetQMC, int, (int id, ZelWord a1, ZelWord a2, ZelWord a3), (id, a1, a2, a3), Silent, 0,         \
      (1, 1, 0, 1, 0, 0))                                                                                              \
    X(context, GetQMC, GetQMC, int, (int id, ZelWord a1, ZelWord a2, ZelWord a3), (id, a1, a2, a3), Silent, 0,         \
      (1, 1, 0, 1, 0, 0))                                                                                              \
    X(context, SetQMCA, SetQMCA, int, (int id, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4),                        \
      (id, a1, a2, a3, a4), Silent, 0, (1, 1, 0, 1, 0, 0))                                                             \
    X(context, GetQMCA, GetQMCA, int, (int id, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4),                        \
      (id, a1, a2, a3, a4), Silent, 0, (1, 1, 0, 1, 0, 0))                                                             \
    X(context, OpenUserStagesEditDialog, OpenUserStagesEditDialog, int, (int id), (id), Silent, 0, (1, 1, 0, 1, 0, 0)) \
    X(context, OpenQxStagesEditDialog, OpenQxStagesEditDialog, int, (int id), (id), Silent, 0, (1, 1, 0, 1, 0, 0))     \
    X(context, SendString, T5XXSendString, int, (ZelWord a1, ZelWord a2), (a1, a2), Silent, 0, (0, 0, 0, 0, 0, 1))     \
    X(context, ReadLine, T5XXReadLine, int, (int id, ZelWord a1, ZelWord a2), (id, a1, a2), Line, 0, (0, 0, 0, 0, 0, 1))

// F(family, exported prefix, resolution prefix, library file, load style,
//   whether the command forwarder writes its unavailable line)
// M317_VB_ resolves the M317_ names, from a library of its own.
#define ZELBRIDGE_FAMILIES(F)                                                                                       \
    F(M317, M317_, M317_, "M317_ZEL_DLL.DLL", SharedLoader, true)                                                   \
    F(M317_VB, M317_VB_, M317_, "M317_VB_ZEL_DLL.DLL", FullTrace, true)                                             \
    F(M318, M318_, M318_, "M318_ZEL_DLL.DLL", ShortTrace, false)                                                    \
    F(M329, M329_, M329_, "M329_ZEL_DLL.DLL", FullTrace, true)                                                      \
    F(T520, T520_, T520_, "T520_ZEL_DLL.DLL", ShortTrace, false)                                                    \
    F(T5XX, T5XX_, T5XX_, "T5XX_ZEL_DLL.DLL", ShortTrace, false)

#define ZELBRIDGE_FAMILY_JOIN(a, b) ZELBRIDGE_FAMILY_JOIN_(a, b)
#define ZELBRIDGE_FAMILY_JOIN_(a, b) a##b
#define ZELBRIDGE_FAMILY_STRING(a) ZELBRIDGE_FAMILY_STRING_(a)
#define ZELBRIDGE_FAMILY_STRING_(a) #a
#define ZELBRIDGE_FAMILY_UNPACK(...) __VA_ARGS__

// The mark of one family in a row's marks.
#define ZELBRIDGE_FAMILY_MARK_M317(m317, m317vb, m318, m329, t520, t5xx) m317
#define ZELBRIDGE_FAMILY_MARK_M317_VB(m317, m317vb, m318, m329, t520, t5xx) m317vb
#define ZELBRIDGE_FAMILY_MARK_M318(m317, m317vb, m318, m329, t520, t5xx) m318
#define ZELBRIDGE_FAMILY_MARK_M329(m317, m317vb, m318, m329, t520, t5xx) m329
#define ZELBRIDGE_FAMILY_MARK_T520(m317, m317vb, m318, m329, t520, t5xx) t520
#define ZELBRIDGE_FAMILY_MARK_T5XX(m317, m317vb, m318, m329, t520, t5xx) t5xx
#define ZELBRIDGE_FAMILY_MARK(family, marks) ZELBRIDGE_FAMILY_JOIN(ZELBRIDGE_FAMILY_MARK_, family) marks
#define ZELBRIDGE_FAMILY_WHEN_0(...)
#define ZELBRIDGE_FAMILY_WHEN_1(...) __VA_ARGS__
#define ZELBRIDGE_FAMILY_WHEN(flag) ZELBRIDGE_FAMILY_JOIN(ZELBRIDGE_FAMILY_WHEN_, flag)

// Y(family, exported prefix, resolution prefix, operation, driver function,
//   result, parameters, arguments, kind, fallback), once for each operation
// the family exports, in resolution order.
#define ZELBRIDGE_FAMILY_ROWS(Y, family, prefix, resolution)                                                        \
    ZELBRIDGE_FAMILY_OPERATIONS(ZELBRIDGE_ROW_IF_EXPORTED, (Y, family, prefix, resolution))
#define ZELBRIDGE_ROW_IF_EXPORTED(context, ...) ZELBRIDGE_ROW_IF_EXPORTED_(ZELBRIDGE_FAMILY_UNPACK context, __VA_ARGS__)
#define ZELBRIDGE_ROW_IF_EXPORTED_(...) ZELBRIDGE_ROW_IF_EXPORTED__(__VA_ARGS__)
#define ZELBRIDGE_ROW_IF_EXPORTED__(Y, family, prefix, resolution, operation, driver, result, parameters, arguments, \
                                    kind, fallback, marks)                                                           \
    ZELBRIDGE_FAMILY_WHEN(ZELBRIDGE_FAMILY_MARK(family, marks))                                                      \
    (Y(family, prefix, resolution, operation, driver, result, parameters, arguments, kind, fallback))

namespace zelbridge {

// What each argument of a family call is, as the recorder writes it. A call
// that is a generic operation takes the operation's words, after the
// connection identifier where it has one; the calls of the families alone
// are described here.
struct FamilyCallArguments {
    const char* operation;
    ArgumentKinds arguments;
};
namespace family_terms {
using namespace description_terms;
inline constexpr FamilyCallArguments kFamilyOnlyCalls[] = {
    {"GetCurrentBoardId", Takes(Integer)},
    {"GetCurrentInterfaceId", Takes(Integer)},
    {"SendString", Takes(Integer, Text)},
    {"ReadLine", Takes(Integer, Buffer, Capacity)},
};
} // namespace family_terms

constexpr bool SameName(const char* a, const char* b)
{
    while (*a != '\0' && *a == *b)
        ++a, ++b;
    return *a == *b;
}

// The arguments of the family call `operation`; a name described nowhere
// gives a count past any call's, which the entry point refuses to compile.
constexpr ArgumentKinds FamilyArguments(const char* operation)
{
    for (const OperationDescription& generic : kOperations) {
        if (!SameName(generic.name, operation))
            continue;
        if (generic.kind != OperationKind::OnConnection)
            return generic.arguments;
        ArgumentKinds withConnection = Takes(ArgumentKind::Integer);
        for (unsigned i = 0; i < generic.arguments.count; ++i)
            withConnection.kinds[withConnection.count++] = generic.arguments.kinds[i];
        return withConnection;
    }
    for (const FamilyCallArguments& own : family_terms::kFamilyOnlyCalls)
        if (SameName(own.operation, operation))
            return own.arguments;
    ArgumentKinds unknown{};
    unknown.count = kMaxOperationArguments + 1;
    return unknown;
}

enum class Family : std::size_t {
#define ZELBRIDGE_FAMILY_ENUMERATOR(family, ...) family,
    ZELBRIDGE_FAMILIES(ZELBRIDGE_FAMILY_ENUMERATOR)
#undef ZELBRIDGE_FAMILY_ENUMERATOR
};

inline constexpr std::size_t kFamilyCount = 0
#define ZELBRIDGE_FAMILY_COUNT(family, ...) +1
    ZELBRIDGE_FAMILIES(ZELBRIDGE_FAMILY_COUNT)
#undef ZELBRIDGE_FAMILY_COUNT
    ;

// Per family, the position of each operation among its driver functions:
// family_slots::M329::IsConnected.
namespace family_slots {
#define ZELBRIDGE_SLOT_ENUMERATOR(family, prefix, resolution, operation, ...) operation,
#define ZELBRIDGE_SLOT_ENUM(family, prefix, resolution, ...)                                                        \
    enum class family : std::size_t { ZELBRIDGE_FAMILY_ROWS(ZELBRIDGE_SLOT_ENUMERATOR, family, prefix, resolution) Count };
ZELBRIDGE_FAMILIES(ZELBRIDGE_SLOT_ENUM)
#undef ZELBRIDGE_SLOT_ENUM
#undef ZELBRIDGE_SLOT_ENUMERATOR
} // namespace family_slots

} // namespace zelbridge
