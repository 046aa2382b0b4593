// Help texts, with examples that run as written against the loopback driver
// built with the tool.
#include "help_text.h"

#ifndef ZELBRIDGE_MODULE_FILE
#error "the build names the Zelbridge module file"
#endif
#ifndef ZELBRIDGE_LOOPBACK_FILE
#error "the build names the loopback driver file"
#endif

namespace zelbridge::tool {
namespace {

#define LOOPBACK ZELBRIDGE_LOOPBACK_FILE

#define CONNECTION_OPTIONS                                                                              \
    "CONNECTION, exactly one, calls the connect entry point named:\n"                                  \
    "  --rs232 PORT,BAUD     ConnectRS232(PORT, BAUD)\n"                                                \
    "  --tcp HOST,PORT       ConnectTCPIP(HOST, PORT)\n"                                                \
    "  --gpib BOARD,DEVICE   ConnectNIgpib(BOARD, DEVICE)\n"                                            \
    "  --usb DESCRIPTION     ConnectUSB(DESCRIPTION)\n"                                                 \
    "  --pci BOARD           Connect(BOARD): the driver's ConnectPciBoard, else its Connect\n"

#define ANSWER_WAIT                                                                                   \
    "A query, a command whose first word ends in ? (*IDN?, POS? X), is due an\n"                       \
    "answer: the tool waits for it up to --timeout MS (default 2000), polling the\n"                   \
    "driver, and a query unanswered by then is an error. Answers come in the order\n"                  \
    "asked, so each goes to the oldest query still owed one: one that comes after\n"                   \
    "its query timed out is printed on standard error as \"late answer to QUERY:\n"                    \
    "ANSWER\", never under another command. An answer owed --give-up-factor N\n"                       \
    "times its timeout (default 10, 1 s at least) puts the connection out of step:\n"                  \
    "queries are refused until the shell line :clear. Before the tool exits, a\n"                      \
    "query still owed its answer is waited for once more, then given up, named.\n"                     \
    "An answer longer than --answer-bound BYTES (default 16777216) is printed cut,\n"                  \
    "saying how much. Another command is not waited for: its answer is printed if\n"                   \
    "the driver has it when the tool next looks.\n"

#define DRIVER_LOOKUP                                                                                   \
    "A FILE without a folder is looked for in the install folder when one is set,\n"                   \
    "else by the system's search order, which starts in the tool's own folder.\n"

constexpr char kProgramHelp[] =
    "zelbridge: drive a controller through " ZELBRIDGE_MODULE_FILE " and a driver library.\n"
    "\n"
    "Usage:\n"
    "  zelbridge send  --driver FILE --prefix PREFIX CONNECTION [--timeout MS] COMMAND...\n"
    "  zelbridge shell --driver FILE --prefix PREFIX CONNECTION [--timeout MS]\n"
    "  zelbridge check [--json]\n"
    "  zelbridge check --driver FILE --prefix PREFIX [--json]\n"
    "  zelbridge check --family NAME [--json]\n"
    "  zelbridge config [--install-path DIR | --unset]\n"
    "  zelbridge replay [--timeout MS] [--skip-bad-records] FILE\n"
    "  zelbridge serve [--listen ADDR:PORT] [--token-file FILE] [--allow-library PATH]...\n"
    "                  [--allow-data FOLDER]...\n"
    "  zelbridge describe [-o FILE] [--process PID] [--system INDEX] [--family NAME]\n"
    "                     [--connection N] [--skip-bad-records] RECORDING\n"
    "  zelbridge timeline [-o FILE] [--skip-bad-records] RECORDING|TRACE\n"
    "  zelbridge SUBCOMMAND --help\n"
    "\n"
    "  send    connect, send each COMMAND, print each answer, close\n"
    "  shell   connect, then send each line of standard input and print its answer\n"
    "  check   show how the libraries are found, whether they load, why not, and\n"
    "          what they export\n"
    "  config  show, set or remove the install path, the folder of the driver libraries\n"
    "  replay  check that a recording (ZELBRIDGE_RECORD) replays on the simulator\n"
    "  serve   serve the module over HTTP to 64-bit and remote applications\n"
    "  describe  write a simulator description of the controller a recording holds\n"
    "  timeline  draw a recording or a trace as a timeline (trace events or HTML)\n"
    "\n" CONNECTION_OPTIONS "\n"
    "The tool loads " ZELBRIDGE_MODULE_FILE " from its own folder, as an application does,\n"
    "and the driver library through it, with DefineSystem. " DRIVER_LOOKUP "\n"
    "Examples, with the loopback driver that answers *IDN?, ECHO TEXT and LINK?:\n"
    "  zelbridge send --driver " LOOPBACK " --prefix LOOP_ --rs232 1,9600 \"*IDN?\"\n"
    "  zelbridge check\n"
    "  zelbridge check --driver " LOOPBACK " --prefix LOOP_\n"
    "  zelbridge check --family M329\n"
    "\n"
    "Exit codes: 0 success, 1 failure, 2 wrong arguments.\n";

constexpr char kSendHelp[] =
    "Usage: zelbridge send --driver FILE --prefix PREFIX CONNECTION [--timeout MS] COMMAND...\n"
    "       [--answer-bound BYTES] [--give-up-factor N]\n"
    "\n"
    "Defines a system on the driver library FILE, whose functions are named PREFIX\n"
    "and the operation (LOOP_ConnectRS232, LOOP_ZelCommandset, ...), connects, sends\n"
    "each COMMAND and prints its answer on a line of its own, and closes. A command\n"
    "that has no answer prints nothing. A command the driver refuses, or a\n"
    "connection out of step, stops it with the error; a query without an answer in\n"
    "time does not. Any failure makes the exit code 1. Put -- before a COMMAND that\n"
    "starts with two dashes.\n"
    "\n" ANSWER_WAIT "\n" CONNECTION_OPTIONS "\n" DRIVER_LOOKUP "\n"
    "Examples:\n"
    "  zelbridge send --driver " LOOPBACK " --prefix LOOP_ --rs232 1,9600 \"*IDN?\"\n"
    "  zelbridge send --driver " LOOPBACK " --prefix LOOP_ --tcp 192.168.0.5,5000 \"ECHO hello\" \"LINK?\"\n";

constexpr char kShellHelp[] =
    "Usage: zelbridge shell --driver FILE --prefix PREFIX CONNECTION [--timeout MS]\n"
    "       [--answer-bound BYTES] [--give-up-factor N]\n"
    "\n"
    "Connects as send does, then reads commands from standard input, one a line,\n"
    "sends each and prints its answer, until the input ends (Ctrl-D; Ctrl-Z and\n"
    "Enter on Windows). Blank lines are skipped. A failed command prints its error\n"
    "and the shell goes on; the exit code is then 1. Before it ends, it waits for\n"
    "the answers still owed and prints them. It prompts only when standard input\n"
    "is a terminal: piped input gets the answers alone.\n"
    "\n" ANSWER_WAIT "\n" CONNECTION_OPTIONS "\n" DRIVER_LOOKUP "\n"
    "Examples:\n"
    "  zelbridge shell --driver " LOOPBACK " --prefix LOOP_ --usb LOOPBACK\n"
    "  echo \"ECHO hello\" | zelbridge shell --driver " LOOPBACK " --prefix LOOP_ --pci 0\n";

constexpr char kCheckHelp[] =
    "Usage: zelbridge check [--json]\n"
    "       zelbridge check --driver FILE --prefix PREFIX [--json]\n"
    "       zelbridge check --family NAME [--json]\n"
    "\n"
    "Finds and loads libraries with the loader code " ZELBRIDGE_MODULE_FILE " is built from,\n"
    "so what it shows is what the module does. When a library does not load, it\n"
    "says why: the file is not in the folders searched (listed in order), it is\n"
    "not a library of this architecture, a library it needs is missing, or a\n"
    "function it imports is missing from the library it imports it from. A file\n"
    "that is not a valid library is not loaded at all.\n"
    "\n"
    "Without options it shows, in one report for a support request, the install\n"
    "path and each family library and the graph library: found, missing,\n"
    "incomplete, wrong architecture, dependency missing... Exits with 1 when the\n"
    "install path or a library that is there cannot be used.\n"
    "\n"
    "--driver loads FILE as DefineSystem does (from the install folder or by the\n"
    "search order; on Windows \".DLL\" is added to a name without an extension, and\n"
    "a trailing \".\" stands for none) and shows the file tried; it lists which of\n"
    "the 28 operations it exports as PREFIX and the operation name, with the prefix\n"
    "it exports most of them under when that is another. Releasing it again calls\n"
    "its CloseConnection with -1, as the module does at exit. Exits with 1 when the\n"
    "library does not load, lacks a function it imports, or exports none of them.\n"
    "\n"
    "--family shows, for a family (M317, M317_VB, M318, M329, T520 or T5XX), the\n"
    "install path, the file tried, whether it loaded (with the system's error code\n"
    "and text and the reason when not) and every driver function the library\n"
    "lacks. Exits with 1 unless the library loads and has them all.\n"
    "\n"
    "--json writes the same facts as one JSON object.\n"
    "\n" DRIVER_LOOKUP "\n"
    "Examples:\n"
    "  zelbridge check\n"
    "  zelbridge check --driver " LOOPBACK " --prefix LOOP_\n"
    "  zelbridge check --family M329 --json\n";

constexpr char kConfigHelp[] =
    "Usage: zelbridge config\n"
    "       zelbridge config --install-path DIR\n"
    "       zelbridge config --unset\n"
    "\n"
    "Without options, shows the install path where " ZELBRIDGE_MODULE_FILE " reads it: the\n"
    "registry key, its view and the value's type, and a value in the other registry\n"
    "view, which it does not read (a 32-bit module on 64-bit Windows reads\n"
    "HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\QX\\Zelbridge).\n"
    "\n"
    "--install-path stores DIR, made absolute and without a trailing separator, in\n"
    "the view the module reads; a folder that does not exist or holds no library is\n"
    "stored with a warning. --unset removes the value. Both need an administrator's\n"
    "rights. On systems other than Windows the install path is the environment\n"
    "variable ZELBRIDGE_PATH, and config tells what to export.\n"
    "\n"
    "Examples:\n"
    "  zelbridge config\n"
    "  zelbridge config --install-path \"C:\\Program Files (x86)\\QX\\Drivers\"\n"
    "  zelbridge config --unset\n";

constexpr char kReplayHelp[] =
    "Usage: zelbridge replay [--timeout MS] [--skip-bad-records] FILE\n"
    "\n"
    "Reads the recording FILE that ZELBRIDGE_RECORD made, says what it holds, names\n"
    "each record it cannot replay (torn, edited, out of place) with its number and\n"
    "why, and\n"
    "replays each process's connections through " ZELBRIDGE_MODULE_FILE " and the simulator\n"
    "driver beside this tool, every command in order, printing what each got. Each\n"
    "command is judged by its recorded result, GetError code and answers; each\n"
    "answer is waited for up to --timeout MS (default 2000). It stops at the first\n"
    "command that differs, naming each field as recorded and as replayed, and says\n"
    "which texts were recorded cut (exit code 1 for either). A record named as bad\n"
    "makes the exit code 1 too, unless --skip-bad-records accepts replaying without\n"
    "it. Texts are printed escaped (\\n, \\t, \\xNN) and long ones cut, with their length.\n"
    "\n"
    "Example:\n"
    "  zelbridge replay stage-session.jsonl\n";

constexpr char kDescribeHelp[] =
    "Usage: zelbridge describe [-o FILE] [--process PID] [--system INDEX] [--family NAME]\n"
    "                          [--connection N] [--skip-bad-records] RECORDING\n"
    "\n"
    "Writes a simulator description (docs/reference/description-file.md) of the\n"
    "controller a recording (ZELBRIDGE_RECORD) talked to, so that the simulator\n"
    "answers as that controller did, in any order:\n"
    "  - each query with its answer, or the answers it got in turn when they\n"
    "    differed, and the median time the answer took;\n"
    "  - each setting read back (NAME ARGS VALUE, then NAME? ARGS answering the\n"
    "    value) as a property, which then answers values never recorded;\n"
    "  - each command that drew an error as that error, with its recorded text;\n"
    "  - each other command as recorded; one that ended in a number and answered\n"
    "    nothing takes any number.\n"
    "Every entry's \"source\" names the records it came from. What could not be\n"
    "derived is listed on standard error, one \"not derived:\" line each.\n"
    "\n"
    "Connections made the same way (a system on one driver library, or one\n"
    "family's connect) describe one controller; a recording of several gives a\n"
    "file each, FILE with the controller before its extension. --process,\n"
    "--system, --family and --connection (numbered as replay prints them) keep\n"
    "only the connections named. Without -o the description goes to standard\n"
    "output.\n"
    "\n"
    "A record replay cannot use (torn by a writer that died, edited, out of place)\n"
    "is named on standard error with its number, byte and why, as replay names it;\n"
    "the description is still written from every other record, and the exit code\n"
    "is 1 unless --skip-bad-records accepts a description without them.\n"
    "\n"
    "Example:\n"
    "  zelbridge describe -o stage.json stage-session.jsonl\n"
    "  ZELBRIDGE_SIM=stage.json my-application\n";

constexpr char kTimelineHelp[] =
    "Usage: zelbridge timeline [-o FILE] [--skip-bad-records] RECORDING|TRACE\n"
    "\n"
    "Writes a recording (ZELBRIDGE_RECORD) or a trace (ZELBRIDGE_TRACE=file:...) as\n"
    "Trace Event Format JSON, which Perfetto (ui.perfetto.dev) and chrome://tracing\n"
    "open: a track per process and thread, a slice per call with its arguments and\n"
    "result, failed calls marked \"error\", and each wait from a command to the\n"
    "read that got its answer. A recording holds when each call began: a call is\n"
    "a mark at its start, and the space to the next is the call's and the\n"
    "application's time together. With -o FILE.html it writes one HTML\n"
    "page instead, a timeline drawn in SVG that any browser shows offline.\n"
    "A record of a recording that replay cannot use is named on standard error\n"
    "with its number, byte and why; the timeline is drawn from every other record,\n"
    "and the exit code is 1 unless --skip-bad-records accepts one without them.\n"
    "\n"
    "Examples:\n"
    "  zelbridge timeline -o session.json stage-session.jsonl\n"
    "  zelbridge timeline -o session.html stage-session.jsonl\n";

constexpr char kServeHelp[] =
    "Usage: zelbridge serve [--listen ADDR:PORT] [--token-file FILE] [--allow-library PATH]...\n"
    "                       [--allow-data FOLDER]...\n"
    "\n"
    "Loads " ZELBRIDGE_MODULE_FILE " once and serves its calls over HTTP/1.1 with JSON bodies,\n"
    "so that 64-bit applications and other machines drive controllers whose drivers\n"
    "are 32-bit. GET /openapi.json describes the API; GET /v1/operations lists what\n"
    "is served and what is not.\n"
    "\n"
    "  --listen ADDR:PORT     where to listen (default 127.0.0.1:8765; port 0 takes a\n"
    "                         free one). Traffic is not encrypted: beyond this machine,\n"
    "                         keep 127.0.0.1 and forward the port over SSH instead.\n"
    "  --token-file FILE      the bearer token every request must carry: read from\n"
    "                         FILE when it holds one, else made and written to it\n"
    "                         (default: a new token in the user's own folder). A\n"
    "                         FILE others can read or write, or a link, is refused\n"
    "  --allow-library PATH   a folder (or file) from which a define may load a driver\n"
    "                         library named by its absolute path; a bare file name is\n"
    "                         always loaded from the install folder. Paths are\n"
    "                         checked with every link followed\n"
    "  --allow-data FOLDER    a folder whose files a request may have a driver open\n"
    "                         (the simulator's descriptions and recordings named by\n"
    "                         ConnectUSB); none unless given\n"
    "  --answer-bound BYTES   an answer longer than this (default 16777216) is read\n"
    "                         in full and returned cut, with cut_bytes\n"
    "  --give-up-factor N     an answer owed N times its query's timeout (default 10,\n"
    "                         1 s at least) puts the system out of step: 409 until\n"
    "                         POST .../clear\n"
    "\n"
    "Each client opens a session with a lease (default 30 s); a session that sends\n"
    "nothing within its lease, or is deleted, has its connections closed.\n"
    "\n"
    "Example:\n"
    "  zelbridge serve\n"
    "  curl -H \"Authorization: Bearer $(cat TOKEN-FILE)\" http://127.0.0.1:8765/v1/operations\n";

} // namespace

const char* HelpText(Subcommand subcommand) noexcept
{
    switch (subcommand) {
    case Subcommand::kSend:
        return kSendHelp;
    case Subcommand::kShell:
        return kShellHelp;
    case Subcommand::kCheck:
        return kCheckHelp;
    case Subcommand::kConfig:
        return kConfigHelp;
    case Subcommand::kReplay:
        return kReplayHelp;
    case Subcommand::kServe:
        return kServeHelp;
    case Subcommand::kDescribe:
        return kDescribeHelp;
    case Subcommand::kTimeline:
        return kTimelineHelp;
    case Subcommand::kNone:
        break;
    }
    return kProgramHelp;
}

} // namespace zelbridge::tool
