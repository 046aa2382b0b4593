// The per-thread slots of the module, on either platform: taken on first use,
// listed so that the unload gives every one of them back.
#include "platform/platform.h"
#include "platform/platform_native.h"
#include "platform/thread_slots.h"

namespace zelbridge::platform {
namespace {

// Every slot the module takes; a handful are defined.
constexpr std::size_t kMaximumSlots = 8;
std::atomic<ThreadSlot*> takenSlots[kMaximumSlots];

void List(ThreadSlot* slot) noexcept
{
    for (std::atomic<ThreadSlot*>& entry : takenSlots) {
        ThreadSlot* expected = nullptr;
        if (entry.compare_exchange_strong(expected, slot) || expected == slot)
            return;
    }
}

} // namespace

void* ThreadSlot::Get() const noexcept
{
    const std::uintptr_t slot = slot_.load(std::memory_order_acquire);
    return slot ? native::ThreadSlotValue(slot - 1) : nullptr;
}

bool ThreadSlot::Set(void* value) noexcept
{
    const std::uintptr_t slot = TakeSlot();
    return slot && native::SetThreadSlotValue(slot - 1, value);
}

std::uintptr_t ThreadSlot::TakeSlot() noexcept
{
    std::uintptr_t slot = slot_.load(std::memory_order_acquire);
    if (slot)
        return slot;
    std::uintptr_t created = 0;
    if (!native::CreateThreadSlot(created, threadEnd_))
        return 0;
    // Two threads may take one at once: the first to publish keeps its own.
    if (!slot_.compare_exchange_strong(slot, created + 1, std::memory_order_acq_rel)) {
        native::DeleteThreadSlot(created);
        return slot;
    }
    List(this);
    return created + 1;
}

void FreeThreadSlots() noexcept
{
    for (std::atomic<ThreadSlot*>& entry : takenSlots) {
        ThreadSlot* const slot = entry.exchange(nullptr);
        if (!slot)
            continue;
        if (const std::uintptr_t taken = slot->slot_.exchange(0))
            native::DeleteThreadSlot(taken - 1);
    }
}

void EndThread() noexcept
{
    for (std::atomic<ThreadSlot*>& entry : takenSlots) {
        ThreadSlot* const slot = entry.load();
        if (!slot || !slot->threadEnd())
            continue;
        if (void* value = slot->Get()) {
            slot->Set(nullptr);
            slot->threadEnd()(value);
        }
    }
}

} // namespace zelbridge::platform
