// The provider interface: what the platform stand-in asks of a database driver.
//
// The platform objects (Connection, Command, Recordset, ...) are written once against this interface;
// each provider (SQLite, the ODBC bridge "MSDASQL", the scripted provider of the tests) implements it.
// A provider opens sessions, prepares and executes statements with typed parameters, streams rows with
// column metadata, runs transactions, answers property and schema queries, and turns its native failures
// into ProviderError (one Diagnostic per native record, numbers already mapped to the platform's).
//
// Ownership: a Session belongs to one platform Connection; a Statement to one Command execution and keeps
// what it needs of its session alive only through the Connection (the platform closes statements before
// their session). A Cursor belongs to its Statement and is valid until NextResult or the statement's end.
//
// Threads: none. Cancel may be called from a progress or time-out hook of the same thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/connection_string.h"
#include "dataaccess/names.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/error.h"
#include "korado/runtime/variant.h"

namespace korado::dataaccess {

// One diagnostic record of a provider failure or warning.
struct Diagnostic {
    std::int32_t number = hr::E_FAIL;  // the platform's number (an HRESULT)
    std::string source;                // the provider's error source text
    std::string description;
    std::int32_t native_error = 0;
    std::string sql_state;
};

// A provider failure: Error carries the first record (number, source, description, native error,
// SQLSTATE); Records() all of them, for Connection.Errors.
class ProviderError : public Error {
  public:
    explicit ProviderError(std::vector<Diagnostic> records);
    const std::vector<Diagnostic>& Records() const noexcept { return records_; }

  private:
    std::vector<Diagnostic> records_;
};

// Metadata of one result column.
struct ColumnInfo {
    std::string name;
    std::int32_t type = ado::adEmpty;  // DataTypeEnum
    std::int32_t defined_size = 0;     // bytes for fixed types, characters for text; -1 (all bits) unlimited
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    std::int32_t attributes = 0;  // FieldAttributeEnum bits
    // Where the column comes from, for updates through the client cursor (empty when unknown).
    std::string base_catalog;
    std::string base_schema;
    std::string base_table;
    std::string base_column;
    bool key_column = false;
    bool auto_increment = false;
};

// A command parameter as the provider binds it.
struct ParamBinding {
    std::string name;
    std::int32_t type = ado::adEmpty;            // DataTypeEnum
    std::int32_t direction = ado::adParamInput;  // ParameterDirectionEnum
    std::int32_t size = 0;
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    Variant value;  // input value; FetchOutputParameters writes output values here
};

// Rows of one result, read forward only. The platform's client cursor buffers them; the forward-only
// server cursor reads them in place.
class Cursor {
  public:
    virtual ~Cursor() = default;
    virtual const std::vector<ColumnInfo>& Columns() const = 0;
    // Advances to the next row (the first call gives the first row); false at the end.
    virtual bool Next() = 0;
    // Reads column `column` (0-based) of the current row into `out`, reusing its storage where it can.
    virtual void Read(std::size_t column, Variant& out) = 0;
    // Rows to fetch per round trip (the recordset's CacheSize); a hint.
    virtual void SetFetchSize(std::int32_t rows) { (void)rows; }
    // A text or binary value of the current row as bytes the cursor holds, valid until the next call on
    // the cursor, so that the client cursor engine can store it without first copying it into a Variant.
    // False when the provider does not offer it or the value is of another kind: the caller then reads it
    // through Read.
    enum class ViewKind { kText, kBytes };
    virtual bool ReadView(std::size_t column, std::string_view& data, ViewKind& kind) {
        (void)column, (void)data, (void)kind;
        return false;
    }
};

// One prepared command. Execute runs it; a command may give several results (several statements in one
// text, procedures), read in order with NextResult.
class Statement {
  public:
    virtual ~Statement() = default;
    // Binds `params` (in marker order) and runs the command; the first result becomes current.
    virtual void Execute(std::span<ParamBinding> params) = 0;
    // The current result's rows, or nullptr when the current result returns none (an action statement).
    virtual Cursor* Result() = 0;
    // Rows affected by the current result when it is an action statement; -1 otherwise.
    virtual std::int64_t RowsAffected() = 0;
    // Moves to the next result; false when there is none.
    virtual bool NextResult() = 0;
    // False only when the provider knows that no result follows the current one (asking a server could
    // cost a round trip: true then).
    virtual bool MayHaveMoreResults() { return true; }
    // Copies output and input-output values into `params` (complete once every result was read).
    virtual void FetchOutputParameters(std::span<ParamBinding> params) = 0;
    // Interrupts a running command; the interrupted call fails with DB_E_CANCELED.
    virtual void Cancel() = 0;
};

// A connection property as a provider reports it ("DBMS Name", "Transaction DDL", ...).
struct PropertyValue {
    std::string name;
    std::int32_t type = ado::adBSTR;            // DataTypeEnum of the value
    std::int32_t attributes = ado::adPropRead;  // PropertyAttributesEnum
    Variant value;
};

struct ExecuteOptions {
    std::int32_t command_type = ado::adCmdText;  // CommandTypeEnum
    std::int32_t timeout_seconds = 30;           // 0: no limit
    bool forward_only = true;                    // rows will be read once, in order
    // The Command's properties as the caller left them (those of Session::CommandProperties, e.g. an
    // Oracle provider's "PLSQLRSet"); empty for a recordset opened from text.
    std::vector<PropertyValue> properties;
};

// A column of a table that the catalog creates.
struct ColumnDefinition {
    ColumnInfo info;  // name, type, defined_size (0 or -1: none given), precision, scale, auto_increment
    bool nullable = true;
    bool fixed_length = false;
    Variant default_value;  // Empty: none
    // The values of the provider's own column properties (Session::ColumnProperties) as the column left them.
    std::vector<PropertyValue> provider_properties;
};

class Session {
  public:
    virtual ~Session() = default;
    virtual std::unique_ptr<Statement> Prepare(std::string_view text, const ExecuteOptions& options) = 0;
    // Runs `text` at once when the provider sees that it is a single statement without rows taking input
    // values only, and reports the rows it affected (-1 when it does not count them). False, with nothing
    // run, for anything else: the caller then goes through Prepare. Failures are those Prepare and
    // Statement::Execute would raise. The values are the caller's, read while this runs.
    virtual bool RunAction(std::string_view text, std::span<const ParamBinding* const> params,
                           const ExecuteOptions& options, std::int64_t& affected) {
        (void)text, (void)params, (void)options, (void)affected;
        return false;
    }
    // Transactions; a provider without them raises 3251 from "ADODB.Connection" in BeginTransaction.
    virtual void BeginTransaction() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    // The information properties of the open session (not the initialization ones, which the platform
    // takes from the connection string).
    virtual std::vector<PropertyValue> InfoProperties() = 0;
    // A schema rowset (SchemaEnum) with the platform's columns in the platform's order; `restrictions`
    // holds up to 4 values, Empty meaning no restriction. Raises 3251 for a schema it does not offer.
    virtual std::unique_ptr<Cursor> Schema(std::int32_t schema, std::span<const Variant> restrictions) = 0;
    // False once the session knows its link is broken ("Connection Status" 2).
    virtual bool IsAlive() = 0;
    virtual void Cancel() = 0;
    // Warnings (ODBC SQLSTATE 01xxx and the like) of the calls since the last TakeWarnings, handed over
    // once; the platform appends them to Connection.Errors without failing.
    virtual std::vector<Diagnostic> TakeWarnings() { return {}; }
    // A number that changes whenever InfoProperties would answer differently (a catalog switched, a link
    // lost); 0 when the session cannot tell, and the platform then asks InfoProperties on every lookup.
    virtual std::uint64_t PropertiesGeneration() { return 0; }
    // True when neither InfoProperties nor IsAlive can answer differently while the session is open (a
    // local file has no link to lose): the platform then reads them once, at Open.
    virtual bool PropertiesSettled() { return false; }
    // After an INSERT the client cursor's update engine ran on this session: the value the database gave
    // `column` (an auto-increment key: ColumnInfo::auto_increment) in the row just inserted into its base
    // table, so that the row can be changed again; Empty when the session cannot tell. Failures are
    // provider failures.
    virtual Variant GeneratedKey(const ColumnInfo& column) {
        (void)column;
        return Variant();
    }
    // How many columns make the key of the base table of `column` (ColumnInfo::base_*), so that the client
    // cursor's update engine does not take part of a key for the whole; -1 when the session cannot tell
    // (the engine then relies on ColumnInfo::key_column alone). Failures are provider failures.
    virtual int KeyColumnCount(const ColumnInfo& column) {
        (void)column;
        return -1;
    }
    // `name` as an identifier in the statements the client cursor's update engine writes: standard SQL's
    // double quotes, doubled inside; a database that quotes otherwise (MariaDB's backticks) overrides it.
    virtual std::string QuoteIdentifier(std::string_view name) { return Quoted(name, '"'); }
    // Creates table `name` with `columns` in one statement, so that it exists afterwards or not at all. A
    // type the database cannot take fails with DB_E_BADTYPE, a table that exists with DB_E_DUPLICATETABLEID
    // (provider failures); a provider that cannot create tables raises 3251 from "ADOX.Tables".
    virtual void CreateTable(std::string_view name, std::span<const ColumnDefinition> columns) {
        (void)name, (void)columns;
        throw Error(ado::adErrFeatureNotAvailable, "ADOX.Tables",
                    "Object or provider is not able to perform requested operation.");
    }
    // The column properties of the provider's own that a catalog column offers besides the platform's
    // ("Jet OLEDB:Allow Zero Length" of the Jet provider), with their defaults; their values reach
    // CreateTable in ColumnDefinition::provider_properties.
    virtual std::vector<PropertyValue> ColumnProperties() { return {}; }
    // The properties a Command on this session offers (names, types, defaults); a lookup of any other
    // name on Command.Properties fails with 3265. Their values reach Prepare in ExecuteOptions::properties.
    virtual std::vector<PropertyValue> CommandProperties() { return {}; }
};

// What Open receives: the parsed connection string with the Open arguments already merged (a non-empty
// user or password argument overrides the string's).
struct OpenRequest {
    ConnectionString connection_string;
    std::string user;
    std::string password;
    std::int32_t connect_timeout_seconds = 15;
};

class Provider {
  public:
    virtual ~Provider() = default;
    // The provider's name as a connection string names it ("SQLite", "MSDASQL").
    virtual std::string_view Name() const = 0;
    // Name with version suffix, as Connection.Provider reports it ("SQLite.1", "MSDASQL.1").
    virtual std::string_view VersionedName() const = 0;
    // "Provider Friendly Name" and the error source of its failures.
    virtual std::string_view FriendlyName() const = 0;
    virtual std::string_view ErrorSource() const = 0;
    // "Provider Name" (the provider's file name) and "Provider Version" ("##.##.####").
    virtual std::string_view FileName() const = 0;
    virtual std::string_view ProviderVersion() const = 0;
    // Opens a session; raises ProviderError on failure.
    virtual std::unique_ptr<Session> Open(const OpenRequest& request) = 0;
    // Creates a new data source (the catalog's Create); raises 3251 when the provider cannot.
    virtual void CreateDataSource(const OpenRequest& request) {
        (void)request;
        throw Error(ado::adErrFeatureNotAvailable, "ADOX.Catalog",
                    "Object or provider is not able to perform requested operation.");
    }
};

// The provider registry: providers are found by name without regard to letter case. The platform maps
// "Provider=" (or its absence, meaning "MSDASQL") to a registered provider; tests register scripted ones.
using ProviderFactory = std::function<std::shared_ptr<Provider>()>;
void RegisterProvider(std::string name, ProviderFactory factory);
void UnregisterProvider(std::string_view name);
// Registers `factory` (an empty one unregisters) and returns the factory it replaces (empty when none), so
// that a test posing as an installed provider can put the real one back.
ProviderFactory ReplaceProvider(std::string name, ProviderFactory factory);
// Raises 3706 ("Provider cannot be found. It may not be properly installed.", source "ADODB.Connection")
// when no provider has that name.
std::shared_ptr<Provider> FindProvider(std::string_view name);

}  // namespace korado::dataaccess
