// The native PostgreSQL provider object, connecting, and the session's transactions and properties.
#include "dataaccess/providers/pg/pg_provider.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "dataaccess/providers/odbc/odbc_provider.h"
#include "dataaccess/providers/pg/pg_cursor.h"
#include "korado/runtime/error.h"

namespace korado::dataaccess::pg {
namespace {

constexpr std::string_view kProviderFile = "korado-pg.so";
constexpr std::string_view kProviderVersion = "01.00.0001";
constexpr std::string_view kOleDbVersion = "02.50";

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// libpq's own keywords, from its defaults list (so that a newer libpq's keywords pass through too).
const std::vector<std::string>& LibpqKeywordNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        if (PQconninfoOption* options = PQconndefaults()) {
            for (PQconninfoOption* o = options; o->keyword; ++o) out.emplace_back(o->keyword);
            PQconninfoFree(options);
        }
        return out;
    }();
    return names;
}

// A braced value is the platform's ODBC-style quoting, kept for drivers; libpq takes the value itself.
void Put(std::vector<std::pair<std::string, std::string>>& out, std::string key, std::string value) {
    if (!value.empty() && value.front() == '{' && DelimitedLength(value) == value.size()) {
        std::string inner;
        for (std::size_t i = 1; i + 1 < value.size(); ++i) {
            inner += value[i];
            if (value[i] == '}') ++i;
        }
        value = std::move(inner);
    }
    for (auto& [k, v] : out) {
        if (k == key) {
            v = std::move(value);
            return;
        }
    }
    out.emplace_back(std::move(key), std::move(value));
}

PropertyValue Text(std::string name, std::string value, std::int32_t attributes = ado::adPropRead) {
    return PropertyValue{std::move(name), ado::adBSTR, attributes, Variant(std::move(value))};
}

PropertyValue Integer(std::string name, std::int32_t value) {
    return PropertyValue{std::move(name), ado::adInteger, ado::adPropRead, Variant(value)};
}

std::string ParameterStatus(PGconn* conn, const char* name) {
    const char* value = PQparameterStatus(conn, name);
    return value ? value : "";
}

class PgProvider final : public Provider {
  public:
    std::string_view Name() const override { return "PostgreSQL"; }
    std::string_view VersionedName() const override { return "PostgreSQL.1"; }
    std::string_view FriendlyName() const override { return kErrorSource; }
    std::string_view ErrorSource() const override { return kErrorSource; }
    std::string_view FileName() const override { return kProviderFile; }
    std::string_view ProviderVersion() const override { return kProviderVersion; }

    std::unique_ptr<Session> Open(const OpenRequest& request) override {
        auto keywords = LibpqKeywords(request.connection_string, request.user, request.password,
                                      request.connect_timeout_seconds);
        std::vector<const char*> keys;
        std::vector<const char*> values;
        for (const auto& [k, v] : keywords) {
            keys.push_back(k.c_str());
            values.push_back(v.c_str());
        }
        keys.push_back(nullptr);
        values.push_back(nullptr);
        PGconn* conn = PQconnectdbParams(keys.data(), values.data(), 0);
        if (!conn || PQstatus(conn) != CONNECTION_OK) {
            std::string message = conn ? PQerrorMessage(conn) : "";
            Diagnostic d = ConnectionDiagnostic(conn, ConnectSqlState(message));
            PQfinish(conn);
            throw ProviderError({std::move(d)});
        }
        return std::make_unique<PgSession>(conn, request.connection_string.Get("Data Source"),
                                           ConninfoText(keywords));
    }
};

const bool kRegistered = [] {
    RegisterProvider("PostgreSQL", [] { return MakePgProvider(); });
    return true;
}();

}  // namespace

std::shared_ptr<Provider> MakePgProvider() {
    static const auto provider = std::make_shared<PgProvider>();
    return provider;
}

std::vector<std::pair<std::string, std::string>> LibpqKeywords(const ConnectionString& cs,
                                                               std::string_view user,
                                                               std::string_view password,
                                                               std::int32_t connect_timeout_seconds) {
    std::vector<std::pair<std::string, std::string>> out;
    if (connect_timeout_seconds > 0) Put(out, "connect_timeout", std::to_string(connect_timeout_seconds));
    std::string source = cs.Get("Data Source");
    if (!source.empty()) {
        // host[:port][/database]; a bracketed IPv6 address keeps its colons, a socket folder its slashes.
        std::string host = source;
        std::string rest;
        if (source.front() == '/') {
            host = source;
        } else if (source.front() == '[') {
            std::size_t close = source.find(']');
            host = source.substr(1, close == std::string::npos ? std::string::npos : close - 1);
            rest = close == std::string::npos ? "" : source.substr(close + 1);
        } else {
            std::size_t end = source.find_first_of(":/");
            host = source.substr(0, end);
            rest = end == std::string::npos ? "" : source.substr(end);
        }
        Put(out, "host", host);
        if (!rest.empty() && rest.front() == ':') {
            std::size_t slash = rest.find('/');
            Put(out, "port", rest.substr(1, slash == std::string::npos ? std::string::npos : slash - 1));
            rest = slash == std::string::npos ? "" : rest.substr(slash);
        }
        if (rest.size() > 1 && rest.front() == '/') Put(out, "dbname", rest.substr(1));
    }
    if (auto v = cs.Find("User ID")) Put(out, "user", *v);
    if (auto v = cs.Find("Password")) Put(out, "password", *v);
    if (auto v = cs.Find("Initial Catalog"); v && !v->empty()) Put(out, "dbname", *v);
    const auto& names = LibpqKeywordNames();
    for (const auto& [key, value] : cs.Entries()) {
        std::string lower = Lower(key);
        if (std::find(names.begin(), names.end(), lower) != names.end()) Put(out, lower, value);
    }
    if (!user.empty()) Put(out, "user", std::string(user));
    if (!password.empty()) Put(out, "password", std::string(password));
    // Server messages in one form whatever the server's locale is not ours to set; dates and numbers are:
    // the value conversions read ISO dates and a point as the decimal separator.
    Put(out, "options", [&] {
        for (const auto& [k, v] : out)
            if (k == "options") return v + " -c DateStyle=ISO -c extra_float_digits=3";
        return std::string("-c DateStyle=ISO -c extra_float_digits=3");
    }());
    Put(out, "client_encoding", "UTF8");
    return out;
}

std::string ConninfoText(const std::vector<std::pair<std::string, std::string>>& keywords) {
    std::string settings;
    for (const auto& [k, v] : keywords) {
        if (k == "password") continue;
        if (!settings.empty()) settings += ' ';
        // Quoted only where a value needs it: a blank would end it, a quote or backslash be read as one.
        if (!v.empty() && v.find_first_of(" \t\r\n\f\v'\\") == std::string::npos) {
            settings += k + "=" + v;
        } else {
            std::string quoted;
            for (char c : v) {
                if (c == '\'' || c == '\\') quoted.push_back('\\');
                quoted.push_back(c);
            }
            settings += k + "='" + quoted + "'";
        }
    }
    return settings;
}

// ---- PgSession -----------------------------------------------------------------------------------------

PgSession::PgSession(PGconn* conn, std::string data_source, std::string settings)
    : conn_(conn), data_source_(std::move(data_source)), settings_(std::move(settings)) {
    cancel = PQgetCancel(conn_);
    PQsetNoticeReceiver(conn_, &PgSession::OnNotice, this);
}

void PgSession::OnNotice(void* self, const PGresult* notice) {
    // Warnings (class 01) reach Connection.Errors as the bridge's SQL_SUCCESS_WITH_INFO records do; the
    // server's NOTICE and INFO chatter ("table does not exist, skipping") does not.
    auto* session = static_cast<PgSession*>(self);
    const char* state = PQresultErrorField(notice, PG_DIAG_SQLSTATE);
    if (!state || std::string_view(state).substr(0, 2) != "01") return;
    constexpr std::size_t kMaxPendingWarnings = 64;
    if (session->warnings_.size() < kMaxPendingWarnings)
        session->warnings_.push_back(ResultDiagnostic(notice));
}

std::vector<Diagnostic> PgSession::TakeWarnings() {
    std::vector<Diagnostic> out;
    out.swap(warnings_);
    return out;
}

PgSession::~PgSession() {
    std::lock_guard guard(lock);
    owner_ = nullptr;  // the platform closed its statements first; an answer left unread dies with the link
    {
        std::lock_guard c(cancel_mutex);
        if (cancel) PQfreeCancel(cancel);
        cancel = nullptr;
    }
    // Closing inside a transaction drops its work, as the platform's Close does: the server rolls back the
    // transaction of a connection that ends.
    PQfinish(conn_);
}

void PgSession::Fail(PGresult* result) {
    Diagnostic d = ResultDiagnostic(result);
    PQclear(result);
    if (PQstatus(conn_) == CONNECTION_BAD || odbc::IsConnectionLost(d.sql_state)) broken = true;
    throw ProviderError({std::move(d)});
}

void PgSession::FailConnection() {
    bool lost = PQstatus(conn_) == CONNECTION_BAD;
    if (lost) broken = true;
    throw ProviderError({ConnectionDiagnostic(conn_, lost ? "08006" : "HY000")});
}

void PgSession::Run(const char* sql) {
    std::lock_guard guard(lock);
    FreeConnection();
    PGresult* r = PQexec(conn_, sql);
    if (!r) FailConnection();
    ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(r);
    PQclear(r);
}

void PgSession::Claim(PgStatement* owner) { owner_ = owner; }

void PgSession::Release(PgStatement* owner) noexcept {
    if (owner_ == owner) owner_ = nullptr;
}

void PgSession::FreeConnection() {
    if (owner_) {
        PgStatement* owner = owner_;
        owner_ = nullptr;
        owner->Buffer();
    }
}

namespace {

std::string PreparedKey(const std::string& text, const std::vector<Oid>& types) {
    std::string key = text;
    key.push_back('\0');
    for (Oid t : types) key += std::to_string(t) + ",";
    return key;
}

}  // namespace

const PgSession::Prepared* PgSession::FindPrepared(const std::string& text,
                                                   const std::vector<Oid>& types) const {
    auto it = prepared_.find(PreparedKey(text, types));
    return it == prepared_.end() ? nullptr : &it->second;
}

bool PgSession::ForgetPrepared() {
    if (prepared_.empty()) return false;
    prepared_.clear();
    Run("DEALLOCATE ALL");
    return true;
}

const PgSession::Prepared& PgSession::PrepareCached(const std::string& text, const std::vector<Oid>& types,
                                                    bool keep_always) {
    // A server keeps every named statement of a session; texts that differ only in their literals must not
    // pile up there without end.
    constexpr std::size_t kMaxPrepared = 256;
    std::string key = PreparedKey(text, types);
    if (auto it = prepared_.find(key); it != prepared_.end()) return it->second;
    FreeConnection();
    const bool keep = keep_always || prepared_.size() < kMaxPrepared;
    Prepared entry;
    entry.name = keep ? "korado_" + std::to_string(prepared_.size() + 1) : "";
    PGresult* r = PQprepare(conn_, entry.name.c_str(), text.c_str(), static_cast<int>(types.size()),
                            types.empty() ? nullptr : types.data());
    if (!r) FailConnection();
    if (PQresultStatus(r) != PGRES_COMMAND_OK) Fail(r);
    PQclear(r);
    r = PQdescribePrepared(conn_, entry.name.c_str());
    if (!r) FailConnection();
    if (PQresultStatus(r) != PGRES_COMMAND_OK) Fail(r);
    std::vector<ColumnInfo> columns;
    std::vector<ValueKind> kinds;
    DescribeColumns(r, columns, kinds, true);
    PQclear(r);
    if (!keep) {
        unnamed_ = std::move(entry);
        return unnamed_;
    }
    return prepared_.emplace(std::move(key), std::move(entry)).first->second;
}

void PgSession::DescribeColumns(const PGresult* description, std::vector<ColumnInfo>& columns,
                                std::vector<ValueKind>& kinds, bool look_up_sources) {
    int n = PQnfields(description);
    columns.assign(static_cast<std::size_t>(n), ColumnInfo());
    kinds.assign(static_cast<std::size_t>(n), ValueKind::kText);
    std::vector<std::pair<int, int>> key_sizes;  // (column, its table's key size) for key columns
    for (int i = 0; i < n; ++i) {
        ColumnInfo& c = columns[static_cast<std::size_t>(i)];
        PgType t = TypeForOid(PQftype(description, i), PQfmod(description, i));
        c.name = PQfname(description, i);
        c.type = t.type;
        c.defined_size = t.defined_size;
        c.precision = t.precision;
        c.scale = t.scale;
        c.attributes = t.attributes | ado::adFldUnknownUpdatable | ado::adFldMayBeNull | ado::adFldIsNullable;
        kinds[static_cast<std::size_t>(i)] = t.kind;
        Oid table = PQftable(description, i);
        int column = PQftablecol(description, i);
        if (table == InvalidOid || column <= 0) continue;
        const ColumnSource* source = nullptr;
        if (auto it = sources_.find({table, column}); it != sources_.end()) {
            source = &it->second;
        } else if (look_up_sources) {
            source = FindSource(table, column);
        }
        if (!source || source->table.empty()) continue;
        c.base_catalog = PQdb(conn_);
        c.base_schema = source->schema;
        c.base_table = source->table;
        c.base_column = source->column;
        c.key_column = source->key;
        if (source->not_null) c.attributes &= ~(ado::adFldMayBeNull | ado::adFldIsNullable);
        if (source->key) c.attributes |= ado::adFldKeyColumn;
        key_sizes.emplace_back(i, source->key ? source->key_columns : 0);
        c.auto_increment = source->serial;
    }
    // Part of a key is no key: a change through it would reach every row that shares that part.
    for (auto [i, size] : key_sizes) {
        if (size <= 0) continue;
        ColumnInfo& c = columns[static_cast<std::size_t>(i)];
        int present = 0;
        for (auto [j, other] : key_sizes) {
            const ColumnInfo& o = columns[static_cast<std::size_t>(j)];
            if (other > 0 && o.base_table == c.base_table && o.base_schema == c.base_schema) ++present;
        }
        if (present < size) {
            c.key_column = false;
            c.attributes &= ~ado::adFldKeyColumn;
        }
    }
}

int PgSession::KeyColumnCount(const ColumnInfo& column) {
    for (const auto& [where, source] : sources_) {
        if (source.table == column.base_table && source.schema == column.base_schema && source.key)
            return source.key_columns;
    }
    return -1;
}

const PgSession::ColumnSource* PgSession::FindSource(Oid table, int column) {
    auto key = std::make_pair(table, column);
    if (auto it = sources_.find(key); it != sources_.end()) return &it->second;
    std::lock_guard guard(lock);
    FreeConnection();
    std::string t = std::to_string(table);
    std::string c = std::to_string(column);
    const char* params[] = {t.c_str(), c.c_str()};
    PGresult* r =
        PQexecParams(conn_,
                     "SELECT n.nspname, cl.relname, a.attname,"
                     " EXISTS (SELECT 1 FROM pg_index i WHERE i.indrelid = cl.oid AND i.indisprimary"
                     "  AND a.attnum = ANY (i.indkey)),"
                     " (a.attidentity <> '' OR pg_get_serial_sequence(quote_ident(n.nspname) || '.' ||"
                     "  quote_ident(cl.relname), a.attname) IS NOT NULL), a.attnotnull,"
                     " (SELECT i.indnkeyatts FROM pg_index i WHERE i.indrelid = cl.oid AND i.indisprimary)"
                     " FROM pg_class cl JOIN pg_namespace n ON n.oid = cl.relnamespace"
                     " JOIN pg_attribute a ON a.attrelid = cl.oid AND a.attnum = $2::int2"
                     " WHERE cl.oid = $1::oid",
                     2, nullptr, params, nullptr, nullptr, 0);
    if (!r) FailConnection();
    if (PQresultStatus(r) != PGRES_TUPLES_OK) Fail(r);
    ColumnSource source;
    if (PQntuples(r) == 1) {
        source.schema = PQgetvalue(r, 0, 0);
        source.table = PQgetvalue(r, 0, 1);
        source.column = PQgetvalue(r, 0, 2);
        source.key = PQgetvalue(r, 0, 3)[0] == 't';
        source.serial = PQgetvalue(r, 0, 4)[0] == 't';
        source.not_null = PQgetvalue(r, 0, 5)[0] == 't';
        source.key_columns = PQgetisnull(r, 0, 6) ? -1 : std::atoi(PQgetvalue(r, 0, 6));
    }
    PQclear(r);
    return &sources_.emplace(key, std::move(source)).first->second;
}

void PgSession::BeginTransaction() {
    std::lock_guard guard(lock);
    if (in_transaction) {
        // XACT_E_XTIONEXISTS, as the bridge answers: PostgreSQL has no nested transactions either.
        throw ProviderError({Diagnostic{Hr(0x8004D013), std::string(kErrorSource),
                                        "Only one transaction can be active on this session.", 0, ""}});
    }
    Run("BEGIN");
    in_transaction = true;
}

void PgSession::Commit() {
    std::lock_guard guard(lock);
    if (!in_transaction) {
        throw ProviderError(
            {Diagnostic{Hr(0x8004D00E), std::string(kErrorSource), "No transaction is active.", 0, ""}});
    }
    FreeConnection();
    const bool linked = !broken && PQstatus(conn_) == CONNECTION_OK;
    PGresult* r = PQexec(conn_, "COMMIT");
    if (linked && (!r || PQresultStatus(r) != PGRES_COMMAND_OK)) {
        Diagnostic cause = r ? ResultDiagnostic(r) : ConnectionDiagnostic(conn_, "08006");
        if (PQstatus(conn_) == CONNECTION_BAD || odbc::IsConnectionLost(cause.sql_state)) {
            broken = true;
            in_transaction = false;
            PQclear(r);
            throw ProviderError(
                {odbc::CommitOutcomeUnknown(kErrorSource, NativeErrorForSqlState("08007")), std::move(cause)});
        }
    }
    if (!r) FailConnection();
    // PostgreSQL answers COMMIT in an aborted transaction with ROLLBACK and no error: the work is lost.
    std::string tag = PQresultStatus(r) == PGRES_COMMAND_OK ? PQcmdStatus(r) : "";
    if (PQresultStatus(r) != PGRES_COMMAND_OK) {
        in_transaction = PQtransactionStatus(conn_) != PQTRANS_IDLE;
        server_timeout_ms = -1;
        Fail(r);
    }
    PQclear(r);
    in_transaction = false;
    if (tag == "ROLLBACK") {
        server_timeout_ms = -1;
        throw ProviderError({Diagnostic{Hr(0x8004D001), std::string(kErrorSource),
                                        "The transaction could not be committed: the server had aborted it, "
                                        "and its work was rolled back.",
                                        NativeErrorForSqlState("25P02"), "25P02"}});
    }
}

void PgSession::Rollback() {
    std::lock_guard guard(lock);
    if (!in_transaction) {
        throw ProviderError(
            {Diagnostic{Hr(0x8004D00E), std::string(kErrorSource), "No transaction is active.", 0, ""}});
    }
    in_transaction = false;
    server_timeout_ms = -1;
    Run("ROLLBACK");
}

Variant PgSession::GeneratedKey(const ColumnInfo& column) {
    if (!column.auto_increment || column.base_table.empty() || column.base_column.empty()) return Variant();
    // Serial and identity columns alike draw from a sequence; currval is this session's own last value.
    std::string table = Quoted(column.base_table, '"');
    if (!column.base_schema.empty()) table = Quoted(column.base_schema, '"') + "." + table;
    std::lock_guard guard(lock);
    FreeConnection();
    const char* params[] = {table.c_str(), column.base_column.c_str()};
    PGresult* r = PQexecParams(conn_, "SELECT currval(pg_get_serial_sequence($1, $2))", 2, nullptr, params,
                               nullptr, nullptr, 0);
    if (!r) FailConnection();
    if (PQresultStatus(r) != PGRES_TUPLES_OK) Fail(r);
    Variant key;
    if (PQntuples(r) == 1 && !PQgetisnull(r, 0, 0)) {
        long long v = std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10);
        switch (column.type) {
            case ado::adSmallInt:
                key = Variant(static_cast<std::int16_t>(v));
                break;
            case ado::adInteger:
                key = Variant(static_cast<int>(v));
                break;
            default:
                key = Variant(v);
        }
    }
    PQclear(r);
    return key;
}

bool PgSession::IsAlive() {
    if (broken) return false;
    std::unique_lock guard(lock, std::try_to_lock);
    if (!guard.owns_lock()) return true;
    if (PQstatus(conn_) == CONNECTION_BAD) {
        broken = true;
        return false;
    }
    if (owner_) return true;  // a result is streaming: the link is in use
    // libpq learns of a closed socket only when it next reads: an idle session asks the server (an empty
    // query, one round trip) before it says alive. One that heard from the server a moment ago (the host
    // asks before every statement) is taken as alive without another.
    auto now = std::chrono::steady_clock::now();
    if (now - last_contact < std::chrono::milliseconds(100)) return true;
    PGresult* r = PQexec(conn_, "");
    if (!r || PQstatus(conn_) == CONNECTION_BAD) broken = true;
    PQclear(r);
    if (!broken) last_contact = now;
    return !broken;
}

void PgSession::Cancel() {
    std::lock_guard guard(cancel_mutex);
    if (!running || !cancel) return;
    char buffer[256];
    PQcancel(cancel, buffer, sizeof buffer);
}

std::vector<PropertyValue> PgSession::InfoProperties() {
    std::lock_guard guard(lock);
    std::vector<PropertyValue> p;
    p.push_back(Integer("Active Sessions", 0));
    p.push_back(Text("Catalog Term", "database"));
    p.push_back(Text("Current Catalog", PQdb(conn_), ado::adPropRead | ado::adPropWrite));
    p.push_back(Text("Data Source Name", data_source_));
    p.push_back(PropertyValue{"Read-Only Data Source", ado::adBoolean, ado::adPropRead,
                              Variant(ParameterStatus(conn_, "default_transaction_read_only") == "on")});
    p.push_back(Text("DBMS Name", "PostgreSQL"));
    // As psqlODBC reports it ("15.00.0010"): the server version in the ODBC form.
    int version = PQserverVersion(conn_);
    char dbms_version[32];
    std::snprintf(dbms_version, sizeof dbms_version, "%02d.%02d.%04d", version / 10000, 0, version % 10000);
    p.push_back(Text("DBMS Version", dbms_version));
    p.push_back(Integer("Identifier Case Sensitivity", 8));
    p.push_back(Text("Provider Name", std::string(kProviderFile)));
    p.push_back(Text("OLE DB Version", std::string(kOleDbVersion)));
    p.push_back(Text("Provider Version", std::string(kProviderVersion)));
    p.push_back(Text("Schema Term", "schema"));
    p.push_back(Text("User Name", PQuser(conn_)));
    // DDL inside transactions, rolled back with them.
    p.push_back(Integer("Transaction DDL", 8));
    p.push_back(Integer("Output Parameter Availability", ado::DBPROPVAL_OA_ATEXECUTE));
    p.push_back(Integer("Multiple Results", 1));
    p.push_back(Text("Provider Friendly Name", std::string(kErrorSource)));
    p.push_back(Integer("Connection Status", IsAlive() ? 1 : 2));
    p.push_back(Text("Server Name", PQhost(conn_)));
    p.push_back(Text("Extended Properties", settings_, ado::adPropRead | ado::adPropWrite));
    return p;
}

}  // namespace korado::dataaccess::pg
