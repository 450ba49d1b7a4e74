// The cell texts of the commonest values written without the general conversion: a million-row result
// spends more time turning whole numbers and dates into text than reading them. Each form is the one CStr
// gives, character for character.
#pragma once

#include <string>

#include "korado/runtime/variant.h"

namespace korado::console {

// Appends the text of a whole number or a date to `out`; false (nothing appended) for any other value.
bool AppendFastCellText(const Variant& value, std::string& out);

}  // namespace korado::console
