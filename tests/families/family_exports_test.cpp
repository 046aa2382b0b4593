// The 90 family exports of the built module, called the way an application
// calls them: each reaches its driver function with its arguments in order
// and passes the driver's result back, or gives its fallback when the family
// library is missing.
#include "zelbridge.h"
#include "export_list.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace zelbridge::test {
namespace {

using Export = ModuleExport;

// The family entry points hold ordinals 1 to 90.
const std::vector<Export>& FamilyExports()
{
    static const std::vector<Export> exports = [] {
        std::vector<Export> all;
        for (const Export& entry : kModuleExports)
            if (entry.ordinal <= 90)
                all.push_back(entry);
        return all;
    }();
    return exports;
}

// The argument lists of the family entry points.
enum class Shape { None, W, WW, WWW, I, ICloses, IW, IWW, IWWW, IWWWW, ICommand, IAnswer, ISize };

struct Operation {
    const char* name;
    Shape shape;
    // The driver function after the resolution prefix.
    const char* driverFunction;
    int fallback;
};

const Operation kOperations[] = {
    {"IsDLLAvailable", Shape::None, nullptr, 0},
    {"InterfaceSetupDlg", Shape::W, "InterfaceSetupDlg", -1},
    {"Connect", Shape::W, "Connect", -1},
    {"ConnectRS232", Shape::WW, "ConnectRS232", -1},
    {"ConnectNIgpib", Shape::WW, "ConnectNIgpib", -1},
    {"ConnectPciBoard", Shape::W, "ConnectPciBoard", -1},
    {"IsConnected", Shape::I, "IsConnected", 0},
    {"CloseConnection", Shape::ICloses, "CloseConnection", 0},
    {"GetError", Shape::I, "GetError", -1034},
    {"SetErrorCheck", Shape::IW, "SetErrorCheck", 0},
    {"TranslateError", Shape::WWW, "TranslateError", 0},
    {"GetCurrentBoardId", Shape::W, "GetCurrentBoardId", -1},
    {"GetCurrentInterfaceId", Shape::W, "GetCurrentInterfaceId", -1},
    {"ZelCommandset", Shape::ICommand, "ZelCommandset", 0},
    {"ZelGetAnswer", Shape::IAnswer, "ZelGetAnswer", 0},
    {"ZelGetAnswerSize", Shape::ISize, "ZelGetAnswerSize", 0},
    {"SetQMC", Shape::IWWW, "SetQMC", 0},
    {"GetQMC", Shape::IWWW, "GetQMC", 0},
    {"SetQMCA", Shape::IWWWW, "SetQMCA", 0},
    {"GetQMCA", Shape::IWWWW, "GetQMCA", 0},
    {"OpenUserStagesEditDialog", Shape::I, "OpenUserStagesEditDialog", 0},
    {"OpenQxStagesEditDialog", Shape::I, "OpenQxStagesEditDialog", 0},
    {"SendString", Shape::WW, "T5XXSendString", 0},
    {"ReadLine", Shape::IWW, "T5XXReadLine", 0},
};

struct FamilyOf {
    const char* prefix;
    const char* resolutionPrefix;
    // The tag of its library next to the test programs.
    const char* tag;
};

// The longer prefix first, so that M317_VB_ is not taken for M317_.
const FamilyOf kFamilies[] = {
    {"M317_VB_", "M317_", "m317vb"}, {"M317_", "M317_", "m317"}, {"M318_", "M318_", "m318"},
    {"M329_", "M329_", "m329"},      {"T520_", "T520_", "t520"}, {"T5XX_", "T5XX_", "t5xx"},
};

struct Target {
    const FamilyOf* family = nullptr;
    const Operation* operation = nullptr;
};

Target TargetOf(const std::string& exportName)
{
    for (const FamilyOf& family : kFamilies) {
        if (exportName.rfind(family.prefix, 0) != 0)
            continue;
        const std::string operation = exportName.substr(std::strlen(family.prefix));
        for (const Operation& candidate : kOperations)
            if (operation == candidate.name)
                return {&family, &candidate};
        return {&family, nullptr};
    }
    return {};
}

// One call of an export with arguments made from its ordinal, so that every
// argument of every call differs: what the driver saw, and the result.
struct Call {
    std::string arguments;
    int result = 0;
    bool returnsNothing = false;
    std::string answer;
    int answerSize = 0;
};

Call CallExport(const ZelbridgeModule& module, const Export& entry, Shape shape)
{
    using W = ZelWord;
    const int base = entry.ordinal * 100;
    const W w1 = base + 1, w2 = -(base + 2), w3 = base + 3, w4 = base + 4;
    const int id = base + 9;
    const std::string ids = std::to_string(id);
    auto text = [](long long value) { return std::to_string(value); };
    Call call;
    switch (shape) {
    case Shape::None:
        call.result = module.Get<int(ZELBRIDGE_CALL*)()>(entry.platformName)();
        break;
    case Shape::W:
        call.result = module.Get<int(ZELBRIDGE_CALL*)(W)>(entry.platformName)(w1);
        call.arguments = text(w1);
        break;
    case Shape::WW:
        call.result = module.Get<int(ZELBRIDGE_CALL*)(W, W)>(entry.platformName)(w1, w2);
        call.arguments = text(w1) + "," + text(w2);
        break;
    case Shape::WWW:
        call.result = module.Get<int(ZELBRIDGE_CALL*)(W, W, W)>(entry.platformName)(w1, w2, w3);
        call.arguments = text(w1) + "," + text(w2) + "," + text(w3);
        break;
    case Shape::I:
        call.result = module.Get<int(ZELBRIDGE_CALL*)(int)>(entry.platformName)(id);
        call.arguments = ids;
        break;
    case Shape::ICloses:
        module.Get<void(ZELBRIDGE_CALL*)(int)>(entry.platformName)(id);
        call.arguments = ids;
        call.returnsNothing = true;
        break;
    case Shape::IW:
        call.result = module.Get<int(ZELBRIDGE_CALL*)(int, W)>(entry.platformName)(id, w1);
        call.arguments = ids + "," + text(w1);
        break;
    case Shape::IWW:
        call.result = module.Get<int(ZELBRIDGE_CALL*)(int, W, W)>(entry.platformName)(id, w1, w2);
        call.arguments = ids + "," + text(w1) + "," + text(w2);
        break;
    case Shape::IWWW:
        call.result = module.Get<int(ZELBRIDGE_CALL*)(int, W, W, W)>(entry.platformName)(id, w1, w2, w3);
        call.arguments = ids + "," + text(w1) + "," + text(w2) + "," + text(w3);
        break;
    case Shape::IWWWW:
        call.result = module.Get<int(ZELBRIDGE_CALL*)(int, W, W, W, W)>(entry.platformName)(id, w1, w2, w3, w4);
        call.arguments = ids + "," + text(w1) + "," + text(w2) + "," + text(w3) + "," + text(w4);
        break;
    case Shape::ICommand: {
        const std::string command = "MOV " + std::to_string(entry.ordinal);
        call.result = module.Get<int(ZELBRIDGE_CALL*)(int, const char*)>(entry.platformName)(id, command.c_str());
        call.arguments = ids + ",\"" + command + "\"";
        break;
    }
    case Shape::IAnswer: {
        char buffer[40] = "untouched";
        call.result = module.Get<int(ZELBRIDGE_CALL*)(int, char*, int)>(entry.platformName)(id, buffer, sizeof buffer);
        call.arguments = ids + ",ptr," + std::to_string(sizeof buffer);
        call.answer = buffer;
        break;
    }
    case Shape::ISize:
        call.answerSize = -5;
        call.result = module.Get<int(ZELBRIDGE_CALL*)(int, int*)>(entry.platformName)(id, &call.answerSize);
        call.arguments = ids + ",ptr";
        break;
    }
    return call;
}

class FamilyExportsTest : public ::testing::Test {
protected:
    ScopedInstallPath installPath;
    ScopedDriverScript script;
};

TEST_F(FamilyExportsTest, EveryExportReachesItsDriverFunctionAndReturnsItsResult)
{
    installPath.Remove();
    ZelbridgeModule module;
    ASSERT_TRUE(module.loaded());
    script.SetAnswer("ANSWER 7", 77);

    ASSERT_EQ(FamilyExports().size(), 90u);
    for (const Export& entry : FamilyExports()) {
        const Target target = TargetOf(entry.name);
        ASSERT_NE(target.operation, nullptr) << entry.name;
        const std::string tag = target.family->tag;
        script.ClearLog();
        // One scripted result at a time: the script has room for fewer than 90.
        script.script().resultCount = 0;
        std::string driverFunction;
        int expected = 1;
        if (target.operation->driverFunction) {
            driverFunction = std::string(target.family->resolutionPrefix) + target.operation->driverFunction;
            expected = (entry.ordinal % 2 ? -1 : 1) * (5000 + entry.ordinal);
            script.SetResult(driverFunction.c_str(), expected);
        }

        const Call call = CallExport(module, entry, target.operation->shape);

        if (!target.operation->driverFunction) {
            // Each family's availability check is its first call, by ordinal.
            EXPECT_EQ(call.result, 1) << entry.name;
            EXPECT_EQ(script.Log(), tag + ":load\n") << entry.name;
            continue;
        }
        EXPECT_EQ(script.Log(), tag + ":" + driverFunction + "(" + call.arguments + ")\n") << entry.name;
        if (!call.returnsNothing) {
            EXPECT_EQ(call.result, expected) << entry.name;
        }
        if (target.operation->shape == Shape::IAnswer) {
            EXPECT_EQ(call.answer, "ANSWER 7") << entry.name;
        }
        if (target.operation->shape == Shape::ISize) {
            EXPECT_EQ(call.answerSize, 77) << entry.name;
        }
    }
}

TEST_F(FamilyExportsTest, WithoutTheirLibrariesEveryExportGivesItsFallback)
{
    installPath.Set(BinaryPath("families_missing"));
    ZelbridgeModule module;
    ASSERT_TRUE(module.loaded());

    for (const Export& entry : FamilyExports()) {
        const Target target = TargetOf(entry.name);
        ASSERT_NE(target.operation, nullptr) << entry.name;
        const Call call = CallExport(module, entry, target.operation->shape);
        if (!call.returnsNothing) {
            EXPECT_EQ(call.result, target.operation->fallback) << entry.name;
        }
        if (target.operation->shape == Shape::IAnswer) {
            EXPECT_EQ(call.answer, "untouched") << entry.name;
        }
        if (target.operation->shape == Shape::ISize) {
            EXPECT_EQ(call.answerSize, -5) << entry.name;
        }
    }
    EXPECT_EQ(script.Log(), "");
}

} // namespace
} // namespace zelbridge::test
