// The availability check of a family: the three load styles, all-or-nothing
// resolution and the trace lines of each step.
#include "families/family_binding.h"

#include "diag/quiet_calls.h"
#include "diag/trace_stream.h"
#include "families/family_tables.h"
#include "loader/library_loader.h"

#include <memory>
#include <ostream>

namespace zelbridge {
namespace {

constexpr char kQuoteLineEnd[] = "\"\n";
constexpr char kNotFoundLineEnd[] = "\" not found\n";
constexpr char kAlreadyLoadedLine[] = "   ... DLL OK\n";
constexpr char kLastErrorOpening[] = "GetLastError(): ";


// A load's module and, when it failed, the last-error value it left. The
// value is taken at once: freeing the composed name or writing a trace item
// may overwrite the thread's last error.
struct LoadResult {
    platform::ModuleHandle module;
    std::uint32_t lastError;
};

LoadResult Outcome(platform::ModuleHandle module) noexcept
{
    return {module, module ? 0u : platform::LastError()};
}

LoadResult LoadComposedName(const std::unique_ptr<char[]>& fileName) noexcept
{
    // Without a name there was no memory for one: a failed load.
    return Outcome(fileName ? platform::OpenModule(fileName.get()) : nullptr);
}

LoadResult OpenFamilyLibrary(const FamilyDescriptor& family, TraceStream& trace) noexcept
{
    switch (family.loadStyle) {
    case LoadStyle::SharedLoader:
        return Outcome(LoadControllerLibrary(family.libraryFileName));
    case LoadStyle::FullTrace: {
        const std::unique_ptr<char[]> fileName = ComposeLibraryPath(family.libraryFileName);
        trace << family.texts.tryingOpening << fileName.get() << kQuoteLineEnd;
        return LoadComposedName(fileName);
    }
    case LoadStyle::ShortTrace:
        break;
    }
    trace << family.texts.tryingOpening << family.libraryFileName << kQuoteLineEnd;
    const std::unique_ptr<char[]> fileName = ComposeLibraryPath(family.libraryFileName);
    return LoadComposedName(fileName);
}

} // namespace

bool FamilyBinding::IsAvailable() noexcept
{
    const FamilyDescriptor& family = *descriptor_;
    TraceStream& trace = TraceStream::Instance();
    trace << family.texts.entryLine;
    if (!loaded() && gate_.Claim())
        return Load();
    // Refused: a call from a library's initialiser while it loads.
    if (!loaded())
        return false;
    if (family.loadStyle != LoadStyle::ShortTrace)
        trace << kAlreadyLoadedLine;
    return true;
}

bool FamilyBinding::Load() noexcept
{
    const FamilyDescriptor& family = *descriptor_;
    TraceStream& trace = TraceStream::Instance();
    const LoadResult load = [&] {
        const LibraryLoadScope loading;
        return OpenFamilyLibrary(family, trace);
    }();
    if (!load.module) {
        gate_.Finish(FirstUseGate::State::Unloaded);
        trace << family.texts.notFoundOpening << family.libraryFileName << kNotFoundLineEnd;
        if (family.loadStyle != LoadStyle::ShortTrace)
            trace << kLastErrorOpening << load.lastError << std::endl;
        return false;
    }
    trace << family.texts.loadedOpening << family.libraryFileName << kQuoteLineEnd;
    if (!ResolveAll(load.module)) {
        trace << family.texts.incompleteOpening << family.libraryFileName << kNotFoundLineEnd;
        platform::CloseModule(load.module);
        entries_.fill(nullptr);
        gate_.Finish(FirstUseGate::State::Unloaded);
        return false;
    }
    module_ = load.module;
    // Publishes the entries: a thread that reads Available sees every one.
    gate_.Finish(FirstUseGate::State::Available);
    quiet_.store(QuietCalls(), std::memory_order_release);
    return true;
}

bool FamilyBinding::ResolveAll(platform::ModuleHandle module) noexcept
{
    // Every name is looked up, also after a miss.
    bool complete = true;
    for (std::size_t i = 0; i < descriptor_->driverFunctionCount; ++i) {
        entries_[i] = platform::FindSymbol(module, descriptor_->driverFunctionNames[i]);
        complete = complete && entries_[i] != nullptr;
    }
    return complete;
}

void FamilyBinding::Reset() noexcept
{
    quiet_.store(false, std::memory_order_relaxed);
    gate_.Reset();
    module_ = nullptr;
    entries_.fill(nullptr);
}

void FamilyBinding::ReleaseLibrary() noexcept
{
    quiet_.store(false, std::memory_order_relaxed);
    if (gate_.Reset() == FirstUseGate::State::Available)
        platform::CloseModule(module_);
    module_ = nullptr;
    entries_.fill(nullptr);
}

#define ZELBRIDGE_FAMILY_BINDING(family, ...) FamilyBinding(kFamilyDescriptors[static_cast<std::size_t>(Family::family)]),
FamilyBinding detail::familyBindings[kFamilyCount] = {ZELBRIDGE_FAMILIES(ZELBRIDGE_FAMILY_BINDING)};
#undef ZELBRIDGE_FAMILY_BINDING

} // namespace zelbridge
