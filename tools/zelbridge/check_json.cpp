// The JSON form of `zelbridge check`: the same facts as the text, one object
// on one line, for programs and support scripts.
#include "check_report.h"

#include "api/driver_contract.h"
#include "json_writer.h"

#ifndef ZELBRIDGE_MODULE_FILE
#error "the build names the Zelbridge module file"
#endif

namespace zelbridge::tool {
namespace {

// The JSON names of the values of an enumeration.
template <typename Enum> struct Key {
    Enum value;
    const char* name;
};

constexpr Key<BinaryFormat> kFormatKeys[] = {
    {BinaryFormat::kPe, "pe"},
    {BinaryFormat::kElf, "elf"},
    {BinaryFormat::kUnknown, "unknown"},
};

constexpr Key<LoadProblem::Kind> kProblemKeys[] = {
    {LoadProblem::Kind::kNotFound, "not-found"},
    {LoadProblem::Kind::kNotALibrary, "not-a-library"},
    {LoadProblem::Kind::kInvalid, "invalid"},
    {LoadProblem::Kind::kWrongArchitecture, "wrong-architecture"},
    {LoadProblem::Kind::kMissingFunction, "missing-function"},
};

constexpr Key<InstallPathValue::State> kInstallPathKeys[] = {
    {InstallPathValue::State::kNotSet, "not-set"},
    {InstallPathValue::State::kEmpty, "empty"},
    {InstallPathValue::State::kTooLong, "too-long"},
    {InstallPathValue::State::kUsable, "usable"},
};

constexpr Key<LibraryCheck::Load> kLoadKeys[] = {
    {LibraryCheck::Load::kLoaded, "loaded"},
    {LibraryCheck::Load::kFailed, "failed"},
    {LibraryCheck::Load::kNotTried, "not-tried"},
};

template <typename Enum, std::size_t count> const char* KeyOf(const Key<Enum> (&keys)[count], Enum value)
{
    for (const Key<Enum>& key : keys)
        if (key.value == value)
            return key.name;
    return "unknown";
}

// A string, or null when it is empty.
void OptionalText(JsonWriter& json, const char* key, const std::string& text)
{
    json.Key(key);
    if (text.empty())
        json.Null();
    else
        json.Value(text);
}

void Names(JsonWriter& json, const char* key, const std::vector<std::string>& names)
{
    json.Key(key).BeginArray();
    for (const std::string& name : names)
        json.Value(name);
    json.EndArray();
}

void Module(JsonWriter& json)
{
    json.Key("module").BeginObject();
    json.Key("file").Value(ZELBRIDGE_MODULE_FILE);
    json.Key("architecture").Value(DescribeArchitecture(ThisProcessArchitecture()));
    json.EndObject();
}

void InstallPath(JsonWriter& json, const InstallPathValue& value)
{
    json.Key("installPath").BeginObject();
    json.Key("state").Value(KeyOf(kInstallPathKeys, value.state));
    OptionalText(json, "path", value.path);
    json.Key("size").Value(std::int64_t{value.size});
    json.Key("terminated").Value(value.terminated);
    json.Key("folderExists").Value(value.folderExists);
    json.EndObject();
}

void Folders(JsonWriter& json, const std::vector<SearchedFolder>& folders)
{
    json.Key("searched").BeginArray();
    for (const SearchedFolder& folder : folders)
        json.BeginObject().Key("folder").Value(folder.path).Key("role").Value(folder.role).EndObject();
    json.EndArray();
}

void Problem(JsonWriter& json, const LoadProblem& problem)
{
    json.BeginObject();
    json.Key("kind").Value(KeyOf(kProblemKeys, problem.kind));
    json.Key("file").Value(problem.file);
    OptionalText(json, "neededBy", problem.neededBy);
    switch (problem.kind) {
    case LoadProblem::Kind::kNotFound:
        Folders(json, problem.searched);
        OptionalText(json, "elsewhere", problem.elsewhere);
        break;
    case LoadProblem::Kind::kNotALibrary:
        json.Key("format").Value(KeyOf(kFormatKeys, problem.format));
        OptionalText(json, "architecture", problem.architecture);
        break;
    case LoadProblem::Kind::kInvalid:
        json.Key("format").Value(KeyOf(kFormatKeys, problem.format));
        json.Key("reason").Value(problem.detail);
        break;
    case LoadProblem::Kind::kWrongArchitecture:
        json.Key("architecture").Value(problem.architecture);
        break;
    case LoadProblem::Kind::kMissingFunction:
        json.Key("function").Value(problem.detail);
        break;
    }
    json.EndObject();
}

// The members that describe one library's check, in the object open.
void Library(JsonWriter& json, const LibraryCheck& library)
{
    json.Key("fileTried").Value(library.fileTried);
    OptionalText(json, "foundAt", library.file.path);
    const bool read = library.file.reading && library.file.reading->status == BinaryReading::Status::kRead;
    OptionalText(json, "architecture", read ? DescribeArchitecture(library.file.reading->image) : "");
    json.Key("load").Value(KeyOf(kLoadKeys, library.load));
    json.Key("error");
    if (library.load == LibraryCheck::Load::kFailed)
        json.BeginObject()
            .Key("code")
            .Value(std::int64_t{library.error.code})
            .Key("text")
            .Value(library.error.text)
            .EndObject();
    else
        json.Null();
    json.Key("problems").BeginArray();
    for (const LoadProblem& problem : library.problems)
        Problem(json, problem);
    json.EndArray();
}

void RequiredLibraryObject(JsonWriter& json, const RequiredLibraryCheck& library)
{
    json.BeginObject();
    json.Key("user").Value(library.library.user);
    json.Key("file").Value(library.library.fileName);
    json.Key("state").Value(StateKey(library.State()));
    Library(json, library.check);
    json.Key("functionCount").Value(static_cast<std::int64_t>(library.library.functionCount));
    Names(json, "missingFunctions", library.missingFunctions);
    json.EndObject();
}

// Opens the report with what every check has: its form, the module and the install path.
void BeginReport(JsonWriter& json, const char* check, const InstallPathValue& installPath)
{
    json.BeginObject();
    json.Key("check").Value(check);
    Module(json);
    InstallPath(json, installPath);
}

} // namespace

void WriteJson(const DriverCheck& check, std::ostream& out)
{
    JsonWriter json(out);
    BeginReport(json, "driver", check.installPath);
    json.Key("driver").Value(check.driver);
    json.Key("prefix").Value(check.prefix);
    Library(json, check.library);
    std::vector<std::string> exported;
    std::vector<std::string> missing;
    for (unsigned operation = 0; operation < kOperationCount; ++operation)
        (check.exported[operation] ? exported : missing).push_back(check.prefix + kOperationNames[operation]);
    if (check.library.load != LibraryCheck::Load::kLoaded)
        missing.clear();
    Names(json, "exported", exported);
    Names(json, "notExported", missing);
    json.Key("hint");
    if (check.hint)
        json.BeginObject().Key("prefix").Value(check.hint->prefix).Key("count").Value(std::int64_t{check.hint->count}).EndObject();
    else
        json.Null();
    json.EndObject();
}

void WriteJson(const FamilyCheck& check, std::ostream& out)
{
    JsonWriter json(out);
    BeginReport(json, "family", check.installPath);
    json.Key("family");
    RequiredLibraryObject(json, check.family);
    json.EndObject();
}

void WriteJson(const Overview& overview, std::ostream& out)
{
    JsonWriter json(out);
    BeginReport(json, "overview", overview.installPath);
    json.Key("libraries").BeginArray();
    for (const RequiredLibraryCheck& library : overview.libraries)
        RequiredLibraryObject(json, library);
    json.EndArray();
    json.EndObject();
}

} // namespace zelbridge::tool
