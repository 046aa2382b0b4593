// The names of the recorded entry points, from the operation, family and graph tables.
#include "recording/recorded_entries.h"

#include "api/driver_contract.h"
#include "families/family_catalog.h"
#include "graph/graph_functions.h"

namespace zelbridge::recording {
namespace {

struct NamedEntry {
    const char* name;
    EntryKind kind;
};

#define ZELBRIDGE_RECORDED_GENERIC(name, params, args, description, families) NamedEntry{#name, EntryKind::kGeneric},
#define ZELBRIDGE_RECORDED_FAMILY_ENTRY(family, prefix, resolution, operation, ...)                                   \
    NamedEntry{ZELBRIDGE_FAMILY_STRING(ZELBRIDGE_FAMILY_JOIN(prefix, operation)), EntryKind::kFamily},
#define ZELBRIDGE_RECORDED_FAMILY(operation, params, args, description, families)                                     \
    ZELBRIDGE_FAMILY_ENTRIES(ZELBRIDGE_RECORDED_FAMILY_ENTRY, operation, params, args, description, families)
#define ZELBRIDGE_RECORDED_GRAPH(ordinal, name, parameters, arguments, unavailable) NamedEntry{#name, EntryKind::kGraph},
// The availability checks are not recorded: they forward nothing.
constexpr NamedEntry kRecordedEntries[] = {
    NamedEntry{"DefineSystem", EntryKind::kGeneric},
    ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_RECORDED_GENERIC)
    ZELBRIDGE_ALL_OPERATIONS(ZELBRIDGE_RECORDED_FAMILY)
    ZELBRIDGE_GRAPH_FUNCTIONS(ZELBRIDGE_RECORDED_GRAPH)
};
#undef ZELBRIDGE_RECORDED_GRAPH
#undef ZELBRIDGE_RECORDED_FAMILY
#undef ZELBRIDGE_RECORDED_FAMILY_ENTRY
#undef ZELBRIDGE_RECORDED_GENERIC

} // namespace

std::optional<EntryKind> KindOfEntry(std::string_view entry) noexcept
{
    for (const NamedEntry& named : kRecordedEntries)
        if (entry == named.name)
            return named.kind;
    return std::nullopt;
}

std::vector<std::string> RecordedEntryNames()
{
    std::vector<std::string> names;
    for (const NamedEntry& named : kRecordedEntries)
        names.emplace_back(named.name);
    return names;
}

} // namespace zelbridge::recording
