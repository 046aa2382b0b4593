// Starting the tool in a process of its own: CreateProcess on Windows,
// posix_spawn elsewhere, with its standard streams on files next to the tests.
#include "tool_runner.h"

#include "test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace zelbridge::test {
namespace {

// Files of this test process only: tests may run in parallel.
std::string StreamFile(const char* stream)
{
#if defined(_WIN32)
    const unsigned long process = GetCurrentProcessId();
#else
    const unsigned long process = static_cast<unsigned long>(getpid());
#endif
    return BinaryPath("tool-run-" + std::to_string(process) + "." + stream);
}

std::string TakeFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    file.close();
    std::remove(path.c_str());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

#if defined(_WIN32)

// Quoted so that the C runtime's command-line parser gives back `argument`.
std::string Quote(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + '"';
}

int Spawn(const std::string& program, const std::vector<std::string>& arguments, const std::string& in,
          const std::string& out, const std::string& err)
{
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const auto open = [&](const std::string& path, DWORD access, DWORD disposition) {
        return CreateFileA(path.c_str(), access, FILE_SHARE_READ, &inherited, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open(in, GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = open(out, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = open(err, GENERIC_WRITE, CREATE_ALWAYS);
    std::string commandLine = Quote(program);
    for (const std::string& argument : arguments)
        commandLine += " " + Quote(argument);
    PROCESS_INFORMATION process{};
    DWORD exitCode = static_cast<DWORD>(-1);
    // Wine's process start can fail with an internal error when the machine
    // is loaded; it is the harness's trouble, not the tool's, so it is tried
    // again a few times before the test is failed.
    bool started = false;
    for (int attempt = 0; attempt < 4 && !started; ++attempt) {
        started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &startup, &process);
        if (!started && GetLastError() != ERROR_INTERNAL_ERROR)
            break;
        if (!started)
            Sleep(250);
    }
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
    }
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        CloseHandle(handle);
    return static_cast<int>(exitCode);
}

#else

int Spawn(const std::string& program, const std::vector<std::string>& arguments, const std::string& in,
          const std::string& out, const std::string& err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> argumentList{program};
    argumentList.insert(argumentList.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentList)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int failure = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        ADD_FAILURE() << "cannot start " << program << ": error " << failure;
        return -1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#endif

} // namespace

ToolRun RunTool(const std::vector<std::string>& arguments, const std::string& input)
{
    const std::string in = StreamFile("in");
    const std::string out = StreamFile("out");
    const std::string err = StreamFile("err");
    std::ofstream(in, std::ios::binary) << input;
    ToolRun run;
    run.exitCode = Spawn(BinaryPath(ZELBRIDGE_TOOL_FILE), arguments, in, out, err);
    std::remove(in.c_str());
    run.out = TakeFile(out);
    run.err = TakeFile(err);
    return run;
}

} // namespace zelbridge::test
