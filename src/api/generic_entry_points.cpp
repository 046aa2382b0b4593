// The exported generic, index-based API, one entry point per row of the
// operation table: look the system up by index, time the call while the trace
// is on, forward to the system's binding, record while recording.
#include "zelbridge.h"

#include "api/system_table.h"
#include "diag/call_recorder.h"
#include "diag/call_timer.h"
#include "diag/quiet_calls.h"

#include <type_traits>

namespace zelbridge {
namespace {

static_assert(std::is_same_v<Word, ZelWord>, "the public word type must match the driver contract");

template <Operation op> struct GenericEntry {
    static constexpr const OperationDescription& kDescription = Describe(op);
    using Result = EntryResultType<op>;

    // The driver function the binding calls for this operation.
    template <typename... Words> static std::int32_t Forward(SystemBinding& system, Words... words) noexcept
    {
        if constexpr (op == Operation::Connect) {
            static_assert(kConnectCalls[1] == op);
            if (system.Exports(kConnectCalls[0]))
                return system.Call<kConnectCalls[0]>(words...);
        }
        return system.Call<op>(words...);
    }

    // Whether the call reaches a driver function, which reads its texts and
    // writes its buffers.
    static bool Reaches(SystemBinding* system) noexcept
    {
        if (!system || !system->bound())
            return false;
        if constexpr (op == Operation::Connect)
            return system->Reaches(kConnectCalls[0]) || system->Reaches(op);
        else
            return system->Reaches(op);
    }

    template <typename... Words> static Result Untimed(std::int32_t index, Words... words) noexcept
    {
        SystemBinding* system = SystemTable::SystemAt(index);
        if constexpr (std::is_void_v<Result>) {
            if (system)
                Forward(*system, words...);
        } else {
            if (!system)
                return kDescription.invalidIndexResult;
            const std::int32_t result = Forward(*system, words...);
            // These connects report success as the system index: the driver's
            // identifier stays inside the binding.
            if constexpr (kDescription.result == EntryResult::IndexIfConnected)
                return result >= 0 ? index : -1;
            else
                return result;
        }
    }

    template <typename... Words>
    [[gnu::noinline]] static Result Timed(std::int32_t index, Words... words) noexcept
    {
        const CallTimer timer(kDescription.name, kDescription.timing == OperationTiming::Silent);
        return Untimed(index, words...);
    }

    // The call without its record: timed only while the trace is on, so
    // that a call with the trace off reads no clock.
    template <typename... Words> static Result Run(std::int32_t index, Words... words) noexcept
    {
        if (kDescription.timing == OperationTiming::Untimed || TraceStream::Instance().disabled())
            return Untimed(index, words...);
        return Timed(index, words...);
    }

    template <typename... Words>
    [[gnu::noinline]] static Result Recorded(std::int32_t index, Words... words) noexcept
    {
        const auto record = [&](const long long* result) noexcept {
            const bool reaches = Reaches(SystemTable::SystemAt(index));
            RecordDescribed(kDescription.name, SystemOwner(index), kDescription.arguments, reaches, result, words...);
        };
        if constexpr (std::is_void_v<Result>) {
            Run(index, words...);
            record(nullptr);
        } else {
            const Result result = Run(index, words...);
            const long long recorded = result;
            record(&recorded);
            return result;
        }
    }

    // With the trace or the recording on.
    template <typename... Words>
    [[gnu::noinline]] static Result Written(std::int32_t index, Words... words) noexcept
    {
        if (CallRecorder::Off())
            return Run(index, words...);
        return Recorded(index, words...);
    }

    template <typename... Words> static Result Call(std::int32_t index, Words... words) noexcept
    {
        static_assert(sizeof...(Words) == kDescription.arguments.count);
        if (QuietCalls())
            return Untimed(index, words...);
        return Written(index, words...);
    }
};

// ConnectPciBoard is Connect inside a timer of its own: the trace shows both,
// the recording the one the application called.
template <>
template <typename... Words>
int GenericEntry<Operation::ConnectPciBoard>::Untimed(std::int32_t index, Words... words) noexcept
{
    return GenericEntry<Operation::Connect>::Run(index, words...);
}
template <>
bool GenericEntry<Operation::ConnectPciBoard>::Reaches(SystemBinding* system) noexcept
{
    return GenericEntry<Operation::Connect>::Reaches(system);
}

} // namespace
} // namespace zelbridge

// The entry point's parameters: the index, then the driver function's
// parameters after the connection identifier where there is one.
#define ZELBRIDGE_GENERIC_KIND(kind, ...) kind
#define ZELBRIDGE_GENERIC_JOIN(a, b) ZELBRIDGE_GENERIC_JOIN_(a, b)
#define ZELBRIDGE_GENERIC_JOIN_(a, b) a##b
#define ZELBRIDGE_GENERIC_WITH_Connect(index, ...) (index, __VA_ARGS__)
#define ZELBRIDGE_GENERIC_WITH_Unbound(index, ...) (index, __VA_ARGS__)
#define ZELBRIDGE_GENERIC_WITH_OnConnection(index, connection, ...) (index, ##__VA_ARGS__)
#define ZELBRIDGE_GENERIC_APPLY(macro, arguments) macro arguments
#define ZELBRIDGE_GENERIC_WITH_INDEX(description, index, list)                                                    \
    ZELBRIDGE_GENERIC_APPLY(ZELBRIDGE_GENERIC_JOIN(ZELBRIDGE_GENERIC_WITH_, ZELBRIDGE_GENERIC_KIND description),   \
                            (index, ZELBRIDGE_GENERIC_UNPACK list))
#define ZELBRIDGE_GENERIC_UNPACK(...) __VA_ARGS__

using zelbridge::ConnectionId;
using zelbridge::Word;

// The definition must match the header's declaration exactly, or the two
// C functions of one name do not compile.
#define ZELBRIDGE_DEFINE_GENERIC_ENTRY_POINT(name, params, args, description, families)                                   \
    extern "C" zelbridge::EntryResultType<zelbridge::Operation::name> ZELBRIDGE_CALL name                          \
        ZELBRIDGE_GENERIC_WITH_INDEX(description, int index, params)                                            \
    {                                                                                                           \
        return zelbridge::GenericEntry<zelbridge::Operation::name>::Call                                        \
            ZELBRIDGE_GENERIC_WITH_INDEX(description, index, args);                                             \
    }
ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_DEFINE_GENERIC_ENTRY_POINT)

extern "C" int ZELBRIDGE_CALL DefineSystem(const char* libraryName, const char* prefix)
{
    const zelbridge::CallTimer timer("DefineSystem");
    const auto define = [&]() noexcept {
        try {
            return zelbridge::SystemTable::Instance().Define(libraryName, prefix);
        } catch (...) {
            // Out of memory while defining: no system, and nothing half-added.
            return -1;
        }
    };
    if (zelbridge::CallRecorder::Off())
        return define();
    // Both texts are the module's own to read: it loads the library they name.
    const int result = define();
    const long long recorded = result;
    using zelbridge::ArgumentKind;
    zelbridge::RecordDescribed("DefineSystem", zelbridge::kNoOwner,
                               zelbridge::Takes(ArgumentKind::Text, ArgumentKind::Text), true, &recorded,
                               libraryName, prefix);
    return result;
}
