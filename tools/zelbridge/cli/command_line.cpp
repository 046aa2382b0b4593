// Reading subcommands, options and their values, and checking that together
// they make a complete request.
#include "command_line.h"

#include "tool_errors.h"

#include <algorithm>
#include <charconv>

namespace zelbridge::tool {
namespace {

// The set of subcommands an option belongs to, one bit each.
constexpr unsigned In(Subcommand subcommand)
{
    return 1u << static_cast<unsigned>(subcommand);
}

constexpr unsigned kConnecting = In(Subcommand::kSend) | In(Subcommand::kShell);
constexpr unsigned kTakingADriver = kConnecting | In(Subcommand::kCheck);

struct SubcommandEntry {
    const char* name;
    Subcommand subcommand;
};

constexpr SubcommandEntry kSubcommands[] = {
    {"send", Subcommand::kSend},
    {"shell", Subcommand::kShell},
    {"check", Subcommand::kCheck},
    {"config", Subcommand::kConfig},
    {"replay", Subcommand::kReplay},
    {"serve", Subcommand::kServe},
    {"describe", Subcommand::kDescribe},
    {"timeline", Subcommand::kTimeline},
};

// A connection option and the fields of its value: numbers, or a text
// followed by a number, or one text taken whole (commas and all).
struct LinkOption {
    const char* name;
    Link::Kind kind;
    const char* valueName;
    bool startsWithText;
    int numbers;
};

constexpr LinkOption kLinkOptions[] = {
    {"--rs232", Link::Kind::kRs232, "PORT,BAUD", false, 2},
    {"--tcp", Link::Kind::kTcp, "HOST,PORT", true, 1},
    {"--gpib", Link::Kind::kGpib, "BOARD,DEVICE", false, 2},
    {"--usb", Link::Kind::kUsb, "DESCRIPTION", true, 0},
    {"--pci", Link::Kind::kPci, "BOARD", false, 1},
};

std::int32_t ParseNumber(const std::string& option, const std::string& text)
{
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error == std::errc::result_out_of_range)
        throw UsageError(option + ": " + text + " is out of range");
    if (text.empty() || error != std::errc() || stop != end)
        throw UsageError(option + ": '" + text + "' is not a whole number");
    return value;
}

Link ParseLink(const LinkOption& option, const std::string& value)
{
    const std::string name = option.name;
    Link link;
    link.kind = option.kind;
    link.option = name;
    link.value = value;
    std::vector<std::string> fields;
    if (option.startsWithText && option.numbers == 0) {
        fields.push_back(value);
    } else {
        std::string::size_type start = 0;
        for (std::string::size_type comma; (comma = value.find(',', start)) != std::string::npos; start = comma + 1)
            fields.push_back(value.substr(start, comma - start));
        fields.push_back(value.substr(start));
    }
    const std::size_t expected = (option.startsWithText ? 1u : 0u) + static_cast<std::size_t>(option.numbers);
    if (fields.size() != expected)
        throw UsageError(name + " takes " + option.valueName + ", not '" + value + "'");
    std::size_t field = 0;
    if (option.startsWithText) {
        link.text = fields[field++];
        if (link.text.empty())
            throw UsageError(name + ": the " + (option.numbers == 0 ? "description" : "host") + " is empty");
    }
    if (field < fields.size())
        link.first = ParseNumber(name, fields[field++]);
    if (field < fields.size())
        link.second = ParseNumber(name, fields[field++]);
    return link;
}

void StoreOnce(std::optional<std::string>& slot, const std::string& option, const std::string& value)
{
    if (slot)
        throw UsageError(option + " is given twice");
    if (value.empty())
        throw UsageError(option + " is empty");
    slot = value;
}

void StoreLink(Invocation& invocation, const LinkOption& option, const std::string& value)
{
    if (invocation.link)
        throw UsageError("give one connection option, not " + invocation.link->option + " and " + option.name);
    invocation.link = ParseLink(option, value);
}

// The options other than the connection options, which every subcommand
// that connects takes.
struct Option {
    const char* name;
    const char* valueName;
    unsigned subcommands;
    std::optional<std::string> Invocation::*slot;
};

constexpr Option kOptions[] = {
    {"--driver", "FILE", kTakingADriver, &Invocation::driver},
    {"--prefix", "PREFIX", kTakingADriver, &Invocation::prefix},
    {"--family", "NAME", In(Subcommand::kCheck) | In(Subcommand::kDescribe), &Invocation::family},
    {"--output", "FILE", In(Subcommand::kDescribe) | In(Subcommand::kTimeline), &Invocation::output},
    {"--process", "PID", In(Subcommand::kDescribe), &Invocation::processFilter},
    {"--system", "INDEX", In(Subcommand::kDescribe), &Invocation::systemFilter},
    {"--connection", "N", In(Subcommand::kDescribe), &Invocation::connectionFilter},
    {"--timeout", "MS", kConnecting | In(Subcommand::kReplay), &Invocation::timeout},
    {"--answer-bound", "BYTES", kConnecting | In(Subcommand::kServe), &Invocation::answerBound},
    {"--give-up-factor", "N", kConnecting | In(Subcommand::kServe), &Invocation::giveUpFactor},
    {"--install-path", "DIR", In(Subcommand::kConfig), &Invocation::installPath},
    {"--listen", "ADDR:PORT", In(Subcommand::kServe), &Invocation::listen},
    {"--token-file", "FILE", In(Subcommand::kServe), &Invocation::tokenFile},
    // Given as often as needed: handled apart from the others.
    {"--allow-library", "PATH", In(Subcommand::kServe), nullptr},
    {"--allow-data", "FOLDER", In(Subcommand::kServe), nullptr},
};

// Options without a value.
struct Flag {
    const char* name;
    unsigned subcommands;
    bool Invocation::*slot;
};

constexpr Flag kFlags[] = {
    {"--json", In(Subcommand::kCheck), &Invocation::json},
    {"--unset", In(Subcommand::kConfig), &Invocation::unset},
    {"--skip-bad-records", In(Subcommand::kReplay) | In(Subcommand::kDescribe) | In(Subcommand::kTimeline),
     &Invocation::skipBadRecords},
};

template <typename Entry, std::size_t count> const Entry* FindByName(const Entry (&entries)[count], const std::string& name)
{
    const auto entry = std::find_if(std::begin(entries), std::end(entries), [&](const Entry& e) { return name == e.name; });
    return entry == std::end(entries) ? nullptr : entry;
}

bool IsHelp(const std::string& argument)
{
    return argument == "--help" || argument == "-h";
}

void Require(bool present, const std::string& what)
{
    if (!present)
        throw UsageError("missing " + what);
}

// The answer bound and the give-up factor: numbers in a range that keeps
// the arithmetic on them sound.
void ValidateAnswerLimits(Invocation& invocation)
{
    if (invocation.answerBound) {
        const std::int32_t bytes = ParseNumber("--answer-bound", *invocation.answerBound);
        if (bytes < 1)
            throw UsageError("--answer-bound: " + *invocation.answerBound + " is not a number of bytes above 0");
        invocation.answerBoundBytes = static_cast<std::size_t>(bytes);
    }
    if (invocation.giveUpFactor) {
        const std::int32_t factor = ParseNumber("--give-up-factor", *invocation.giveUpFactor);
        if (factor < 1 || factor > 1000)
            throw UsageError("--give-up-factor: " + *invocation.giveUpFactor + " is not a whole number from 1 to 1000");
        invocation.giveUpFactorValue = factor;
    }
}

void Validate(Invocation& invocation)
{
    ValidateAnswerLimits(invocation);
    const Subcommand subcommand = invocation.subcommand;
    if (subcommand == Subcommand::kCheck) {
        // With neither, check looks at every library the module uses.
        if (invocation.family) {
            if (invocation.driver || invocation.prefix)
                throw UsageError("check takes either --family or --driver and --prefix, not both");
        } else if (invocation.driver || invocation.prefix) {
            Require(invocation.driver.has_value(), "--driver FILE (or --family NAME)");
            Require(invocation.prefix.has_value(), "--prefix PREFIX");
        }
    } else if (subcommand == Subcommand::kReplay) {
        if (invocation.commands.size() != 1)
            throw UsageError("replay takes one recording FILE");
    } else if (subcommand == Subcommand::kDescribe || subcommand == Subcommand::kTimeline) {
        if (invocation.commands.size() != 1)
            throw UsageError(std::string(SubcommandName(subcommand)) + " takes one " +
                             (subcommand == Subcommand::kDescribe ? "recording FILE" : "recording or trace FILE"));
        for (const auto& [option, value] : {std::make_pair("--system", &invocation.systemFilter),
                                            std::make_pair("--process", &invocation.processFilter),
                                            std::make_pair("--connection", &invocation.connectionFilter)})
            if (*value && ParseNumber(option, **value) < 0)
                throw UsageError(std::string(option) + ": " + **value + " is negative");
        return;
    } else if (subcommand == Subcommand::kServe) {
        if (!invocation.commands.empty())
            throw UsageError("serve takes no argument '" + invocation.commands.front() + "'");
        return;
    } else if (subcommand == Subcommand::kConfig) {
        if (invocation.installPath && invocation.unset)
            throw UsageError("config takes either --install-path DIR or --unset, not both");
    } else {
        Require(invocation.driver.has_value(), "--driver FILE");
        Require(invocation.prefix.has_value(), "--prefix PREFIX");
        Require(invocation.link.has_value(), "a connection option (--rs232, --tcp, --gpib, --usb or --pci)");
    }
    if (invocation.timeout) {
        invocation.timeoutMs = ParseNumber("--timeout", *invocation.timeout);
        if (invocation.timeoutMs < 0)
            throw UsageError("--timeout: " + *invocation.timeout + " is not a number of milliseconds");
    }
    if (subcommand == Subcommand::kSend)
        Require(!invocation.commands.empty(), "the COMMAND to send");
    else if (!invocation.commands.empty() && subcommand != Subcommand::kReplay)
        throw UsageError(std::string(SubcommandName(subcommand)) + " takes no argument '" + invocation.commands.front() +
                         "'" + (subcommand == Subcommand::kShell ? ": commands come from standard input" : ""));
}

} // namespace

const char* SubcommandName(Subcommand subcommand) noexcept
{
    for (const SubcommandEntry& entry : kSubcommands)
        if (entry.subcommand == subcommand)
            return entry.name;
    return "zelbridge";
}

Subcommand FindSubcommand(const std::string& name) noexcept
{
    for (const SubcommandEntry& entry : kSubcommands)
        if (name == entry.name)
            return entry.subcommand;
    return Subcommand::kNone;
}

Invocation ParseCommandLine(const std::vector<std::string>& arguments)
{
    Invocation invocation;
    if (arguments.empty())
        throw UsageError("missing subcommand: send, shell, check, config, replay, serve, describe or timeline");
    const std::string& first = arguments.front();
    // Past "--" everything is a command, even what looks like an option.
    const auto optionsEnd = std::find(arguments.begin(), arguments.end(), "--");
    invocation.help = std::any_of(arguments.begin(), optionsEnd, IsHelp);
    if (IsHelp(first))
        return invocation;
    if (first == "--version" && arguments.size() == 1) {
        invocation.version = true;
        return invocation;
    }
    invocation.subcommand = FindSubcommand(first);
    if (invocation.subcommand == Subcommand::kNone)
        throw UsageError("unknown subcommand '" + first +
                         "': use send, shell, check, config, replay, serve, describe or timeline");
    if (invocation.help)
        return invocation;

    for (auto argument = arguments.begin() + 1; argument != arguments.end(); ++argument) {
        if (argument == optionsEnd) {
            invocation.commands.insert(invocation.commands.end(), argument + 1, arguments.end());
            break;
        }
        // -o, the one short option, for the subcommands that write a file.
        if (*argument == "-o" && FindByName(kOptions, "--output")->subcommands & In(invocation.subcommand)) {
            if (argument + 1 == optionsEnd)
                throw UsageError("-o needs a value: -o FILE");
            StoreOnce(invocation.output, "-o", *++argument);
            continue;
        }
        if (argument->rfind("--", 0) != 0) {
            invocation.commands.push_back(*argument);
            continue;
        }
        const std::string::size_type equals = argument->find('=');
        const std::string name = argument->substr(0, equals);
        if (const Flag* flag = FindByName(kFlags, name)) {
            if (!(flag->subcommands & In(invocation.subcommand)))
                throw UsageError(std::string(SubcommandName(invocation.subcommand)) + " has no option " + name);
            if (equals != std::string::npos)
                throw UsageError(name + " takes no value");
            invocation.*(flag->slot) = true;
            continue;
        }
        const Option* option = FindByName(kOptions, name);
        const LinkOption* linkOption = option ? nullptr : FindByName(kLinkOptions, name);
        const unsigned takenBy = option ? option->subcommands : linkOption ? kConnecting : 0;
        if (!(takenBy & In(invocation.subcommand)))
            throw UsageError(std::string(SubcommandName(invocation.subcommand)) + " has no option " + name);
        std::string value;
        if (equals != std::string::npos) {
            value = argument->substr(equals + 1);
        } else {
            if (argument + 1 == optionsEnd)
                throw UsageError(name + " needs a value: " + name + " " +
                                 (option ? option->valueName : linkOption->valueName));
            value = *++argument;
        }
        if (option && !option->slot) {
            if (value.empty())
                throw UsageError(name + " is empty");
            (name == "--allow-data" ? invocation.allowedData : invocation.allowedLibraries).push_back(value);
        } else if (option)
            StoreOnce(invocation.*(option->slot), name, value);
        else
            StoreLink(invocation, *linkOption, value);
    }
    Validate(invocation);
    return invocation;
}

} // namespace zelbridge::tool
