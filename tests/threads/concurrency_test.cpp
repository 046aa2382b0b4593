// The module under threads that do not serialise their calls: first calls of
// every family and of the graph at once, systems defined while other threads
// call the systems already defined, and the detach after all of that. The
// test drivers count their loads and unloads.
#include "api/driver_contract.h"
#include "zelbridge.h"
#include "test_environment.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zelbridge {
namespace {

using test::ScopedDriverScript;
using test::ZelbridgeModule;

constexpr int kThreads = 8;

// Starts `count` threads running `body(thread number)` as close to together
// as threads can, and joins them.
template <typename Body> void RunTogether(int count, Body body)
{
    std::atomic<int> waiting{count};
    std::vector<std::thread> threads;
    for (int number = 0; number < count; ++number)
        threads.emplace_back([&, number] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0)
                std::this_thread::yield();
            body(number);
        });
    for (std::thread& thread : threads)
        thread.join();
}

TEST(Concurrency, FirstCallsOfEveryFamilyAndTheGraphAtOnceLoadEachLibraryOnce)
{
    ScopedDriverScript script;
    script.script().muteCalls = true;
    ZelbridgeModule module;
    const char* const isConnected[] = {"M317_IsConnected", "M317_VB_IsConnected", "M318_IsConnected",
                                       "M329_IsConnected", "T520_IsConnected",    "T5XX_IsConnected"};
    std::vector<decltype(&::M329_IsConnected)> families;
    for (const char* name : isConnected)
        families.push_back(module.Get<decltype(&::M329_IsConnected)>(name));
    const auto resetPointOfView = ZB_EXPORT_OF(module, QXGraph3DResetPointOfView);

    RunTogether(kThreads, [&](int number) {
        // Each thread starts with another family, so that every family has
        // several first callers.
        for (std::size_t i = 0; i < families.size(); ++i)
            families[(i + static_cast<std::size_t>(number)) % families.size()](number);
        resetPointOfView(number);
    });
    module.Unload();

    // Four family libraries are freed at detach; the M317 and T520 ones and
    // the graph library stay loaded until the process ends.
    const struct {
        const char* tag;
        int unloads;
    } libraries[] = {{"m317", 0}, {"m317vb", 1}, {"m318", 1}, {"m329", 1}, {"t520", 0}, {"t5xx", 1}, {"graph", 0}};
    for (const auto& library : libraries) {
        EXPECT_EQ(script.CountOf(std::string(library.tag) + ":load"), 1) << library.tag;
        EXPECT_EQ(script.CountOf(std::string(library.tag) + ":unload"), library.unloads) << library.tag;
    }
    EXPECT_EQ(script.CountOf("m329:M329_IsConnected"), kThreads);
    EXPECT_EQ(script.CountOf("graph:QXGraph3DResetPointOfView"), kThreads);
}

// Every generic entry point but DefineSystem, resolved once.
struct GenericApi {
    explicit GenericApi(const ZelbridgeModule& module)
        : module(module), defineSystem(ZB_EXPORT_OF(module, DefineSystem))
    {
    }

    // Calls each entry point on `index` with arguments the test drivers accept.
    void CallEvery(int index) const
    {
        char answer[16] = {};
        int size = 0;
        ZB_EXPORT_OF(module, InterfaceSetupDlg)(index, 0);
        ZB_EXPORT_OF(module, ConnectRS232)(index, 1, 9600);
        ZB_EXPORT_OF(module, ConnectNIgpib)(index, 0, 1);
        ZB_EXPORT_OF(module, ConnectTCPIP)(index, 0, 1);
        ZB_EXPORT_OF(module, Connect)(index, 0);
        module.Get<decltype(&::ConnectPciBoard)>(test::kConnectPciBoardExport)(index, 0);
        ZB_EXPORT_OF(module, ConnectDaisyChainDevice)(index, 0, 1);
        ZB_EXPORT_OF(module, OpenRS232DaisyChain)(index, 1, 2, 3, 4, 5);
        ZB_EXPORT_OF(module, CloseDaisyChain)(index, 1);
        ZB_EXPORT_OF(module, ConnectUSB)(index, 0);
        ZB_EXPORT_OF(module, ListUSB)(index, 0, 0);
        ZB_EXPORT_OF(module, EnumerateUSB)(index, 0, 0, 0);
        ZB_EXPORT_OF(module, IsConnected)(index);
        ZB_EXPORT_OF(module, SetErrorCheck)(index, 1);
        ZB_EXPORT_OF(module, GetError)(index);
        ZB_EXPORT_OF(module, TranslateError)(index, 0, 0, 0);
        ZB_EXPORT_OF(module, ZelCommandset)(index, "POS?");
        ZB_EXPORT_OF(module, ZelGetAnswerSize)(index, &size);
        ZB_EXPORT_OF(module, ZelGetAnswer)(index, answer, sizeof answer);
        ZB_EXPORT_OF(module, SetQMC)(index, 1, 2, 3);
        ZB_EXPORT_OF(module, GetQMC)(index, 1, 2, 3);
        ZB_EXPORT_OF(module, SetQMCA)(index, 1, 2, 3, 4);
        ZB_EXPORT_OF(module, GetQMCA)(index, 1, 2, 3, 4);
        ZB_EXPORT_OF(module, SendNonZELString)(index, 0);
        ZB_EXPORT_OF(module, ReceiveNonZELString)(index, 0, 0);
        ZB_EXPORT_OF(module, OpenUserStagesEditDialog)(index);
        ZB_EXPORT_OF(module, OpenQxStagesEditDialog)(index);
        ZB_EXPORT_OF(module, CloseConnection)(index);
    }

    const ZelbridgeModule& module;
    decltype(&::DefineSystem) defineSystem;
};

TEST(Concurrency, SystemsDefinedWhileOtherThreadsCallTheOnesAlreadyDefined)
{
    ScopedDriverScript script;
    script.script().muteCalls = true;
    ZelbridgeModule module;
    const GenericApi api(module);
    const std::string installed = test::BinaryPath("drv_installed.dll", "installed");
    const struct {
        const char* name;
        const char* prefix;
        const char* tag;
    } libraries[] = {{"drv_full.dll", "DRV_", "full"},
                     {"drv_second.dll", "DRV_", "second"},
                     {"drv_bare.dll", "", "bare"},
                     {installed.c_str(), "DRV_", "installed"}};
    constexpr int kSystemsPerThread = 40;

    std::vector<std::vector<int>> indexes(kThreads);
    std::atomic<int> highestDefined{-1};
    std::atomic<int> definersRunning{kThreads};
    RunTogether(2 * kThreads, [&](int number) {
        if (number < kThreads) {
            for (int i = 0; i < kSystemsPerThread; ++i) {
                const auto& library = libraries[static_cast<std::size_t>(number + i) % std::size(libraries)];
                const int index = api.defineSystem(library.name, library.prefix);
                indexes[static_cast<std::size_t>(number)].push_back(index);
                int seen = highestDefined.load();
                while (index > seen && !highestDefined.compare_exchange_weak(seen, index)) {
                }
            }
            definersRunning.fetch_sub(1);
            return;
        }
        // Callers go round the indexes seen so far until the definers end.
        for (int round = 0; definersRunning.load() > 0 || round < 2; ++round)
            for (int index = 0; index <= highestDefined.load(); index += 1 + number % 3)
                api.CallEvery(index);
    });

    std::vector<int> all;
    for (const auto& returned : indexes)
        all.insert(all.end(), returned.begin(), returned.end());
    std::sort(all.begin(), all.end());
    std::vector<int> expected(kThreads * kSystemsPerThread);
    for (std::size_t i = 0; i < expected.size(); ++i)
        expected[i] = static_cast<int>(i);
    EXPECT_EQ(all, expected);

    module.Unload();
    int closes = 0;
    for (const auto& library : libraries) {
        EXPECT_EQ(script.CountOf(std::string(library.tag) + ":load"), 1) << library.tag;
        EXPECT_EQ(script.CountOf(std::string(library.tag) + ":unload"), 1) << library.tag;
        closes += script.CountOf(std::string(library.tag) + ":" + library.prefix + "CloseConnection");
    }
    // The callers' own closes, then one for each system at detach.
    EXPECT_GE(closes, kThreads * kSystemsPerThread);
}

// Two calls on one system that change its connection at once: a connect
// racing a close, or two closes. Whatever the order, every connection the
// driver opened is closed exactly once, by a caller or at detach.
TEST(Concurrency, ConnectsAndClosesAtOnceCloseEveryConnectionExactlyOnce)
{
    const platform::ModuleHandle driver = platform::OpenModule(test::BinaryPath("drv_slow_close.dll").c_str());
    ASSERT_NE(driver, nullptr);
    const auto opened = reinterpret_cast<std::int32_t(ZELBRIDGE_STDCALL*)()>(platform::FindSymbol(driver, "SlowCloseOpened"));
    const auto closesOf =
        reinterpret_cast<std::int32_t(ZELBRIDGE_STDCALL*)(std::int32_t)>(platform::FindSymbol(driver, "SlowCloseClosesOf"));
    constexpr int kRounds = 250;
    struct Race {
        const char* name;
        bool connectFirst;
        std::int32_t firstConnection = 0;
        std::int32_t endConnection = 0;
    } races[] = {{"connect against close", false}, {"close against close", true}};
    {
        ZelbridgeModule module;
        const auto connect = ZB_EXPORT_OF(module, ConnectRS232);
        const auto close = ZB_EXPORT_OF(module, CloseConnection);
        for (Race& race : races) {
            const int system = ZB_EXPORT_OF(module, DefineSystem)("drv_slow_close.dll", "DRV_");
            race.firstConnection = opened();
            for (int round = 0; round < kRounds; ++round) {
                if (race.connectFirst)
                    connect(system, 1, 9600);
                RunTogether(2, [&](int number) {
                    if (number == 0 && !race.connectFirst)
                        connect(system, 1, 9600);
                    else
                        close(system);
                });
                // What the last round leaves open is the detach's to close.
                if (round + 1 < kRounds)
                    close(system);
            }
            race.endConnection = opened();
        }
    }
    for (const Race& race : races) {
        int wrong = 0;
        for (std::int32_t connection = race.firstConnection; connection < race.endConnection; ++connection)
            wrong += closesOf(connection) != 1;
        EXPECT_EQ(wrong, 0) << race.name << ": of " << race.endConnection - race.firstConnection
                            << " connections, closed other than once";
    }
    platform::CloseModule(driver);
}

TEST(Concurrency, TenThousandSystemsAreDefinedAndEachClosedOnceAtDetach)
{
    ScopedDriverScript script;
    script.script().muteCalls = true;
    ZelbridgeModule module;
    const auto defineSystem = ZB_EXPORT_OF(module, DefineSystem);
    const auto connect = ZB_EXPORT_OF(module, ConnectRS232);
    script.SetResult("DRV_ConnectRS232", 3);
    constexpr int kSystems = 10000;
    for (int index = 0; index < kSystems; ++index) {
        ASSERT_EQ(defineSystem(index % 2 ? "drv_second.dll" : "drv_full.dll", "DRV_"), index);
        if (index % 1000 == 999) {
            ASSERT_EQ(connect(index, 1, 2), index);
        }
    }
    EXPECT_EQ(ZB_EXPORT_OF(module, IsConnected)(kSystems), 0);
    module.Unload();

    EXPECT_EQ(script.CountOf("full:DRV_CloseConnection") + script.CountOf("second:DRV_CloseConnection"), kSystems);
    EXPECT_EQ(script.CountOf("second:DRV_ConnectRS232"), kSystems / 1000);
    for (const char* tag : {"full", "second"}) {
        EXPECT_EQ(script.CountOf(std::string(tag) + ":load"), 1) << tag;
        EXPECT_EQ(script.CountOf(std::string(tag) + ":unload"), 1) << tag;
    }
}

#if !defined(_WIN32)
// Calls a system whose library exports neither function, so that no call
// reaches driver code, on four threads until the process ends; ends the
// process with exit(), whose detach step then runs while they call; with a
// trace or a recording file, their lines go on being written to it.
[[noreturn]] void ExitWhileOtherThreadsCall(const char* setting, const char* value)
{
    if (setting)
        setenv(setting, value, 1);
    // Never unloaded: the exit does the detach.
    const auto* module = new ZelbridgeModule;
    const auto isConnected = ZB_EXPORT_OF(*module, IsConnected);
    const auto getError = ZB_EXPORT_OF(*module, GetError);
    const int system = ZB_EXPORT_OF(*module, DefineSystem)("drv_connect.dll", "DRV_");
    static std::atomic<int> calls{0};
    for (int thread = 0; thread < 4; ++thread)
        std::thread([=] {
            for (;;) {
                isConnected(system);
                getError(system);
                calls.fetch_add(1, std::memory_order_relaxed);
            }
        }).detach();
    while (calls.load(std::memory_order_relaxed) < 1000)
        std::this_thread::yield();
    std::exit(0);
}

// Windows ends every other thread before its detach step; exit() elsewhere
// runs it while they go on calling.
TEST(Concurrency, ExitWhileOtherThreadsCallEndsTheProcessCleanly)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string file = test::BinaryPath("exit-lines.txt");
    const std::string traceToFile = "file:" + file;
    const std::pair<const char*, const char*> settings[] = {
        {nullptr, nullptr}, {"ZELBRIDGE_TRACE", traceToFile.c_str()}, {"ZELBRIDGE_RECORD", file.c_str()}};
    for (const auto& [setting, value] : settings)
        for (int run = 0; run < 10; ++run)
            EXPECT_EXIT(ExitWhileOtherThreadsCall(setting, value), testing::ExitedWithCode(0), "")
                << "run " << run << ", " << (setting ? setting : "nothing set");
    std::remove(file.c_str());
}
#endif

} // namespace
} // namespace zelbridge
