// The 32-bit stack probe: pushes the words itself, calls, and compares the
// stack pointer before the pushes with the one after the call.
#include "stdcall_probe.h"

#if defined(_WIN32) && defined(__i386__)

extern "C" std::int32_t ZbCallMeasuringStack(const void* function, const std::uint32_t* words, int count,
                                             std::uint32_t* result);

asm(R"(
    .text
    .globl _ZbCallMeasuringStack
_ZbCallMeasuringStack:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    pushl %ebx
    movl 16(%ebp), %ecx
    movl 12(%ebp), %esi
    movl %esp, %edi
1:  testl %ecx, %ecx
    jz 2f
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jmp 1b
2:  call *8(%ebp)
    movl 20(%ebp), %ecx
    movl %eax, (%ecx)
    movl %esp, %eax
    subl %edi, %eax
    negl %eax
    movl %edi, %esp
    popl %ebx
    popl %edi
    popl %esi
    popl %ebp
    ret
)");

namespace zelbridge::test {

StackProbeResult CallMeasuringStack(const void* function, const std::uint32_t* words, int count)
{
    StackProbeResult probe{};
    probe.stackDelta = ZbCallMeasuringStack(function, words, count, &probe.result);
    return probe;
}

} // namespace zelbridge::test

#endif
