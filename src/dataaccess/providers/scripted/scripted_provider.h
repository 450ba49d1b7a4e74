// The scripted provider: the test seam of the data-access platform.
//
// A test builds a ScriptedProvider, says what each call answers (an Open that fails with given diagnostics,
// the results or the failure of each SQL text, rows with their column metadata, connection and command
// properties, schema rowsets) and registers it under a provider name with ScopedProvider. The platform's
// Connection, Command and Recordset then run against it exactly as against SQLite or the ODBC bridge, so
// the library's diagnosis tables can be tested for providers no machine here has:
//
//   auto oracle = std::make_shared<ScriptedProvider>(ScriptedProvider::Identity{
//       "OraOLEDB.Oracle", "OraOLEDB.Oracle.1", "Oracle Provider for OLE DB", "OraOLEDB"});
//   oracle->FailOpen({{hr::E_FAIL, "OraOLEDB", "ORA-12154: TNS:could not resolve ...", 12154, "HY000"}});
//   ScopedProvider registered(oracle);
//   connection->Open("Provider=OraOLEDB.Oracle;Data Source=orcl");   // raises, Errors(0).NativeError 12154
//
// Diagnostics are given as the platform receives them: number, source, description, native error, SQLSTATE
// (a Diagnostic whose source is empty gets the provider's ErrorSource). The provider records what it was
// asked (opens, executed texts with their parameters, transaction calls) for the test to inspect.
//
// Not thread-safe; one provider object serves every connection opened with its name.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataaccess/provider.h"

namespace korado::dataaccess::scripted {

// A result column: name and platform type; nullable, with the bridge's "unknown updatable" bit.
ColumnInfo Column(std::string name, std::int32_t type, std::int32_t defined_size = -1,
                  std::uint8_t precision = 255, std::uint8_t scale = 255);

// One result of an execution: rows with columns, or an action statement's count.
struct ScriptedResult {
    std::vector<ColumnInfo> columns;  // empty: an action statement
    std::vector<std::vector<Variant>> rows;
    std::int64_t rows_affected = -1;
    // Fetching fails with these diagnostics after `fail_after_rows` rows (none when empty).
    std::vector<Diagnostic> fetch_failure;
    std::size_t fail_after_rows = 0;

    static ScriptedResult Rows(std::vector<ColumnInfo> columns, std::vector<std::vector<Variant>> rows);
    static ScriptedResult Action(std::int64_t rows_affected);
};

// What executing one command does.
struct ScriptedExecution {
    std::vector<ScriptedResult> results;  // none: a single action result with -1 affected
    std::vector<Diagnostic> failure;      // non-empty: Execute raises these
    std::vector<Diagnostic> warnings;     // added to Connection.Errors without failing
    // Values for the output, input-output and return-value parameters, in parameter order.
    std::vector<Variant> outputs;

    static ScriptedExecution Fails(std::vector<Diagnostic> records);
    static ScriptedExecution Returns(ScriptedResult result);
};

// Create with std::make_shared: sessions keep their provider alive.
class ScriptedProvider final : public Provider, public std::enable_shared_from_this<ScriptedProvider> {
  public:
    struct Identity {
        std::string name = "Scripted";
        std::string versioned_name = "Scripted.1";
        std::string friendly_name = "korADO Scripted Provider";
        std::string error_source = "Scripted";
        std::string file_name = "scripted.so";
        std::string provider_version = "01.00.0000";
    };
    struct ExecutedCall {
        std::string text;
        std::vector<ParamBinding> params;
        ExecuteOptions options;
    };

    ScriptedProvider();
    explicit ScriptedProvider(Identity identity);

    // ---- the script ----
    // Every Open fails with `records` until AllowOpen.
    void FailOpen(std::vector<Diagnostic> records);
    // Only the next Open fails (queued: several calls fail several opens in turn).
    void FailNextOpen(std::vector<Diagnostic> records);
    void AllowOpen();
    // Information properties of every session opened (replacing one of the same name).
    void SetProperty(std::string name, std::int32_t type, Variant value,
                     std::int32_t attributes = ado::adPropRead);
    void RemoveProperty(std::string_view name);
    // Typical properties of a provider named `dbms`, as the library reads them.
    void SetStandardProperties(std::string dbms_name, std::string dbms_version);
    void SetCommandProperty(std::string name, std::int32_t type, Variant value,
                            std::int32_t attributes = ado::adPropRead | ado::adPropWrite);
    // Executions: by exact SQL text (blanks around it ignored), then queued ones in order, then the
    // fallback (by default: one action result with -1 affected).
    void On(std::string sql, ScriptedExecution execution);
    void Then(ScriptedExecution execution);
    void Otherwise(ScriptedExecution execution);
    // Schema rowsets: rows in the platform's column order; restriction i must equal column i exactly.
    // A schema without rows set here raises 3251; `failure` makes the query fail with those diagnostics.
    void SetSchema(std::int32_t schema, std::vector<std::vector<Variant>> rows);
    void FailSchema(std::int32_t schema, std::vector<Diagnostic> failure);
    // Without transactions BeginTransaction raises 3251 from "ADODB.Connection".
    void SetTransactions(bool supported) { transactions_ = supported; }
    void FailCommit(std::vector<Diagnostic> records) { commit_failure_ = std::move(records); }
    // "Connection Status" 2 and IsAlive false from now on.
    void SetAlive(bool alive) {
        alive_ = alive;
        ++properties_generation_;
    }

    // The catalog: Create of a data source and Append of a table succeed (a table is recorded in
    // created_tables) or fail with `failure`; without a script both raise 3251, as a provider that cannot
    // create them does.
    void ScriptCreateDataSource(std::vector<Diagnostic> failure = {}) {
        create_data_source_ = std::move(failure);
    }
    void ScriptCreateTable(std::vector<Diagnostic> failure = {}) { create_table_ = std::move(failure); }
    // A column property of the provider's own that catalog columns offer (Session::ColumnProperties).
    void SetColumnProperty(std::string name, std::int32_t type, Variant value);

    // ---- what happened ----
    struct CreatedTable {
        std::string name;
        std::vector<ColumnDefinition> columns;
    };
    const std::vector<CreatedTable>& created_tables() const noexcept { return created_tables_; }
    const std::vector<OpenRequest>& opens() const noexcept { return opens_; }
    const std::vector<ExecutedCall>& executed() const noexcept { return executed_; }
    // "begin", "commit", "rollback", "cancel" in call order.
    const std::vector<std::string>& session_calls() const noexcept { return session_calls_; }
    void ClearLog();

    // ---- Provider ----
    std::string_view Name() const override { return identity_.name; }
    std::string_view VersionedName() const override { return identity_.versioned_name; }
    std::string_view FriendlyName() const override { return identity_.friendly_name; }
    std::string_view ErrorSource() const override { return identity_.error_source; }
    std::string_view FileName() const override { return identity_.file_name; }
    std::string_view ProviderVersion() const override { return identity_.provider_version; }
    std::unique_ptr<Session> Open(const OpenRequest& request) override;
    void CreateDataSource(const OpenRequest& request) override;

    // Raises `records` as this provider's failure (an empty source becomes its ErrorSource).
    [[noreturn]] void Raise(std::vector<Diagnostic> records) const;

    // The default instance registered as "Scripted" when the library loads.
    static std::shared_ptr<ScriptedProvider> Shared();

  private:
    friend class ScriptedSession;
    friend class ScriptedStatement;
    ScriptedExecution NextExecution(std::string_view text);

    Identity identity_;
    std::vector<Diagnostic> open_failure_;
    std::deque<std::vector<Diagnostic>> next_open_failures_;
    std::vector<PropertyValue> properties_;
    std::vector<PropertyValue> command_properties_;
    std::map<std::string, ScriptedExecution, std::less<>> by_text_;
    std::deque<ScriptedExecution> queued_;
    ScriptedExecution fallback_;
    std::map<std::int32_t, std::vector<std::vector<Variant>>> schemas_;
    std::map<std::int32_t, std::vector<Diagnostic>> schema_failures_;
    std::vector<Diagnostic> commit_failure_;
    bool transactions_ = true;
    bool alive_ = true;
    std::uint64_t properties_generation_ = 1;  // changes with every property the script sets
    std::vector<OpenRequest> opens_;
    std::vector<ExecutedCall> executed_;
    std::vector<std::string> session_calls_;
    std::optional<std::vector<Diagnostic>> create_data_source_;
    std::optional<std::vector<Diagnostic>> create_table_;
    std::vector<PropertyValue> column_properties_;
    std::vector<CreatedTable> created_tables_;
};

// Registers a provider under its Name() for the guard's lifetime; a provider registered under that name
// before (the real ODBC bridge, when a test poses as "MSDASQL") comes back afterwards.
class ScopedProvider {
  public:
    explicit ScopedProvider(std::shared_ptr<Provider> provider);
    ~ScopedProvider();
    ScopedProvider(const ScopedProvider&) = delete;
    ScopedProvider& operator=(const ScopedProvider&) = delete;

  private:
    std::string name_;
    ProviderFactory previous_;
};

}  // namespace korado::dataaccess::scripted
