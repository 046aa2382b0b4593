// The HTTP/1.1 side of `zelbridge serve`: connections, the bearer token,
// the size bounds, and the routes handed to the service.
#pragma once

#include "remote_service.h"

#include <functional>
#include <string>

namespace zelbridge::tool::serve {

struct Listener {
    std::string address = "127.0.0.1";
    unsigned short port = 8765;
};

// Serves until the process is interrupted or terminated; `listening` is
// told the port once connections are accepted. Throws Failure when the
// address cannot be listened on.
void ServeHttp(Service& service, const Listener& listener, const std::string& token, Log& log,
               const std::function<void(unsigned short)>& listening);

} // namespace zelbridge::tool::serve
