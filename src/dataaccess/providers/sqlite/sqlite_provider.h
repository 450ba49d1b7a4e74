// The SQLite provider ("Provider=SQLite", Connection.Provider "SQLite.1"): the embedded database a new user
// gets without any server.
//
// Connection string keys (without regard to case):
//   Data Source     the database file, ":memory:" or a "file:" URI (required)
//   Mode            "Read" (or 1, adModeRead) opens read-only; "ReadWrite"/"Write" or absent read-write
//   Read Only       "True" opens read-only, as Mode=Read does
//   Busy Timeout    milliseconds to wait for another process's lock (default 5000)
//   FailIfMissing   "True": a missing file fails instead of being created (a read-only open never creates)
//   Foreign Keys    "False" turns off the foreign-key checks that are on by default
//
// Types: a column's declared type decides its field type (see MapDeclaredType); a column without one (an
// expression) takes the platform type of the value in the statement's first row, and adVarWChar when
// there is no row. Values that do not match their column's type (SQLite stores any value anywhere) come
// back as what they are rather than being forced into the declared type. Dates are stored as ISO-8601 text
// and read back as dates; NUMERIC/DECIMAL columns read back as exact decimals.
//
// Errors: every failure is a ProviderError with source "SQLite", the engine's message as description, the
// extended result code as NativeError and the platform number DiagnoseSqlite gives.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/provider.h"

struct sqlite3;
struct sqlite3_stmt;

namespace korado::dataaccess::sqlite {

inline constexpr std::string_view kErrorSource = "SQLite";

// How a column's values are read.
enum class ValueKind : std::uint8_t {
    kAny,  // as stored
    kBool,
    kInt16,
    kInt32,
    kInt64,
    kDouble,
    kNumeric,
    kCurrency,
    kText,
    kBinary,
    kDate,
    kGuid,
};

struct ColumnType {
    std::int32_t type = ado::adVarWChar;  // DataTypeEnum
    std::int32_t defined_size = -1;
    std::uint8_t precision = 255;
    std::uint8_t scale = 255;
    std::int32_t attributes = 0;  // adFldFixed, adFldLong
    ValueKind kind = ValueKind::kAny;
    bool declared = false;  // false: the declared type named nothing known
    bool scale_given = false;
};

// The field type for a declared column type ("INTEGER", "VARCHAR(40)", "NUMERIC(10,2)", "DATETIME", ...).
// Names are matched without regard to case, as SQLite does; an empty or unknown name gives declared false.
ColumnType MapDeclaredType(std::string_view declared);
// The field type for an expression whose first value has storage class `storage` (SQLITE_INTEGER, ...).
ColumnType TypeOfValue(int storage, std::size_t text_bytes);

// The platform number and SQLSTATE for an SQLite failure: the extended result code, the engine's message
// (for SQLITE_ERROR, whose meaning is only in the text) and whether the statement was being prepared.
struct Diagnosis {
    std::int32_t number;
    const char* sql_state;
};
Diagnosis DiagnoseSqlite(int extended_code, std::string_view message, bool preparing, bool timed_out);

// The CREATE TABLE statement for the catalog's Tables.Append, identifiers quoted; raises DB_E_BADTYPE
// ("Type is invalid.") for a column type SQLite has no name for.
std::string CreateTableText(std::string_view table, std::span<const ColumnDefinition> columns);

// Whether database `database` has a table named `name` (without regard to ASCII letter case), by SQLite's
// own lookup: kFound with the name as created in `stored`; kUnknown when the lookup cannot tell (a view, no
// such table, a name with other letters), and the schema table must be read. One per session: it keeps a
// statement for each table it was last asked about, finalized by Clear or with it.
enum class TableLookup { kFound, kUnknown };
inline constexpr const char* kTempRows = "SELECT 1 FROM temp.sqlite_schema LIMIT 1";
class TableLookups {
  public:
    explicit TableLookups(sqlite3* db) : db_(db) {}
    ~TableLookups();
    TableLookups(const TableLookups&) = delete;
    TableLookups& operator=(const TableLookups&) = delete;

    TableLookup Find(const std::string& database, const std::string& name, std::string& stored);
    // Whether the "temp" database holds any table, view, index or trigger (kTempRows finds one); nullopt
    // when SQLite fails, its error left on the connection.
    std::optional<bool> TempHoldsSomething();
    void Clear() noexcept;

  private:
    struct Kept {
        std::string database;
        std::string name;
        sqlite3_stmt* stmt;
    };
    sqlite3* db_;
    std::vector<Kept> kept_;
    sqlite3_stmt* temp_rows_ = nullptr;
};

// The provider object (registered under "SQLite" when the library loads).
std::shared_ptr<Provider> MakeSqliteProvider();

}  // namespace korado::dataaccess::sqlite
