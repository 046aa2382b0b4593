// One thread per client connection, reading requests in turn on it; calls
// on different systems thus run at the same time, and a long wait for an
// answer holds its own connection only. Each thread has an I/O context of
// its own, so that its connection's reads and writes carry Beast's
// deadlines while the thread stays the only one to touch it. Threads and
// their contexts are kept for the next connection once theirs ends: under
// Wine, making them costs more than a dozen milliseconds.
#include "http_server.h"

#include "cli/tool_errors.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace zelbridge::tool::serve {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kLongestHeader = 16 * 1024;
constexpr std::size_t kLongestDrain = 8 * 1024 * 1024;
constexpr auto kDrainDeadline = std::chrono::seconds(5);

// The same time whatever the token's first wrong character.
bool SameSecret(const std::string& given, const std::string& token)
{
    unsigned char difference = given.size() == token.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size() && i < token.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ token[i]);
    return difference == 0;
}

// The authorization scheme is matched without case, as HTTP defines it.
bool BearerToken(beast::string_view authorization, std::string& token)
{
    constexpr beast::string_view scheme = "bearer";
    if (authorization.size() <= scheme.size() || !beast::iequals(authorization.substr(0, scheme.size()), scheme) ||
        authorization[scheme.size()] != ' ')
        return false;
    beast::string_view rest = authorization.substr(scheme.size());
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    token.assign(rest.data(), rest.size());
    return true;
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

class ConnectionTable;

// A client's connection: its own I/O context, the stream on it, and what
// the table needs to choose one to close.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(ConnectionTable& table, asio::io_context& context) : table_(table), context_(context) {}

    tcp::socket& Socket() { return stream_.socket(); }
    void Run(Service& service, const ConnectionLimits& limits, const std::string& token, Log& log);
    // Closes the connection from any thread: at once when `always`, else
    // only if it still waits for a request when its thread gets to it.
    void Close(bool always);

    // Under the table's lock.
    std::string address;
    Clock::time_point waitingSince = Clock::now();
    bool waiting = true;
    bool closing = false;

private:
    // Runs one asynchronous operation of the stream to its end.
    template <class Start>
    boost::system::error_code Await(Start start)
    {
        boost::system::error_code result = asio::error::operation_aborted;
        start([&result](boost::system::error_code error, std::size_t) { result = error; });
        context_.restart();
        context_.run();
        return result;
    }
    bool ReadRequest(http::request_parser<http::string_body>& parser, const ConnectionLimits& limits, Log& log);
    bool Send(const http::response<http::string_body>& response, const ConnectionLimits& limits);
    void Drain();

    ConnectionTable& table_;
    asio::io_context& context_;
    beast::tcp_stream stream_{context_};
    beast::flat_buffer buffer_;
    std::string peer_;
};

// Every open connection, for the bounds and for closing them all.
class ConnectionTable {
public:
    explicit ConnectionTable(const ConnectionLimits& limits) : limits_(limits) {}

    // Whether `newcomer` may stay, closing the connection that has waited
    // longest for a request when a bound is reached.
    bool Admit(const std::shared_ptr<Connection>& newcomer)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        int all = 0, fromAddress = 0;
        for (const auto& open : open_)
            if (!open->closing) {
                ++all;
                fromAddress += open->address == newcomer->address;
            }
        if (fromAddress >= limits_.capacityPerAddress && !CloseLongestWaiting(&newcomer->address))
            return false;
        if (all >= limits_.capacity && fromAddress < limits_.capacityPerAddress && !CloseLongestWaiting(nullptr))
            return false;
        open_.push_back(newcomer);
        return true;
    }

    void Remove(const Connection* connection)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        open_.remove_if([&](const std::shared_ptr<Connection>& open) { return open.get() == connection; });
    }

    void SetWaiting(Connection& connection, bool waiting)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        connection.waiting = waiting;
        connection.waitingSince = Clock::now();
    }

    // A connection chosen to close that had begun a request meanwhile stays.
    bool ConfirmClose(Connection& connection)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        connection.closing = connection.waiting;
        return connection.closing;
    }

    void CloseAll()
    {
        const std::lock_guard<std::mutex> guard(lock_);
        for (const auto& open : open_) {
            open->closing = true;
            open->Close(true);
        }
    }

private:
    bool CloseLongestWaiting(const std::string* address)
    {
        std::shared_ptr<Connection> chosen;
        for (const auto& open : open_)
            if (!open->closing && open->waiting && (!address || open->address == *address) &&
                (!chosen || open->waitingSince < chosen->waitingSince))
                chosen = open;
        if (!chosen)
            return false;
        chosen->closing = true;
        chosen->Close(false);
        return true;
    }

    const ConnectionLimits& limits_;
    std::mutex lock_;
    std::list<std::shared_ptr<Connection>> open_;
};

void Connection::Close(bool always)
{
    // Held by the handler: the thread may have moved on to another connection.
    asio::post(context_, [self = shared_from_this(), always] {
        if (always || self->table_.ConfirmClose(*self)) {
            boost::system::error_code ignored;
            self->stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
            self->stream_.close();
        }
    });
}

// A thread with its I/O context, serving one connection at a time.
class Worker {
public:
    using Serve = std::function<void(const std::shared_ptr<Connection>&)>;
    using Done = std::function<void(Worker&)>;

    Worker(const Serve& serve, const Done& done)
    {
        thread_ = std::thread([this, serve, done] {
            for (;;) {
                std::shared_ptr<Connection> serving;
                {
                    std::unique_lock<std::mutex> guard(lock_);
                    wake_.wait(guard, [&] { return connection_ != nullptr; });
                    serving = std::move(connection_);
                }
                serve(serving);
                serving.reset();
                // What the connection left queued runs now, not at the next one.
                context_.restart();
                context_.poll();
                done(*this);
            }
        });
        // Kept until the process ends: it may be in a driver call at a stop.
        thread_.detach();
    }

    asio::io_context& Context() { return context_; }

    void Assign(std::shared_ptr<Connection> connection)
    {
        {
            const std::lock_guard<std::mutex> guard(lock_);
            connection_ = std::move(connection);
        }
        wake_.notify_one();
    }

private:
    asio::io_context context_{1};
    std::mutex lock_;
    std::condition_variable wake_;
    std::shared_ptr<Connection> connection_;
    std::thread thread_;
};

// The workers, those free first; a new one only when none is free.
class WorkerPool : public std::enable_shared_from_this<WorkerPool> {
public:
    explicit WorkerPool(Worker::Serve serve) : serve_(std::move(serve)) {}

    Worker& Take()
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (free_.empty())
            return Make();
        Worker& worker = *free_.back();
        free_.pop_back();
        return worker;
    }

    void Give(Worker& worker)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        free_.push_back(&worker);
    }

    // Workers made ahead, so that a burst of connections finds them ready.
    void Grow(std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            const std::lock_guard<std::mutex> guard(lock_);
            free_.push_back(&Make());
        }
    }

    int Busy()
    {
        const std::lock_guard<std::mutex> guard(lock_);
        return static_cast<int>(all_.size() - free_.size());
    }

private:
    Worker& Make()
    {
        // Each worker holds the pool: both last until the process ends.
        all_.push_back(std::make_unique<Worker>(serve_, [pool = shared_from_this()](Worker& worker) { pool->Give(worker); }));
        return *all_.back();
    }

    Worker::Serve serve_;
    std::mutex lock_;
    std::list<std::unique_ptr<Worker>> all_;
    std::vector<Worker*> free_;
};

// A request's first byte may take as long as a kept connection stays
// open; from then on, its header and its body each have a deadline.
bool Connection::ReadRequest(http::request_parser<http::string_body>& parser, const ConnectionLimits& limits, Log& log)
{
    if (buffer_.size() == 0) {
        stream_.expires_after(limits.idleTimeout);
        const auto error = Await([&](auto done) { stream_.async_read_some(buffer_.prepare(4096), [&, done](auto e, std::size_t n) {
            buffer_.commit(n);
            done(e, n);
        }); });
        if (error)
            return false;
    }
    table_.SetWaiting(*this, false);
    // A request mostly comes whole in one read: what the buffer holds is
    // parsed at once, and only the rest is waited for, under its deadlines.
    boost::system::error_code error;
    while (!parser.is_done() && buffer_.size() > 0) {
        const std::size_t used = parser.put(buffer_.data(), error);
        buffer_.consume(used);
        if (error == http::error::need_more)
            error = {};
        if (error || used == 0)
            break;
    }
    if (!error && !parser.is_header_done()) {
        stream_.expires_after(limits.headerDeadline);
        error = Await([&](auto done) { http::async_read_header(stream_, buffer_, parser, done); });
    }
    if (!error && !parser.is_done()) {
        stream_.expires_after(limits.bodyDeadline);
        error = Await([&](auto done) { http::async_read(stream_, buffer_, parser, done); });
    }
    if (!error)
        return true;
    if (error == beast::error::timeout) {
        log.Line("closed the connection of " + peer_ + ": its request did not arrive within its deadline");
        Send(Respond(11, false, Refusal(408, "request_timeout", "the request did not arrive in time")), limits);
    } else if (error == http::error::body_limit || error == http::error::header_limit) {
        Send(Respond(11, false, Refusal(413, "too_large", "the request is larger than the server takes")), limits);
        Drain();
    } else if (error != http::error::end_of_stream && error != asio::error::eof &&
               error != asio::error::connection_reset && error != asio::error::connection_aborted &&
               error != asio::error::operation_aborted && error != asio::error::bad_descriptor) {
        Send(Respond(11, false, Refusal(400, "bad_request", "not an HTTP/1.1 request")), limits);
    }
    return false;
}

void Connection::Run(Service& service, const ConnectionLimits& limits, const std::string& token, Log& log)
{
    boost::system::error_code ignored;
    const tcp::endpoint peer = stream_.socket().remote_endpoint(ignored);
    peer_ = peer.address().to_string(ignored) + ":" + std::to_string(peer.port());
    for (;;) {
        http::request_parser<http::string_body> parser;
        LimitRequest(parser);
        if (!ReadRequest(parser, limits, log))
            break;
        const HttpRequest& request = parser.get();
        const bool keepAlive = request.keep_alive();
        if (!Send(Respond(request.version(), keepAlive, AnswerRequest(service, token, log, peer_, request)), limits) ||
            !keepAlive)
            break;
        table_.SetWaiting(*this, true);
    }
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
}

bool Connection::Send(const http::response<http::string_body>& response, const ConnectionLimits& limits)
{
    stream_.expires_after(limits.writeDeadline);
    return !Await([&](auto done) { http::async_write(stream_, response, done); });
}

// Closing with the rest of a large body unread would reset the connection,
// and the client could lose the 413 before reading it: the rest is read and
// dropped, up to a bound in bytes and in time.
void Connection::Drain()
{
    boost::system::error_code error;
    stream_.socket().shutdown(tcp::socket::shutdown_send, error);
    stream_.expires_after(kDrainDeadline);
    char scrap[16384];
    for (std::size_t total = 0; !error && total < kLongestDrain;) {
        std::size_t got = 0;
        error = Await([&](auto done) { stream_.async_read_some(asio::buffer(scrap), [&, done](auto e, std::size_t n) {
            got = n;
            done(e, n);
        }); });
        total += got;
    }
}

} // namespace

void LimitRequest(http::request_parser<http::string_body>& parser)
{
    parser.body_limit(kLargestBody);
    parser.header_limit(kLongestHeader);
}

HttpReply AnswerRequest(Service& service, const std::string& token, Log& log, const std::string& peer,
                        const HttpRequest& request)
{
    const std::string method(request.method_string());
    const std::string target(request.target());
    const auto authorization = request.find(http::field::authorization);
    std::string given;
    if (authorization == request.end() || !BearerToken(authorization->value(), given) || !SameSecret(given, token)) {
        // Neither the token given nor anything of the target that could hold it is written to the log.
        log.Line("refused " + method.substr(0, 16) + " " + RedactedTarget(target) + " from " + peer + ": " +
                 (authorization == request.end() ? "no bearer token" : "wrong bearer token"));
        return Refusal(401, "unauthorized", "a bearer token is needed: Authorization: Bearer <token>");
    }
    return service.Handle(method, target, request.body());
}

void ServeHttp(Service& service, const Listener& listener, const ConnectionLimits& limits, const std::string& token,
               Log& log, const std::function<void(unsigned short)>& listening)
{
    asio::io_context context;
    boost::system::error_code error;
    const asio::ip::address address = asio::ip::make_address(listener.address, error);
    if (error)
        throw Failure("--listen: " + listener.address + " is not an IP address");
    tcp::acceptor acceptor(context);
    const tcp::endpoint endpoint(address, listener.port);
    acceptor.open(endpoint.protocol(), error);
#if !defined(_WIN32)
    // A restart right after a stop binds the port its closed connections
    // still hold; on Windows the same option would let another program
    // take a port in use, and the bind succeeds without it.
    if (!error)
        acceptor.set_option(tcp::acceptor::reuse_address(true), error);
#endif
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error)
        throw Failure("cannot listen on " + listener.address + ":" + std::to_string(listener.port) + ": " + error.message());
    listening(acceptor.local_endpoint().port());

    // Connection threads may outlive the accept loop until the process ends:
    // what they share with it is held by them too.
    const auto table = std::make_shared<ConnectionTable>(limits);
    const auto pool = std::make_shared<WorkerPool>([&service, &limits, &token, &log, table](const std::shared_ptr<Connection>& connection) {
        connection->Run(service, limits, token, log);
        table->Remove(connection.get());
    });
    // Made after listening, while the first clients connect.
    std::thread([pool, count = static_cast<std::size_t>(limits.capacityPerAddress) + 8] { pool->Grow(count); }).detach();
    std::function<void()> accept = [&] {
        Worker& worker = pool->Take();
        auto connection = std::make_shared<Connection>(*table, worker.Context());
        acceptor.async_accept(connection->Socket(), [&, connection](boost::system::error_code failed) {
            if (failed == asio::error::operation_aborted || !acceptor.is_open()) {
                pool->Give(worker);
                return;
            }
            boost::system::error_code ignored;
            if (failed) {
                pool->Give(worker);
            } else {
                connection->Socket().set_option(tcp::no_delay(true), ignored);
                connection->address = connection->Socket().remote_endpoint(ignored).address().to_string(ignored);
                if (table->Admit(connection)) {
                    worker.Assign(connection);
                } else {
                    // A fresh socket takes a few hundred bytes without blocking.
                    connection->Socket().non_blocking(true, ignored);
                    http::write(connection->Socket(),
                                Respond(11, false, Refusal(503, "busy", "too many connections: the server's connection capacity is reached")),
                                ignored);
                    connection->Socket().close(ignored);
                    pool->Give(worker);
                }
            }
            accept();
        });
    };
    accept();
    asio::signal_set signals(context, SIGINT, SIGTERM);
    signals.async_wait([&](boost::system::error_code, int) {
        acceptor.close();
        // Answer waits end, then every connection is closed under them.
        service.Stop();
        table->CloseAll();
        context.stop();
    });
    context.run();
    // The threads end within the time a driver call takes; the caller ends
    // the process once the sessions are closed, whether or not they have.
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(500);
    while (pool->Busy() > 0 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace zelbridge::tool::serve
