// The six family descriptors, generated from the family catalog.
#include "families/family_tables.h"

#include <cstring>
#include <iterator>

namespace zelbridge {
namespace {

template <typename Signature> struct ArgumentCount;
template <typename Result, typename... Arguments> struct ArgumentCount<Result(Arguments...)> {
    static constexpr unsigned value = sizeof...(Arguments);
};

#define ZELBRIDGE_DRIVER_FUNCTION_NAME(family, prefix, resolution, operation, driver, ...)                          \
    ZELBRIDGE_FAMILY_STRING(resolution) #driver,

#define ZELBRIDGE_ENTRY_POINT_TEXT(prefix, operation, text) "ZEL: " ZELBRIDGE_FAMILY_STRING(prefix) #operation text

#define ZELBRIDGE_ENTRY_POINT_DESCRIPTOR(family, prefix, resolution, operation, driver, result, parameters, arguments, \
                                         kind, fallback)                                                               \
    EntryPointDescriptor{ZELBRIDGE_FAMILY_STRING(prefix) #operation,                                                   \
                         ArgumentCount<result parameters>::value,                                                      \
                         ForwardingKind::kind,                                                                         \
                         fallback,                                                                                     \
                         ZELBRIDGE_ENTRY_POINT_TEXT(prefix, operation, "()\n"),                                        \
                         ZELBRIDGE_ENTRY_POINT_TEXT(prefix, operation, "("),                                           \
                         ZELBRIDGE_ENTRY_POINT_TEXT(prefix, operation, "() - NO DLL!\n"),                              \
                         ZELBRIDGE_ENTRY_POINT_TEXT(prefix, operation, "() iAnswerSize = ")},

#define ZELBRIDGE_FAMILY_TABLES(family, prefix, resolution, ...)                                                    \
    constexpr const char* family##DriverFunctions[] = {                                                             \
        ZELBRIDGE_FAMILY_ROWS(ZELBRIDGE_DRIVER_FUNCTION_NAME, family, prefix, resolution)};                         \
    constexpr EntryPointDescriptor family##EntryPoints[] = {                                                        \
        ZELBRIDGE_FAMILY_ROWS(ZELBRIDGE_ENTRY_POINT_DESCRIPTOR, family, prefix, resolution)};                       \
    static_assert(std::size(family##DriverFunctions) == static_cast<std::size_t>(family_slots::family::Count));     \
    static_assert(std::size(family##EntryPoints) == std::size(family##DriverFunctions));                            \
    static_assert(std::size(family##DriverFunctions) <= kMaxFamilyDriverFunctions);

ZELBRIDGE_FAMILIES(ZELBRIDGE_FAMILY_TABLES)

} // namespace

#define ZELBRIDGE_AVAILABILITY_TEXT(prefix, text) "ZEL: " ZELBRIDGE_FAMILY_STRING(prefix) "IsDLLAvailable()" text

#define ZELBRIDGE_FAMILY_DESCRIPTOR(family, prefix, resolution, libraryFile, loadStyle, reportsUnavailable)         \
    FamilyDescriptor{ZELBRIDGE_FAMILY_STRING(prefix),                                                               \
                     libraryFile,                                                                                   \
                     LoadStyle::loadStyle,                                                                          \
                     reportsUnavailable,                                                                            \
                     family##DriverFunctions,                                                                       \
                     std::size(family##DriverFunctions),                                                            \
                     family##EntryPoints,                                                                           \
                     std::size(family##EntryPoints),                                                                \
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
