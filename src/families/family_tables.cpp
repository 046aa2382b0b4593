// The six family descriptors, generated from the family catalog and the rows
// of the operation description.
#include "families/family_tables.h"

#include <cstring>
#include <iterator>
#include <utility>

namespace zelbridge {
namespace {

// The longest driver function name, resolution prefix included, and its end.
constexpr std::size_t kDriverNameCapacity = 48;

// A family's driver function names, in resolution order.
struct DriverNames {
    char text[kMaxFamilyDriverFunctions][kDriverNameCapacity]{};
};

template <Family family> constexpr DriverNames MakeDriverNames(const char* resolution)
{
    DriverNames names{};
    constexpr auto operations = FamilyOperations<family>();
    static_assert(operations.size() <= kMaxFamilyDriverFunctions);
    for (std::size_t position = 0; position < operations.size(); ++position) {
        std::size_t length = 0;
        for (const char* part : {resolution, FamilyUseOf(operations[position]).driverFunction})
            for (; *part != '\0'; ++part)
                names.text[position][length++] = *part;
    }
    return names;
}

template <std::size_t... Slots>
constexpr std::array<const char*, sizeof...(Slots)> NamePointers(const DriverNames& names,
                                                                 std::index_sequence<Slots...>)
{
    return {names.text[Slots]...};
}

#define ZELBRIDGE_FAMILY_TABLES(family, prefix, resolution, ...)                                                    \
    constexpr DriverNames family##DriverNameText = MakeDriverNames<Family::family>(ZELBRIDGE_FAMILY_STRING(resolution)); \
    constexpr auto family##DriverFunctions =                                                                        \
        NamePointers(family##DriverNameText, std::make_index_sequence<FamilyFunctionCount(Family::family)>());

ZELBRIDGE_FAMILIES(ZELBRIDGE_FAMILY_TABLES)
#undef ZELBRIDGE_FAMILY_TABLES

} // namespace

#define ZELBRIDGE_AVAILABILITY_TEXT(prefix, text) "ZEL: " ZELBRIDGE_FAMILY_STRING(prefix) "IsDLLAvailable()" text

#define ZELBRIDGE_FAMILY_DESCRIPTOR(family, prefix, resolution, libraryFile, loadStyle, reportsUnavailable, ...)    \
    FamilyDescriptor{ZELBRIDGE_FAMILY_STRING(prefix),                                                               \
                     libraryFile,                                                                                   \
                     LoadStyle::loadStyle,                                                                          \
                     reportsUnavailable,                                                                            \
                     family##DriverFunctions.data(),                                                                \
                     family##DriverFunctions.size(),                                                                \
                     AvailabilityTexts{ZELBRIDGE_AVAILABILITY_TEXT(prefix, "\n"),                                   \
                                       ZELBRIDGE_AVAILABILITY_TEXT(prefix, " trying to load \""),                   \
                                       ZELBRIDGE_AVAILABILITY_TEXT(prefix, " \""),                                  \
                                       ZELBRIDGE_AVAILABILITY_TEXT(prefix, " loaded \""),                           \
                                       ZELBRIDGE_AVAILABILITY_TEXT(prefix, " one of the functions in \"")}},

constexpr FamilyDescriptor kFamilyDescriptors[kFamilyCount] = {ZELBRIDGE_FAMILIES(ZELBRIDGE_FAMILY_DESCRIPTOR)};

const FamilyDescriptor* FindFamilyDescriptor(const char* prefix) noexcept
{
    if (!prefix)
        return nullptr;
    for (const FamilyDescriptor& family : kFamilyDescriptors)
        if (std::strcmp(family.prefix, prefix) == 0)
            return &family;
    return nullptr;
}

} // namespace zelbridge
