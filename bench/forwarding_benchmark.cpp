// What the module adds to a driver call: each forwarding kind against the
// same driver function called directly through a pointer, the first use of
// each kind, and DefineSystem at scale. Run with no argument for Google
// Benchmark's timings, or as `--count KIND CALLS` for scripts/bench.sh, which
// counts the instructions of CALLS calls under callgrind.
#include "zelbridge.h"
#include "platform/platform.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

// Every allocation through operator new in the process, the module's included,
// and the bytes asked for.
std::atomic<long> allocations{0};
std::atomic<long> allocatedBytes{0};
void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    allocatedBytes.fetch_add(static_cast<long>(size), std::memory_order_relaxed);
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

namespace platform = zelbridge::platform;

std::string InBuild(const char* fileName) { return std::string(ZELBRIDGE_BENCH_DIR "/") + fileName; }

class Library {
public:
    explicit Library(const std::string& path) : handle_(platform::OpenModule(path.c_str()))
    {
        if (!handle_) {
            std::fprintf(stderr, "cannot load %s\n", path.c_str());
            std::exit(2);
        }
    }
    ~Library() { platform::CloseModule(handle_); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    template <typename Function> Function Get(const char* name) const
    {
        const auto address = platform::FindSymbol(handle_, name);
        if (!address) {
            std::fprintf(stderr, "no %s\n", name);
            std::exit(2);
        }
        return reinterpret_cast<Function>(address);
    }

private:
    platform::ModuleHandle handle_;
};

#define EXPORT_OF(library, name) (library).Get<decltype(&::name)>(#name)

// The module and the driver libraries it forwards to, each already in use.
struct Fixture {
    Fixture()
    {
        if (EXPORT_OF(module, DefineSystem)("drv_full.dll", "DRV_") != 0 || EXPORT_OF(module, M329_IsDLLAvailable)() != 1 ||
            EXPORT_OF(module, QXGraph3DCreate)(0, 0) != 0) {
            std::fprintf(stderr, "the module cannot reach the test drivers in " ZELBRIDGE_BENCH_DIR "\n");
            std::exit(2);
        }
    }

    Library module{InBuild(ZELBRIDGE_MODULE_FILE)};
    Library generic{InBuild("drv_full.dll")};
    Library family{InBuild("M329_ZEL_DLL.DLL")};
    Library graph{InBuild("wxQXGraph3D.dll")};

    decltype(&::IsConnected) isConnected = EXPORT_OF(module, IsConnected);
    decltype(&::InterfaceSetupDlg) interfaceSetupDlg = EXPORT_OF(module, InterfaceSetupDlg);
    decltype(&::M329_IsConnected) familyIsConnected = EXPORT_OF(module, M329_IsConnected);
    decltype(&::QXGraph3DAddDataPoint) addDataPoint = EXPORT_OF(module, QXGraph3DAddDataPoint);

    int(ZELBRIDGE_CALL* driverIsConnected)(int) = generic.Get<int(ZELBRIDGE_CALL*)(int)>("DRV_IsConnected");
    int(ZELBRIDGE_CALL* driverInterfaceSetupDlg)(ZelWord) =
        generic.Get<int(ZELBRIDGE_CALL*)(ZelWord)>("DRV_InterfaceSetupDlg");
    decltype(&::M329_IsConnected) driverFamilyIsConnected = family.Get<decltype(&::M329_IsConnected)>("M329_IsConnected");
    decltype(&::QXGraph3DAddDataPoint) driverAddDataPoint = EXPORT_OF(graph, QXGraph3DAddDataPoint);
};

// One kind of call: the loop that scripts/bench.sh counts, by name.
struct CallKind {
    const char* name;
    void (*loop)(Fixture& f, long calls);
};

#define CALL_LOOP(function, call)                                                                                \
    __attribute__((noinline)) void function([[maybe_unused]] Fixture& f, long calls)                             \
    {                                                                                                            \
        for (long i = 0; i < calls; ++i)                                                                         \
            benchmark::DoNotOptimize(call);                                                                      \
    }
CALL_LOOP(TwoTickReads, platform::TickCount() + platform::TickCount())
CALL_LOOP(DirectIsConnected, f.driverIsConnected(static_cast<int>(i)))
CALL_LOOP(GenericIsConnected, f.isConnected(0))
CALL_LOOP(DirectInterfaceSetupDlg, f.driverInterfaceSetupDlg(i))
CALL_LOOP(GenericInterfaceSetupDlg, f.interfaceSetupDlg(0, i))
CALL_LOOP(DirectFamilyIsConnected, f.driverFamilyIsConnected(static_cast<int>(i)))
CALL_LOOP(FamilyIsConnected, f.familyIsConnected(static_cast<int>(i)))
CALL_LOOP(DirectAddDataPoint, f.driverAddDataPoint(1, 2, i, 0.5))
CALL_LOOP(GraphAddDataPoint, f.addDataPoint(1, 2, i, 0.5))

const CallKind kCallKinds[] = {
    {"two-tick-reads", TwoTickReads},
    {"direct-IsConnected", DirectIsConnected},         {"generic-IsConnected", GenericIsConnected},
    {"direct-InterfaceSetupDlg", DirectInterfaceSetupDlg}, {"generic-InterfaceSetupDlg", GenericInterfaceSetupDlg},
    {"direct-M329_IsConnected", DirectFamilyIsConnected}, {"family-M329_IsConnected", FamilyIsConnected},
    {"direct-QXGraph3DAddDataPoint", DirectAddDataPoint}, {"graph-QXGraph3DAddDataPoint", GraphAddDataPoint},
};

// The same calls with the module recording them to a file: what a recorded
// session costs per call.
void RecordedCallLoop(benchmark::State& state, void (*loop)(Fixture&, long))
{
    const std::string recording = std::string(ZELBRIDGE_BENCH_DIR "/bench-recording.jsonl");
    setenv("ZELBRIDGE_RECORD", recording.c_str(), 1);
    {
        Fixture fixture;
        for (auto _ : state)
            loop(fixture, 1);
    }
    unsetenv("ZELBRIDGE_RECORD");
    std::remove(recording.c_str());
}

// Each benchmark loads the module afresh and unloads it at its end, so that
// the first-use and DefineSystem benchmarks find it new whatever ran before.
void CallLoop(benchmark::State& state, void (*loop)(Fixture&, long))
{
    Fixture fixture;
    const long before = allocations.load();
    for (auto _ : state)
        loop(fixture, 1);
    state.counters["allocations/call"] =
        benchmark::Counter(static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations()));
}

// The first call of each kind on a freshly loaded module; the load and
// unload of the module itself are not counted.
void FirstUse(benchmark::State& state, int kind)
{
    for (auto _ : state) {
        state.PauseTiming();
        {
            Library module(InBuild(ZELBRIDGE_MODULE_FILE));
            state.ResumeTiming();
            switch (kind) {
            case 0:
                benchmark::DoNotOptimize(EXPORT_OF(module, DefineSystem)("drv_full.dll", "DRV_"));
                benchmark::DoNotOptimize(EXPORT_OF(module, IsConnected)(0));
                break;
            case 1:
                benchmark::DoNotOptimize(EXPORT_OF(module, M329_IsConnected)(0));
                break;
            default:
                benchmark::DoNotOptimize(EXPORT_OF(module, QXGraph3DAddDataPoint)(1, 2, 3, 0.5));
                break;
            }
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
}

// DefineSystem on one cached library, state.range(0) times on a fresh module.
void DefineSystems(benchmark::State& state)
{
    const long systems = state.range(0);
    double heapPerSystem = 0;
    for (auto _ : state) {
        state.PauseTiming();
        {
            Library module(InBuild(ZELBRIDGE_MODULE_FILE));
            const auto defineSystem = EXPORT_OF(module, DefineSystem);
            defineSystem("drv_full.dll", "DRV_");
            const long bytesBefore = allocatedBytes.load();
            state.ResumeTiming();
            for (long i = 1; i < systems; ++i)
                benchmark::DoNotOptimize(defineSystem("drv_full.dll", "DRV_"));
            state.PauseTiming();
            heapPerSystem = static_cast<double>(allocatedBytes.load() - bytesBefore) / static_cast<double>(systems - 1);
        }
        state.ResumeTiming();
    }
    state.counters["heap bytes/system"] = heapPerSystem;
}

int CountInstructions(const char* kindName, const char* callsText)
{
    const long calls = std::strtol(callsText, nullptr, 10);
    for (const CallKind& kind : kCallKinds) {
        if (std::strcmp(kind.name, kindName) != 0)
            continue;
        Fixture fixture;
        const long before = allocations.load();
        kind.loop(fixture, calls);
        std::printf("%s %ld calls, %ld allocations\n", kind.name, calls, allocations.load() - before);
        return 0;
    }
    std::fprintf(stderr, "unknown call kind %s\n", kindName);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--count") == 0)
        return CountInstructions(argv[2], argv[3]);

    for (const CallKind& kind : kCallKinds)
        benchmark::RegisterBenchmark(kind.name, CallLoop, kind.loop);
    for (const CallKind& kind : kCallKinds) {
        if (std::strncmp(kind.name, "generic-", 8) == 0 || std::strncmp(kind.name, "family-", 7) == 0 ||
            std::strncmp(kind.name, "graph-", 6) == 0)
            benchmark::RegisterBenchmark((std::string("recorded/") + kind.name).c_str(), RecordedCallLoop, kind.loop);
    }
    const char* const firstUses[] = {"first-use/generic-DefineSystem+IsConnected", "first-use/family-M329_IsConnected",
                                     "first-use/graph-QXGraph3DAddDataPoint"};
    for (int kind = 0; kind < 3; ++kind)
        benchmark::RegisterBenchmark(firstUses[kind], FirstUse, kind)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("DefineSystem", DefineSystems)
        ->Arg(10000)
        ->Arg(100000)
        ->Arg(1000000)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
