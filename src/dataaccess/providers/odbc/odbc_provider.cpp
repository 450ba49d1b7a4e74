// The ODBC bridge's provider object, connecting, and the session's properties and transactions.
#include "dataaccess/providers/odbc/odbc_provider.h"

#include <algorithm>
#include <cctype>

#include "dataaccess/providers/odbc/odbc_session.h"
#include "dataaccess/providers/odbc/odbc_text.h"

namespace korado::dataaccess::odbc {
namespace {

// A session keeps at most this many warnings until the platform takes them: a loop of statements that
// each warn must not grow memory without bound.
constexpr std::size_t kMaxPendingWarnings = 64;

constexpr std::string_view kProviderFile = "MSDASQL.DLL";
// The platform level the bridge stands in for (2.50) and the build of our bridge.
constexpr std::string_view kProviderVersion = "02.50.0001";
constexpr std::string_view kOleDbVersion = "02.50";

// ---- SQLGetInfo ----------------------------------------------------------------------------------------

std::string InfoText(SQLHDBC dbc, SQLUSMALLINT info, bool narrow = false) {
    if (narrow) {
        std::string buffer(512, '\0');
        SQLSMALLINT bytes = 0;
        if (!Succeeded(SQLGetInfo(dbc, info, N(buffer), static_cast<SQLSMALLINT>(buffer.size()), &bytes)))
            return {};
        buffer.resize(std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)), buffer.size() - 1));
        return buffer;
    }
    std::u16string buffer(256, u'\0');
    SQLSMALLINT bytes = 0;
    SQLRETURN rc = SQLGetInfoW(dbc, info, W(buffer), static_cast<SQLSMALLINT>(buffer.size() * 2), &bytes);
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(bytes) / 2 >= buffer.size()) {
        buffer.assign(static_cast<std::size_t>(bytes) / 2 + 1, u'\0');
        rc = SQLGetInfoW(dbc, info, W(buffer), static_cast<SQLSMALLINT>(buffer.size() * 2), &bytes);
    }
    if (!Succeeded(rc)) return {};
    std::size_t units =
        std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)) / 2, buffer.size());
    return ToUtf8(std::u16string_view(buffer.data(), units));
}

std::u16string InfoTextW(SQLHDBC dbc, SQLUSMALLINT info) {
    std::u16string buffer(64, u'\0');
    SQLSMALLINT bytes = 0;
    if (!Succeeded(SQLGetInfoW(dbc, info, W(buffer), static_cast<SQLSMALLINT>(buffer.size() * 2), &bytes)))
        return {};
    buffer.resize(std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)) / 2, buffer.size()));
    return buffer;
}

template <class T>
T InfoNumber(SQLHDBC dbc, SQLUSMALLINT info, T fallback = 0) {
    T value = 0;
    if (!Succeeded(SQLGetInfoW(dbc, info, &value, sizeof value, nullptr))) return fallback;
    return value;
}

std::string CurrentCatalog(SQLHDBC dbc, bool narrow) {
    if (narrow) {
        std::string buffer(512, '\0');
        SQLINTEGER bytes = 0;
        if (!Succeeded(SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, N(buffer),
                                         static_cast<SQLINTEGER>(buffer.size()), &bytes)) ||
            bytes < 0) {
            return {};
        }
        buffer.resize(std::min(static_cast<std::size_t>(bytes), buffer.size() - 1));
        return buffer;
    }
    std::u16string buffer(256, u'\0');
    SQLINTEGER bytes = 0;
    SQLRETURN rc = SQLGetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, W(buffer),
                                      static_cast<SQLINTEGER>(buffer.size() * 2), &bytes);
    if (!Succeeded(rc) || bytes < 0) return {};
    return ToUtf8(
        std::u16string_view(buffer.data(), std::min(static_cast<std::size_t>(bytes) / 2, buffer.size())));
}

// ---- connecting ----------------------------------------------------------------------------------------

// The name and library of the driver a DSN or DRIVER= entry names, from the driver manager's lists
// (SQLDataSources, SQLDrivers), so that driver options can go into the first connect.
DriverKind DetectKind(SQLHENV env, const std::pair<std::string, std::string>& target) {
    std::string driver_name;
    if (target.first == "DRIVER") {
        driver_name = target.second;
    } else if (target.first == "DSN") {
        SQLWCHAR dsn[SQL_MAX_DSN_LENGTH + 1];
        SQLWCHAR description[512];
        SQLSMALLINT dsn_length = 0;
        SQLSMALLINT description_length = 0;
        SQLUSMALLINT direction = SQL_FETCH_FIRST;
        while (Succeeded(SQLDataSourcesW(env, direction, dsn, SQL_MAX_DSN_LENGTH + 1, &dsn_length,
                                         description, 512, &description_length))) {
            direction = SQL_FETCH_NEXT;
            std::string name =
                ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(dsn),
                                           std::min<std::size_t>(dsn_length, SQL_MAX_DSN_LENGTH)));
            if (name.size() == target.second.size() &&
                std::equal(name.begin(), name.end(), target.second.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                })) {
                driver_name = ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(description),
                                                         std::min<std::size_t>(description_length, 511)));
            }
        }
    }
    if (driver_name.empty()) return DriverKind::kOther;
    // The driver's library, from its odbcinst.ini entry ("Driver=/usr/lib/.../psqlodbcw.so").
    std::string library;
    SQLWCHAR name[512];
    SQLWCHAR attributes[2048];
    SQLSMALLINT name_length = 0;
    SQLSMALLINT attributes_length = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (Succeeded(
        SQLDriversW(env, direction, name, 512, &name_length, attributes, 2048, &attributes_length))) {
        direction = SQL_FETCH_NEXT;
        std::string n = ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(name),
                                                   std::min<std::size_t>(name_length, 511)));
        if (n != driver_name) continue;
        // Attributes are "key=value" strings each ended by a NUL, the list by a second NUL.
        const char16_t* p = reinterpret_cast<const char16_t*>(attributes);
        const char16_t* end = p + std::min<std::size_t>(static_cast<std::size_t>(attributes_length), 2047);
        while (p < end && *p) {
            std::u16string_view entry(p);
            std::string text = ToUtf8(entry);
            if (text.size() > 7 &&
                (text.compare(0, 7, "Driver=") == 0 || text.compare(0, 7, "DRIVER=") == 0)) {
                library = text.substr(7);
            }
            p += entry.size() + 1;
        }
    }
    return KindOfDriver(driver_name, library);
}

bool StringSets(const ConnectionString& cs, std::string_view key) {
    if (cs.Has(key)) return true;
    if (auto extended = cs.Find("Extended Properties")) {
        for (const auto& [k, v] : SplitOdbcString(*extended)) {
            if (k.size() == key.size() && std::equal(k.begin(), k.end(), key.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                }))
                return true;
        }
    }
    return false;
}

// A connection of `env` made with the connection string `text`; `completed` (when given) takes the
// string the driver completed, `warnings` the driver's warnings. Raises ProviderError.
ConnectionHandle DriverConnect(SQLHENV env, const std::string& text, std::int32_t timeout_seconds,
                               std::string* completed = nullptr,
                               std::vector<Diagnostic>* warnings = nullptr) {
    ConnectionHandle connection(Allocate<SQL_HANDLE_DBC>(SQL_HANDLE_ENV, env));
    SQLHDBC dbc = connection.get();
    if (timeout_seconds > 0) {
        // A driver without login time-outs answers HYC00; connecting without one is still right.
        SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_seconds)), 0);
    }
    std::u16string in = ToUtf16(text);
    std::u16string out(4096, u'\0');
    SQLSMALLINT out_length = 0;
    SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, W(in), SQL_NTS, W(out),
                                     static_cast<SQLSMALLINT>(out.size()), &out_length, SQL_DRIVER_NOPROMPT);
    if (TraceEnabled()) TraceCall("SQLDriverConnect", rc);
    if (!Succeeded(rc)) throw ProviderError(FailureRecords(rc, SQL_HANDLE_DBC, dbc, "SQLDriverConnect"));
    connection.MarkConnected();
    if (rc == SQL_SUCCESS_WITH_INFO && warnings) *warnings = ReadDiagnostics(SQL_HANDLE_DBC, dbc);
    if (completed) {
        std::size_t units =
            std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(out_length, 0)), out.size() - 1);
        *completed = ToUtf8(std::u16string_view(out.data(), units));
    }
    return connection;
}

// Connects `core` with `attributes`; returns the completed connection string.
std::string Connect(SessionCore& core, const OdbcAttributes& attributes, std::int32_t timeout_seconds) {
    std::string completed;
    std::vector<Diagnostic> warnings;
    core.connection =
        DriverConnect(core.env->get(), JoinOdbcString(attributes), timeout_seconds, &completed, &warnings);
    core.AddWarnings(std::move(warnings));
    return completed;
}

// Whether text survives the wide API both ways: a driver with wide entry points passes it through, a
// narrow-only one gets it converted by the driver manager through the process locale.
bool WideTextRoundTrips(SQLHDBC dbc) {
    std::u16string in = u"SELECT '\u00E9\u0391\U0001F600'";
    std::u16string out(64, u'\0');
    SQLINTEGER length = 0;
    if (!Succeeded(
            SQLNativeSqlW(dbc, W(in), SQL_NTS, W(out), static_cast<SQLINTEGER>(out.size()), &length))) {
        return true;  // nothing learned: the wide API is the default
    }
    std::size_t units = std::min(static_cast<std::size_t>(std::max<SQLINTEGER>(length, 0)), out.size() - 1);
    return std::u16string_view(out.data(), units) == in;
}

void LearnTraits(SessionCore& core) {
    SQLHDBC dbc = core.dbc();
    DriverTraits& t = core.traits;
    t.driver_file = InfoText(dbc, SQL_DRIVER_NAME);
    t.kind = KindOfDriver("", t.driver_file);
    auto getdata = InfoNumber<SQLUINTEGER>(dbc, SQL_GETDATA_EXTENSIONS);
    t.getdata_any_column = getdata & SQL_GD_ANY_COLUMN;
    t.getdata_any_order = getdata & SQL_GD_ANY_ORDER;
    t.getdata_block = getdata & SQL_GD_BLOCK;
    t.getdata_bound = getdata & SQL_GD_BOUND;
    t.schemas = InfoNumber<SQLUINTEGER>(dbc, SQL_SCHEMA_USAGE) != 0;
    t.catalogs = InfoNumber<SQLUINTEGER>(dbc, SQL_CATALOG_USAGE) != 0;
    t.catalogs_as_schemas = !t.schemas && t.catalogs && t.kind == DriverKind::kMariaDB;
    t.transactions = InfoNumber<SQLUSMALLINT>(dbc, SQL_TXN_CAPABLE) != SQL_TC_NONE;
    t.procedures = InfoText(dbc, SQL_PROCEDURES) == "Y";
    t.native_query_timeout = t.kind != DriverKind::kMariaDB && t.kind != DriverKind::kSQLite;
    t.passive_connection_dead = t.kind == DriverKind::kPostgreSQL;
    t.search_escape = InfoTextW(dbc, SQL_SEARCH_PATTERN_ESCAPE);
    t.narrow_text = !WideTextRoundTrips(dbc);
    t.narrow_output_text = t.kind == DriverKind::kMariaDB;
    t.identifier_quote = InfoText(dbc, SQL_IDENTIFIER_QUOTE_CHAR);
}

// The server's id of the session's connection (MariaDB's connection id, PostgreSQL's backend process id),
// for interrupts from a second connection; 0 when it cannot be read.
std::int64_t ServerSessionId(SQLHDBC dbc, DriverKind kind) {
    try {
        StatementHandle st = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, dbc);
        SQLBIGINT id = 0;
        SQLLEN indicator = 0;
        std::string text =
            kind == DriverKind::kMariaDB ? "SELECT CONNECTION_ID()" : "SELECT pg_backend_pid()";
        if (Succeeded(SQLExecDirect(st.get(), N(text), SQL_NTS)) && Succeeded(SQLFetch(st.get())) &&
            Succeeded(SQLGetData(st.get(), 1, SQL_C_SBIGINT, &id, sizeof id, &indicator)) &&
            indicator != SQL_NULL_DATA) {
            return id;
        }
    } catch (const Error&) {
    }
    return 0;
}

PropertyValue Text(std::string name, std::string value, std::int32_t attributes = ado::adPropRead) {
    return PropertyValue{std::move(name), ado::adBSTR, attributes, Variant(std::move(value))};
}

PropertyValue Integer(std::string name, std::int32_t value) {
    return PropertyValue{std::move(name), ado::adInteger, ado::adPropRead, Variant(value)};
}

class OdbcProvider final : public Provider {
  public:
    std::string_view Name() const override { return "MSDASQL"; }
    std::string_view VersionedName() const override { return "MSDASQL.1"; }
    std::string_view FriendlyName() const override { return kErrorSource; }
    std::string_view ErrorSource() const override { return kErrorSource; }
    std::string_view FileName() const override { return kProviderFile; }
    std::string_view ProviderVersion() const override { return kProviderVersion; }

    std::unique_ptr<Session> Open(const OpenRequest& request) override {
        auto core = std::make_shared<SessionCore>(SharedEnvironment());
        const ConnectionString& cs = request.connection_string;
        OdbcAttributes attributes = DriverConnectAttributes(cs, request.user, request.password);
        DriverKind expected = DetectKind(core->env->get(), ConnectTarget(attributes));
        AddDriverOptions(attributes, expected);
        std::string completed = Connect(*core, attributes, request.connect_timeout_seconds);
        LearnTraits(*core);

        // A file DSN or a driver the lists did not name: the driver's own name says what it is, and
        // psqlODBC then connects once more with the options the platform needs.
        if (core->traits.kind != expected &&
            NeedsDriverOptions(SplitOdbcString(completed), core->traits.kind) &&
            !StringSets(cs, "Protocol") && !StringSets(cs, "BoolsAsChar")) {
            core->connection.Disconnect();
            core->connection = ConnectionHandle();
            AddDriverOptions(attributes, core->traits.kind);
            completed = Connect(*core, attributes, request.connect_timeout_seconds);
            LearnTraits(*core);
        }
        core->extended_properties = RemovePasswords(completed);
        if (core->traits.kind == DriverKind::kMariaDB || core->traits.kind == DriverKind::kPostgreSQL) {
            core->connect_string = JoinOdbcString(attributes);
            core->server_session_id = ServerSessionId(core->dbc(), core->traits.kind);
        }
        core->traits.cursor_fetch_rows = ServerCursorFetchRows(attributes, core->traits.kind);

        std::string catalog = cs.Get("Initial Catalog");
        if (!catalog.empty()) {
            std::u16string w = ToUtf16(catalog);
            core->Checked(SQLSetConnectAttrW(core->dbc(), SQL_ATTR_CURRENT_CATALOG, W(w),
                                             static_cast<SQLINTEGER>(w.size() * 2)),
                          SQL_HANDLE_DBC, core->dbc(), "SQLSetConnectAttr(SQL_ATTR_CURRENT_CATALOG)");
        }
        return std::make_unique<OdbcSession>(std::move(core));
    }
};

const bool kRegistered = [] {
    RegisterProvider("MSDASQL", [] { return MakeOdbcProvider(); });
    return true;
}();

}  // namespace

std::shared_ptr<Provider> MakeOdbcProvider() {
    static const auto provider = std::make_shared<OdbcProvider>();
    return provider;
}

// ---- SessionCore ---------------------------------------------------------------------------------------

SessionCore::~SessionCore() {
    // Closing inside a transaction drops its work, as the platform's Close does; the driver would refuse
    // SQLDisconnect otherwise (25000).
    if (connection.connected() && in_transaction) {
        SQLEndTran(SQL_HANDLE_DBC, connection.get(), SQL_ROLLBACK);
    }
}

bool SessionCore::Interrupt(SQLHSTMT stmt, Why why, std::atomic<bool>* flag) {
    std::lock_guard guard(calls_mutex);
    auto call = std::find_if(executing.begin(), executing.end(),
                             [&](const ExecutingCall& c) { return c.stmt == stmt; });
    if (call == executing.end()) return false;
    if (!call->interrupted) {
        call->interrupted = true;
        *flag = true;
        InterruptLocked(stmt, why);
    }
    return true;
}

void SessionCore::InterruptAll() {
    std::lock_guard guard(calls_mutex);
    for (ExecutingCall& c : executing) {
        if (c.interrupted) continue;
        c.interrupted = true;
        c.cancelled->store(true);
        InterruptLocked(c.stmt, Why::kCancel);
    }
}

void SessionCore::InterruptLocked(SQLHSTMT stmt, Why why) {
    // The drivers' SQLCancel closes the result of a statement that has just finished (psqlODBC, MariaDB
    // Connector/ODBC and the SQLite3 driver alike), and MariaDB's, on a statement still executing, unlocks a
    // mutex it never locked while the executing thread is inside the driver. The servers' own interrupts,
    // sent from a second connection, stop only what is still running: PostgreSQL ignores a cancel that
    // reaches an idle backend, MariaDB a KILL QUERY that reaches an idle connection.
    if (CancelsThroughDriver(why)) {
        SQLCancel(stmt);
        return;
    }
    const std::string text =
        (traits.kind == DriverKind::kMariaDB ? "KILL QUERY " : "SELECT pg_cancel_backend(") +
        std::to_string(server_session_id) + (traits.kind == DriverKind::kMariaDB ? "" : ")");
    // A second try on a new connection: the one kept may have died with a server restart.
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (!interrupter.connected()) interrupter = DriverConnect(env->get(), connect_string, 0);
            StatementHandle call = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, interrupter.get());
            std::string sql = text;
            if (Succeeded(SQLExecDirect(call.get(), N(sql), SQL_NTS))) return;
        } catch (const Error&) {
        }
        interrupter = ConnectionHandle();
    }
    // No second connection to be had: the call runs on to its end.
}

SQLRETURN SessionCore::Checked(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle,
                               std::string_view function) {
    switch (Ended(rc, function)) {
        case CallEnd::kDone:
            break;
        case CallEnd::kWithInfo:
            AddWarnings(ReadDiagnostics(handle_type, handle, traits.narrow_text));
            break;
        case CallEnd::kFailed:
            Fail(FailureRecords(rc, handle_type, handle, function, traits.narrow_text));
    }
    return rc;
}

void SessionCore::Fail(std::vector<Diagnostic> records, std::string_view sql) {
    NoteFailure(records);
    ProviderError error(std::move(records));
    if (!sql.empty()) error.WithSQL(std::string(sql));
    throw error;
}

void SessionCore::AddWarnings(std::vector<Diagnostic> records) {
    for (Diagnostic& d : records) {
        if (warnings.size() >= kMaxPendingWarnings) break;
        warnings.push_back(std::move(d));
    }
}

void SessionCore::NoteFailure(const std::vector<Diagnostic>& records) noexcept {
    for (const Diagnostic& d : records)
        if (IsConnectionLost(d.sql_state)) broken = true;
}

// ---- OdbcSession ---------------------------------------------------------------------------------------

std::unique_ptr<Statement> OdbcSession::Prepare(std::string_view text, const ExecuteOptions& options) {
    return std::make_unique<OdbcStatement>(core_, text, options);
}

void OdbcSession::BeginTransaction() {
    if (!core_->traits.transactions) {
        throw Error(ado::adErrFeatureNotAvailable, "ADODB.Connection",
                    "Object or provider is not able to perform requested operation.");
    }
    std::lock_guard lock(core_->lock);
    if (core_->in_transaction) {
        // ODBC has no nested transactions; the original bridge refused a second one (XACT_E_XTIONEXISTS).
        throw ProviderError({Diagnostic{Hr(0x8004D013), std::string(kErrorSource),
                                        "Only one transaction can be active on this session.", 0, ""}});
    }
    core_->Checked(
        SQLSetConnectAttrW(core_->dbc(), SQL_ATTR_AUTOCOMMIT,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_OFF)), 0),
        SQL_HANDLE_DBC, core_->dbc(), "SQLSetConnectAttr(SQL_ATTR_AUTOCOMMIT)");
    core_->in_transaction = true;
    core_->transaction_aborted = false;
}

namespace {

void EndTransaction(SessionCore& core, SQLSMALLINT completion) {
    std::lock_guard lock(core.lock);
    if (!core.in_transaction) {
        throw ProviderError(
            {Diagnostic{Hr(0x8004D00E), std::string(kErrorSource), "No transaction is active.", 0, ""}});
    }
    // PostgreSQL answers COMMIT in an aborted transaction with a ROLLBACK and no error.
    const bool lost = completion == SQL_COMMIT && core.transaction_aborted;
    if (lost) completion = SQL_ROLLBACK;
    // A driver that has found its link dead forgets the transaction and then answers a commit with
    // success (psqlODBC does): nothing reached the server, which rolled the transaction back.
    if (completion == SQL_COMMIT && core.broken) {
        core.in_transaction = false;
        core.Fail({Diagnostic{hr::E_FAIL, std::string(kErrorSource),
                              "The connection to the server was lost before the commit; the transaction was not "
                              "committed.",
                              0, "08003"}});
    }
    SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, core.dbc(), completion);
    if (!Succeeded(rc)) {
        // A failed commit keeps the transaction for a rollback; a failed rollback (a dropped link) has lost
        // the transaction anyway.
        if (completion == SQL_ROLLBACK) core.in_transaction = false;
        const std::string_view function =
            completion == SQL_COMMIT ? "SQLEndTran(SQL_COMMIT)" : "SQLEndTran(SQL_ROLLBACK)";
        std::vector<Diagnostic> records =
            FailureRecords(rc, SQL_HANDLE_DBC, core.dbc(), function, core.traits.narrow_text);
        const bool link_dropped = std::any_of(records.begin(), records.end(), [](const Diagnostic& d) {
            return IsConnectionLost(d.sql_state);
        });
        if (completion == SQL_COMMIT && link_dropped)
            records.insert(records.begin(), CommitOutcomeUnknown(kErrorSource, 0));
        core.Fail(std::move(records));
    }
    if (rc == SQL_SUCCESS_WITH_INFO) {
        core.AddWarnings(ReadDiagnostics(SQL_HANDLE_DBC, core.dbc(), core.traits.narrow_text));
    }
    core.in_transaction = false;
    core.transaction_aborted = false;
    core.Checked(SQLSetConnectAttrW(core.dbc(), SQL_ATTR_AUTOCOMMIT,
                                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON)), 0),
                 SQL_HANDLE_DBC, core.dbc(), "SQLSetConnectAttr(SQL_ATTR_AUTOCOMMIT)");
    if (lost) {
        // XACT_E_COMMITFAILED
        core.Fail({Diagnostic{Hr(0x8004D001), std::string(kErrorSource),
                              "The transaction could not be committed: the server had aborted it after a "
                              "failed fetch, and its work was rolled back.",
                              0, "25P02"}});
    }
}

}  // namespace

void OdbcSession::Commit() { EndTransaction(*core_, SQL_COMMIT); }
void OdbcSession::Rollback() { EndTransaction(*core_, SQL_ROLLBACK); }

bool OdbcSession::IsAlive() {
    SessionCore& core = *core_;
    if (core.broken) return false;
    // A call in progress on another thread is contact enough; waiting for it would stall the asker.
    std::unique_lock lock(core.lock, std::try_to_lock);
    if (!lock.owns_lock()) return true;
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (Succeeded(SQLGetConnectAttrW(core.dbc(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
        dead == SQL_CD_TRUE) {
        core.broken = true;
        return false;
    }
    // The host asks "Connection Status" before each query and reconnects when it reads 2; a server that
    // restarted while the session sat idle must show here, not only in the next query's failure. A
    // session that heard from the server a moment ago (several properties read in a row) is taken as
    // alive without another round trip.
    auto now = std::chrono::steady_clock::now();
    if (core.traits.passive_connection_dead && now - core.last_contact > std::chrono::milliseconds(100)) {
        try {
            StatementHandle ping = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, core.dbc());
            // SHOW is one round trip: psqlODBC would wrap a SELECT in a cursor of its own.
            std::u16string text = u"SHOW server_version";
            SQLRETURN rc = SQLExecDirectW(ping.get(), W(text), SQL_NTS);
            if (Succeeded(rc) || rc == SQL_NO_DATA) {
                core.last_contact = now;
            } else {
                core.NoteFailure(ReadDiagnostics(SQL_HANDLE_STMT, ping.get(), core.traits.narrow_text));
            }
        } catch (const Error&) {
            // No statement handle: the next real call will say what is wrong.
        }
    }
    return !core.broken;
}

void OdbcSession::Cancel() { core_->InterruptAll(); }

std::vector<Diagnostic> OdbcSession::TakeWarnings() {
    std::vector<Diagnostic> out;
    out.swap(core_->warnings);
    return out;
}

std::unique_ptr<Cursor> OdbcSession::Schema(std::int32_t schema, std::span<const Variant> restrictions) {
    std::lock_guard lock(core_->lock);
    return SchemaRowset(*core_, schema, restrictions);
}

Variant OdbcSession::GeneratedKey(const ColumnInfo& column) {
    SessionCore& core = *core_;
    if (!column.auto_increment) return Variant();
    // Each asks the session's own last insert, whatever other sessions inserted since.
    std::string sql;
    switch (core.traits.kind) {
        case DriverKind::kMariaDB:
            sql = "SELECT LAST_INSERT_ID()";
            break;
        case DriverKind::kSQLite:
            sql = "SELECT last_insert_rowid()";
            break;
        case DriverKind::kPostgreSQL: {
            // Serial and identity columns alike draw from a sequence; the table is parsed as a name (quoted,
            // so that its case stays), the column taken literally.
            if (column.base_table.empty() || column.base_column.empty()) return Variant();
            std::string table = Quoted(column.base_table, '"');
            if (!column.base_schema.empty()) table = Quoted(column.base_schema, '"') + "." + table;
            sql = "SELECT currval(pg_get_serial_sequence(" + Quoted(table, '\'') + ", " +
                  Quoted(column.base_column, '\'') + "))";
            break;
        }
        default:
            return Variant();
    }
    std::lock_guard lock(core.lock);
    StatementHandle st = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, core.dbc());
    std::u16string wide = ToUtf16(sql);
    core.Checked(core.traits.narrow_text ? SQLExecDirect(st.get(), N(sql), SQL_NTS)
                                         : SQLExecDirectW(st.get(), W(wide), SQL_NTS),
                 SQL_HANDLE_STMT, st.get(), "SQLExecDirect");
    SQLBIGINT key = 0;
    SQLLEN indicator = SQL_NULL_DATA;
    if (core.Checked(SQLFetch(st.get()), SQL_HANDLE_STMT, st.get(), "SQLFetch") == SQL_NO_DATA)
        return Variant();
    core.Checked(SQLGetData(st.get(), 1, SQL_C_SBIGINT, &key, sizeof key, &indicator), SQL_HANDLE_STMT,
                 st.get(), "SQLGetData");
    core.last_contact = std::chrono::steady_clock::now();
    // MariaDB and SQLite answer 0 when the session has inserted no numbered row yet; neither numbers a row 0.
    if (indicator == SQL_NULL_DATA || (core.traits.kind != DriverKind::kPostgreSQL && key == 0))
        return Variant();
    switch (column.type) {
        case ado::adSmallInt:
            return Variant(static_cast<std::int16_t>(key));
        case ado::adInteger:
            return Variant(static_cast<int>(key));
        default:
            return Variant(static_cast<long long>(key));
    }
}

std::string OdbcSession::QuoteIdentifier(std::string_view name) {
    const std::string& quote = core_->traits.identifier_quote;
    if (quote.size() != 1 || quote == " ") return std::string(name);
    return Quoted(name, quote[0]);
}

std::vector<PropertyValue> OdbcSession::InfoProperties() {
    std::lock_guard lock(core_->lock);
    SQLHDBC dbc = core_->dbc();
    const bool narrow = core_->traits.narrow_text;
    auto InfoText = [&](SQLHDBC h, SQLUSMALLINT info) { return odbc::InfoText(h, info, narrow); };
    std::vector<PropertyValue> p;
    p.push_back(Integer("Active Sessions", InfoNumber<SQLUSMALLINT>(dbc, SQL_MAX_DRIVER_CONNECTIONS)));
    p.push_back(Text("Catalog Term", InfoText(dbc, SQL_CATALOG_TERM)));
    p.push_back(Text("Current Catalog", CurrentCatalog(dbc, narrow), ado::adPropRead | ado::adPropWrite));
    p.push_back(Text("Data Source Name", InfoText(dbc, SQL_DATA_SOURCE_NAME)));
    p.push_back(PropertyValue{"Read-Only Data Source", ado::adBoolean, ado::adPropRead,
                              Variant(InfoText(dbc, SQL_DATA_SOURCE_READ_ONLY) == "Y")});
    p.push_back(Text("DBMS Name", InfoText(dbc, SQL_DBMS_NAME)));
    p.push_back(Text("DBMS Version", InfoText(dbc, SQL_DBMS_VER)));
    p.push_back(Integer("Identifier Case Sensitivity",
                        IdentifierCase(InfoNumber<SQLUSMALLINT>(dbc, SQL_IDENTIFIER_CASE))));
    p.push_back(Text("Provider Name", std::string(kProviderFile)));
    p.push_back(Text("OLE DB Version", std::string(kOleDbVersion)));
    p.push_back(Text("Provider Version", std::string(kProviderVersion)));
    p.push_back(Text("Schema Term", InfoText(dbc, SQL_SCHEMA_TERM)));
    p.push_back(Text("User Name", InfoText(dbc, SQL_USER_NAME)));
    p.push_back(Integer("Transaction DDL", TransactionDdl(InfoNumber<SQLUSMALLINT>(dbc, SQL_TXN_CAPABLE))));
    // ODBC has no information type for it: a driver with procedures returns output parameters once the
    // command's results are read (psqlODBC from a function's result, MariaDB from the procedure's last
    // result); one without procedures has none to return.
    p.push_back(Integer("Output Parameter Availability", core_->traits.procedures
                                                             ? ado::DBPROPVAL_OA_ATEXECUTE
                                                             : ado::DBPROPVAL_OA_NOTSUPPORTED));
    p.push_back(Integer("Multiple Results", InfoText(dbc, SQL_MULT_RESULT_SETS) == "Y" ? 1 : 0));
    p.push_back(Text("Provider Friendly Name", std::string(kErrorSource)));
    p.push_back(Integer("Connection Status", IsAlive() ? 1 : 2));
    p.push_back(Text("Server Name", InfoText(dbc, SQL_SERVER_NAME)));
    p.push_back(Text("Extended Properties", core_->extended_properties, ado::adPropRead | ado::adPropWrite));
    return p;
}

}  // namespace korado::dataaccess::odbc
