// The key facts the client cursor's update engine asks of the session: how many columns make a base table's
// primary key, and which number a serial or identity column drew in the row just inserted.
#include <charconv>

#include "dataaccess/providers/pg/pg_meta.h"

namespace korado::dataaccess::pg {
namespace {

// The base table of `column` as a regclass text: quoted, so that its case and blanks stay, and qualified
// when the result named a schema (otherwise the search path finds it, as it found it for the query).
SqlText TableName(const ColumnInfo& column) {
    if (column.base_table.empty()) return std::nullopt;
    std::string name = Quoted(column.base_table, '"');
    if (!column.base_schema.empty()) name = Quoted(column.base_schema, '"') + "." + name;
    return name;
}

}  // namespace

int KeyColumnCount(const CatalogQuery& query, const ColumnInfo& column) {
    const SqlText params[] = {TableName(column)};
    if (!params[0]) return -1;
    const TextRows rows = query(
        "SELECT i.indnkeyatts FROM pg_catalog.pg_index i "
        "WHERE i.indrelid = pg_catalog.to_regclass($1) AND i.indisprimary",
        params);
    if (rows.empty() || rows.front().empty() || !rows.front()[0]) return -1;
    int keys = -1;
    const std::string& text = *rows.front()[0];
    std::from_chars(text.data(), text.data() + text.size(), keys);
    return keys;
}

Variant GeneratedKey(const CatalogQuery& query, const ColumnInfo& column) {
    if (!column.auto_increment || column.base_column.empty()) return Variant();
    const SqlText params[] = {TableName(column), column.base_column};
    if (!params[0]) return Variant();
    // Serial and identity columns alike draw from a sequence; currval answers this session's last draw,
    // whatever other sessions inserted since. The column name is taken literally, the table parsed.
    const TextRows rows = query(
        "SELECT pg_catalog.currval(s) FROM pg_catalog.pg_get_serial_sequence($1, $2) s WHERE s IS NOT NULL",
        params);
    if (rows.empty() || rows.front().empty() || !rows.front()[0]) return Variant();
    long long key = 0;
    const std::string& text = *rows.front()[0];
    if (std::from_chars(text.data(), text.data() + text.size(), key).ec != std::errc()) return Variant();
    switch (column.type) {
        case ado::adSmallInt:
            return Variant(static_cast<std::int16_t>(key));
        case ado::adInteger:
            return Variant(static_cast<int>(key));
        default:
            return Variant(key);
    }
}

}  // namespace korado::dataaccess::pg
