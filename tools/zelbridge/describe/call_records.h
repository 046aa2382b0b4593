// Every call record of a recording as it was written, for the subcommands
// that need more than the reader's connections: which entry point made a
// connection, and on which thread and when each call ran.
#pragma once

#include "recording/recording_reader.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelbridge::tool {

struct CallRecord {
    // The line in the file, from 1.
    std::size_t record = 0;
    // Of the recording's processes, as the recording reader numbers them.
    std::size_t process = 0;
    double atMs = 0;
    std::uint32_t thread = 0;
    std::string entry;
    std::optional<std::int32_t> system;
    nlohmann::json args = nlohmann::json::array();
    std::optional<long long> result;
    std::optional<std::string> answer;
    std::optional<long long> size;
};

struct CallProcess {
    std::optional<std::int64_t> pid;
    // UTC, ISO 8601, as the session record says; empty without one.
    std::string started;
};

struct CallRecords {
    std::vector<CallProcess> processes;
    std::vector<CallRecord> calls;

    // The call written on line `record`, or null.
    const CallRecord* At(std::size_t record) const noexcept;
};

// The records of a recording's text that the recording reader accepted in
// `recording`, read from where the reader found them: a torn line, or a
// record the reader names as a fault, is left out here as it is there.
CallRecords ReadCallRecords(const std::string& text, const recording::Recording& recording);

// The whole file at `path`; throws std::runtime_error naming it and the
// system's reason when it cannot be read.
std::string ReadWholeFile(const std::string& path);

} // namespace zelbridge::tool
