// Which operations can cross a process boundary, read from the table of
// operations: those whose every argument is a number, a text or an answer
// the driver writes, and that open no window. The words of the others mean
// something to the driver alone, or ask for a person at the server's screen.
#pragma once

#include "api/driver_contract.h"
#include "platform/platform.h"

#include <optional>
#include <string>
#include <vector>

namespace zelbridge::tool::serve {

// Null when the operation is served; else why not, for the caller.
const char* WhyNotServed(const OperationDescription& operation) noexcept;
std::optional<Operation> FindOperation(const std::string& name) noexcept;

// One family as the family catalog describes it: the operations its entry
// points offer ("ConnectRS232"), each exported as prefix + name.
struct FamilyOperations {
    const char* name;   // "M329"
    const char* prefix; // "M329_"
    std::vector<const char*> operations;
};
const std::vector<FamilyOperations>& Families();
const FamilyOperations* FindFamily(const std::string& name) noexcept;

// Why a family's operation is not served: the generic operation of the same
// name decides; a family call with no generic counterpart is not described.
const char* WhyFamilyOperationNotServed(const std::string& name) noexcept;

// Calls an entry point that takes `count` words and returns a 32-bit result
// (or nothing, when the caller ignores the result). Every argument of the
// served operations is one word on each target: an integer, or a pointer.
std::int32_t CallWithWords(platform::ProcAddress function, const Word* words, unsigned count);

} // namespace zelbridge::tool::serve
