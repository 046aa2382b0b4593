// Reading PE and ELF library files through bounds-checked views of their bytes.
#include "binary_image.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <new>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

// The host reads ELF files with the layouts of its own header; the Windows
// builds know an ELF file only as not being a DLL.
#if __has_include(<elf.h>)
#include <elf.h>
#define ZELBRIDGE_READS_ELF 1
#endif

namespace zelbridge::tool {
namespace {

// What makes a file invalid; caught by ReadBinaryImage and turned into its reason.
class InvalidImage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Invalid(const std::string& reason)
{
    throw InvalidImage(reason);
}

// Limits that keep a hostile file from making the reader work for minutes;
// far above what any real library has.
constexpr std::size_t kLongestName = 4096;
constexpr std::size_t kMostImportedLibraries = 4096;
constexpr std::size_t kMostImportedFunctions = 1u << 17;
constexpr std::size_t kMostExportedNames = 1u << 16;
constexpr std::size_t kNameBytesBudget = 4u << 20;

// The bytes at one place of a library as its loader sees them: the bytes from
// the file, followed by `zeros` bytes that the loader fills with zeros (the
// part of a section beyond the data the file holds for it).
class ByteRegion {
public:
    ByteRegion(const std::uint8_t* data, std::uint64_t size, std::uint64_t zeros = 0, bool bigEndian = false) noexcept
        : data_(data), size_(size), zeros_(zeros), bigEndian_(bigEndian)
    {
    }

    std::uint64_t size() const noexcept { return size_ + zeros_; }

    template <typename T> T Read(std::uint64_t offset, const char* what) const
    {
        static_assert(std::is_unsigned_v<T>);
        if (offset > size() || sizeof(T) > size() - offset)
            Invalid(std::string(what) + " is cut off");
        T value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            const std::size_t shift = 8 * (bigEndian_ ? sizeof(T) - 1 - i : i);
            value = static_cast<T>(value | static_cast<T>(static_cast<T>(ByteAt(offset + i)) << shift));
        }
        return value;
    }

    // A zero-terminated name; `budget` bounds the bytes all names of one file may take.
    std::string ReadName(std::uint64_t offset, const char* what, std::size_t& budget) const
    {
        if (offset >= size())
            Invalid(std::string(what) + " has no terminating zero");
        // Past the file's bytes come only zeros: the name ends where they start.
        if (offset >= size_)
            return std::string();
        const std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(size_ - offset, kLongestName + 1));
        const void* zero = std::memchr(data_ + offset, 0, available);
        const std::size_t length = zero ? static_cast<const std::uint8_t*>(zero) - (data_ + offset) : available;
        if (length > kLongestName)
            Invalid(std::string(what) + " is longer than " + std::to_string(kLongestName) + " bytes");
        if (!zero && zeros_ == 0)
            Invalid(std::string(what) + " has no terminating zero");
        if (length > budget)
            Invalid("the names in the file add up to more than " + std::to_string(kNameBytesBudget >> 20) + " MiB");
        budget -= length;
        return std::string(reinterpret_cast<const char*>(data_ + offset), length);
    }

    // The bytes from `offset` on, which must lie within this region.
    ByteRegion From(std::uint64_t offset, const char* what) const
    {
        if (offset > size())
            Invalid(std::string(what) + " points past the end of the file");
        if (offset >= size_)
            return ByteRegion(nullptr, 0, size() - offset, bigEndian_);
        return ByteRegion(data_ + offset, size_ - offset, zeros_, bigEndian_);
    }

    // `length` bytes of this region's data from `offset`, then `zeros` zero bytes.
    ByteRegion Slice(std::uint64_t offset, std::uint64_t length, std::uint64_t zeros, const char* what) const
    {
        if (offset > size_ || length > size_ - offset)
            Invalid(std::string(what) + " runs past the end of the file");
        return ByteRegion(length != 0 ? data_ + offset : nullptr, length, zeros, bigEndian_);
    }

private:
    std::uint8_t ByteAt(std::uint64_t offset) const noexcept { return offset < size_ ? data_[offset] : 0; }

    const std::uint8_t* data_;
    std::uint64_t size_;
    std::uint64_t zeros_;
    bool bigEndian_;
};

// Architectures by machine number, for both formats.
struct MachineName {
    BinaryFormat format;
    std::uint16_t machine;
    const char* name;
};

constexpr MachineName kMachineNames[] = {
    {BinaryFormat::kPe, 0x014c, "i686"},
    {BinaryFormat::kPe, 0x8664, "x86-64"},
    {BinaryFormat::kPe, 0xaa64, "ARM64"},
    {BinaryFormat::kPe, 0x01c4, "ARM"},
    {BinaryFormat::kPe, 0x0200, "Itanium"},
#if defined(ZELBRIDGE_READS_ELF)
    {BinaryFormat::kElf, EM_386, "i686"},
    {BinaryFormat::kElf, EM_X86_64, "x86-64"},
    {BinaryFormat::kElf, EM_AARCH64, "AArch64"},
    {BinaryFormat::kElf, EM_ARM, "ARM"},
    {BinaryFormat::kElf, EM_RISCV, "RISC-V"},
    {BinaryFormat::kElf, EM_PPC64, "PowerPC 64"},
#endif
};

// ---- PE -------------------------------------------------------------------
// Offsets and values of the PE/COFF format, which no header of this build
// describes for both Windows and the host.

constexpr std::uint32_t kPeHeaderOffsetField = 0x3c;
constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10b;
constexpr std::uint16_t kPe32PlusMagic = 0x20b;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kImportDescriptorSize = 20;
constexpr unsigned kExportDirectory = 0;
constexpr unsigned kImportDirectory = 1;

class PeReader {
public:
    explicit PeReader(const ByteRegion& file) : file_(file) {}

    void Read(BinaryImage& image)
    {
        const std::uint32_t peOffset = file_.Read<std::uint32_t>(kPeHeaderOffsetField, "the MS-DOS header");
        const ByteRegion pe = file_.From(peOffset, "the PE header offset");
        if (pe.Read<std::uint32_t>(0, "the PE header") != kPeSignature)
            Invalid("no PE signature where the MS-DOS header points");
        image.machine = pe.Read<std::uint16_t>(4, "the file header");
        const std::uint16_t sectionCount = pe.Read<std::uint16_t>(6, "the file header");
        const std::uint16_t optionalSize = pe.Read<std::uint16_t>(20, "the file header");

        const ByteRegion optional = pe.From(4 + kFileHeaderSize, "the optional header");
        const std::uint16_t magic = optional.Read<std::uint16_t>(0, "the optional header");
        if (magic != kPe32Magic && magic != kPe32PlusMagic)
            Invalid("the optional header is neither PE32 nor PE32+");
        image.bits = magic == kPe32Magic ? 32 : 64;
        // SizeOfHeaders lies at the same place in both forms; the data
        // directories follow NumberOfRvaAndSizes, after the image base and
        // the stack and heap sizes, which PE32+ widens to 64 bits.
        headersSize_ = optional.Read<std::uint32_t>(60, "the optional header");
        const std::uint32_t directoriesAt = magic == kPe32Magic ? 96 : 112;
        const std::uint32_t declared = optional.Read<std::uint32_t>(directoriesAt - 4, "the optional header");
        const std::uint32_t fitting = optionalSize > directoriesAt ? (optionalSize - directoriesAt) / 8 : 0;
        directoryCount_ = std::min({declared, fitting, 16u});
        directories_ = optional.From(directoriesAt, "the data directories");
        ReadSections(pe.From(4 + kFileHeaderSize + optionalSize, "the section table"), sectionCount);

        ReadImports(image);
        ReadExports(image);
    }

private:
    struct Section {
        std::uint32_t virtualAddress;
        std::uint32_t extent;
        std::uint32_t rawOffset;
        std::uint32_t rawSize;
    };

    void ReadSections(const ByteRegion& table, std::uint16_t count)
    {
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::uint64_t at = std::uint64_t{i} * kSectionHeaderSize;
            Section section{};
            const std::uint32_t virtualSize = table.Read<std::uint32_t>(at + 8, "the section table");
            section.virtualAddress = table.Read<std::uint32_t>(at + 12, "the section table");
            section.rawSize = table.Read<std::uint32_t>(at + 16, "the section table");
            section.rawOffset = table.Read<std::uint32_t>(at + 20, "the section table");
            section.extent = virtualSize != 0 ? virtualSize : section.rawSize;
            if (section.rawSize != 0 &&
                (section.rawOffset > file_.size() || section.rawSize > file_.size() - section.rawOffset))
                Invalid("the data of section " + std::to_string(i + 1) + " runs past the end of the file");
            sections_.push_back(section);
        }
        // Sorted for a binary search: a hostile file may have tens of thousands.
        std::stable_sort(sections_.begin(), sections_.end(),
                         [](const Section& a, const Section& b) { return a.virtualAddress < b.virtualAddress; });
    }

    // The bytes at a relative virtual address, up to the end of the header
    // or section that holds it.
    ByteRegion At(std::uint64_t rva, const char* what) const
    {
        // The last section that starts at or before the address.
        const auto after = std::upper_bound(sections_.begin(), sections_.end(), rva,
                                            [](std::uint64_t address, const Section& s) { return address < s.virtualAddress; });
        const Section* section = after == sections_.begin() ? nullptr : &*std::prev(after);
        if (section && rva - section->virtualAddress < section->extent) {
            const std::uint64_t offset = rva - section->virtualAddress;
            const std::uint64_t inFile = std::min(section->rawSize, section->extent);
            if (offset >= inFile)
                return ByteRegion(nullptr, 0, section->extent - offset);
            return file_.Slice(section->rawOffset + offset, inFile - offset, section->extent - inFile, what);
        }
        if (rva < headersSize_ && rva < file_.size())
            return file_.Slice(rva, std::min<std::uint64_t>(headersSize_, file_.size()) - rva, 0, what);
        Invalid(std::string(what) + " points outside the file");
    }

    // Where a data directory starts; 0 when the file has none. Its size is not
    // needed: the tables it holds end with an entry of zeros.
    std::uint32_t DirectoryAt(unsigned index) const
    {
        return index < directoryCount_ ? directories_.Read<std::uint32_t>(index * 8u, "the data directories") : 0;
    }

    void ReadImports(BinaryImage& image)
    {
        const std::uint32_t directory = DirectoryAt(kImportDirectory);
        if (directory == 0)
            return;
        const ByteRegion table = At(directory, "the import table");
        for (std::uint64_t at = 0;; at += kImportDescriptorSize) {
            const std::uint32_t lookup = table.Read<std::uint32_t>(at, "the import table");
            const std::uint32_t name = table.Read<std::uint32_t>(at + 12, "the import table");
            const std::uint32_t addresses = table.Read<std::uint32_t>(at + 16, "the import table");
            if (name == 0 && addresses == 0)
                return;
            if (image.imports.size() == kMostImportedLibraries)
                Invalid("the import table names more than " + std::to_string(kMostImportedLibraries) + " libraries");
            ImportedLibrary library;
            library.name = At(name, "the name of an imported library")
                               .ReadName(0, "the name of an imported library", nameBudget_);
            ReadImportedFunctions(lookup != 0 ? lookup : addresses, image.bits, library);
            image.imports.push_back(std::move(library));
        }
    }

    void ReadImportedFunctions(std::uint32_t rva, unsigned bits, ImportedLibrary& library)
    {
        const ByteRegion thunks = At(rva, "the import lookup table");
        const std::size_t step = bits / 8;
        for (std::uint64_t at = 0;; at += step) {
            const std::uint64_t thunk = bits == 32 ? thunks.Read<std::uint32_t>(at, "the import lookup table")
                                                   : thunks.Read<std::uint64_t>(at, "the import lookup table");
            if (thunk == 0)
                return;
            if (++importedFunctions_ > kMostImportedFunctions)
                Invalid("the file imports more than " + std::to_string(kMostImportedFunctions) + " functions");
            if (thunk >> (bits - 1)) {
                library.ordinals.push_back(static_cast<std::uint16_t>(thunk));
                continue;
            }
            // A hint of two bytes, then the name.
            const ByteRegion entry = At(static_cast<std::uint32_t>(thunk & 0x7fffffff), "an imported function's name");
            library.functions.push_back(entry.ReadName(2, "an imported function's name", nameBudget_));
        }
    }

    void ReadExports(BinaryImage& image)
    {
        const std::uint32_t directory = DirectoryAt(kExportDirectory);
        if (directory == 0)
            return;
        const ByteRegion table = At(directory, "the export table");
        image.ordinalBase = table.Read<std::uint32_t>(16, "the export table");
        image.ordinalCount = table.Read<std::uint32_t>(20, "the export table");
        const std::uint32_t nameCount = table.Read<std::uint32_t>(24, "the export table");
        const std::uint32_t namesRva = table.Read<std::uint32_t>(32, "the export table");
        if (nameCount > kMostExportedNames)
            Invalid("the export table names more than " + std::to_string(kMostExportedNames) + " functions");
        if (nameCount == 0)
            return;
        const ByteRegion names = At(namesRva, "the export name table");
        for (std::uint32_t i = 0; i < nameCount; ++i) {
            const std::uint32_t nameRva = names.Read<std::uint32_t>(std::uint64_t{i} * 4, "the export name table");
            image.exports.push_back(At(nameRva, "an exported name").ReadName(0, "an exported name", nameBudget_));
        }
    }

    const ByteRegion& file_;
    std::uint32_t headersSize_ = 0;
    std::uint32_t directoryCount_ = 0;
    ByteRegion directories_{nullptr, 0};
    std::vector<Section> sections_;
    std::size_t importedFunctions_ = 0;
    std::size_t nameBudget_ = kNameBytesBudget;
};

#if defined(ZELBRIDGE_READS_ELF)
// ---- ELF ------------------------------------------------------------------

// The <elf.h> records of one ELF class.
#define ZELBRIDGE_ELF_LAYOUT(bits)                                                                                   \
    struct Elf##bits##Layout {                                                                                       \
        using Ehdr = Elf##bits##_Ehdr;                                                                               \
        using Phdr = Elf##bits##_Phdr;                                                                               \
        using Shdr = Elf##bits##_Shdr;                                                                               \
        using Dyn = Elf##bits##_Dyn;                                                                                 \
        using Sym = Elf##bits##_Sym;                                                                                 \
        static constexpr unsigned kBits = bits;                                                                      \
    };
ZELBRIDGE_ELF_LAYOUT(32)
ZELBRIDGE_ELF_LAYOUT(64)
#undef ZELBRIDGE_ELF_LAYOUT

// A field of an <elf.h> record at `base`, read in the file's byte order.
#define ZELBRIDGE_ELF_FIELD(region, base, Record, field, what)                                                   \
    (region).template Read<std::make_unsigned_t<std::remove_reference_t<decltype(std::declval<Record&>().field)>>>( \
        (base) + offsetof(Record, field), what)

template <typename Layout> class ElfReader {
    using Ehdr = typename Layout::Ehdr;
    using Phdr = typename Layout::Phdr;
    using Shdr = typename Layout::Shdr;
    using Dyn = typename Layout::Dyn;
    using Sym = typename Layout::Sym;

public:
    explicit ElfReader(const ByteRegion& file) : file_(file) {}

    void Read(BinaryImage& image)
    {
        image.bits = Layout::kBits;
        image.machine = ZELBRIDGE_ELF_FIELD(file_, 0, Ehdr, e_machine, "the ELF header");
        ReadSegments();
        ReadDynamicSection(image);
        ReadDynamicSymbols(image);
    }

private:
    struct Segment {
        std::uint64_t address;
        std::uint64_t offset;
        std::uint64_t size;
    };

    // The entries of a table in the file, checked to be large enough for the
    // records <elf.h> describes.
    static std::uint64_t EntrySize(std::uint64_t declared, std::size_t needed, const char* what)
    {
        if (declared < needed)
            Invalid(std::string(what) + " has entries too small to read");
        return declared;
    }

    void ReadSegments()
    {
        const std::uint64_t tableAt = ZELBRIDGE_ELF_FIELD(file_, 0, Ehdr, e_phoff, "the ELF header");
        const std::uint64_t entrySize = EntrySize(ZELBRIDGE_ELF_FIELD(file_, 0, Ehdr, e_phentsize, "the ELF header"),
                                                  sizeof(Phdr), "the program header table");
        const unsigned count = ZELBRIDGE_ELF_FIELD(file_, 0, Ehdr, e_phnum, "the ELF header");
        if (count == 0)
            return;
        const ByteRegion table = file_.From(tableAt, "the program header table");
        for (unsigned i = 0; i < count; ++i) {
            const std::uint64_t at = i * entrySize;
            const std::uint32_t type = ZELBRIDGE_ELF_FIELD(table, at, Phdr, p_type, "the program header table");
            const Segment segment{ZELBRIDGE_ELF_FIELD(table, at, Phdr, p_vaddr, "the program header table"),
                                  ZELBRIDGE_ELF_FIELD(table, at, Phdr, p_offset, "the program header table"),
                                  ZELBRIDGE_ELF_FIELD(table, at, Phdr, p_filesz, "the program header table")};
            if (type == PT_LOAD)
                loads_.push_back(segment);
            else if (type == PT_DYNAMIC)
                dynamic_ = segment;
        }
    }

    // The file's bytes at a virtual address, to the end of the loaded segment
    // that holds it.
    ByteRegion AtAddress(std::uint64_t address, std::uint64_t length, const char* what) const
    {
        for (const Segment& load : loads_) {
            if (address < load.address || address - load.address >= load.size)
                continue;
            const std::uint64_t offset = address - load.address;
            return file_.Slice(load.offset + offset, std::min(length, load.size - offset), 0, what);
        }
        Invalid(std::string(what) + " points outside the file");
    }

    void ReadDynamicSection(BinaryImage& image)
    {
        if (dynamic_.size == 0)
            return;
        const ByteRegion entries = file_.Slice(dynamic_.offset, dynamic_.size, 0, "the dynamic section");
        std::vector<std::uint64_t> needed;
        std::uint64_t strings = 0;
        std::uint64_t stringsSize = 0;
        // Offsets of the run paths in the string table, when there are any.
        std::optional<std::uint64_t> rpath;
        std::optional<std::uint64_t> runpath;
        for (std::uint64_t at = 0; at + sizeof(Dyn) <= entries.size(); at += sizeof(Dyn)) {
            const auto tag = ZELBRIDGE_ELF_FIELD(entries, at, Dyn, d_tag, "the dynamic section");
            const std::uint64_t value = ZELBRIDGE_ELF_FIELD(entries, at, Dyn, d_un.d_val, "the dynamic section");
            if (tag == DT_NULL)
                break;
            if (tag == DT_NEEDED)
                needed.push_back(value);
            else if (tag == DT_STRTAB)
                strings = value;
            else if (tag == DT_STRSZ)
                stringsSize = value;
            else if (tag == DT_RPATH)
                rpath = value;
            else if (tag == DT_RUNPATH)
                runpath = value;
            if (needed.size() > kMostImportedLibraries)
                Invalid("the dynamic section names more than " + std::to_string(kMostImportedLibraries) + " libraries");
        }
        if (needed.empty() && !rpath && !runpath)
            return;
        const ByteRegion table = AtAddress(strings, stringsSize, "the dynamic string table");
        for (const std::uint64_t name : needed)
            image.imports.push_back({table.ReadName(name, "the name of a needed library", nameBudget_), {}, {}});
        if (rpath)
            image.rpath = table.ReadName(*rpath, "the run path", nameBudget_);
        if (runpath)
            image.runpath = table.ReadName(*runpath, "the run path", nameBudget_);
    }

    // The section's bytes, given the section header at `at`.
    ByteRegion SectionBytes(const ByteRegion& headers, std::uint64_t at, const char* what) const
    {
        return file_.Slice(ZELBRIDGE_ELF_FIELD(headers, at, Shdr, sh_offset, "the section header table"),
                           ZELBRIDGE_ELF_FIELD(headers, at, Shdr, sh_size, "the section header table"), 0, what);
    }

    void ReadDynamicSymbols(BinaryImage& image)
    {
        const std::uint64_t tableAt = ZELBRIDGE_ELF_FIELD(file_, 0, Ehdr, e_shoff, "the ELF header");
        const unsigned count = ZELBRIDGE_ELF_FIELD(file_, 0, Ehdr, e_shnum, "the ELF header");
        if (tableAt == 0 || count == 0)
            return;
        const std::uint64_t entrySize = EntrySize(ZELBRIDGE_ELF_FIELD(file_, 0, Ehdr, e_shentsize, "the ELF header"),
                                                  sizeof(Shdr), "the section header table");
        const ByteRegion headers = file_.From(tableAt, "the section header table");
        // A library has one dynamic symbol table; the first one found is read.
        for (unsigned i = 0; i < count; ++i) {
            const std::uint64_t at = i * entrySize;
            if (ZELBRIDGE_ELF_FIELD(headers, at, Shdr, sh_type, "the section header table") != SHT_DYNSYM)
                continue;
            const std::uint32_t link = ZELBRIDGE_ELF_FIELD(headers, at, Shdr, sh_link, "the section header table");
            if (link >= count)
                Invalid("the dynamic symbol table names a string table that does not exist");
            const ByteRegion symbols = SectionBytes(headers, at, "the dynamic symbol table");
            const ByteRegion names = SectionBytes(headers, link * entrySize, "the dynamic string table");
            const std::uint64_t symbolSize = EntrySize(
                ZELBRIDGE_ELF_FIELD(headers, at, Shdr, sh_entsize, "the section header table"), sizeof(Sym),
                "the dynamic symbol table");
            for (std::uint64_t symbol = 0; symbol + symbolSize <= symbols.size(); symbol += symbolSize)
                if (IsExported(symbols, symbol)) {
                    const std::uint32_t name = ZELBRIDGE_ELF_FIELD(symbols, symbol, Sym, st_name, "a dynamic symbol");
                    image.exports.push_back(names.ReadName(name, "an exported name", nameBudget_));
                }
            return;
        }
    }

    // Defined, global or weak, and visible to other objects.
    static bool IsExported(const ByteRegion& symbols, std::uint64_t at)
    {
        const unsigned char info = ZELBRIDGE_ELF_FIELD(symbols, at, Sym, st_info, "a dynamic symbol");
        const unsigned char other = ZELBRIDGE_ELF_FIELD(symbols, at, Sym, st_other, "a dynamic symbol");
        const unsigned section = ZELBRIDGE_ELF_FIELD(symbols, at, Sym, st_shndx, "a dynamic symbol");
        const unsigned binding = ELF64_ST_BIND(info);
        const unsigned visibility = ELF64_ST_VISIBILITY(other);
        return section != SHN_UNDEF && (binding == STB_GLOBAL || binding == STB_WEAK) &&
               (visibility == STV_DEFAULT || visibility == STV_PROTECTED) && ELF64_ST_TYPE(info) != STT_SECTION;
    }

    const ByteRegion& file_;
    std::vector<Segment> loads_;
    Segment dynamic_{0, 0, 0};
    std::size_t nameBudget_ = kNameBytesBudget;
};

void ReadElf(const std::uint8_t* data, std::size_t size, BinaryImage& image)
{
    const ByteRegion identification(data, size);
    const unsigned elfClass = identification.Read<std::uint8_t>(EI_CLASS, "the ELF header");
    const unsigned byteOrder = identification.Read<std::uint8_t>(EI_DATA, "the ELF header");
    if (byteOrder != ELFDATA2LSB && byteOrder != ELFDATA2MSB)
        Invalid("the ELF header names no known byte order");
    const ByteRegion file(data, size, 0, byteOrder == ELFDATA2MSB);
    if (elfClass == ELFCLASS32)
        ElfReader<Elf32Layout>(file).Read(image);
    else if (elfClass == ELFCLASS64)
        ElfReader<Elf64Layout>(file).Read(image);
    else
        Invalid("the ELF header names no known class");
}
#endif

bool StartsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t length)
{
    return size >= length && std::memcmp(data, magic, length) == 0;
}

} // namespace

bool BinaryImage::Exports(const std::string& name) const
{
    return std::binary_search(exports.begin(), exports.end(), name);
}

bool BinaryImage::ExportsOrdinal(std::uint32_t ordinal) const noexcept
{
    return ordinal >= ordinalBase && ordinal - ordinalBase < ordinalCount;
}

BinaryReading ReadBinaryImage(const std::uint8_t* data, std::size_t size) noexcept
{
    BinaryReading reading;
    if (size == 0) {
        reading.status = BinaryReading::Status::kInvalid;
        reading.problem = "the file is empty";
        return reading;
    }
    if (StartsWith(data, size, "MZ", 2))
        reading.image.format = BinaryFormat::kPe;
#if defined(ZELBRIDGE_READS_ELF)
    else if (StartsWith(data, size, ELFMAG, SELFMAG))
        reading.image.format = BinaryFormat::kElf;
#endif
    else
        return reading;
    try {
        if (reading.image.format == BinaryFormat::kPe) {
            const ByteRegion file(data, size);
            PeReader(file).Read(reading.image);
        }
#if defined(ZELBRIDGE_READS_ELF)
        else {
            ReadElf(data, size, reading.image);
        }
#endif
        std::sort(reading.image.exports.begin(), reading.image.exports.end());
        reading.status = BinaryReading::Status::kRead;
    } catch (const InvalidImage& invalid) {
        reading.status = BinaryReading::Status::kInvalid;
        reading.problem = invalid.what();
    } catch (const std::bad_alloc&) {
        reading.status = BinaryReading::Status::kInvalid;
        reading.problem = "the file is too large to read";
    }
    return reading;
}

std::string DescribeArchitecture(const BinaryImage& image)
{
    const std::string width = std::to_string(image.bits) + "-bit";
    for (const MachineName& known : kMachineNames)
        if (known.format == image.format && known.machine == image.machine)
            return width + " (" + known.name + ")";
    return width + " (machine " + std::to_string(image.machine) + ")";
}

BinaryImage ThisProcessArchitecture() noexcept
{
#if defined(__x86_64__)
    constexpr const char* kMachine = "x86-64";
#elif defined(__i386__)
    constexpr const char* kMachine = "i686";
#elif defined(__aarch64__)
    constexpr const char* kMachine = "AArch64";
#else
#error "name this architecture as the machine table does"
#endif
    BinaryImage image;
#if defined(_WIN32)
    image.format = BinaryFormat::kPe;
#else
    image.format = BinaryFormat::kElf;
#endif
    image.bits = sizeof(void*) * 8;
    for (const MachineName& known : kMachineNames)
        if (known.format == image.format && std::strcmp(known.name, kMachine) == 0)
            image.machine = known.machine;
    return image;
}

} // namespace zelbridge::tool
