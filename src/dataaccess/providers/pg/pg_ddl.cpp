// CREATE TABLE in PostgreSQL's type names, chosen so that the table reads back with the platform types its
// columns were given (a copied recordset opens with the fields it came from), and tables the catalog
// creates atomically.
//
// Currency becomes numeric(19,4) rather than money: money's text form follows the server's lc_monetary
// (currency sign, group separators, usually two decimals), so what is written and read back depends on a
// server setting and loses a currency value's third and fourth decimals; numeric(19,4) holds every currency
// value exactly in any locale.
#include <cstdio>
#include <string>

#include "dataaccess/providers/pg/pg_meta.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::pg {
namespace {

// PostgreSQL's longest declared varchar; longer or unsized text is "text".
constexpr std::int32_t kMaxVarchar = 10485760;

std::string Sized(std::string_view name, std::int32_t size) {
    return std::string(name) + "(" + std::to_string(size) + ")";
}

std::string Numeric(const ColumnInfo& c) {
    if (c.precision == 0) return "numeric";
    return "numeric(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
}

std::string TextType(const ColumnDefinition& d, bool fixed) {
    const std::int32_t size = d.info.defined_size;
    if (size <= 0 || size > kMaxVarchar) return "text";
    return Sized(fixed || d.fixed_length ? "char" : "varchar", size);
}

// Empty for a type PostgreSQL has no column type for.
std::string TypeName(const ColumnDefinition& d) {
    const ColumnInfo& c = d.info;
    switch (c.type) {
        case ado::adTinyInt:
        case ado::adUnsignedTinyInt:
        case ado::adSmallInt:
            return "smallint";
        case ado::adUnsignedSmallInt:
        case ado::adInteger:
            return "integer";
        case ado::adUnsignedInt:
        case ado::adBigInt:
            return "bigint";
        case ado::adUnsignedBigInt:
            return "numeric(20,0)";
        case ado::adSingle:
            return "real";
        case ado::adDouble:
            return "double precision";
        case ado::adCurrency:
            return "numeric(19,4)";
        case ado::adDecimal:
        case ado::adNumeric:
        case ado::adVarNumeric:
            return Numeric(c);
        case ado::adBoolean:
            return "boolean";
        case ado::adDate:
        case ado::adDBTimeStamp:
        case ado::adFileTime:
            return "timestamp";
        case ado::adDBDate:
            return "date";
        case ado::adDBTime:
            return "time";
        case ado::adGUID:
            return "uuid";
        case ado::adChar:
        case ado::adWChar:
            return TextType(d, true);
        case ado::adBSTR:
        case ado::adVarChar:
        case ado::adVarWChar:
            return TextType(d, false);
        case ado::adLongVarChar:
        case ado::adLongVarWChar:
            return "text";
        case ado::adBinary:
        case ado::adVarBinary:
        case ado::adLongVarBinary:
            return "bytea";
        default:
            return {};
    }
}

bool IsInteger(std::int32_t type) {
    switch (type) {
        case ado::adTinyInt:
        case ado::adUnsignedTinyInt:
        case ado::adSmallInt:
        case ado::adUnsignedSmallInt:
        case ado::adInteger:
        case ado::adUnsignedInt:
        case ado::adBigInt:
            return true;
        default:
            return false;
    }
}

std::string DateLiteral(const Variant& v) {
    const DateParts p = PartsFromDate(CDate(v));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
    return Quoted(text, '\'');
}

// A default as an SQL literal: numbers as numbers, Booleans and dates in PostgreSQL's spelling (a date's
// text form elsewhere follows the locale), everything else as quoted text.
std::string Literal(const Variant& v) {
    if (v.IsNull()) return "NULL";
    if (v.Type() == VarType::Boolean) return CBool(v) ? "TRUE" : "FALSE";
    if (v.Type() == VarType::Date) return DateLiteral(v);
    if (v.IsNumber()) return CStr(v);
    return Quoted(CStr(v), '\'');
}

[[noreturn]] void BadType(std::string_view source) {
    throw ProviderError({Diagnostic{hr::DB_E_BADTYPE, std::string(source), "Type is invalid.", 0, "HY004"}});
}

}  // namespace

std::string CreateTableText(std::string_view table, std::span<const ColumnDefinition> columns,
                            std::string_view error_source) {
    std::string sql = "CREATE TABLE " + Quoted(table, '"') + " (";
    bool first = true;
    for (const ColumnDefinition& d : columns) {
        const std::string type = TypeName(d);
        if (type.empty()) BadType(error_source);
        if (!first) sql += ", ";
        first = false;
        sql += Quoted(d.info.name, '"') + " " + type;
        if (d.info.auto_increment) {
            // By default rather than always: rows copied from elsewhere keep the numbers they bring.
            if (!IsInteger(d.info.type)) BadType(error_source);
            sql += " GENERATED BY DEFAULT AS IDENTITY";
            continue;
        }
        if (!d.nullable) sql += " NOT NULL";
        if (!d.default_value.IsEmpty()) sql += " DEFAULT " + Literal(d.default_value);
    }
    sql += ")";
    return sql;
}

void CreateTable(const CatalogQuery& query, bool in_transaction, std::string_view table,
                 std::span<const ColumnDefinition> columns, std::string_view error_source) {
    const std::string sql = CreateTableText(table, columns, error_source);
    // Outside a transaction the one statement is atomic by itself; inside one, a failed statement would
    // leave the whole transaction aborted.
    if (in_transaction) query("SAVEPOINT korado_create_table", {});
    try {
        query(sql, {});
    } catch (const ProviderError& e) {
        if (in_transaction) {
            // A link that broke in between fails here too: the failure to report is the first one.
            try {
                query("ROLLBACK TO SAVEPOINT korado_create_table", {});
            } catch (const Error&) {
            }
        }
        std::vector<Diagnostic> records = e.Records();
        if (records.empty() || records.front().sql_state != "42P07") throw;
        records.front().number = hr::DB_E_DUPLICATETABLEID;
        throw ProviderError(std::move(records));
    }
    if (in_transaction) query("RELEASE SAVEPOINT korado_create_table", {});
}

}  // namespace korado::dataaccess::pg
