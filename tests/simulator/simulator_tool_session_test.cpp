// The example stage on the real clock, driven through the zelbridge shell as
// a user at a keyboard drives it: a move, then on-target polled until it ends.
#include "test_environment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#define ZB_OPEN_PIPE _popen
#define ZB_CLOSE_PIPE _pclose
#else
#define ZB_OPEN_PIPE popen
#define ZB_CLOSE_PIPE pclose
#endif

namespace zelbridge::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr char kPrompt[] = "zelbridge> ";

// A zelbridge shell whose standard input the test writes line by line, and
// whose answers it reads from the file its output goes to.
class ToolShell {
public:
    ToolShell(const std::vector<std::string>& arguments, std::string output) : output_(std::move(output))
    {
        std::string command = Quoted(BinaryPath(ZELBRIDGE_TOOL_FILE));
        for (const std::string& argument : arguments)
            command += " " + Quoted(argument);
        command += " > " + Quoted(output_);
#if defined(_WIN32)
        // cmd /c drops the first and the last quote of the line.
        command = "\"" + command + "\"";
#endif
        pipe_ = ZB_OPEN_PIPE(command.c_str(), "w");
    }
    ~ToolShell()
    {
        Close();
        std::remove(output_.c_str());
    }

    bool started() const noexcept { return pipe_ != nullptr; }

    void Send(const std::string& line)
    {
        std::fputs((line + "\n").c_str(), pipe_);
        std::fflush(pipe_);
    }

    // The next line the shell prints, without its prompts; empty if none comes by `deadline`.
    std::string NextAnswer(SteadyClock::time_point deadline)
    {
        while (SteadyClock::now() < deadline) {
            std::ifstream file(output_, std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            const std::size_t end = text.find('\n', read_);
            if (end != std::string::npos) {
                std::string line = text.substr(read_, end - read_);
                read_ = end + 1;
                for (std::size_t prompt; (prompt = line.find(kPrompt)) != std::string::npos;)
                    line.erase(prompt, sizeof kPrompt - 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return "";
    }

    // Ends the input and waits for the shell; its exit status.
    int Close()
    {
        const int status = pipe_ ? ZB_CLOSE_PIPE(pipe_) : -1;
        pipe_ = nullptr;
        return status;
    }

private:
    static std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

    std::FILE* pipe_ = nullptr;
    std::string output_;
    std::size_t read_ = 0;
};

TEST(SimulatorThroughTheTool, OnTargetIsPolledOnTheRealClockUntilTheMoveEnds)
{
    ScopedInstallPath installPath;
    installPath.Remove();
    ToolShell shell({"shell", "--driver", ZELBRIDGE_SIMULATOR_FILE, "--prefix", "SIM_", "--usb",
                     BinaryPath("Simulator.json")},
                    BinaryPath("tool-session.out"));
    ASSERT_TRUE(shell.started());
    const SteadyClock::time_point deadline = SteadyClock::now() + std::chrono::minutes(1);

    // 5 mm at 5 mm/s: a second on the move.
    shell.Send("MOVE X 5");
    std::vector<std::string> onTarget;
    while ((onTarget.empty() || onTarget.back() == "0") && SteadyClock::now() < deadline) {
        shell.Send("ONT? X");
        onTarget.push_back(shell.NextAnswer(deadline));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    shell.Send("POS? X");
    const std::string position = shell.NextAnswer(deadline);
    EXPECT_EQ(shell.Close(), 0);

    ASSERT_GE(onTarget.size(), 2u) << "the move ended before the first poll";
    EXPECT_EQ(onTarget.front(), "0");
    EXPECT_EQ(onTarget.back(), "1");
    EXPECT_EQ(position, "5.000 mm");
}

} // namespace
} // namespace zelbridge::test
