// The HTTP/1.1 side of `zelbridge serve`: connections and their deadlines,
// the bounds on connections in all and per client address, the bearer
// token, the size bounds, and the routes handed to the service.
#pragma once

#include "remote_service.h"

#include <boost/beast/http.hpp>

#include <chrono>
#include <functional>
#include <string>

namespace zelbridge::tool::serve {

struct Listener {
    std::string address = "127.0.0.1";
    unsigned short port = 8765;
};

// What a connection may hold of the server, and for how long.
struct ConnectionLimits {
    // Connections open at once, in all and from one client address. Past
    // either bound the connection waiting longest for its next request is
    // closed to make room; when none waits, the newcomer gets 503.
    int capacity = 128;
    int capacityPerAddress = 32;
    // From a request's first byte to the end of its header, then its body.
    std::chrono::milliseconds headerDeadline{5000};
    std::chrono::milliseconds bodyDeadline{20000};
    // A kept-alive connection with no new request is closed after this.
    std::chrono::milliseconds idleTimeout{30000};
    std::chrono::milliseconds writeDeadline{30000};
};

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;

// The header and body bounds every request is read with.
void LimitRequest(boost::beast::http::request_parser<boost::beast::http::string_body>& parser);

// One request read whole: the bearer token checked, then the service's
// answer. The fuzz target feeds requests here as a connection does.
HttpReply AnswerRequest(Service& service, const std::string& token, Log& log, const std::string& peer,
                        const HttpRequest& request);

// Serves until the process is interrupted or terminated; `listening` is
// told the port once connections are accepted. Throws Failure when the
// address cannot be listened on.
void ServeHttp(Service& service, const Listener& listener, const ConnectionLimits& limits, const std::string& token,
               Log& log, const std::function<void(unsigned short)>& listening);

} // namespace zelbridge::tool::serve
