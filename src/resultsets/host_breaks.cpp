#include "resultsets/host_breaks.h"

#include "korado/platform/modGlobals.h"
#include "korado/runtime/dispatch.h"

namespace korado::host_breaks {

Variant Breaks() {
    if (!g_HostObject) return Variant(Ref<Dispatch>());
    return GetProperty(Variant(g_HostObject), "Breaks");
}

std::int32_t Count(const Variant& breaks) {
    return breaks.IsNothing() ? 0 : CLng(GetProperty(breaks, "Count"));
}

Variant Item(const Variant& breaks, std::int32_t i) { return GetProperty(breaks, "", i); }

}  // namespace korado::host_breaks
