// The tool's exit codes and the two kinds of error that end a run.
#pragma once

#include <stdexcept>

namespace zelbridge::tool {

enum ExitCode : int {
    kSuccess = 0,
    kFailure = 1,
    kUsage = 2,
};

// The command line is wrong; the message is one line for the user.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What was asked could not be done; the message is one line for the user.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace zelbridge::tool
