// Declared types to platform field types, and SQLite result codes to platform error numbers.
#include <sqlite3.h>

#include <cctype>
#include <string>

#include "dataaccess/providers/sqlite/sqlite_provider.h"

namespace korado::dataaccess::sqlite {
namespace {

std::string Upper(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool Has(const std::string& s, std::string_view part) { return s.find(part) != std::string::npos; }
bool Starts(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

// "(p)" or "(p, s)" after the type name; -1 where absent.
void SizeArguments(const std::string& s, int& first, int& second) {
    first = second = -1;
    std::size_t open = s.find('(');
    if (open == std::string::npos) return;
    std::size_t i = open + 1;
    auto number = [&](int& out) {
        while (i < s.size() && s[i] == ' ') ++i;
        long v = 0;
        bool any = false;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            if (v < 100000000) v = v * 10 + (s[i] - '0');
            ++i;
            any = true;
        }
        if (any) out = static_cast<int>(v);
        while (i < s.size() && s[i] == ' ') ++i;
    };
    number(first);
    if (i < s.size() && s[i] == ',') {
        ++i;
        number(second);
    }
}

ColumnType Fixed(std::int32_t type, std::int32_t size, std::uint8_t precision, ValueKind kind) {
    ColumnType t;
    t.type = type;
    t.defined_size = size;
    t.precision = precision;
    t.attributes = ado::adFldFixed;
    t.kind = kind;
    t.declared = true;
    return t;
}

ColumnType Text(std::int32_t type, int length, bool fixed) {
    ColumnType t;
    t.declared = true;
    t.kind = ValueKind::kText;
    if (length > 0) {
        t.type = type;
        t.defined_size = length;
        if (fixed) t.attributes = ado::adFldFixed;
        // As the ODBC bridge marks them: hosts take a column longer than 255 for a long one.
        if (length > 255) t.attributes |= ado::adFldLong;
    } else {
        t.type = ado::adLongVarWChar;
        t.defined_size = -1;
        t.attributes = ado::adFldLong;
    }
    return t;
}

ColumnType Binary(std::int32_t type, int length, bool fixed) {
    ColumnType t;
    t.declared = true;
    t.kind = ValueKind::kBinary;
    if (length > 0) {
        t.type = type;
        t.defined_size = length;
        if (fixed) t.attributes = ado::adFldFixed;
        // As the ODBC bridge marks them: hosts take a column longer than 255 for a long one.
        if (length > 255) t.attributes |= ado::adFldLong;
    } else {
        t.type = ado::adLongVarBinary;
        t.defined_size = -1;
        t.attributes = ado::adFldLong;
    }
    return t;
}

}  // namespace

ColumnType MapDeclaredType(std::string_view declared) {
    const std::string s = Upper(declared);
    const std::string name = s.substr(0, s.find('('));
    auto is = [&](std::initializer_list<std::string_view> names) {
        std::string trimmed = name;
        while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
        for (std::string_view n : names)
            if (trimmed == n) return true;
        return false;
    };
    int p = -1, q = -1;
    SizeArguments(s, p, q);

    if (is({"INTEGER", "INT", "MEDIUMINT", "INT4", "LONG"}))
        return Fixed(ado::adInteger, 4, 10, ValueKind::kInt32);
    if (is({"BIGINT", "INT8", "UNSIGNED BIG INT", "LONGLONG"}))
        return Fixed(ado::adBigInt, 8, 19, ValueKind::kInt64);
    if (is({"SMALLINT", "INT2", "TINYINT", "SHORT"})) return Fixed(ado::adSmallInt, 2, 5, ValueKind::kInt16);
    if (is({"REAL", "DOUBLE", "DOUBLE PRECISION", "FLOAT", "FLOAT8"}))
        return Fixed(ado::adDouble, 8, 15, ValueKind::kDouble);
    if (is({"NUMERIC", "DECIMAL", "NUMBER", "DEC"})) {
        ColumnType t = Fixed(ado::adNumeric, 19, static_cast<std::uint8_t>(p > 0 && p <= 38 ? p : 18),
                             ValueKind::kNumeric);
        // NUMERIC(p) has scale 0 as in SQL; a bare NUMERIC keeps each value's own digits.
        t.scale = static_cast<std::uint8_t>(q >= 0 && q <= 28 ? q : 0);
        t.scale_given = p > 0;
        return t;
    }
    if (is({"MONEY", "CURRENCY", "SMALLMONEY"})) return Fixed(ado::adCurrency, 8, 19, ValueKind::kCurrency);
    if (is({"BOOLEAN", "BOOL", "BIT", "LOGICAL", "YESNO"}))
        return Fixed(ado::adBoolean, 2, 255, ValueKind::kBool);
    if (is({"DATE"})) return Fixed(ado::adDBDate, 6, 10, ValueKind::kDate);
    if (is({"TIME"})) return Fixed(ado::adDBTime, 6, 8, ValueKind::kDate);
    if (is({"DATETIME", "TIMESTAMP", "DATETIME2", "SMALLDATETIME"}) || Starts(name, "TIMESTAMP ") ||
        Starts(name, "DATETIME "))
        return Fixed(ado::adDBTimeStamp, 16, 19, ValueKind::kDate);
    if (is({"GUID", "UUID", "UNIQUEIDENTIFIER"})) return Fixed(ado::adGUID, 16, 255, ValueKind::kGuid);
    if (is({"CHAR", "CHARACTER", "NCHAR", "NATIONAL CHARACTER", "NATIVE CHARACTER"}))
        return Text(ado::adWChar, p > 0 ? p : 1, true);
    if (is({"VARCHAR", "NVARCHAR", "VARYING CHARACTER", "NATIONAL VARYING CHARACTER", "CHARACTER VARYING",
            "VARCHAR2", "NVARCHAR2"}))
        return Text(ado::adVarWChar, p, false);
    if (is({"BINARY"})) return Binary(ado::adBinary, p > 0 ? p : 1, true);
    if (is({"VARBINARY"})) return Binary(ado::adVarBinary, p, false);
    if (is({"BLOB", "IMAGE", "LONGBLOB", "MEDIUMBLOB", "BYTEA", "LONG VARBINARY"}))
        return Binary(ado::adLongVarBinary, -1, false);
    // Anything else by SQLite's own affinity rules, where they say something about the values.
    if (Has(name, "INT")) return Fixed(ado::adBigInt, 8, 19, ValueKind::kInt64);
    if (Has(name, "CHAR") || Has(name, "CLOB") || Has(name, "TEXT")) return Text(ado::adVarWChar, p, false);
    if (Has(name, "BLOB")) return Binary(ado::adLongVarBinary, -1, false);
    if (Has(name, "REAL") || Has(name, "FLOA") || Has(name, "DOUB"))
        return Fixed(ado::adDouble, 8, 15, ValueKind::kDouble);
    return ColumnType{};
}

ColumnType TypeOfValue(int storage, std::size_t text_bytes) {
    switch (storage) {
        case SQLITE_INTEGER:
            return Fixed(ado::adBigInt, 8, 19, ValueKind::kAny);
        case SQLITE_FLOAT:
            return Fixed(ado::adDouble, 8, 15, ValueKind::kAny);
        case SQLITE_BLOB: {
            ColumnType t = Binary(ado::adLongVarBinary, -1, false);
            t.kind = ValueKind::kAny;
            return t;
        }
        case SQLITE_TEXT:
        default: {
            ColumnType t;
            if (storage == SQLITE_TEXT && text_bytes > 255) {
                t = Text(ado::adLongVarWChar, -1, false);
            } else {
                t = Text(ado::adVarWChar, 255, false);
            }
            t.kind = ValueKind::kAny;
            t.declared = false;
            return t;
        }
    }
}

Diagnosis DiagnoseSqlite(int extended_code, std::string_view message, bool preparing, bool timed_out) {
    auto says = [&](std::string_view part) { return message.find(part) != std::string_view::npos; };
    switch (extended_code & 0xFF) {
        case SQLITE_ERROR:
            if (says("no such table") || says("no such view")) return {hr::DB_E_NOTABLE, "42S02"};
            if (says("already exists") && (says("table") || says("view")))
                return {hr::DB_E_DUPLICATETABLEID, "42S01"};
            if (preparing || says("syntax error") || says("no such column") || says("no such function") ||
                says("incomplete input") || says("unrecognized token"))
                return {hr::DB_E_ERRORSINCOMMAND, "42000"};
            return {hr::E_FAIL, "HY000"};
        case SQLITE_CONSTRAINT:
            return {hr::DB_E_INTEGRITYVIOLATION, "23000"};
        case SQLITE_INTERRUPT:
            return timed_out ? Diagnosis{hr::DB_E_ABORTLIMITREACHED, "HYT00"}
                             : Diagnosis{hr::DB_E_CANCELED, "HY008"};
        case SQLITE_READONLY:
            return {hr::DB_SEC_E_PERMISSIONDENIED, "25006"};
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return {hr::DB_SEC_E_PERMISSIONDENIED, "42000"};
        case SQLITE_LOCKED:
            return {hr::DB_E_TABLEINUSE, "HY000"};
        case SQLITE_BUSY:
            return {hr::E_FAIL, "HY000"};
        case SQLITE_NOMEM:
            return {hr::E_OUTOFMEMORY, "HY001"};
        case SQLITE_TOOBIG:
            return {hr::DB_E_DATAOVERFLOW, "22001"};
        case SQLITE_MISMATCH:
            return {hr::DB_E_CANTCONVERTVALUE, "22018"};
        case SQLITE_RANGE:
            return {hr::DB_E_BADBINDINFO, "07009"};
        case SQLITE_MISUSE:
            return {hr::E_UNEXPECTED, "HY010"};
        case SQLITE_CANTOPEN:
            return {hr::E_FAIL, "08001"};
        default:
            return {hr::E_FAIL, "HY000"};
    }
}

}  // namespace korado::dataaccess::sqlite
