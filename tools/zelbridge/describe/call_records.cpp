// The call records of a recording as the recording reader found them, the
// processes told apart as it tells them.
#include "describe/call_records.h"

#include "recording/recording_format.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <cstddef>
#include <system_error>

namespace zelbridge::tool {
namespace {

using json = nlohmann::json;
namespace format = recording;

template <typename Number> std::optional<Number> NumberOf(const json& record, const char* field)
{
    const auto member = record.find(field);
    if (member == record.end() || !member->is_number())
        return std::nullopt;
    return member->get<Number>();
}

} // namespace

const CallRecord* CallRecords::At(std::size_t record) const noexcept
{
    const auto found = std::lower_bound(calls.begin(), calls.end(), record,
                                        [](const CallRecord& call, std::size_t line) { return call.record < line; });
    return found != calls.end() && found->record == record ? &*found : nullptr;
}

CallRecords ReadCallRecords(const std::string& text, const recording::Recording& recording)
{
    CallRecords records;
    std::map<std::optional<std::int64_t>, std::size_t> sessions;
    const auto add = [&](CallProcess process) {
        sessions[process.pid] = records.processes.size();
        records.processes.push_back(std::move(process));
        return records.processes.size() - 1;
    };
    for (const recording::AcceptedRecord& accepted : recording.accepted) {
        if (accepted.offset >= text.size())
            continue;
        const std::size_t end = std::min(text.find('\n', accepted.offset), text.size());
        const json record = json::parse(text.begin() + static_cast<std::ptrdiff_t>(accepted.offset),
                                        text.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
        // The reader parsed these very bytes; a text other than the one it read is no reason to crash.
        if (record.is_discarded() || !record.is_object())
            continue;
        const std::optional<std::int64_t> pid = NumberOf<std::int64_t>(record, format::kProcessField);
        if (record.contains(format::kFormatField)) {
            add(CallProcess{pid, record.value(format::kStartedField, std::string())});
            continue;
        }
        if (!record.contains(format::kEntryField) || !record[format::kEntryField].is_string())
            continue;
        const auto session = sessions.find(pid);
        CallRecord call;
        call.record = accepted.record;
        call.process = session != sessions.end() ? session->second : add(CallProcess{pid, ""});
        call.atMs = NumberOf<double>(record, format::kTimeField).value_or(0.0);
        call.thread = NumberOf<std::uint32_t>(record, format::kThreadField).value_or(1);
        call.entry = record[format::kEntryField].get<std::string>();
        call.system = NumberOf<std::int32_t>(record, format::kSystemField);
        if (record.contains(format::kArgumentsField) && record[format::kArgumentsField].is_array())
            call.args = record[format::kArgumentsField];
        call.result = NumberOf<long long>(record, format::kResultField);
        if (record.contains(format::kAnswerField) && record[format::kAnswerField].is_string())
            call.answer = record[format::kAnswerField].get<std::string>();
        call.size = NumberOf<long long>(record, format::kSizeField);
        records.calls.push_back(std::move(call));
    }
    return records;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot open \"" + path + "\": " + std::generic_category().message(errno));
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
        throw std::runtime_error("cannot read \"" + path + "\"");
    return content.str();
}

} // namespace zelbridge::tool
