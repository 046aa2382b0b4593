// Once its library is loaded, a call through any kind of entry point makes no
// heap allocation: the module counts for nothing in an application's heap
// while it polls.
#include "zelbridge.h"
#include "test_environment.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations{0};
} // namespace

// Every operator new of the process, the module's included: it takes the
// program's definition. GCC takes the free() of a replaced operator delete
// for a mismatch once it inlines both.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace zelbridge {
namespace {

TEST(Forwarding, ACallOnALoadedLibraryMakesNoHeapAllocation)
{
    test::ScopedDriverScript script;
    script.script().muteCalls = true;
    test::ZelbridgeModule module;
    ASSERT_EQ(ZB_EXPORT_OF(module, DefineSystem)("drv_full.dll", "DRV_"), 0);
    ASSERT_EQ(ZB_EXPORT_OF(module, M329_IsDLLAvailable)(), 1);
    ZB_EXPORT_OF(module, QXGraph3DCreate)(0, 0);
    char answer[16];
    int size = 0;

    const long before = allocations.load();
    for (int round = 0; round < 10; ++round) {
        ZB_EXPORT_OF(module, ConnectRS232)(0, 1, 9600);
        ZB_EXPORT_OF(module, ZelCommandset)(0, "POS?");
        ZB_EXPORT_OF(module, ZelGetAnswerSize)(0, &size);
        ZB_EXPORT_OF(module, ZelGetAnswer)(0, answer, sizeof answer);
        ZB_EXPORT_OF(module, GetError)(0);
        ZB_EXPORT_OF(module, InterfaceSetupDlg)(0, 0);
        ZB_EXPORT_OF(module, M329_ZelCommandset)(0, "POS?");
        ZB_EXPORT_OF(module, M329_ZelGetAnswer)(0, answer, sizeof answer);
        ZB_EXPORT_OF(module, M329_ZelGetAnswerSize)(0, &size);
        ZB_EXPORT_OF(module, QXGraph3DAddDataPoint)(1, 2, 3, 0.5);
    }
    EXPECT_EQ(allocations.load() - before, 0);
}

} // namespace
} // namespace zelbridge
