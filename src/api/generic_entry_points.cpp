// The exported generic, index-based API: look the system up by index, time
// the call, forward to the system's binding.
#include "zelbridge.h"

#include "api/system_table.h"
#include "diag/call_recorder.h"
#include "diag/call_timer.h"

#include <type_traits>

namespace zelbridge {
namespace {

static_assert(std::is_same_v<Word, ZelWord>, "the public word type must match the driver contract");

enum class Timing { Traced, Silent, Untimed };

// Runs `forward` on the system named by `index`, or gives `invalid` when
// there is none; the timer, when there is one, spans the whole call.
template <typename Result, typename Forward>
Result OnSystem(const char* timerName, Timing timing, std::int32_t index, Result invalid, Forward forward) noexcept
{
    const auto call = [&]() noexcept -> Result {
        SystemBinding* system = SystemTable::Instance().GetSystem(index);
        if (!system)
            return invalid;
        return forward(*system);
    };
    if (timing == Timing::Untimed)
        return call();
    const CallTimer timer(timerName, timing == Timing::Silent);
    return call();
}

template <typename Forward> void OnSystem(const char* timerName, std::int32_t index, Forward forward) noexcept
{
    const CallTimer timer(timerName);
    if (SystemBinding* system = SystemTable::Instance().GetSystem(index))
        forward(*system);
}

// Records a generic call, which names its system by index, once it has `result`.
template <typename Result, typename... Arguments>
Result Recorded(const char* entry, std::int32_t index, Result result, Arguments... arguments) noexcept
{
    return RecordedCall(entry, SystemOwner(index), [result]() noexcept { return result; }, arguments...);
}

// These connect calls report success as the system index: the driver's
// identifier stays inside the binding.
std::int32_t IndexIfConnected(std::int32_t index, std::int32_t driverResult) noexcept
{
    return driverResult >= 0 ? index : -1;
}

} // namespace
} // namespace zelbridge

using zelbridge::OnSystem;
using zelbridge::Recorded;
using zelbridge::SystemBinding;
using zelbridge::Timing;
using zelbridge::IndexIfConnected;

extern "C" {

int ZELBRIDGE_CALL InterfaceSetupDlg(int index, ZelWord a1)
{
    return Recorded("InterfaceSetupDlg", index,
                    OnSystem(nullptr, Timing::Untimed, index, -1,
                        [&](SystemBinding& s) noexcept { return IndexIfConnected(index, s.InterfaceSetupDlg(a1)); }), a1);
}

int ZELBRIDGE_CALL ConnectRS232(int index, ZelWord a1, ZelWord a2)
{
    return Recorded("ConnectRS232", index,
                    OnSystem("ConnectRS232", Timing::Traced, index, -1,
                        [&](SystemBinding& s) noexcept { return IndexIfConnected(index, s.ConnectRS232(a1, a2)); }), a1, a2);
}

int ZELBRIDGE_CALL ConnectNIgpib(int index, ZelWord a1, ZelWord a2)
{
    return Recorded("ConnectNIgpib", index,
                    OnSystem("ConnectNIgpib", Timing::Traced, index, -1,
                        [&](SystemBinding& s) noexcept { return IndexIfConnected(index, s.ConnectNIgpib(a1, a2)); }), a1, a2);
}

int ZELBRIDGE_CALL ConnectTCPIP(int index, ZelWord a1, ZelWord a2)
{
    return Recorded("ConnectTCPIP", index,
                    OnSystem("ConnectTCPIP", Timing::Traced, index, -1,
                        [&](SystemBinding& s) noexcept { return IndexIfConnected(index, s.ConnectTCPIP(a1, a2)); }), a1, a2);
}

int ZELBRIDGE_CALL Connect(int index, ZelWord a1)
{
    // A driver that exports both connects a PCI board through ConnectPciBoard.
    return Recorded("Connect", index,
                    OnSystem("Connect", Timing::Traced, index, -1, [&](SystemBinding& s) noexcept {
            const std::int32_t result = s.Exports(zelbridge::Operation::ConnectPciBoard) ? s.ConnectPciBoard(a1) : s.Connect(a1);
            return IndexIfConnected(index, result);
        }), a1);
}

int ZELBRIDGE_CALL IsConnected(int index)
{
    return Recorded("IsConnected", index,
                    OnSystem("IsConnected", Timing::Traced, index, 0, [](SystemBinding& s) noexcept { return s.IsConnected(); }));
}

void ZELBRIDGE_CALL CloseConnection(int index)
{
    zelbridge::RecordedCall("CloseConnection", zelbridge::SystemOwner(index), [&]() noexcept {
        OnSystem("CloseConnection", index, [](SystemBinding& s) noexcept { s.CloseConnection(); });
    });
}

int ZELBRIDGE_CALL GetError(int index)
{
    return Recorded("GetError", index,
                    OnSystem("GetError", Timing::Traced, index, FUNCTION_NOT_AVAILABLE,
                        [](SystemBinding& s) noexcept { return s.GetError(); }));
}

int ZELBRIDGE_CALL TranslateError(int index, ZelWord a1, ZelWord a2, ZelWord a3)
{
    return Recorded("TranslateError", index,
                    OnSystem("TranslateError", Timing::Traced, index, 0,
                        [&](SystemBinding& s) noexcept { return s.TranslateError(a1, a2, a3); }), a1, a2, a3);
}

int ZELBRIDGE_CALL SetErrorCheck(int index, ZelWord a1)
{
    return Recorded("SetErrorCheck", index,
                    OnSystem("SetErrorCheck", Timing::Traced, index, 0, [&](SystemBinding& s) noexcept { return s.SetErrorCheck(a1); }), a1);
}

int ZELBRIDGE_CALL ZelCommandset(int index, const char* command)
{
    return Recorded("ZelCommandset", index,
                    OnSystem("ZelCommandset", Timing::Traced, index, 0,
                        [&](SystemBinding& s) noexcept { return s.ZelCommandset(command); }), command);
}

int ZELBRIDGE_CALL ZelGetAnswer(int index, char* answer, int size)
{
    return Recorded("ZelGetAnswer", index,
                    OnSystem("ZelGetAnswer", Timing::Traced, index, 0,
                        [&](SystemBinding& s) noexcept { return s.ZelGetAnswer(answer, size); }), answer, size);
}

int ZELBRIDGE_CALL ZelGetAnswerSize(int index, int* answerSize)
{
    // Polled in tight loops, so only calls that take measurable time are traced.
    return Recorded("ZelGetAnswerSize", index,
                    OnSystem("ZelGetAnswerSize", Timing::Silent, index, 0,
                        [&](SystemBinding& s) noexcept { return s.ZelGetAnswerSize(answerSize); }), answerSize);
}

int ZELBRIDGE_CALL SetQMC(int index, ZelWord a1, ZelWord a2, ZelWord a3)
{
    return Recorded("SetQMC", index,
                    OnSystem("SetQMC", Timing::Traced, index, 0, [&](SystemBinding& s) noexcept { return s.SetQMC(a1, a2, a3); }), a1, a2, a3);
}

int ZELBRIDGE_CALL GetQMC(int index, ZelWord a1, ZelWord a2, ZelWord a3)
{
    return Recorded("GetQMC", index,
                    OnSystem("GetQMC", Timing::Traced, index, 0, [&](SystemBinding& s) noexcept { return s.GetQMC(a1, a2, a3); }), a1, a2, a3);
}

int ZELBRIDGE_CALL SetQMCA(int index, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4)
{
    return Recorded("SetQMCA", index,
                    OnSystem("SetQMCA", Timing::Traced, index, 0, [&](SystemBinding& s) noexcept { return s.SetQMCA(a1, a2, a3, a4); }), a1, a2, a3, a4);
}

int ZELBRIDGE_CALL GetQMCA(int index, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4)
{
    return Recorded("GetQMCA", index,
                    OnSystem("GetQMCA", Timing::Traced, index, 0, [&](SystemBinding& s) noexcept { return s.GetQMCA(a1, a2, a3, a4); }), a1, a2, a3, a4);
}

int ZELBRIDGE_CALL SendNonZELString(int index, ZelWord a1)
{
    return Recorded("SendNonZELString", index,
                    OnSystem("SendNonZELString", Timing::Traced, index, 0,
                        [&](SystemBinding& s) noexcept { return s.SendNonZELString(a1); }), a1);
}

int ZELBRIDGE_CALL ReceiveNonZELString(int index, ZelWord a1, ZelWord a2)
{
    return Recorded("ReceiveNonZELString", index,
                    OnSystem("ReceiveNonZELString", Timing::Traced, index, 0,
                        [&](SystemBinding& s) noexcept { return s.ReceiveNonZELString(a1, a2); }), a1, a2);
}

int ZELBRIDGE_CALL OpenUserStagesEditDialog(int index)
{
    return Recorded("OpenUserStagesEditDialog", index,
                    OnSystem("OpenUserStagesEditDialog", Timing::Traced, index, 0,
                        [](SystemBinding& s) noexcept { return s.OpenUserStagesEditDialog(); }));
}

int ZELBRIDGE_CALL OpenQxStagesEditDialog(int index)
{
    return Recorded("OpenQxStagesEditDialog", index,
                    OnSystem("OpenQxStagesEditDialog", Timing::Traced, index, 0,
                        [](SystemBinding& s) noexcept { return s.OpenQxStagesEditDialog(); }));
}

int ZELBRIDGE_CALL DefineSystem(const char* libraryName, const char* prefix)
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
    return zelbridge::RecordedCall("DefineSystem", zelbridge::kNoOwner, define, libraryName, prefix);
}

int ZELBRIDGE_CALL ConnectPciBoard(int index, ZelWord a1)
{
    const zelbridge::CallTimer timer("ConnectPciBoard");
    return Connect(index, a1);
}

int ZELBRIDGE_CALL ConnectDaisyChainDevice(int index, ZelWord a1, ZelWord a2)
{
    return Recorded("ConnectDaisyChainDevice", index,
                    OnSystem("ConnectDaisyChainDevice", Timing::Traced, index, -1,
                        [&](SystemBinding& s) noexcept { return s.ConnectDaisyChainDevice(a1, a2); }), a1, a2);
}

int ZELBRIDGE_CALL OpenRS232DaisyChain(int index, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4, ZelWord a5)
{
    return Recorded("OpenRS232DaisyChain", index,
                    OnSystem("OpenRS232DaisyChain", Timing::Traced, index, -1,
                        [&](SystemBinding& s) noexcept { return s.OpenRS232DaisyChain(a1, a2, a3, a4, a5); }), a1, a2, a3, a4, a5);
}

void ZELBRIDGE_CALL CloseDaisyChain(int index, ZelWord a1)
{
    zelbridge::RecordedCall("CloseDaisyChain", zelbridge::SystemOwner(index), [&]() noexcept {
        OnSystem("CloseDaisyChain", index, [&](SystemBinding& s) noexcept { s.CloseDaisyChain(a1); });
    }, a1);
}

int ZELBRIDGE_CALL ListUSB(int index, ZelWord a1, ZelWord a2)
{
    return Recorded("ListUSB", index,
                    OnSystem("ListUSB", Timing::Traced, index, 0, [&](SystemBinding& s) noexcept { return s.ListUSB(a1, a2); }), a1, a2);
}

int ZELBRIDGE_CALL ConnectUSB(int index, ZelWord a1)
{
    return Recorded("ConnectUSB", index,
                    OnSystem("ConnectUSB", Timing::Traced, index, 0, [&](SystemBinding& s) noexcept { return s.ConnectUSB(a1); }), a1);
}

int ZELBRIDGE_CALL EnumerateUSB(int index, ZelWord a1, ZelWord a2, ZelWord a3)
{
    return Recorded("EnumerateUSB", index,
                    OnSystem("EnumerateUSB", Timing::Traced, index, 0,
                        [&](SystemBinding& s) noexcept { return s.EnumerateUSB(a1, a2, a3); }), a1, a2, a3);
}

} // extern "C"
