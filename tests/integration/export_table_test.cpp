// The module's export table as applications link to it: every name of the
// module definition file, at its ordinal, taking its arguments off the stack.
#include "zelbridge.h"
#include "api/driver_contract.h"
#include "export_list.h"
#include "stdcall_probe.h"
#include "test_environment.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <regex>
#include <iterator>
#include <set>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zelbridge {
namespace {

using Export = test::ModuleExport;
constexpr const auto& kExports = test::kModuleExports;

// The contract, written out on its own: the export at each ordinal, from 1.
// The module definition file must agree with it.
constexpr const char* kContract[] = {
    "M317_IsDLLAvailable",
    "M317_Connect",
    "M317_IsConnected",
    "M317_CloseConnection",
    "M317_GetError",
    "M317_TranslateError",
    "M317_SetErrorCheck",
    "M317_ZelCommandset",
    "M317_ZelGetAnswer",
    "M317_ZelGetAnswerSize",
    "M318_IsDLLAvailable",
    "M318_InterfaceSetupDlg",
    "M318_ConnectRS232",
    "M318_ConnectNIgpib",
    "M318_IsConnected",
    "M318_CloseConnection",
    "M318_GetError",
    "M318_TranslateError",
    "M318_SetErrorCheck",
    "M318_ZelCommandset",
    "M318_ZelGetAnswer",
    "M318_ZelGetAnswerSize",
    "T5XX_IsDLLAvailable",
    "T5XX_InterfaceSetupDlg",
    "T5XX_ConnectRS232",
    "T5XX_ConnectNIgpib",
    "T5XX_ConnectPciBoard",
    "T5XX_IsConnected",
    "T5XX_CloseConnection",
    "T5XX_GetError",
    "T5XX_TranslateError",
    "T5XX_SetErrorCheck",
    "T5XX_ZelCommandset",
    "T5XX_ZelGetAnswer",
    "T5XX_ZelGetAnswerSize",
    "M317_VB_IsDLLAvailable",
    "M317_VB_Connect",
    "M317_VB_IsConnected",
    "M317_VB_CloseConnection",
    "M317_VB_GetError",
    "M317_VB_TranslateError",
    "M317_VB_SetErrorCheck",
    "M317_VB_ZelCommandset",
    "M317_VB_ZelGetAnswer",
    "M317_VB_ZelGetAnswerSize",
    "M317_VB_GetCurrentBoardId",
    "M317_GetCurrentBoardId",
    "M329_IsDLLAvailable",
    "M329_ConnectRS232",
    "M329_IsConnected",
    "M329_CloseConnection",
    "M329_GetError",
    "M329_TranslateError",
    "M329_SetErrorCheck",
    "M329_ZelCommandset",
    "M329_ZelGetAnswer",
    "M329_ZelGetAnswerSize",
    "M329_GetCurrentInterfaceId",
    "M317_SetQMC",
    "M317_GetQMC",
    "M317_SetQMCA",
    "M317_GetQMCA",
    "M317_VB_SetQMC",
    "M317_VB_GetQMC",
    "M317_VB_SetQMCA",
    "M317_VB_GetQMCA",
    "M329_SetQMC",
    "M329_GetQMC",
    "M329_SetQMCA",
    "M329_GetQMCA",
    "T5XX_SendString",
    "T5XX_ReadLine",
    "M317_OpenUserStagesEditDialog",
    "M317_OpenQxStagesEditDialog",
    "M317_VB_OpenUserStagesEditDialog",
    "M317_VB_OpenQxStagesEditDialog",
    "M329_OpenUserStagesEditDialog",
    "M329_OpenQxStagesEditDialog",
    "T520_IsDLLAvailable",
    "T520_InterfaceSetupDlg",
    "T520_ConnectRS232",
    "T520_ConnectNIgpib",
    "T520_IsConnected",
    "T520_CloseConnection",
    "T520_GetError",
    "T520_TranslateError",
    "T520_SetErrorCheck",
    "T520_ZelCommandset",
    "T520_ZelGetAnswer",
    "T520_ZelGetAnswerSize",
    "InterfaceSetupDlg",
    "ConnectRS232",
    "ConnectNIgpib",
    "ConnectTCPIP",
    "Connect",
    "IsConnected",
    "CloseConnection",
    "GetError",
    "TranslateError",
    "SetErrorCheck",
    "ZelCommandset",
    "ZelGetAnswer",
    "ZelGetAnswerSize",
    "SetQMC",
    "GetQMC",
    "SetQMCA",
    "GetQMCA",
    "SendNonZELString",
    "ReceiveNonZELString",
    "OpenUserStagesEditDialog",
    "OpenQxStagesEditDialog",
    "DefineSystem",
    "_ConnectPciBoard@8",
    "ConnectDaisyChainDevice",
    "OpenRS232DaisyChain",
    "CloseDaisyChain",
    "ListUSB",
    "ConnectUSB",
    "EnumerateUSB",
    "QXGraph3DCreate",
    "QXGraph3DPlotZELArray",
    "QXGraph3DResetPointOfView",
    "QXGraph3DClearData",
    "QXGraph3DInitGridData",
    "QXGraph3DAddDataPoint",
    "QXGraph3DGetAutoRange",
    "QXGraph3DSetAutoRange",
    "QXGraph3DGetRange",
    "QXGraph3DSetRange",
    "QXGraph3DSetDrawXYGrid",
    "QXGraph3DSetDrawXZGrid",
    "QXGraph3DSetDrawYZGrid",
    "QXGraph3DSetDrawTicks",
    "QXGraph3DSetDrawLabel",
    "QXGraph3DSetShowWires",
    "QXGraph3DSetShowSurfaces",
    "QXGraph3DSetProjection",
    "QXGraph3DSetBackgroundColour",
    "QXGraph3DGetBackgroundColour",
    "QXGraph3DSetDrawXYProjection",
    "QXGraph3DSetDrawXZProjection",
    "QXGraph3DSetDrawYZProjection",
    "QXGraph3DCopyToClipboard",
    "QXGraph3DSelectColourMap",
    "QXGraph3DClose",
    "QXGraph3DShow",
    "QXGraph3DSaveToImageFile",
    "QXGraph3DSetTickDigits",
    "QXGraph3DSetFontSize",
    "QXGraph3DGetFontSize",
};

TEST(ExportTable, TheModuleDefinitionIsTheContract)
{
    ASSERT_EQ(std::size(kExports), std::size(kContract));
    for (const Export& entry : kExports)
        EXPECT_STREQ(entry.name, kContract[entry.ordinal - 1]) << "ordinal " << entry.ordinal;
}

TEST(ExportTable, ListsOneHundredAndFiftyEntryPointsWithOrdinalsOneTo150)
{
    std::set<int> ordinals;
    std::set<std::string> names;
    for (const Export& entry : kExports) {
        ordinals.insert(entry.ordinal);
        names.insert(entry.name);
    }
    EXPECT_EQ(std::size(kExports), 150u);
    EXPECT_EQ(names.size(), std::size(kExports));
    ASSERT_EQ(ordinals.size(), std::size(kExports));
    EXPECT_EQ(*ordinals.begin(), 1);
    EXPECT_EQ(*ordinals.rbegin(), static_cast<int>(std::size(kExports)));
}

// The operation table against the module definition file and the header:
// each operation exported at its ordinal, taking the index and its words,
// and every generic entry point of either an operation of the table.
TEST(ExportTable, TheGenericEntryPointsAreTheOperationTable)
{
    const auto described = [](const std::string& name) -> const OperationDescription* {
        for (const OperationDescription& operation : kOperations)
            if (name == operation.name)
                return &operation;
        return nullptr;
    };
    const auto generic = [](const std::string& name) {
        return name != "DefineSystem" && name.rfind("QXGraph3D", 0) != 0 && name.rfind("M3", 0) != 0 &&
               name.rfind("T5", 0) != 0;
    };
    std::set<std::string> exported;
    for (const Export& entry : kExports) {
        std::string name = entry.name;
        if (name == "_ConnectPciBoard@8")
            name = "ConnectPciBoard";
        if (!generic(name))
            continue;
        exported.insert(name);
        const OperationDescription* operation = described(name);
        ASSERT_NE(operation, nullptr) << name << " is exported but not in the operation table";
        EXPECT_EQ(entry.ordinal, operation->ordinal) << name;
        const int bytes = 4 * (1 + operation->arguments.count);
        EXPECT_EQ(entry.argumentBytes, bytes) << name;
        // What the header makes a caller push, where a word is 4 bytes.
        if (sizeof(ZelWord) == 4) {
            EXPECT_EQ(entry.headerArgumentBytes, bytes) << name;
        }
    }
    EXPECT_EQ(exported.size(), kOperationCount);

    std::ifstream header(ZELBRIDGE_PUBLIC_HEADER);
    ASSERT_TRUE(header) << ZELBRIDGE_PUBLIC_HEADER;
    std::set<std::string> declared;
    const std::regex declaration(R"((\w+) ZELBRIDGE_CALL (\w+)\(int index(.*)\);)");
    for (std::string line; std::getline(header, line);) {
        std::smatch match;
        if (!std::regex_search(line, match, declaration))
            continue;
        const OperationDescription* operation = described(match[2]);
        ASSERT_NE(operation, nullptr) << match[2] << " is declared but not in the operation table";
        const std::string rest = match[3];
        EXPECT_EQ(static_cast<unsigned>(std::count(rest.begin(), rest.end(), ',')), operation->arguments.count)
            << line;
        EXPECT_EQ(match[1] == "void", operation->result == EntryResult::NoResult) << line;
        declared.insert(match[2]);
    }
    EXPECT_EQ(declared, exported);
}

TEST(ExportTable, EveryEntryPointIsFoundByItsName)
{
    test::ZelbridgeModule module;
    ASSERT_TRUE(module.loaded());
    for (const Export& entry : kExports)
        EXPECT_NE(platform::FindSymbol(module.handle(), entry.platformName), nullptr) << entry.name;
    // Only under its decorated name on Windows.
#if defined(_WIN32)
    EXPECT_EQ(platform::FindSymbol(module.handle(), "ConnectPciBoard"), nullptr);
#endif
}

#if defined(_WIN32)
TEST(ExportTable, TheExportDirectoryHoldsExactlyTheseNamesAtTheirOrdinals)
{
    test::ZelbridgeModule module;
    ASSERT_TRUE(module.loaded());
    const auto* base = static_cast<const BYTE*>(module.handle());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);

    EXPECT_STREQ(reinterpret_cast<const char*>(base + directory->Name), "Zelbridge.DLL");
    EXPECT_EQ(directory->Base, 1u);
    EXPECT_EQ(directory->NumberOfFunctions, std::size(kExports));
    ASSERT_EQ(directory->NumberOfNames, std::size(kExports));
    const auto* names = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    const auto* nameOrdinals = reinterpret_cast<const WORD*>(base + directory->AddressOfNameOrdinals);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        const char* name = reinterpret_cast<const char*>(base + names[i]);
        const int ordinal = nameOrdinals[i] + static_cast<int>(directory->Base);
        const Export* expected = nullptr;
        for (const Export& candidate : kExports)
            if (std::strcmp(candidate.name, name) == 0)
                expected = &candidate;
        ASSERT_NE(expected, nullptr) << "unexpected export " << name;
        EXPECT_EQ(ordinal, expected->ordinal) << name;
        EXPECT_EQ(reinterpret_cast<FARPROC>(platform::FindSymbol(module.handle(), name)),
                  GetProcAddress(static_cast<HMODULE>(module.handle()), MAKEINTRESOURCEA(ordinal)))
            << name;
    }
}
#endif

TEST(ExportTable, EveryEntryPointRemovesExactlyItsArguments)
{
#if defined(_WIN32) && defined(__i386__)
    test::ZelbridgeModule module;
    ASSERT_TRUE(module.loaded());
    // Every word points at zeroed memory: an empty text, an empty buffer, a
    // null size, and (as an index) no system.
    static std::uint32_t scratch[64];
    std::uint32_t words[16];
    for (std::uint32_t& word : words)
        word = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(scratch));
    for (const Export& entry : kExports) {
        std::memset(scratch, 0, sizeof scratch);
        const auto* function = reinterpret_cast<const void*>(platform::FindSymbol(module.handle(), entry.platformName));
        ASSERT_NE(function, nullptr) << entry.name;
        // The caller's side comes from the header, as in an application; the
        // module definition only says what the linker was told.
        EXPECT_EQ(entry.argumentBytes, entry.headerArgumentBytes) << entry.name;
        const test::StackProbeResult probe = test::CallMeasuringStack(function, words, entry.headerArgumentBytes / 4);
        EXPECT_EQ(probe.stackDelta, 0) << entry.name << " left " << probe.stackDelta << " bytes of its "
                                       << entry.headerArgumentBytes << " on the stack";
    }
#else
    GTEST_SKIP() << "the standard calling convention exists only on 32-bit x86";
#endif
}

} // namespace
} // namespace zelbridge
