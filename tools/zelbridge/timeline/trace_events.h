// A session as Trace Event Format JSON, the format Perfetto and
// chrome://tracing open: a track per process and thread, a slice per call.
#pragma once

#include "describe/call_records.h"
#include "recording/recording_reader.h"

#include <nlohmann/json.hpp>

#include <string>

namespace zelbridge::tool {

// From a recording: a complete ("X") event per call, an asynchronous slice
// ("b"/"e") from each query to the read that got its answer, metadata
// naming the tracks. A recording holds when each call began, not when it
// returned: a call is a slice of no length, and its arguments say how long
// after it the thread's next call came.
nlohmann::json TraceEventsOfRecording(const recording::Recording& recording, const CallRecords& calls);

// From a trace file (ZELBRIDGE_TRACE=file:...): a complete event per TIMER
// start and end, an instant event per other line, on one track.
nlohmann::json TraceEventsOfTrace(const std::string& text);

// The events as JSON text; a byte that is not UTF-8 (a recorded answer in
// another encoding) is shown as U+FFFD.
std::string EventText(const nlohmann::json& value);

// Whether `text` is a trace file: its first line is one the trace writes.
bool IsTrace(const std::string& text);

// One self-contained HTML page: the events drawn as an SVG timeline, with
// no script and nothing fetched.
std::string TimelinePage(const nlohmann::json& events, const std::string& title);

} // namespace zelbridge::tool
