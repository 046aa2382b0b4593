// The memory a test shares with the driver libraries it loads: the drivers
// append a line per call (and per load and unload) and take their results and
// answers from it. It lives in the test program, so its records outlive the
// drivers' unloading. The drivers find it through ZELBRIDGE_TEST_SCRIPT,
// which holds its address.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zelbridge::test {

inline constexpr const char kDriverScriptVariable[] = "ZELBRIDGE_TEST_SCRIPT";

struct DriverScript {
    struct Result {
        char function[64];
        std::int32_t value;
    };

    // Held while a line is appended: drivers may be called from several threads.
    std::atomic<int> logLock;
    char log[32768];
    std::size_t logLength;
    Result results[64];
    int resultCount;
    // What ZelGetAnswer copies into the caller's buffer and ZelGetAnswerSize reports.
    char answer[256];
    std::int32_t answerSize;
    // ZelGetAnswer fills the buffer with the answer's bytes and no terminator.
    bool answerUnterminated;
    // Calls are counted but not logged; loads and unloads are always logged.
    bool muteCalls;
    // How often each "tag:function", "tag:load" and "tag:unload" happened.
    struct Count {
        char event[64];
        std::atomic<int> value;
    };
    Count counts[256];
};

} // namespace zelbridge::test
