// Calling a graph function so that its doubles arrive with every bit intact.
//
// On 32-bit x86 the compiler copies a double through the x87 unit, whose
// loads turn a signalling NaN into a quiet one, so a value the caller passed
// would reach the graph library altered. There a double travels on the stack
// as its 8 bytes, so it is passed on as a 64-bit integer, which fills the same
// stack slot and is copied as plain words. Elsewhere doubles are copied
// exactly and are passed as they are.
#pragma once

#include "platform/platform.h"
#include "zelbridge.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace zelbridge {

#if defined(__i386__) && defined(__GNUC__)
#define ZELBRIDGE_FORWARD_DOUBLES_AS_BITS 1
#else
#define ZELBRIDGE_FORWARD_DOUBLES_AS_BITS 0
#endif

// The bit pattern of `value`, read from where it is stored.
inline std::uint64_t ExactBits(const double& value) noexcept
{
    const void* address = &value;
#if ZELBRIDGE_FORWARD_DOUBLES_AS_BITS
    // Hides that the bytes are a double, so that they are read as integers
    // and never loaded into the x87 unit.
    asm("" : "+r"(address));
#endif
    std::uint64_t bits;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, address, sizeof bits);
    return bits;
}

// Calls `address`, whose type is `Function`, with `arguments`.
template <typename Function, typename... Arguments>
int CallBitExact(platform::ProcAddress address, const Arguments&... arguments) noexcept
{
    static_assert(std::is_same_v<Function, int(ZELBRIDGE_CALL*)(Arguments...)>,
                  "arguments must have the function's own parameter types");
#if ZELBRIDGE_FORWARD_DOUBLES_AS_BITS
    using BitsCall = int(ZELBRIDGE_CALL*)(std::conditional_t<std::is_same_v<Arguments, double>, std::uint64_t, Arguments>...);
    const auto asBits = [](const auto& argument) noexcept {
        if constexpr (std::is_same_v<std::decay_t<decltype(argument)>, double>)
            return ExactBits(argument);
        else
            return argument;
    };
    return reinterpret_cast<BitsCall>(address)(asBits(arguments)...);
#else
    return reinterpret_cast<Function>(address)(arguments...);
#endif
}

} // namespace zelbridge
