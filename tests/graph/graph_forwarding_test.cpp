// The graph entry points with the graph library in place: what reaches the
// library, what comes back, and the export table they are reached through.
#include "export_list.h"
#include "graph/bit_exact_call.h"
#include "graph_test_fixture.h"
#include "stdcall_probe.h"

#include <cstdint>
#include <cstring>
#include <set>
#include <type_traits>

namespace zelbridge::test {
namespace {

using ExportRecord = ModuleExport;
constexpr const auto& kExports = kModuleExports;

bool IsGraphExport(const ExportRecord& record)
{
    return std::strncmp(record.name, "QXGraph3D", 9) == 0;
}

// The bytes a 32-bit caller pushes: 4 for a word, 8 for a double.
template <typename... Arguments> constexpr int StackBytes(int(ZELBRIDGE_CALL*)(Arguments...))
{
    return (0 + ... + (std::is_same_v<Arguments, double> ? 8 : 4));
}

// A double that holds exactly `bits`. They are written as integers: on
// 32-bit x86 a double constant can pass through the x87 unit on its way to
// memory, which would quiet a signalling NaN before the call is even made.
class ExactDouble {
public:
    explicit ExactDouble(std::uint64_t bits)
    {
        void* address = &value_;
#if ZELBRIDGE_FORWARD_DOUBLES_AS_BITS
        asm("" : "+r"(address));
#endif
        std::memcpy(address, &bits, sizeof bits);
    }
    const double& operator*() const { return value_; }

private:
    double value_;
};

TEST_F(GraphTest, EveryEntryPointForwardsItsArgumentsInOrderAndReturnsTheLibrarysResult)
{
    std::string expectedLog = "graph:load\n";
    for (const GraphCall& call : CallEveryEntryPoint(1)) {
        EXPECT_EQ(call.result, call.libraryResult) << call.function;
        expectedLog += "graph:" + call.expectedLine + "\n";
    }
    EXPECT_EQ(script.Log(), expectedLog);
}

TEST_F(GraphTest, DoublesArriveBitForBit)
{
    const ExactDouble negativeZero(0x8000000000000000);
    const ExactDouble signallingNanWithPayload(0x7ff0000000000bad);
    const ExactDouble smallestSubnormal(0x0000000000000001);
    const ExactDouble negativeQuietNanWithPayload(0xfff8000000c0ffee);
    const ExactDouble largestFinite(0x7fefffffffffffff);
    // Called the way the module forwards, so that the test's own call
    // cannot change a bit either.
    const auto call = [this](const char* name) { return module.Get<platform::ProcAddress>(name); };
    script.SetResult("QXGraph3DInitGridData", 124);
    script.SetResult("QXGraph3DSetRange", -129);

    EXPECT_EQ(CallBitExact<decltype(&QXGraph3DInitGridData)>(call("QXGraph3DInitGridData"), ZelWord{-7}, *negativeZero,
                                                              *signallingNanWithPayload, ZelWord{8}, *smallestSubnormal,
                                                              *negativeQuietNanWithPayload, ZelWord{-9}),
              124);
    CallBitExact<decltype(&QXGraph3DAddDataPoint)>(call("QXGraph3DAddDataPoint"), ZelWord{1}, ZelWord{2}, ZelWord{3},
                                                   *signallingNanWithPayload);
    EXPECT_EQ(CallBitExact<decltype(&QXGraph3DSetRange)>(call("QXGraph3DSetRange"), ZelWord{4}, ZelWord{5},
                                                          *largestFinite, *negativeZero),
              -129);
    EXPECT_EQ(script.Log(), "graph:load\n"
                            "graph:QXGraph3DInitGridData(-7,0x8000000000000000,0x7ff0000000000bad,8,"
                            "0x0000000000000001,0xfff8000000c0ffee,-9)\n"
                            "graph:QXGraph3DAddDataPoint(1,2,3,0x7ff0000000000bad)\n"
                            "graph:QXGraph3DSetRange(4,5,0x7fefffffffffffff,0x8000000000000000)\n");
}

TEST(GraphExportTable, EachGraphFunctionIsExportedUnderItsOrdinalWithItsArgumentBytes)
{
    std::set<int> graphOrdinals;
    for (const ExportRecord& record : kExports) {
        if (IsGraphExport(record)) {
            EXPECT_TRUE(graphOrdinals.insert(record.ordinal).second) << "ordinal used twice: " << record.ordinal;
        }
    }
    EXPECT_EQ(graphOrdinals.size(), 31u);
    EXPECT_EQ(*graphOrdinals.begin(), 120);
    EXPECT_EQ(*graphOrdinals.rbegin(), 150);

    const auto find = [](const char* name) -> const ExportRecord* {
        for (const ExportRecord& record : kExports)
            if (std::strcmp(record.name, name) == 0)
                return &record;
        return nullptr;
    };
#define GRAPH_TEST_CHECK_EXPORT(tableOrdinal, name, parameters, arguments, unavailable)                            \
    if (const ExportRecord* record = find(#name)) {                                                                \
        EXPECT_EQ(record->ordinal, tableOrdinal) << #name;                                                           \
        EXPECT_EQ(record->argumentBytes, StackBytes(static_cast<decltype(&::name)>(nullptr))) << #name;            \
    } else {                                                                                                       \
        ADD_FAILURE() << "not exported: " #name;                                                                   \
    }
    ZELBRIDGE_GRAPH_FUNCTIONS(GRAPH_TEST_CHECK_EXPORT)
#undef GRAPH_TEST_CHECK_EXPORT
    EXPECT_EQ(StackBytes(static_cast<decltype(&QXGraph3DInitGridData)>(nullptr)), 44);
}

#if defined(_WIN32) && defined(__i386__)
class GraphStackTest : public GraphTest {
protected:
    void ExpectEveryEntryPointToRemoveItsArguments(bool libraryUsable)
    {
        const std::uint32_t zeros[16] = {};
        for (const ExportRecord& record : kExports) {
            if (!IsGraphExport(record))
                continue;
            const auto entryPoint = module.Get<platform::ProcAddress>(record.platformName);
            ASSERT_NE(entryPoint, nullptr);
            const StackProbeResult probe =
                CallMeasuringStack(reinterpret_cast<const void*>(entryPoint), zeros, record.argumentBytes / 4);
            EXPECT_EQ(probe.stackDelta, 0) << record.name;
            if (!libraryUsable) {
                EXPECT_EQ(static_cast<std::int32_t>(probe.result), UnavailableResult(record.name)) << record.name;
            }
        }
    }
};

TEST_F(GraphStackTest, EveryEntryPointRemovesItsArgumentsWhenItForwards)
{
    ExpectEveryEntryPointToRemoveItsArguments(true);
    EXPECT_NE(script.Log().find("graph:QXGraph3DSetRange(0,0,0x0000000000000000,0x0000000000000000)"), std::string::npos);
}

TEST_F(GraphStackTest, EveryEntryPointRemovesItsArgumentsWhenTheLibraryIsMissing)
{
    installPath.Set(BinarySubfolder("graph-missing"));
    ExpectEveryEntryPointToRemoveItsArguments(false);
    EXPECT_EQ(script.Log(), "");
}
#endif

} // namespace
} // namespace zelbridge::test
