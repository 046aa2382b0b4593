// A simulator description derived from what a recording holds: each query
// with the answers it got, each setting read back as a property, each
// command that drew an error as that error.
#pragma once

#include "describe/call_records.h"
#include "recording/recording_reader.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelbridge::tool {

// Which connections to describe; each one unset takes all.
struct ConnectionFilter {
    std::optional<std::int64_t> pid;
    std::optional<std::int32_t> system;
    // A family's prefix, "M329" or "M329_".
    std::optional<std::string> family;
    // As replay numbers them, from 1.
    std::optional<std::size_t> connection;
};

// One controller: the connections made to it the same way (a generic
// system on one driver library, or one family's connect).
struct DerivedDescription {
    // "system 0 (Simulator.dll) ConnectUSB", "M329_ConnectRS232".
    std::string controller;
    // A short form of it for a file name.
    std::string fileTag;
    std::size_t connections = 0;
    nlohmann::ordered_json document;
    // What the recording could not say, one line each.
    std::vector<std::string> notDerived;
};

std::vector<DerivedDescription> DeriveDescriptions(const recording::Recording& recording, const CallRecords& calls,
                                                   const ConnectionFilter& filter, const std::string& fileName);

} // namespace zelbridge::tool
