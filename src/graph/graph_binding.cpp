// Loading and resolving the 3D graph library, once per process.
#include "graph/graph_binding.h"

#include "diag/call_recorder.h"

#include "loader/library_loader.h"


namespace zelbridge {

GraphBinding GraphBinding::instance_;

bool GraphFunctionTable::ResolveAll(platform::ModuleHandle library) noexcept
{
    for (std::size_t i = 0; i < kGraphFunctionCount; ++i)
        functions_[i] = platform::FindSymbol(library, kGraphFunctionNames[i]);
    for (const platform::ProcAddress function : functions_)
        if (!function)
            return false;
    return true;
}

bool GraphBinding::LoadOnFirstUse() noexcept
{
    return gate_.Claim() ? Load() : gate_.available();
}

bool GraphBinding::Load() noexcept
{
    const platform::ModuleHandle library = [] {
        const LibraryLoadScope loading;
        return LoadControllerLibrary(kGraphLibraryFile);
    }();
    if (!library) {
        gate_.Finish(FirstUseGate::State::Unloaded);
        return false;
    }
    library_ = library;
    const bool complete = functions_.ResolveAll(library);
    // Publishes the table: a thread that reads Available sees every pointer.
    gate_.Finish(complete ? FirstUseGate::State::Available : FirstUseGate::State::Unusable);
    quiet_.store(complete && CallRecorder::Off(), std::memory_order_release);
    return complete;
}

} // namespace zelbridge
