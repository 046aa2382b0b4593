// What a zelbridge command line asks for, read and checked from its arguments.
#pragma once

#include "answer_bound.h"
#include "answer_ledger.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelbridge::tool {

enum class Subcommand { kNone, kSend, kShell, kCheck, kConfig, kReplay, kServe, kDescribe, kTimeline };

// How a system is connected: the connect entry point and what it is given.
struct Link {
    enum class Kind { kRs232, kTcp, kGpib, kUsb, kPci };
    Kind kind = Kind::kRs232;
    // As the user wrote it, for messages: "--rs232" and "1,9600".
    std::string option;
    std::string value;
    // The host name or the USB description.
    std::string text;
    std::int32_t first = 0;
    std::int32_t second = 0;
};

// How long send and shell wait for the answer of a query, unless told.
constexpr std::int32_t kDefaultTimeoutMs = 2000;

struct Invocation {
    Subcommand subcommand = Subcommand::kNone;
    bool help = false;
    // --version alone: the tool's version and that of the module it loads.
    bool version = false;
    // check: write JSON instead of text.
    bool json = false;
    // replay: replay the rest of a recording whose bad records it named.
    bool skipBadRecords = false;
    std::optional<std::string> driver;
    std::optional<std::string> prefix;
    std::optional<std::string> family;
    std::optional<Link> link;
    // --timeout as written, and the milliseconds it gives.
    std::optional<std::string> timeout;
    std::int32_t timeoutMs = kDefaultTimeoutMs;
    // --answer-bound: bytes of an answer printed whole (a longer one is cut).
    std::optional<std::string> answerBound;
    std::size_t answerBoundBytes = kAnswerBound;
    // --give-up-factor: an answer owed this many times its timeout puts the
    // connection out of step.
    std::optional<std::string> giveUpFactor;
    double giveUpFactorValue = kGiveUpFactor;
    std::vector<std::string> commands;
    // config: the folder to store, or remove the value.
    std::optional<std::string> installPath;
    bool unset = false;
    // serve: ADDR:PORT, the token's file, the places libraries with a path
    // may be loaded from.
    std::optional<std::string> listen;
    std::optional<std::string> tokenFile;
    std::vector<std::string> allowedLibraries;
    std::vector<std::string> allowedData;
    // describe and timeline: where to write (-o FILE); describe: which
    // connections, as written (--family above takes a family).
    std::optional<std::string> output;
    std::optional<std::string> processFilter;
    std::optional<std::string> systemFilter;
    std::optional<std::string> connectionFilter;
};

// The arguments after the program name. Throws UsageError with a one-line
// message when they do not make a complete request; --help anywhere asks
// for help and nothing else.
Invocation ParseCommandLine(const std::vector<std::string>& arguments);

const char* SubcommandName(Subcommand subcommand) noexcept;
// kNone when `name` names no subcommand.
Subcommand FindSubcommand(const std::string& name) noexcept;

} // namespace zelbridge::tool
