// The six family traces: the trace lines each writes around the
// availability check and the forwarded call, and its result when the family
// library cannot be used.
#pragma once

#include "diag/trace_stream.h"
#include "families/family_binding.h"

#include <ostream>
#include <type_traits>
#include <utility>

namespace zelbridge {
namespace family_forwarding {

template <typename Driver, typename... Arguments>
using DriverResult = decltype(std::declval<Driver>()(std::declval<Arguments>()...));

template <typename Result> Result Fallback(const EntryPointDescriptor& entry) noexcept
{
    if constexpr (std::is_void_v<Result>)
        static_cast<void>(entry);
    else
        return static_cast<Result>(entry.fallback);
}

template <typename Driver, typename... Arguments>
DriverResult<Driver, Arguments...> CallIfAvailable(FamilyBinding& family, std::size_t position,
                                                   const EntryPointDescriptor& entry, Arguments... arguments) noexcept
{
    if (family.IsAvailable())
        return family.DriverFunction<Driver>(position)(arguments...);
    return Fallback<DriverResult<Driver, Arguments...>>(entry);
}

} // namespace family_forwarding

template <FamilyTrace> struct Forwarder;

template <> struct Forwarder<FamilyTrace::Plain> {
    template <typename Driver, typename... Arguments>
    [[gnu::noinline]] static auto Forward(FamilyBinding& family, std::size_t position, const EntryPointDescriptor& entry, Arguments... arguments) noexcept
    {
        TraceStream::Instance() << entry.nameLine;
        return family_forwarding::CallIfAvailable<Driver>(family, position, entry, arguments...);
    }
};

template <> struct Forwarder<FamilyTrace::Silent> {
    template <typename Driver, typename... Arguments>
    [[gnu::noinline]] static auto Forward(FamilyBinding& family, std::size_t position, const EntryPointDescriptor& entry, Arguments... arguments) noexcept
    {
        return family_forwarding::CallIfAvailable<Driver>(family, position, entry, arguments...);
    }
};

template <> struct Forwarder<FamilyTrace::Command> {
    template <typename Driver>
    [[gnu::noinline]] static int Forward(FamilyBinding& family, std::size_t position, const EntryPointDescriptor& entry, int id, const char* command) noexcept
    {
        TraceStream::Instance() << entry.echoOpening << id << ", \"" << command << "\")\n";
        if (family.IsAvailable())
            return family.DriverFunction<Driver>(position)(id, command);
        if (family.descriptor().commandForwarderReportsUnavailable)
            TraceStream::Instance() << entry.unavailableLine;
        return entry.fallback;
    }
};

template <> struct Forwarder<FamilyTrace::Answer> {
    template <typename Driver>
    [[gnu::noinline]] static int Forward(FamilyBinding& family, std::size_t position, const EntryPointDescriptor& entry, int id, char* answer, int size) noexcept
    {
        if (!family.IsAvailable()) {
            TraceStream::Instance() << entry.unavailableLine;
            return entry.fallback;
        }
        const int result = family.DriverFunction<Driver>(position)(id, answer, size);
        // The echo ends in a backslash and an "n", not in a line feed. The
        // answer is read no further than the caller's buffer reaches: a driver
        // may fill it without a terminator, or fail without writing at all.
        TraceStream::Instance() << entry.echoOpening << id << ", ," << size << ") => \"";
        TraceStream::Instance().WriteBounded(answer, size) << "\\n";
        TraceStream::Instance().WriteHeldLine();
        return result;
    }
};

template <> struct Forwarder<FamilyTrace::Size> {
    template <typename Driver>
    [[gnu::noinline]] static int Forward(FamilyBinding& family, std::size_t position, const EntryPointDescriptor& entry, int id, int* answerSize) noexcept
    {
        TraceStream::Instance() << entry.echoOpening << id << ")\n";
        if (!family.IsAvailable()) {
            TraceStream::Instance() << entry.unavailableLine;
            return entry.fallback;
        }
        const int result = family.DriverFunction<Driver>(position)(id, answerSize);
        // A caller without a size variable gets the call, not a read through null.
        if (answerSize)
            TraceStream::Instance() << entry.sizeResultOpening << *answerSize << std::endl;
        return result;
    }
};

template <> struct Forwarder<FamilyTrace::Line> {
    template <typename Driver, typename... Values>
    [[gnu::noinline]] static int Forward(FamilyBinding& family, std::size_t position, const EntryPointDescriptor& entry, int id, Values... values) noexcept
    {
        TraceStream::Instance() << entry.echoOpening << id << ")\n";
        return family_forwarding::CallIfAvailable<Driver>(family, position, entry, id, values...);
    }
};

} // namespace zelbridge
