// Reading a recording: one JSON object per line, sorted by process into the
// connections it was made on. A record the reader cannot use is named with
// its number, its offset and why, and reading goes on at the next line: a
// file several processes wrote survives one of them dying mid-record.
#include "recording/recording_reader.h"

#include "api/driver_contract.h"
#include "families/family_catalog.h"
#include "recording/recorded_entries.h"
#include "recording/recording_format.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
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

const OperationDescription* GenericOperation(std::string_view operation)
{
    for (const OperationDescription& description : kOperations)
        if (operation == description.name)
            return &description;
    return nullptr;
}

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

// A file this reader must not read at all.
class Refused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Quoted(const char* field)
{
    return std::string("\"") + field + "\"";
}

// A text from the file in a message: escaped, on one line, and short.
std::string QuotedFromFile(const std::string& text)
{
    constexpr std::size_t kLongest = 60;
    const std::string shown = json(text.substr(0, kLongest)).dump(-1, ' ', true, json::error_handler_t::replace);
    return text.size() > kLongest ? shown.substr(0, shown.size() - 1) + "...\"" : shown;
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

// A whole number as JSON Schema counts one: 7 and 7.0 alike.
std::optional<double> Whole(const json& value)
{
    if (value.is_number_integer())
        return value.get<double>();
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (std::isfinite(number) && std::floor(number) == number)
            return number;
    }
    return std::nullopt;
}

constexpr double kInt32Low = -2147483648.0;
constexpr double kInt32High = 2147483647.0;
constexpr double kProcessIdHigh = 4294967295.0;

// The schema's rules for one record, each broken one said in words.
class RecordRules {
public:
    explicit RecordRules(const json& record) : record_(record) {}

    std::vector<std::string> Problems()
    {
        if (!record_.is_object()) {
            problems_.push_back("a record is an object with an " + Quoted(kEntryField) + " or a " +
                                Quoted(kFormatField));
            return problems_;
        }
        if (record_.contains(kFormatField))
            Session();
        else if (record_.contains(kEntryField))
            Call();
        else
            problems_.push_back("a record is an object with an " + Quoted(kEntryField) + " or a " +
                                Quoted(kFormatField));
        return problems_;
    }

private:
    void Members(std::initializer_list<const char*> allowed, const char* kind)
    {
        for (const auto& member : record_.items()) {
            if (std::none_of(allowed.begin(), allowed.end(), [&](const char* name) { return member.key() == name; }))
                problems_.push_back(QuotedFromFile(member.key()) + " is not a member of " + kind);
        }
    }

    void Required(const char* field)
    {
        if (!record_.contains(field))
            problems_.push_back(Quoted(field) + " is missing");
    }

    // `value` whole and within [low, high]; `what` names it in the message.
    void Range(const json& value, const std::string& what, double low, double high)
    {
        const std::optional<double> number = Whole(value);
        if (!number)
            problems_.push_back(what + " must be a whole number");
        else if (*number < low || *number > high)
            problems_.push_back(what + (*number < low ? " is below " : " is above ") +
                                std::to_string(static_cast<long long>(*number < low ? low : high)));
    }

    void Field(const char* field, double low, double high)
    {
        if (record_.contains(field))
            Range(record_[field], Quoted(field), low, high);
    }

    void Session()
    {
        Members({kFormatField, kVersionField, kProcessField, kStartedField}, "a session record");
        Required(kVersionField);
        Required(kProcessField);
        if (!record_[kFormatField].is_string() || record_[kFormatField] != kFormatName)
            problems_.push_back("the session record names another format than \"" + std::string(kFormatName) + "\"");
        if (record_.contains(kVersionField)) {
            const std::optional<double> version = Whole(record_[kVersionField]);
            if (version && *version > kFormatVersion)
                throw Refused("the recording is in version " + std::to_string(static_cast<long long>(std::min(*version, 1e18))) +
                              " of its format; this zelbridge reads version " + std::to_string(kFormatVersion));
            if (!version || *version < kFormatVersion)
                problems_.push_back(Quoted(kVersionField) + " must be " + std::to_string(kFormatVersion));
        }
        Field(kProcessField, 0, kProcessIdHigh);
        if (record_.contains(kStartedField) && !record_[kStartedField].is_string())
            problems_.push_back(Quoted(kStartedField) + " must be a text");
    }

    void Call()
    {
        Members({kProcessField, kTimeField, kThreadField, kEntryField, kSystemField, kArgumentsField, kResultField,
                 kAnswerField, kSizeField, kCutField, kAnswerLengthField},
                "a call record");
        for (const char* field : {kTimeField, kThreadField, kArgumentsField})
            Required(field);
        Field(kProcessField, 0, kProcessIdHigh);
        if (record_.contains(kTimeField) && (!record_[kTimeField].is_number() || record_[kTimeField].get<double>() < 0))
            problems_.push_back(Quoted(kTimeField) + " must be a number of milliseconds, 0 or more");
        Field(kThreadField, 1, 1e300);
        Field(kSystemField, kInt32Low, kInt32High);
        Field(kResultField, kInt32Low, kInt32High);
        Field(kSizeField, kInt32Low, kInt32High);
        Field(kAnswerLengthField, 0, 1e300);
        if (record_.contains(kAnswerField) && !record_[kAnswerField].is_string())
            problems_.push_back(Quoted(kAnswerField) + " must be a text");
        if (record_.contains(kCutField) && record_[kCutField] != true)
            problems_.push_back(Quoted(kCutField) + " is only ever true");
        if (record_.contains(kAnswerLengthField) && !(record_.contains(kCutField) && record_.contains(kAnswerField)))
            problems_.push_back(Quoted(kAnswerLengthField) + " comes only with \"" + kCutField + "\" and \"" +
                                kAnswerField + "\"");
        const json& args = record_.contains(kArgumentsField) ? record_[kArgumentsField] : json::array();
        if (!args.is_array())
            problems_.push_back(Quoted(kArgumentsField) + " must be a list");
        else if (std::any_of(args.begin(), args.end(), [](const json& a) { return a.is_object() || a.is_array() || a.is_boolean(); }))
            problems_.push_back(Quoted(kArgumentsField) + " holds only numbers, texts and nulls");
        const json& entryValue = record_[kEntryField];
        const std::optional<EntryKind> kind = entryValue.is_string() ? KindOfEntry(entryValue.get<std::string>())
                                                                     : std::nullopt;
        if (!kind) {
            problems_.push_back(Quoted(kEntryField) + (entryValue.is_string()
                                                           ? " names no entry point the module records: " +
                                                                 QuotedFromFile(entryValue.get<std::string>())
                                                           : " must be a text"));
            return;
        }
        Entry(entryValue.get<std::string>(), *kind, args.is_array() ? args : json::array());
    }

    // What the entry point's record must hold: a generic operation its
    // system; a command its text and result; a family call on a connection
    // the connection first; an error's translation the code first.
    void Entry(const std::string& entry, EntryKind kind, const json& args)
    {
        const bool generic = kind == EntryKind::kGeneric && entry != "DefineSystem";
        if (generic && !record_.contains(kSystemField))
            problems_.push_back(Quoted(kSystemField) + " is missing from a generic call");
        if (!generic && record_.contains(kSystemField))
            problems_.push_back(Quoted(kSystemField) + " belongs to generic calls only");
        const bool family = kind == EntryKind::kFamily;
        const std::string operation = family ? entry.substr(entry.rfind('_') + 1) : entry;
        if (family && RoleOf(operation) == Role::kOnConnection) {
            if (args.empty())
                problems_.push_back("a family call on a connection has the connection as its first argument");
            else
                Range(args[0], "the connection", kInt32Low, kInt32High);
        }
        if (operation == "TranslateError" && !args.empty())
            Range(args[0], "the error code", kInt32Low, kInt32High);
        if (operation == "ZelCommandset") {
            const std::size_t text = family ? 1 : 0;
            Required(kResultField);
            if (args.size() <= text || !(args[text].is_string() || args[text].is_null()))
                problems_.push_back("a command is recorded as text (or null), with its result");
        }
    }

    const json& record_;
    std::vector<std::string> problems_;
};

std::int32_t Int32(const json& value)
{
    return static_cast<std::int32_t>(*Whole(value));
}

// What a line that is not JSON is, from where the parser stopped.
std::string DescribeSyntax(const json::parse_error& error, std::string_view line)
{
    if (error.byte > line.size())
        return "the record is cut short after " + std::to_string(line.size()) +
               " characters: the file ends, or was written, in the middle of it";
    return "the record is not a JSON object: it cannot be read from character " + std::to_string(error.byte) + " on";
}

// Where in a line a record written after a torn one starts: the recorder
// opens every record with one of these.
constexpr std::string_view kRecordStarts[] = {"{\"pid\":", "{\"format\":", "{\"t\":"};

class Reader {
public:
    explicit Reader(Recording& recording) : recording_(recording) {}

    void Line(std::size_t line, std::size_t offset, std::string_view text)
    {
        json parsed;
        try {
            parsed = json::parse(text);
        } catch (const json::parse_error& error) {
            Torn(line, offset, text, error);
            return;
        }
        Record(line, offset, parsed);
    }

    void Finish()
    {
        for (const auto& process : connections_)
            recording_.connections.insert(recording_.connections.end(), process.begin(), process.end());
    }

private:
    void Fault(std::size_t line, std::size_t offset, FaultKind kind, std::string reason)
    {
        recording_.faults.push_back(RecordFault{line, offset, kind, std::move(reason)});
    }

    // The line is named; a record that a later writer appended onto it is
    // read, since its own bytes are whole.
    void Torn(std::size_t line, std::size_t offset, std::string_view text, const json::parse_error& error)
    {
        for (std::size_t at = 1; at < text.size(); ++at) {
            at = text.find("{\"", at);
            if (at == std::string_view::npos)
                break;
            const std::string_view rest = text.substr(at);
            if (std::none_of(std::begin(kRecordStarts), std::end(kRecordStarts),
                             [&](std::string_view start) { return rest.substr(0, start.size()) == start; }))
                continue;
            json appended = json::parse(rest, nullptr, false);
            if (appended.is_discarded() || !appended.is_object())
                continue;
            Fault(line, offset, FaultKind::kUnreadable,
                  "the record is cut short after " + std::to_string(at) +
                      " characters, and the next record was written onto it: its writer ended in the middle of it");
            Record(line, offset + at, appended);
            return;
        }
        Fault(line, offset, FaultKind::kUnreadable, DescribeSyntax(error, text));
    }

    void Record(std::size_t line, std::size_t offset, const json& record)
    {
        const std::vector<std::string> problems = RecordRules(record).Problems();
        if (!problems.empty()) {
            std::string reason;
            for (const std::string& problem : problems)
                reason += (reason.empty() ? "" : "; ") + problem;
            Fault(line, offset, FaultKind::kInvalid, std::move(reason));
            return;
        }
        if (record.contains(kFormatField)) {
            StartSession(line, record);
            recording_.accepted.push_back(AcceptedRecord{line, offset});
            return;
        }
        std::string outOfPlace;
        Call(line, record, outOfPlace);
        if (!outOfPlace.empty()) {
            Fault(line, offset, FaultKind::kOutOfPlace, std::move(outOfPlace));
            return;
        }
        recording_.accepted.push_back(AcceptedRecord{line, offset});
        const EntryKind kind = *KindOfEntry(record[kEntryField].get<std::string>());
        ++(kind == EntryKind::kGeneric ? recording_.counts.generic
           : kind == EntryKind::kFamily ? recording_.counts.family
                                        : recording_.counts.graph);
    }

    // Applies a call record that the rules allow; `outOfPlace` says why one
    // cannot be placed, and then nothing is applied.
    void Call(std::size_t line, const json& record, std::string& outOfPlace)
    {
        const std::string entry = record[kEntryField].get<std::string>();
        const EntryKind kind = *KindOfEntry(entry);
        std::optional<std::int64_t> pid;
        if (record.contains(kProcessField))
            pid = static_cast<std::int64_t>(*Whole(record[kProcessField]));
        const auto session = sessions_.find(pid);
        if (pid && session == sessions_.end()) {
            outOfPlace = "process " + std::to_string(*pid) + " has no session record before this one";
            return;
        }
        // Records without a process identifier are one process, from the first of them.
        const std::size_t process = session != sessions_.end() ? session->second : Add(RecordedProcess{pid, "", line});
        const bool family = kind == EntryKind::kFamily;
        const std::string prefix = family ? entry.substr(0, entry.rfind('_') + 1) : "";
        const std::string operation = entry.substr(prefix.size());
        const Role role = RoleOf(operation);
        const json& args = record[kArgumentsField];
        const bool hasResult = record.contains(kResultField);
        const std::int32_t result = hasResult ? Int32(record[kResultField]) : 0;
        const double at = record[kTimeField].get<double>();
        const bool cut = record.contains(kCutField);
        if (kind == EntryKind::kGraph)
            return;
        if (operation == "DefineSystem") {
            if (result >= 0)
                defined_[process].insert(result);
            return;
        }
        if (operation == "TranslateError" && hasResult && result == 0 && record.contains(kAnswerField) && !args.empty())
            recording_.errors[Int32(args[0])] = Bytes(record[kAnswerField].get<std::string>());

        std::string key = std::to_string(process) + " ";
        std::string where;
        if (!family) {
            const std::int32_t system = Int32(record[kSystemField]);
            if (!defined_[process].count(system)) {
                // A call on an index that names no system reaches no driver:
                // the module's fixed result, no text read, no answer. That is
                // what the application did, not an edit.
                const OperationDescription& description = *GenericOperation(operation);
                const bool reachedNothing =
                    std::none_of(args.begin(), args.end(), [](const json& a) { return a.is_string(); }) &&
                    !record.contains(kAnswerField) && !record.contains(kSizeField);
                if (reachedNothing && ((description.result == EntryResult::NoResult && !hasResult) ||
                                       (hasResult && result == description.invalidIndexResult &&
                                        (description.result != EntryResult::IndexIfConnected || result < 0))))
                    return;
                outOfPlace = "system " + std::to_string(system) + " was never defined in " + ProcessName(process) +
                             ": no DefineSystem before this record gave it";
                return;
            }
            key += "system " + std::to_string(system);
            where = "system " + std::to_string(system);
        } else if (role == Role::kConnect && hasResult && result >= 0) {
            key += prefix + std::to_string(result);
        } else if (role == Role::kOnConnection) {
            key += prefix + std::to_string(Int32(args[0]));
            where = prefix + " connection " + std::to_string(Int32(args[0]));
        } else {
            return;
        }

        if (role == Role::kConnect) {
            if (hasResult && result >= 0) {
                auto connection = std::make_shared<RecordedConnection>();
                connection->record = line;
                connection->process = process;
                connections_[process].push_back(connection);
                current_[key] = std::move(connection);
                withoutText_.erase(key);
                sizes_.erase(key);
            }
            return;
        }
        const auto found = current_.find(key);
        const bool command = operation == "ZelCommandset";
        const bool answer = operation == "ZelGetAnswer" && hasResult && result == 0 && record.contains(kAnswerField);
        if (found == current_.end()) {
            if (command || (answer && !record[kAnswerField].get<std::string>().empty()))
                outOfPlace = std::string(command ? "a command" : "an answer") + " on " + where + ", which has no connection in " +
                             ProcessName(process) + " at this record";
            return;
        }
        RecordedConnection& connection = *found->second;
        if (command) {
            sizes_.erase(key);
            // No text (a null pointer, or a call that reached no driver
            // function): nothing to replay, and what follows is not the
            // previous command's.
            const json& text = args[family ? 1 : 0];
            if (text.is_null()) {
                withoutText_.insert(key);
                return;
            }
            withoutText_.erase(key);
            RecordedCommand recorded;
            recorded.record = line;
            recorded.text = Bytes(text.get<std::string>());
            recorded.cut = cut;
            recorded.result = result;
            recorded.atMs = at;
            connection.commands.push_back(std::move(recorded));
            return;
        }
        if (operation == "ZelGetAnswerSize" && hasResult && result == 0 && record.contains(kSizeField)) {
            const std::int32_t size = Int32(record[kSizeField]);
            if (size > 0)
                sizes_[key] = {line, size};
            else
                sizes_.erase(key);
            return;
        }
        if (withoutText_.count(key))
            return;
        if (answer) {
            if (connection.commands.empty()) {
                if (!record[kAnswerField].get<std::string>().empty())
                    outOfPlace = "an answer before any command on " + where + ": replay gives answers only to commands";
                return;
            }
            RecordedCommand& recorded = connection.commands.back();
            RecordedAnswer got = AnswerOf(line, record, at - recorded.atMs, cut);
            if (got.length && *got.length < got.text.size()) {
                outOfPlace = Quoted(kAnswerLengthField) + " is shorter than the answer recorded";
                return;
            }
            const auto size = sizes_.find(key);
            if (size != sizes_.end()) {
                // With the terminating zero or without: drivers count either way.
                const std::size_t length = got.length.value_or(got.text.size());
                const auto announced = static_cast<std::size_t>(size->second.second);
                const std::size_t sizeRecord = size->second.first;
                sizes_.erase(size);
                if (announced != length && announced != length + 1) {
                    outOfPlace = "the answer is " + std::to_string(length) + " characters long, but record " +
                                 std::to_string(sizeRecord) + " recorded its size as " + std::to_string(announced);
                    return;
                }
            }
            recorded.answers.push_back(std::move(got));
        } else if (operation == "GetError" && result != 0 && !connection.commands.empty() &&
                   connection.commands.back().error == 0) {
            connection.commands.back().error = result;
        } else if (operation == "CloseConnection") {
            current_.erase(found);
        }
    }

    void StartSession(std::size_t line, const json& record)
    {
        ++recording_.counts.sessions;
        RecordedProcess process;
        process.record = line;
        process.pid = static_cast<std::int64_t>(*Whole(record[kProcessField]));
        if (record.contains(kStartedField))
            process.started = record[kStartedField].get<std::string>();
        Add(std::move(process));
    }

    std::string ProcessName(std::size_t process) const
    {
        const RecordedProcess& named = recording_.processes[process];
        return named.pid ? "process " + std::to_string(*named.pid) : "the records without a process identifier";
    }

    // A new session of a process identifier seen before is another process.
    std::size_t Add(RecordedProcess process)
    {
        const std::size_t index = recording_.processes.size();
        sessions_[process.pid] = index;
        recording_.processes.push_back(std::move(process));
        connections_.emplace_back();
        defined_.emplace_back();
        return index;
    }

    static RecordedAnswer AnswerOf(std::size_t line, const json& record, double elapsedMs, bool cut)
    {
        RecordedAnswer answer;
        answer.record = line;
        answer.text = Bytes(record[kAnswerField].get<std::string>());
        // An edited time may be anything: the delay is kept within what a clock can add.
        constexpr double kLongestDelayMs = 1e12;
        const double delayMs = elapsedMs > 0 ? std::min(elapsedMs, kLongestDelayMs) : 0.0;
        answer.delay = std::chrono::milliseconds(static_cast<long long>(delayMs));
        answer.cut = cut;
        if (cut && record.contains(kAnswerLengthField))
            answer.length = static_cast<std::size_t>(std::min(*Whole(record[kAnswerLengthField]), 1e15));
        return answer;
    }

    Recording& recording_;
    // Per process identifier (none for records without one), its current process.
    std::map<std::optional<std::int64_t>, std::size_t> sessions_;
    std::vector<std::vector<std::shared_ptr<RecordedConnection>>> connections_;
    // Per process, the system indexes its DefineSystem calls gave.
    std::vector<std::set<std::int32_t>> defined_;
    std::map<std::string, std::shared_ptr<RecordedConnection>> current_;
    // The connections whose last command has no text.
    std::set<std::string> withoutText_;
    // Per connection, the last size announced since its command, and its record.
    std::map<std::string, std::pair<std::size_t, std::int32_t>> sizes_;
};

// The C library's words for an error number, without its shared buffer:
// the simulator's connects may open recordings on several threads at once.
std::string SystemReason(int number)
{
    return std::generic_category().message(number);
}

} // namespace

std::string Describe(const RecordFault& fault)
{
    return "record " + std::to_string(fault.record) + " (byte " + std::to_string(fault.offset) + "): " + fault.reason;
}

bool IsRecording(std::string_view text) noexcept
{
    try {
        // Without exceptions: most files asked are descriptions, and an
        // exception costs more, and some hosts' runtimes cannot throw at all.
        const std::string_view first = text.substr(0, text.find('\n'));
        const json record = json::parse(first, nullptr, false);
        if (!record.is_discarded())
            return record.is_object() && (record.contains(kEntryField) || record.contains(kFormatField));
        // A first record torn by its writer still begins as the recorder begins records.
        return std::any_of(std::begin(kRecordStarts), std::end(kRecordStarts),
                           [&](std::string_view start) { return first.substr(0, start.size()) == start; });
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
        std::size_t offset = 0;
        while (offset < text.size()) {
            ++line;
            const std::size_t end = std::min(text.find('\n', offset), text.size());
            const std::string_view record = text.substr(offset, end - offset);
            if (record.find_first_not_of(" \t\r") != std::string_view::npos)
                reader.Line(line, offset, record);
            offset = end + 1;
        }
        reader.Finish();
        recording->records = line;
        return LoadedRecording{std::move(recording), ""};
    } catch (const Refused& refused) {
        return LoadedRecording{nullptr, "\"" + fileName + "\", record " + std::to_string(line) + ": " + refused.what()};
    } catch (...) {
        // Out of memory: the only failure left once every record's faults are words.
        return LoadedRecording{nullptr, "\"" + fileName + "\": out of memory"};
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
