// The bridge's pure mappings: SQLSTATE to platform number, SQL type to field type, information values to
// property values, connection strings. Nothing here touches a handle.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "dataaccess/providers/odbc/odbc_provider.h"

namespace korado::dataaccess::odbc {
namespace {

char LowerAscii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool ContainsNoCase(std::string_view haystack, std::string_view needle) noexcept {
    if (needle.empty()) return true;
    if (haystack.size() < needle.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i)
        if (EqualsNoCase(haystack.substr(i, needle.size()), needle)) return true;
    return false;
}

std::string_view TrimBlanks(std::string_view s) noexcept {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::int32_t SizeOrUnlimited(std::uint64_t size) noexcept {
    if (size == 0 || size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return -1;
    return static_cast<std::int32_t>(size);
}

std::uint8_t ClampByte(std::uint64_t v) noexcept {
    return static_cast<std::uint8_t>(std::min<std::uint64_t>(v, 255));
}

FieldType Fixed(std::int32_t type, std::int32_t size, std::uint8_t precision, ValueKind kind) {
    FieldType f;
    f.type = type;
    f.defined_size = size;
    f.precision = precision;
    f.attributes = ado::adFldFixed;
    f.kind = kind;
    return f;
}

FieldType Variable(std::int32_t type, std::uint64_t column_size, bool fixed_width, bool long_type,
                   ValueKind kind, std::uint64_t bind_limit) {
    FieldType f;
    f.type = type;
    f.kind = kind;
    f.defined_size = SizeOrUnlimited(column_size);
    if (fixed_width) f.attributes |= ado::adFldFixed;
    if (long_type || f.defined_size < 0 || column_size > 255) f.attributes |= ado::adFldLong;
    f.long_data = long_type || column_size == 0 || column_size > bind_limit;
    return f;
}

// Rounds the digit string `digits` (most significant first) by dropping its last `drop` digits, halves to
// even. May add a leading digit ("999" -> "1000" before the drop is accounted for by the caller's scale).
// Written with assign, erase and push_back rather than assigning "0" or shrinking by resize, which g++ 12
// takes for overlapping copies (-Wrestrict).
void DropDigitsRounded(std::string& digits, std::size_t drop) {
    if (drop == 0) return;
    if (drop > digits.size()) {
        digits.assign(1, '0');
        return;
    }
    std::string_view dropped(digits.data() + digits.size() - drop, drop);
    char first = dropped.front();
    bool rest_nonzero = dropped.substr(1).find_first_not_of('0') != std::string_view::npos;
    digits.erase(digits.size() - drop);
    if (digits.empty()) digits.push_back('0');
    bool up = first > '5' || (first == '5' && (rest_nonzero || ((digits.back() - '0') % 2 == 1)));
    if (!up) return;
    std::size_t i = digits.size();
    while (i > 0) {
        --i;
        if (digits[i] == '9') {
            digits[i] = '0';
        } else {
            ++digits[i];
            return;
        }
    }
    digits.insert(digits.begin(), '1');
}

}  // namespace

// ---- errors --------------------------------------------------------------------------------------------

std::int32_t NumberForSqlState(std::string_view s) noexcept {
    if (s.size() != 5) return hr::E_FAIL;
    if (s == "42S02" || s == "S0002") return hr::DB_E_NOTABLE;
    if (s.starts_with("42") || s == "37000") return hr::DB_E_ERRORSINCOMMAND;
    if (s == "22001" || s == "22003") return hr::DB_E_DATAOVERFLOW;
    if (s.starts_with("22")) return hr::DB_E_CANTCONVERTVALUE;
    if (s.starts_with("23")) return hr::DB_E_INTEGRITYVIOLATION;
    if (s.starts_with("28")) return hr::DB_SEC_E_AUTH_FAILED;
    if (s == "07001" || s == "07002") return hr::DB_E_PARAMNOTOPTIONAL;
    if (s == "HYT00" || s == "HYT01") return hr::DB_E_ABORTLIMITREACHED;
    // PostgreSQL's query_canceled covers both a cancel request and statement_timeout; the statement that
    // set a time-out tells the two apart.
    if (s == "HY008" || s == "57014") return hr::DB_E_CANCELED;
    return hr::E_FAIL;
}

std::string PlatformDescription(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    static constexpr std::string_view kUnix = "[unixODBC][Driver Manager]";
    static constexpr std::string_view kPlatform = "[unixODBC][ODBC Driver Manager]";
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t pos = 0;
    while (true) {
        std::size_t hit = text.find(kUnix, pos);
        if (hit == std::string_view::npos) break;
        out.append(text.substr(pos, hit - pos));
        out.append(kPlatform);
        pos = hit + kUnix.size();
    }
    out.append(text.substr(pos));
    return out;
}

bool IsConnectionLost(std::string_view s) noexcept {
    return s.starts_with("08") || s == "57P01" || s == "57P02" || s == "57P03";
}

Diagnostic CommitOutcomeUnknown(std::string_view source, std::int32_t native_error) {
    return Diagnostic{NumberForSqlState("08007"), std::string(source),
                      "The connection to the server was lost during the commit; whether the transaction was "
                      "committed is unknown.",
                      native_error, "08007"};
}

// ---- types ---------------------------------------------------------------------------------------------

FieldType MapSqlType(int sql_type, std::uint64_t column_size, int decimal_digits, bool is_unsigned,
                     std::uint64_t bind_limit) {
    switch (sql_type) {
        case SQL_CHAR:
            return Variable(ado::adChar, column_size, true, false, ValueKind::kText, bind_limit);
        case SQL_VARCHAR:
            return Variable(ado::adVarChar, column_size, false, false, ValueKind::kText, bind_limit);
        case SQL_LONGVARCHAR:
            return Variable(ado::adLongVarChar, column_size, false, true, ValueKind::kText, bind_limit);
        case SQL_WCHAR:
            return Variable(ado::adWChar, column_size, true, false, ValueKind::kText, bind_limit);
        case SQL_WVARCHAR:
            return Variable(ado::adVarWChar, column_size, false, false, ValueKind::kText, bind_limit);
        case SQL_WLONGVARCHAR:
            return Variable(ado::adLongVarWChar, column_size, false, true, ValueKind::kText, bind_limit);
        case SQL_BINARY:
            return Variable(ado::adBinary, column_size, true, false, ValueKind::kBinary, bind_limit);
        case SQL_VARBINARY:
            return Variable(ado::adVarBinary, column_size, false, false, ValueKind::kBinary, bind_limit);
        case SQL_LONGVARBINARY:
            return Variable(ado::adLongVarBinary, column_size, false, true, ValueKind::kBinary, bind_limit);
        case SQL_DECIMAL:
        case SQL_NUMERIC: {
            FieldType f = Fixed(ado::adNumeric, 19, ClampByte(column_size), ValueKind::kNumeric);
            f.scale = ClampByte(decimal_digits < 0 ? 0 : decimal_digits);
            return f;
        }
        case SQL_TINYINT:
            return is_unsigned ? Fixed(ado::adUnsignedSmallInt, 2, 3, ValueKind::kInt32)
                               : Fixed(ado::adSmallInt, 2, 3, ValueKind::kInt16);
        case SQL_SMALLINT:
            return is_unsigned ? Fixed(ado::adUnsignedSmallInt, 2, 5, ValueKind::kInt32)
                               : Fixed(ado::adSmallInt, 2, 5, ValueKind::kInt16);
        case SQL_INTEGER:
            return is_unsigned ? Fixed(ado::adUnsignedInt, 4, 10, ValueKind::kInt64)
                               : Fixed(ado::adInteger, 4, 10, ValueKind::kInt32);
        case SQL_BIGINT:
            return is_unsigned ? Fixed(ado::adUnsignedBigInt, 8, 20, ValueKind::kUInt64)
                               : Fixed(ado::adBigInt, 8, 19, ValueKind::kInt64);
        case SQL_REAL:
            return Fixed(ado::adSingle, 4, 7, ValueKind::kSingle);
        case SQL_FLOAT:
        case SQL_DOUBLE:
            return Fixed(ado::adDouble, 8, 15, ValueKind::kDouble);
        case SQL_BIT:
            return Fixed(ado::adBoolean, 2, 255, ValueKind::kBool);
        case SQL_TYPE_DATE:
        case SQL_DATE:
            return Fixed(ado::adDBDate, 6, 255, ValueKind::kDate);
        case SQL_TYPE_TIME:
        case SQL_TIME:
            return Fixed(ado::adDBTime, 6, 255, ValueKind::kTime);
        case SQL_TYPE_TIMESTAMP:
        case SQL_TIMESTAMP: {
            FieldType f = Fixed(ado::adDBTimeStamp, 16, ClampByte(column_size ? column_size : 19),
                                ValueKind::kTimestamp);
            f.scale = ClampByte(decimal_digits < 0 ? 0 : decimal_digits);
            return f;
        }
        case SQL_GUID:
            return Fixed(ado::adGUID, 16, 255, ValueKind::kGuid);
        default:
            // Intervals and driver-specific types: their text is the most faithful value the platform has.
            return Variable(ado::adVarWChar, column_size, false, false, ValueKind::kText, bind_limit);
    }
}

std::int32_t TransactionDdl(int txn_capable) noexcept {
    switch (txn_capable) {
        case SQL_TC_DML:
            return ado::DBPROPVAL_TC_DML;
        case SQL_TC_ALL:
            return ado::DBPROPVAL_TC_ALL;
        case SQL_TC_DDL_COMMIT:
            return ado::DBPROPVAL_TC_DDL_COMMIT;
        case SQL_TC_DDL_IGNORE:
            return ado::DBPROPVAL_TC_DDL_IGNORE;
        default:
            return ado::DBPROPVAL_TC_NONE;
    }
}

std::int32_t IdentifierCase(int identifier_case) noexcept {
    switch (identifier_case) {
        case SQL_IC_UPPER:
            return 1;
        case SQL_IC_LOWER:
            return 2;
        case SQL_IC_SENSITIVE:
            return 4;
        case SQL_IC_MIXED:
            return 8;
        default:
            return 0;
    }
}

std::string PlatformTableType(std::string_view driver_type) {
    std::string upper;
    for (char c : TrimBlanks(driver_type))
        upper.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c);
    if (upper == "BASE TABLE" || upper == "FOREIGN TABLE" || upper == "PARTITIONED TABLE") return "TABLE";
    if (upper == "MATVIEW" || upper == "MATERIALIZED VIEW") return "VIEW";
    if (upper == "TEMPORARY" || upper == "TEMPORARY TABLE" || upper == "LOCAL TEMPORARY TABLE") {
        return "LOCAL TEMPORARY";
    }
    if (upper == "GLOBAL TEMPORARY TABLE") return "GLOBAL TEMPORARY";
    return upper;
}

bool ParsePlainDecimal(std::string_view text, Decimal& out) noexcept {
    const char* s = text.data();
    const char* const end = s + text.size();
    bool negative = false;
    if (s != end && (*s == '-' || *s == '+')) {
        negative = *s == '-';
        ++s;
    }
    if (end - s > 20) return false;
    auto digit = [](char c) { return static_cast<unsigned>(c - '0'); };
    // At most 19 digits fit 64 bits and their decimals the scale. Twenty digits without a point may wrap;
    // the count below turns them away.
    std::uint64_t m = 0;
    const char* const whole = s;
    while (s != end && digit(*s) <= 9) m = m * 10 + digit(*s++);
    std::size_t digits = static_cast<std::size_t>(s - whole);
    std::size_t decimals = 0;
    if (s != end && *s == '.') {
        const char* const fraction = ++s;
        while (s != end && digit(*s) <= 9) m = m * 10 + digit(*s++);
        decimals = static_cast<std::size_t>(s - fraction);
        digits += decimals;
    }
    if (s != end || digits == 0 || digits > 19) return false;
    // Zero has no decimals, however it is written: the general reading keeps no digit of it.
    if (m == 0) {
        out = Decimal{0, 0};
        return true;
    }
    out = Decimal{negative ? -static_cast<__int128>(m) : static_cast<__int128>(m),
                  static_cast<std::uint8_t>(decimals)};
    return true;
}

std::optional<Decimal> ParseDecimalText(std::string_view text) {
    if (Decimal plain; ParsePlainDecimal(text, plain)) return plain;
    text = TrimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::string digits;
    long long exponent = 0;
    bool any_digit = false;
    bool in_fraction = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            any_digit = true;
            if (!(digits.empty() && c == '0')) digits.push_back(c);
            if (in_fraction) --exponent;
        } else if (c == '.' && !in_fraction) {
            in_fraction = true;
        } else {
            break;
        }
    }
    if (!any_digit) return std::nullopt;
    if (i < text.size()) {
        if (text[i] != 'e' && text[i] != 'E') return std::nullopt;
        ++i;
        bool exp_negative = false;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) exp_negative = text[i++] == '-';
        if (i >= text.size()) return std::nullopt;
        long long e = 0;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            if (e < 100000) e = e * 10 + (text[i] - '0');
        }
        exponent += exp_negative ? -e : e;
    }
    if (digits.empty()) return Decimal{0, 0};
    // value = digits x 10^exponent; the scale is -exponent, within 0..28.
    if (exponent > 0) {
        if (digits.size() + static_cast<std::size_t>(exponent) > 29) return std::nullopt;
        digits.append(static_cast<std::size_t>(exponent), '0');
        exponent = 0;
    }
    long long scale = -exponent;
    if (scale > Decimal::kMaxScale) {
        DropDigitsRounded(digits, static_cast<std::size_t>(scale - Decimal::kMaxScale));
        scale = Decimal::kMaxScale;
    }
    while (true) {
        if (digits.size() <= 29) {
            __int128 m = 0;
            for (char c : digits) m = m * 10 + (c - '0');
            if (Decimal::FitsMantissa(m)) {
                // Trailing zeros a rounding produced are kept: the scale says how many decimals there are.
                return Decimal{negative ? -m : m, static_cast<std::uint8_t>(scale)};
            }
        }
        if (scale == 0) return std::nullopt;
        DropDigitsRounded(digits, 1);
        --scale;
    }
}

// ---- connection strings --------------------------------------------------------------------------------

OdbcAttributes SplitOdbcString(std::string_view text) {
    OdbcAttributes out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t eq = text.find('=', i);
        std::size_t semi = text.find(';', i);
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            std::size_t end = semi == std::string_view::npos ? text.size() : semi;
            std::string_view key = TrimBlanks(text.substr(i, end - i));
            if (!key.empty()) out.emplace_back(std::string(key), std::string());
            i = end + 1;
            continue;
        }
        std::string_view key = TrimBlanks(text.substr(i, eq - i));
        std::size_t v = eq + 1;
        while (v < text.size() && (text[v] == ' ' || text[v] == '\t')) ++v;
        std::size_t end;
        if (v < text.size() && text[v] == '{') {
            // "}}" inside the braces stands for "}", so a password's "}" does not end it.
            std::size_t length = DelimitedLength(text.substr(v));
            end = length == std::string_view::npos ? text.size() : v + length;
            std::string value(text.substr(v, end - v));
            std::size_t next = text.find(';', end);
            out.emplace_back(std::string(key), std::move(value));
            i = next == std::string_view::npos ? text.size() : next + 1;
            continue;
        }
        end = text.find(';', v);
        if (end == std::string_view::npos) end = text.size();
        out.emplace_back(std::string(key), std::string(TrimBlanks(text.substr(v, end - v))));
        i = end + 1;
    }
    return out;
}

std::string JoinOdbcString(const OdbcAttributes& attributes) {
    std::string out;
    for (const auto& [key, value] : attributes) {
        out += key;
        out += '=';
        // A value that is braced already (as a host may write one) goes as it is; one that holds the
        // syntax's own characters is braced, its "}" doubled, so that it never ends early or adds a key.
        bool braced = !value.empty() && value.front() == '{' && DelimitedLength(value) == value.size();
        bool needs_braces = !braced && (value.find_first_of(";={}") != std::string::npos ||
                                        (!value.empty() && (value.front() == ' ' || value.back() == ' ')));
        if (needs_braces) {
            out += '{';
            for (char c : value) {
                if (c == '}') out += '}';
                out += c;
            }
            out += '}';
        } else {
            out += value;
        }
        out += ';';
    }
    return out;
}

std::string RemovePasswords(std::string_view completed) {
    OdbcAttributes attributes = SplitOdbcString(completed);
    std::erase_if(attributes, [](const auto& a) {
        return EqualsNoCase(a.first, "PWD") || EqualsNoCase(a.first, "PASSWORD");
    });
    return JoinOdbcString(attributes);
}

DriverKind KindOfDriver(std::string_view driver_name, std::string_view library) noexcept {
    if (ContainsNoCase(library, "psqlodbc") || ContainsNoCase(driver_name, "postgres"))
        return DriverKind::kPostgreSQL;
    if (ContainsNoCase(library, "maodbc") || ContainsNoCase(driver_name, "mariadb"))
        return DriverKind::kMariaDB;
    if (ContainsNoCase(library, "sqlite") || ContainsNoCase(driver_name, "sqlite"))
        return DriverKind::kSQLite;
    return DriverKind::kOther;
}

namespace {

// The platform's initialization keys that mean nothing to an ODBC driver.
constexpr std::array<std::string_view, 20> kPlatformOnlyKeys = {
    "Provider",
    "Persist Security Info",
    "Prompt",
    "Connect Timeout",
    "Locale Identifier",
    "Extended Properties",
    "Initial Catalog",
    "Mode",
    "OLE DB Services",
    "General Timeout",
    "Window Handle",
    "Cache Authentication",
    "Encrypt Password",
    "Mask Password",
    "Impersonation Level",
    "Protection Level",
    "Bind Flags",
    "Lock Owner",
    "Asynchronous Processing",
    "Location",
};

bool IsKey(std::string_view key, std::initializer_list<std::string_view> names) {
    for (std::string_view n : names)
        if (EqualsNoCase(key, n)) return true;
    return false;
}

const std::string* FindAttribute(const OdbcAttributes& attributes, std::string_view key) {
    for (const auto& a : attributes)
        if (EqualsNoCase(a.first, key)) return &a.second;
    return nullptr;
}

}  // namespace

OdbcAttributes DriverConnectAttributes(const ConnectionString& cs, std::string_view user,
                                       std::string_view password) {
    OdbcAttributes out;
    auto has = [&](std::string_view key) { return FindAttribute(out, key) != nullptr; };
    std::string string_user;
    std::string string_password;
    std::string data_source;
    for (const auto& entry : cs.Entries()) {
        const std::string& key = entry.first;
        const std::string& value = entry.second;
        if (IsKey(key, {"UID", "User ID"})) {
            string_user = value;
        } else if (IsKey(key, {"PWD", "Password"})) {
            string_password = value;
        } else if (EqualsNoCase(key, "Data Source")) {
            data_source = value;
        } else if (std::none_of(kPlatformOnlyKeys.begin(), kPlatformOnlyKeys.end(),
                                [&](std::string_view k) { return EqualsNoCase(key, k); })) {
            out.emplace_back(key, value);
        }
    }
    if (auto extended = cs.Find("Extended Properties")) {
        for (auto& [key, value] : SplitOdbcString(*extended)) {
            if (IsKey(key, {"UID"}) && string_user.empty()) {
                string_user = value;
            } else if (IsKey(key, {"PWD"}) && string_password.empty()) {
                string_password = value;
            } else if (!IsKey(key, {"UID", "PWD"}) && !has(key)) {
                out.emplace_back(std::move(key), std::move(value));
            }
        }
    }
    if (!data_source.empty() && !has("DSN") && !has("DRIVER") && !has("FILEDSN")) {
        out.emplace_back("DSN", data_source);
    }
    std::string uid = !user.empty() ? std::string(user) : string_user;
    std::string pwd = !password.empty() ? std::string(password) : string_password;
    if (!uid.empty()) out.emplace_back("UID", uid);
    if (!pwd.empty()) out.emplace_back("PWD", pwd);
    // unixODBC takes the first DSN/DRIVER/FILEDSN it meets; put the target first so that no driver keyword
    // that happens to precede it is read by the driver manager instead.
    std::stable_partition(out.begin(), out.end(), [](const auto& a) {
        return IsKey(a.first, {"DSN", "DRIVER", "FILEDSN"});
    });
    return out;
}

std::pair<std::string, std::string> ConnectTarget(const OdbcAttributes& attributes) {
    for (const auto& [key, value] : attributes) {
        if (EqualsNoCase(key, "DRIVER")) {
            std::string_view v = TrimBlanks(value);
            if (v.size() >= 2 && v.front() == '{' && v.back() == '}') v = v.substr(1, v.size() - 2);
            return {"DRIVER", std::string(v)};
        }
        if (EqualsNoCase(key, "DSN")) return {"DSN", value};
        if (EqualsNoCase(key, "FILEDSN")) return {"FILEDSN", value};
    }
    return {"", ""};
}

void AddDriverOptions(OdbcAttributes& attributes, DriverKind kind) {
    if (kind != DriverKind::kPostgreSQL) return;
    if (!FindAttribute(attributes, "Protocol")) attributes.emplace_back("Protocol", "7.4-2");
    if (!FindAttribute(attributes, "BoolsAsChar")) attributes.emplace_back("BoolsAsChar", "0");
    if (!FindAttribute(attributes, "UseDeclareFetch")) {
        attributes.emplace_back("UseDeclareFetch", "1");
        if (!FindAttribute(attributes, "Fetch")) attributes.emplace_back("Fetch", "10000");
    }
}

std::size_t ServerCursorFetchRows(const OdbcAttributes& attributes, DriverKind kind) {
    if (kind != DriverKind::kPostgreSQL) return 0;
    const std::string* declare = FindAttribute(attributes, "UseDeclareFetch");
    const std::string* fetch = FindAttribute(attributes, "Fetch");
    const std::string* protocol = FindAttribute(attributes, "Protocol");
    if (!declare || TrimBlanks(*declare) != "1" || !fetch || !protocol ||
        !TrimBlanks(*protocol).ends_with("-2"))
        return 0;
    std::size_t rows = 0;
    std::string_view digits = TrimBlanks(*fetch);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), rows);
    return ec == std::errc() && end == digits.data() + digits.size() ? rows : 0;
}

bool NeedsDriverOptions(const OdbcAttributes& completed, DriverKind kind) {
    if (kind != DriverKind::kPostgreSQL) return false;
    const std::string* protocol = FindAttribute(completed, "Protocol");
    const std::string* bools = FindAttribute(completed, "BoolsAsChar");
    bool rollback_ok = !protocol || protocol->find('-') == std::string::npos || protocol->ends_with("-2");
    bool bools_ok = !bools || *bools == "0";
    return !rollback_ok || !bools_ok;
}

std::string ProcedureCallText(std::string_view text, std::size_t markers, bool return_value) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '{') return std::string(text);
    std::string out = return_value ? "{? = call " : "{call ";
    out += text;
    if (text.find('(') == std::string_view::npos) {
        out += '(';
        for (std::size_t i = 0; i < markers; ++i) out += i ? ", ?" : "?";
        out += ')';
    }
    out += '}';
    return out;
}

std::string CallStatementText(std::string_view call) {
    call = TrimBlanks(call);
    if (call.size() < 2 || call.front() != '{' || call.back() != '}') return {};
    std::string_view body = TrimBlanks(call.substr(1, call.size() - 2));
    if (body.size() < 5 || !EqualsNoCase(body.substr(0, 5), "call ")) return {};
    std::string_view routine = TrimBlanks(body.substr(5));
    std::string out = "CALL ";
    out += routine;
    if (routine.find('(') == std::string_view::npos) out += "()";
    return out;
}

}  // namespace korado::dataaccess::odbc
