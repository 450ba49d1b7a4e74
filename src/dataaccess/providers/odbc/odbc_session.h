// The bridge's session, statement and cursor (internal to the ODBC provider).
//
// Ownership: SessionCore holds the environment and the connection handle; the Session and every Statement
// share it, so a statement the platform failed to close before its connection can never outlive the
// connection handle it was allocated on (the core disconnects when the last of them goes). A Cursor belongs
// to its Statement and reads through the statement's handle.
//
// Failures: every member raises ProviderError (see odbc_handles.h); one that shows the link is gone
// (SQLSTATE class 08 and the like) also marks the core broken, which "Connection Status" reports.
//
// Threads. A session is used by the host's thread and, behind its back, by the read-ahead worker and the
// relay of a long read (odbc_cursor.h), the time-out watchdog (odbc_watchdog.h) and whichever thread calls
// Cancel. Two locks of the core keep them apart:
//  - `lock`, the session lock, is held for every call of the host that reaches the server outside a
//    cursor's fetch (execute, next result, begin, commit, rollback, schema rowsets, properties, the liveness
//    ping, which takes it only when it is free: a call in progress is contact enough) and by the relay for
//    each FETCH together with its undo, as one. So the host never sees the transaction between a failed
//    FETCH and its repair. Nothing waits for a bridge thread while holding it: a statement tears its
//    cursor down (joining the worker and the relay) before it takes the lock.
//  - `calls_mutex` guards `executing`, the calls in progress, and is held for the whole of an interrupt; a
//    call leaves the list only under it, so a statement handle named there stays allocated while it is
//    interrupted, and an interrupt never reaches a call that has left the list.
// A call can return in the driver an instant before it leaves the list, and an interrupt can reach it in
// that instant. A time-out on PostgreSQL or MariaDB, and any interrupt on MariaDB, goes through the server
// (pg_cancel_backend, KILL QUERY) from a connection of the bridge's own, which leaves a finished statement
// and its result alone. Otherwise the driver's SQLCancel interrupts, which may close a finished statement's
// result; the statement then reports that it completed and lost its result, never a time-out. Cancel on
// PostgreSQL stays with psqlODBC's own SQLCancel: a server-side cancel sent as often as a host may call
// Cancel can land on a statement the driver runs for itself and leave the session in a failed transaction.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/provider.h"
#include "dataaccess/providers/odbc/odbc_handles.h"
#include "dataaccess/providers/odbc/odbc_provider.h"

namespace korado::dataaccess::odbc {

// What the bridge has learned of the driver after connecting (SQLGetInfo and the driver's file name).
// Quirks are flags here so that the code that depends on one says which.
struct DriverTraits {
    DriverKind kind = DriverKind::kOther;
    std::string driver_file;  // SQL_DRIVER_NAME, "psqlodbcw.so"
    // SQL_GETDATA_EXTENSIONS: SQLGetData after bound columns, in any order, on a block cursor (after
    // SQLSetPos), on bound columns.
    bool getdata_any_column = false;
    bool getdata_any_order = false;
    bool getdata_block = false;
    bool getdata_bound = false;
    bool schemas = false;   // SQL_SCHEMA_USAGE != 0
    bool catalogs = false;  // SQL_CATALOG_USAGE != 0
    // MySQL and MariaDB call a database a schema but report it as the catalog and have no schemas: the
    // bridge shows the catalog as TABLE_SCHEMA too and reads a schema restriction as the catalog, so that
    // a dictionary that filters by schema finds the tables.
    bool catalogs_as_schemas = false;
    bool transactions = false;  // SQL_TXN_CAPABLE != SQL_TC_NONE
    bool procedures = false;    // SQL_PROCEDURES "Y"
    // The driver applies SQL_ATTR_QUERY_TIMEOUT itself. MariaDB Connector/ODBC refuses it (01S02) and the
    // SQLite3 driver ignores it, so for them the watchdog cancels at the deadline.
    bool native_query_timeout = true;
    // SQL_ATTR_CONNECTION_DEAD only repeats what the last call found (psqlODBC asks libpq, which learns of a
    // closed socket when it next reads): an idle session is asked the server itself before it says alive.
    bool passive_connection_dead = false;
    std::u16string search_escape;  // SQL_SEARCH_PATTERN_ESCAPE, for literal schema restrictions
    // A driver without wide entry points (the SQLite3 driver): unixODBC would convert the wide calls'
    // text through the process locale's character set, which turns anything outside Latin-1 into
    // garbage; the bridge then passes SQL text, names and messages through the narrow API as UTF-8
    // (which such a driver reads as its own), while values still travel as SQL_C_WCHAR.
    bool narrow_text = false;
    // MariaDB Connector/ODBC writes an output parameter's value as narrow text whatever the buffer's C
    // type (an INT output arrives as the characters "42", a SQL_C_WCHAR buffer gets UTF-8 bytes): output
    // parameters are bound as SQL_C_CHAR for it and converted back by the bridge.
    bool narrow_output_text = false;
    // psqlODBC reads a SELECT through a server cursor it declares, this many rows per FETCH, when the
    // bridge knows the number (0 otherwise): a long read can then FETCH the rows after the first ones
    // itself, on handles of its own, one FETCH ahead (see OdbcCursor).
    std::size_t cursor_fetch_rows = 0;
    // SQL_IDENTIFIER_QUOTE_CHAR: '`' for MariaDB, '"' for PostgreSQL and SQLite; " " when the driver
    // quotes none.
    std::string identifier_quote = "\"";
};

// A call inside the driver, for interrupts: its statement handle, the statement's flag that says a
// failure was a cancel (Session::Cancel sets it), and whether it has been interrupted. A call is interrupted
// once: psqlODBC answers a cancelled statement with a ROLLBACK of its own inside the same call, and a second
// cancel that lands on that ROLLBACK leaves the session in a failed transaction the driver does not know of.
struct ExecutingCall {
    SQLHSTMT stmt;
    std::atomic<bool>* cancelled;
    bool interrupted = false;
};

class SessionCore {
  public:
    explicit SessionCore(std::shared_ptr<EnvironmentHandle> environment) : env(std::move(environment)) {}
    ~SessionCore();
    SessionCore(const SessionCore&) = delete;
    SessionCore& operator=(const SessionCore&) = delete;

    enum class Why { kTimeout, kCancel };
    // Interrupts the call on `stmt` if it is still inside the driver, setting `flag` (the statement's
    // time-out or cancel flag, touched only then) first; false when no call of `stmt` was in progress.
    // Any thread.
    bool Interrupt(SQLHSTMT stmt, Why why, std::atomic<bool>* flag);
    // Interrupts every call in progress, each marked cancelled. Any thread.
    void InterruptAll();
    // Whether such an interrupt goes through the driver's SQLCancel, which may close the result of a
    // statement that has just finished.
    bool CancelsThroughDriver(Why why) const noexcept {
        return server_session_id == 0 || (traits.kind == DriverKind::kPostgreSQL && why == Why::kCancel);
    }

    SQLHDBC dbc() const noexcept { return connection.get(); }

    // Returns rc for success, SQL_NO_DATA and SQL_NEED_DATA; keeps warnings; raises ProviderError (marking
    // the core broken when the records say the link is lost) for failures.
    SQLRETURN Checked(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle, std::string_view function);
    [[noreturn]] void Fail(std::vector<Diagnostic> records, std::string_view sql = {});
    void AddWarnings(std::vector<Diagnostic> records);
    void NoteFailure(const std::vector<Diagnostic>& records) noexcept;

    std::shared_ptr<EnvironmentHandle> env;  // declared first: freed after the connection
    ConnectionHandle connection;
    DriverTraits traits;
    std::string extended_properties;  // the completed connection string without passwords
    std::vector<Diagnostic> warnings;
    bool broken = false;
    // When the server last answered a call of this session (see OdbcSession::IsAlive).
    std::chrono::steady_clock::time_point last_contact = std::chrono::steady_clock::now();
    bool in_transaction = false;
    // Statements sent to the server. What the session reports as information properties (the current
    // catalog, the user) changes only when one runs, so the platform reads them again only then, not at
    // every look at the link's status (the host asks before every statement and every row it moves to).
    std::atomic<std::uint64_t> statements_sent{1};
    // The server aborted the transaction and the bridge could not repair it (a FETCH of its own failed and
    // its undo did too): a commit must not report success for work the server will roll back.
    bool transaction_aborted = false;

    std::recursive_mutex lock;  // the session lock (see the top of this file)
    std::mutex calls_mutex;
    std::vector<ExecutingCall> executing;  // under calls_mutex
    // For interrupts from a second connection (MariaDB, PostgreSQL): the server's id of this connection
    // and the connection string with its password, kept in memory only, for the bridge's own second
    // connection, made at the first interrupt.
    std::int64_t server_session_id = 0;
    std::string connect_string;
    ConnectionHandle interrupter;  // under calls_mutex

  private:
    void InterruptLocked(SQLHSTMT stmt, Why why);
};

class OdbcCursor;

// One command on its own statement handle. Parameter buffers stay bound until the next Execute, so that
// output values written after the last result are still there for FetchOutputParameters.
class OdbcStatement final : public Statement {
  public:
    OdbcStatement(std::shared_ptr<SessionCore> core, std::string_view text, const ExecuteOptions& options);
    ~OdbcStatement() override;

    void Execute(std::span<ParamBinding> params) override;
    Cursor* Result() override;
    std::int64_t RowsAffected() override { return rows_affected_; }
    bool NextResult() override;
    void FetchOutputParameters(std::span<ParamBinding> params) override;
    void Cancel() override;

    // For the cursor.
    SQLHSTMT handle() const noexcept { return stmt_.get(); }
    SessionCore& core() noexcept { return *core_; }
    const ExecuteOptions& options() const noexcept { return options_; }
    SQLRETURN Checked(SQLRETURN rc, std::string_view function);
    // The records come from `handle` when given (another statement handle the cursor reads through).
    [[noreturn]] void Fail(SQLRETURN rc, std::string_view function, SQLHSTMT handle = SQL_NULL_HSTMT);

    struct ParamSlot;

  private:
    // Runs `call` (a driver call that may take long) listed for interrupts and under the time-out.
    template <class Call>
    SQLRETURN Interruptible(Call call);
    // Describes the result at hand, or says that an interrupt which came too late has cost it.
    void StartResult();
    // The SQLSTATE of the statement's first diagnostic record, empty when it has none.
    std::string FirstSqlState();
    void CloseResult();
    void BindParameters(std::span<ParamBinding> params);

    std::shared_ptr<SessionCore> core_;
    StatementHandle stmt_;
    std::string text_;
    ExecuteOptions options_;
    std::string executed_text_;
    std::u16string executed_text_w_;
    std::vector<std::unique_ptr<ParamSlot>> slots_;
    std::unique_ptr<OdbcCursor> cursor_;
    std::int64_t rows_affected_ = -1;
    bool has_results_ = false;
    std::atomic<bool> timed_out_{false};
    std::atomic<bool> cancelled_{false};
    bool result_lost_ = false;  // an interrupt through the driver reached the call as it returned
    std::chrono::milliseconds watchdog_after_{0};
};

// The Session the platform holds.
class OdbcSession final : public Session {
  public:
    explicit OdbcSession(std::shared_ptr<SessionCore> core) : core_(std::move(core)) {}
    std::unique_ptr<Statement> Prepare(std::string_view text, const ExecuteOptions& options) override;
    void BeginTransaction() override;
    void Commit() override;
    void Rollback() override;
    std::vector<PropertyValue> InfoProperties() override;
    std::unique_ptr<Cursor> Schema(std::int32_t schema, std::span<const Variant> restrictions) override;
    bool IsAlive() override;
    void Cancel() override;
    std::vector<Diagnostic> TakeWarnings() override;
    std::uint64_t PropertiesGeneration() override { return core_->statements_sent.load(); }
    Variant GeneratedKey(const ColumnInfo& column) override;
    std::string QuoteIdentifier(std::string_view name) override;

    SessionCore& core() noexcept { return *core_; }

  private:
    std::shared_ptr<SessionCore> core_;
};

// The schema rowsets (odbc_schema.cpp).
std::unique_ptr<Cursor> SchemaRowset(SessionCore& core, std::int32_t schema,
                                     std::span<const Variant> restrictions);

}  // namespace korado::dataaccess::odbc
