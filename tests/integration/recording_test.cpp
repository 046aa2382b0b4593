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
#include <iterator>
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

    // One file per test: ctest runs the tests of this fixture side by side.
    const std::string path =
        test::BinaryPath(std::string("recording-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                         ".jsonl");
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
#define ZELBRIDGE_CALL_ONE(name, params, args, description, families)                                                          \
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

TEST_F(RecordingTest, TextsAndAnswersAreWholeUpToTheBoundAndNothingIsReadThatNoDriverReads)
{
    const int index = ZB_EXPORT_OF(module, DefineSystem)("drv_full.dll", "DRV_");
    const int withoutFunctions = ZB_EXPORT_OF(module, DefineSystem)("drv_empty.dll", "DRV_");
    ASSERT_GE(withoutFunctions, 0);
    const auto command = ZB_EXPORT_OF(module, ZelCommandset);
    const auto receive = ZB_EXPORT_OF(module, ReceiveNonZELString);
    const auto answer = ZB_EXPORT_OF(module, ZelGetAnswer);
    std::string longText(20003, 'x');
    std::string overBound(format::kTextBound + 5, 'y');
    // Not an address at all: whatever reads it crashes.
    const auto notAText = reinterpret_cast<const char*>(16);
    const auto word = [](const std::string& text) { return reinterpret_cast<ZelWord>(text.data()); };
    command(index, longText.c_str());
    command(index, overBound.c_str());
    command(99, notAText);
    command(withoutFunctions, notAText);
    receive(index, word(longText), static_cast<ZelWord>(longText.size() + 1));
    // Filled to its end without a terminator, as a driver may leave it.
    receive(index, word(overBound), static_cast<ZelWord>(overBound.size()));
    answer(99, const_cast<char*>(notAText), 10);

    std::ifstream file(path);
    std::string line;
    ASSERT_TRUE(std::getline(file, line));
    const json session = json::parse(line);
    EXPECT_EQ(session[format::kFormatField], format::kFormatName);
    EXPECT_EQ(session[format::kVersionField], format::kFormatVersion);
    EXPECT_TRUE(session[format::kStartedField].is_string());
    const std::vector<json> records = CallRecords(path);
    ASSERT_EQ(records.size(), 9u);
    for (const json& record : records)
        EXPECT_EQ(record[format::kProcessField], session[format::kProcessField]);
    const struct {
        const char* field;
        std::size_t length; // 0: null
        bool cut;
        std::size_t answerLength;
    } expected[] = {
        {format::kArgumentsField, longText.size(), false, 0},
        {format::kArgumentsField, format::kTextBound, true, 0},
        {format::kArgumentsField, 0, false, 0},
        {format::kArgumentsField, 0, false, 0},
        {format::kAnswerField, longText.size(), false, 0},
        {format::kAnswerField, format::kTextBound, true, overBound.size()},
        {format::kAnswerField, 0, false, 0},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const json& record = records[i + 2];
        SCOPED_TRACE(std::to_string(i) + ": " + record.dump().substr(0, 200));
        const bool argument = std::string(expected[i].field) == format::kArgumentsField;
        const json value = argument ? record[format::kArgumentsField][0]
                                    : record.value(format::kAnswerField, json());
        EXPECT_EQ(value.is_null(), expected[i].length == 0);
        if (value.is_string()) {
            EXPECT_EQ(value.get<std::string>().size(), expected[i].length);
        }
        EXPECT_EQ(record.value(format::kCutField, false), expected[i].cut);
        EXPECT_EQ(record.value(format::kAnswerLengthField, std::size_t{0}), expected[i].answerLength);
    }
}

TEST_F(RecordingTest, AGraphCallKeepsItsDoublesAndNoneOfItsWords)
{
    double range[2] = {};
    ZB_EXPORT_OF(module, QXGraph3DGetRange)(1, reinterpret_cast<ZelWord>(&range[0]), reinterpret_cast<ZelWord>(&range[1]), 0);
    ZB_EXPORT_OF(module, QXGraph3DSetRange)(1, 2, -1.5, 2.25);

    const std::vector<json> records = CallRecords(path);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0][format::kArgumentsField], json::parse("[null,null,null,null]"));
    EXPECT_EQ(records[1][format::kArgumentsField], json::parse("[null,null,-1.5,2.25]"));
}

} // namespace
} // namespace zelbridge
