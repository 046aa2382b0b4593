// The built Zelbridge module, loaded by a test the way an application loads
// it at run time, and its exports looked up by name.
#pragma once

#include "platform/platform.h"
#include "test_environment.h"

#include <gtest/gtest.h>

#include <string>

// An export, as a pointer of the type the public header declares it with.
#define ZB_EXPORT_OF(module, name) (module).Get<decltype(&::name)>(#name)

namespace zelbridge::test {

// The one entry point whose export name differs from its declared name; an
// ELF name cannot hold the "@8".
#if defined(_WIN32)
inline constexpr char kConnectPciBoardExport[] = "_ConnectPciBoard@8";
#else
inline constexpr char kConnectPciBoardExport[] = "ConnectPciBoard";
#endif

class ZelbridgeModule {
public:
    ZelbridgeModule() : handle_(platform::OpenModule(BinaryPath(ZELBRIDGE_MODULE_FILE).c_str()))
    {
        EXPECT_NE(handle_, nullptr) << "cannot load " << BinaryPath(ZELBRIDGE_MODULE_FILE);
    }
    ~ZelbridgeModule() { Unload(); }
    ZelbridgeModule(const ZelbridgeModule&) = delete;
    ZelbridgeModule& operator=(const ZelbridgeModule&) = delete;

    // The export `name`, as a pointer of the type the caller declares it with.
    template <typename Function> Function Get(const char* name) const
    {
        const platform::ProcAddress address = handle_ ? platform::FindSymbol(handle_, name) : nullptr;
        EXPECT_NE(address, nullptr) << "no export " << name;
        return reinterpret_cast<Function>(address);
    }

    void Unload()
    {
        if (handle_)
            platform::CloseModule(handle_);
        handle_ = nullptr;
    }
    // Loads the module anew, so that it reads its settings again.
    void Reload()
    {
        Unload();
        handle_ = platform::OpenModule(BinaryPath(ZELBRIDGE_MODULE_FILE).c_str());
        EXPECT_NE(handle_, nullptr) << "cannot load " << BinaryPath(ZELBRIDGE_MODULE_FILE);
    }
    bool loaded() const { return handle_ != nullptr; }
    platform::ModuleHandle handle() const { return handle_; }

private:
    platform::ModuleHandle handle_;
};

} // namespace zelbridge::test
