// The drivers' side of the shared script: recording calls and looking up results.
#pragma once

#include "driver_script.h"

#include <algorithm>
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

// Counts one "tag:event"; an event beyond the table's room goes uncounted.
inline void Count(DriverScript& script, const char* tag, const char* event)
{
    char key[sizeof script.counts[0].event];
    std::snprintf(key, sizeof key, "%s:%s", tag, event);
    while (script.logLock.exchange(1, std::memory_order_acquire) != 0) {
    }
    for (DriverScript::Count& count : script.counts) {
        if (count.event[0] == '\0')
            std::snprintf(count.event, sizeof count.event, "%s", key);
        if (std::strcmp(count.event, key) == 0) {
            count.value.fetch_add(1, std::memory_order_relaxed);
            break;
        }
    }
    script.logLock.store(0, std::memory_order_release);
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
    if (script->answerUnterminated)
        std::memcpy(buffer, script->answer, std::min(std::strlen(script->answer), static_cast<std::size_t>(size)));
    else
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
// Counts a call of `function` and, unless calls are muted, logs the text
// that `describe` makes of it.
template <typename Describe> void RecordCall(const char* tag, const char* function, Describe describe)
{
    DriverScript* script = FindDriverScript();
    if (!script)
        return;
    Count(*script, tag, function);
    if (!script->muteCalls)
        Record(tag, "%s", describe().c_str());
}

template <typename... Args> std::int32_t Called(const char* tag, const char* function, Args... args)
{
    RecordCall(tag, function, [&] {
        std::string arguments;
        ((arguments += (arguments.empty() ? "" : ",") + DescribeArgument(args)), ...);
        return std::string(function) + "(" + arguments + ")";
    });
    ApplyEffects(args...);
    return ResultFor(function);
}

// Records the library's load and unload, so that tests can see release order.
struct LifetimeRecorder {
    explicit LifetimeRecorder(const char* libraryTag) : tag(libraryTag) { Happened("load"); }
    ~LifetimeRecorder() { Happened("unload"); }
    void Happened(const char* event) const
    {
        if (DriverScript* script = FindDriverScript())
            Count(*script, tag, event);
        Record(tag, "%s", event);
    }
    const char* tag;
};

} // namespace zelbridge::test
