// The constant description of one controller family: its library, how that
// library is loaded and traced, the driver functions it must export and what
// each of the family's entry points writes and returns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelbridge {

// The most driver functions one family resolves.
inline constexpr std::size_t kMaxFamilyDriverFunctions = 16;

// How an availability check finds the family library and what it traces.
enum class LoadStyle {
    // Through the loader shared with defined systems; no trying line.
    SharedLoader,
    // The composed file name in the trying line, the last error after a failed load.
    FullTrace,
    // The bare file name in the trying line, written before the install path
    // is read; no "DLL OK" line and no last error.
    ShortTrace,
};

// The constants of one family entry point; which trace lines it writes is
// its FamilyTrace, a template argument of its forwarder.
struct EntryPointDescriptor {
    // Returned when the family library cannot be used; unused by the close calls.
    std::int32_t fallback;
    // Trace texts, each one trace item: "ZEL: <name>()\n", "ZEL: <name>(",
    // "ZEL: <name>() - NO DLL!\n" and "ZEL: <name>() iAnswerSize = ".
    const char* nameLine;
    const char* echoOpening;
    const char* unavailableLine;
    const char* sizeResultOpening;
};

// The availability check's own trace texts, with the family prefix in them.
struct AvailabilityTexts {
    const char* entryLine;       // "ZEL: <prefix>IsDLLAvailable()\n"
    const char* tryingOpening;   // "ZEL: <prefix>IsDLLAvailable() trying to load \""
    const char* notFoundOpening; // "ZEL: <prefix>IsDLLAvailable() \""
    const char* loadedOpening;   // "ZEL: <prefix>IsDLLAvailable() loaded \""
    const char* incompleteOpening; // "ZEL: <prefix>IsDLLAvailable() one of the functions in \""
};

struct FamilyDescriptor {
    const char* prefix;
    const char* libraryFileName;
    LoadStyle loadStyle;
    bool commandForwarderReportsUnavailable;
    // Resolution order; a library lacking any of them is not used at all.
    const char* const* driverFunctionNames;
    std::size_t driverFunctionCount;
    AvailabilityTexts texts;
};

} // namespace zelbridge
