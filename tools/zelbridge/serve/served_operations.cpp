// The served operations, derived from the table of operations and the
// family catalog, and the call through a word list.
#include "served_operations.h"

#include "families/family_catalog.h"

#include <cstring>

namespace zelbridge::tool::serve {

const char* WhyNotServed(const OperationDescription& operation) noexcept
{
    if (operation.interaction == Interaction::Dialog)
        return "it opens a window on the server's screen";
    for (unsigned i = 0; i < operation.arguments.count; ++i)
        if (operation.arguments.kinds[i] == ArgumentKind::Opaque)
            return "one of its arguments is a word whose meaning only the driver knows";
    return nullptr;
}

std::optional<Operation> FindOperation(const std::string& name) noexcept
{
    for (unsigned i = 0; i < kOperationCount; ++i)
        if (name == kOperationNames[i])
            return static_cast<Operation>(i);
    return std::nullopt;
}

const std::vector<FamilyOperations>& Families()
{
    static const std::vector<FamilyOperations> families = [] {
        std::vector<FamilyOperations> all;
#define ZELBRIDGE_SERVE_FAMILY(family, prefix, ...) all.push_back({#family, ZELBRIDGE_FAMILY_STRING(prefix), {}});
        ZELBRIDGE_FAMILIES(ZELBRIDGE_SERVE_FAMILY)
#undef ZELBRIDGE_SERVE_FAMILY
        for (std::size_t family = 0; family < all.size(); ++family)
            for (const FamilyUse& use : FamilyUsesInResolutionOrder())
                if (Exports(static_cast<Family>(family), use.operation))
                    all[family].operations.push_back(Describe(use.operation).name);
        return all;
    }();
    return families;
}

const FamilyOperations* FindFamily(const std::string& name) noexcept
{
    for (const FamilyOperations& family : Families())
        if (name == family.name)
            return &family;
    return nullptr;
}

const char* WhyFamilyOperationNotServed(const std::string& name) noexcept
{
    const std::optional<Operation> generic = FindOperation(name);
    if (!generic)
        return "the table of operations does not describe its arguments";
    return WhyNotServed(Describe(*generic));
}

std::int32_t CallWithWords(platform::ProcAddress function, const Word* w, unsigned count)
{
    using W = Word;
    switch (count) {
    case 0:
        return reinterpret_cast<std::int32_t(ZELBRIDGE_STDCALL*)()>(function)();
    case 1:
        return reinterpret_cast<std::int32_t(ZELBRIDGE_STDCALL*)(W)>(function)(w[0]);
    case 2:
        return reinterpret_cast<std::int32_t(ZELBRIDGE_STDCALL*)(W, W)>(function)(w[0], w[1]);
    case 3:
        return reinterpret_cast<std::int32_t(ZELBRIDGE_STDCALL*)(W, W, W)>(function)(w[0], w[1], w[2]);
    case 4:
        return reinterpret_cast<std::int32_t(ZELBRIDGE_STDCALL*)(W, W, W, W)>(function)(w[0], w[1], w[2], w[3]);
    default:
        break;
    }
    return reinterpret_cast<std::int32_t(ZELBRIDGE_STDCALL*)(W, W, W, W, W)>(function)(w[0], w[1], w[2], w[3], w[4]);
}

} // namespace zelbridge::tool::serve
