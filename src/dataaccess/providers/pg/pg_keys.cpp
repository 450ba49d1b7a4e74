// How many columns make a base table's primary key, so that the client cursor's update engine does not take
// part of a key for the whole.
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

}  // namespace korado::dataaccess::pg
