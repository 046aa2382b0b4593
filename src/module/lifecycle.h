// What the module does when it is attached to a process and detached from it.
#pragma once

namespace zelbridge {

// Puts the family bindings into their unloaded state; loads and reads nothing.
void AttachModule() noexcept;
// Releases the family libraries held, then every defined system and the
// libraries they were defined on.
void DetachModule() noexcept;

} // namespace zelbridge
