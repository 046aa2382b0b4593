// One thread per client connection, reading requests in turn on it; calls
// on different systems thus run at the same time, and a long wait for an
// answer holds its own connection only.
#include "http_server.h"

#include "cli/tool_errors.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <csignal>

namespace zelbridge::tool::serve {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

constexpr int kMostConnections = 128;
constexpr std::uint32_t kLongestHeader = 16 * 1024;
constexpr std::size_t kLongestDrain = 8 * 1024 * 1024;
// Connection threads outlive the accept loop until the process ends.
std::atomic<int> open{0};

// The same time whatever the token's first wrong character.
bool SameSecret(const std::string& given, const std::string& token)
{
    unsigned char difference = given.size() == token.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size() && i < token.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ token[i]);
    return difference == 0;
}

http::response<http::string_body> Respond(unsigned version, bool keepAlive, const HttpReply& reply)
{
    http::response<http::string_body> response{static_cast<http::status>(reply.status), version};
    response.set(http::field::server, "zelbridge");
    if (!reply.body.empty())
        response.set(http::field::content_type, "application/json");
    if (reply.status == 401)
        response.set(http::field::www_authenticate, "Bearer realm=\"zelbridge\"");
    response.keep_alive(keepAlive);
    response.body() = reply.body;
    response.prepare_payload();
    return response;
}

HttpReply Refusal(int status, const char* kind, const std::string& message)
{
    return {status, "{\"error\":{\"kind\":\"" + std::string(kind) + "\",\"message\":\"" + message + "\"}}"};
}

class Connection {
public:
    Connection(tcp::socket socket, Service& service, const std::string& token, Log& log)
        : socket_(std::move(socket)), service_(service), token_(token), log_(log)
    {
        boost::system::error_code ignored;
        const tcp::endpoint peer = socket_.remote_endpoint(ignored);
        peer_ = peer.address().to_string(ignored) + ":" + std::to_string(peer.port());
    }

    void Run()
    {
        boost::beast::flat_buffer buffer;
        for (;;) {
            http::request_parser<http::string_body> parser;
            parser.body_limit(kLargestBody);
            parser.header_limit(kLongestHeader);
            boost::system::error_code error;
            http::read(socket_, buffer, parser, error);
            if (error == http::error::end_of_stream || error == asio::error::connection_reset ||
                error == asio::error::eof || error == asio::error::connection_aborted)
                break;
            if (error) {
                const bool tooLarge = error == http::error::body_limit || error == http::error::header_limit;
                Send(Respond(11, false, tooLarge ? Refusal(413, "too_large", "the request is larger than the server takes")
                                                 : Refusal(400, "bad_request", "not an HTTP/1.1 request")));
                if (tooLarge)
                    Drain();
                break;
            }
            const http::request<http::string_body>& request = parser.get();
            const bool keepAlive = request.keep_alive();
            if (!Send(Respond(request.version(), keepAlive, Answer(request))) || !keepAlive)
                break;
        }
        boost::system::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
    }

private:
    HttpReply Answer(const http::request<http::string_body>& request)
    {
        const std::string method(request.method_string());
        const std::string target(request.target());
        const auto authorization = request.find(http::field::authorization);
        const std::string given = authorization == request.end() ? "" : std::string(authorization->value());
        const std::string scheme = "Bearer ";
        if (given.compare(0, scheme.size(), scheme) != 0 || !SameSecret(given.substr(scheme.size()), token_)) {
            // The token given, right or wrong, is never written to the log.
            log_.Line("refused " + method + " " + target + " from " + peer_ + ": " +
                      (authorization == request.end() ? "no bearer token" : "wrong bearer token"));
            return Refusal(401, "unauthorized", "a bearer token is needed: Authorization: Bearer <token>");
        }
        return service_.Handle(method, target, request.body());
    }

    // Closing with the rest of a large body unread would reset the
    // connection, and the client could lose the 413 before reading it: the
    // rest is read and dropped, up to a bound.
    void Drain()
    {
        boost::system::error_code error;
        socket_.shutdown(tcp::socket::shutdown_send, error);
        char scrap[16384];
        for (std::size_t total = 0; !error && total < kLongestDrain;)
            total += socket_.read_some(asio::buffer(scrap), error);
    }

    bool Send(const http::response<http::string_body>& response)
    {
        boost::system::error_code error;
        http::write(socket_, response, error);
        return !error;
    }

    tcp::socket socket_;
    Service& service_;
    const std::string& token_;
    Log& log_;
    std::string peer_;
};

} // namespace

void ServeHttp(Service& service, const Listener& listener, const std::string& token, Log& log,
               const std::function<void(unsigned short)>& listening)
{
    asio::io_context context;
    boost::system::error_code error;
    const asio::ip::address address = asio::ip::make_address(listener.address, error);
    if (error)
        throw Failure("--listen: " + listener.address + " is not an IP address");
    tcp::acceptor acceptor(context);
    const tcp::endpoint endpoint(address, listener.port);
    acceptor.open(endpoint.protocol(), error);
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error)
        throw Failure("cannot listen on " + listener.address + ":" + std::to_string(listener.port) + ": " + error.message());
    listening(acceptor.local_endpoint().port());

    std::function<void()> accept = [&] {
        acceptor.async_accept([&](boost::system::error_code failed, tcp::socket socket) {
            if (failed)
                return;
            boost::system::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            if (open.load() >= kMostConnections) {
                http::write(socket, Respond(11, false, Refusal(503, "busy", "too many connections")), ignored);
            } else {
                open++;
                std::thread([&service, &token, &log, s = std::move(socket)]() mutable {
                    Connection(std::move(s), service, token, log).Run();
                    open--;
                }).detach();
            }
            accept();
        });
    };
    accept();
    asio::signal_set signals(context, SIGINT, SIGTERM);
    signals.async_wait([&](boost::system::error_code, int) {
        acceptor.close();
        context.stop();
    });
    context.run();
}

} // namespace zelbridge::tool::serve
