// Values straight from PostgreSQL's wire text into Variants, in place, and parameters back to text.
//
// The cursor calls ReadValue for every value of every row: numbers and dates are parsed from libpq's
// buffer without a temporary string, text is copied into the slot's own string (which keeps its storage
// from row to row). Column types follow the bridge's mapping of the ODBC types psqlODBC would report, so
// that a program sees the same field types whichever provider it picks.
#include <sql.h>
#include <sqlext.h>

#include <charconv>
#include <cstdio>
#include <cstring>

#include "dataaccess/providers/odbc/odbc_provider.h"
#include "dataaccess/providers/odbc/odbc_values.h"
#include "dataaccess/providers/pg/pg_provider.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::pg {
namespace {

// Type OIDs of pg_type (fixed in the server's catalog).
enum : Oid {
    kBool = 16,
    kBytea = 17,
    kChar = 18,
    kName = 19,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kText = 25,
    kOid = 26,
    kJson = 114,
    kXml = 142,
    kFloat4 = 700,
    kFloat8 = 701,
    kMoney = 790,
    kBpchar = 1042,
    kVarchar = 1043,
    kDate = 1082,
    kTime = 1083,
    kTimestamp = 1114,
    kTimestampTz = 1184,
    kNumeric = 1700,
    kUuid = 2950,
    kJsonb = 3802,
};

PgType FromOdbc(int sql_type, std::uint64_t size, int digits, ValueKind kind) {
    odbc::FieldType f = odbc::MapSqlType(sql_type, size, digits, false, ~std::uint64_t{0});
    return PgType{f.type, f.defined_size, f.precision, f.scale, f.attributes, kind};
}

int ParseInt(const char*& p, const char* end, int digits) noexcept {
    int v = 0;
    for (int i = 0; i < digits && p < end && *p >= '0' && *p <= '9'; ++i, ++p) v = v * 10 + (*p - '0');
    return v;
}

// "HH:MM:SS[.ffffff]" from p; false when it is not that.
bool ParseTime(const char*& p, const char* end, DateParts& parts) noexcept {
    if (end - p < 8 || p[2] != ':' || p[5] != ':') return false;
    parts.hour = ParseInt(p, end, 2);
    ++p;
    parts.minute = ParseInt(p, end, 2);
    ++p;
    parts.second = ParseInt(p, end, 2);
    if (p < end && *p == '.') {
        ++p;
        double scale = 0.1;
        while (p < end && *p >= '0' && *p <= '9') {
            parts.fraction += (*p++ - '0') * scale;
            scale /= 10;
        }
    }
    return true;
}

// "YYYY-MM-DD" from p (four-digit years: others, BC dates and infinity read as text).
bool ParseDay(const char*& p, const char* end, DateParts& parts) noexcept {
    if (end - p < 10 || p[4] != '-' || p[7] != '-') return false;
    parts.year = ParseInt(p, end, 4);
    ++p;
    parts.month = ParseInt(p, end, 2);
    ++p;
    parts.day = ParseInt(p, end, 2);
    return parts.year >= 100;
}

void AssignParts(Variant& out, const DateParts& parts, std::string_view text) {
    try {
        out.Assign(DateFromParts(parts));
    } catch (const Error&) {
        out.AssignString(text);
    }
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AssignBytea(Variant& out, const char* text, int length) {
    // bytea_output is "hex" since PostgreSQL 9.0: "\x" and two digits a byte.
    thread_local std::vector<std::uint8_t> scratch;
    scratch.clear();
    if (length >= 2 && text[0] == '\\' && text[1] == 'x') {
        scratch.reserve(static_cast<std::size_t>(length - 2) / 2);
        for (int i = 2; i + 1 < length; i += 2)
            scratch.push_back(static_cast<std::uint8_t>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
    } else {
        scratch.assign(text, text + length);
    }
    out.AssignBytes(scratch.data(), scratch.size());
}

void AssignMoney(Variant& out, std::string_view text) {
    // lc_monetary decides the symbol and grouping; the digits and the point are what counts.
    __int128 units = 0;
    int decimals = -1;
    bool negative = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (decimals >= 0) {
                if (decimals >= 4) continue;
                ++decimals;
            }
            units = units * 10 + (c - '0');
        } else if (c == '.') {
            decimals = 0;
        } else if (c == '-' || c == '(') {
            negative = true;
        }
    }
    for (int d = decimals < 0 ? 0 : decimals; d < 4; ++d) units *= 10;
    out.Assign(Currency{static_cast<std::int64_t>(negative ? -units : units)});
}

void AssignGuid(Variant& out, std::string_view text) {
    char buffer[40];
    std::size_t n = 0;
    buffer[n++] = '{';
    for (char c : text) {
        if (n >= sizeof buffer - 2) break;
        buffer[n++] = (c >= 'a' && c <= 'f') ? static_cast<char>(c - 32) : c;
    }
    buffer[n++] = '}';
    out.AssignString(std::string_view(buffer, n));
}

template <class T>
void AssignInteger(Variant& out, const char* text, int length) {
    T v{};
    auto [ptr, ec] = std::from_chars(text, text + length, v);
    if (ec != std::errc() || ptr != text + length) {
        out.AssignString(std::string_view(text, static_cast<std::size_t>(length)));
        return;
    }
    out.Assign(v);
}

template <class T>
void AssignFloat(Variant& out, const char* text, int length) {
    T v{};
    auto [ptr, ec] = std::from_chars(text, text + length, v);
    if (ptr != text + length || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
        out.AssignString(std::string_view(text, static_cast<std::size_t>(length)));
        return;
    }
    out.Assign(v);
}

}  // namespace

PgType TypeForOid(Oid oid, int typmod) {
    switch (oid) {
        case kBool:
            return FromOdbc(SQL_BIT, 1, 0, ValueKind::kBool);
        case kInt2:
            return FromOdbc(SQL_SMALLINT, 5, 0, ValueKind::kInt16);
        case kInt4:
            return FromOdbc(SQL_INTEGER, 10, 0, ValueKind::kInt32);
        case kInt8:
        case kOid:
            return FromOdbc(SQL_BIGINT, 19, 0, ValueKind::kInt64);
        case kFloat4:
            return FromOdbc(SQL_REAL, 7, 0, ValueKind::kSingle);
        case kFloat8:
            return FromOdbc(SQL_DOUBLE, 15, 0, ValueKind::kDouble);
        case kNumeric: {
            // typmod is ((precision << 16) | scale) + 4; none given: up to 1000 digits, shown as 28.
            if (typmod < 4) return FromOdbc(SQL_NUMERIC, 28, 6, ValueKind::kNumeric);
            int precision = ((typmod - 4) >> 16) & 0xffff;
            int scale = (typmod - 4) & 0xffff;
            return FromOdbc(SQL_NUMERIC, static_cast<std::uint64_t>(precision), scale, ValueKind::kNumeric);
        }
        case kMoney: {
            PgType t{ado::adCurrency, 8, 19, 255, ado::adFldFixed, ValueKind::kCurrency};
            return t;
        }
        case kBpchar:
            return FromOdbc(SQL_WCHAR, typmod > 4 ? static_cast<std::uint64_t>(typmod - 4) : 1, 0,
                            ValueKind::kText);
        case kChar:
            return FromOdbc(SQL_WCHAR, 1, 0, ValueKind::kText);
        case kName:
            return FromOdbc(SQL_WVARCHAR, 63, 0, ValueKind::kText);
        case kVarchar:
            if (typmod > 4)
                return FromOdbc(SQL_WVARCHAR, static_cast<std::uint64_t>(typmod - 4), 0, ValueKind::kText);
            return FromOdbc(SQL_WLONGVARCHAR, 0, 0, ValueKind::kText);
        case kText:
        case kJson:
        case kJsonb:
        case kXml:
            return FromOdbc(SQL_WLONGVARCHAR, 0, 0, ValueKind::kText);
        case kBytea:
            return FromOdbc(SQL_LONGVARBINARY, 0, 0, ValueKind::kBinary);
        case kDate:
            return FromOdbc(SQL_TYPE_DATE, 10, 0, ValueKind::kDate);
        case kTime:
            return FromOdbc(SQL_TYPE_TIME, 8, 0, ValueKind::kTime);
        case kTimestamp:
        case kTimestampTz: {
            int digits = typmod >= 0 ? typmod : 6;
            return FromOdbc(SQL_TYPE_TIMESTAMP, static_cast<std::uint64_t>(digits ? 20 + digits : 19), digits,
                            ValueKind::kTimestamp);
        }
        case kUuid:
            return FromOdbc(SQL_GUID, 36, 0, ValueKind::kGuid);
        default:
            // Intervals, arrays, ranges, enums, network types...: their text is the most faithful value.
            return FromOdbc(SQL_WLONGVARCHAR, 0, 0, ValueKind::kText);
    }
}

Oid OidForParameter(std::int32_t ado_type, const Variant& value) {
    if (ado_type == ado::adVariant || ado_type == ado::adEmpty) {
        switch (value.Type()) {
            case VarType::Boolean:
                return kBool;
            case VarType::Byte:
            case VarType::Integer:
                return kInt2;
            case VarType::Long:
                return kInt4;
            case VarType::LongLong:
                return kInt8;
            case VarType::Single:
                return kFloat4;
            case VarType::Double:
                return kFloat8;
            case VarType::Currency:
            case VarType::Decimal:
                return kNumeric;
            case VarType::Date:
                return kTimestamp;
            case VarType::ByteArray:
                return kBytea;
            default:
                return 0;
        }
    }
    switch (ado_type) {
        case ado::adBSTR:
        case ado::adChar:
        case ado::adVarChar:
        case ado::adLongVarChar:
        case ado::adWChar:
        case ado::adVarWChar:
        case ado::adLongVarWChar:
            // Text goes untyped: the server reads it as whatever the statement wants there, as a literal.
            return 0;
        case ado::adBoolean:
            return kBool;
        case ado::adTinyInt:
        case ado::adUnsignedTinyInt:
        case ado::adSmallInt:
            return kInt2;
        case ado::adInteger:
        case ado::adUnsignedSmallInt:
            return kInt4;
        case ado::adBigInt:
        case ado::adUnsignedInt:
            return kInt8;
        case ado::adSingle:
            return kFloat4;
        case ado::adDouble:
            return kFloat8;
        case ado::adCurrency:
        case ado::adDecimal:
        case ado::adNumeric:
        case ado::adVarNumeric:
        case ado::adUnsignedBigInt:
            return kNumeric;
        case ado::adDBDate:
            return kDate;
        case ado::adDBTime:
            return kTime;
        case ado::adDate:
        case ado::adDBTimeStamp:
        case ado::adFileTime:
            return kTimestamp;
        case ado::adGUID:
            return kUuid;
        case ado::adBinary:
        case ado::adVarBinary:
        case ado::adLongVarBinary:
            return kBytea;
        default:
            throw ProviderError(
                {Diagnostic{hr::DB_E_BADBINDINFO, std::string(kErrorSource),
                            "Binding information is invalid.", NativeErrorForSqlState("HY004"), "HY004"}});
    }
}

void ReadValue(ValueKind kind, const char* text, int length, Variant& out) {
    switch (kind) {
        case ValueKind::kText:
            out.AssignString(std::string_view(text, static_cast<std::size_t>(length)));
            return;
        case ValueKind::kBool:
            out.Assign(length > 0 && text[0] == 't');
            return;
        case ValueKind::kInt16:
            AssignInteger<std::int16_t>(out, text, length);
            return;
        case ValueKind::kInt32:
            AssignInteger<std::int32_t>(out, text, length);
            return;
        case ValueKind::kInt64:
            AssignInteger<std::int64_t>(out, text, length);
            return;
        case ValueKind::kSingle:
            AssignFloat<float>(out, text, length);
            return;
        case ValueKind::kDouble:
            AssignFloat<double>(out, text, length);
            return;
        case ValueKind::kNumeric: {
            std::string_view digits(text, static_cast<std::size_t>(length));
            Decimal d;
            if (odbc::ParsePlainDecimal(digits, d)) {
                out.Assign(d);
            } else {
                odbc::AssignNumeric(out, digits);
            }
            return;
        }
        case ValueKind::kCurrency:
            AssignMoney(out, std::string_view(text, static_cast<std::size_t>(length)));
            return;
        case ValueKind::kBinary:
            AssignBytea(out, text, length);
            return;
        case ValueKind::kGuid:
            AssignGuid(out, std::string_view(text, static_cast<std::size_t>(length)));
            return;
        case ValueKind::kDate:
        case ValueKind::kTime:
        case ValueKind::kTimestamp: {
            const char* p = text;
            const char* end = text + length;
            DateParts parts;
            bool ok = true;
            if (kind != ValueKind::kTime) ok = ParseDay(p, end, parts);
            if (ok && kind == ValueKind::kTimestamp) ok = p < end && *p++ == ' ' && ParseTime(p, end, parts);
            if (ok && kind == ValueKind::kTime) ok = ParseTime(p, end, parts);
            // A time zone after a timestamptz is the session's own: the local time is what the platform
            // shows.
            if (ok && p < end && *p != '+' && *p != '-') ok = false;
            std::string_view whole(text, static_cast<std::size_t>(length));
            if (!ok) {
                out.AssignString(whole);
            } else if (kind == ValueKind::kTime) {
                out.Assign(Date{(parts.hour * 3600.0 + parts.minute * 60.0 + parts.second + parts.fraction) /
                                86400.0});
            } else {
                AssignParts(out, parts, whole);
            }
            return;
        }
    }
}

bool ParameterText(const Variant& value, std::int32_t ado_type, std::string& out) {
    (void)ado_type;
    switch (value.Type()) {
        case VarType::Empty:
        case VarType::Null:
            return false;
        case VarType::Boolean:
            out = CBool(value) ? "true" : "false";
            return true;
        case VarType::Date: {
            DateParts p = PartsFromDate(CDate(value));
            char text[64];
            int micros = static_cast<int>(p.fraction * 1e6 + 0.5);
            if (micros >= 1000000) micros = 999999;
            std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06d", p.year, p.month, p.day,
                          p.hour, p.minute, p.second, micros);
            if (ado_type == ado::adDBTime) {
                out.assign(text + 11);
            } else if (ado_type == ado::adDBDate) {
                out.assign(text, 10);
            } else {
                out = text;
            }
            return true;
        }
        case VarType::ByteArray: {
            const Bytes* bytes = value.get_if<Bytes>();
            static constexpr char kHex[] = "0123456789abcdef";
            out = "\\x";
            if (bytes) {
                out.reserve(2 + bytes->size() * 2);
                for (std::uint8_t b : *bytes) {
                    out.push_back(kHex[b >> 4]);
                    out.push_back(kHex[b & 15]);
                }
            }
            return true;
        }
        case VarType::String:
            if (const std::string* s = value.get_if<std::string>()) {
                out = *s;
                if (ado_type == ado::adGUID && out.size() == 38 && out.front() == '{')
                    out = out.substr(1, 36);
                return true;
            }
            break;
        default:
            break;
    }
    out = CStr(value);
    return true;
}

}  // namespace korado::dataaccess::pg
