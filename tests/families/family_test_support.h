// What the in-process family tests share: the captured trace items, the
// folders the family libraries were built into, and the availability-check
// lines they expect, spelled out item by item.
#pragma once

#include "diag/trace_stream.h"
#include "platform/platform.h"
#include "test_environment.h"
#include "zelbridge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelbridge::test {

using Items = std::vector<std::string>;
// A family's availability check, such as M329_IsDLLAvailable.
using AvailabilityCheck = int(ZELBRIDGE_CALL*)();

// Collects every debug-output item of the process's trace stream while it lives.
class TraceCapture {
public:
    using Hook = void (*)(const std::string& item);

    TraceCapture()
    {
        Captured().clear();
        CurrentHook() = nullptr;
        platform::SetDebugSink(&Receive);
    }
    ~TraceCapture() { platform::SetDebugSink(nullptr); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // The items written since the last call.
    Items Take()
    {
        Items items;
        items.swap(Captured());
        return items;
    }
    // Runs after each item is recorded, as the stream writes it.
    void SetHook(Hook hook) { CurrentHook() = hook; }

private:
    static Items& Captured()
    {
        static Items items;
        return items;
    }
    static Hook& CurrentHook()
    {
        static Hook hook = nullptr;
        return hook;
    }
    static void Receive(const char* text)
    {
        Captured().emplace_back(text);
        if (CurrentHook())
            CurrentHook()(Captured().back());
    }
};

inline Items operator+(Items first, const Items& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// A folder next to the test programs; "" is that folder itself.
inline std::string LibraryFolder(const std::string& name)
{
    return name.empty() ? BinaryDirectory() : BinaryDirectory() + PathSeparator() + name;
}

inline std::string InFolder(const std::string& folder, const std::string& fileName)
{
    return folder + PathSeparator() + fileName;
}

// The availability check's lines, for the family `prefix` ("M329_").
struct CheckLines {
    std::string prefix;
    std::string fileName;

    std::string Check() const { return "ZEL: " + prefix + "IsDLLAvailable()"; }
    Items Entry() const { return {Check() + "\n"}; }
    Items DllOk() const { return {"   ... DLL OK\n"}; }
    Items Trying(const std::string& name) const { return {Check() + " trying to load \"", name, "\"\n"}; }
    Items Loaded() const { return {Check() + " loaded \"", fileName, "\"\n"}; }
    Items NotFound() const { return {Check() + " \"", fileName, "\" not found\n"}; }
    Items LastError(std::uint32_t code) const { return {"GetLastError(): ", std::to_string(code), "\n"}; }
    Items Incomplete() const { return {Check() + " one of the functions in \"", fileName, "\" not found\n"}; }
};

inline const CheckLines kM317Lines{"M317_", "M317_ZEL_DLL.DLL"};
inline const CheckLines kM317VbLines{"M317_VB_", "M317_VB_ZEL_DLL.DLL"};
inline const CheckLines kM318Lines{"M318_", "M318_ZEL_DLL.DLL"};
inline const CheckLines kM329Lines{"M329_", "M329_ZEL_DLL.DLL"};
inline const CheckLines kT520Lines{"T520_", "T520_ZEL_DLL.DLL"};
inline const CheckLines kT5XXLines{"T5XX_", "T5XX_ZEL_DLL.DLL"};

// The last-error value a failed load of `fileName` leaves, as the family saw it.
inline std::uint32_t FailedLoadError(const std::string& fileName)
{
    platform::ModuleHandle module = platform::OpenModule(fileName.c_str());
    EXPECT_EQ(module, nullptr) << fileName;
    if (module)
        platform::CloseModule(module);
    return platform::LastError();
}

// The fixture of the in-process family tests.
class FamilyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(TraceStream::Instance().disabled())
            << "the family tests read the trace: run them with ZELBRIDGE_TRACE=debug";
    }

    ScopedInstallPath installPath;
    ScopedDriverScript script;
    TraceCapture trace;
    const std::string installedFolder = LibraryFolder("families");
    const std::string incompleteFolder = LibraryFolder("families_incomplete");
    const std::string missingFolder = LibraryFolder("families_missing");
};

} // namespace zelbridge::test
