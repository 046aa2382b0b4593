// The zelbridge command: reads the command line, runs the subcommand, and
// turns every error into a one-line message and an exit code.
#include "command_line.h"
#include "help_text.h"
#include "os/os_services.h"
#include "subcommands.h"
#include "tool_errors.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

using namespace zelbridge::tool;

namespace {

int Run(const Invocation& request)
{
    if (request.help) {
        std::cout << HelpText(request.subcommand);
        return kSuccess;
    }
    if (request.version)
        return RunVersion(std::cout);
    switch (request.subcommand) {
    case Subcommand::kSend:
        return RunSend(request, std::cout, std::cerr);
    case Subcommand::kShell:
        return RunShell(request, os::StandardInputIsTerminal(), std::cin, std::cout, std::cerr);
    case Subcommand::kCheck:
        return RunCheck(request, std::cout);
    case Subcommand::kConfig:
        return RunConfig(request, std::cout, std::cerr);
    case Subcommand::kReplay:
        return RunReplay(request, std::cout);
    case Subcommand::kServe:
        return RunServe(request, std::cout, std::cerr);
    case Subcommand::kDescribe:
        return RunDescribe(request, std::cout, std::cerr);
    case Subcommand::kTimeline:
        return RunTimeline(request, std::cout, std::cerr);
    case Subcommand::kNone:
        break;
    }
    std::cout << HelpText(Subcommand::kNone);
    return kSuccess;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        try {
            return Run(ParseCommandLine(arguments));
        } catch (const UsageError& error) {
            const Subcommand topic = arguments.empty() ? Subcommand::kNone : FindSubcommand(arguments.front());
            const std::string help =
                topic == Subcommand::kNone ? "zelbridge --help" : "zelbridge " + arguments.front() + " --help";
            std::cerr << "zelbridge: " << error.what() << " (see " << help << ")" << std::endl;
            return kUsage;
        }
    } catch (const std::exception& error) {
        std::cerr << "zelbridge: " << error.what() << std::endl;
        return kFailure;
    }
}
