// Deriving a description: the commands of the chosen connections are
// grouped by what they are as a controller reads them, and each group
// becomes the entry the description format has for it. What the format or
// the recording cannot say is listed, never guessed silently.
#include "describe/derived_description.h"

#include "command_pattern.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

namespace zelbridge::tool {
namespace {

using json = nlohmann::ordered_json;
using recording::RecordedCommand;
using recording::RecordedConnection;

// The simulator's own codes and Zelbridge's missing function, which a
// description may not give to errors of its own.
bool ReservedCode(std::int32_t code)
{
    return code == 0 || code == -1034 || (code >= -314 && code <= -301);
}
constexpr std::int32_t kUnknownToTheSimulator = -301;

// Whether a description can hold the text as it is: JSON holds UTF-8, and
// the simulator refuses a zero byte, which would end the text early.
bool Writable(const std::string& text)
{
    if (text.find('\0') != std::string::npos)
        return false;
    try {
        json(text).dump();
        return true;
    } catch (const json::type_error&) {
        return false;
    }
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return text;
}

std::vector<std::string> Words(const std::string& normalised)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t blank; (blank = normalised.find(' ', start)) != std::string::npos; start = blank + 1)
        words.push_back(normalised.substr(start, blank - start));
    words.push_back(normalised.substr(start));
    return words;
}

std::string Joined(const std::vector<std::string>& words, std::size_t from, std::size_t to)
{
    std::string text;
    for (std::size_t i = from; i < to; ++i)
        text += (text.empty() ? "" : " ") + words[i];
    return text;
}

std::optional<double> WholeNumber(const std::string& word)
{
    if (word.empty())
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(word.c_str(), &end);
    if (end != word.c_str() + word.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A number answer as a controller writes one: the value, its decimals and
// the units after a blank.
struct NumberAnswer {
    double value;
    std::size_t decimals;
    std::string units;
};

std::optional<NumberAnswer> ReadNumberAnswer(const std::string& answer)
{
    const std::string text = simulator::NormaliseCommand(answer);
    const std::size_t blank = text.find(' ');
    const std::string number = text.substr(0, blank);
    if (number.find_first_of("eEnN") != std::string::npos)
        return std::nullopt;
    const std::optional<double> value = WholeNumber(number);
    if (!value)
        return std::nullopt;
    const std::size_t point = number.find('.');
    return NumberAnswer{*value, point == std::string::npos ? 0 : number.size() - point - 1,
                        blank == std::string::npos ? "" : text.substr(blank + 1)};
}

// Numbers as a description writes them: whole ones without a fraction.
json NumberValue(double value)
{
    if (std::floor(value) == value && std::fabs(value) < 1e15)
        return static_cast<long long>(value);
    return value;
}

std::string RecordList(const std::vector<std::size_t>& records)
{
    constexpr std::size_t kNamed = 8;
    std::string text = records.size() == 1 ? "record " : "records ";
    for (std::size_t i = 0; i < records.size() && i < kNamed; ++i)
        text += (i ? ", " : "") + std::to_string(records[i]);
    if (records.size() > kNamed)
        text += " and " + std::to_string(records.size() - kNamed) + " more";
    return text;
}

std::string ValueList(const std::vector<double>& values)
{
    std::string text;
    std::set<double> named;
    for (double value : values)
        if (named.insert(value).second)
            text += (text.empty() ? "" : ", ") + NumberValue(value).dump();
    return text;
}

std::int64_t MedianMs(std::vector<std::chrono::milliseconds> delays)
{
    if (delays.empty())
        return 0;
    std::sort(delays.begin(), delays.end());
    return delays[delays.size() / 2].count();
}

// One command as sent, with the connection it was sent on.
struct Sent {
    const RecordedCommand* command;
    std::size_t connection;
};

// Every command a controller reads alike: the same words, whatever the
// case and the blanks.
struct CommandGroup {
    std::string form;
    std::vector<Sent> sent;

    bool Answered() const
    {
        return std::any_of(sent.begin(), sent.end(), [](const Sent& s) { return !s.command->answers.empty(); });
    }
    std::size_t Errors() const
    {
        return static_cast<std::size_t>(
            std::count_if(sent.begin(), sent.end(), [](const Sent& s) { return s.command->error != 0; }));
    }
    std::vector<std::size_t> Records() const
    {
        std::vector<std::size_t> records;
        for (const Sent& s : sent)
            records.push_back(s.command->record);
        return records;
    }
};

// A setting: "NAME ARGS VALUE" sets it, "NAME? ARGS" reads it back.
struct Setting {
    std::string setForm;
    std::string getKey;
    std::vector<std::string> setKeys;
};

class Deriver {
public:
    Deriver(const recording::Recording& recording, std::vector<std::shared_ptr<const RecordedConnection>> connections,
            std::string fileName)
        : recording_(recording), connections_(std::move(connections)), fileName_(std::move(fileName))
    {
        for (std::size_t c = 0; c < connections_.size(); ++c)
            for (const RecordedCommand& command : connections_[c]->commands) {
                if (command.cut) {
                    Note("record " + std::to_string(command.record) +
                         ": the command was recorded cut short, so what it was is not known");
                    continue;
                }
                const std::string form = simulator::NormaliseCommand(command.text);
                const std::string key = Upper(form);
                if (form.empty())
                    continue;
                if (!Writable(form)) {
                    Note("record " + std::to_string(command.record) +
                         ": the command holds a zero byte or bytes that are not UTF-8, which a description cannot hold");
                    continue;
                }
                if (groups_.find(key) == groups_.end()) {
                    order_.push_back(key);
                    groups_[key].form = form;
                }
                groups_[key].sent.push_back(Sent{&command, c});
            }
    }

    json Derive(std::vector<std::string>& notDerived)
    {
        json properties = json::array();
        for (const Setting& setting : Settings())
            if (std::optional<json> property = Property(setting))
                properties.push_back(std::move(*property));
        json commands = json::array();
        std::set<std::string> patterns;
        for (const std::string& key : order_) {
            if (used_.count(key))
                continue;
            const CommandGroup& group = groups_.at(key);
            if (group.form.find('{') != std::string::npos) {
                Note(RecordList(group.Records()) + ": \"" + group.form +
                     "\" holds a \"{\", which a description cannot write as a command");
                continue;
            }
            const std::size_t errors = group.Errors();
            if (errors == group.sent.size()) {
                AddError(group);
                continue;
            }
            if (errors > 0)
                Note("\"" + group.form + "\" drew an error in " + std::to_string(errors) + " of " +
                     std::to_string(group.sent.size()) + " sendings; it is described without it");
            if (group.Answered()) {
                if (std::optional<json> command = Answers(group))
                    commands.push_back(std::move(*command));
                continue;
            }
            // A command that takes a number without answering takes others
            // too: the controller surely moves to 20 as it moved to 10.
            const std::vector<std::string> words = Words(group.form);
            std::string pattern = group.form;
            if (words.size() > 1 && WholeNumber(words.back()))
                pattern = Joined(words, 0, words.size() - 1) + " {number}";
            if (!patterns.insert(Upper(pattern)).second) {
                commands.back()["source"] = commands.back()["source"].get<std::string>() + "; " +
                                            RecordList(group.Records()) + " (\"" + group.form + "\")";
                continue;
            }
            commands.push_back({{"command", pattern},
                                {"answers", json::array()},
                                {"source", RecordList(group.Records()) + " (\"" + group.form + "\"): no answer"}});
        }

        json document = json::object();
        document["description"] = Identity();
        if (!properties.empty())
            document["properties"] = std::move(properties);
        if (!commands.empty())
            document["commands"] = std::move(commands);
        json errors = json::array();
        for (const auto& [code, commandsAndSource] : errors_) {
            json entry = {{"code", code}};
            const auto text = recording_.errors.find(code);
            if (text != recording_.errors.end() && Writable(text->second)) {
                entry["text"] = text->second;
            } else {
                entry["text"] = "error " + std::to_string(code);
                Note("error " + std::to_string(code) + ": no TranslateError text was recorded for it");
            }
            entry.update(commandsAndSource);
            errors.push_back(std::move(entry));
        }
        if (!errors.empty())
            document["errors"] = std::move(errors);
        notDerived = std::move(notes_);
        return document;
    }

private:
    void Note(std::string note) { notes_.push_back(std::move(note)); }

    // Setter commands grouped by their pattern, each with its getter when
    // the recording holds it.
    std::vector<Setting> Settings() const
    {
        std::vector<Setting> settings;
        std::map<std::string, std::size_t> byPattern;
        for (const std::string& key : order_) {
            const CommandGroup& group = groups_.at(key);
            const std::vector<std::string> words = Words(group.form);
            if (group.Answered() || words.size() < 2 || !WholeNumber(words.back()) || words.front().back() == '?')
                continue;
            const std::string head = Joined(words, 0, words.size() - 1);
            std::string getKey = Upper(words.front() + "?");
            if (words.size() > 2)
                getKey += " " + Upper(Joined(words, 1, words.size() - 1));
            const auto getter = groups_.find(getKey);
            if (getter == groups_.end() || !getter->second.Answered())
                continue;
            const auto [found, added] = byPattern.emplace(Upper(head), settings.size());
            if (added)
                settings.push_back(Setting{head + " {number}", getKey, {}});
            settings[found->second].setKeys.push_back(key);
        }
        return settings;
    }

    // The setting as a property when every read after a set echoes the
    // value set: then the simulator answers values the recording never saw.
    std::optional<json> Property(const Setting& setting)
    {
        const std::set<std::string> setKeys(setting.setKeys.begin(), setting.setKeys.end());
        std::vector<double> initial, values;
        std::vector<std::size_t> setRecords, refusedRecords, getRecords;
        std::vector<std::chrono::milliseconds> delays;
        std::set<std::size_t> decimals;
        std::set<std::string> units;
        std::map<std::int32_t, std::vector<std::string>> refused;
        std::size_t echoes = 0;
        for (const auto& connection : connections_) {
            std::optional<double> expected;
            for (const RecordedCommand& command : connection->commands) {
                const std::string key = Upper(simulator::NormaliseCommand(command.text));
                if (key == setting.getKey && !command.answers.empty()) {
                    const std::optional<NumberAnswer> read = ReadNumberAnswer(command.answers.front().text);
                    if (!read)
                        return std::nullopt;
                    const double tolerance = 0.5 * std::pow(10.0, -static_cast<double>(read->decimals));
                    if (expected && std::fabs(read->value - *expected) > tolerance)
                        return std::nullopt;
                    echoes += expected ? 1 : 0;
                    if (!expected)
                        initial.push_back(read->value);
                    decimals.insert(read->decimals);
                    units.insert(read->units);
                    getRecords.push_back(command.record);
                    delays.push_back(command.answers.front().delay);
                } else if (setKeys.count(key)) {
                    const double value = *WholeNumber(Words(key).back());
                    if (command.error != 0) {
                        refused[command.error].push_back(simulator::NormaliseCommand(command.text));
                        refusedRecords.push_back(command.record);
                        continue;
                    }
                    setRecords.push_back(command.record);
                    // A value set before any read: what the controller held before is not known.
                    if (!expected && initial.empty() && values.empty())
                        initial.push_back(std::nan(""));
                    expected = value;
                    values.push_back(value);
                }
            }
        }
        // A controller's units, and no more decimals than a description may ask for.
        constexpr std::size_t kMostDecimals = 17;
        if (echoes == 0 || units.size() != 1 || !Writable(*units.begin()) || *decimals.rbegin() > kMostDecimals)
            return std::nullopt;
        used_.insert(setting.getKey);
        used_.insert(setting.setKeys.begin(), setting.setKeys.end());
        const CommandGroup& getter = groups_.at(setting.getKey);
        json property = {{"get", getter.form}, {"set", setting.setForm}};
        const auto known = std::find_if(initial.begin(), initial.end(), [](double v) { return !std::isnan(v); });
        if (known != initial.end() && !std::isnan(initial.front())) {
            property["initial"] = NumberValue(*known);
        } else {
            property["initial"] = NumberValue(values.front());
            Note("\"" + getter.form + "\": the value before the first set was not read; the first value set, " +
                 NumberValue(values.front()).dump() + ", stands for it");
        }
        if (!units.begin()->empty())
            property["units"] = *units.begin();
        if (decimals.size() == 1 && *decimals.begin() > 0)
            property["decimals"] = *decimals.begin();
        if (const std::int64_t delay = MedianMs(delays))
            property["delay_ms"] = delay;
        property["source"] = "set to " + ValueList(values) + " in " + RecordList(setRecords) + ", read back in " +
                             RecordList(getRecords) +
                             (refusedRecords.empty() ? "" : "; a value refused in " + RecordList(refusedRecords));
        for (const auto& [code, forms] : refused) {
            for (const std::string& form : forms)
                AddErrorCommand(code, form, "refused as a setting of \"" + getter.form + "\"");
            Note("\"" + setting.setForm + "\": where between the values accepted and those refused with error " +
                 std::to_string(code) + " the limit lies is not known; only the values refused raise it");
        }
        return property;
    }

    std::optional<json> Answers(const CommandGroup& group)
    {
        json answers = json::array();
        std::vector<std::chrono::milliseconds> delays;
        for (const Sent& sent : group.sent) {
            if (sent.command->answers.empty())
                continue;
            const recording::RecordedAnswer& answer = sent.command->answers.front();
            const char* unwritable = answer.cut ? "was recorded cut short"
                                     : !Writable(answer.text) ? "holds a zero byte or bytes that are not UTF-8"
                                     : simulator::HighestReference(answer.text) > 0 ||
                                               !simulator::ZeroReference(answer.text).empty()
                                         ? "quotes {N}, which a description would read as a number of the command"
                                         : nullptr;
            if (unwritable) {
                Note(RecordList({answer.record}) + ": the answer to \"" + group.form + "\" " + unwritable +
                     "; the command is left out");
                return std::nullopt;
            }
            if (sent.command->answers.size() > 1)
                Note(RecordList({sent.command->record}) + ": \"" + group.form + "\" got " +
                     std::to_string(sent.command->answers.size()) + " answers; the first is described");
            answers.push_back(answer.text);
            delays.push_back(answer.delay);
        }
        json command = {{"command", group.form}};
        const bool same = std::all_of(answers.begin(), answers.end(), [&](const json& a) { return a == answers.front(); });
        if (same)
            command["answer"] = answers.front();
        else
            command["answers"] = answers;
        if (const std::int64_t delay = MedianMs(delays))
            command["delay_ms"] = delay;
        command["source"] = RecordList(group.Records()) + (same ? "" : ": the answers in the order recorded, in turn");
        return command;
    }

    void AddError(const CommandGroup& group)
    {
        const std::int32_t code = group.sent.front().command->error;
        for (const Sent& sent : group.sent)
            if (sent.command->error != code)
                Note(RecordList({sent.command->record}) + ": \"" + group.form + "\" drew error " +
                     std::to_string(sent.command->error) + ", elsewhere " + std::to_string(code) +
                     "; the first is described");
        if (code == kUnknownToTheSimulator) {
            Note("\"" + group.form + "\" was unknown to the controller recorded (-301); it stays unknown");
            return;
        }
        AddErrorCommand(code, group.form, RecordList(group.Records()));
    }

    void AddErrorCommand(std::int32_t code, const std::string& form, const std::string& source)
    {
        if (ReservedCode(code)) {
            Note("\"" + form + "\" drew error " + std::to_string(code) +
                 ", a code of the simulator's or Zelbridge's own, which a description cannot raise");
            return;
        }
        json& entry = errors_[code];
        if (!entry.contains("command")) {
            entry["command"] = json::array();
            entry["source"] = "";
        }
        if (std::find(entry["command"].begin(), entry["command"].end(), form) != entry["command"].end())
            return;
        entry["command"].push_back(form);
        const std::string earlier = entry["source"].get<std::string>();
        entry["source"] = earlier + (earlier.empty() ? "" : "; ") + "\"" + form + "\": " + source;
    }

    std::string Identity() const
    {
        std::string identity;
        const auto idn = groups_.find("*IDN?");
        if (idn != groups_.end())
            for (const Sent& sent : idn->second.sent)
                if (!sent.command->answers.empty()) {
                    identity = sent.command->answers.front().text;
                    break;
                }
        std::vector<std::size_t> records;
        for (const auto& connection : connections_)
            records.push_back(connection->record);
        if (!Writable(identity))
            identity.clear();
        const std::string name = fileName_.substr(fileName_.find_last_of("/\\") + 1);
        return (identity.empty() ? std::string("A controller") : identity) + ", derived by zelbridge describe from " +
               (Writable(name) ? name : "a recording") + ", connection(s) made in " + RecordList(records);
    }

    const recording::Recording& recording_;
    std::vector<std::shared_ptr<const RecordedConnection>> connections_;
    std::string fileName_;
    std::map<std::string, CommandGroup> groups_;
    // The keys in the order first sent.
    std::vector<std::string> order_;
    std::set<std::string> used_;
    std::map<std::int32_t, json> errors_;
    std::vector<std::string> notes_;
};

// Who made a connection: the connect entry point, and for a generic system
// the library DefineSystem loaded for it.
struct Controller {
    std::string name;
    std::string tag;
    std::optional<std::int32_t> system;
    std::string family;
};

Controller ControllerOf(const CallRecords& calls, const RecordedConnection& connection)
{
    Controller controller;
    const CallRecord* connect = calls.At(connection.record);
    if (!connect)
        return Controller{"connection of record " + std::to_string(connection.record), "connection", {}, ""};
    const std::size_t underscore = connect->entry.rfind('_');
    if (!connect->system && underscore != std::string::npos) {
        controller.family = connect->entry.substr(0, underscore + 1);
        controller.name = connect->entry;
        controller.tag = connect->entry;
        return controller;
    }
    controller.system = connect->system;
    std::string library;
    for (const CallRecord& call : calls.calls) {
        if (call.record >= connect->record)
            break;
        if (call.process == connect->process && call.entry == "DefineSystem" && call.result &&
            connect->system && *call.result == *connect->system && !call.args.empty() && call.args[0].is_string())
            library = call.args[0].get<std::string>();
    }
    const std::string system = connect->system ? std::to_string(*connect->system) : "?";
    controller.name = "system " + system + (library.empty() ? "" : " (" + library + ")") + " " + connect->entry;
    controller.tag = "system" + system + "-" + connect->entry;
    return controller;
}

} // namespace

std::vector<DerivedDescription> DeriveDescriptions(const recording::Recording& recording, const CallRecords& calls,
                                                   const ConnectionFilter& filter, const std::string& fileName)
{
    std::map<std::string, std::vector<std::shared_ptr<const RecordedConnection>>> byController;
    std::vector<std::string> order;
    std::map<std::string, std::string> tags;
    for (std::size_t i = 0; i < recording.connections.size(); ++i) {
        const auto& connection = recording.connections[i];
        const Controller controller = ControllerOf(calls, *connection);
        const std::optional<std::int64_t>& pid = recording.processes[connection->process].pid;
        if (filter.connection && *filter.connection != i + 1)
            continue;
        if (filter.pid && pid != filter.pid)
            continue;
        if (filter.system && controller.system != filter.system)
            continue;
        if (filter.family && Upper(controller.family) != Upper(*filter.family) &&
            Upper(controller.family) != Upper(*filter.family) + "_")
            continue;
        if (byController.find(controller.name) == byController.end())
            order.push_back(controller.name);
        byController[controller.name].push_back(connection);
        tags[controller.name] = controller.tag;
    }
    std::vector<DerivedDescription> derived;
    for (const std::string& name : order) {
        DerivedDescription description;
        description.controller = name;
        description.fileTag = tags[name];
        description.connections = byController[name].size();
        description.document = Deriver(recording, byController[name], fileName).Derive(description.notDerived);
        derived.push_back(std::move(description));
    }
    return derived;
}

} // namespace zelbridge::tool
