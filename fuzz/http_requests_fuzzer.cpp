// Fuzzes what a client sends `zelbridge serve`: whole HTTP requests (method,
// target, headers, body, several on one connection) read by the server's
// parser with its bounds, then its token check, routing, JSON reading, path
// policy, sessions and calls, with the module replaced by a stub driver
// that answers every call at once. "SESSION" in an input stands for a
// session that exists, so that inputs reach the routes under it.
#include "platform/platform.h"
#include "serve/http_server.h"
#include "serve/module_calls.h"

#include <boost/asio/buffer.hpp>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>

namespace {

namespace http = boost::beast::http;
using zelbridge::Word;
using namespace zelbridge::tool::serve;

const std::string kToken = "fuzz-token-0123456789abcdef";

std::int32_t ZELBRIDGE_STDCALL Zero0() { return 0; }
std::int32_t ZELBRIDGE_STDCALL Zero1(Word) { return 0; }
std::int32_t ZELBRIDGE_STDCALL Zero2(Word, Word) { return 0; }
std::int32_t ZELBRIDGE_STDCALL Zero3(Word, Word, Word) { return 0; }
std::int32_t ZELBRIDGE_STDCALL Zero4(Word, Word, Word, Word) { return 0; }
std::int32_t ZELBRIDGE_STDCALL Zero5(Word, Word, Word, Word, Word) { return 0; }
int ZELBRIDGE_STDCALL Available() { return 1; }

// An answer is always ready, so that no input waits for one.
constexpr char kAnswer[] = "stub answer";
std::int32_t ZELBRIDGE_STDCALL AnswerSize(Word, Word size)
{
    *reinterpret_cast<std::int32_t*>(size) = sizeof kAnswer;
    return 0;
}

std::int32_t CopyOut(const char* text, Word buffer, Word size)
{
    if (size <= 0)
        return -1;
    std::strncpy(reinterpret_cast<char*>(buffer), text, static_cast<std::size_t>(size) - 1);
    return 0;
}

std::int32_t ZELBRIDGE_STDCALL Answer(Word, Word buffer, Word size) { return CopyOut(kAnswer, buffer, size); }
std::int32_t ZELBRIDGE_STDCALL SystemTranslate(Word, Word, Word buffer, Word size) { return CopyOut("stub error", buffer, size); }
std::int32_t ZELBRIDGE_STDCALL FamilyTranslate(Word, Word buffer, Word size) { return CopyOut("stub error", buffer, size); }

class StubDriver final : public ModuleEntries {
public:
    std::int32_t DefineSystem(const char*, const char*) const override { return next_++; }

    // The stub of the arity the server calls the export with: a system's
    // calls take its index first, a family's only when on a connection.
    zelbridge::platform::ProcAddress Export(const char* exported) const override
    {
        std::string name = exported;
        bool family = false;
        for (const FamilyOperations& candidate : Families())
            if (name.rfind(candidate.prefix, 0) == 0) {
                name = name.substr(std::strlen(candidate.prefix));
                family = true;
            }
        using zelbridge::platform::ProcAddress;
        if (name == "IsDLLAvailable")
            return reinterpret_cast<ProcAddress>(Available);
        if (name == "ZelGetAnswerSize")
            return reinterpret_cast<ProcAddress>(AnswerSize);
        if (name == "ZelGetAnswer")
            return reinterpret_cast<ProcAddress>(Answer);
        if (name == "TranslateError")
            return family ? reinterpret_cast<ProcAddress>(FamilyTranslate) : reinterpret_cast<ProcAddress>(SystemTranslate);
        const std::optional<zelbridge::Operation> operation = FindOperation(name);
        if (!operation)
            return nullptr;
        const zelbridge::OperationDescription& description = zelbridge::Describe(*operation);
        const unsigned words = description.arguments.count +
                               (!family || description.kind == zelbridge::OperationKind::OnConnection ? 1 : 0);
        static const ProcAddress byArity[] = {
            reinterpret_cast<ProcAddress>(Zero0), reinterpret_cast<ProcAddress>(Zero1),
            reinterpret_cast<ProcAddress>(Zero2), reinterpret_cast<ProcAddress>(Zero3),
            reinterpret_cast<ProcAddress>(Zero4), reinterpret_cast<ProcAddress>(Zero5)};
        return words < std::size(byArity) ? byArity[words] : nullptr;
    }

private:
    mutable std::atomic<std::int32_t> next_{0};
};

struct Server {
    StubDriver driver;
    std::ostream discard{nullptr};
    Log log{discard};
    Service service{driver, ServiceOptions{}, log};
    std::string session;

    // The session "SESSION" stands for, opened again when an input closed it.
    const std::string& Session()
    {
        if (session.empty() || service.Handle("GET", "/v1/sessions/" + session, "").status != 200) {
            const HttpReply opened = service.Handle("POST", "/v1/sessions", "{\"lease_seconds\": 86400}");
            const std::string::size_type start = opened.body.find("\"session\":\"");
            session = start == std::string::npos ? "" : opened.body.substr(start + 11, 32);
        }
        return session;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Server* server = new Server;
    std::string input(reinterpret_cast<const char*>(data), size);
    const std::string& session = server->Session();
    for (std::string::size_type at = input.find("SESSION"); at != std::string::npos; at = input.find("SESSION", at))
        input.replace(at, 7, session);

    std::string_view rest(input);
    while (!rest.empty()) {
        http::request_parser<http::string_body> parser;
        LimitRequest(parser);
        parser.eager(true);
        boost::beast::error_code error;
        while (!parser.is_done() && !rest.empty()) {
            const std::size_t used = parser.put(boost::asio::buffer(rest.data(), rest.size()), error);
            rest.remove_prefix(used);
            if (error == http::error::need_more && used > 0)
                error = {};
            else if (error)
                break;
        }
        if (!parser.is_done() && (!error || error == http::error::need_more)) {
            error = {};
            parser.put_eof(error);
        }
        if (error || !parser.is_done())
            break;
        const HttpReply reply = AnswerRequest(server->service, kToken, server->log, "fuzz", parser.get());
        if (reply.status < 200 || reply.status > 599)
            __builtin_trap();
        if (!parser.get().keep_alive())
            break;
    }
    return 0;
}
