// Loading, using and unloading each library the project ships, many more
// times than a process has thread-storage slots: an unload gives back every
// slot its load took, and memory no faster than a library that does nothing.
#include "api/driver_contract.h"
#include "platform/platform.h"
#include "process_resources.h"
#include "test_environment.h"
#include "zelbridge.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

namespace zelbridge {
namespace {

using test::BinaryPath;

// More than the 1,088 slots of a Windows process.
constexpr int kCycles = 1200;
// Loads whose memory is not counted: caches the process fills once.
constexpr int kWarmUp = 50;
constexpr int kCheckEvery = 100;
// Enough to show a slot lost per load, or memory, in the drivers.
constexpr int kShortRun = 300;

template <typename Function> Function Find(platform::ModuleHandle module, const char* name)
{
    const platform::ProcAddress address = platform::FindSymbol(module, name);
    EXPECT_NE(address, nullptr) << name;
    return reinterpret_cast<Function>(address);
}

void UseReference(platform::ModuleHandle module)
{
    EXPECT_EQ(Find<int (*)(int)>(module, "ReferenceCall")(-1), -1);
}

void UseZelbridge(platform::ModuleHandle module)
{
    const int index = Find<decltype(&::DefineSystem)>(module, "DefineSystem")(ZELBRIDGE_LOOPBACK_FILE, "LOOP_");
    ASSERT_EQ(index, 0);
    ASSERT_EQ(Find<decltype(&::Connect)>(module, "Connect")(index, 1), 0);
    ASSERT_EQ(Find<decltype(&::IsConnected)>(module, "IsConnected")(index), 1);
    Find<decltype(&::CloseConnection)>(module, "CloseConnection")(index);
}

void UseLoopback(platform::ModuleHandle module)
{
    const auto connect = Find<DriverFunction<Operation::Connect>>(module, "LOOP_Connect");
    const auto close = Find<DriverFunction<Operation::CloseConnection>>(module, "LOOP_CloseConnection");
    EXPECT_EQ(close(connect(2)), 0);
}

// The simulator answers from Simulator.json next to it.
void UseSimulator(platform::ModuleHandle module)
{
    const auto connect = Find<DriverFunction<Operation::Connect>>(module, "SIM_Connect");
    const auto close = Find<DriverFunction<Operation::CloseConnection>>(module, "SIM_CloseConnection");
    const ConnectionId id = connect(0);
    EXPECT_GE(id, 0);
    EXPECT_EQ(close(id), 0);
}

struct Subject {
    const char* file;
    void (*use)(platform::ModuleHandle);
    int cycles;
    // Ours must keep every slot; the C++ runtime's own library does not.
    bool keepsSlots;
    // Libraries a cycle loads: the module loads the loopback driver too.
    int libraries;
};

struct Cost {
    int slotsLost;
    // None where memory is not measured.
    std::optional<double> bytesPerCycle;
};

std::string Describe(const char* file, const Cost& cost)
{
    char text[160];
    if (cost.bytesPerCycle)
        std::snprintf(text, sizeof text, "%-22s %d slots lost, %+.1f bytes per cycle", file, cost.slotsLost,
                      *cost.bytesPerCycle);
    else
        std::snprintf(text, sizeof text, "%-22s %d slots lost, memory not measured under a sanitizer", file,
                      cost.slotsLost);
    return text;
}

// Runs the cycles and says what they cost; stops at the first check that
// finds slots gone, before the process runs out of them.
Cost Cycle(const Subject& subject)
{
    const std::string path = BinaryPath(subject.file);
    const int slotsBefore = test::FreeThreadSlots();
    std::optional<std::size_t> memoryAfterWarmUp;
    for (int cycle = 1; cycle <= subject.cycles; ++cycle) {
        const platform::ModuleHandle module = platform::OpenModule(path.c_str());
        if (!module) {
            ADD_FAILURE() << "cannot load " << path << " at cycle " << cycle << ", error " << platform::LastError();
            return {slotsBefore - test::FreeThreadSlots(), std::nullopt};
        }
        subject.use(module);
        platform::CloseModule(module);
        if (cycle == kWarmUp)
            memoryAfterWarmUp = test::HeldMemory();
        if (subject.keepsSlots && cycle % kCheckEvery == 0 && test::FreeThreadSlots() != slotsBefore) {
            const int slotsLost = slotsBefore - test::FreeThreadSlots();
            ADD_FAILURE() << subject.file << ": " << slotsLost << " thread-storage slots lost in " << cycle << " cycles ("
                          << slotsBefore << " free before)";
            return {slotsLost, std::nullopt};
        }
    }
    const std::optional<std::size_t> memoryAtEnd = test::HeldMemory();
    const int slotsLost = slotsBefore - test::FreeThreadSlots();
    if (!memoryAfterWarmUp || !memoryAtEnd)
        return {slotsLost, std::nullopt};
    const double growth = static_cast<double>(*memoryAtEnd) - static_cast<double>(*memoryAfterWarmUp);
    return {slotsLost, growth / (subject.cycles - kWarmUp)};
}

TEST(LoadUnload, EveryUnloadGivesBackWhatItsLoadTook)
{
    // Tracing to a file and recording: the most a load sets up.
    const std::string trace = BinaryPath("load_unload_trace.txt");
    const std::string recording = BinaryPath("load_unload_recording.jsonl");
    test::SetEnvironment("ZELBRIDGE_TRACE", ("file:" + trace).c_str());
    test::SetEnvironment("ZELBRIDGE_RECORD", recording.c_str());

    // On 32-bit Windows the runtime's library loses a slot per load: fewer
    // cycles, so that the process keeps enough for ours.
    const Cost reference = Cycle({ZELBRIDGE_REFERENCE_FILE, UseReference, kShortRun, false, 1});
    std::printf("%s\n", Describe(ZELBRIDGE_REFERENCE_FILE, reference).c_str());
    const Subject subjects[] = {
        {ZELBRIDGE_MODULE_FILE, UseZelbridge, kCycles, true, 2},
        {ZELBRIDGE_LOOPBACK_FILE, UseLoopback, kShortRun, true, 1},
        {ZELBRIDGE_SIMULATOR_FILE, UseSimulator, kShortRun, true, 1},
    };
    for (const Subject& subject : subjects) {
        const Cost cost = Cycle(subject);
        std::printf("%s\n", Describe(subject.file, cost).c_str());
        EXPECT_EQ(cost.slotsLost, 0) << subject.file;
        // Each library a cycle loads may cost what the reference costs; a
        // page over the whole run is the heap's noise, not a loss per load.
        if (cost.bytesPerCycle && reference.bytesPerCycle) {
            EXPECT_LE(*cost.bytesPerCycle, subject.libraries * *reference.bytesPerCycle + 4096.0 / subject.cycles)
                << subject.file;
        }
    }
    test::UnsetEnvironment("ZELBRIDGE_TRACE");
    test::UnsetEnvironment("ZELBRIDGE_RECORD");
    std::remove(trace.c_str());
    std::remove(recording.c_str());
}

} // namespace
} // namespace zelbridge
