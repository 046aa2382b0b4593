// The records a recording's reader left out, named the same way by every
// subcommand that reads recordings: replay, describe and timeline.
#pragma once

#include "recording/recording_reader.h"

#include <ostream>
#include <string>

namespace zelbridge::tool {

// "left out, unreadable: record 6 (byte 466): ..." for each, the first
// hundred of a file torn in many places, then how many more.
void ListLeftOutRecords(const recording::Recording& recording, std::ostream& out);

// The first record left out, and how many more, for the one line that says
// why the subcommand fails: "\"FILE\", record 6 (byte 466): ... (and 2 more
// records named above)". Empty when none was left out.
std::string FirstLeftOutRecord(const recording::Recording& recording, const std::string& path);

std::string Plural(std::size_t count, const char* one, const char* more);

} // namespace zelbridge::tool
