// The bridge's schema rowsets: SQLTables and SQLColumns results in the platform's columns (the same
// layout every provider fills, memory_cursor.h).
#include <algorithm>
#include <optional>

#include "dataaccess/memory_cursor.h"
#include "dataaccess/providers/odbc/odbc_session.h"
#include "dataaccess/providers/odbc/odbc_text.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::odbc {
namespace {

using Text = std::optional<std::string>;
using Row = std::vector<Text>;

// Every column of every row of a catalog function's result, as text (NULL as nullopt).
std::vector<Row> ReadAll(SessionCore& core, SQLHSTMT stmt, std::string_view function) {
    std::vector<Row> rows;
    SQLSMALLINT columns = 0;
    core.Checked(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt, "SQLNumResultCols");
    std::u16string buffer(512, u'\0');
    while (core.Checked(SQLFetch(stmt), SQL_HANDLE_STMT, stmt, function) != SQL_NO_DATA) {
        Row row;
        row.reserve(static_cast<std::size_t>(columns));
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
            std::u16string value;
            bool null = false;
            while (true) {
                SQLLEN indicator = 0;
                SQLRETURN rc = SQLGetData(stmt, c, SQL_C_WCHAR, W(buffer),
                                          static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &indicator);
                if (rc == SQL_NO_DATA) break;
                core.Checked(rc == SQL_SUCCESS_WITH_INFO ? SQL_SUCCESS : rc, SQL_HANDLE_STMT, stmt,
                             "SQLGetData");
                if (indicator == SQL_NULL_DATA) {
                    null = true;
                    break;
                }
                std::size_t room = buffer.size() - 1;
                bool complete = indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) / 2 <= room;
                value.append(buffer.data(), complete ? static_cast<std::size_t>(indicator) / 2 : room);
                if (complete) break;
            }
            row.push_back(null ? Text() : Text(ToUtf8(value)));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

Text At(const Row& row, std::size_t column_1based) {
    return column_1based - 1 < row.size() ? row[column_1based - 1] : Text();
}

std::optional<long long> Number(const Text& t) {
    if (!t || t->empty()) return std::nullopt;
    try {
        return std::stoll(*t);
    } catch (...) {
        return std::nullopt;
    }
}

Variant TextValue(const Text& t) { return t ? Variant(*t) : Variant::Null(); }

// Lengths can pass a Long's range (MariaDB's LONGTEXT is 4294967295 characters long), so they travel as
// LongLong, as the SQLite provider gives them; positions, flags and precisions are Longs.
Variant UnsignedValue(std::optional<long long> n) { return n ? Variant(*n) : Variant::Null(); }

// A restriction value: Empty, Null and Missing restrict nothing.
Text Restriction(std::span<const Variant> restrictions, std::size_t i) {
    if (i >= restrictions.size()) return std::nullopt;
    const Variant& v = restrictions[i];
    if (v.IsEmpty() || v.IsNull() || v.IsMissing()) return std::nullopt;
    return CStr(v);
}

// A restriction is an exact name, but the catalog functions read schema, table and column arguments as
// patterns: escape the pattern characters with the driver's escape.
std::string Literal(const std::string& name, const std::string& escape) {
    if (escape.empty()) return name;
    std::string out;
    for (char c : name) {
        if (c == '%' || c == '_' || std::string_view(&c, 1) == escape) out += escape;
        out += c;
    }
    return out;
}

bool Matches(const Text& restriction, const Text& value) {
    return !restriction || (value && *value == *restriction);
}

// The arguments of a catalog function, in the text API the session uses (null pointer: no restriction).
class Args {
  public:
    Args(const DriverTraits& traits, Text catalog, Text schema, Text table, Text column)
        : narrow_(traits.narrow_text) {
        if (traits.catalogs_as_schemas && schema && !catalog) {
            catalog = schema;
            schema.reset();
        }
        std::string escape = ToUtf8(traits.search_escape);
        Set(0, catalog);
        Set(1, schema ? Text(Literal(*schema, escape)) : Text());
        Set(2, table ? Text(Literal(*table, escape)) : Text());
        Set(3, column ? Text(Literal(*column, escape)) : Text());
    }
    SQLWCHAR* Wide(int i) { return has_[i] ? W(wide_[i]) : nullptr; }
    SQLCHAR* Narrow(int i) { return has_[i] ? N(narrow_text_[i]) : nullptr; }
    bool narrow() const { return narrow_; }

  private:
    void Set(int i, const Text& value) {
        has_[i] = value.has_value();
        if (!value) return;
        narrow_text_[i] = *value;
        wide_[i] = ToUtf16(*value);
    }
    bool narrow_;
    bool has_[4] = {};
    std::string narrow_text_[4];
    std::u16string wide_[4];
};

bool NullFirstLess(const Variant& a, const Variant& b) {
    const std::string* x = a.get_if<std::string>();
    const std::string* y = b.get_if<std::string>();
    if (!x || !y) return !x && y;
    return *x < *y;
}

std::unique_ptr<Cursor> Tables(SessionCore& core, std::span<const Variant> r) {
    Text type = Restriction(r, 3);
    Args a(core.traits, Restriction(r, 0), Restriction(r, 1), Restriction(r, 2), std::nullopt);
    // Drivers hide system objects unless asked for them by type; other types are filtered here, after
    // the driver's names are mapped to the platform's.
    std::string types;
    if (type) {
        std::string platform_type = PlatformTableType(*type);
        if (platform_type == "SYSTEM TABLE" || platform_type == "SYSTEM VIEW")
            // Appended piece by piece: g++ 12 takes "'" + text + "'" for an overlapping copy (-Wrestrict).
            types.append(1, '\'').append(platform_type).append(1, '\'');
    }
    std::u16string wide_types = ToUtf16(types);
    StatementHandle stmt = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, core.dbc());
    SQLRETURN rc = a.narrow() ? SQLTables(stmt.get(), a.Narrow(0), SQL_NTS, a.Narrow(1), SQL_NTS, a.Narrow(2),
                                          SQL_NTS, types.empty() ? nullptr : N(types), SQL_NTS)
                              : SQLTablesW(stmt.get(), a.Wide(0), SQL_NTS, a.Wide(1), SQL_NTS, a.Wide(2),
                                           SQL_NTS, types.empty() ? nullptr : W(wide_types), SQL_NTS);
    core.Checked(rc, SQL_HANDLE_STMT, stmt.get(), "SQLTables");
    std::vector<std::vector<Variant>> rows;
    for (const Row& row : ReadAll(core, stmt.get(), "SQLTables")) {
        std::string mapped = PlatformTableType(At(row, 4).value_or(""));
        if (type && mapped != PlatformTableType(*type)) continue;
        Text catalog = At(row, 1);
        Text schema = core.traits.catalogs_as_schemas ? catalog : At(row, 2);
        if (!Matches(Restriction(r, 1), schema)) continue;  // drivers without schemas ignore the argument
        rows.push_back({TextValue(catalog), TextValue(schema), TextValue(At(row, 3)), Variant(mapped),
                        Variant::Null(), TextValue(At(row, 5)), Variant::Null(), Variant::Null(),
                        Variant::Null()});
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& x, const auto& y) {
        for (std::size_t i : {3, 0, 1, 2}) {
            if (NullFirstLess(x[i], y[i])) return true;
            if (NullFirstLess(y[i], x[i])) return false;
        }
        return false;
    });
    return std::make_unique<MemoryCursor>(TablesColumns(), std::move(rows));
}

std::unique_ptr<Cursor> Columns(SessionCore& core, std::span<const Variant> r) {
    // psqlODBC numbers the columns it returns rather than the table's columns: a column restriction is
    // applied here, after the driver has numbered the whole table.
    Text want_column = Restriction(r, 3);
    Text want_schema = Restriction(r, 1);
    Args a(core.traits, Restriction(r, 0), want_schema, Restriction(r, 2), std::nullopt);
    StatementHandle stmt = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, core.dbc());
    SQLRETURN rc = a.narrow() ? SQLColumns(stmt.get(), a.Narrow(0), SQL_NTS, a.Narrow(1), SQL_NTS,
                                           a.Narrow(2), SQL_NTS, a.Narrow(3), SQL_NTS)
                              : SQLColumnsW(stmt.get(), a.Wide(0), SQL_NTS, a.Wide(1), SQL_NTS, a.Wide(2),
                                            SQL_NTS, a.Wide(3), SQL_NTS);
    core.Checked(rc, SQL_HANDLE_STMT, stmt.get(), "SQLColumns");
    std::vector<std::vector<Variant>> rows;
    for (const Row& row : ReadAll(core, stmt.get(), "SQLColumns")) {
        auto sql_type = static_cast<int>(Number(At(row, 5)).value_or(0));
        std::string type_name = At(row, 6).value_or("");
        std::optional<long long> size = Number(At(row, 7));
        std::optional<long long> digits = Number(At(row, 9));
        long long nullable = Number(At(row, 11)).value_or(SQL_NULLABLE_UNKNOWN);
        Text def = At(row, 13);
        // The bare word NULL is how a driver spells a column without a default (MariaDB does so for every
        // nullable column); it is no default a reader could use.
        if (def && *def == "NULL") def.reset();
        std::optional<long long> octets = Number(At(row, 16));
        std::optional<long long> ordinal = Number(At(row, 17));
        bool is_unsigned = type_name.find("unsigned") != std::string::npos ||
                           type_name.find("UNSIGNED") != std::string::npos;
        FieldType t = MapSqlType(sql_type, size && *size > 0 ? static_cast<std::uint64_t>(*size) : 0,
                                 static_cast<int>(digits.value_or(0)), is_unsigned);
        bool character = t.kind == ValueKind::kText || t.kind == ValueKind::kBinary;
        bool numeric = t.kind == ValueKind::kNumeric || t.kind == ValueKind::kInt16 ||
                       t.kind == ValueKind::kInt32 || t.kind == ValueKind::kInt64 ||
                       t.kind == ValueKind::kUInt64 || t.kind == ValueKind::kSingle ||
                       t.kind == ValueKind::kDouble;
        bool datetime = t.kind == ValueKind::kTimestamp || t.kind == ValueKind::kTime;
        std::int32_t flags = ado::adFldUnknownUpdatable | (t.attributes & (ado::adFldFixed | ado::adFldLong));
        if (nullable != SQL_NO_NULLS) flags |= ado::adFldIsNullable | ado::adFldMayBeNull;
        if (character && !octets && size) octets = t.kind == ValueKind::kText ? *size * 2 : *size;

        Text catalog = At(row, 1);
        Text schema = core.traits.catalogs_as_schemas ? catalog : At(row, 2);
        // Drivers without schemas ignore a schema argument; on them a schema restriction selects nothing.
        if (!Matches(want_column, At(row, 4)) || !Matches(want_schema, schema)) continue;
        std::vector<Variant> out;
        out.reserve(28);
        out.push_back(TextValue(catalog));
        out.push_back(TextValue(schema));
        out.push_back(TextValue(At(row, 3)));
        out.push_back(TextValue(At(row, 4)));
        out.push_back(Variant::Null());                                                  // COLUMN_GUID
        out.push_back(Variant::Null());                                                  // COLUMN_PROPID
        out.push_back(ordinal ? Variant(static_cast<int>(*ordinal)) : Variant::Null());  // ORDINAL_POSITION
        out.push_back(Variant(def.has_value()));                                         // COLUMN_HASDEFAULT
        out.push_back(TextValue(def));                                                   // COLUMN_DEFAULT
        out.push_back(Variant(flags));                                                   // COLUMN_FLAGS
        out.push_back(Variant(nullable != SQL_NO_NULLS));                                // IS_NULLABLE
        out.push_back(Variant(static_cast<int>(t.type)));                                // DATA_TYPE
        out.push_back(Variant::Null());                                                  // TYPE_GUID
        out.push_back(character ? UnsignedValue(size) : Variant::Null());
        out.push_back(character ? UnsignedValue(octets) : Variant::Null());
        out.push_back(numeric && size ? Variant(static_cast<int>(*size)) : Variant::Null());
        // Only decimal types have a scale; integer types leave it Null.
        out.push_back(t.type == ado::adNumeric || t.type == ado::adDecimal
                          ? Variant(static_cast<std::int16_t>(digits.value_or(0)))
                          : Variant::Null());
        out.push_back(datetime ? Variant(static_cast<int>(digits.value_or(0))) : Variant::Null());
        for (int i = 0; i < 9; ++i) out.push_back(Variant::Null());  // character set, collation, domain
        out.push_back(TextValue(At(row, 12)));                       // DESCRIPTION
        rows.push_back(std::move(out));
    }
    return std::make_unique<MemoryCursor>(ColumnsColumns(), std::move(rows));
}

std::unique_ptr<Cursor> Schemata(SessionCore& core, std::span<const Variant> r) {
    Text want_catalog = Restriction(r, 0);
    Text want_schema = Restriction(r, 1);
    Text want_owner = Restriction(r, 2);
    std::vector<std::vector<Variant>> rows;
    const DriverTraits& traits = core.traits;
    if (traits.schemas || traits.catalogs) {
        StatementHandle stmt = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, core.dbc());
        // The enumeration forms of SQLTables: SQL_ALL_SCHEMAS with empty catalog and table names, or
        // SQL_ALL_CATALOGS with empty schema and table names.
        std::u16string all = u"%", empty;
        std::string narrow_all = "%", narrow_empty;
        SQLRETURN rc;
        if (traits.narrow_text) {
            rc = traits.schemas ? SQLTables(stmt.get(), N(narrow_empty), 0, N(narrow_all), SQL_NTS,
                                            N(narrow_empty), 0, nullptr, 0)
                                : SQLTables(stmt.get(), N(narrow_all), SQL_NTS, N(narrow_empty), 0,
                                            N(narrow_empty), 0, nullptr, 0);
        } else {
            rc = traits.schemas
                     ? SQLTablesW(stmt.get(), W(empty), 0, W(all), SQL_NTS, W(empty), 0, nullptr, 0)
                     : SQLTablesW(stmt.get(), W(all), SQL_NTS, W(empty), 0, W(empty), 0, nullptr, 0);
        }
        core.Checked(rc, SQL_HANDLE_STMT, stmt.get(), "SQLTables");
        std::u16string current(256, u'\0');
        SQLINTEGER bytes = 0;
        Text current_catalog;
        if (Succeeded(SQLGetConnectAttrW(core.dbc(), SQL_ATTR_CURRENT_CATALOG, W(current),
                                         static_cast<SQLINTEGER>(current.size() * 2), &bytes)) &&
            bytes > 0) {
            current_catalog =
                ToUtf8(std::u16string_view(current.data(), std::min<std::size_t>(bytes / 2, 255)));
        }
        for (const Row& row : ReadAll(core, stmt.get(), "SQLTables")) {
            Text catalog = At(row, 1);
            Text schema = At(row, 2);
            if (!traits.schemas) {
                schema = traits.catalogs_as_schemas ? catalog : Text();
            } else if (!catalog) {
                catalog = current_catalog;
            }
            if (!Matches(want_catalog, catalog) || !Matches(want_schema, schema) || want_owner) continue;
            rows.push_back({TextValue(catalog), TextValue(schema), Variant::Null(), Variant::Null(),
                            Variant::Null(), Variant::Null()});
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& x, const auto& y) {
        if (NullFirstLess(x[0], y[0])) return true;
        if (NullFirstLess(y[0], x[0])) return false;
        return NullFirstLess(x[1], y[1]);
    });
    return std::make_unique<MemoryCursor>(SchemataColumns(), std::move(rows));
}

}  // namespace

std::unique_ptr<Cursor> SchemaRowset(SessionCore& core, std::int32_t schema,
                                     std::span<const Variant> restrictions) {
    switch (schema) {
        case ado::adSchemaTables:
            return Tables(core, restrictions);
        case ado::adSchemaColumns:
            return Columns(core, restrictions);
        case ado::adSchemaSchemata:
            return Schemata(core, restrictions);
        default:
            throw Error(ado::adErrFeatureNotAvailable, "ADODB.Connection",
                        "Object or provider is not able to perform requested operation.");
    }
}

}  // namespace korado::dataaccess::odbc
