// Reading a description: a first pass over the JSON checks its syntax and
// finds where each value starts, nlohmann then builds the document, and the
// checks below turn it into rules, naming the line and column of whatever
// they reject.
#include "description.h"

#include "json_positions.h"
#include "simulator_errors.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>

namespace simulator {
namespace {

using json = nlohmann::json;
using Pointer = json::json_pointer;

constexpr std::size_t kLargestFile = 16 << 20;
constexpr std::int64_t kLongestDelayMs = 24 * 60 * 60 * 1000;
constexpr std::int64_t kMostDecimals = 17;

// Free text on any entry saying where it came from, for the reader: what
// `zelbridge describe` writes to name the records an entry was derived from.
constexpr char kSource[] = "source";

// A value the checks reject, and why.
struct Invalid {
    Pointer where;
    std::string why;
};

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// A value of the document with its place in it, read with the checks a
// description needs.
class Node {
public:
    Node(const json& value, Pointer where) : value_(value), where_(std::move(where)) {}

    [[noreturn]] void Fail(const std::string& why) const { throw Invalid{where_, Name() + " " + why}; }
    const Pointer& where() const noexcept { return where_; }

    std::optional<Node> Find(const char* key) const
    {
        const auto member = value_.find(key);
        if (member == value_.end())
            return std::nullopt;
        return Node(*member, where_ / key);
    }

    // A member the description cannot do without; `what` tells what it must be.
    Node At(const char* key, const char* what) const
    {
        if (std::optional<Node> member = Find(key))
            return *member;
        Fail("lacks " + Quoted(key) + ", which must be " + what);
    }

    // An object with no other members than these.
    void ExpectObject(const std::vector<const char*>& keys) const
    {
        Expect(value_.is_object(), "an object");
        for (const auto& member : value_.items()) {
            if (std::find_if(keys.begin(), keys.end(), [&](const char* key) { return member.key() == key; }) !=
                keys.end()) {
                if (member.key() == kSource)
                    Node(member.value(), where_ / member.key()).Text();
                continue;
            }
            std::string known;
            for (const char* key : keys)
                known += (known.empty() ? "" : ", ") + std::string(key);
            Node(member.value(), where_ / member.key()).Fail("is not known here; use one of: " + known);
        }
    }

    bool IsArray() const noexcept { return value_.is_array(); }

    std::vector<Node> Items() const
    {
        Expect(value_.is_array(), "an array");
        std::vector<Node> items;
        for (std::size_t i = 0; i < value_.size(); ++i)
            items.emplace_back(value_[i], where_ / i);
        return items;
    }

    // Text is handed to applications as zero-terminated strings, where a
    // zero byte would silently end it.
    std::string Text() const
    {
        Expect(value_.is_string(), "a string");
        const std::string& text = value_.get_ref<const std::string&>();
        const std::size_t zero = text.find('\0');
        if (zero != std::string::npos)
            Fail("has a zero byte at character " + std::to_string(zero + 1) + ", which would end the text there");
        return text;
    }

    double Number() const
    {
        Expect(value_.is_number(), "a number");
        return value_.get<double>();
    }

    double Positive() const
    {
        const double value = Number();
        if (!(value > 0))
            Fail("must be a number above 0, not " + value_.dump());
        return value;
    }

    std::int64_t Integer(std::int64_t low, std::int64_t high) const
    {
        // nlohmann keeps a non-negative integer unsigned, and it may not fit a signed one.
        const bool inRange =
            value_.is_number_unsigned()
                ? value_.get<std::uint64_t>() <= static_cast<std::uint64_t>(high) && value_.get<std::int64_t>() >= low
                : value_.is_number_integer() && value_.get<std::int64_t>() >= low && value_.get<std::int64_t>() <= high;
        if (!inRange)
            Fail("must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ", not " +
                 Shown());
        return value_.get<std::int64_t>();
    }

private:
    std::string Name() const { return where_.empty() ? "the description" : where_.to_string(); }

    // A number as the file could have written it, anything else by its kind.
    std::string Shown() const
    {
        if (value_.is_number())
            return value_.dump();
        return value_.is_null() ? "null" : value_.type_name();
    }

    void Expect(bool holds, const char* what) const
    {
        if (!holds)
            Fail("must be " + std::string(what) + ", not " + (value_.is_null() ? "null" : value_.type_name()));
    }

    const json& value_;
    Pointer where_;
};

// What a missing member must be, for its message.
constexpr char kCommandText[] = "a command or an array of its forms";
constexpr char kErrorCode[] = "a code that \"errors\" describes";

// The commands an axis may bind, each to one of its actions.
constexpr struct {
    const char* key;
    Response::Action action;
    std::size_t fields;
} kAxisCommands[] = {
    {"move", Response::Action::MoveTo, 1},          {"move_relative", Response::Action::MoveBy, 1},
    {"stop", Response::Action::Stop, 0},            {"home", Response::Action::Home, 0},
    {"position", Response::Action::ReadPosition, 0}, {"on_target", Response::Action::ReadOnTarget, 0},
    {"moving", Response::Action::ReadMoving, 0},
};

// Builds a Description from a parsed document, in the order its rules are tried.
class DescriptionBuilder {
public:
    std::shared_ptr<const Description> Build(const Node& root)
    {
        root.ExpectObject({"description", "properties", "axes", "commands", "errors", "unknown_command", "reset"});
        // Free text for the reader of the file, but text.
        if (const std::optional<Node> text = root.Find("description"))
            text->Text();
        // Errors first: everything else may refer to their codes.
        const std::vector<Node> errors = ItemsOf(root, "errors");
        for (const Node& error : errors)
            AddError(error);
        for (const Node& property : ItemsOf(root, "properties"))
            AddProperty(property);
        for (const Node& axis : ItemsOf(root, "axes"))
            AddAxis(axis);
        for (const Node& command : ItemsOf(root, "commands")) {
            command.ExpectObject({"command", "answer", "answers", "delay_ms", kSource});
            std::vector<CommandPattern> forms = FormsOf(command.At("command", kCommandText));
            std::size_t fewestFields = forms.front().FieldCount();
            for (const CommandPattern& form : forms)
                fewestFields = std::min(fewestFields, form.FieldCount());
            AddRules(std::move(forms), AnswersOf(command, fewestFields));
        }
        for (const Node& error : errors) {
            if (const std::optional<Node> command = error.Find("command")) {
                Response raise(Response::Action::RaiseError);
                raise.error = CodeOf(error.At("code", kErrorCode));
                Bind(*command, raise);
            }
        }
        if (const std::optional<Node> reset = root.Find("reset"))
            Bind(*reset, Response(Response::Action::Reset), 0);
        if (const std::optional<Node> unknown = root.Find("unknown_command"))
            SetUnknownCommand(*unknown);
        return description_;
    }

private:
    static std::vector<Node> ItemsOf(const Node& root, const char* key)
    {
        const std::optional<Node> list = root.Find(key);
        return list ? list->Items() : std::vector<Node>{};
    }

    static std::int32_t CodeOf(const Node& code)
    {
        return static_cast<std::int32_t>(
            code.Integer(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    }

    void AddError(const Node& error)
    {
        error.ExpectObject({"code", "text", "command", kSource});
        const Node codeNode = error.At("code", "a whole number: the code GetError reports");
        const std::int32_t code = CodeOf(codeNode);
        if (code == kNoError)
            codeNode.Fail("may not be 0, which GetError reports when there is no error");
        if (code == -1034)
            codeNode.Fail("may not be -1034, which Zelbridge reports for a missing driver function");
        if (OwnErrorText(code))
            codeNode.Fail("may not be " + std::to_string(code) + ", the simulator's own code for \"" +
                          OwnErrorText(code) + "\"");
        const std::string text = error.At("text", "a string: what TranslateError says about the code").Text();
        if (!description_->errors.emplace(code, text).second)
            codeNode.Fail("repeats the code " + std::to_string(code));
    }

    std::int32_t KnownCode(const Node& code) const
    {
        const std::int32_t value = CodeOf(code);
        if (description_->errors.count(value) == 0)
            code.Fail("names the code " + std::to_string(value) + ", which \"errors\" does not describe");
        return value;
    }

    static NumberFormat FormatOf(const Node& node)
    {
        NumberFormat format;
        if (const std::optional<Node> units = node.Find("units"))
            format.units = units->Text();
        if (const std::optional<Node> decimals = node.Find("decimals"))
            format.decimals = static_cast<int>(decimals->Integer(0, kMostDecimals));
        return format;
    }

    void AddProperty(const Node& node)
    {
        node.ExpectObject(
            {"get", "set", "initial", "min", "max", "units", "decimals", "limit_error", "delay_ms", kSource});
        Property property{};
        property.initial = node.At("initial", "a number: the value before any command").Number();
        if (const std::optional<Node> min = node.Find("min"))
            property.min = min->Number();
        if (const std::optional<Node> max = node.Find("max"))
            property.max = max->Number();
        if (property.min && property.max && *property.min > *property.max)
            node.Find("max")->Fail("is below \"min\"");
        if ((property.min && property.initial < *property.min) || (property.max && property.initial > *property.max))
            node.Find("initial")->Fail("lies outside \"min\" and \"max\"");
        const std::optional<Node> limitError = node.Find("limit_error");
        const bool limited = property.min || property.max;
        if (limited && !limitError)
            node.Fail("has limits but lacks \"limit_error\", the code a value outside them raises");
        if (!limited && limitError)
            limitError->Fail("needs \"min\" or \"max\"");
        if (limitError)
            property.limitError = KnownCode(*limitError);
        property.format = FormatOf(node);

        const std::size_t index = description_->properties.size();
        description_->properties.push_back(property);
        Response getter(Response::Action::GetProperty);
        getter.index = index;
        getter.delay = DelayOf(node);
        Bind(node.At("get", kCommandText), getter, 0);
        Response setter(Response::Action::SetProperty);
        setter.index = index;
        Bind(node.At("set", "a command with one {number} field, or an array of its forms"), setter, 1);
    }

    void AddAxis(const Node& node)
    {
        std::vector<const char*> keys{"name",     "initial",      "home_position", "min",      "max",
                                      "velocity", "acceleration", "units",         "decimals", "limit_error",
                                      kSource};
        for (const auto& command : kAxisCommands)
            keys.push_back(command.key);
        node.ExpectObject(keys);
        Axis axis{};
        const Node name = node.At("name", "a string: the axis's name, as messages and readers use it");
        axis.name = name.Text();
        if (axis.name.empty())
            name.Fail("may not be empty");
        for (const Axis& earlier : description_->axes)
            if (earlier.name == axis.name)
                name.Fail("repeats the axis name " + Quoted(axis.name));
        axis.min = node.At("min", "a number: the lowest position a move may go to").Number();
        axis.max = node.At("max", "a number: the highest position a move may go to").Number();
        if (axis.min > axis.max)
            node.Find("max")->Fail("is below \"min\"");
        const auto within = [&](const Node& position) {
            const double value = position.Number();
            if (value < axis.min || value > axis.max)
                position.Fail("lies outside \"min\" and \"max\"");
            return value;
        };
        axis.initial = within(node.At("initial", "a number: the position before any move"));
        const std::optional<Node> home = node.Find("home_position");
        axis.home = home ? within(*home) : axis.initial;
        axis.velocity = node.At("velocity", "a number above 0: the speed of a move, in units per second").Positive();
        if (const std::optional<Node> acceleration = node.Find("acceleration"))
            axis.acceleration = acceleration->Positive();
        axis.format = FormatOf(node);
        axis.limitError = KnownCode(node.At("limit_error", "a code that \"errors\" describes, raised by a move "
                                                          "beyond \"min\" or \"max\""));

        const std::size_t index = description_->axes.size();
        description_->axes.push_back(axis);
        for (const auto& command : kAxisCommands) {
            if (const std::optional<Node> forms = node.Find(command.key)) {
                Response response(command.action);
                response.index = index;
                Bind(*forms, response, command.fields);
            }
        }
    }

    // An answer's text, which may quote as many numbers as its command has fields.
    static std::string AnswerText(const Node& answer, std::size_t fields)
    {
        std::string text = answer.Text();
        const std::string zero = ZeroReference(text);
        if (!zero.empty())
            answer.Fail("quotes " + zero + ", but the numbers of a command count from {1}");
        const std::size_t quoted = HighestReference(text);
        if (quoted > fields)
            answer.Fail("quotes {" + std::to_string(quoted) + "}, but its command has " + std::to_string(fields) +
                        " {number} field(s)");
        return text;
    }

    // The answer at `node`.
    static Response AnswerOf(const Node& node, std::size_t fields)
    {
        Response response(Response::Action::Answer);
        response.answer = AnswerText(node.At("answer", "a string: the text the command answers"), fields);
        response.delay = DelayOf(node);
        return response;
    }

    // A command's "answer", or its "answers": none, one, or several in turn.
    Response AnswersOf(const Node& node, std::size_t fields)
    {
        const std::optional<Node> list = node.Find("answers");
        if (!list)
            return AnswerOf(node, fields);
        if (node.Find("answer"))
            list->Fail("stands instead of \"answer\", not beside it");
        std::vector<std::string> texts;
        for (const Node& item : list->Items())
            texts.push_back(AnswerText(item, fields));
        if (texts.empty()) {
            if (const std::optional<Node> delay = node.Find("delay_ms"))
                delay->Fail("applies to an answer, and \"answers\" lists none");
            return Response(Response::Action::Accept);
        }
        Response response(Response::Action::Answer);
        if (texts.size() == 1) {
            response.answer = std::move(texts.front());
        } else {
            response.action = Response::Action::AnswerInTurn;
            response.answers = std::move(texts);
            response.index = description_->answersInTurn++;
        }
        response.delay = DelayOf(node);
        return response;
    }

    void SetUnknownCommand(const Node& node)
    {
        node.ExpectObject({"answer", "error", "delay_ms", kSource});
        const std::optional<Node> error = node.Find("error");
        const bool answer = node.Find("answer").has_value();
        if (error && answer)
            node.Fail("takes \"answer\" or \"error\", not both");
        if (!error && !answer)
            node.Fail("needs either \"answer\" or \"error\"");
        if (error) {
            if (const std::optional<Node> delay = node.Find("delay_ms"))
                delay->Fail("applies to an answer, not to an error");
            description_->unknownCommand.emplace(Response::Action::RaiseError);
            description_->unknownCommand->error = KnownCode(*error);
        } else {
            description_->unknownCommand = AnswerOf(node, 0);
        }
    }

    static std::chrono::milliseconds DelayOf(const Node& node)
    {
        const std::optional<Node> delay = node.Find("delay_ms");
        return std::chrono::milliseconds(delay ? delay->Integer(0, kLongestDelayMs) : 0);
    }

    // The forms of the command at `node`, a text or a non-empty array of
    // texts, each with `fields` {number} fields when that is given and none
    // repeating an earlier command.
    std::vector<CommandPattern> FormsOf(const Node& node, std::optional<std::size_t> fields = {})
    {
        const std::vector<Node> items = node.IsArray() ? node.Items() : std::vector<Node>{node};
        if (items.empty())
            node.Fail("must list at least one form of the command");
        std::vector<CommandPattern> forms;
        for (const Node& item : items) {
            try {
                forms.emplace_back(item.Text());
            } catch (const std::invalid_argument& bad) {
                item.Fail(std::string("is not a command: ") + bad.what());
            }
            const CommandPattern& form = forms.back();
            if (fields && form.FieldCount() != *fields)
                item.Fail("must have " + std::to_string(*fields) + " {number} field(s), not " +
                          std::to_string(form.FieldCount()));
            std::string key = form.Text();
            std::transform(key.begin(), key.end(), key.begin(),
                           [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
            if (!commands_.emplace(key, item.where()).second)
                item.Fail("repeats the command " + Quoted(form.Text()) + " of " + commands_.at(key).to_string());
        }
        return forms;
    }

    void AddRules(std::vector<CommandPattern> forms, const Response& response)
    {
        for (CommandPattern& form : forms)
            description_->rules.push_back(CommandRule{std::move(form), response});
    }

    void Bind(const Node& node, const Response& response, std::optional<std::size_t> fields = {})
    {
        AddRules(FormsOf(node, fields), response);
    }

    std::shared_ptr<Description> description_ = std::make_shared<Description>();
    // Each command so far, upper-cased, and where it was described.
    std::map<std::string, Pointer> commands_;
};

LoadedDescription Failure(std::int32_t code, std::string reason)
{
    return LoadedDescription{nullptr, code, std::move(reason)};
}

LoadedDescription Parse(std::string_view text, const std::string& fileName)
{
    const auto at = [&](std::size_t offset) {
        const TextPosition position = PositionOf(text, offset);
        return Quoted(fileName) + ", line " + std::to_string(position.line) + ", column " +
               std::to_string(position.column) + ": ";
    };
    const JsonPositions positions(text);
    if (const auto& problem = positions.problem())
        return Failure(kInvalidDescription, at(problem->offset) + problem->message);
    // The same parser has just accepted the text.
    const json document = json::parse(text.begin(), text.end());
    try {
        return LoadedDescription{DescriptionBuilder().Build(Node(document, Pointer())), kNoError, ""};
    } catch (const Invalid& invalid) {
        return Failure(kInvalidDescription, at(positions.OffsetOf(invalid.where)) + invalid.why);
    }
}

} // namespace

const Response* Description::Find(std::string_view command, std::vector<Number>& numbers) const
{
    for (const bool literal : {true, false})
        for (const CommandRule& rule : rules)
            if ((rule.pattern.FieldCount() == 0) == literal && rule.pattern.Match(command, numbers))
                return &rule.response;
    numbers.clear();
    return unknownCommand ? &*unknownCommand : nullptr;
}

LoadedDescription ParseDescription(std::string_view text, const std::string& fileName) noexcept
{
    try {
        return Parse(text, fileName);
    } catch (const std::bad_alloc&) {
        return Failure(kOutOfMemory, Quoted(fileName) + ": out of memory");
    } catch (const std::exception& unexpected) {
        return Failure(kInvalidDescription, Quoted(fileName) + ": " + unexpected.what());
    }
}

LoadedDescription LoadDescription(const std::string& path) noexcept
{
    try {
        std::ifstream file(path, std::ios::binary);
        if (!file)
            return Failure(kNoDescription, Quoted(path) + " cannot be opened");
        std::string text;
        char chunk[4096];
        while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
            text.append(chunk, static_cast<std::size_t>(file.gcount()));
            if (text.size() > kLargestFile)
                return Failure(kInvalidDescription, Quoted(path) + " is larger than 16 MiB");
        }
        if (file.bad())
            return Failure(kNoDescription, Quoted(path) + " cannot be read");
        return ParseDescription(text, path);
    } catch (const std::bad_alloc&) {
        return Failure(kOutOfMemory, Quoted(path) + ": out of memory");
    } catch (const std::exception& unexpected) {
        return Failure(kNoDescription, Quoted(path) + ": " + unexpected.what());
    }
}

} // namespace simulator
