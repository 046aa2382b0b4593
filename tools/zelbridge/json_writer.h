// Writing JSON text to a stream: objects, arrays, strings, numbers and
// booleans, with every string escaped.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace zelbridge::tool {

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }
    // The name of the member whose value comes next.
    JsonWriter& Key(const char* name);
    JsonWriter& Value(const std::string& text);
    JsonWriter& Value(const char* text) { return Value(std::string(text)); }
    JsonWriter& Value(bool value);
    JsonWriter& Value(std::int64_t value);
    JsonWriter& Null();

private:
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    // A comma before every value but the first of its object or array.
    void BeforeValue();
    void WriteString(const std::string& text);

    std::ostream& out_;
    // Per open object or array: whether it has a member yet.
    std::vector<bool> hasMember_;
    bool afterKey_ = false;
};

} // namespace zelbridge::tool
