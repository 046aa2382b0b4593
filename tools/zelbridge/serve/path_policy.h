// The files a request may make the server or a driver open, and the
// operator's folders they must lie in.
#pragma once

#include <string>
#include <vector>

namespace zelbridge::tool::serve {

// Refuses (403, naming the rule) a library named with a path outside the
// allowed folders or files; a bare name loads from the install folder.
void CheckLibraryAllowed(const std::string& library, const std::vector<std::string>& allowed);

} // namespace zelbridge::tool::serve
