// Reading the call records of a recording one line at a time, processes
// told apart as the recording reader tells them.
#include "describe/call_records.h"

#include "recording/recording_format.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
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

CallRecords ReadCallRecords(const std::string& text)
{
    CallRecords records;
    std::map<std::optional<std::int64_t>, std::size_t> sessions;
    const auto add = [&](CallProcess process) {
        sessions[process.pid] = records.processes.size();
        records.processes.push_back(std::move(process));
        return records.processes.size() - 1;
    };
    std::istringstream lines(text);
    std::string line;
    for (std::size_t number = 1; std::getline(lines, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        const json record = json::parse(line, nullptr, false);
        if (record.is_discarded() || !record.is_object())
            throw std::runtime_error("record " + std::to_string(number) + " is not a JSON object");
        const std::optional<std::int64_t> pid = NumberOf<std::int64_t>(record, format::kProcessField);
        if (record.contains(format::kFormatField)) {
            CallProcess process{pid, record.value(format::kStartedField, std::string())};
            add(std::move(process));
            continue;
        }
        const auto session = sessions.find(pid);
        CallRecord call;
        call.record = number;
        call.process = session != sessions.end() ? session->second : add(CallProcess{pid, ""});
        call.atMs = NumberOf<double>(record, format::kTimeField).value_or(0.0);
        call.thread = NumberOf<std::uint32_t>(record, format::kThreadField).value_or(1);
        if (!record.contains(format::kEntryField) || !record[format::kEntryField].is_string())
            throw std::runtime_error("record " + std::to_string(number) + " names no entry point");
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
