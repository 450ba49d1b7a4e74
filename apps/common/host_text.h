// Texts that every korado host shows the same way, whatever it shows them in: an error the library raised,
// the library's messages, and which columns hold numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "korado/runtime/error.h"

namespace korado::apps {

// The library's texts break lines with CR LF (they were written for message boxes); a terminal or a Qt
// label wants one LF for CR LF, a lone CR or a lone LF.
std::string LineFeedText(std::string_view text);

// "Error 0x<number, 8 hex digits> (<source>): <description>", the description verbatim apart from its line
// breaks.
std::string FormatError(const Error& e);

// Whether a field of this DataTypeEnum holds numbers (right-aligned in tables and grids).
bool IsNumericType(std::int32_t ado_type) noexcept;

}  // namespace korado::apps
