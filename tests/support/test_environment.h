// What tests need from their surroundings: where the test libraries were
// built, the install-path setting, the shared driver script.
#pragma once

#include "driver_script.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zelbridge::test {

// The folder that holds the test programs and the libraries they load.
std::string BinaryDirectory();
// A file in that folder, or in its sub-folder `folder`.
std::string BinaryPath(const std::string& fileName, const std::string& folder = "");
char PathSeparator();

// Sets the install-path value (the registry value on Windows, ZELBRIDGE_PATH
// elsewhere) for the life of the object, and restores what was there.
class ScopedInstallPath {
public:
    ScopedInstallPath();
    ~ScopedInstallPath();
    ScopedInstallPath(const ScopedInstallPath&) = delete;
    ScopedInstallPath& operator=(const ScopedInstallPath&) = delete;

    void Set(const std::string& path);
    // Stores exactly these bytes, without adding a terminating zero.
    void SetRaw(const std::string& bytes);
    void Remove();

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// A zeroed script that the drivers of this process write to while it lives.
class ScopedDriverScript {
public:
    ScopedDriverScript();
    ~ScopedDriverScript();
    ScopedDriverScript(const ScopedDriverScript&) = delete;
    ScopedDriverScript& operator=(const ScopedDriverScript&) = delete;

    void SetResult(const char* function, std::int32_t value);
    void SetAnswer(const char* text, std::int32_t size);
    // How often "tag:function", "tag:load" or "tag:unload" happened.
    int CountOf(const std::string& event) const;
    std::string Log() const;
    void ClearLog();
    DriverScript& script() { return *script_; }

private:
    std::unique_ptr<DriverScript> script_;
};

void SetEnvironment(const char* name, const char* value);
void UnsetEnvironment(const char* name);

} // namespace zelbridge::test
