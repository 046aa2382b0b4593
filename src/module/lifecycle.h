// What the module does when it is attached to a process and detached from it.
#pragma once

namespace zelbridge {

// Puts the family bindings into their unloaded state; loads and reads nothing.
void AttachModule() noexcept;
// Releases the family libraries held, then every defined system and the
// libraries they were defined on.
void DetachModule() noexcept;
// Frees the module's own tables and closes the trace file, which a process
// that ends keeps to its end for the threads still calling: only for an
// unload while the process runs on, after the detach step.
void FreeModuleTables() noexcept;

} // namespace zelbridge
