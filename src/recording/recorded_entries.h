// The entry points a call record may name, taken from the tables the module's
// exports are made from, so that the recorder, the reader and the schema's
// list (held to it by a test) cannot name different sets.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelbridge::recording {

enum class EntryKind { kGeneric, kFamily, kGraph };

// Whose entry point `entry` is; none for a name the module never records
// (a misspelling, an availability check, a name of another program).
std::optional<EntryKind> KindOfEntry(std::string_view entry) noexcept;

// Every name a call record may hold, in the order of the tables: DefineSystem
// and the generic operations, each family's, the graph library's.
std::vector<std::string> RecordedEntryNames();

} // namespace zelbridge::recording
