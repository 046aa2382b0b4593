// What a recording holds for each generic operation, called through the
// module as an application calls it: one record under the name called, and
// each argument written as the operation table says the driver reads it.
#include "zelbridge.h"
#include "api/driver_contract.h"
#include "recording/recording_format.h"
#include "test_environment.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

namespace zelbridge {
namespace {

using nlohmann::json;
namespace format = recording;

// The buffers and texts every call hands over, so that no address of them
// may show up in the recording.
struct CallArguments {
    char text[16] = "host:5000 \"x\"";
    char buffer[32] = "listed\n";
    std::int32_t out = -1;

    template <typename Parameter> Parameter For(ArgumentKind kind)
    {
        Word word = 0;
        switch (kind) {
        case ArgumentKind::Integer: word = 7; break;
        case ArgumentKind::Opaque: word = 0x1234; break;
        case ArgumentKind::Text: word = reinterpret_cast<Word>(text); break;
        case ArgumentKind::Buffer: word = reinterpret_cast<Word>(buffer); break;
        case ArgumentKind::Capacity: word = sizeof buffer; break;
        case ArgumentKind::IntegerOut: word = reinterpret_cast<Word>(&out); break;
        }
        if constexpr (std::is_pointer_v<Parameter>)
            return reinterpret_cast<Parameter>(word);
        else
            return static_cast<Parameter>(word);
    }
    bool IsAddress(long long value) const
    {
        const auto at = [](const void* p) { return static_cast<long long>(reinterpret_cast<std::intptr_t>(p)); };
        return value == at(text) || value == at(buffer) || value == at(&out);
    }
};

template <typename Result, typename... Parameters, std::size_t... I>
void CallEach(Result(ZELBRIDGE_CALL* entry)(int, Parameters...), int index, const OperationDescription& operation,
              CallArguments& arguments, std::index_sequence<I...>)
{
    entry(index, arguments.For<Parameters>(operation.arguments.kinds[I])...);
}

template <typename Result, typename... Parameters>
void Call(Result(ZELBRIDGE_CALL* entry)(int, Parameters...), int index, const OperationDescription& operation,
          CallArguments& arguments)
{
    ASSERT_NE(entry, nullptr);
    CallEach(entry, index, operation, arguments, std::index_sequence_for<Parameters...>());
}

std::string ExportName(const char* name)
{
    return std::string(name) == "ConnectPciBoard" ? test::kConnectPciBoardExport : name;
}

std::vector<json> CallRecords(const std::string& path)
{
    std::vector<json> records;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        json record = json::parse(line);
        if (!record.contains(format::kFormatField))
            records.push_back(std::move(record));
    }
    return records;
}

class RecordingTest : public ::testing::Test {
protected:
    RecordingTest()
    {
        std::remove(path.c_str());
        test::SetEnvironment("ZELBRIDGE_RECORD", path.c_str());
        module.Reload();
        test::UnsetEnvironment("ZELBRIDGE_RECORD");
    }
    ~RecordingTest() override
    {
        module.Unload();
        std::remove(path.c_str());
    }

    const std::string path = test::BinaryPath("recording-test.jsonl");
    test::ScopedDriverScript script;
    test::ZelbridgeModule module;
};

TEST_F(RecordingTest, EveryOperationIsRecordedOnceUnderItsNameWithEachArgumentAsTheDriverReadsIt)
{
    CallArguments arguments;
    // What the test driver writes into ZelGetAnswer's buffer; the others keep what is there.
    script.SetAnswer(arguments.buffer, 7);
    const int index = ZB_EXPORT_OF(module, DefineSystem)("drv_full.dll", "DRV_");
    ASSERT_EQ(index, 0);
#define ZELBRIDGE_CALL_ONE(name, params, args, description)                                                          \
    Call(module.Get<decltype(&::name)>(ExportName(#name).c_str()), index, Describe(Operation::name), arguments);
    ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_CALL_ONE)
#undef ZELBRIDGE_CALL_ONE

    const std::vector<json> records = CallRecords(path);
    ASSERT_EQ(records.size(), kOperationCount + 1) << "DefineSystem and one record per call";
    EXPECT_EQ(records[0][format::kArgumentsField], json::array({"drv_full.dll", "DRV_"}));
    for (unsigned i = 0; i < kOperationCount; ++i) {
        const OperationDescription& operation = kOperations[i];
        const json& record = records[i + 1];
        SCOPED_TRACE(record.dump());
        EXPECT_EQ(record[format::kEntryField], operation.name);
        EXPECT_EQ(record[format::kSystemField], index);
        EXPECT_EQ(record.contains(format::kResultField), operation.result != EntryResult::NoResult);
        std::vector<json::value_t> expected;
        bool answer = false, size = false;
        for (unsigned k = 0; k < operation.arguments.count; ++k) {
            switch (operation.arguments.kinds[k]) {
            case ArgumentKind::Integer: expected.push_back(json::value_t::number_integer); break;
            case ArgumentKind::Opaque: expected.push_back(json::value_t::null); break;
            case ArgumentKind::Text: expected.push_back(json::value_t::string); break;
            case ArgumentKind::Buffer: answer = true; break;
            case ArgumentKind::Capacity: break;
            case ArgumentKind::IntegerOut: size = true; break;
            }
        }
        const json& recorded = record[format::kArgumentsField];
        ASSERT_EQ(recorded.size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k) {
            // A number that is unsigned in JSON is still a number.
            const json::value_t type =
                recorded[k].is_number_integer() ? json::value_t::number_integer : recorded[k].type();
            EXPECT_EQ(type, expected[k]) << "argument " << k;
            if (recorded[k].is_string()) {
                EXPECT_EQ(recorded[k], std::string(arguments.text));
            }
            if (recorded[k].is_number()) {
                EXPECT_FALSE(arguments.IsAddress(recorded[k].get<long long>())) << "argument " << k;
            }
        }
        EXPECT_EQ(record.contains(format::kAnswerField), answer);
        if (answer) {
            EXPECT_EQ(record[format::kAnswerField], std::string(arguments.buffer));
        }
        EXPECT_EQ(record.contains(format::kSizeField), size);
    }
}

} // namespace
} // namespace zelbridge
