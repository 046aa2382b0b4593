// The JSON of requests and answers: bodies read strictly, fields read once
// with their types checked, and the listing of served operations.
#include "json_shapes.h"

#include "api_document.h"
#include "served_operations.h"

#include <algorithm>
#include <set>
#include <vector>

namespace zelbridge::tool::serve {

std::string Dump(const json& value)
{
    // Driver texts are bytes in the system's code page; what is not UTF-8 is replaced.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

HttpReply Reply(int status, const json& body)
{
    return {status, Dump(body)};
}

HttpReply ErrorReply(const ApiError& error)
{
    json body = error.details;
    body["kind"] = error.kind;
    body["message"] = error.message;
    return Reply(error.status, json{{"error", body}});
}

json ParseBody(const std::string& body)
{
    if (body.empty())
        return json::object();
    std::vector<std::set<std::string>> keys;
    std::string duplicate;
    const json::parser_callback_t watch = [&](int, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::object_start)
            keys.emplace_back();
        else if (event == json::parse_event_t::object_end && !keys.empty())
            keys.pop_back();
        else if (event == json::parse_event_t::key && !keys.empty() &&
                 !keys.back().insert(parsed.get<std::string>()).second && duplicate.empty())
            duplicate = parsed.get<std::string>();
        return true;
    };
    json value;
    try {
        value = json::parse(body, watch, true, false);
    } catch (const json::exception& error) {
        Refuse(400, "bad_request", std::string("the body is not valid JSON: ") + error.what());
    }
    if (!duplicate.empty())
        Refuse(400, "bad_request", "the body gives \"" + duplicate + "\" twice");
    if (!value.is_object())
        Refuse(400, "bad_request", "the body must be a JSON object");
    return value;
}

Fields::Fields(const json& body, std::initializer_list<const char*> known) : body_(body)
{
    for (const auto& field : body.items())
        if (std::none_of(known.begin(), known.end(), [&](const char* name) { return field.key() == name; }))
            Refuse(400, "bad_request", "unknown field \"" + field.key() + "\"");
}

std::int32_t Fields::Integer(const char* name, std::int32_t fallback, std::int64_t least, std::int64_t most) const
{
    if (!Has(name))
        return fallback;
    return CheckedInteger(body_.at(name), name, least, most);
}

std::string Fields::Text(const char* name) const
{
    if (!Has(name))
        Refuse(400, "bad_request", std::string("missing field \"") + name + "\"");
    return CheckedText(body_.at(name), name);
}

bool Fields::Flag(const char* name) const
{
    if (!Has(name))
        return false;
    if (!body_.at(name).is_boolean())
        Refuse(400, "bad_request", std::string("\"") + name + "\" must be true or false");
    return body_.at(name).get<bool>();
}

const json& Fields::Array(const char* name) const
{
    static const json empty = json::array();
    if (!Has(name))
        return empty;
    if (!body_.at(name).is_array())
        Refuse(400, "bad_request", std::string("\"") + name + "\" must be an array");
    return body_.at(name);
}

std::int32_t Fields::CheckedInteger(const json& value, const std::string& name, std::int64_t least,
                                   std::int64_t most)
{
    if (!value.is_number_integer())
        Refuse(400, "bad_request", name + " must be a whole number");
    const std::int64_t number = value.is_number_unsigned()
                                    ? static_cast<std::int64_t>(std::min<std::uint64_t>(value.get<std::uint64_t>(), INT64_MAX))
                                    : value.get<std::int64_t>();
    if (number < least || number > most)
        Refuse(400, "bad_request", name + " must be from " + std::to_string(least) + " to " + std::to_string(most));
    return static_cast<std::int32_t>(number);
}

std::string Fields::CheckedText(const json& value, const std::string& name)
{
    if (!value.is_string())
        Refuse(400, "bad_request", name + " must be a text");
    std::string text = value.get<std::string>();
    if (text.size() > kLongestText)
        Refuse(413, "too_large", name + " is longer than " + std::to_string(kLongestText) + " bytes");
    if (text.find('\0') != std::string::npos)
        Refuse(400, "bad_request", name + " holds a zero character");
    return text;
}

namespace {

const char* KindName(ArgumentKind kind)
{
    switch (kind) {
    case ArgumentKind::Integer:
        return "integer";
    case ArgumentKind::Text:
        return "text";
    case ArgumentKind::Buffer:
        return "capacity";
    default:
        return nullptr;
    }
}

const char* OperationKindName(OperationKind kind)
{
    switch (kind) {
    case OperationKind::Connect:
        return "connect";
    case OperationKind::Unbound:
        return "unbound";
    case OperationKind::OnConnection:
        break;
    }
    return "on_connection";
}

// A served operation as a client sees it: what it gives and what it gets.
json DescribeServed(const std::string& name, const OperationDescription& description)
{
    json arguments = json::array();
    json outputs = json::array();
    for (unsigned i = 0; i < description.arguments.count; ++i) {
        const ArgumentKind kind = description.arguments.kinds[i];
        if (const char* given = KindName(kind))
            arguments.push_back(given);
        if (kind == ArgumentKind::Buffer)
            outputs.push_back("text");
        else if (kind == ArgumentKind::IntegerOut)
            outputs.push_back("integer");
    }
    return {{"name", name},
            {"kind", OperationKindName(description.kind)},
            {"arguments", arguments},
            {"outputs", outputs},
            {"result", description.result == EntryResult::NoResult ? "none" : "integer"}};
}

json ListOperations()
{
    json generic = {{"served", json::array()}, {"not_served", json::array()}};
    for (unsigned i = 0; i < kOperationCount; ++i) {
        const OperationDescription& description = kOperations[i];
        if (const char* why = WhyNotServed(description))
            generic["not_served"].push_back({{"name", description.name}, {"reason", why}});
        else
            generic["served"].push_back(DescribeServed(description.name, description));
    }
    json families = json::array();
    for (const FamilyOperations& family : Families()) {
        json entry = {{"family", family.name}, {"served", json::array()}, {"not_served", json::array()}};
        for (const char* name : family.operations) {
            if (const char* why = WhyFamilyOperationNotServed(name))
                entry["not_served"].push_back({{"name", name}, {"reason", why}});
            else
                entry["served"].push_back(DescribeServed(name, Describe(*FindOperation(name))));
        }
        families.push_back(entry);
    }
    return {{"generic", generic}, {"families", families}};
}

const json& Listing()
{
    static const json listing = ListOperations();
    return listing;
}

// Adds to `names` (each once, in the listing's order) the served entries of
// `listing` that `wanted` keeps.
template <typename Keep> void AddServedNames(json& names, const json& listing, Keep wanted)
{
    for (const json& entry : listing["served"])
        if (wanted(entry) && std::find(names.begin(), names.end(), entry["name"]) == names.end())
            names.push_back(entry["name"]);
}

} // namespace

const std::string& OperationsListing()
{
    static const std::string listing = Dump(Listing());
    return listing;
}

const std::string& ServedApiDocument()
{
    // The document in the tree names no family or operation: those come from
    // the same tables the routes serve, so a new row needs no edit here.
    static const std::string document = [] {
        json filled = json::parse(kApiDocument);
        json& schemas = filled["components"]["schemas"];
        const json& listing = Listing();
        const auto all = [](const json&) { return true; };
        const auto on_connection = [](const json& entry) { return entry["kind"] == "on_connection"; };
        const auto unbound = [](const json& entry) { return entry["kind"] != "on_connection"; };
        json families = json::array();
        json system = json::array();
        json family_unbound = json::array();
        json family_on_connection = json::array();
        AddServedNames(system, listing["generic"], all);
        for (const json& family : listing["families"]) {
            families.push_back(family["family"]);
            AddServedNames(family_unbound, family, unbound);
            AddServedNames(family_on_connection, family, on_connection);
        }
        schemas["Family"]["enum"] = families;
        schemas["SystemOperation"]["enum"] = system;
        schemas["FamilyOperation"]["enum"] = family_unbound;
        schemas["FamilyConnectionOperation"]["enum"] = family_on_connection;
        return Dump(filled);
    }();
    return document;
}

} // namespace zelbridge::tool::serve
