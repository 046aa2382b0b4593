// zelbridge serve: the listening address, the token, then the server until
// the process is interrupted, when every session's connections are closed.
#include "cli/subcommands.h"
#include "cli/tool_errors.h"
#include "http_server.h"
#include "module_calls.h"
#include "os/os_services.h"

#include <cstdlib>
#include <ostream>

namespace zelbridge::tool {
namespace {

constexpr std::size_t kTokenBytes = 32;
constexpr std::size_t kShortestToken = 16;

serve::Listener ParseListen(const std::string& value)
{
    const std::string::size_type colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw UsageError("--listen takes ADDR:PORT, not '" + value + "'");
    serve::Listener listener;
    listener.address = value.substr(0, colon);
    if (listener.address.size() > 2 && listener.address.front() == '[' && listener.address.back() == ']')
        listener.address = listener.address.substr(1, listener.address.size() - 2);
    const std::string port = value.substr(colon + 1);
    char* end = nullptr;
    const unsigned long number = std::strtoul(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || number > 65535)
        throw UsageError("--listen: '" + port + "' is not a port number");
    listener.port = static_cast<unsigned short>(number);
    return listener;
}

bool IsLoopback(const std::string& address)
{
    return address.rfind("127.", 0) == 0 || address == "::1" || address == "localhost";
}

std::string NewToken()
{
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (unsigned char byte : os::RandomBytes(kTokenBytes)) {
        token += digits[byte >> 4];
        token += digits[byte & 15];
    }
    return token;
}

void WriteToken(const std::string& file, const std::string& token)
{
    const std::string failure = os::WritePrivateFile(file, token + "\n");
    if (!failure.empty())
        throw Failure("cannot write the token to " + file + ": " + failure);
}

// The token of an existing token file, else a new one written to it. The
// file must be the owner's alone: a token others can read is no secret, and
// one others can write lets them choose it.
std::string PrepareToken(const std::string& file)
{
    std::string text;
    bool exists = false;
    const std::string refused = os::ReadPrivateFile(file, text, exists);
    if (!refused.empty())
        throw Failure("the token file " + file + " is refused: " + refused);
    std::string token = text.substr(0, text.find('\n'));
    while (!token.empty() && (token.back() == '\r' || token.back() == ' '))
        token.pop_back();
    if (!token.empty()) {
        if (token.size() < kShortestToken)
            throw Failure("the token in " + file + " is shorter than " + std::to_string(kShortestToken) + " characters");
        return token;
    }
    token = NewToken();
    WriteToken(file, token);
    return token;
}

} // namespace

int RunServe(const Invocation& request, std::ostream& out, std::ostream& err)
{
    const serve::Listener listener = request.listen ? ParseListen(*request.listen) : serve::Listener{};
    // A token file named by the operator is kept; the default one is new at each start.
    const std::string tokenFile = request.tokenFile.value_or(os::DefaultTokenFile());
    std::string token;
    if (request.tokenFile) {
        token = PrepareToken(tokenFile);
    } else {
        token = NewToken();
        WriteToken(tokenFile, token);
    }

    const BridgeModule bridge;
    serve::Log log(err);
    serve::ServiceOptions options;
    options.allowedLibraries = request.allowedLibraries;
    options.answerBound = request.answerBoundBytes;
    options.giveUpFactor = request.giveUpFactorValue;
    options.allowedData = request.allowedData;
    serve::LoadedModule module(bridge);
    serve::Service service(module, options, log);
    serve::ServeHttp(service, listener, serve::ConnectionLimits{}, token, log, [&](unsigned short port) {
        out << "zelbridge serve: listening on http://" << (listener.address.find(':') != std::string::npos ? "[" + listener.address + "]" : listener.address)
            << ":" << port << "/ ; token in " << tokenFile << std::endl;
        if (!IsLoopback(listener.address))
            err << "zelbridge serve: WARNING: listening on " << listener.address
                << ", reachable from other machines, WITHOUT ENCRYPTION: the token and every command cross the "
                   "network in clear. To encrypt, listen on 127.0.0.1 (the default) and let each client forward a "
                   "port over SSH:\n  ssh -N -L 8765:127.0.0.1:"
                << port << " USER@THIS-MACHINE\nthen use http://127.0.0.1:8765 on the client." << std::endl;
    });
    service.CloseAll();
    log.Line("stopped");
    out.flush();
    err.flush();
    // Connection threads may still wait on a socket; nothing is left for them to do.
    std::_Exit(kSuccess);
}

} // namespace zelbridge::tool
