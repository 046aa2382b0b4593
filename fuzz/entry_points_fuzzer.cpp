// Fuzzes what callers and drivers hand the module: install-path bytes of any
// length with or without a terminator, library names and prefixes of any
// length and content, commands, and answer buffers of every size, into the
// generic and family entry points on the test drivers. The build registers it
// twice, with the trace off and on, since the trace reads what it echoes.
#include "zelbridge.h"
#include "api/system_table.h"
#include "driver_script.h"
#include "loader/library_loader.h"
#include "platform/platform.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using zelbridge::test::DriverScript;

// The bytes the install-path value holds for the current input.
std::vector<char> installPathValue;
bool installPathPresent = false;

bool FuzzedInstallPath(char* buffer, std::uint32_t& size)
{
    if (!installPathPresent || installPathValue.size() > size)
        return false;
    if (!installPathValue.empty())
        std::memcpy(buffer, installPathValue.data(), installPathValue.size());
    size = static_cast<std::uint32_t>(installPathValue.size());
    return true;
}

DriverScript& Script()
{
    static DriverScript* script = new DriverScript{};
    return *script;
}

// Library names that load; anything else is taken as the fuzzer made it, but
// never as a path, so that no library outside the test drivers is loaded.
std::string LibraryName(FuzzedDataProvider& data)
{
    static const char* const known[] = {"drv_full.dll", "DRV_SECOND.DLL", "drv_bare.dll", "drv_empty.dll",
                                        "drv_enumerate.dll", "drv_connect.dll"};
    if (data.ConsumeBool())
        return known[data.ConsumeIntegralInRange<std::size_t>(0, std::size(known) - 1)];
    std::string name = data.ConsumeRandomLengthString(600);
    for (char& c : name)
        if (c == '/' || c == '\\' || c == ':')
            c = '_';
    return "zelbridge-fuzz-" + name;
}

struct Family {
    int(ZELBRIDGE_CALL* commandset)(int, const char*);
    int(ZELBRIDGE_CALL* getAnswer)(int, char*, int);
    int(ZELBRIDGE_CALL* getAnswerSize)(int, int*);
};
const Family kFamilies[] = {
    {M317_ZelCommandset, M317_ZelGetAnswer, M317_ZelGetAnswerSize},
    {M317_VB_ZelCommandset, M317_VB_ZelGetAnswer, M317_VB_ZelGetAnswerSize},
    {M318_ZelCommandset, M318_ZelGetAnswer, M318_ZelGetAnswerSize},
    {M329_ZelCommandset, M329_ZelGetAnswer, M329_ZelGetAnswerSize},
    {T520_ZelCommandset, T520_ZelGetAnswer, T520_ZelGetAnswerSize},
    {T5XX_ZelCommandset, T5XX_ZelGetAnswer, T5XX_ZelGetAnswerSize},
};

// One call with an answer buffer exactly as large as the size given, so that
// the sanitizer sees any read or write beyond it.
void CallWithAnswer(FuzzedDataProvider& data, int target, bool generic)
{
    DriverScript& script = Script();
    const std::string answer = data.ConsumeRandomLengthString(sizeof script.answer - 1);
    std::snprintf(script.answer, sizeof script.answer, "%s", answer.c_str());
    script.answerUnterminated = data.ConsumeBool();
    script.answerSize = data.ConsumeIntegral<std::int32_t>();
    const int size = data.ConsumeIntegralInRange<int>(-2, 300);
    std::unique_ptr<char[]> buffer;
    if (size > 0 && data.ConsumeBool()) {
        buffer.reset(new char[static_cast<std::size_t>(size)]);
        const std::string left = data.ConsumeBytesAsString(static_cast<std::size_t>(size));
        std::memset(buffer.get(), 'x', static_cast<std::size_t>(size));
        std::memcpy(buffer.get(), left.data(), left.size());
    }
    int answerSize = 0;
    const Family& family = kFamilies[data.ConsumeIntegralInRange<std::size_t>(0, std::size(kFamilies) - 1)];
    const bool withSize = data.ConsumeBool();
    if (generic) {
        ZelGetAnswer(target, buffer.get(), size);
        ZelGetAnswerSize(target, withSize ? &answerSize : nullptr);
    } else {
        family.getAnswer(target, buffer.get(), size);
        family.getAnswerSize(target, withSize ? &answerSize : nullptr);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char address[32];
    std::snprintf(address, sizeof address, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&Script())));
    setenv("ZELBRIDGE_TEST_SCRIPT", address, 1);
    Script().muteCalls = true;
    zelbridge::platform::SetInstallPathSource(&FuzzedInstallPath);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    installPathPresent = data.ConsumeBool();
    const std::string path = data.ConsumeRandomLengthString(400);
    installPathValue.assign(path.begin(), path.end());
    if (data.ConsumeBool())
        installPathValue.push_back('\0');
    zelbridge::ReadInstallPath(true);

    while (data.remaining_bytes() > 0) {
        switch (data.ConsumeIntegralInRange(0, 5)) {
        case 0: {
            const std::string library = LibraryName(data);
            const std::string prefix = data.ConsumeBool() ? "DRV_" : data.ConsumeRandomLengthString(300);
            DefineSystem(library.c_str(), prefix.c_str());
            break;
        }
        case 1: {
            const std::string command = data.ConsumeRandomLengthString(300);
            const int index = data.ConsumeIntegralInRange<int>(-1, 8);
            ZelCommandset(index, data.ConsumeBool() ? command.c_str() : nullptr);
            kFamilies[static_cast<std::size_t>(index + 1) % std::size(kFamilies)].commandset(index, command.c_str());
            break;
        }
        case 2:
            CallWithAnswer(data, data.ConsumeIntegralInRange<int>(-1, 8), true);
            break;
        case 3:
            CallWithAnswer(data, data.ConsumeIntegral<int>(), false);
            break;
        case 4: {
            const int index = data.ConsumeIntegralInRange<int>(-1, 8);
            ConnectRS232(index, data.ConsumeIntegral<int>(), data.ConsumeIntegral<int>());
            GetError(index);
            IsConnected(index);
            ListUSB(index, 0, 0);
            CloseConnection(index);
            break;
        }
        case 5:
            M329_IsDLLAvailable();
            M318_IsDLLAvailable();
            QXGraph3DResetPointOfView(data.ConsumeIntegral<int>());
            break;
        }
    }
    return 0;
}
