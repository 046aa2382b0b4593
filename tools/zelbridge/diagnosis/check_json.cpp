// The JSON form of `zelbridge check`: the same facts as the text, one object
// on one line, for programs and support scripts.
#include "check_report.h"

#include "api/driver_contract.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <utility>

#ifndef ZELBRIDGE_MODULE_FILE
#error "the build names the Zelbridge module file"
#endif

namespace zelbridge::tool {
namespace {

// Members in the order they are set, which is the order docs/reference/check-json.md describes.
using Json = nlohmann::ordered_json;

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
    {InstallPathValue::State::kNotText, "not-a-string"},
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
Json OptionalText(const std::string& text)
{
    return text.empty() ? Json() : Json(text);
}

Json Module()
{
    return {{"file", ZELBRIDGE_MODULE_FILE}, {"architecture", DescribeArchitecture(ThisProcessArchitecture())}};
}

Json InstallPath(const InstallPathValue& value)
{
    // A value that is not there has no size, ending or folder.
    const bool stored = value.state != InstallPathValue::State::kNotSet;
    return {{"state", KeyOf(kInstallPathKeys, value.state)},
            {"type", OptionalText(value.type)},
            {"path", OptionalText(value.path)},
            {"size", stored ? Json(value.size) : Json()},
            {"terminated", stored ? Json(value.terminated) : Json()},
            {"folderExists", stored ? Json(value.folderExists) : Json()},
            {"key", OptionalText(value.key)},
            {"view", OptionalText(value.view)},
            {"otherView", value.other ? Json{{"key", value.other->key},
                                             {"view", value.other->view},
                                             {"type", value.other->type},
                                             {"path", value.other->text}}
                                      : Json()},
            {"fix", value.OnlyInOtherView() ? Json(value.FixCommand(value.other->text)) : Json()}};
}

Json Folders(const std::vector<SearchedFolder>& folders)
{
    Json searched = Json::array();
    for (const SearchedFolder& folder : folders)
        searched.push_back(Json{{"folder", folder.path}, {"role", folder.role}});
    return searched;
}

Json Problem(const LoadProblem& problem)
{
    Json json = {{"kind", KeyOf(kProblemKeys, problem.kind)},
                 {"file", problem.file},
                 {"neededBy", OptionalText(problem.neededBy)}};
    switch (problem.kind) {
    case LoadProblem::Kind::kNotFound:
        json["searched"] = Folders(problem.searched);
        json["elsewhere"] = OptionalText(problem.elsewhere);
        break;
    case LoadProblem::Kind::kNotALibrary:
        json["format"] = KeyOf(kFormatKeys, problem.format);
        json["architecture"] = OptionalText(problem.architecture);
        break;
    case LoadProblem::Kind::kInvalid:
        json["format"] = KeyOf(kFormatKeys, problem.format);
        json["reason"] = problem.detail;
        break;
    case LoadProblem::Kind::kWrongArchitecture:
        json["architecture"] = problem.architecture;
        break;
    case LoadProblem::Kind::kMissingFunction:
        json["function"] = problem.detail;
        break;
    }
    return json;
}

// Adds the members that describe one library's check to `json`.
void AddLibrary(Json& json, const LibraryCheck& library)
{
    json["fileTried"] = library.fileTried;
    json["foundAt"] = OptionalText(library.file.path);
    const bool read = library.file.reading && library.file.reading->status == BinaryReading::Status::kRead;
    json["architecture"] = OptionalText(read ? DescribeArchitecture(library.file.reading->image) : "");
    json["load"] = KeyOf(kLoadKeys, library.load);
    json["loadedWith"] = library.loadedWithOwnFolderFor.empty() ? Json() : Json("own-folder");
    json["error"] = library.load == LibraryCheck::Load::kFailed
                        ? Json{{"code", library.error.code}, {"text", library.error.text}}
                        : Json();
    Json problems = Json::array();
    for (const LoadProblem& problem : library.problems)
        problems.push_back(Problem(problem));
    json["problems"] = std::move(problems);
}

Json RequiredLibraryObject(const RequiredLibraryCheck& library)
{
    Json json = {{"user", library.library.user},
                 {"file", library.library.fileName},
                 {"state", StateKey(library.State())}};
    AddLibrary(json, library.check);
    json["functionCount"] = library.library.functionCount;
    json["missingFunctions"] = library.missingFunctions;
    return json;
}

// What every check has: its form, the module and the install path.
Json Report(const char* check, const InstallPathValue& installPath)
{
    return {{"check", check}, {"module", Module()}, {"installPath", InstallPath(installPath)}};
}

// One line. A file name need not be UTF-8 (Windows gives names in the ANSI
// code page): a byte that is not becomes U+FFFD rather than an exception.
void Write(const Json& json, std::ostream& out)
{
    out << json.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

} // namespace

void WriteJson(const DriverCheck& check, std::ostream& out)
{
    Json json = Report("driver", check.installPath);
    json["driver"] = check.driver;
    json["prefix"] = check.prefix;
    AddLibrary(json, check.library);
    std::vector<std::string> exported;
    std::vector<std::string> missing;
    for (unsigned operation = 0; operation < kOperationCount; ++operation)
        (check.exported[operation] ? exported : missing).push_back(check.prefix + kOperationNames[operation]);
    if (check.library.load != LibraryCheck::Load::kLoaded)
        missing.clear();
    json["exported"] = exported;
    json["notExported"] = missing;
    json["hint"] = check.hint ? Json{{"prefix", check.hint->prefix}, {"count", check.hint->count}} : Json();
    Write(json, out);
}

void WriteJson(const FamilyCheck& check, std::ostream& out)
{
    Json json = Report("family", check.installPath);
    json["family"] = RequiredLibraryObject(check.family);
    Write(json, out);
}

void WriteJson(const Overview& overview, std::ostream& out)
{
    Json json = Report("overview", overview.installPath);
    Json libraries = Json::array();
    for (const RequiredLibraryCheck& library : overview.libraries)
        libraries.push_back(RequiredLibraryObject(library));
    json["libraries"] = std::move(libraries);
    Write(json, out);
}

} // namespace zelbridge::tool
