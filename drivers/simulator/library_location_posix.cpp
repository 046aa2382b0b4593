// Elsewhere the library cannot tell where it was loaded from: the question
// belongs to the platform layer, which has no answer for it yet.
#include "library_location.h"

namespace simulator {

std::string LibraryFolder()
{
    return std::string();
}

} // namespace simulator
