// The zelbridge program run as a user runs it: each subcommand against the
// loopback driver, the failures a user meets, and wrong command lines.
#include "cli/query_rule.h"
#include "families/family_catalog.h"
#include "test_environment.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace zelbridge::test {
namespace {

using Arguments = std::vector<std::string>;

::testing::AssertionResult Contains(const std::string& text, const std::string& part)
{
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
}

class ZelbridgeTool : public ::testing::Test {
protected:
    ZelbridgeTool() { installPath.Remove(); }

    // A subcommand on the loopback driver, found by its bare name next to the tool.
    static Arguments OnLoopback(const char* subcommand, const Arguments& rest)
    {
        Arguments arguments{subcommand, "--driver", ZELBRIDGE_LOOPBACK_FILE, "--prefix", "LOOP_"};
        arguments.insert(arguments.end(), rest.begin(), rest.end());
        return arguments;
    }

    static std::string Folder(const char* name) { return BinaryDirectory() + PathSeparator() + name; }

    ScopedInstallPath installPath;
};

TEST_F(ZelbridgeTool, HelpWithExamplesForTheProgramAndEachSubcommand)
{
    const struct {
        Arguments arguments;
        const char* usage;
        const char* example;
    } cases[] = {
        {{"--help"}, "zelbridge send  --driver FILE --prefix PREFIX CONNECTION [--timeout MS] COMMAND...",
         "zelbridge send --driver " ZELBRIDGE_LOOPBACK_FILE " --prefix LOOP_ --rs232 1,9600 \"*IDN?\""},
        {{"send", "--help"}, "Usage: zelbridge send", "zelbridge send --driver " ZELBRIDGE_LOOPBACK_FILE},
        {{"shell", "-h"}, "Usage: zelbridge shell", "zelbridge shell --driver " ZELBRIDGE_LOOPBACK_FILE},
        // Help wins over whatever else is wrong on the line.
        {{"check", "--family", "--help"}, "Usage: zelbridge check", "zelbridge check --family M329"},
    };
    for (const auto& help : cases) {
        const ToolRun run = RunTool(help.arguments);
        EXPECT_EQ(run.exitCode, 0) << help.usage;
        EXPECT_TRUE(Contains(run.out, help.usage));
        EXPECT_TRUE(Contains(run.out, help.example));
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(ZelbridgeTool, WrongArgumentsGiveOneLineOnStandardErrorAndExitCodeTwo)
{
    const struct {
        Arguments arguments;
        const char* message;
    } cases[] = {
        {{}, "missing subcommand"},
        {{"frobnicate"}, "unknown subcommand 'frobnicate'"},
        {{"send", "--prefix", "LOOP_", "--rs232", "1,9600", "*IDN?"}, "missing --driver FILE"},
        {OnLoopback("send", {"*IDN?"}), "missing a connection option"},
        {OnLoopback("send", {"--rs232", "1,9600"}), "missing the COMMAND"},
        {OnLoopback("send", {"--rs232", "1", "*IDN?"}), "--rs232 takes PORT,BAUD, not '1'"},
        {OnLoopback("send", {"--rs232", "one,9600", "*IDN?"}), "--rs232: 'one' is not a whole number"},
        {OnLoopback("send", {"--gpib", "0,99999999999", "*IDN?"}), "--gpib: 99999999999 is out of range"},
        {OnLoopback("send", {"--tcp", ",80", "*IDN?"}), "--tcp: the host is empty"},
        {OnLoopback("send", {"--pci", "0", "--usb", "LOOPBACK", "*IDN?"}), "not --pci and --usb"},
        {OnLoopback("send", {"--driver", "again", "--pci", "0", "x"}), "--driver is given twice"},
        {OnLoopback("send", {"--speed", "9", "x"}), "send has no option --speed"},
        {OnLoopback("shell", {"--pci", "0", "*IDN?"}), "commands come from standard input"},
        {OnLoopback("check", {"--rs232", "1,9600"}), "check has no option --rs232"},
        {{"check", "--family", "M329", "--prefix", "X_"}, "either --family or --driver and --prefix"},
        {{"check", "--family", "Q7"}, "unknown family 'Q7': use one of M317, M317_VB, M318, M329, T520, T5XX"},
        {{"check", "--driver"}, "--driver needs a value"},
        {{"check", "--prefix", "X_"}, "missing --driver FILE"},
        {{"check", "--json=yes"}, "--json takes no value"},
        {{"check", "--driver", "", "--prefix", "X_"}, "--driver is empty"},
        {{"config", "--install-path", "x", "--unset"}, "either --install-path DIR or --unset"},
        {{"config", "--install-path="}, "--install-path is empty"},
        {{"send", "--driver", "x.dll", "--prefix=", "--pci", "0", "x"}, "--prefix is empty"},
        {OnLoopback("send", {"--usb", "", "x"}), "--usb: the description is empty"},
        {OnLoopback("send", {"--timeout", "-1", "--pci", "0", "x"}), "--timeout: -1 is not a number of milliseconds"},
        {OnLoopback("send", {"--answer-bound", "0", "--pci", "0", "x"}), "--answer-bound: 0 is not a number of bytes above 0"},
        {OnLoopback("shell", {"--give-up-factor", "0", "--pci", "0"}), "--give-up-factor: 0 is not a whole number from 1 to 1000"},
        {OnLoopback("send", {"--give-up-factor", "1.5", "--pci", "0", "x"}), "--give-up-factor: '1.5' is not a whole number"},
    };
    for (const auto& wrong : cases) {
        const ToolRun run = RunTool(wrong.arguments);
        EXPECT_EQ(run.exitCode, 2) << wrong.message;
        EXPECT_TRUE(Contains(run.err, wrong.message));
        EXPECT_TRUE(Contains(run.err, "--help)\n"));
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(ZelbridgeTool, SendPrintsTheAnswerOfEachCommandOnALineOfItsOwn)
{
    const ToolRun run = RunTool(OnLoopback("send", {"--rs232", "1,9600", "*IDN?", "ECHO hello world"}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Zelbridge,Loopback,0,1.0\nhello world\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(ZelbridgeTool, EachConnectionOptionReachesItsConnectFunction)
{
    const struct {
        Arguments link;
        const char* described;
    } cases[] = {
        {{"--rs232", "3,19200"}, "rs232 port 3, 19200 baud"},
        {{"--tcp", "192.168.0.5,5000"}, "tcp 192.168.0.5 port 5000"},
        {{"--gpib=0,7"}, "gpib board 0, device 7"},
        {{"--usb", "LOOPBACK"}, "usb LOOPBACK"},
        // Connect prefers the driver's ConnectPciBoard.
        {{"--pci", "2"}, "pci board 2"},
    };
    for (const auto& option : cases) {
        Arguments rest = option.link;
        rest.push_back("LINK?");
        const ToolRun run = RunTool(OnLoopback("send", rest));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, std::string(option.described) + "\n");
    }
}

TEST_F(ZelbridgeTool, SendStopsAtTheFirstFailureWithTheDriversCodeAndText)
{
    // After "--" even a command that looks like an option is sent.
    const ToolRun run = RunTool(OnLoopback("send", {"--usb", "LOOPBACK", "ECHO one", "--", "--x", "ECHO two"}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "one\n");
    EXPECT_EQ(run.err, "zelbridge: --x: error -201: unknown command\n");

    // A long command is named by its start and length, not repeated whole
    // (as long as a Windows command line takes).
    const ToolRun longCommand = RunTool(OnLoopback("send", {"--usb", "LOOPBACK", "ECHO " + std::string(30000, 'x')}));
    EXPECT_EQ(longCommand.exitCode, 1);
    EXPECT_EQ(longCommand.err, "zelbridge: ECHO " + std::string(55, 'x') + "... (30005 characters): error -208: "
                               "command too long\n");
}

TEST_F(ZelbridgeTool, AFailedConnectShowsWhyTheDriverRefused)
{
    const ToolRun run = RunTool(OnLoopback("send", {"--rs232", "0,9600", "*IDN?"}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "zelbridge: cannot connect with --rs232 0,9600: error -204: invalid argument\n");
}

TEST_F(ZelbridgeTool, AMissingDriverFileShowsTheFileTriedAndTheSystemsError)
{
    const ToolRun run = RunTool({"send", "--driver", "nowhere", "--prefix", "LOOP_", "--pci", "0", "*IDN?"});
    EXPECT_EQ(run.exitCode, 1);
    // The name the loader completes, as the user wrote it.
    EXPECT_TRUE(Contains(run.err, std::string("zelbridge: cannot load the driver library nowhere (tried ") +
                                      (PathSeparator() == '\\' ? "nowhere.DLL" : "nowhere")));
    EXPECT_TRUE(Contains(run.err, "): error "));
    // What check would say, and the check to run for the folders searched.
    EXPECT_TRUE(Contains(run.err, " is not found; \"zelbridge check --driver nowhere --prefix LOOP_\" shows where"));

    // A driver of the other architecture (error 193 on Windows) says so.
    const ToolRun otherArchitecture = RunTool({"send", "--driver", "zel_other_arch.dll", "--prefix", "LOOP_", "--pci",
                                               "0", "*IDN?"});
    EXPECT_EQ(otherArchitecture.exitCode, 1);
    EXPECT_TRUE(Contains(otherArchitecture.err, "; zel_other_arch.dll is a "));
    EXPECT_TRUE(Contains(otherArchitecture.err, "; " ZELBRIDGE_LOADED_MODULE " is "));
    EXPECT_TRUE(Contains(otherArchitecture.err, "\"zelbridge check --driver zel_other_arch.dll --prefix LOOP_\""));

    const ToolRun check = RunTool({"check", "--driver", "nowhere.dll", "--prefix", "LOOP_"});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(Contains(check.out, "Loaded:           no, error "));
}

TEST_F(ZelbridgeTool, AWrongPrefixNamesTheDriverFunctionThatIsMissing)
{
    const ToolRun run = RunTool({"send", "--driver", ZELBRIDGE_LOOPBACK_FILE, "--prefix", "loop_", "--pci", "0", "x"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "zelbridge: cannot connect with --pci 0: error -1034: function not available: the driver "
                       "library does not export loop_ConnectPciBoard or loop_Connect; it exports 28 of the 28 "
                       "operations as \"LOOP_\": did you mean --prefix LOOP_?\n");

    // A driver that connects but has no ZelCommandset (nor GetError to ask).
    const ToolRun partial = RunTool({"send", "--driver", "drv_connect.dll", "--prefix", "DRV_", "--pci", "0", "*IDN?"});
    EXPECT_EQ(partial.exitCode, 1);
    EXPECT_EQ(partial.err, "zelbridge: *IDN?: error -1034: function not available: the driver library does not "
                           "export DRV_ZelCommandset\n");

    const ToolRun check = RunTool({"check", "--driver", ZELBRIDGE_LOOPBACK_FILE, "--prefix", "loop_"});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(Contains(check.out, "Exports 0 of the 28 operations as \"loop_\""));
    EXPECT_TRUE(Contains(check.out, "  no   loop_ZelCommandset\n"));
    EXPECT_TRUE(Contains(check.out, "Hint: exports 28 of the 28 operations as \"LOOP_\"; did you mean --prefix LOOP_?\n"));
}

TEST_F(ZelbridgeTool, TheShellSendsEachLineOfStandardInputAndGoesOnAfterAFailure)
{
    const ToolRun run = RunTool(OnLoopback("shell", {"--tcp", "localhost,23"}), "*IDN?\n\nECHO a b\r\nMOVE 10\nLINK?");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Zelbridge,Loopback,0,1.0\na b\ntcp localhost port 23\n");
    EXPECT_EQ(run.err, "zelbridge: MOVE 10: error -201: unknown command\n");

    const ToolRun clean = RunTool(OnLoopback("shell", {"--pci", "0"}), "ECHO fine\n");
    EXPECT_EQ(clean.exitCode, 0) << clean.err;
    EXPECT_TRUE(Contains(clean.out, "fine\n"));
}

// Standard error with the milliseconds of "given up after" as "####".
std::string WithoutTimes(const std::string& text)
{
    static const std::regex kTime("after [0-9]+ ms");
    return std::regex_replace(text, kTime, "after #### ms");
}

std::string JoinedLines(const std::vector<const char*>& lines)
{
    std::string text;
    for (const char* line : lines)
        text += std::string(line) + "\n";
    return text;
}

// A controller whose answers take their time, as real ones do: each delayed
// answer holds back the ones after it.
std::string WriteSlowOvenFile()
{
    const std::string path = BinaryPath("slow_oven.json");
    std::ofstream(path) << R"({"commands": [
        {"command": "TEMP?", "answer": "21.5 C", "delay_ms": 300},
        {"command": "*IDN?", "answer": "QX Oven,OV-1"},
        {"command": "SETP?", "answer": "40 C"},
        {"command": "WARMUP?", "answer": "ready", "delay_ms": 800},
        {"command": "NEVER?", "answer": "too late", "delay_ms": 60000},
        {"command": "VEL? X", "answer": "5 mm/s", "delay_ms": 50},
        {"command": "ADD? {number} {number}", "answer": "{1} plus {2}", "delay_ms": 50},
        {"command": "HOME", "answer": "homed", "delay_ms": 50}],
        "reset": "SILENT?"})";
    return path;
}

TEST_F(ZelbridgeTool, EveryAnswerIsPrintedWithItsOwnCommandHoweverLateItComes)
{
    const Arguments oven{"--driver", ZELBRIDGE_SIMULATOR_FILE, "--prefix", "SIM_", "--usb", WriteSlowOvenFile()};
    const auto on = [&](const char* subcommand, const Arguments& rest) {
        Arguments arguments{subcommand};
        arguments.insert(arguments.end(), oven.begin(), oven.end());
        arguments.insert(arguments.end(), rest.begin(), rest.end());
        return arguments;
    };
    const struct {
        Arguments arguments;
        const char* input;
        int exitCode;
        const char* out;
        // What standard error holds, line by line; a line of digits stands for a time.
        std::vector<const char*> err;
    } cases[] = {
        {on("send", {"TEMP?", "*IDN?", "SETP?"}), "", 0, "21.5 C\nQX Oven,OV-1\n40 C\n", {}},
        // Input that is not a terminal gets answers only, no prompts.
        {on("shell", {}), "TEMP?\n*IDN?\nSETP?\n", 0, "21.5 C\nQX Oven,OV-1\n40 C\n", {}},
        // NEVER? holds back every answer after it: *IDN? waits behind it
        // until NEVER?'s answer is owed too long to tell the next ones apart.
        {on("send", {"--timeout", "300", "NEVER?", "*IDN?", "SETP?"}), "", 1, "",
         {"zelbridge: NEVER?: no answer within 300 ms; it is printed as a late answer if it comes",
          "zelbridge: *IDN?: no answer to NEVER? came within 3000 ms (10 times its timeout of 300 ms, 1000 ms at least), "
          "so the answers that follow cannot be told apart; type :clear in zelbridge shell to drop the answers owed (a "
          "new zelbridge send starts in step)",
          "zelbridge: NEVER?: given up after #### ms: its answer never came",
          "zelbridge: *IDN?: given up after #### ms: its answer never came"}},
        // Given up on at 500 ms, answered at 800 ms while *IDN? waits behind it.
        {on("shell", {"--timeout=500"}), "WARMUP?\n*IDN?\n", 1, "QX Oven,OV-1\n",
         {"zelbridge: WARMUP?: no answer within 500 ms; it is printed as a late answer if it comes",
          "zelbridge: late answer to WARMUP?: ready"}},
        {on("send", {"--timeout", "500", "WARMUP?", "*IDN?"}), "", 1, "QX Oven,OV-1\n",
         {"zelbridge: WARMUP?: no answer within 500 ms; it is printed as a late answer if it comes",
          "zelbridge: late answer to WARMUP?: ready"}},
        // Still owed when the input ends: waited for once more.
        {on("shell", {"--timeout=500"}), "WARMUP?\n", 1, "",
         {"zelbridge: WARMUP?: no answer within 500 ms; it is printed as a late answer if it comes",
          "zelbridge: late answer to WARMUP?: ready"}},
        // A query is any command whose first word ends in "?".
        {on("send", {"VEL? X"}), "", 0, "5 mm/s\n", {}},
        {on("send", {"ADD? 2 3", "*IDN?"}), "", 0, "2 plus 3\nQX Oven,OV-1\n", {}},
        // Never answered: waited for once more, then given up, saying so, before the tool exits.
        {on("send", {"--timeout", "300", "ADD? 2 3", "SILENT?"}), "", 1, "2 plus 3\n",
         {"zelbridge: SILENT?: no answer within 300 ms; it is printed as a late answer if it comes",
          "zelbridge: SILENT?: given up after #### ms: its answer never came"}},
        // Another command is not waited for, whatever it may answer.
        {on("send", {"HOME"}), "", 0, "", {}},
        // A refused command is owed no answer: the next query gets its own.
        {on("shell", {}), "FLY?\nSETP?\n", 1, "40 C\n", {"zelbridge: FLY?: error -301: unknown command"}},
    };
    for (const auto& session : cases) {
        const ToolRun run = RunTool(session.arguments, session.input);
        EXPECT_EQ(run.exitCode, session.exitCode) << session.arguments.front() << session.input << run.err;
        EXPECT_EQ(run.out, session.out) << session.arguments.front() << session.input;
        EXPECT_EQ(WithoutTimes(run.err), JoinedLines(session.err)) << session.arguments.front() << session.input;
    }
}

// The wrong-answer fault: after a query whose answer comes 3 s late, ten
// queries each print their own answer, in send and in shell fed by a pipe;
// the late one is printed on standard error with its own query.
TEST_F(ZelbridgeTool, TenQueriesAfterOneThatTimedOutEachPrintTheirOwnAnswer)
{
    std::vector<std::string> queries{"VERYSLOW?"};
    std::string expected;
    for (int n = 0; n < 10; ++n) {
        const bool medium = n % 5 == 0;
        queries.push_back(medium ? "MEDIUM?" : "NAME? " + std::to_string(n));
        expected += (medium ? std::string("medium") : "name " + std::to_string(n)) + "\n";
    }
    Arguments send{"send", "--driver", ZELBRIDGE_SIMULATOR_FILE, "--prefix", "SIM_", "--usb", BinaryPath("late_answers.json"),
                   "--timeout", "1000"};
    Arguments shell = send;
    shell[0] = "shell";
    send.insert(send.end(), queries.begin(), queries.end());
    std::string input;
    for (const std::string& query : queries)
        input += query + "\n";
    const char* const err = "zelbridge: VERYSLOW?: no answer within 1000 ms; it is printed as a late answer if it comes\n"
                            "zelbridge: late answer to VERYSLOW?: too late\n";
    for (const ToolRun& run : {RunTool(send), RunTool(shell, input)}) {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, expected);
        EXPECT_EQ(run.err, err);
    }
}

// An answer longer than the recorder keeps whole is printed whole, also
// while it is recorded; over --answer-bound it is read in full, printed cut
// and the cut counted, and the answer after it is still its own query's.
TEST_F(ZelbridgeTool, ALongAnswerIsPrintedWholeOrSaysHowMuchIsCut)
{
    const std::string answer = std::string(2 * 1024 * 1024 - 7, 'a') + "the end";
    const std::string path = BinaryPath("long_answer.json");
    std::ofstream(path) << R"({"commands": [{"command": "LONG?", "answer": ")" << answer
                        << R"("}, {"command": "SHORT?", "answer": "short"}]})";
    const std::string recording = BinaryPath("long_answer_recording.jsonl");
    std::remove(recording.c_str());
    SetEnvironment("ZELBRIDGE_RECORD", recording.c_str());
    const Arguments send{"send", "--driver", ZELBRIDGE_SIMULATOR_FILE, "--prefix", "SIM_", "--usb", path, "LONG?", "SHORT?"};
    const ToolRun whole = RunTool(send);
    UnsetEnvironment("ZELBRIDGE_RECORD");
    EXPECT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(whole.out, answer + "\nshort\n");
    EXPECT_EQ(whole.err, "");
    std::ifstream recorded(recording);
    EXPECT_TRUE(recorded) << "the session was recorded";

    Arguments bounded = send;
    bounded.insert(bounded.begin() + 1, {"--answer-bound", "1048576"});
    const ToolRun cut = RunTool(bounded);
    EXPECT_EQ(cut.exitCode, 0) << cut.err;
    EXPECT_EQ(cut.out, answer.substr(0, 1048576) + "\nshort\n");
    EXPECT_EQ(cut.err, "zelbridge: LONG?: the answer is cut after 1048576 bytes: 1048576 more bytes over --answer-bound\n");
}

std::size_t Occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The tool links the module's code for check and loads the module: only the
// module says its warnings, on the debug output (standard error off Windows).
TEST_F(ZelbridgeTool, EachModuleWarningIsPrintedOnce)
{
    const std::string unopenable = BinaryPath("x.jsonl", "no-such-folder");
    SetEnvironment("ZELBRIDGE_TRACE", "bogus");
    SetEnvironment("ZELBRIDGE_RECORD", unopenable.c_str());
    const ToolRun run = RunTool(OnLoopback("send", {"--pci", "0", "*IDN?"}));
    UnsetEnvironment("ZELBRIDGE_TRACE");
    UnsetEnvironment("ZELBRIDGE_RECORD");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::size_t once = PathSeparator() == '\\' ? 0 : 1;
    EXPECT_EQ(Occurrences(run.err, "ZELBRIDGE_TRACE=bogus is not understood"), once) << run.err;
    EXPECT_EQ(Occurrences(run.err, "named by ZELBRIDGE_RECORD"), once) << run.err;
}

TEST(QueryRule, AgreesWithTheCasesThePythonPackageIsTestedAgainst)
{
    std::ifstream file(BinaryPath("query_cases.json"));
    ASSERT_TRUE(file) << "query_cases.json is copied next to the tests";
    const nlohmann::json table = nlohmann::json::parse(file);
    ASSERT_GT(table.at("cases").size(), 30u);
    for (const nlohmann::json& example : table.at("cases"))
        EXPECT_EQ(tool::IsQuery(example.at("command").get<std::string>()), example.at("query").get<bool>())
            << example.at("command");
    ASSERT_GT(table.at("answers").size(), 5u);
    for (const nlohmann::json& example : table.at("answers"))
        EXPECT_EQ(tool::TrimmedAnswer(example.at("answer").get<std::string>()), example.at("returned").get<std::string>())
            << example.at("answer");
}

TEST_F(ZelbridgeTool, ConfigStoresTheInstallPathWhereTheModuleReadsItAndRemovesIt)
{
    const std::string folder = Folder("installed");
    const ToolRun set = RunTool({"config", "--install-path", folder + PathSeparator()});
    const ToolRun missing = RunTool({"config", "--install-path", Folder("no_such_folder")});
#if defined(_WIN32)
    EXPECT_EQ(set.exitCode, 0) << set.err;
    EXPECT_TRUE(Contains(set.out, "Install path set to " + folder + " in HKEY_LOCAL_MACHINE\\Software\\QX\\Zelbridge"));
    EXPECT_EQ(missing.exitCode, 0) << missing.err;
    EXPECT_EQ(missing.err, "zelbridge: warning: " + Folder("no_such_folder") +
                               " does not exist (yet); stored all the same; put the driver libraries there\n");
    RunTool({"config", "--install-path", folder});
    const ToolRun check = RunTool({"check", "--driver", "drv_installed.dll", "--prefix", "DRV_"});
    EXPECT_EQ(check.exitCode, 0) << check.out;
    EXPECT_TRUE(Contains(check.out, "Install path:     " + folder + "\n"));
    EXPECT_EQ(RunTool({"config", "--unset"}).exitCode, 0);
    EXPECT_TRUE(Contains(RunTool({"config"}).out, "Install path:     (none set)\n"));
#else
    // A program cannot set its caller's environment: it says what to export.
    EXPECT_EQ(set.exitCode, 0) << set.err;
    EXPECT_TRUE(Contains(set.out, "export ZELBRIDGE_PATH='" + folder + "'\n"));
    EXPECT_EQ(missing.err, "zelbridge: warning: " + Folder("no_such_folder") +
                               " does not exist (yet); put the driver libraries there\n");
    EXPECT_TRUE(Contains(set.out, "nothing is stored"));
    EXPECT_TRUE(Contains(RunTool({"config", "--unset"}).out, "unset ZELBRIDGE_PATH\n"));
#endif
    // A file is refused, with the folder it lies in offered.
    const ToolRun file = RunTool({"config", "--install-path", BinaryPath(ZELBRIDGE_TOOL_FILE)});
    EXPECT_EQ(file.exitCode, 1);
    EXPECT_EQ(file.err, "zelbridge: " + BinaryPath(ZELBRIDGE_TOOL_FILE) + " is a file, not a folder: give the folder "
                        "that holds the driver libraries, such as " + BinaryDirectory() + "\n");
    EXPECT_TRUE(Contains(RunTool({"config"}).out, "Install path:     (none set)\n"));
}

TEST_F(ZelbridgeTool, CheckListsWhichOperationsTheDriverExports)
{
    const ToolRun run = RunTool(OnLoopback("check", {}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "Install path:     (none set)\n"));
    EXPECT_TRUE(Contains(run.out, "Loaded:           yes\n"));
    EXPECT_TRUE(Contains(run.out, "Exports 28 of the 28 operations as \"LOOP_\""));
    EXPECT_TRUE(Contains(run.out, "  yes  LOOP_ReceiveNonZELString\n"));

    // A value that is not set has no size, ending or folder.
    const ToolRun json = RunTool(OnLoopback("check", {"--json"}));
    const nlohmann::json path = nlohmann::json::parse(json.out).at("installPath");
    EXPECT_EQ(path.at("state"), "not-set");
    for (const char* member : {"size", "terminated", "folderExists", "path"})
        EXPECT_TRUE(path.at(member).is_null()) << member << ": " << path;
}

TEST_F(ZelbridgeTool, CheckLooksForABareDriverNameInTheInstallFolder)
{
    installPath.Set(Folder("installed"));
    const ToolRun run = RunTool({"check", "--driver", "drv_installed.dll", "--prefix", "DRV_"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Install path:     " + Folder("installed") + "\n"));
    EXPECT_TRUE(Contains(run.out, "File tried:       " + Folder("installed") + PathSeparator()));
    EXPECT_TRUE(Contains(run.out, "Exports 28 of the 28"));
}

TEST_F(ZelbridgeTool, CheckFamilyShowsTheFileTriedAndEveryMissingDriverFunction)
{
    // A complete library next to the tool.
    const ToolRun complete = RunTool({"check", "--family", "m329"});
    EXPECT_EQ(complete.exitCode, 0) << complete.out;
    EXPECT_TRUE(Contains(complete.out, "Family:           M329_\n"));
    EXPECT_TRUE(Contains(complete.out, "File tried:       M329_ZEL_DLL.DLL\n"));
    EXPECT_TRUE(Contains(complete.out, "All 16 driver functions are present.\n"));

    installPath.Set(Folder("families_incomplete"));
    const ToolRun incomplete = RunTool({"check", "--family", "M329_"});
    EXPECT_EQ(incomplete.exitCode, 1);
    EXPECT_TRUE(Contains(incomplete.out, "Loaded:           yes\n"));
    EXPECT_TRUE(Contains(incomplete.out, "1 of the 16 driver functions are missing"));
    EXPECT_TRUE(Contains(incomplete.out, "\n  M329_GetCurrentInterfaceId\n"));

    // M317_VB_ resolves the M317_ names: its own M317_VB_Connect does not count.
    const ToolRun renamed = RunTool({"check", "--family", "M317_VB"});
    EXPECT_EQ(renamed.exitCode, 1);
    EXPECT_TRUE(Contains(renamed.out, "\n  M317_Connect\n"));

    installPath.Set(Folder("installed"));
    const ToolRun missing = RunTool({"check", "--family", "T520"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(Contains(missing.out, "File tried:       " + Folder("installed") + PathSeparator() + "T520_ZEL_DLL.DLL\n"));
    EXPECT_TRUE(Contains(missing.out, "Loaded:           no, error "));
}

TEST_F(ZelbridgeTool, TheSimulatorAndItsFamilyLibrariesExportAllTheyMustAndAnswerTheExampleStage)
{
    const ToolRun check = RunTool({"check", "--driver", ZELBRIDGE_SIMULATOR_FILE, "--prefix", "SIM_"});
    EXPECT_EQ(check.exitCode, 0) << check.out;
    EXPECT_TRUE(Contains(check.out, "Exports 28 of the 28 operations as \"SIM_\""));

    // The session the simulator guide shows, on the simulator's clock stopped at 0:
    // the move has started and stays where it started.
    const std::string clock = BinaryPath("stopped-clock");
    std::ofstream(clock) << "0\n";
    SetEnvironment("ZELBRIDGE_SIM_CLOCK", clock.c_str());
    const ToolRun shell = RunTool({"shell", "--driver", ZELBRIDGE_SIMULATOR_FILE, "--prefix", "SIM_", "--usb",
                                   BinaryPath("Simulator.json")},
                                  "*IDN?\nMOVE X 12.5\nONT? X\nPOS? X\nMOVE X 80\nAXIS? 2\n");
    UnsetEnvironment("ZELBRIDGE_SIM_CLOCK");
    std::remove(clock.c_str());
    EXPECT_EQ(shell.exitCode, 1);
    EXPECT_EQ(shell.out, "QX Motion,ST-200,SIM-0001,2.1.0\n0\n0.000 mm\naxis 2: linear, 100 mm travel\n");
    EXPECT_EQ(shell.err, "zelbridge: MOVE X 80: error 7: Position out of limits\n");

    installPath.Set(Folder(SIMULATED_FAMILIES_FOLDER));
#define ZELBRIDGE_FAMILY_NAME(family, ...) #family,
    for (const char* family : {ZELBRIDGE_FAMILIES(ZELBRIDGE_FAMILY_NAME)}) {
        const ToolRun run = RunTool({"check", "--family", family});
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_TRUE(Contains(run.out, " driver functions are present.\n"));
    }
#undef ZELBRIDGE_FAMILY_NAME
}

TEST_F(ZelbridgeTool, ReplayChecksARecordedSessionCommandByCommandAndNamesTheRecordOfABrokenOne)
{
    const std::string recording = BinaryPath("tool-session.jsonl");
    std::remove(recording.c_str());
    SetEnvironment("ZELBRIDGE_RECORD", recording.c_str());
    RunTool({"shell", "--driver", ZELBRIDGE_SIMULATOR_FILE, "--prefix", "SIM_", "--usb", BinaryPath("Simulator.json")},
            "*IDN?\nMOVE X 80\nAXES?\n");
    UnsetEnvironment("ZELBRIDGE_RECORD");
    const ToolRun replay = RunTool({"replay", recording});
    EXPECT_EQ(replay.exitCode, 0) << replay.out << replay.err;
    EXPECT_TRUE(Contains(replay.out, "1 connections, 3 commands, 1 error texts\n"));
    EXPECT_TRUE(Contains(replay.out, ": MOVE X 80 => error 7 \"Position out of limits\"\n"));
    EXPECT_TRUE(Contains(replay.out, "replays cleanly: 3 of 3 commands\n"));

    std::ofstream(recording, std::ios::app) << "{\"entry\": \"GetError\", \"system\": 0, \"result\": \"7\"}\n";
    const ToolRun broken = RunTool({"replay", recording});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_TRUE(Contains(broken.err, "\", record "));
    EXPECT_TRUE(Contains(broken.err, "\"result\" must be a whole number"));
}

} // namespace
} // namespace zelbridge::test
