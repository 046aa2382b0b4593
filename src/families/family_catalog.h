// The six controller families: what each is (prefix, library, load style)
// and how its entry points are made from the rows of the operation
// description (src/api/driver_contract.h), where each row says which families
// export the operation, at which ordinal, and how the family traces it. The
// descriptors, binding positions and entry points are all generated from the two.
#pragma once

#include "zelbridge.h"
#include "api/driver_contract.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

// ZELBRIDGE_FAMILIES(F), the family table, and each family's column of the
// rows' ordinals are part of the description in api/driver_contract.h.
#define ZELBRIDGE_FAMILIES(F) ZELBRIDGE_FAMILIES_WITH(ZELBRIDGE_FAMILY_WITHOUT_CONTEXT, F)
#define ZELBRIDGE_FAMILY_WITHOUT_CONTEXT(F, ...) F(__VA_ARGS__)
#define ZELBRIDGE_FAMILY_JOIN(a, b) ZELBRIDGE_FAMILY_JOIN_(a, b)
#define ZELBRIDGE_FAMILY_JOIN_(a, b) a##b
#define ZELBRIDGE_FAMILY_STRING(a) ZELBRIDGE_FAMILY_STRING_(a)
#define ZELBRIDGE_FAMILY_STRING_(a) #a
#define ZELBRIDGE_FAMILY_UNPACK(...) __VA_ARGS__
#define ZELBRIDGE_FAMILY_MARK(family, ordinals) ZELBRIDGE_FAMILY_JOIN(ZELBRIDGE_FAMILY_MARK_, family) ordinals
#define ZELBRIDGE_FAMILY_WHEN_0(...)
#define ZELBRIDGE_FAMILY_WHEN_1(...) __VA_ARGS__
#define ZELBRIDGE_FAMILY_WHEN(flag) ZELBRIDGE_FAMILY_JOIN(ZELBRIDGE_FAMILY_WHEN_, flag)
// 1 for an ordinal, 0 for the 0 of a family that lacks the operation.
#define ZELBRIDGE_FAMILY_SECOND(first, second, ...) second
#define ZELBRIDGE_FAMILY_SECOND_(...) ZELBRIDGE_FAMILY_SECOND(__VA_ARGS__)
#define ZELBRIDGE_FAMILY_ABSENT_0 ~, 0
#define ZELBRIDGE_FAMILY_PRESENT(ordinal) ZELBRIDGE_FAMILY_SECOND_(ZELBRIDGE_FAMILY_JOIN(ZELBRIDGE_FAMILY_ABSENT_, ordinal), 1, ~)

// A row's families part, as (in any family, (resolution order, driver, trace, ordinals)).
#define ZELBRIDGE_FAMILY_PART_NoFamily 0, (0, none, Plain, (0, 0, 0, 0, 0, 0))
#define ZELBRIDGE_FAMILY_PART_InFamilies(...) 1, (__VA_ARGS__)

// Inside a callback of ZELBRIDGE_ALL_OPERATIONS: Y(family, exported prefix,
// resolution prefix, operation, driver function, parameters, arguments,
// family trace, ordinal) when `family` exports the row's operation.
#define ZELBRIDGE_FAMILY_ENTRY_OF(Y, family, prefix, resolution, operation, params, args, description, families)    \
    ZELBRIDGE_FAMILY_ENTRY_OF_(Y, family, prefix, resolution, operation, params, args,                               \
                               ZELBRIDGE_FAMILY_JOIN(ZELBRIDGE_FAMILY_PART_, families))
#define ZELBRIDGE_FAMILY_ENTRY_OF_(...) ZELBRIDGE_FAMILY_ENTRY_OF__(__VA_ARGS__)
#define ZELBRIDGE_FAMILY_ENTRY_OF__(Y, family, prefix, resolution, operation, params, args, inFamilies, part)         \
    ZELBRIDGE_FAMILY_WHEN(inFamilies)                                                                                \
    (ZELBRIDGE_FAMILY_ENTRY_MARKED(Y, family, prefix, resolution, operation, params, args, ZELBRIDGE_FAMILY_UNPACK part))
#define ZELBRIDGE_FAMILY_ENTRY_MARKED(...) ZELBRIDGE_FAMILY_ENTRY_MARKED_(__VA_ARGS__)
#define ZELBRIDGE_FAMILY_ENTRY_MARKED_(Y, family, prefix, resolution, operation, params, args, order, driver, trace,   \
                                       ordinals)                                                                       \
    ZELBRIDGE_FAMILY_WHEN(ZELBRIDGE_FAMILY_PRESENT(ZELBRIDGE_FAMILY_MARK(family, ordinals)))                           \
    (Y(family, prefix, resolution, operation, driver, params, args, trace, ZELBRIDGE_FAMILY_MARK(family, ordinals)))

// Inside a callback of ZELBRIDGE_ALL_OPERATIONS: the Y of every family that
// exports the row's operation.
#define ZELBRIDGE_FAMILY_ENTRIES(Y, operation, params, args, description, families)                                  \
    ZELBRIDGE_FAMILIES_WITH(ZELBRIDGE_FAMILY_ENTRY_IN, (Y, operation, params, args, description, families))
#define ZELBRIDGE_FAMILY_ENTRY_IN(context, family, prefix, resolution, ...)                                          \
    ZELBRIDGE_FAMILY_ENTRY_IN_(ZELBRIDGE_FAMILY_UNPACK context, family, prefix, resolution)
#define ZELBRIDGE_FAMILY_ENTRY_IN_(...) ZELBRIDGE_FAMILY_ENTRY_IN__(__VA_ARGS__)
#define ZELBRIDGE_FAMILY_ENTRY_IN__(Y, operation, params, args, description, families, family, prefix, resolution)   \
    ZELBRIDGE_FAMILY_ENTRY_OF(Y, family, prefix, resolution, operation, params, args, description, families)

namespace zelbridge {

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
static_assert(kFamilyCount <= 8, "a family past the eighth needs a ZELBRIDGE_FAMILY_COLUMN_ of its own");

// How a family entry point traces around its forwarded call.
enum class FamilyTrace { Plain, Silent, Command, Answer, Size, Line };

// One row of the description as the families see it.
struct FamilyUse {
    Operation operation;
    unsigned resolutionOrder; // 0: no family exports the operation
    const char* driverFunction; // after the resolution prefix
    FamilyTrace trace;
    int ordinals[kFamilyCount]; // 0 where the family lacks the operation
};

namespace family_terms {
inline constexpr auto Plain = FamilyTrace::Plain;
inline constexpr auto Silent = FamilyTrace::Silent;
inline constexpr auto Command = FamilyTrace::Command;
inline constexpr auto Answer = FamilyTrace::Answer;
inline constexpr auto Size = FamilyTrace::Size;
inline constexpr auto Line = FamilyTrace::Line;
#define ZELBRIDGE_FAMILY_USE_(operation, order, driver, trace, ordinals)                                              \
    FamilyUse{Operation::operation, order, #driver, trace, {ZELBRIDGE_FAMILY_UNPACK ordinals}},
#define ZELBRIDGE_FAMILY_USE__(...) ZELBRIDGE_FAMILY_USE___(__VA_ARGS__)
#define ZELBRIDGE_FAMILY_USE___(operation, inFamilies, part) ZELBRIDGE_FAMILY_USE____(operation, ZELBRIDGE_FAMILY_UNPACK part)
#define ZELBRIDGE_FAMILY_USE____(...) ZELBRIDGE_FAMILY_USE_(__VA_ARGS__)
#define ZELBRIDGE_FAMILY_USE(name, params, args, description, families)                                               \
    ZELBRIDGE_FAMILY_USE__(name, ZELBRIDGE_FAMILY_JOIN(ZELBRIDGE_FAMILY_PART_, families))
inline constexpr FamilyUse kFamilyUses[kDescribedOperationCount] = {ZELBRIDGE_ALL_OPERATIONS(ZELBRIDGE_FAMILY_USE)};
#undef ZELBRIDGE_FAMILY_USE
#undef ZELBRIDGE_FAMILY_USE____
#undef ZELBRIDGE_FAMILY_USE___
#undef ZELBRIDGE_FAMILY_USE__
#undef ZELBRIDGE_FAMILY_USE_
} // namespace family_terms
using family_terms::kFamilyUses;

constexpr const FamilyUse& FamilyUseOf(Operation operation) noexcept
{
    return kFamilyUses[static_cast<unsigned>(operation)];
}

constexpr bool Exports(Family family, Operation operation) noexcept
{
    return FamilyUseOf(operation).ordinals[static_cast<std::size_t>(family)] != 0;
}

// How many driver functions the family resolves.
constexpr std::size_t FamilyFunctionCount(Family family) noexcept
{
    std::size_t count = 0;
    for (const FamilyUse& use : kFamilyUses)
        count += use.ordinals[static_cast<std::size_t>(family)] != 0;
    return count;
}

// The position of the operation among the family's driver functions, which
// are resolved in resolution order.
constexpr std::size_t FamilyPosition(Family family, Operation operation) noexcept
{
    std::size_t position = 0;
    for (const FamilyUse& use : kFamilyUses)
        if (use.ordinals[static_cast<std::size_t>(family)] != 0 &&
            use.resolutionOrder < FamilyUseOf(operation).resolutionOrder)
            ++position;
    return position;
}

// The operations of the family in resolution order.
template <Family family> constexpr auto FamilyOperations() noexcept
{
    std::array<Operation, FamilyFunctionCount(family)> operations{};
    for (const FamilyUse& use : kFamilyUses)
        if (Exports(family, use.operation))
            operations[FamilyPosition(family, use.operation)] = use.operation;
    return operations;
}

// The rows of the families' operations, in resolution order.
inline std::vector<FamilyUse> FamilyUsesInResolutionOrder()
{
    std::vector<FamilyUse> uses;
    for (const FamilyUse& use : kFamilyUses)
        if (use.resolutionOrder != 0)
            uses.push_back(use);
    std::sort(uses.begin(), uses.end(),
              [](const FamilyUse& a, const FamilyUse& b) { return a.resolutionOrder < b.resolutionOrder; });
    return uses;
}

// What each argument of a family entry point is, as the recorder writes it:
// the operation's words, after the connection identifier where it has one.
constexpr ArgumentKinds FamilyArguments(Operation operation) noexcept
{
    const OperationDescription& description = Describe(operation);
    if (description.kind != OperationKind::OnConnection)
        return description.arguments;
    ArgumentKinds withConnection = Takes(ArgumentKind::Integer);
    for (unsigned i = 0; i < description.arguments.count; ++i)
        withConnection.kinds[withConnection.count++] = description.arguments.kinds[i];
    return withConnection;
}

namespace detail {
constexpr bool FamilyRowsAreSound() noexcept
{
    for (const FamilyUse& use : kFamilyUses) {
        bool anywhere = false;
        for (int ordinal : use.ordinals)
            anywhere = anywhere || ordinal != 0;
        if (anywhere != (use.resolutionOrder != 0))
            return false;
        for (const FamilyUse& other : kFamilyUses)
            if (&other != &use && use.resolutionOrder != 0 && other.resolutionOrder == use.resolutionOrder)
                return false;
    }
    return true;
}
} // namespace detail
static_assert(detail::FamilyRowsAreSound(),
              "an operation some family exports has a resolution order of its own, and only such an operation");

} // namespace zelbridge
