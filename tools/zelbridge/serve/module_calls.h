// The calls into the Zelbridge module: the entry points the server reaches,
// the targets calls go to (a defined system, or a family connection), and
// the checked exchanges a client asks for (command, answer, query, or one
// operation with its arguments).
#pragma once

#include "cli/answer_bound.h"
#include "cli/answer_ledger.h"
#include "cli/bridge_module.h"
#include "json_shapes.h"
#include "served_operations.h"

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <mutex>
#include <string>

namespace zelbridge::tool::serve {

// The module as the server uses it; the fuzz target puts a stub driver behind it.
class ModuleEntries {
public:
    virtual ~ModuleEntries() = default;
    virtual std::int32_t DefineSystem(const char* library, const char* prefix) const = 0;
    // Null when the module lacks the export.
    virtual platform::ProcAddress Export(const char* name) const = 0;

    // Once the server stops, answer waits end at once.
    void Stop() noexcept { stopping_ = true; }
    bool Stopping() const noexcept { return stopping_; }

private:
    std::atomic<bool> stopping_{false};
};

class LoadedModule final : public ModuleEntries {
public:
    explicit LoadedModule(const BridgeModule& bridge) : bridge_(bridge) {}
    std::int32_t DefineSystem(const char* library, const char* prefix) const override
    {
        return bridge_.DefineSystem(library, prefix);
    }
    platform::ProcAddress Export(const char* name) const override { return bridge_.Export(name); }

private:
    const BridgeModule& bridge_;
};

// A defined system, or a family connection: where calls go, one at a time.
struct CallTarget {
    std::mutex calls;
    // Null for a defined system.
    const FamilyOperations* family = nullptr;
    // The system's index, or the family connection's identifier.
    std::int32_t handle = -1;
    std::string library;
    std::string prefix;
    // The session that owns a system; empty once it is free for reuse.
    std::string owner;
    // Whether GetError is asked after a failure: SetErrorCheck's last word.
    bool errorCheck = true;
    // The queries owed answers, oldest first; Reset() when the session
    // that owns the target lets it go.
    AnswerLedger answers;
    // Bytes of an answer returned whole; a longer one is cut and counted.
    std::size_t answerBound = kAnswerBound;
};

// The operation a client named on a system (family null) or a family's
// route: 404 with the served names when there is none, 501 when not served.
Operation ServedOperation(const std::string& name, const FamilyOperations* family);

// POST .../{what} on a system or a family connection: command, answer,
// query, or one operation. Takes the target's call lock.
HttpReply Exchange(const ModuleEntries& module, CallTarget& target, const std::string& what, const json& request);

// An operation of a family that takes no connection (its connects among
// them), the family's call lock held by the caller.
json CallUnbound(const ModuleEntries& module, const FamilyOperations& family, Operation operation,
                 const json& arguments, bool check);

// Whether the family's library can be used (its IsDLLAvailable says 1).
bool FamilyAvailable(const ModuleEntries& module, const FamilyOperations& family);

// Closes a system a session leaves (its error taken, not left for the next
// owner) or a family connection. Takes the target's call lock.
void CloseTarget(const ModuleEntries& module, CallTarget& target);

} // namespace zelbridge::tool::serve
