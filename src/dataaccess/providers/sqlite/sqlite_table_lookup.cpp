// Finding one table by its name without reading the schema table. The schema rowsets list a database's
// tables from its schema table, whose every row (with its CREATE text) is read for each call: in a file of
// a few thousand tables that read is nearly all of what asking for one table's columns costs. SQLite's
// own lookup of a name is a hash probe; it folds ASCII letters only, as the rowsets' match does for ASCII
// names, and it leaves views and missing names undecided (the schema table answers those).
#include <sqlite3.h>

#include "dataaccess/names.h"
#include "dataaccess/providers/sqlite/sqlite_provider.h"
#include "korado/runtime/strings.h"

namespace korado::dataaccess::sqlite {

TableLookup FindTable(sqlite3* db, const std::string& database, const std::string& name,
                      std::string& stored) {
    // Names that SQLite reads as its own (sqlite_schema and its aliases) are not rows of the schema table.
    if (name.empty() || !IsAscii(name) || TextEquals(name.substr(0, 7), "sqlite_"))
        return TableLookup::kUnknown;
    // A table, virtual ones included; a view or nothing at all leaves it undecided.
    if (sqlite3_table_column_metadata(db, database.c_str(), name.c_str(), nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr) != SQLITE_OK)
        return TableLookup::kUnknown;
    // The name as the table was created: the one the first result column reports for its table.
    const std::string sql = "SELECT * FROM " + Quoted(database, '"') + "." + Quoted(name, '"');
    sqlite3_stmt* stmt = nullptr;
    TableLookup result = TableLookup::kUnknown;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) == SQLITE_OK &&
        sqlite3_column_count(stmt) > 0) {
        const char* table = sqlite3_column_table_name(stmt, 0);
        if (table && TextEquals(table, name)) {
            stored = table;
            result = TableLookup::kFound;
        }
    }
    sqlite3_finalize(stmt);
    return result;
}

}  // namespace korado::dataaccess::sqlite
