// The smallest library made with the project's C++ runtime and its options:
// what loading and unloading any such library costs, to measure ours against.
#include <stdexcept>
#include <string>

extern "C" int ReferenceCall(int value)
{
    try {
        if (value < 0)
            throw std::invalid_argument(std::to_string(value));
    } catch (const std::exception&) {
        return -1;
    }
    return value;
}
