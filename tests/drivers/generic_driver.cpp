// A driver library for defined systems: every operation under the prefix
// DRIVER_PREFIX records its call and returns the result the test set. The
// build decides which of them the library exports.
#include "api/driver_contract.h"
#include "driver_recorder.h"

#include <string>
#include <type_traits>

#ifndef DRIVER_TAG
#define DRIVER_TAG "driver"
#endif
#ifndef DRIVER_PREFIX
#define DRIVER_PREFIX DRV_
#endif
#define DRIVER_JOIN2(a, b) a##b
#define DRIVER_JOIN(a, b) DRIVER_JOIN2(a, b)
#define DRIVER_STRING2(a) #a
#define DRIVER_STRING(a) DRIVER_STRING2(a)

namespace {

using zelbridge::ConnectionId;
using zelbridge::test::Record;

const zelbridge::test::LifetimeRecorder lifetime(DRIVER_TAG);

template <typename T> std::string Describe(T value)
{
    if constexpr (std::is_same_v<T, const char*>)
        return value ? "\"" + std::string(value) + "\"" : "null";
    else if constexpr (std::is_pointer_v<T>)
        return value ? "ptr" : "null";
    else
        return std::to_string(static_cast<long long>(value));
}

template <typename... Args> void ApplyEffects(Args...) {}
void ApplyEffects(ConnectionId, char* answer, std::int32_t size) { zelbridge::test::CopyAnswer(answer, size); }
void ApplyEffects(ConnectionId, std::int32_t* answerSize) { zelbridge::test::StoreAnswerSize(answerSize); }

template <typename... Args> std::int32_t Called(const char* function, Args... args)
{
    std::string arguments;
    ((arguments += (arguments.empty() ? "" : ",") + Describe(args)), ...);
    Record(DRIVER_TAG, "%s(%s)", function, arguments.c_str());
    ApplyEffects(args...);
    return zelbridge::test::ResultFor(function);
}

} // namespace

using zelbridge::Word;

#define DRIVER_DEFINE(name, params, args)                                                                \
    extern "C" std::int32_t ZELBRIDGE_STDCALL DRIVER_JOIN(DRIVER_PREFIX, name) params                   \
    {                                                                                                    \
        return Called(DRIVER_STRING(DRIVER_PREFIX) #name, DRIVER_UNPACK args);                           \
    }
#define DRIVER_UNPACK(...) __VA_ARGS__
ZELBRIDGE_DRIVER_OPERATIONS(DRIVER_DEFINE)
