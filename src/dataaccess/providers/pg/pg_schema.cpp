// The schema rowsets from pg_catalog, in the platform's columns and with the values PostgreSQL users get
// through the bridge: the same table types (system objects only when asked for by type), the same column
// numbering and sizes, so that a program sees one dictionary whichever provider it connects with.
#include <algorithm>
#include <charconv>

#include "dataaccess/memory_cursor.h"
#include "dataaccess/providers/pg/pg_meta.h"
#include "dataaccess/providers/pg/pg_provider.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::pg {
namespace {

// A restriction value: Empty, Null and Missing restrict nothing.
SqlText Restriction(std::span<const Variant> restrictions, std::size_t i) {
    if (i >= restrictions.size()) return std::nullopt;
    const Variant& v = restrictions[i];
    if (v.IsEmpty() || v.IsNull() || v.IsMissing()) return std::nullopt;
    return CStr(v);
}

Variant TextValue(const SqlText& t) { return t ? Variant(*t) : Variant::Null(); }

long long Number(const SqlText& t, long long fallback = 0) {
    if (!t) return fallback;
    long long n = fallback;
    const char* end = t->data() + t->size();
    if (std::from_chars(t->data(), end, n).ptr != end) return fallback;
    return n;
}

// The objects of pg_catalog and information_schema are the server's own: the bridge reports them as
// system objects and lists them only when asked for by that type. Views there are told from tables (the
// bridge calls both "SYSTEM TABLE"). Like the bridge, the list does not depend on the user's privileges:
// a dictionary shows what exists.
constexpr std::string_view kTablesSql = R"sql(
SELECT current_database(), n.nspname, c.relname,
       CASE WHEN n.nspname IN ('pg_catalog', 'information_schema')
            THEN CASE WHEN c.relkind IN ('v', 'm') THEN 'SYSTEM VIEW' ELSE 'SYSTEM TABLE' END
            WHEN c.relpersistence = 't' THEN 'LOCAL TEMPORARY'
            WHEN c.relkind IN ('v', 'm') THEN 'VIEW' ELSE 'TABLE' END AS table_type,
       pg_catalog.obj_description(c.oid, 'pg_class')
  FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace
 WHERE c.relkind IN ('r', 'v', 'm', 'f', 'p') AND n.nspname <> 'pg_toast'
   AND ($1::text IS NULL OR $1 = current_database())
   AND ($2::text IS NULL OR n.nspname = $2)
   AND ($3::text IS NULL OR c.relname = $3)
)sql";

std::unique_ptr<Cursor> Tables(const CatalogQuery& query, std::span<const Variant> r) {
    const SqlText type = Restriction(r, 3);
    const SqlText params[] = {Restriction(r, 0), Restriction(r, 1), Restriction(r, 2), type};
    std::string sql = "SELECT * FROM (" + std::string(kTablesSql) +
                      ") t WHERE CASE WHEN $4::text IS NULL THEN t.table_type NOT LIKE 'SYSTEM %' "
                      "ELSE t.table_type = upper($4) END "
                      "ORDER BY t.table_type, t.nspname COLLATE \"C\", t.relname COLLATE \"C\"";
    std::vector<std::vector<Variant>> rows;
    for (const std::vector<SqlText>& row : query(sql, params)) {
        rows.push_back({TextValue(row[0]), TextValue(row[1]), TextValue(row[2]), TextValue(row[3]),
                        Variant::Null(), TextValue(row[4]), Variant::Null(), Variant::Null(),
                        Variant::Null()});
    }
    return std::make_unique<MemoryCursor>(TablesColumns(), std::move(rows));
}

// Ordinal positions count the columns a table has now: a dropped column leaves a gap in attnum that the
// bridge's numbering closes, and the column restriction applies after the numbering.
constexpr std::string_view kColumnsSql = R"sql(
SELECT * FROM (
  SELECT current_database(), n.nspname, c.relname, a.attname,
         row_number() OVER (PARTITION BY c.oid ORDER BY a.attnum) AS ordinal,
         pg_catalog.pg_get_expr(d.adbin, d.adrelid), a.attnotnull,
         CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE a.atttypid END,
         CASE WHEN t.typtype = 'd' THEN t.typtypmod ELSE a.atttypmod END,
         pg_catalog.col_description(c.oid, a.attnum), a.attidentity
    FROM pg_catalog.pg_attribute a
    JOIN pg_catalog.pg_class c ON c.oid = a.attrelid
    JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace
    JOIN pg_catalog.pg_type t ON t.oid = a.atttypid
    LEFT JOIN pg_catalog.pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum
   WHERE a.attnum > 0 AND NOT a.attisdropped AND c.relkind IN ('r', 'v', 'm', 'f', 'p')
     AND n.nspname <> 'pg_toast'
     AND ($1::text IS NULL OR $1 = current_database())
     AND ($2::text IS NULL OR n.nspname = $2)
     AND ($3::text IS NULL OR c.relname = $3)
  ) col WHERE $4::text IS NULL OR col.attname = $4
ORDER BY col.nspname COLLATE "C", col.relname COLLATE "C", col.ordinal
)sql";

// A column's platform type and sizes, from its type OID and modifier: the field type a query of the column
// gives (TypeForOid), so that the dictionary and the fields of a result agree.
struct ColumnType {
    std::int32_t type = ado::adVarWChar;
    std::optional<long long> length;  // characters (text) or bytes (binary)
    std::optional<int> precision;
    std::optional<int> scale;
    std::optional<int> datetime_precision;
    std::int32_t flags = 0;  // adFldFixed, adFldLong
};

// The longest value PostgreSQL stores in one field (1 GB), as the length of a column without a limit.
constexpr long long kUnlimitedLength = 1073741823;

ColumnType TypeOf(long long oid, long long typmod) {
    const PgType f = TypeForOid(static_cast<Oid>(oid), static_cast<int>(typmod));
    ColumnType t;
    t.type = f.type;
    t.flags = f.attributes & (ado::adFldFixed | ado::adFldLong);
    switch (f.type) {
        case ado::adWChar:
        case ado::adVarWChar:
        case ado::adLongVarWChar:
        case ado::adLongVarBinary:
            t.length = f.defined_size > 0 ? f.defined_size : kUnlimitedLength;
            break;
        case ado::adNumeric:
            t.precision = f.precision;
            t.scale = f.scale;
            break;
        case ado::adDBDate:
            t.datetime_precision = 0;
            break;
        case ado::adDBTime:
        case ado::adDBTimeStamp:
            // Fractional digits are kept in the modifier; none given means microseconds.
            t.datetime_precision = typmod >= 0 ? static_cast<int>(typmod) : 6;
            break;
        case ado::adBoolean:
        case ado::adGUID:
            break;
        default:
            t.precision = f.precision;
            break;
    }
    return t;
}

std::unique_ptr<Cursor> Columns(const CatalogQuery& query, std::span<const Variant> r) {
    const SqlText params[] = {Restriction(r, 0), Restriction(r, 1), Restriction(r, 2), Restriction(r, 3)};
    std::vector<std::vector<Variant>> rows;
    for (const std::vector<SqlText>& row : query(kColumnsSql, params)) {
        const ColumnType t = TypeOf(Number(row[7]), Number(row[8], -1));
        const bool nullable = row[6].value_or("f") != "t";
        const SqlText def = row[5];
        const bool text =
            t.type == ado::adWChar || t.type == ado::adVarWChar || t.type == ado::adLongVarWChar;
        const bool binary = t.type == ado::adLongVarBinary;
        std::int32_t flags = ado::adFldUnknownUpdatable | t.flags;
        if (nullable) flags |= ado::adFldIsNullable | ado::adFldMayBeNull;
        std::optional<long long> octets;
        if (t.length) octets = text ? std::min(*t.length * 2, 2 * kUnlimitedLength) : *t.length;

        std::vector<Variant> out;
        out.reserve(28);
        out.push_back(TextValue(row[0]));
        out.push_back(TextValue(row[1]));
        out.push_back(TextValue(row[2]));
        out.push_back(TextValue(row[3]));
        out.push_back(Variant::Null());                            // COLUMN_GUID
        out.push_back(Variant::Null());                            // COLUMN_PROPID
        out.push_back(Variant(static_cast<int>(Number(row[4]))));  // ORDINAL_POSITION
        out.push_back(Variant(def.has_value()));                   // COLUMN_HASDEFAULT
        out.push_back(TextValue(def));                             // COLUMN_DEFAULT
        out.push_back(Variant(flags));                             // COLUMN_FLAGS
        out.push_back(Variant(nullable));                          // IS_NULLABLE
        out.push_back(Variant(static_cast<int>(t.type)));          // DATA_TYPE
        out.push_back(Variant::Null());                            // TYPE_GUID
        // Lengths travel as LongLong, as the other providers give them: they can pass a Long's range.
        out.push_back((text || binary) && t.length ? Variant(*t.length) : Variant::Null());
        out.push_back((text || binary) && octets ? Variant(*octets) : Variant::Null());
        out.push_back(t.precision ? Variant(*t.precision) : Variant::Null());
        out.push_back(t.scale ? Variant(static_cast<std::int16_t>(*t.scale)) : Variant::Null());
        out.push_back(t.datetime_precision ? Variant(*t.datetime_precision) : Variant::Null());
        for (int i = 0; i < 9; ++i) out.push_back(Variant::Null());  // character set, collation, domain
        out.push_back(TextValue(row[9]));                            // DESCRIPTION
        rows.push_back(std::move(out));
    }
    return std::make_unique<MemoryCursor>(ColumnsColumns(), std::move(rows));
}

// The server's own schemas are left out, as the bridge leaves them out: a program lists the schemas that
// hold its tables.
constexpr std::string_view kSchemataSql = R"sql(
SELECT current_database(), n.nspname, pg_catalog.pg_get_userbyid(n.nspowner)
  FROM pg_catalog.pg_namespace n
 WHERE n.nspname NOT LIKE 'pg\_%' AND n.nspname <> 'information_schema'
   AND ($1::text IS NULL OR $1 = current_database())
   AND ($2::text IS NULL OR n.nspname = $2)
   AND ($3::text IS NULL OR pg_catalog.pg_get_userbyid(n.nspowner) = $3)
 ORDER BY n.nspname COLLATE "C"
)sql";

std::unique_ptr<Cursor> Schemata(const CatalogQuery& query, std::span<const Variant> r) {
    const SqlText params[] = {Restriction(r, 0), Restriction(r, 1), Restriction(r, 2)};
    std::vector<std::vector<Variant>> rows;
    for (const std::vector<SqlText>& row : query(kSchemataSql, params)) {
        rows.push_back({TextValue(row[0]), TextValue(row[1]), TextValue(row[2]), Variant::Null(),
                        Variant::Null(), Variant::Null()});
    }
    return std::make_unique<MemoryCursor>(SchemataColumns(), std::move(rows));
}

}  // namespace

std::unique_ptr<Cursor> SchemaRowset(const CatalogQuery& query, std::int32_t schema,
                                     std::span<const Variant> restrictions) {
    switch (schema) {
        case ado::adSchemaTables:
            return Tables(query, restrictions);
        case ado::adSchemaColumns:
            return Columns(query, restrictions);
        case ado::adSchemaSchemata:
            return Schemata(query, restrictions);
        default:
            throw Error(ado::adErrFeatureNotAvailable, "ADODB.Connection",
                        "Object or provider is not able to perform requested operation.");
    }
}

}  // namespace korado::dataaccess::pg
