// The attach and detach steps, shared by DllMain and the shared-object hooks.
#include "module/lifecycle.h"

#include "api/system_table.h"

namespace zelbridge {

void AttachModule() noexcept
{
}

void DetachModule() noexcept
{
    SystemTable::Instance().ReleaseAll();
}

} // namespace zelbridge
