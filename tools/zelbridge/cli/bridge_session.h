// One system, defined on a driver library through the Zelbridge module and
// connected over one link, driven the way an application drives it. The
// connection is closed when the session ends.
#pragma once

#include "answer_bound.h"
#include "bridge_module.h"
#include "command_line.h"
#include "diagnosis/library_probe.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zelbridge::tool {

class BridgeSession {
public:
    struct Reply {
        bool failed = false;
        // None when the command has no answer.
        std::optional<std::string> answer;
        // "error -201: unknown command", when it failed.
        std::string error;
        // Bytes of the answer left out, over the answer bound.
        std::size_t cutBytes = 0;
    };

    // Throws Failure, with the driver's error or the system's, when the
    // library cannot be loaded or the connect fails.
    BridgeSession(const BridgeModule& bridge, const std::string& driver, const std::string& prefix, const Link& link);
    ~BridgeSession();
    BridgeSession(const BridgeSession&) = delete;
    BridgeSession& operator=(const BridgeSession&) = delete;

    // Sends one command; a failed reply when the driver refuses it. Its
    // answer, if any, is collected with TakeAnswer.
    Reply Submit(const std::string& command);
    // The oldest answer the driver has ready, without waiting: a reply
    // without an answer when none is ready yet. It is read in full; what is
    // over `answerBound` bytes is cut and counted.
    Reply TakeAnswer();
    void SetAnswerBound(std::size_t bytes) noexcept { answerBound_ = bytes; }

    // For a judge of each call on its own: the driver's result of a command
    // as it stands, the pending error GetError reports (0 when none, or
    // when the driver has no GetError), and the driver's text of an error
    // (empty when it has none).
    std::int32_t SendCommand(const std::string& command);
    std::int32_t TakeError();
    std::string ErrorText(std::int32_t code);

private:
    // The result of the connect entry point the link calls.
    std::int32_t Connect(const Link& link);
    bool Exports(Operation operation) const noexcept;
    std::string FunctionName(Operation operation) const;
    // The error of the call just made, 0 when it succeeded; `exported` says
    // whether the driver function it forwards to exists.
    std::int32_t ErrorAfter(bool exported, std::int32_t result);
    // "error <code>: <text>", the text from the driver's TranslateError.
    std::string Explain(std::int32_t code, const std::string& functions);
    Reply Failed(std::int32_t code, Operation operation);
    // "; did you mean --prefix ...?", or where to see what the driver exports.
    std::string PrefixHint(const std::string& prefix, const std::string& checkCommand) const;

    const BridgeModule& bridge_;
    std::string prefix_;
    // What the library exports, to tell a missing function from a failing one.
    DriverReport driver_;
    std::int32_t index_ = -1;
    std::size_t answerBound_ = kAnswerBound;
};

} // namespace zelbridge::tool
