// zelbridge timeline: a recording or a trace drawn as trace events, or as
// an HTML page when the output file's name ends in .html.
#include "cli/subcommands.h"
#include "cli/tool_errors.h"
#include "describe/call_records.h"
#include "replay/left_out_records.h"
#include "timeline/trace_events.h"

#include <fstream>
#include <memory>
#include <ostream>

namespace zelbridge::tool {
namespace {

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

int RunTimeline(const Invocation& request, std::ostream& out, std::ostream& err)
{
    const std::string& path = request.commands.front();
    const std::string text = ReadWholeFile(path);
    nlohmann::json events;
    std::shared_ptr<const recording::Recording> recorded;
    if (IsTrace(text)) {
        events = TraceEventsOfTrace(text);
    } else if (!recording::IsRecording(text)) {
        err << "zelbridge: \"" << path
            << "\" is neither a recording (ZELBRIDGE_RECORD) nor a trace (ZELBRIDGE_TRACE=file:...): its first line "
               "is neither a record nor a TIMER or ZEL line\n";
        return kFailure;
    } else {
        const recording::LoadedRecording loaded = recording::ParseRecording(text, path);
        if (!loaded.recording) {
            err << "zelbridge: " << loaded.reason << "\n";
            return kFailure;
        }
        recorded = loaded.recording;
        ListLeftOutRecords(*recorded, err);
        events = TraceEventsOfRecording(*recorded, ReadCallRecords(text, *recorded));
    }
    const bool html = request.output && (EndsWith(*request.output, ".html") || EndsWith(*request.output, ".htm"));
    const std::string written = html ? TimelinePage(events, "zelbridge timeline of " + path) : EventText(events) + "\n";
    if (!request.output) {
        out << written;
    } else {
        std::ofstream file(*request.output, std::ios::binary);
        if (!(file << written) || !file.flush()) {
            err << "zelbridge: cannot write \"" << *request.output << "\"\n";
            return kFailure;
        }
    }
    if (recorded && !recorded->faults.empty() && !request.skipBadRecords)
        throw Failure(FirstLeftOutRecord(*recorded, path) +
                      "; the rest is drawn; --skip-bad-records accepts a timeline without them");
    return kSuccess;
}

} // namespace zelbridge::tool
