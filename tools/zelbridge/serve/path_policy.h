// The files a request may make the server or a driver open, and the
// operator's folders they must lie in.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace zelbridge::tool::serve {

class PathPolicy {
public:
    // The places given with --allow-library and --allow-data, by their real
    // paths; throws Failure naming one that is not there.
    PathPolicy(const std::vector<std::string>& libraries, const std::vector<std::string>& dataFolders);

    // The library as DefineSystem is to load it: a bare name as given (the
    // install folder), a path by its real path. 403 naming the rule when
    // that lies outside the allowed places.
    std::string Library(const std::string& library) const;
    // A text a driver reads as a file, by its real path when it names one;
    // 403 naming the rule when that lies outside the data folders.
    std::string DataFile(const std::string& text) const;
    // The arguments of `operation` in a request that a driver opens as
    // files, replaced by their checked real paths.
    void CheckFileArguments(const std::string& operation, nlohmann::json& request) const;

private:
    struct Place {
        std::string real;
        bool folder;
    };
    static bool Within(const std::string& real, const std::vector<Place>& places);

    std::vector<Place> libraries_;
    std::vector<Place> data_;
};

} // namespace zelbridge::tool::serve
