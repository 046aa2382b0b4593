// Calls a function through a raw pointer with a given number of 32-bit
// argument words and reports how far the stack pointer moved: 0 means the
// callee removed exactly those words, as the standard calling convention
// requires. Only meaningful on 32-bit x86.
#pragma once

#include <cstdint>

namespace zelbridge::test {

struct StackProbeResult {
    std::int32_t stackDelta;  // bytes left on the stack (negative: removed too many)
    std::uint32_t result;     // what the function returned in EAX
};

#if defined(_WIN32) && defined(__i386__)
StackProbeResult CallMeasuringStack(const void* function, const std::uint32_t* words, int count);
#endif

} // namespace zelbridge::test
