// Values between ODBC buffers and Variants, shared by the cursor and the output parameters.
//
// Dates the automation date cannot hold (before year 100, PostgreSQL's infinity) read as their ISO text
// rather than failing the row.
#pragma once

#include <sql.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "dataaccess/providers/odbc/odbc_provider.h"
#include "dataaccess/providers/odbc/odbc_text.h"
#include "korado/runtime/variant.h"

namespace korado::dataaccess::odbc {

// UTF-16 text into `out`, reusing its string when it holds one.
inline void AssignText(Variant& out, const char16_t* text, std::size_t units);
// A GUID's text as the platform shows it: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
Variant GuidVariant(const char16_t* text, std::size_t units);
void AssignGuid(Variant& out, const char16_t* text, std::size_t units);
// A driver's decimal digits as Decimal; Double when they do not fit; the text itself when no number.
// The Assign forms write into `out` in place (reusing its string for the text), for a cursor's slot.
void AssignNumeric(Variant& out, std::string_view digits);
Variant NumericVariant(std::string_view digits);
// A fixed-size value from its C buffer as AssignFixed (below) reads it, as a new Variant.
Variant FixedVariant(ValueKind kind, const void* buffer);

// AssignFixed's out-of-line part: unsigned BIGINT, dates, times and timestamps; Null for the rest.
void AssignMoment(Variant& out, ValueKind kind, const void* buffer);

namespace detail {
void AssignNewText(Variant& out, const char16_t* text, std::size_t units);

template <class T>
T Load(const void* p) noexcept {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
}  // namespace detail

inline void AssignText(Variant& out, const char16_t* text, std::size_t units) {
    if (std::string* s = out.get_if<std::string>()) {
        AssignUtf8(text, units, *s);
    } else {
        detail::AssignNewText(out, text, units);
    }
}

// A fixed-size value of `kind` (kBool ... kTimestamp) from its C buffer into `out`, in place; Null for any
// other kind. The signed numbers are read inline: this is the cursor's path for every such value.
inline void AssignFixed(Variant& out, ValueKind kind, const void* p) {
    using detail::Load;
    switch (kind) {
        case ValueKind::kBool:
            out.Assign(Load<unsigned char>(p) != 0);
            return;
        case ValueKind::kInt16:
            out.Assign(static_cast<std::int16_t>(Load<SQLSMALLINT>(p)));
            return;
        case ValueKind::kInt32:
            out.Assign(static_cast<std::int32_t>(Load<SQLINTEGER>(p)));
            return;
        case ValueKind::kInt64:
            out.Assign(static_cast<std::int64_t>(Load<SQLBIGINT>(p)));
            return;
        case ValueKind::kSingle:
            out.Assign(Load<float>(p));
            return;
        case ValueKind::kDouble:
            out.Assign(Load<double>(p));
            return;
        default:
            AssignMoment(out, kind, p);
            return;
    }
}

}  // namespace korado::dataaccess::odbc
