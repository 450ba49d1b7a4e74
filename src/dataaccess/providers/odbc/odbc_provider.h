// The ODBC bridge ("Provider=MSDASQL", Connection.Provider "MSDASQL.1", and what a connection string without
// "Provider=" gets): any ODBC data source through unixODBC, as the original platform's bridge reached most
// databases. Its failures carry the source "Microsoft OLE DB Provider for ODBC Drivers", which the library's
// diagnoses key on together with the driver's native error and the "DBMS Name" the driver reports.
//
// Connection string: the platform's own keys are taken out ("Data Source" becomes DSN, "User ID" UID,
// "Password" PWD, "Extended Properties" contributes its ODBC keywords, "Initial Catalog" becomes the current
// catalog after connecting); everything else (DSN, DRIVER={...}, FILEDSN, driver keywords) goes to
// SQLDriverConnect unchanged, without prompting. The Open user and password fill UID and PWD.
// "Extended Properties" then reads the connection string the driver completed, passwords removed.
//
// Text travels through the wide-character API (see odbc_text.h). Errors: every failing ODBC call becomes a
// ProviderError with one Diagnostic per SQLGetDiagRec record (NumberForSqlState maps the SQLSTATE; the
// description is the driver's text, the driver manager's prefix rewritten as the platform names it);
// warnings (SQL_SUCCESS_WITH_INFO) are kept for Session::TakeWarnings.
//
// Driver quirks the bridge knows are flags of DriverTraits, decided from the driver's file name and its
// SQLGetInfo answers, never from scattered name tests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dataaccess/provider.h"

namespace korado::dataaccess::odbc {

inline constexpr std::string_view kErrorSource = "Microsoft OLE DB Provider for ODBC Drivers";

// ---- error mapping -------------------------------------------------------------------------------------

// The platform number for an SQLSTATE, as the original bridge maps it (PLATFORM.md 1): 42S02 -> table
// missing, class 42 / 37000 -> errors in command, 22001/22003 -> overflow, other class 22 -> conversion,
// 23 -> integrity, 28 -> authentication, 07001/07002 -> parameter missing, HYT00/HYT01 -> time-out,
// HY008/57014 -> canceled, anything else (IM002, 08xxx, HY000, ...) -> E_FAIL.
std::int32_t NumberForSqlState(std::string_view sql_state) noexcept;

// A diagnostic's description as the platform shows it: unixODBC's "[unixODBC][Driver Manager]" prefix
// reads "[unixODBC][ODBC Driver Manager]" (the component's name on the original platform, which the
// connect diagnoses test for), and trailing line breaks some drivers leave are dropped.
std::string PlatformDescription(std::string_view driver_text);

// True for an SQLSTATE that means the link to the server is gone (class 08, PostgreSQL's 57P01..57P03
// shutdown states).
bool IsConnectionLost(std::string_view sql_state) noexcept;

// A commit whose link dropped under it cannot know whether the server committed: it fails first with this
// record, as ODBC reports such a failure (08007, connection failure during transaction), then with what
// the driver or server said. `native_error` is the provider's number for 08007.
Diagnostic CommitOutcomeUnknown(std::string_view source, std::int32_t native_error);

// ---- types ---------------------------------------------------------------------------------------------

// How the bridge reads a column's values.
enum class ValueKind : std::uint8_t {
    kText,       // SQL_C_WCHAR -> String
    kBinary,     // SQL_C_BINARY -> ByteArray
    kBool,       // SQL_C_BIT -> Boolean
    kInt16,      // SQL_C_SSHORT -> Integer
    kInt32,      // SQL_C_SLONG -> Long
    kInt64,      // SQL_C_SBIGINT -> LongLong
    kUInt64,     // SQL_C_UBIGINT -> LongLong, or Decimal past 2^63
    kSingle,     // SQL_C_FLOAT
    kDouble,     // SQL_C_DOUBLE
    kNumeric,    // SQL_C_CHAR digits -> Decimal (Double when beyond 96 bits)
    kDate,       // SQL_C_TYPE_DATE -> Date
    kTime,       // SQL_C_TYPE_TIME -> Date (time of day)
    kTimestamp,  // SQL_C_TYPE_TIMESTAMP -> Date
    kGuid,       // SQL_C_WCHAR -> "{XXXXXXXX-...}" String
};

struct FieldType {
    std::int32_t type = ado::adVarWChar;  // DataTypeEnum
    std::int32_t defined_size = 0;        // bytes for fixed types, characters for text, -1 unlimited
    std::uint8_t precision = 255;
    std::uint8_t scale = 255;
    std::int32_t attributes = 0;  // adFldFixed, adFldLong
    ValueKind kind = ValueKind::kText;
    bool long_data = false;  // read in chunks with SQLGetData, never bound
};

// The platform type of an ODBC SQL type (PLATFORM.md 4). `column_size` and `decimal_digits` as
// SQLDescribeCol / SQLColumns report them; `is_unsigned` from SQL_DESC_UNSIGNED. Types the platform has no
// name for (intervals, driver-specific codes) read as text. A text or binary column longer than 255
// characters gets the long attribute, as the original bridge treated it; one longer than `bind_limit`
// characters (or bytes), of unknown size, or of a LONG type is long data.
FieldType MapSqlType(int sql_type, std::uint64_t column_size, int decimal_digits, bool is_unsigned,
                     std::uint64_t bind_limit = 1024);

// "Transaction DDL" from SQL_TXN_CAPABLE: 0 -> 0, 1 -> 1 (DML), 2 -> 8 (all), 3 -> 2 (DDL commits),
// 4 -> 4 (DDL ignored).
std::int32_t TransactionDdl(int txn_capable) noexcept;
// "Identifier Case Sensitivity" from SQL_IDENTIFIER_CASE: 1 upper -> 1, 2 lower -> 2, 3 sensitive -> 4,
// 4 mixed -> 8.
std::int32_t IdentifierCase(int identifier_case) noexcept;
// A driver's TABLE_TYPE as the platform names it: "BASE TABLE" and "FOREIGN TABLE" read "TABLE",
// "MATVIEW"/"MATERIALIZED VIEW" read "VIEW", "TEMPORARY ..." reads "LOCAL TEMPORARY"; the platform's own
// names stay.
std::string PlatformTableType(std::string_view driver_type);

// An exact decimal from a driver's digits ("-123.4500", "1e3"); nullopt when the text is no number. Digits
// beyond the 28 decimal places are rounded half to even; a value that does not fit 96 bits even without
// decimals gives nullopt (the caller falls back to Double).
std::optional<Decimal> ParseDecimalText(std::string_view text);
// The form drivers write (an optional sign, at most 19 digits, at most one point, nothing else) into `out`
// as ParseDecimalText reads it; false, with `out` untouched, for any other text. For the per-value path.
bool ParsePlainDecimal(std::string_view text, Decimal& out) noexcept;

// ---- connection strings and command text ---------------------------------------------------------------

using OdbcAttributes = std::vector<std::pair<std::string, std::string>>;

// Splits an ODBC connection string ("DSN=x;UID=y;PWD={a;b}") into keyword/value pairs, braces kept in the
// value; never fails (text without "=" becomes a keyword with an empty value).
OdbcAttributes SplitOdbcString(std::string_view text);
// Back to text; a value that would otherwise be misread (";" inside, leading or trailing blanks) is braced.
std::string JoinOdbcString(const OdbcAttributes& attributes);
// `completed` without its PWD and PASSWORD entries (any letter case), for "Extended Properties".
std::string RemovePasswords(std::string_view completed);

// What the bridge knows about a driver before connecting, from the DRIVER= name or the DSN's driver.
enum class DriverKind : std::uint8_t { kOther, kPostgreSQL, kMariaDB, kSQLite };
// The kind of a driver from its name in odbcinst.ini and its library file; empty strings are unknown.
DriverKind KindOfDriver(std::string_view driver_name, std::string_view library) noexcept;

// The keywords for SQLDriverConnect from the platform's connection string: the platform's own keys translated
// or removed, "Extended Properties" merged in (the string's own entries win), `user`/`password` (when
// non-empty) as UID/PWD, and the DSN/DRIVER/FILEDSN entry first.
OdbcAttributes DriverConnectAttributes(const ConnectionString& connection_string, std::string_view user,
                                       std::string_view password);
// What the attributes connect to, for KindOfDriver: {"DSN", name}, {"DRIVER", name without braces},
// {"FILEDSN", path} or {"", ""}.
std::pair<std::string, std::string> ConnectTarget(const OdbcAttributes& attributes);
// For psqlODBC, the options the platform needs unless the string sets them itself: statement-level
// rollback (Protocol=7.4-2: the library keeps its sessions inside a transaction, and a failed statement
// must not poison it as PostgreSQL otherwise does), real Booleans (BoolsAsChar=0, so that a boolean column
// reads as adBoolean rather than as "1"/"0" text), and results streamed through a server cursor
// (UseDeclareFetch=1, Fetch=10000): without it psqlODBC reads a whole result into memory, row by row,
// before SQLExecDirect returns, which for the large forward-only results hosts read costs both the memory
// and most of the time the reading takes.
void AddDriverOptions(OdbcAttributes& attributes, DriverKind kind);
// psqlODBC's rows per FETCH of the server cursor it reads a SELECT through, when the attributes settle it
// (UseDeclareFetch=1 with Fetch=n) and a failed statement rolls back alone (Protocol ...-2); else 0.
std::size_t ServerCursorFetchRows(const OdbcAttributes& attributes, DriverKind kind);
// True when psqlODBC's completed string shows settings AddDriverOptions would have changed (a DSN that
// sets them otherwise): the bridge then connects again with them in the string.
bool NeedsDriverOptions(const OdbcAttributes& completed, DriverKind kind);

// A stored-procedure command as ODBC call syntax: a bare name becomes "{call name(?, ...)}" with
// `markers` markers ("{? = call name(...)}" with a return value); a name with its own argument list is
// wrapped as it is; text already in braces stays.
std::string ProcedureCallText(std::string_view text, std::size_t markers, bool return_value);
// The call "{call name(...)}" as PostgreSQL's own CALL statement, "CALL name(...)"; empty for a call with a
// return value, which no procedure has. psqlODBC turns the escape into a SELECT of a function, which
// PostgreSQL refuses for a procedure (SQLSTATE 42809).
std::string CallStatementText(std::string_view call);

// ---- the provider --------------------------------------------------------------------------------------

// The provider object (registered under "MSDASQL" when the library loads).
std::shared_ptr<Provider> MakeOdbcProvider();

}  // namespace korado::dataaccess::odbc
