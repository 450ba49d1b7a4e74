// CREATE TABLE text for the catalog, in type names that the provider's own type mapping reads back as the
// platform types they came from (SMALLINT as adSmallInt, MONEY as adCurrency, NVARCHAR(40) as adVarWChar
// of 40 characters), so that a table created through the catalog opens with the fields it was given.
#include <string>

#include "dataaccess/providers/sqlite/sqlite_provider.h"
#include "dataaccess/type_kinds.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::sqlite {
namespace {

std::string Sized(std::string_view name, std::int32_t size) {
    std::string text(name);
    if (size > 0) text.append("(").append(std::to_string(size)).append(")");
    return text;
}

std::string Decimal(const ColumnInfo& c) {
    if (c.precision == 0) return "DECIMAL";
    return "DECIMAL(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
}

// Empty for a type SQLite has no column type for.
std::string TypeName(const ColumnDefinition& d) {
    const ColumnInfo& c = d.info;
    switch (c.type) {
        case ado::adTinyInt:
        case ado::adUnsignedTinyInt:
        case ado::adSmallInt:
            return "SMALLINT";
        case ado::adInteger:
        case ado::adUnsignedSmallInt:
            return "INTEGER";
        case ado::adBigInt:
        case ado::adUnsignedInt:
        case ado::adUnsignedBigInt:
            return "BIGINT";
        case ado::adSingle:
            return "REAL";
        case ado::adDouble:
            return "DOUBLE";
        case ado::adCurrency:
            return "MONEY";
        case ado::adDecimal:
        case ado::adNumeric:
        case ado::adVarNumeric:
            return Decimal(c);
        case ado::adBoolean:
            return "BOOLEAN";
        case ado::adDate:
        case ado::adDBTimeStamp:
            return "DATETIME";
        case ado::adDBDate:
            return "DATE";
        case ado::adDBTime:
            return "TIME";
        case ado::adGUID:
            return "GUID";
        case ado::adChar:
            return Sized("CHAR", c.defined_size);
        case ado::adWChar:
            return Sized("NCHAR", c.defined_size);
        case ado::adVarChar:
            return Sized(d.fixed_length ? "CHAR" : "VARCHAR", c.defined_size);
        case ado::adVarWChar:
            return Sized(d.fixed_length ? "NCHAR" : "NVARCHAR", c.defined_size);
        case ado::adLongVarChar:
        case ado::adLongVarWChar:
            return "TEXT";
        case ado::adBinary:
            return Sized("BINARY", c.defined_size);
        case ado::adVarBinary:
            return Sized(d.fixed_length ? "BINARY" : "VARBINARY", c.defined_size);
        case ado::adLongVarBinary:
            return "BLOB";
        default:
            return {};
    }
}

// A default as an SQL literal: numbers and Booleans as numbers, everything else as quoted text.
std::string Literal(const Variant& v) {
    if (v.IsNull()) return "NULL";
    if (v.Type() == VarType::Boolean) return CBool(v) ? "1" : "0";
    if (v.IsNumber()) return CStr(v);
    return Quoted(CStr(v), '\'');
}

[[noreturn]] void BadType() {
    throw ProviderError(
        {Diagnostic{hr::DB_E_BADTYPE, std::string(kErrorSource), "Type is invalid.", 0, "HY004"}});
}

}  // namespace

std::string CreateTableText(std::string_view table, std::span<const ColumnDefinition> columns) {
    std::string sql = "CREATE TABLE " + Quoted(table, '"') + " (";
    bool first = true;
    for (const ColumnDefinition& d : columns) {
        std::string type = TypeName(d);
        if (type.empty()) BadType();
        if (!first) sql += ", ";
        first = false;
        sql += Quoted(d.info.name, '"');
        if (d.info.auto_increment) {
            // SQLite numbers rows itself only for the one spelling "INTEGER PRIMARY KEY".
            if (!IsIntegerType(d.info.type)) BadType();
            sql += " INTEGER PRIMARY KEY AUTOINCREMENT";
            continue;
        }
        sql += " " + type;
        if (!d.nullable) sql += " NOT NULL";
        if (!d.default_value.IsEmpty()) sql += " DEFAULT " + Literal(d.default_value);
    }
    sql += ")";
    return sql;
}

}  // namespace korado::dataaccess::sqlite
