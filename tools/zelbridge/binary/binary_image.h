// Reading what a loader needs to know from a library file (a Windows DLL or an
// ELF shared library): its architecture, the libraries and functions it
// imports and the names it exports. Every offset in the file is checked
// before use, so a broken file gives a reason, never a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelbridge::tool {

enum class BinaryFormat { kUnknown, kPe, kElf };

struct ImportedLibrary {
    std::string name;
    // Functions imported by name; PE only (ELF does not tie a symbol to a library).
    std::vector<std::string> functions;
    std::vector<std::uint32_t> ordinals;
};

struct BinaryImage {
    BinaryFormat format = BinaryFormat::kUnknown;
    // IMAGE_FILE_MACHINE_* for PE, EM_* for ELF.
    std::uint16_t machine = 0;
    unsigned bits = 0;
    // The import directory of a PE file; the DT_NEEDED entries of an ELF file.
    std::vector<ImportedLibrary> imports;
    // Exported names, sorted: the export name table of a PE file, the defined
    // global dynamic symbols of an ELF file.
    std::vector<std::string> exports;
    // The ordinals a PE file exports: ordinalBase up to ordinalBase + ordinalCount.
    std::uint32_t ordinalBase = 0;
    std::uint32_t ordinalCount = 0;
    // DT_RPATH and DT_RUNPATH of an ELF file, as written (with $ORIGIN).
    std::string rpath;
    std::string runpath;

    bool Exports(const std::string& name) const;
    bool ExportsOrdinal(std::uint32_t ordinal) const noexcept;
};

struct BinaryReading {
    enum class Status {
        kRead,
        // Neither a PE nor an ELF file.
        kUnknownFormat,
        // Looks like one of them but is broken; `problem` says how.
        kInvalid,
    };
    Status status = Status::kUnknownFormat;
    // The format is known for kInvalid as well.
    BinaryImage image;
    std::string problem;
};

BinaryReading ReadBinaryImage(const std::uint8_t* data, std::size_t size) noexcept;

// "32-bit (i686)", "64-bit (x86-64)", or the machine number when it is not a known one.
std::string DescribeArchitecture(const BinaryImage& image);

// The format, machine and width of the code in this process, Zelbridge's own.
BinaryImage ThisProcessArchitecture() noexcept;

inline bool SameArchitecture(const BinaryImage& a, const BinaryImage& b) noexcept
{
    return a.format == b.format && a.machine == b.machine && a.bits == b.bits;
}

} // namespace zelbridge::tool
