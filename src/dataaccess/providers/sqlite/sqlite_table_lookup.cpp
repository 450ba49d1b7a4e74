// Finding one table by its name without reading the schema table. The schema rowsets list a database's
// tables from its schema table, whose every row (with its CREATE text) is read for each call: in a file of
// a few thousand tables that read is nearly all of what asking for one table's columns costs. SQLite's
// own lookup of a name is a hash probe; it folds ASCII letters only, as the rowsets' match does for ASCII
// names, and it leaves views and missing names undecided (the schema table answers those).
//
// The name as the table was created comes from a statement over the table, kept for the next question
// about the same table: preparing it costs twice what the caller's own PRAGMA for the columns does, while
// running it again (it reads no row) costs a twentieth of that. Running it is also what keeps it true:
// SQLite prepares it again when the schema changed since, and a table dropped since fails it. The test
// whether "temp" holds anything, asked before every listing, is kept the same way.
#include <sqlite3.h>

#include "dataaccess/names.h"
#include "dataaccess/providers/sqlite/sqlite_provider.h"
#include "korado/runtime/strings.h"

namespace korado::dataaccess::sqlite {
namespace {

// Tables a session asks about again and again are few; past this many the oldest statement goes.
constexpr std::size_t kKeptLookups = 16;

}  // namespace

TableLookups::~TableLookups() { Clear(); }

void TableLookups::Clear() noexcept {
    for (Kept& k : kept_) sqlite3_finalize(k.stmt);
    kept_.clear();
    sqlite3_finalize(temp_rows_);
    temp_rows_ = nullptr;
}

std::optional<bool> TableLookups::TempHoldsSomething() {
    if (!temp_rows_ && sqlite3_prepare_v3(db_, kTempRows, -1, SQLITE_PREPARE_PERSISTENT, &temp_rows_, nullptr) !=
                           SQLITE_OK) {
        sqlite3_finalize(temp_rows_);
        temp_rows_ = nullptr;
        return std::nullopt;
    }
    const int rc = sqlite3_step(temp_rows_);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return std::nullopt;  // reset by the next step
    sqlite3_reset(temp_rows_);
    return rc == SQLITE_ROW;
}

TableLookup TableLookups::Find(const std::string& database, const std::string& name, std::string& stored) {
    // Names that SQLite reads as its own (sqlite_schema and its aliases) are not rows of the schema table.
    if (name.empty() || !IsAscii(name) || TextEquals(name.substr(0, 7), "sqlite_"))
        return TableLookup::kUnknown;
    // A table, virtual ones included; a view or nothing at all leaves it undecided.
    if (sqlite3_table_column_metadata(db_, database.c_str(), name.c_str(), nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr) != SQLITE_OK)
        return TableLookup::kUnknown;

    auto kept = kept_.begin();
    while (kept != kept_.end() && !(kept->database == database && kept->name == name)) ++kept;
    if (kept == kept_.end()) {
        const std::string sql = "SELECT * FROM " + Quoted(database, '"') + "." + Quoted(name, '"') + " LIMIT 0";
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt,
                               nullptr) != SQLITE_OK) {
            sqlite3_finalize(stmt);
            return TableLookup::kUnknown;
        }
        if (kept_.size() >= kKeptLookups) {
            sqlite3_finalize(kept_.front().stmt);
            kept_.erase(kept_.begin());
        }
        kept_.push_back(Kept{database, name, stmt});
        kept = kept_.end() - 1;
    }
    sqlite3_stmt* stmt = kept->stmt;
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE || sqlite3_column_count(stmt) == 0) {
        sqlite3_finalize(stmt);
        kept_.erase(kept);
        return TableLookup::kUnknown;
    }
    // The name as the table was created: the one the first result column reports for its table.
    const char* table = sqlite3_column_table_name(stmt, 0);
    if (!table || !TextEquals(table, name)) return TableLookup::kUnknown;
    stored = table;
    return TableLookup::kFound;
}

}  // namespace korado::dataaccess::sqlite
