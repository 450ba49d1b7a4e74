#include "dataaccess/providers/odbc/odbc_values.h"

#include <sql.h>
#include <sqlext.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "dataaccess/providers/odbc/odbc_text.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::odbc {
namespace {

using detail::Load;

void AssignDateText(Variant& out, const DateParts& p) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
    out.AssignString(text);
}

void AssignDate(Variant& out, const DateParts& parts) {
    if (parts.year >= 100 && parts.year <= 9999) {
        try {
            out.Assign(DateFromParts(parts));
            return;
        } catch (const Error&) {
        }
    }
    AssignDateText(out, parts);
}

}  // namespace

void detail::AssignNewText(Variant& out, const char16_t* text, std::size_t units) {
    std::string s;
    AssignUtf8(text, units, s);
    out = Variant(std::move(s));
}

Variant GuidVariant(const char16_t* text, std::size_t units) {
    std::string s = ToUtf8(std::u16string_view(text, units));
    if (!s.empty() && s.front() == '{') s.erase(0, 1);
    if (!s.empty() && s.back() == '}') s.pop_back();
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return Variant("{" + s + "}");
}

void AssignGuid(Variant& out, const char16_t* text, std::size_t units) { out = GuidVariant(text, units); }

void AssignNumeric(Variant& out, std::string_view digits) {
    if (std::optional<Decimal> d = ParseDecimalText(digits)) {
        out.Assign(*d);
    } else if (std::optional<double> n = ParseNumber(digits)) {
        out.Assign(*n);
    } else {
        out.AssignString(digits);
    }
}

Variant NumericVariant(std::string_view digits) {
    Variant v;
    AssignNumeric(v, digits);
    return v;
}

void AssignMoment(Variant& out, ValueKind kind, const void* p) {
    switch (kind) {
        case ValueKind::kUInt64: {
            auto v = Load<SQLUBIGINT>(p);
            if (v <= static_cast<SQLUBIGINT>(std::numeric_limits<std::int64_t>::max())) {
                out.Assign(static_cast<std::int64_t>(v));
            } else {
                out.Assign(Decimal{static_cast<__int128>(v), 0});
            }
            return;
        }
        case ValueKind::kDate: {
            auto d = Load<SQL_DATE_STRUCT>(p);
            AssignDate(out, DateParts{d.year, d.month, d.day, 0, 0, 0, 0});
            return;
        }
        case ValueKind::kTime: {
            auto t = Load<SQL_TIME_STRUCT>(p);
            out.Assign(Date{(t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0});
            return;
        }
        case ValueKind::kTimestamp: {
            auto t = Load<SQL_TIMESTAMP_STRUCT>(p);
            AssignDate(out, DateParts{t.year, t.month, t.day, t.hour, t.minute, t.second,
                                      static_cast<double>(t.fraction) / 1e9});
            return;
        }
        default:
            out.AssignNull();
            return;
    }
}

Variant FixedVariant(ValueKind kind, const void* p) {
    Variant v;
    AssignFixed(v, kind, p);
    return v;
}

}  // namespace korado::dataaccess::odbc
