// What requests and answers look like as JSON: the strict reading of a body,
// its typed fields, the error body, and the listing of served operations.
#pragma once

#include "api_error.h"
#include "remote_service.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <string>

namespace zelbridge::tool::serve {

using json = nlohmann::json;

// Driver texts are bytes in the system's code page; what is not UTF-8 is replaced.
std::string Dump(const json& value);
HttpReply Reply(int status, const json& body);
HttpReply ErrorReply(const ApiError& error);

// Strict JSON: one object, no comments, no key twice.
json ParseBody(const std::string& body);

// The fields of a request body, each read once with its type checked.
class Fields {
public:
    Fields(const json& body, std::initializer_list<const char*> known);

    bool Has(const char* name) const { return body_.contains(name); }
    std::int32_t Integer(const char* name, std::int32_t fallback, std::int64_t least, std::int64_t most) const;
    std::string Text(const char* name) const;
    bool Flag(const char* name) const;
    const json& Array(const char* name) const;

    static std::int32_t CheckedInteger(const json& value, const std::string& name, std::int64_t least, std::int64_t most);
    static std::string CheckedText(const json& value, const std::string& name);

private:
    const json& body_;
};

// GET /v1/operations: each operation served, with what it takes and gives,
// and each one not served, with why.
const std::string& OperationsListing();

// GET /openapi.json: the document in the tree with the families and the
// served operations its routes take, listed from the same tables.
const std::string& ServedApiDocument();

} // namespace zelbridge::tool::serve
