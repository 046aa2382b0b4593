// Runs the built zelbridge program as a user would, with standard input from
// a text and its output and exit code collected.
#pragma once

#include <string>
#include <vector>

namespace zelbridge::test {

struct ToolRun {
    int exitCode = -1;
    // Line ends as "\n", whatever the platform wrote.
    std::string out;
    std::string err;
};

ToolRun RunTool(const std::vector<std::string>& arguments, const std::string& input = "");

} // namespace zelbridge::test
