// The attach and detach steps, shared by DllMain and the shared-object hooks.
#include "module/lifecycle.h"

#include "api/system_table.h"
#include "diag/call_recorder.h"
#include "diag/trace_stream.h"
#include "families/family_lifecycle.h"
#include "loader/library_loader.h"
#include "platform/platform.h"

namespace zelbridge {

void AttachModule() noexcept
{
    // Said by the module alone, not by a program that links its code.
    TraceStream::Instance().SayWarning();
    CallRecorder::Instance().SayWarning();
    ResetFamilyBindings();
}

void DetachModule() noexcept
{
    // Family libraries first: a defined system may be on the same library,
    // and its teardown still calls into it.
    ReleaseFamilyLibrariesAtDetach();
    SystemTable::Instance().ReleaseAll();
}

void FreeModuleTables() noexcept
{
    SystemTable::FreeInstance();
    FreeInstallPaths();
    TraceStream::Instance().CloseFile();
    FreeTraceLines();
    CallRecorder::Instance().Close();
    platform::FreeThreadSlots();
}

} // namespace zelbridge
