// The module's export table as applications link to it: every name of the
// module definition file, at its ordinal, taking its arguments off the stack.
#include "zelbridge.h"
#include "stdcall_probe.h"
#include "test_environment.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <set>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zelbridge {
namespace {

struct Export {
    int ordinal;
    const char* name;
    const char* platformName;
    int argumentBytes;
};

constexpr Export kExports[] = {
#define ZELBRIDGE_EXPORT(ordinal, name, platformName, argumentBytes) {ordinal, name, platformName, argumentBytes},
#include "zelbridge_exports.inc"
#undef ZELBRIDGE_EXPORT
};

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
        const test::StackProbeResult probe = test::CallMeasuringStack(function, words, entry.argumentBytes / 4);
        EXPECT_EQ(probe.stackDelta, 0) << entry.name << " left " << probe.stackDelta << " bytes of its "
                                       << entry.argumentBytes << " on the stack";
    }
#else
    GTEST_SKIP() << "the standard calling convention exists only on 32-bit x86";
#endif
}

} // namespace
} // namespace zelbridge
