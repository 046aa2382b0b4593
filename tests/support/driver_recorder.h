// The drivers' side of the shared script: recording calls and looking up results.
#pragma once

#include "driver_script.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

// For building a driver's exported names from its prefix.
#define DRIVER_JOIN2(a, b) a##b
#define DRIVER_JOIN(a, b) DRIVER_JOIN2(a, b)
#define DRIVER_STRING2(a) #a
#define DRIVER_STRING(a) DRIVER_STRING2(a)
#define DRIVER_UNPACK(...) __VA_ARGS__

namespace zelbridge::test {

inline DriverScript* FindDriverScript()
{
    const char* address = std::getenv(kDriverScriptVariable);
    if (!address || !*address)
        return nullptr;
    return reinterpret_cast<DriverScript*>(static_cast<std::uintptr_t>(std::strtoull(address, nullptr, 16)));
}

// Appends one line, "tag:text", to the script's log.
inline void Record(const char* tag, const char* format, ...)
{
    DriverScript* script = FindDriverScript();
    if (!script)
        return;
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    int length = std::snprintf(line, sizeof line, "%s:", tag);
    length += std::vsnprintf(line + length, sizeof line - static_cast<std::size_t>(length), format, arguments);
    va_end(arguments);
    while (script->logLock.exchange(1, std::memory_order_acquire) != 0) {
    }
    const std::size_t room = sizeof script->log - script->logLength - 1;
    const std::size_t bytes = std::strlen(line) < room ? std::strlen(line) : room;
    std::memcpy(script->log + script->logLength, line, bytes);
    script->logLength += bytes;
    if (script->logLength < sizeof script->log - 1)
        script->log[script->logLength++] = '\n';
    script->log[script->logLength] = '\0';
    script->logLock.store(0, std::memory_order_release);
}

// The result the test set for `function`, or 0.
inline std::int32_t ResultFor(const char* function)
{
    const DriverScript* script = FindDriverScript();
    if (!script)
        return 0;
    for (int i = 0; i < script->resultCount; ++i)
        if (std::strcmp(script->results[i].function, function) == 0)
            return script->results[i].value;
    return 0;
}

inline void CopyAnswer(char* buffer, std::int32_t size)
{
    const DriverScript* script = FindDriverScript();
    if (!script || !buffer || size <= 0)
        return;
    std::snprintf(buffer, static_cast<std::size_t>(size), "%s", script->answer);
}

inline void StoreAnswerSize(std::int32_t* answerSize)
{
    const DriverScript* script = FindDriverScript();
    if (script && answerSize)
        *answerSize = script->answerSize;
}

// How an argument appears in the log: numbers as numbers, a text quoted, any
// other pointer as "ptr" or "null".
template <typename T> std::string DescribeArgument(T value)
{
    if constexpr (std::is_same_v<T, const char*>)
        return value ? "\"" + std::string(value) + "\"" : "null";
    else if constexpr (std::is_pointer_v<T>)
        return value ? "ptr" : "null";
    else
        return std::to_string(static_cast<long long>(value));
}

// What the driver contract asks of a driver beyond its result: an answer
// left in the caller's buffer, a size stored through the caller's pointer.
template <typename... Args> void ApplyEffects(Args...) {}
inline void ApplyEffects(std::int32_t, char* answer, std::int32_t size) { CopyAnswer(answer, size); }
inline void ApplyEffects(std::int32_t, std::int32_t* answerSize) { StoreAnswerSize(answerSize); }

// One driver function's whole body: records "tag:function(arguments)",
// does what the contract asks and returns the result the test set.
template <typename... Args> std::int32_t Called(const char* tag, const char* function, Args... args)
{
    std::string arguments;
    ((arguments += (arguments.empty() ? "" : ",") + DescribeArgument(args)), ...);
    Record(tag, "%s(%s)", function, arguments.c_str());
    ApplyEffects(args...);
    return ResultFor(function);
}

// Records the library's load and unload, so that tests can see release order.
struct LifetimeRecorder {
    explicit LifetimeRecorder(const char* libraryTag) : tag(libraryTag) { Record(tag, "load"); }
    ~LifetimeRecorder() { Record(tag, "unload"); }
    const char* tag;
};

} // namespace zelbridge::test
