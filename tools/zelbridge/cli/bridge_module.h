// The Zelbridge module, loaded by file name at run time as an application
// loads it, and the generic entry points the tool calls, looked up by name.
#pragma once

#include "platform/platform.h"
#include "zelbridge.h"

namespace zelbridge::tool {

// X(entry point): every export the tool uses, typed by the public header.
#define ZELBRIDGE_TOOL_ENTRY_POINTS(X)                                                                   \
    X(DefineSystem)                                                                                      \
    X(ConnectRS232)                                                                                      \
    X(ConnectTCPIP)                                                                                      \
    X(ConnectNIgpib)                                                                                     \
    X(ConnectUSB)                                                                                        \
    X(Connect)                                                                                           \
    X(ZelCommandset)                                                                                     \
    X(ZelGetAnswerSize)                                                                                  \
    X(ZelGetAnswer)                                                                                      \
    X(GetError)                                                                                          \
    X(TranslateError)                                                                                    \
    X(CloseConnection)

class BridgeModule {
public:
    // Loads the module found next to the tool; throws Failure with the
    // system's reason when it cannot be loaded or lacks an entry point.
    BridgeModule();
    ~BridgeModule();
    BridgeModule(const BridgeModule&) = delete;
    BridgeModule& operator=(const BridgeModule&) = delete;

#define ZELBRIDGE_TOOL_MEMBER(name) decltype(&::name) name = nullptr;
    ZELBRIDGE_TOOL_ENTRY_POINTS(ZELBRIDGE_TOOL_MEMBER)
#undef ZELBRIDGE_TOOL_MEMBER

    // Any other export, null when the module lacks it.
    platform::ProcAddress Export(const char* name) const noexcept;

private:
    platform::ModuleHandle module_ = nullptr;
};

} // namespace zelbridge::tool
