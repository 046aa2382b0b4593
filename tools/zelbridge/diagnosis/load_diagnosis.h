// Why a library does not load: the library file and every library it needs,
// found where the platform's loader looks for them, read and checked against
// each other and against this process's architecture.
#pragma once

#include "binary/binary_image.h"

#include <optional>
#include <string>
#include <vector>

namespace zelbridge::tool {

struct SearchedFolder {
    std::string path;
    // Why the loader looks there: "the install folder", "the system folder", "PATH"...
    std::string role;
};

struct LibraryFile {
    // The name the loader is given: a path, or a bare name that it searches for.
    std::string requested;
    // Where it was found; empty when it was not.
    std::string path;
    // Where it was looked for, in the loader's order, up to where it was found.
    std::vector<SearchedFolder> searched;
    // Its contents; none when it was not found or could not be read.
    std::optional<BinaryReading> reading;
    // Found in a folder of the system, whose libraries are the system's own.
    bool inSystemFolder = false;
};

// The name the loader opens for `fileName`: on Windows ".DLL" is added to a
// name without an extension, and a trailing "." stands for none.
std::string LoaderFileName(const std::string& fileName);

// Finds `fileName`, as the loader opens it (see LoaderFileName), where the loader
// would find it, and reads it. `installPath` names the install folder in
// the folders searched.
LibraryFile ExamineLibrary(const std::string& fileName, const std::string& installPath);

struct LoadProblem {
    enum class Kind {
        kNotFound,
        // Neither a PE nor an ELF file, or one of the other platform's.
        kNotALibrary,
        // A PE or ELF file that is broken.
        kInvalid,
        kWrongArchitecture,
        // A library needs a function that the library it imports it from lacks.
        kMissingFunction,
    };
    Kind kind = Kind::kNotFound;
    // kNotFound: the name looked for; otherwise the path of the file.
    std::string file;
    // The name of the library that needs `file`; empty for the library asked for.
    std::string neededBy;
    // What the file is, when it was read.
    BinaryFormat format = BinaryFormat::kUnknown;
    std::string architecture;
    // kInvalid: what is broken. kMissingFunction: the function ("ordinal 7" for one imported by number).
    std::string detail;
    // kNotFound: the folders searched, in order.
    std::vector<SearchedFolder> searched;
    // kNotFound: a file of that name in the folder of the library that needs
    // it, where the loader does not look.
    std::string elsewhere;
};

struct LoadDiagnosis {
    // Empty when the files show no cause.
    std::vector<LoadProblem> problems;
    // The libraries needed that lie only in the folder of the library asked
    // for. A plain load fails for want of them; on Windows a library named by
    // a full path is then loaded again with its own folder searched first,
    // which finds them. Elsewhere, and for a name the loader searches for,
    // they are problems instead.
    std::vector<std::string> besideOnly;
};

// What keeps `library` from loading: the library itself, or each library it
// needs, directly or through others, checked once each.
LoadDiagnosis DiagnoseLoad(const LibraryFile& library);

} // namespace zelbridge::tool
