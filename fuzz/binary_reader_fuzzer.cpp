// Fuzzes the reader of PE and ELF library files that `zelbridge check` uses on
// whatever file a user names: any bytes must give a reading or a reason.
#include "binary_image.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zelbridge::tool;
    const BinaryReading reading = ReadBinaryImage(data, size);
    if (reading.status != BinaryReading::Status::kRead)
        return 0;
    // The lookups the diagnosis makes on what was read.
    const BinaryImage& image = reading.image;
    static_cast<void>(DescribeArchitecture(image));
    for (const ImportedLibrary& library : image.imports) {
        for (const std::string& function : library.functions)
            static_cast<void>(image.Exports(function));
        for (const std::uint32_t ordinal : library.ordinals)
            static_cast<void>(image.ExportsOrdinal(ordinal));
    }
    return 0;
}
