// The 90 exported family entry points, generated from the family catalog and
// the rows of the operation description:
// once the library is loaded and while no trace or recording is written, a
// body calls the driver at once; otherwise it hands its arguments to the
// forwarder of its kind, which writes the trace lines around the call, and
// records the call.
#include "zelbridge.h"

#include "diag/call_recorder.h"
#include "families/family_catalog.h"
#include "families/family_forwarders.h"

namespace zelbridge {

template <typename Function> struct ArgumentCount;
template <typename Result, typename... Parameters> struct ArgumentCount<Result(ZELBRIDGE_CALL*)(Parameters...)> {
    static constexpr unsigned value = sizeof...(Parameters);
};

// The call while the trace or the recording is on: recorded with each
// argument as the catalog describes it. A text or buffer is read only when
// the family library took the call.
template <typename Call, typename... Arguments>
[[gnu::noinline]] auto RecordedFamilyCall(const char* entry, const FamilyBinding& binding, const ArgumentKinds& kinds,
                                          Call call, Arguments... arguments) noexcept
{
    using Result = decltype(call());
    if constexpr (std::is_void_v<Result>) {
        call();
        if (!CallRecorder::Off())
            RecordDescribed(entry, kNoOwner, kinds, binding.loaded(), nullptr, arguments...);
    } else {
        const Result result = call();
        if (!CallRecorder::Off()) {
            const long long recorded = result;
            RecordDescribed(entry, kNoOwner, kinds, binding.loaded(), &recorded, arguments...);
        }
        return result;
    }
}

} // namespace zelbridge

using zelbridge::ConnectionId;
using zelbridge::Word;

#define ZELBRIDGE_EXPORTED_NAME(prefix, operation) ZELBRIDGE_EXPORTED_NAME_(prefix, operation)
#define ZELBRIDGE_EXPORTED_NAME_(prefix, operation) prefix##operation
#define ZELBRIDGE_ENTRY_POINT_TEXT(prefix, operation, text) "ZEL: " ZELBRIDGE_FAMILY_STRING(prefix) #operation text

// The parameters are the operation's, so the definition matches the header's
// declaration only when the description does.
#define ZELBRIDGE_DEFINE_ENTRY_POINT(family, prefix, resolution, operation, driver, parameters, arguments, trace,      \
                                     ordinal)                                                                         \
    extern "C" zelbridge::EntryResultType<zelbridge::Operation::operation> ZELBRIDGE_CALL                             \
        ZELBRIDGE_EXPORTED_NAME(prefix, operation) parameters                                                         \
    {                                                                                                                 \
        using Driver = zelbridge::EntryResultType<zelbridge::Operation::operation>(ZELBRIDGE_CALL*) parameters;      \
        constexpr std::size_t position = zelbridge::FamilyPosition(zelbridge::Family::family, zelbridge::Operation::operation); \
        zelbridge::FamilyBinding& binding = zelbridge::FamilyBindingOf(zelbridge::Family::family);                    \
        if (binding.ReadyForQuietCall())                                                                              \
            return binding.DriverFunction<Driver>(position)(ZELBRIDGE_FAMILY_UNPACK arguments);                       \
        static constexpr zelbridge::EntryPointDescriptor entry{                                                       \
            zelbridge::Describe(zelbridge::Operation::operation).missingResult,                                       \
            ZELBRIDGE_ENTRY_POINT_TEXT(prefix, operation, "()\n"), ZELBRIDGE_ENTRY_POINT_TEXT(prefix, operation, "("), \
            ZELBRIDGE_ENTRY_POINT_TEXT(prefix, operation, "() - NO DLL!\n"),                                          \
            ZELBRIDGE_ENTRY_POINT_TEXT(prefix, operation, "() iAnswerSize = ")};                                      \
        const auto forward = [=, &binding]() noexcept {                                                               \
            return zelbridge::Forwarder<zelbridge::FamilyTrace::trace>::Forward<Driver>(                              \
                binding, position, entry, ZELBRIDGE_FAMILY_UNPACK arguments);                                         \
        };                                                                                                            \
        constexpr zelbridge::ArgumentKinds kinds = zelbridge::FamilyArguments(zelbridge::Operation::operation);      \
        static_assert(kinds.count == zelbridge::ArgumentCount<Driver>::value);                                       \
        return zelbridge::RecordedFamilyCall(ZELBRIDGE_FAMILY_STRING(ZELBRIDGE_EXPORTED_NAME(prefix, operation)),     \
                                             binding, kinds, forward, ZELBRIDGE_FAMILY_UNPACK arguments);             \
    }
#define ZELBRIDGE_DEFINE_ENTRY_POINTS(...) ZELBRIDGE_FAMILY_ENTRIES(ZELBRIDGE_DEFINE_ENTRY_POINT, __VA_ARGS__)
ZELBRIDGE_ALL_OPERATIONS(ZELBRIDGE_DEFINE_ENTRY_POINTS)

#define ZELBRIDGE_DEFINE_AVAILABILITY_CHECK(family, prefix, ...)                                                    \
    extern "C" int ZELBRIDGE_CALL ZELBRIDGE_EXPORTED_NAME(prefix, IsDLLAvailable)(void)                             \
    {                                                                                                               \
        return zelbridge::FamilyBindingOf(zelbridge::Family::family).IsAvailable() ? 1 : 0;                         \
    }
ZELBRIDGE_FAMILIES(ZELBRIDGE_DEFINE_AVAILABILITY_CHECK)
