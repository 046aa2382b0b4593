// zelbridge describe: a recording turned into simulator descriptions, one
// per controller recorded, each checked by the simulator's own loader
// before it is written.
#include "cli/subcommands.h"
#include "cli/tool_errors.h"
#include "describe/derived_description.h"
#include "description.h"
#include "replay/left_out_records.h"

#include <fstream>
#include <ostream>
#include <stdexcept>

namespace zelbridge::tool {
namespace {

// FILE with the controller's tag before its extension, for a recording of
// several controllers.
std::string TaggedPath(const std::string& path, const std::string& tag)
{
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return hasExtension ? path.substr(0, dot) + "." + tag + path.substr(dot) : path + "." + tag;
}

} // namespace

int RunDescribe(const Invocation& request, std::ostream& out, std::ostream& err)
{
    const std::string& path = request.commands.front();
    const recording::LoadedRecording loaded = recording::LoadRecording(path);
    if (!loaded.recording) {
        err << "zelbridge: " << loaded.reason << "\n";
        return kFailure;
    }
    // The records the reader left out are named before anything is derived
    // from the rest, as replay names them.
    ListLeftOutRecords(*loaded.recording, err);
    const CallRecords calls = ReadCallRecords(ReadWholeFile(path), *loaded.recording);
    ConnectionFilter filter;
    filter.family = request.family;
    if (request.processFilter)
        filter.pid = std::stoll(*request.processFilter);
    if (request.systemFilter)
        filter.system = std::stoi(*request.systemFilter);
    if (request.connectionFilter)
        filter.connection = std::stoul(*request.connectionFilter);
    const bool filtered = request.family || request.processFilter || request.systemFilter || request.connectionFilter;
    const std::vector<DerivedDescription> derived = DeriveDescriptions(*loaded.recording, calls, filter, path);
    if (derived.empty()) {
        err << "zelbridge: \"" << path << "\" holds no connection" << (filtered ? " of those asked for" : "")
            << "\n";
        return kFailure;
    }
    if (derived.size() > 1 && !request.output) {
        err << "zelbridge: \"" << path << "\" holds " << derived.size() << " controllers:";
        for (const DerivedDescription& description : derived)
            err << " " << description.controller << ";";
        err << " give -o FILE for one file each, or choose one with --system, --family, --process or --connection\n";
        return kUsage;
    }
    for (const DerivedDescription& description : derived) {
        const std::string text = description.document.dump(2) + "\n";
        const std::string target =
            !request.output ? "" : derived.size() == 1 ? *request.output : TaggedPath(*request.output, description.fileTag);
        const simulator::LoadedDescription check = simulator::ParseDescription(text, target.empty() ? "-" : target);
        if (!check.description)
            throw std::runtime_error("the description derived is one the simulator refuses (a fault of describe): " +
                                     check.reason);
        if (target.empty()) {
            out << text;
        } else {
            std::ofstream file(target, std::ios::binary);
            if (!(file << text) || !file.flush()) {
                err << "zelbridge: cannot write \"" << target << "\"\n";
                return kFailure;
            }
        }
        err << (target.empty() ? "description" : target) << ": " << description.controller << ", "
            << description.connections << " connection(s)\n";
        for (const std::string& note : description.notDerived)
            err << "  not derived: " << note << "\n";
    }
    if (!loaded.recording->faults.empty() && !request.skipBadRecords)
        throw Failure(FirstLeftOutRecord(*loaded.recording, path) +
                      "; the rest is described; --skip-bad-records accepts a description without them");
    return kSuccess;
}

} // namespace zelbridge::tool
