// Parsing a command, finding its answer and queueing it.
#include "command_interpreter.h"

#include "loopback_errors.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace loopback {
namespace {

using AnswerWriter = void (*)(const Connection& connection, const char* text, char* answer, std::size_t capacity);

struct CommandEntry {
    const char* keyword;
    bool takesText;
    AnswerWriter write;
};

void Identify(const Connection& connection, const char*, char* answer, std::size_t capacity)
{
    std::snprintf(answer, capacity, "Zelbridge,Loopback,%d,1.0", static_cast<int>(connection.id));
}

void Echo(const Connection&, const char* text, char* answer, std::size_t capacity)
{
    std::snprintf(answer, capacity, "%s", text);
}

void DescribeLink(const Connection& connection, const char*, char* answer, std::size_t capacity)
{
    std::snprintf(answer, capacity, "%s", connection.link);
}

constexpr CommandEntry kCommands[] = {
    {"*IDN?", false, Identify},
    {"ECHO", true, Echo},
    {"LINK?", false, DescribeLink},
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool SameKeyword(const char* keyword, const char* word, std::size_t length)
{
    if (std::strlen(keyword) != length)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (std::toupper(static_cast<unsigned char>(word[i])) != static_cast<unsigned char>(keyword[i]))
            return false;
    return true;
}

const CommandEntry* FindCommand(const char* word, std::size_t length)
{
    for (const CommandEntry& entry : kCommands)
        if (SameKeyword(entry.keyword, word, length))
            return &entry;
    return nullptr;
}

} // namespace

std::int32_t Execute(Connection& connection, const char* command) noexcept
{
    if (!command)
        return kInvalidArgument;
    // Look no further than the longest command the driver takes.
    if (!std::memchr(command, '\0', kCommandCapacity))
        return kCommandTooLong;

    char text[kCommandCapacity];
    std::snprintf(text, sizeof text, "%s", command);
    std::size_t end = std::strlen(text);
    while (end > 0 && IsBlank(text[end - 1]))
        text[--end] = '\0';
    const char* word = text;
    while (IsBlank(*word))
        ++word;
    std::size_t wordLength = 0;
    while (word[wordLength] != '\0' && !IsBlank(word[wordLength]))
        ++wordLength;
    const char* argument = word + wordLength;
    while (IsBlank(*argument))
        ++argument;

    const CommandEntry* entry = FindCommand(word, wordLength);
    if (!entry)
        return connection.errorCheck ? kUnknownCommand : kNoError;
    if (!entry->takesText && *argument != '\0')
        return kInvalidArgument;

    char answer[AnswerQueue::kTextCapacity];
    entry->write(connection, argument, answer, sizeof answer);
    return connection.answers.Push(answer) ? kNoError : kAnswerQueueFull;
}

} // namespace loopback
