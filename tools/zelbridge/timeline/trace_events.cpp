// Turning a recording or a trace into trace events. Times are microseconds,
// the format's unit; each process's clock starts at its first record, and
// processes are placed by the time their session records say they started.
#include "timeline/trace_events.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>
#include <sstream>

namespace zelbridge::tool {
namespace {

using json = nlohmann::json;

// Seconds since 1970 of "2026-12-09T11:53:19Z", or nothing.
std::optional<long long> UtcSeconds(const std::string& iso)
{
    // Each field at its place, of its width: an edited text is not trusted further.
    const auto field = [&](std::size_t at, std::size_t width, int low, int high) -> std::optional<int> {
        int value = 0;
        const char* begin = iso.data() + at;
        const auto [end, error] = std::from_chars(begin, begin + width, value);
        if (error != std::errc() || end != begin + width || value < low || value > high)
            return std::nullopt;
        return value;
    };
    if (iso.size() != 20 || iso[4] != '-' || iso[7] != '-' || iso[10] != 'T' || iso[13] != ':' || iso[16] != ':' ||
        iso[19] != 'Z')
        return std::nullopt;
    const auto year4 = field(0, 4, 1970, 9999), month2 = field(5, 2, 1, 12), day = field(8, 2, 1, 31),
               hour = field(11, 2, 0, 23), minute = field(14, 2, 0, 59), second = field(17, 2, 0, 60);
    if (!year4 || !month2 || !day || !hour || !minute || !second)
        return std::nullopt;
    std::tm parts{};
    const int year = *year4, month = *month2;
    parts.tm_mday = *day;
    parts.tm_hour = *hour;
    parts.tm_min = *minute;
    parts.tm_sec = *second;
    // Days from civil (Howard Hinnant's algorithm), so that no time zone is involved.
    const int y = year - (month <= 2);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + parts.tm_mday - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = static_cast<long long>(era) * 146097 + doe - 719468;
    return days * 86400 + parts.tm_hour * 3600 + parts.tm_min * 60 + parts.tm_sec;
}

std::string CommandOf(const CallRecord& call)
{
    const std::size_t index = call.system ? 0 : 1;
    if (call.args.size() > index && call.args[index].is_string())
        return call.args[index].get<std::string>();
    return "";
}

bool IsCommand(const std::string& entry)
{
    return entry.size() >= 13 && entry.compare(entry.size() - 13, 13, "ZelCommandset") == 0;
}

bool IsGetError(const std::string& entry)
{
    return entry.size() >= 8 && entry.compare(entry.size() - 8, 8, "GetError") == 0;
}

// Whether a call's result is a failure: an error code from a command or
// GetError, a negative result elsewhere (a connect that failed).
bool Failed(const CallRecord& call)
{
    if (!call.result)
        return false;
    if (IsCommand(call.entry) || IsGetError(call.entry))
        return *call.result != 0;
    return *call.result < 0 && call.entry.find("Connect") != std::string::npos;
}

json Metadata(const char* name, std::int64_t pid, std::int64_t tid, const std::string& value)
{
    return {{"ph", "M"}, {"name", name}, {"ts", 0}, {"pid", pid}, {"tid", tid}, {"args", {{"name", value}}}};
}

// Events sorted by track and time, metadata first, so that every thread's
// timestamps rise; a stable sort keeps a begin before the end at one time.
json Sorted(std::vector<json> events)
{
    std::stable_sort(events.begin(), events.end(), [](const json& a, const json& b) {
        const auto key = [](const json& e) {
            return std::make_tuple(e["pid"].get<std::int64_t>(), e["tid"].get<std::int64_t>(), e["ph"] != "M",
                                   e["ts"].get<double>());
        };
        return key(a) < key(b);
    });
    return {{"traceEvents", events}, {"displayTimeUnit", "ms"}};
}

} // namespace

json TraceEventsOfRecording(const recording::Recording& recording, const CallRecords& calls)
{
    // Where each process's clock starts, in microseconds from the first.
    std::vector<double> originUs(calls.processes.size(), 0.0);
    std::optional<long long> earliest;
    for (const CallProcess& process : calls.processes)
        if (const auto seconds = UtcSeconds(process.started))
            earliest = earliest ? std::min(*earliest, *seconds) : *seconds;
    for (std::size_t p = 0; p < calls.processes.size(); ++p)
        if (const auto seconds = UtcSeconds(calls.processes[p].started))
            originUs[p] = static_cast<double>(*seconds - *earliest) * 1e6;
    const auto pidOf = [&](std::size_t process) -> std::int64_t {
        const std::optional<std::int64_t>& pid = calls.processes[process].pid;
        return pid ? *pid : static_cast<std::int64_t>(process + 1);
    };
    // Whole microseconds, as the recording writes them, the same on every build
    // (x87 arithmetic would otherwise leave digits of its own).
    const auto tsOf = [&](const CallRecord& call) { return originUs[call.process] + std::round(call.atMs * 1000.0); };

    std::vector<json> events;
    std::map<std::pair<std::size_t, std::uint32_t>, std::vector<const CallRecord*>> threads;
    for (const CallRecord& call : calls.calls)
        threads[{call.process, call.thread}].push_back(&call);
    std::set<std::size_t> namedProcesses;
    for (const auto& [track, trackCalls] : threads) {
        const std::int64_t pid = pidOf(track.first);
        if (namedProcesses.insert(track.first).second)
            events.push_back(Metadata("process_name", pid, 0, "process " + std::to_string(pid)));
        events.push_back(Metadata("thread_name", pid, track.second, "thread " + std::to_string(track.second)));
        for (std::size_t i = 0; i < trackCalls.size(); ++i) {
            const CallRecord& call = *trackCalls[i];
            const double ts = tsOf(call);
            json args = {{"record", call.record}, {"args", call.args}};
            if (i + 1 < trackCalls.size())
                args["next_call_after_ms"] = std::max(0.0, tsOf(*trackCalls[i + 1]) - ts) / 1000.0;
            if (call.system)
                args["system"] = *call.system;
            if (call.result)
                args["result"] = *call.result;
            if (call.answer)
                args["answer"] = *call.answer;
            if (call.size)
                args["size"] = *call.size;
            std::string name = call.entry;
            if (IsCommand(call.entry))
                name += " " + CommandOf(call);
            json event = {{"ph", "X"}, {"name", name}, {"cat", "call"}, {"ts", ts}, {"dur", 0},
                          {"pid", pid}, {"tid", track.second}, {"args", args}};
            if (Failed(call)) {
                const std::int32_t code = static_cast<std::int32_t>(*call.result);
                const auto text = recording.errors.find(code);
                event["cat"] = "call,error";
                event["cname"] = "terrible";
                event["args"]["error"] = std::to_string(code) + (text != recording.errors.end() ? " " + text->second : "");
                event["name"] = name + " (error " + std::to_string(code) + ")";
            }
            events.push_back(std::move(event));
        }
    }
    // The waits for answers, from each command to the read that got its answer.
    for (const auto& connection : recording.connections)
        for (const recording::RecordedCommand& command : connection->commands) {
            const CallRecord* sent = calls.At(command.record);
            if (command.answers.empty() || !sent)
                continue;
            const CallRecord* read = calls.At(command.answers.front().record);
            if (!read || read->process != sent->process)
                continue;
            const std::int64_t pid = pidOf(sent->process);
            const json common = {{"cat", "wait"}, {"id", command.record}, {"pid", pid}, {"tid", sent->thread},
                                 {"name", "answer to " + command.text}};
            json begin = common, end = common;
            begin["ph"] = "b";
            begin["ts"] = tsOf(*sent);
            begin["args"] = {{"record", command.record}, {"answer", command.answers.front().text},
                             {"answer_record", read->record}};
            end["ph"] = "e";
            end["ts"] = std::max(tsOf(*sent), tsOf(*read));
            events.push_back(std::move(begin));
            events.push_back(std::move(end));
        }
    return Sorted(std::move(events));
}

std::string EventText(const json& value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool IsTrace(const std::string& text)
{
    const std::string first = text.substr(0, text.find('\n'));
    return first.rfind("TIMER: ", 0) == 0 || first.rfind("ZEL: ", 0) == 0;
}

json TraceEventsOfTrace(const std::string& text)
{
    std::vector<json> events{Metadata("process_name", 1, 0, "trace"), Metadata("thread_name", 1, 1, "calls")};
    // Starts not yet ended, per name: the most recent first.
    std::map<std::string, std::vector<std::pair<double, std::size_t>>> open;
    std::optional<std::uint32_t> firstTick;
    double now = 0;
    // A tick count wraps after 49.7 days: times are kept from the first, unsigned.
    const auto at = [&](long long tick) {
        const auto value = static_cast<std::uint32_t>(tick);
        if (!firstTick)
            firstTick = value;
        return static_cast<double>(static_cast<std::uint32_t>(value - *firstTick)) * 1000.0;
    };
    std::istringstream lines(text);
    std::string line;
    for (std::size_t number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const std::size_t start = line.find("  -- start ");
        const std::size_t end = line.find("  -- end ");
        if (line.rfind("TIMER: ", 0) == 0 && start != std::string::npos) {
            const std::string name = line.substr(7, start - 7);
            now = at(std::atoll(line.c_str() + start + 11));
            open[name].emplace_back(now, number);
            continue;
        }
        if (line.rfind("TIMER: ", 0) == 0 && end != std::string::npos) {
            const std::string name = line.substr(7, end - 7);
            now = std::max(now, at(std::atoll(line.c_str() + end + 9)));
            auto& starts = open[name];
            const double began = starts.empty() ? now : starts.back().first;
            const std::size_t startLine = starts.empty() ? number : starts.back().second;
            if (!starts.empty())
                starts.pop_back();
            events.push_back({{"ph", "X"}, {"name", name}, {"cat", "call"}, {"ts", began}, {"dur", now - began},
                              {"pid", 1}, {"tid", 1}, {"args", {{"line", startLine}, {"end_line", number}}}});
            continue;
        }
        // Family lines carry no time: they are placed at the last time seen.
        const bool failure = line.find("not found") != std::string::npos || line.rfind("GetLastError", 0) == 0 ||
                             line.find("failed") != std::string::npos;
        json instant = {{"ph", "i"}, {"s", "t"}, {"name", line.substr(0, 120)}, {"cat", failure ? "trace,error" : "trace"},
                        {"ts", now}, {"pid", 1}, {"tid", 1}, {"args", {{"line", number}, {"text", line}}}};
        if (failure)
            instant["cname"] = "terrible";
        events.push_back(std::move(instant));
    }
    return Sorted(std::move(events));
}

} // namespace zelbridge::tool
