// A request the server refuses: the status, the kind a client can test, the
// message a person reads, and any details. Thrown by every room of the
// server and turned into the answer by the routing.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace zelbridge::tool::serve {

struct ApiError {
    int status;
    std::string kind;
    std::string message;
    nlohmann::json details = nlohmann::json::object();
};

[[noreturn]] inline void Refuse(int status, const std::string& kind, const std::string& message)
{
    throw ApiError{status, kind, message};
}

} // namespace zelbridge::tool::serve
