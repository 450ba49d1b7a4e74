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

template <class T>
T Load(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

Variant DateVariant(int year, int month, int day, int hour, int minute, int second, unsigned long nanos) {
    DateParts parts{year, month, day, hour, minute, second, static_cast<double>(nanos) / 1e9};
    if (year >= 100 && year <= 9999) {
        try {
            return Variant(DateFromParts(parts));
        } catch (const Error&) {
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    return Variant(std::string(text));
}

}  // namespace

void AssignText(Variant& out, const char16_t* text, std::size_t units) {
    if (std::string* s = out.get_if<std::string>()) {
        AssignUtf8(text, units, *s);
        return;
    }
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

Variant NumericVariant(std::string_view digits) {
    if (std::optional<Decimal> d = ParseDecimalText(digits)) return Variant(*d);
    if (std::optional<double> n = ParseNumber(digits)) return Variant(*n);
    return Variant(std::string(digits));
}

Variant FixedVariant(ValueKind kind, const void* p) {
    switch (kind) {
        case ValueKind::kBool:
            return Variant(Load<unsigned char>(p) != 0);
        case ValueKind::kInt16:
            return Variant(static_cast<std::int16_t>(Load<SQLSMALLINT>(p)));
        case ValueKind::kInt32:
            return Variant(static_cast<int>(Load<SQLINTEGER>(p)));
        case ValueKind::kInt64:
            return Variant(static_cast<long long>(Load<SQLBIGINT>(p)));
        case ValueKind::kUInt64: {
            auto v = Load<SQLUBIGINT>(p);
            if (v <= static_cast<SQLUBIGINT>(std::numeric_limits<long long>::max())) {
                return Variant(static_cast<long long>(v));
            }
            return Variant(Decimal{static_cast<__int128>(v), 0});
        }
        case ValueKind::kSingle:
            return Variant(Load<float>(p));
        case ValueKind::kDouble:
            return Variant(Load<double>(p));
        case ValueKind::kDate: {
            auto d = Load<SQL_DATE_STRUCT>(p);
            return DateVariant(d.year, d.month, d.day, 0, 0, 0, 0);
        }
        case ValueKind::kTime: {
            auto t = Load<SQL_TIME_STRUCT>(p);
            return Variant(Date{(t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0});
        }
        case ValueKind::kTimestamp: {
            auto t = Load<SQL_TIMESTAMP_STRUCT>(p);
            return DateVariant(t.year, t.month, t.day, t.hour, t.minute, t.second, t.fraction);
        }
        default:
            return Variant::Null();
    }
}

}  // namespace korado::dataaccess::odbc
