// Values between ODBC buffers and Variants, shared by the cursor and the output parameters.
//
// Dates the automation date cannot hold (before year 100, PostgreSQL's infinity) read as their ISO text
// rather than failing the row.
#pragma once

#include <cstddef>
#include <string_view>

#include "dataaccess/providers/odbc/odbc_provider.h"
#include "korado/runtime/variant.h"

namespace korado::dataaccess::odbc {

// UTF-16 text into `out`, reusing its string when it holds one.
void AssignText(Variant& out, const char16_t* text, std::size_t units);
// A GUID's text as the platform shows it: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
Variant GuidVariant(const char16_t* text, std::size_t units);
// A driver's decimal digits as Decimal; Double when they do not fit; the text itself when no number.
Variant NumericVariant(std::string_view digits);
// A fixed-size value of `kind` (kBool ... kTimestamp) from its C buffer.
Variant FixedVariant(ValueKind kind, const void* buffer);

}  // namespace korado::dataaccess::odbc
