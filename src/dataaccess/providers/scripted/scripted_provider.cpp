#include "dataaccess/providers/scripted/scripted_provider.h"

#include <algorithm>

#include "dataaccess/memory_cursor.h"
#include "dataaccess/platform_error.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"

namespace korado::dataaccess::scripted {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// A cursor over a scripted result that can fail part-way, as a driver losing its link does.
class ScriptedCursor final : public Cursor {
  public:
    ScriptedCursor(const ScriptedResult& result, const ScriptedProvider& provider)
        : result_(result), provider_(provider) {}
    const std::vector<ColumnInfo>& Columns() const override { return result_.columns; }
    bool Next() override;
    void Read(std::size_t column, Variant& out) override {
        const std::vector<Variant>& row = result_.rows[current_];
        out = column < row.size() ? row[column] : Variant::Null();
    }

  private:
    const ScriptedResult& result_;
    const ScriptedProvider& provider_;
    std::size_t next_ = 0;
    std::size_t current_ = 0;
};

}  // namespace

class ScriptedStatement final : public Statement {
  public:
    ScriptedStatement(ScriptedProvider& provider, std::string text, ExecuteOptions options,
                      std::vector<Diagnostic>& warnings)
        : provider_(provider), text_(std::move(text)), options_(std::move(options)), warnings_(warnings) {}

    void Execute(std::span<ParamBinding> params) override {
        provider_.executed_.push_back(
            {text_, std::vector<ParamBinding>(params.begin(), params.end()), options_});
        execution_ = provider_.NextExecution(text_);
        if (!execution_.failure.empty()) provider_.Raise(execution_.failure);
        for (Diagnostic d : execution_.warnings) {
            if (d.source.empty()) d.source = provider_.identity_.error_source;
            warnings_.push_back(std::move(d));
        }
        if (execution_.results.empty()) execution_.results.push_back(ScriptedResult::Action(-1));
        index_ = 0;
        Position();
    }
    Cursor* Result() override { return cursor_.get(); }
    std::int64_t RowsAffected() override {
        const ScriptedResult& r = execution_.results[index_];
        return r.columns.empty() ? r.rows_affected : -1;
    }
    bool NextResult() override {
        if (index_ + 1 >= execution_.results.size()) return false;
        ++index_;
        Position();
        return true;
    }
    void FetchOutputParameters(std::span<ParamBinding> params) override {
        std::size_t next = 0;
        for (ParamBinding& p : params) {
            if (p.direction == ado::adParamInput) continue;
            if (next < execution_.outputs.size()) p.value = execution_.outputs[next];
            ++next;
        }
    }
    void Cancel() override { provider_.session_calls_.push_back("cancel"); }

  private:
    void Position() {
        const ScriptedResult& r = execution_.results[index_];
        cursor_ = r.columns.empty() ? nullptr : std::make_unique<ScriptedCursor>(r, provider_);
    }

    ScriptedProvider& provider_;
    std::string text_;
    ExecuteOptions options_;
    std::vector<Diagnostic>& warnings_;
    ScriptedExecution execution_;
    std::size_t index_ = 0;
    std::unique_ptr<Cursor> cursor_;
};

class ScriptedSession final : public Session {
  public:
    explicit ScriptedSession(std::shared_ptr<ScriptedProvider> provider) : provider_(std::move(provider)) {}

    std::unique_ptr<Statement> Prepare(std::string_view text, const ExecuteOptions& options) override {
        return std::make_unique<ScriptedStatement>(*provider_, std::string(text), options, warnings_);
    }
    void BeginTransaction() override {
        RequireTransactions();
        provider_->session_calls_.push_back("begin");
        ++depth_;
    }
    void Commit() override {
        RequireTransaction();
        provider_->session_calls_.push_back("commit");
        // A failed commit leaves the transaction open, for the host to roll back.
        if (!provider_->commit_failure_.empty()) provider_->Raise(provider_->commit_failure_);
        --depth_;
    }
    void Rollback() override {
        RequireTransaction();
        provider_->session_calls_.push_back("rollback");
        --depth_;
    }
    std::vector<PropertyValue> InfoProperties() override {
        std::vector<PropertyValue> props = provider_->properties_;
        for (PropertyValue& p : props)
            if (p.name == "Connection Status") p.value = Variant(provider_->alive_ ? 1 : 2);
        return props;
    }
    std::unique_ptr<Cursor> Schema(std::int32_t schema, std::span<const Variant> restrictions) override {
        if (auto f = provider_->schema_failures_.find(schema); f != provider_->schema_failures_.end())
            provider_->Raise(f->second);
        auto it = provider_->schemas_.find(schema);
        if (it == provider_->schemas_.end()) RaiseAdo(ado::adErrFeatureNotAvailable, "ADODB.Connection");
        std::vector<ColumnInfo> columns;
        switch (schema) {
            case ado::adSchemaSchemata:
                columns = SchemataColumns();
                break;
            case ado::adSchemaTables:
                columns = TablesColumns();
                break;
            case ado::adSchemaColumns:
                columns = ColumnsColumns();
                break;
            default:
                for (std::size_t i = 0; i < (it->second.empty() ? 0 : it->second.front().size()); ++i)
                    columns.push_back(SchemaColumn("COLUMN" + std::to_string(i + 1), ado::adVariant));
        }
        std::vector<std::vector<Variant>> rows;
        for (const auto& row : it->second) {
            bool keep = true;
            for (std::size_t i = 0; i < restrictions.size() && keep; ++i) {
                const Variant& r = restrictions[i];
                if (r.IsEmpty() || r.IsNull() || r.IsMissing()) continue;
                keep = i < row.size() && !row[i].IsNull() && CStr(row[i]) == CStr(r);
            }
            if (keep) rows.push_back(row);
        }
        return std::make_unique<MemoryCursor>(std::move(columns), std::move(rows));
    }
    bool IsAlive() override { return provider_->alive_; }
    std::uint64_t PropertiesGeneration() override { return provider_->properties_generation_; }
    void Cancel() override { provider_->session_calls_.push_back("cancel"); }
    std::vector<Diagnostic> TakeWarnings() override { return std::exchange(warnings_, {}); }
    std::vector<PropertyValue> CommandProperties() override { return provider_->command_properties_; }
    std::vector<PropertyValue> ColumnProperties() override { return provider_->column_properties_; }
    void CreateTable(std::string_view name, std::span<const ColumnDefinition> columns) override {
        if (!provider_->create_table_) Session::CreateTable(name, columns);
        if (!provider_->create_table_->empty()) provider_->Raise(*provider_->create_table_);
        provider_->created_tables_.push_back({std::string(name), {columns.begin(), columns.end()}});
    }

  private:
    void RequireTransactions() const {
        if (!provider_->transactions_) RaiseAdo(ado::adErrFeatureNotAvailable, "ADODB.Connection");
    }
    // Ending a transaction that was never begun fails as OLE DB providers report it.
    void RequireTransaction() const {
        RequireTransactions();
        if (depth_ == 0) provider_->Raise({{Hr(0x8004D00E), "", "No transaction is active.", 0, "25000"}});
    }

    std::shared_ptr<ScriptedProvider> provider_;
    std::vector<Diagnostic> warnings_;
    int depth_ = 0;
};

bool ScriptedCursor::Next() {
    if (!result_.fetch_failure.empty() && next_ >= result_.fail_after_rows)
        provider_.Raise(result_.fetch_failure);
    if (next_ >= result_.rows.size()) return false;
    current_ = next_++;
    return true;
}

// ---- script pieces -----------------------------------------------------------------------------------
ColumnInfo Column(std::string name, std::int32_t type, std::int32_t defined_size, std::uint8_t precision,
                  std::uint8_t scale) {
    ColumnInfo c;
    c.name = std::move(name);
    c.type = type;
    c.defined_size = defined_size;
    c.precision = precision;
    c.scale = scale;
    c.attributes = ado::adFldIsNullable | ado::adFldMayBeNull | ado::adFldUnknownUpdatable;
    return c;
}

ScriptedResult ScriptedResult::Rows(std::vector<ColumnInfo> columns, std::vector<std::vector<Variant>> rows) {
    ScriptedResult r;
    r.columns = std::move(columns);
    r.rows = std::move(rows);
    return r;
}

ScriptedResult ScriptedResult::Action(std::int64_t rows_affected) {
    ScriptedResult r;
    r.rows_affected = rows_affected;
    return r;
}

ScriptedExecution ScriptedExecution::Fails(std::vector<Diagnostic> records) {
    ScriptedExecution e;
    e.failure = std::move(records);
    return e;
}

ScriptedExecution ScriptedExecution::Returns(ScriptedResult result) {
    ScriptedExecution e;
    e.results.push_back(std::move(result));
    return e;
}

// ---- provider ----------------------------------------------------------------------------------------
ScriptedProvider::ScriptedProvider() : ScriptedProvider(Identity{}) {}

ScriptedProvider::ScriptedProvider(Identity identity) : identity_(std::move(identity)) {}

void ScriptedProvider::Raise(std::vector<Diagnostic> records) const {
    for (Diagnostic& d : records)
        if (d.source.empty()) d.source = identity_.error_source;
    throw ProviderError(std::move(records));
}

void ScriptedProvider::FailOpen(std::vector<Diagnostic> records) { open_failure_ = std::move(records); }

void ScriptedProvider::FailNextOpen(std::vector<Diagnostic> records) {
    next_open_failures_.push_back(std::move(records));
}

void ScriptedProvider::AllowOpen() {
    open_failure_.clear();
    next_open_failures_.clear();
}

void ScriptedProvider::SetProperty(std::string name, std::int32_t type, Variant value,
                                   std::int32_t attributes) {
    RemoveProperty(name);
    properties_.push_back(PropertyValue{std::move(name), type, attributes, std::move(value)});
    ++properties_generation_;
}

void ScriptedProvider::RemoveProperty(std::string_view name) {
    std::erase_if(properties_, [&](const PropertyValue& p) { return TextEquals(p.name, name); });
    ++properties_generation_;
}

void ScriptedProvider::SetStandardProperties(std::string dbms_name, std::string dbms_version) {
    SetProperty("DBMS Name", ado::adBSTR, Variant(std::move(dbms_name)));
    SetProperty("DBMS Version", ado::adBSTR, Variant(std::move(dbms_version)));
    SetProperty("Provider Name", ado::adBSTR, Variant(identity_.file_name));
    SetProperty("Provider Version", ado::adBSTR, Variant(identity_.provider_version));
    SetProperty("Provider Friendly Name", ado::adBSTR, Variant(identity_.friendly_name));
    SetProperty("Transaction DDL", ado::adInteger, Variant(ado::DBPROPVAL_TC_ALL));
    SetProperty("Output Parameter Availability", ado::adInteger, Variant(ado::DBPROPVAL_OA_ATEXECUTE));
    SetProperty("Connection Status", ado::adInteger, Variant(1));
    SetProperty("Read-Only Data Source", ado::adBoolean, Variant(false));
    SetProperty("Current Catalog", ado::adBSTR, Variant(""), ado::adPropRead | ado::adPropWrite);
    SetProperty("Server Name", ado::adBSTR, Variant(""));
    SetProperty("Schema Term", ado::adBSTR, Variant("schema"));
    SetProperty("User Name", ado::adBSTR, Variant(""));
}

void ScriptedProvider::SetCommandProperty(std::string name, std::int32_t type, Variant value,
                                          std::int32_t attributes) {
    std::erase_if(command_properties_, [&](const PropertyValue& p) { return TextEquals(p.name, name); });
    command_properties_.push_back(PropertyValue{std::move(name), type, attributes, std::move(value)});
}

void ScriptedProvider::On(std::string sql, ScriptedExecution execution) {
    by_text_[std::string(Trim(sql))] = std::move(execution);
}

void ScriptedProvider::Then(ScriptedExecution execution) { queued_.push_back(std::move(execution)); }

void ScriptedProvider::Otherwise(ScriptedExecution execution) { fallback_ = std::move(execution); }

void ScriptedProvider::SetSchema(std::int32_t schema, std::vector<std::vector<Variant>> rows) {
    schemas_[schema] = std::move(rows);
    schema_failures_.erase(schema);
}

void ScriptedProvider::FailSchema(std::int32_t schema, std::vector<Diagnostic> failure) {
    schema_failures_[schema] = std::move(failure);
}

void ScriptedProvider::ClearLog() {
    created_tables_.clear();
    opens_.clear();
    executed_.clear();
    session_calls_.clear();
}

ScriptedExecution ScriptedProvider::NextExecution(std::string_view text) {
    if (auto it = by_text_.find(Trim(text)); it != by_text_.end()) return it->second;
    if (!queued_.empty()) {
        ScriptedExecution e = std::move(queued_.front());
        queued_.pop_front();
        return e;
    }
    return fallback_;
}

std::unique_ptr<Session> ScriptedProvider::Open(const OpenRequest& request) {
    opens_.push_back(request);
    if (!next_open_failures_.empty()) {
        std::vector<Diagnostic> failure = std::move(next_open_failures_.front());
        next_open_failures_.pop_front();
        Raise(std::move(failure));
    }
    if (!open_failure_.empty()) Raise(open_failure_);
    // The session keeps its provider alive: the script may be replaced in the registry meanwhile.
    return std::make_unique<ScriptedSession>(shared_from_this());
}

void ScriptedProvider::CreateDataSource(const OpenRequest& request) {
    if (!create_data_source_) Provider::CreateDataSource(request);
    if (!create_data_source_->empty()) Raise(*create_data_source_);
}

void ScriptedProvider::SetColumnProperty(std::string name, std::int32_t type, Variant value) {
    std::erase_if(column_properties_, [&](const PropertyValue& p) { return TextEquals(p.name, name); });
    column_properties_.push_back(
        PropertyValue{std::move(name), type, ado::adPropRead | ado::adPropWrite, std::move(value)});
}

std::shared_ptr<ScriptedProvider> ScriptedProvider::Shared() {
    static auto* provider = new std::shared_ptr<ScriptedProvider>(std::make_shared<ScriptedProvider>());
    return *provider;
}

ScopedProvider::ScopedProvider(std::shared_ptr<Provider> provider) : name_(provider->Name()) {
    previous_ = ReplaceProvider(name_, [provider] { return provider; });
}

ScopedProvider::~ScopedProvider() { ReplaceProvider(name_, std::move(previous_)); }

namespace {
const bool kRegistered = [] {
    RegisterProvider("Scripted", [] { return std::shared_ptr<Provider>(ScriptedProvider::Shared()); });
    return true;
}();
}  // namespace

}  // namespace korado::dataaccess::scripted
