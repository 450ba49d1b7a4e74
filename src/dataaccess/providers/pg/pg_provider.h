// The native PostgreSQL provider ("Provider=PostgreSQL", Connection.Provider "PostgreSQL.1"): PostgreSQL
// through libpq, without the ODBC bridge and psqlODBC's per-value work in between.
//
// Connection string keys (without regard to case):
//   Data Source      the server as host[:port][/database] ("127.0.0.1:55433/korado", "[::1]:5432", "/run/pg"
//                    for a socket folder)
//   User ID          the role; Password its password (the Open arguments win when given)
//   Initial Catalog  the database (wins over the one in Data Source)
//   any keyword libpq knows (sslmode, connect_timeout, application_name, options, ...) passes through
//   unchanged; the platform's own keys (Provider, Persist Security Info, Mode, ...) stay with the platform.
//
// Errors: every failure is a ProviderError whose records carry the source kErrorSource, the SQLSTATE, the
// platform number the bridge gives that SQLSTATE (odbc::NumberForSqlState: one table for both, so a
// program sees the same numbers whichever way it reaches the server), NativeError the SQLSTATE as an integer
// (see NativeErrorForSqlState) and the server's message followed by its DETAIL and HINT lines as psql
// shows them. Failures libpq finds itself (no server, a broken link) have SQLSTATE 08001 (connect) or
// 08006 (link lost) and libpq's text.
//
// Threads. A session is used by the host's thread; any other thread may call Cancel. Two locks keep them
// apart:
//  - `lock`, the session lock, is held by every call that uses the PGconn (connect and close, execute,
//    reading a result's rows, next result, transactions, properties, the liveness probe, which takes it only
//    when it is free: a call in progress is contact enough). libpq's connection object is not safe for two
//    threads at once; nothing else needs it.
//  - `cancel_mutex` guards `cancel` (libpq's PGcancel of the connection) and `running`, which says that a
//    command of the host is at the server. Cancel takes only this lock, never the session lock (it must get
//    through while a call holds that one), and sends PQcancel, the server's cancel request on a connection
//    of its own, only while `running` is set: a request that reached the provider's own SAVEPOINT or RELEASE
//    would abort the transaction it protects. The server ignores a request that arrives after the command
//    ended, so the instant between the end and `running` being cleared costs nothing, with one exception:
//    inside a transaction a cached statement travels in one pipeline with its RELEASE, and a request that
//    arrives in the microseconds the server spends on that RELEASE makes the statement's work undone with
//    its savepoint (the statement then reports the cancel; the transaction goes on).
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dataaccess/provider.h"
#include "dataaccess/providers/pg/pg_meta.h"

namespace korado::dataaccess::pg {

// Not the bridge's source text: the library's connect diagnoses key on that one together with ODBC driver
// messages, which this provider never produces; a name of its own says which path a failure came through.
inline constexpr std::string_view kErrorSource = "PostgreSQL Native Provider";

// ---- errors (pg_errors.cpp) ----------------------------------------------------------------------------

// The SQLSTATE as an integer: its five characters read as a base-36 number, digits 0-9 being 0-9 and
// letters A-Z 10-35 ("42P01" -> 4*36^4 + 2*36^3 + 25*36^2 + 0*36 + 1 = 6,844,177). Every SQLSTATE has one
// and it reads back without a table; 0 for anything that is not five such characters.
std::int32_t NativeErrorForSqlState(std::string_view sql_state) noexcept;
std::string SqlStateForNativeError(std::int32_t native_error);

// One record for a failed result: SQLSTATE, message, DETAIL and HINT from the result's fields.
Diagnostic ResultDiagnostic(const PGresult* result);
// One record for a failure libpq reports on the connection (no result): `sql_state` as the caller knows it.
Diagnostic ConnectionDiagnostic(PGconn* conn, std::string_view sql_state);
// A record of the provider's own.
Diagnostic MakeDiagnostic(std::string_view sql_state, std::string description);
// The SQLSTATE for a failed connect, from what libpq tells (PG 15's libpq keeps the server's code of a
// refused login to itself): 28P01 for a wrong password, 28000 for an unknown role, 3D000 for an unknown
// database, 08001 otherwise.
std::string ConnectSqlState(std::string_view libpq_message);

// ---- connection strings --------------------------------------------------------------------------------

// libpq's keywords and values for a platform connection string and the Open arguments.
std::vector<std::pair<std::string, std::string>> LibpqKeywords(const ConnectionString& connection_string,
                                                               std::string_view user,
                                                               std::string_view password,
                                                               std::int32_t connect_timeout_seconds);
// The keywords in libpq's conninfo form, as the connection's "Extended Properties" shows them: without the
// password, each value quoted where it needs to be.
std::string ConninfoText(const std::vector<std::pair<std::string, std::string>>& keywords);

// ---- types and values (pg_values.cpp) ------------------------------------------------------------------

// How a column's values are read from the wire (text format).
enum class ValueKind : std::uint8_t {
    kText,
    kBool,
    kInt16,
    kInt32,
    kInt64,
    kSingle,
    kDouble,
    kNumeric,
    kCurrency,
    kBinary,  // bytea in hex text
    kDate,
    kTime,
    kTimestamp,
    kGuid,
};

struct PgType {
    std::int32_t type = ado::adVarWChar;
    std::int32_t defined_size = -1;
    std::uint8_t precision = 255;
    std::uint8_t scale = 255;
    std::int32_t attributes = 0;
    ValueKind kind = ValueKind::kText;
};

// The field type of a column of type `oid` with modifier `typmod` (PQfmod).
PgType TypeForOid(Oid oid, int typmod);
// The OID a parameter of platform type `ado_type` is sent as (0: let the server infer it, as for a
// literal); adVariant and adEmpty take the type of `value`. A type no column can take (adIDispatch, ...)
// fails with DB_E_BADBINDINFO, as the bridge refuses it.
Oid OidForParameter(std::int32_t ado_type, const Variant& value);
// The value of wire text `text` (`length` bytes) as `kind`, into `out` (reusing its storage).
void ReadValue(ValueKind kind, const char* text, int length, Variant& out);
// A parameter's value as the text the server reads; false for Null.
bool ParameterText(const Variant& value, std::int32_t ado_type, std::string& out);

// ---- markers -------------------------------------------------------------------------------------------

// `text` with each `?` marker outside literals, quoted identifiers, dollar quotes and comments rewritten to
// $1, $2, ..., and ODBC's escape clauses ({d '...'}, {ts '...'}, {fn ...}, {oj ...}) as PostgreSQL writes
// them; `markers` takes the markers' number, `several` whether a second statement follows a `;`.
std::string NumberMarkers(std::string_view text, std::size_t& markers, bool& several);

// ---- the session ---------------------------------------------------------------------------------------

class PgStatement;

class PgSession final : public Session {
  public:
    // `data_source`: the server as the connection string named it; `settings`: libpq's keywords as the
    // session connected, without the password ("Extended Properties").
    PgSession(PGconn* conn, std::string data_source, std::string settings);
    ~PgSession() override;
    PgSession(const PgSession&) = delete;
    PgSession& operator=(const PgSession&) = delete;

    std::unique_ptr<Statement> Prepare(std::string_view text, const ExecuteOptions& options) override;
    void BeginTransaction() override;
    void Commit() override;
    void Rollback() override;
    std::vector<PropertyValue> InfoProperties() override;
    std::unique_ptr<Cursor> Schema(std::int32_t schema, std::span<const Variant> restrictions) override;
    bool IsAlive() override;
    void Cancel() override;
    // What InfoProperties reports is fixed for a session's life (a PostgreSQL session cannot change its
    // database; the user is the one that connected) except the link's status, which the platform asks
    // IsAlive for: a new generation only when the link is found broken.
    std::uint64_t PropertiesGeneration() override { return broken ? 2 : 1; }
    std::vector<Diagnostic> TakeWarnings() override;
    Variant GeneratedKey(const ColumnInfo& column) override;
    int KeyColumnCount(const ColumnInfo& column) override;
    // The catalog side (pg_meta_session.cpp).
    void CreateTable(std::string_view name, std::span<const ColumnDefinition> columns) override;
    // Runs a catalog query with text parameters and returns its rows as text; raises the server's failure.
    TextRows CatalogRows(std::string_view sql, std::span<const SqlText> params);
    CatalogQuery Catalog();

    PGconn* conn() const noexcept { return conn_; }

    // Raises the failure of `result` (which it frees), marking the session broken when the link is gone.
    [[noreturn]] void Fail(PGresult* result);
    // Raises libpq's failure on the connection (a send that failed, a lost link).
    [[noreturn]] void FailConnection();
    // Runs `sql` (no parameters, no rows wanted) under the session lock's holder; raises its failure.
    void Run(const char* sql);

    // A statement whose answer the server is still sending holds the connection until it is read;
    // another command first makes it take the rest of its answer into memory.
    void Claim(PgStatement* owner);
    void Release(PgStatement* owner) noexcept;
    void FreeConnection();

    // A prepared statement of the session.
    struct Prepared {
        std::string name;
    };
    // The prepared statement for `text` with parameter types `types`, prepared on first use, when the base
    // tables and columns of its result are looked up for the cache DescribeColumns reads; kept for the
    // session's life (up to a bound: past it the unnamed statement serves, described each time;
    // `keep_always`: kept past the bound, for the provider's own few). Raises the server's failure.
    const Prepared& PrepareCached(const std::string& text, const std::vector<Oid>& types,
                                  bool keep_always = false);
    // Forgets every prepared statement (here and at the server); false when there were none.
    bool ForgetPrepared();
    // The same when it is prepared already; null otherwise.
    const Prepared* FindPrepared(const std::string& text, const std::vector<Oid>& types) const;
    // Column metadata of a result description (types by OID, base table and column by the catalog).
    void DescribeColumns(const PGresult* description, std::vector<ColumnInfo>& columns,
                         std::vector<ValueKind>& kinds, bool look_up_sources);

    // (table OID, column number) -> schema, table, column names, from pg_class/pg_attribute.
    struct ColumnSource {
        std::string schema, table, column;
        bool key = false;
        bool not_null = false;
        int key_columns = -1;  // of the table's primary key; -1: none
        bool serial = false;
    };
    const ColumnSource* FindSource(Oid table, int column);

    std::recursive_mutex lock;
    std::mutex cancel_mutex;
    PGcancel* cancel = nullptr;  // under cancel_mutex
    bool running = false;        // under cancel_mutex
    bool broken = false;
    bool in_transaction = false;
    // The statement_timeout the server has for this session, in milliseconds; -1 when unknown (a rollback
    // may have undone the SET that gave it).
    int server_timeout_ms = -1;
    // When the server last answered (see IsAlive).
    std::chrono::steady_clock::time_point last_contact = std::chrono::steady_clock::now();

  private:
    PGconn* conn_;
    std::string data_source_;
    std::string settings_;
    PgStatement* owner_ = nullptr;
    std::map<std::string, Prepared> prepared_;
    Prepared unnamed_;
    std::map<std::pair<Oid, int>, ColumnSource> sources_;
    std::vector<Diagnostic> warnings_;
    static void OnNotice(void* self, const PGresult* notice);
};

std::shared_ptr<Provider> MakePgProvider();

}  // namespace korado::dataaccess::pg
