// Fuzzes describe and timeline with recordings and traces a user may have
// edited: whatever the reader accepts must give descriptions the simulator
// loads and trace events the page draws, and no input may crash either.
#include "describe/call_records.h"
#include "describe/derived_description.h"
#include "description.h"
#include "recording/recording_reader.h"
#include "timeline/trace_events.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

using namespace zelbridge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    tool::TimelinePage(tool::TraceEventsOfTrace(text), "fuzz");
    const recording::LoadedRecording loaded = recording::ParseRecording(text, "fuzz.jsonl");
    if (!loaded.recording)
        return 0;
    tool::CallRecords calls;
    try {
        calls = tool::ReadCallRecords(text);
    } catch (const std::runtime_error&) {
        return 0;
    }
    for (const tool::DerivedDescription& derived :
         tool::DeriveDescriptions(*loaded.recording, calls, tool::ConnectionFilter{}, "fuzz.jsonl")) {
        const simulator::LoadedDescription check = simulator::ParseDescription(derived.document.dump(2), "derived.json");
        if (!check.description) {
            std::fprintf(stderr, "describe wrote a description the simulator refuses: %s\n", check.reason.c_str());
            std::abort();
        }
    }
    tool::TimelinePage(tool::TraceEventsOfRecording(*loaded.recording, calls), "fuzz");
    return 0;
}
