// Naming the records a recording's reader left out.
#include "replay/left_out_records.h"

namespace zelbridge::tool {
namespace {

// A file torn in many places still gives a report a person reads through.
constexpr std::size_t kMostFaultsListed = 100;

const char* KindOf(const recording::RecordFault& fault)
{
    switch (fault.kind) {
    case recording::FaultKind::kUnreadable: return "unreadable";
    case recording::FaultKind::kInvalid: return "against the schema";
    case recording::FaultKind::kOutOfPlace: return "out of place";
    }
    return "";
}

} // namespace

std::string Plural(std::size_t count, const char* one, const char* more)
{
    return std::to_string(count) + " " + (count == 1 ? one : more);
}

void ListLeftOutRecords(const recording::Recording& recording, std::ostream& out)
{
    for (std::size_t i = 0; i < recording.faults.size() && i < kMostFaultsListed; ++i)
        out << "left out, " << KindOf(recording.faults[i]) << ": " << recording::Describe(recording.faults[i]) << "\n";
    if (recording.faults.size() > kMostFaultsListed)
        out << "left out: " << recording.faults.size() - kMostFaultsListed << " more records\n";
}

std::string FirstLeftOutRecord(const recording::Recording& recording, const std::string& path)
{
    if (recording.faults.empty())
        return "";
    const std::size_t more = recording.faults.size() - 1;
    return "\"" + path + "\", " + recording::Describe(recording.faults.front()) +
           (more > 0 ? " (and " + Plural(more, "more record", "more records") + " named above)" : "");
}

} // namespace zelbridge::tool
