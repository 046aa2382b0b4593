// Reading a recording: one JSON object per line, sorted by process into the
// connections it was made on. Whatever is wrong with a record is said in
// words with its number, for a file a customer may have cut or edited.
#include "recording/recording_reader.h"

#include "api/driver_contract.h"
#include "families/family_catalog.h"
#include "recording/recording_format.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <system_error>

namespace zelbridge::recording {
namespace {

using json = nlohmann::json;

// What a record's operation does to the connections, as the description of
// the operations says; family calls share the operations' names.
enum class Role { kConnect, kOnConnection, kOther };

Role RoleOf(std::string_view operation)
{
    for (const OperationDescription& description : kDescribedOperations) {
        if (operation != description.name)
            continue;
        if (description.kind == OperationKind::Connect)
            return Role::kConnect;
        return description.kind == OperationKind::OnConnection ? Role::kOnConnection : Role::kOther;
    }
    return Role::kOther;
}

// A record the reader cannot use, said in words.
class BadRecord : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Quoted(const char* field)
{
    return std::string("\"") + field + "\"";
}

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

std::int64_t WholeNumber(const json& value, const char* field)
{
    if (!value.is_number_integer())
        throw BadRecord(Quoted(field) + " must be a whole number");
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
        throw BadRecord(Quoted(field) + " is too large");
    return value.get<std::int64_t>();
}

std::int32_t Integer(const json& value, const char* field)
{
    const std::int64_t number = WholeNumber(value, field);
    if (number < INT32_MIN || number > INT32_MAX)
        throw BadRecord(Quoted(field) + " does not fit 32 bits");
    return static_cast<std::int32_t>(number);
}

std::string Text(const json& value, const char* field)
{
    if (!value.is_string())
        throw BadRecord(Quoted(field) + " must be a text");
    return value.get<std::string>();
}

// What a line that is not JSON is, from where the parser stopped.
std::string DescribeSyntax(const json::parse_error& error, std::string_view line)
{
    if (error.byte > line.size())
        return "the record is cut short after " + std::to_string(line.size()) +
               " characters: the file ends, or was written, in the middle of it";
    return "the record is not a JSON object: it cannot be read from character " + std::to_string(error.byte) + " on";
}

class Reader {
public:
    explicit Reader(Recording& recording) : recording_(recording) {}

    void Read(std::size_t line, const json& record)
    {
        if (!record.is_object())
            throw BadRecord("a record is an object with an " + Quoted(kEntryField) + " or a " + Quoted(kFormatField));
        if (record.contains(kFormatField)) {
            StartSession(line, record);
            return;
        }
        if (!record.contains(kEntryField))
            throw BadRecord("a record is an object with an " + Quoted(kEntryField) + " or a " + Quoted(kFormatField));
        const std::string entry = Text(record[kEntryField], kEntryField);
        const std::size_t process = ProcessOf(line, record);
        const std::size_t underscore = entry.rfind('_');
        const std::string family = underscore == std::string::npos ? "" : entry.substr(0, underscore + 1);
        const std::string operation = entry.substr(family.size());
        const Role role = RoleOf(operation);
        const json empty = json::array();
        const json& args = record.contains(kArgumentsField) ? record[kArgumentsField] : empty;
        if (!args.is_array())
            throw BadRecord(Quoted(kArgumentsField) + " must be a list");
        // Calls without a result (CloseConnection) count as 0.
        const bool hasResult = record.contains(kResultField);
        const std::int32_t result = hasResult ? Integer(record[kResultField], kResultField) : 0;
        const double at = record.contains(kTimeField) && record[kTimeField].is_number() ? record[kTimeField].get<double>()
                                                                                         : 0.0;
        const bool generic = record.contains(kSystemField);
        const std::size_t first = generic ? 0 : 1;
        const bool cut = record.contains(kCutField) && record[kCutField] == true;

        if (operation == "TranslateError" && hasResult && result == 0 && record.contains(kAnswerField) && !args.empty())
            recording_.errors[Integer(args[0], "the error code")] = Bytes(Text(record[kAnswerField], kAnswerField));
        std::string key = std::to_string(process) + " ";
        if (generic)
            key += "system " + std::to_string(Integer(record[kSystemField], kSystemField));
        else if (role == Role::kConnect && hasResult && result >= 0)
            key += family + std::to_string(result);
        else if (role == Role::kOnConnection && !args.empty())
            key += family + std::to_string(Integer(args[0], "the connection"));
        else
            return;

        if (role == Role::kConnect) {
            if (hasResult && result >= 0) {
                auto connection = std::make_shared<RecordedConnection>();
                connection->record = line;
                connection->process = process;
                connections_[process].push_back(connection);
                current_[key] = std::move(connection);
            }
            return;
        }
        const auto found = current_.find(key);
        if (found == current_.end())
            return;
        RecordedConnection& connection = *found->second;
        if (operation == "ZelCommandset") {
            // No text (a null pointer, or a call that reached no driver
            // function): nothing to replay, and what follows is not the
            // previous command's.
            if (args.size() > first && args[first].is_null()) {
                withoutText_.insert(key);
                return;
            }
            withoutText_.erase(key);
            if (args.size() <= first || !args[first].is_string() || !hasResult)
                throw BadRecord("a command is recorded as text, with its result");
            RecordedCommand command;
            command.record = line;
            command.text = Bytes(args[first].get<std::string>());
            command.cut = cut;
            command.result = result;
            command.atMs = at;
            connection.commands.push_back(std::move(command));
            return;
        }
        if (connection.commands.empty() || withoutText_.count(key))
            return;
        RecordedCommand& command = connection.commands.back();
        if (operation == "ZelGetAnswer" && hasResult && result == 0 && record.contains(kAnswerField))
            command.answers.push_back(AnswerOf(line, record, at - command.atMs, cut));
        else if (operation == "GetError" && result != 0 && command.error == 0)
            command.error = result;
        else if (operation == "CloseConnection")
            current_.erase(found);
    }

    void Finish()
    {
        for (const auto& process : connections_)
            recording_.connections.insert(recording_.connections.end(), process.begin(), process.end());
    }

private:
    void StartSession(std::size_t line, const json& record)
    {
        // The name is not repeated: a message is one line of the reader's own words.
        if (Text(record[kFormatField], kFormatField) != kFormatName)
            throw BadRecord("the session record names another format than \"" + std::string(kFormatName) + "\"");
        if (!record.contains(kVersionField))
            throw BadRecord("the session record has no " + Quoted(kVersionField));
        const std::int64_t version = WholeNumber(record[kVersionField], kVersionField);
        if (version > kFormatVersion)
            throw BadRecord("the recording is in version " + std::to_string(version) +
                            " of its format; this zelbridge reads version " + std::to_string(kFormatVersion));
        if (version < 1)
            throw BadRecord(Quoted(kVersionField) + " must be 1 or more");
        RecordedProcess process;
        process.record = line;
        if (record.contains(kProcessField))
            process.pid = WholeNumber(record[kProcessField], kProcessField);
        if (record.contains(kStartedField))
            process.started = Text(record[kStartedField], kStartedField);
        Add(std::move(process));
    }

    // The process whose session the record belongs to: a process that
    // records without a session record before is taken as starting there.
    std::size_t ProcessOf(std::size_t line, const json& record)
    {
        std::optional<std::int64_t> pid;
        if (record.contains(kProcessField))
            pid = WholeNumber(record[kProcessField], kProcessField);
        const auto found = sessions_.find(pid);
        if (found != sessions_.end())
            return found->second;
        RecordedProcess process;
        process.pid = pid;
        process.record = line;
        return Add(std::move(process));
    }

    // A new session of a process identifier seen before is another process.
    std::size_t Add(RecordedProcess process)
    {
        const std::size_t index = recording_.processes.size();
        sessions_[process.pid] = index;
        recording_.processes.push_back(std::move(process));
        connections_.emplace_back();
        return index;
    }

    RecordedAnswer AnswerOf(std::size_t line, const json& record, double elapsedMs, bool cut) const
    {
        RecordedAnswer answer;
        answer.record = line;
        answer.text = Bytes(Text(record[kAnswerField], kAnswerField));
        // An edited time may be anything: the delay is kept within what a clock can add.
        constexpr double kLongestDelayMs = 1e12;
        const double delayMs = elapsedMs > 0 ? std::min(elapsedMs, kLongestDelayMs) : 0.0;
        answer.delay = std::chrono::milliseconds(static_cast<long long>(delayMs));
        answer.cut = cut;
        if (cut && record.contains(kAnswerLengthField)) {
            const std::int64_t length = WholeNumber(record[kAnswerLengthField], kAnswerLengthField);
            if (length < static_cast<std::int64_t>(answer.text.size()))
                throw BadRecord(Quoted(kAnswerLengthField) + " is shorter than the answer recorded");
            answer.length = static_cast<std::size_t>(length);
        }
        return answer;
    }

    Recording& recording_;
    // Per process identifier (none for records without one), its current process.
    std::map<std::optional<std::int64_t>, std::size_t> sessions_;
    std::vector<std::vector<std::shared_ptr<RecordedConnection>>> connections_;
    std::map<std::string, std::shared_ptr<RecordedConnection>> current_;
    // The connections whose last command has no text.
    std::set<std::string> withoutText_;
};

// The C library's words for an error number, without its shared buffer:
// the simulator's connects may open recordings on several threads at once.
std::string SystemReason(int number)
{
    return std::generic_category().message(number);
}

} // namespace

bool IsRecording(std::string_view text) noexcept
{
    try {
        // Without exceptions: most files asked are descriptions, and an
        // exception costs more, and some hosts' runtimes cannot throw at all.
        const std::string_view first = text.substr(0, text.find('\n'));
        const json record = json::parse(first, nullptr, false);
        return !record.is_discarded() && record.is_object() &&
               (record.contains(kEntryField) || record.contains(kFormatField));
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
            json parsed;
            try {
                parsed = json::parse(record);
            } catch (const json::parse_error& error) {
                throw BadRecord(DescribeSyntax(error, record));
            }
            reader.Read(line, parsed);
        }
        reader.Finish();
        recording->records = line;
        return LoadedRecording{std::move(recording), ""};
    } catch (const BadRecord& bad) {
        return LoadedRecording{nullptr, "\"" + fileName + "\", record " + std::to_string(line) + ": " + bad.what()};
    } catch (const std::bad_alloc&) {
        return LoadedRecording{nullptr, "\"" + fileName + "\": out of memory"};
    } catch (...) {
        // Every check above has its words; this is a record none of them foresaw.
        return LoadedRecording{nullptr, "\"" + fileName + "\", record " + std::to_string(line) +
                                            ": the record cannot be read"};
    }
}

LoadedRecording LoadRecording(const std::string& path) noexcept
{
    try {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (!file)
            return LoadedRecording{nullptr, "cannot open the recording \"" + path + "\": " + SystemReason(errno)};
        std::string content;
        char chunk[1 << 16];
        std::size_t read = 0;
        while ((read = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            content.append(chunk, read);
        const int failure = std::ferror(file) ? errno : 0;
        std::fclose(file);
        if (failure)
            return LoadedRecording{nullptr, "cannot read the recording \"" + path + "\": " + SystemReason(failure)};
        if (!IsRecording(content))
            return LoadedRecording{nullptr, "\"" + path + "\" is not a recording: its first line is not a record with an " +
                                                Quoted(kEntryField) + " or a " + Quoted(kFormatField)};
        return ParseRecording(content, path);
    } catch (...) {
        return LoadedRecording{nullptr, "\"" + path + "\": out of memory"};
    }
}

std::optional<LoadedRecording> LoadRecordingIfOne(const std::string& path) noexcept
{
    try {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (!file)
            return std::nullopt;
        // The first line decides; a description need not be read twice over.
        std::string first;
        for (int c; (c = std::fgetc(file)) != EOF && c != '\n';)
            first += static_cast<char>(c);
        std::fclose(file);
        if (!IsRecording(first))
            return std::nullopt;
        return LoadRecording(path);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace zelbridge::recording
