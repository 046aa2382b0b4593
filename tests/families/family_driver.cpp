// A family driver library: every driver function any family resolves, under
// the prefix DRIVER_PREFIX, records its call with its arguments and returns
// the result the test set. The build decides which of them the library
// exports, and so whether it is complete for its family.
#include "api/driver_contract.h"
#include "driver_recorder.h"

#ifndef DRIVER_TAG
#define DRIVER_TAG "family"
#endif
#ifndef DRIVER_PREFIX
#define DRIVER_PREFIX M329_
#endif

namespace {

using zelbridge::test::Called;

const zelbridge::test::LifetimeRecorder lifetime(DRIVER_TAG);

} // namespace

using zelbridge::Word;

// X(function after the prefix, parameters, arguments). SendString is a decoy:
// the name of the entry point, not of the driver function it calls.
#define FAMILY_DRIVER_FUNCTIONS(X)                                                                                  \
    X(InterfaceSetupDlg, (Word a1), (a1))                                                                           \
    X(Connect, (Word a1), (a1))                                                                                     \
    X(ConnectRS232, (Word a1, Word a2), (a1, a2))                                                                   \
    X(ConnectNIgpib, (Word a1, Word a2), (a1, a2))                                                                  \
    X(ConnectPciBoard, (Word a1), (a1))                                                                             \
    X(IsConnected, (int id), (id))                                                                                  \
    X(GetError, (int id), (id))                                                                                     \
    X(SetErrorCheck, (int id, Word a1), (id, a1))                                                                   \
    X(TranslateError, (Word a1, Word a2, Word a3), (a1, a2, a3))                                                    \
    X(GetCurrentBoardId, (Word a1), (a1))                                                                           \
    X(GetCurrentInterfaceId, (Word a1), (a1))                                                                       \
    X(ZelCommandset, (int id, const char* command), (id, command))                                                  \
    X(ZelGetAnswer, (int id, char* answer, int size), (id, answer, size))                                           \
    X(ZelGetAnswerSize, (int id, int* answerSize), (id, answerSize))                                                \
    X(SetQMC, (int id, Word a1, Word a2, Word a3), (id, a1, a2, a3))                                                \
    X(GetQMC, (int id, Word a1, Word a2, Word a3), (id, a1, a2, a3))                                                \
    X(SetQMCA, (int id, Word a1, Word a2, Word a3, Word a4), (id, a1, a2, a3, a4))                                  \
    X(GetQMCA, (int id, Word a1, Word a2, Word a3, Word a4), (id, a1, a2, a3, a4))                                  \
    X(OpenUserStagesEditDialog, (int id), (id))                                                                     \
    X(OpenQxStagesEditDialog, (int id), (id))                                                                       \
    X(T5XXSendString, (Word a1, Word a2), (a1, a2))                                                                 \
    X(T5XXReadLine, (int id, Word a1, Word a2), (id, a1, a2))                                                       \
    X(SendString, (Word a1, Word a2), (a1, a2))

#define DRIVER_DEFINE(name, params, args)                                                                           \
    extern "C" std::int32_t ZELBRIDGE_STDCALL DRIVER_JOIN(DRIVER_PREFIX, name) params                               \
    {                                                                                                               \
        return Called(DRIVER_TAG, DRIVER_STRING(DRIVER_PREFIX) #name, DRIVER_UNPACK args);                          \
    }
FAMILY_DRIVER_FUNCTIONS(DRIVER_DEFINE)

extern "C" void ZELBRIDGE_STDCALL DRIVER_JOIN(DRIVER_PREFIX, CloseConnection)(int id)
{
    Called(DRIVER_TAG, DRIVER_STRING(DRIVER_PREFIX) "CloseConnection", id);
}

// A decoy for the M317_VB_ family, which must resolve M317_Connect instead.
extern "C" std::int32_t ZELBRIDGE_STDCALL M317_VB_Connect(Word a1)
{
    return Called(DRIVER_TAG, "M317_VB_Connect", a1);
}
