// Loads the module as an application would and makes one timed call, so that
// a test can look at the trace the module writes to the debugger output.
#include "zelbridge.h"
#include "platform/platform.h"
#include "test_environment.h"

#include <cstdio>

int main()
{
    zelbridge::platform::ModuleHandle module =
        zelbridge::platform::OpenModule(zelbridge::test::BinaryPath(ZELBRIDGE_MODULE_FILE).c_str());
    if (!module)
        return 2;
    const auto getError = reinterpret_cast<decltype(&::GetError)>(zelbridge::platform::FindSymbol(module, "GetError"));
    const int result = getError ? getError(-1) : 0;
    zelbridge::platform::CloseModule(module);
    std::printf("GetError(-1) = %d\n", result);
    return result == FUNCTION_NOT_AVAILABLE ? 0 : 1;
}
