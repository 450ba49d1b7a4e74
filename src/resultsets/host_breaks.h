// The host script object's report-break collection, reached by name as any host's object is: what the
// dynaset and its fields call on g_HostObject.Breaks. A host that gave no script object (Nothing) has no
// break definitions: nothing is called on it and its count is 0.
#pragma once

#include <cstdint>

#include "korado/runtime/variant.h"

namespace korado::host_breaks {

// g_HostObject.Breaks; Nothing when the host gave no script object.
Variant Breaks();
// Breaks.Count; 0 for Nothing.
std::int32_t Count(const Variant& breaks);
// Breaks(i), 1-based, through the collection's default member.
Variant Item(const Variant& breaks, std::int32_t i);

}  // namespace korado::host_breaks
