// Reading a recording: one JSON object per line, sorted into the connections
// it was made on.
#include "recording.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace simulator {
namespace {

using json = nlohmann::json;

// The calls whose first argument, in a family, is the connection.
const std::set<std::string> kOnConnection = {
    "IsConnected", "CloseConnection", "GetError", "SetErrorCheck", "ZelCommandset", "ZelGetAnswer",
    "ZelGetAnswerSize", "SetQMC", "GetQMC", "SetQMCA", "GetQMCA", "OpenUserStagesEditDialog",
    "OpenQxStagesEditDialog", "ReadLine"};
const std::set<std::string> kConnects = {"InterfaceSetupDlg", "Connect", "ConnectRS232", "ConnectNIgpib",
                                         "ConnectPciBoard", "ConnectTCPIP", "ConnectUSB", "ConnectDaisyChainDevice"};

// The recorder writes each byte outside printable ASCII as one code point
// below 256; this gives the bytes back.
std::string Bytes(const std::string& utf8)
{
    std::string bytes;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if ((lead & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            const unsigned code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            if (code < 0x100) {
                bytes += static_cast<char>(code);
                ++i;
                continue;
            }
        }
        bytes += utf8[i];
    }
    return bytes;
}

std::int32_t Integer(const json& value)
{
    if (!value.is_number_integer())
        throw std::invalid_argument("a whole number is expected");
    const auto number = value.get<long long>();
    if (number < INT32_MIN || number > INT32_MAX)
        throw std::invalid_argument("a number does not fit 32 bits");
    return static_cast<std::int32_t>(number);
}

class Reader {
public:
    explicit Reader(Recording& recording) : recording_(recording) {}

    void Read(std::size_t line, const json& record)
    {
        // A process's session record starts its calls; they are read as before.
        if (record.is_object() && record.contains("format") && !record.contains("entry"))
            return;
        if (!record.is_object() || !record.contains("entry") || !record["entry"].is_string())
            throw std::invalid_argument("a record is an object with an \"entry\"");
        const std::string entry = record["entry"].get<std::string>();
        const std::size_t underscore = entry.rfind('_');
        const std::string family = underscore == std::string::npos ? "" : entry.substr(0, underscore + 1);
        const std::string operation = entry.substr(family.size());
        const json empty = json::array();
        const json& args = record.contains("args") ? record["args"] : empty;
        if (!args.is_array())
            throw std::invalid_argument("\"args\" is a list");
        // Calls without a result (CloseConnection) count as 0.
        const bool hasResult = record.contains("result");
        const std::int32_t result = hasResult ? Integer(record["result"]) : 0;
        const double at = record.contains("t") && record["t"].is_number() ? record["t"].get<double>() : 0.0;
        const bool generic = record.contains("system");
        const std::size_t first = generic ? 0 : 1;

        if (operation == "TranslateError" && hasResult && result == 0 && record.contains("answer") && !args.empty())
            recording_.errors[Integer(args[0])] = Bytes(record["answer"].get<std::string>());
        std::string key;
        if (generic)
            key = "system " + std::to_string(Integer(record["system"]));
        else if (kConnects.count(operation) && hasResult && result >= 0)
            key = family + std::to_string(result);
        else if (kOnConnection.count(operation) && !args.empty())
            key = family + std::to_string(Integer(args[0]));
        else
            return;

        if (kConnects.count(operation)) {
            if (hasResult && result >= 0) {
                recording_.connections.push_back(std::make_shared<RecordedConnection>(RecordedConnection{line, {}}));
                current_[key] = std::const_pointer_cast<RecordedConnection>(recording_.connections.back());
            }
            return;
        }
        const auto found = current_.find(key);
        if (found == current_.end())
            return;
        RecordedConnection& connection = *found->second;
        if (operation == "ZelCommandset") {
            if (args.size() <= first || !args[first].is_string() || !hasResult)
                throw std::invalid_argument("a command is recorded as text, with its result");
            connection.commands.push_back(
                RecordedCommand{line, Bytes(args[first].get<std::string>()), result, {}, 0, at});
            return;
        }
        if (connection.commands.empty())
            return;
        RecordedCommand& command = connection.commands.back();
        if (operation == "ZelGetAnswer" && hasResult && result == 0 && record.contains("answer")) {
            // An edited time may be anything: the delay is kept within what a clock can add.
            constexpr double kLongestDelayMs = 1e12;
            const double elapsed = at - command.atMs;
            const double delayMs = elapsed > 0 ? std::min(elapsed, kLongestDelayMs) : 0.0;
            command.answers.push_back(RecordedAnswer{Bytes(record["answer"].get<std::string>()),
                                                     std::chrono::milliseconds(static_cast<long long>(delayMs))});
        } else if (operation == "GetError" && result != 0 && command.error == 0) {
            command.error = result;
        } else if (operation == "CloseConnection") {
            current_.erase(found);
        }
    }

private:
    Recording& recording_;
    std::map<std::string, std::shared_ptr<RecordedConnection>> current_;
};

} // namespace

bool IsRecording(std::string_view text) noexcept
{
    try {
        // Without exceptions: most files asked are descriptions, and an
        // exception costs more, and some hosts' runtimes cannot throw at all.
        const std::string_view first = text.substr(0, text.find('\n'));
        const json record = json::parse(first, nullptr, false);
        return !record.is_discarded() && record.is_object() && (record.contains("entry") || record.contains("format"));
    } catch (...) {
        return false;
    }
}

LoadedRecording ParseRecording(std::string_view text, const std::string& fileName) noexcept
{
    std::size_t line = 0;
    try {
        auto recording = std::make_shared<Recording>();
        Reader reader(*recording);
        while (!text.empty()) {
            ++line;
            const std::size_t end = text.find('\n');
            const std::string_view record = text.substr(0, end);
            text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
            if (record.find_first_not_of(" \t\r") == std::string_view::npos)
                continue;
            reader.Read(line, json::parse(record));
        }
        recording->records = line;
        return LoadedRecording{std::move(recording), ""};
    } catch (const std::exception& failure) {
        return LoadedRecording{nullptr, "\"" + fileName + "\", record " + std::to_string(line) + ": " + failure.what()};
    } catch (...) {
        return LoadedRecording{nullptr, "\"" + fileName + "\": out of memory"};
    }
}

std::optional<LoadedRecording> LoadRecordingIfOne(const std::string& path) noexcept
{
    try {
        std::ifstream file(path, std::ios::binary);
        if (!file)
            return std::nullopt;
        std::ostringstream text;
        text << file.rdbuf();
        const std::string content = text.str();
        if (!IsRecording(content))
            return std::nullopt;
        return ParseRecording(content, path);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace simulator
