// Fuzzes describe and timeline with recordings and traces a user may have
// edited or torn: describe and timeline read exactly the records the reader
// accepts, whatever it accepts must give descriptions the simulator
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
#include <string>

using namespace zelbridge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    tool::TimelinePage(tool::TraceEventsOfTrace(text), "fuzz");
    const recording::LoadedRecording loaded = recording::ParseRecording(text, "fuzz.jsonl");
    if (!loaded.recording)
        return 0;
    const recording::Recording& recording = *loaded.recording;
    const tool::CallRecords calls = tool::ReadCallRecords(text, recording);
    // Describe and timeline read the very records the reader used, none it left out.
    const recording::RecordCounts& counts = recording.counts;
    if (calls.calls.size() != counts.generic + counts.family + counts.graph) {
        std::fprintf(stderr, "describe read %zu call records, the reader accepted %zu\n", calls.calls.size(),
                     counts.generic + counts.family + counts.graph);
        std::abort();
    }
    for (const tool::DerivedDescription& derived :
         tool::DeriveDescriptions(recording, calls, tool::ConnectionFilter{}, "fuzz.jsonl")) {
        const simulator::LoadedDescription check = simulator::ParseDescription(derived.document.dump(2), "derived.json");
        if (!check.description) {
            std::fprintf(stderr, "describe wrote a description the simulator refuses: %s\n", check.reason.c_str());
            std::abort();
        }
    }
    tool::TimelinePage(tool::TraceEventsOfRecording(recording, calls), "fuzz");
    return 0;
}
