// Eight threads tracing into one file at once, run under a checker that sees
// inside the C++ library (the sanitizers do not): every line must reach the
// file whole, and the checker must find no race. Exits non-zero on a fault.
#include "diag/trace_stream.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 40;

// A line that tells its thread and number, and in its items whether it is whole.
void WriteLine(zelbridge::TraceStream& trace, int thread, int line)
{
    trace << "thread " << static_cast<std::int32_t>(thread) << " line " << static_cast<std::uint32_t>(line)
          << " : " << "abcdefghijklmnopqrstuvwxyz" << " end\n";
    trace << "thread " << static_cast<std::int32_t>(thread) << " echo " << static_cast<std::uint32_t>(line)
          << std::endl;
}

std::string Expected(int thread, int line, const char* kind)
{
    std::string text = "thread " + std::to_string(thread) + " " + kind + " " + std::to_string(line);
    return kind[0] == 'l' ? text + " : abcdefghijklmnopqrstuvwxyz end" : text;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TRACE-FILE\n", argv[0]);
        return 2;
    }
    std::remove(argv[1]);
    {
        zelbridge::TraceStream trace((std::string("file:") + argv[1]).c_str());
        std::vector<std::thread> threads;
        for (int thread = 0; thread < kThreads; ++thread)
            threads.emplace_back([&trace, thread] {
                for (int line = 0; line < kLinesPerThread; ++line)
                    WriteLine(trace, thread, line);
            });
        for (std::thread& thread : threads)
            thread.join();
    }
    std::set<std::string> expected;
    for (int thread = 0; thread < kThreads; ++thread)
        for (int line = 0; line < kLinesPerThread; ++line)
            for (const char* kind : {"line", "echo"})
                expected.insert(Expected(thread, line, kind));
    std::ifstream file(argv[1]);
    int faults = 0;
    std::size_t lines = 0;
    for (std::string text; std::getline(file, text); ++lines)
        if (expected.erase(text) != 1 && ++faults <= 5)
            std::fprintf(stderr, "not a whole line of its own: \"%s\"\n", text.c_str());
    for (const std::string& missing : expected)
        if (++faults <= 10)
            std::fprintf(stderr, "missing: \"%s\"\n", missing.c_str());
    std::printf("%zu lines read, %d faults\n", lines, faults);
    return faults == 0 ? 0 : 1;
}
