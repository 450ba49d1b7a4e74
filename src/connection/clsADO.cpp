#include "korado/connection/clsADO.h"

#include <algorithm>
#include <optional>

#include "connection/column_copy.h"
#include "connection/diagnoses.h"
#include "dataaccess/connection_string.h"
#include "korado/about/frmAbout.h"
#include "korado/connection/connect_diagnosis.h"
#include "korado/errors/clsADOError.h"
#include "korado/errors/clsErrorHandler.h"
#include "korado/dictionary/clsDictionary.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/parameters/clsSubstVariables.h"
#include "korado/platform/datalinks.h"
#include "korado/platform/modGlobals.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/runtime/registry.h"
#include "korado/runtime/strings.h"
#include "runtime/hot_path.h"

namespace korado {
namespace {

constexpr std::string_view kClass = "clsADO";

Site At(std::string_view routine) { return {kClass, routine}; }

Ref<ado::Connection> NewPlatformConnection() { return CreateObjectAs<ado::Connection>("ADODB.Connection"); }

constexpr std::string_view kWorkRolledBack =
    "The connection to the database was lost and has been re-established. The changes made since the last "
    "commit were rolled back by the server and have not been applied again.";

// "user/password@alias": the alias only when no DSN was given, the password only when none was given.
void SplitCombinedLogin(std::string& User, std::string& Pass, std::string& DSN) {
    if (std::size_t at = User.find('@'); at != std::string::npos && DSN.empty()) {
        DSN = User.substr(at + 1);
        User.resize(at);
    }
    if (std::size_t slash = User.find('/'); slash != std::string::npos && Pass.empty()) {
        Pass = User.substr(slash + 1);
        User.resize(slash);
    }
}

struct Cut {
    std::size_t begin, end;  // bytes
};

// The first text `key_is` ("PWD=") outside braced and quoted values, compared as the language's text
// comparison does, and how far the password it starts reaches: through the ";" that closes its entry. A
// braced or quoted value that no ";" closes, or that never closes itself, is cut to the end of the text,
// since whatever follows its "=" may be the password. An unquoted value in the last entry stays, as
// connection strings handed back have always kept it.
std::optional<Cut> PasswordEntry(std::string_view s, const std::string& key_is) {
    // The first match in bytes [from, to) of `s`.
    auto find = [&](std::size_t from, std::size_t to) -> std::optional<std::size_t> {
        const std::string_view part = s.substr(from, to - from);
        const std::size_t at = InStr(1, part, key_is, CompareMethod::Text);
        if (at == 0) return std::nullopt;
        return from + Left(part, at - 1).size();
    };
    for (const dataaccess::EntrySpan& e : dataaccess::SpanEntries(s)) {
        const bool quoted = e.quoted_end > e.quoted_begin;
        std::optional<std::size_t> at = find(e.begin, quoted ? e.quoted_begin : e.end);
        if (!at && quoted) at = find(e.quoted_end, e.end);
        if (!at) continue;
        const bool names_entry = *at < e.key_end;
        if (names_entry && e.unbalanced) return Cut{*at, s.size()};
        if (e.closed) return Cut{*at, e.end};
        if (names_entry && quoted) return Cut{*at, s.size()};
        return std::nullopt;
    }
    return std::nullopt;
}

// Every further entry of a password key whose value is braced or quoted, blanks around the key allowed as
// the syntax reads keys. Where values are unquoted, hosts have only ever got the first entry of each key
// removed and may rely on what stays; a braced or quoted password has no such history, and none of it may
// stay.
std::string WithoutDelimitedPasswords(std::string_view s) {
    std::string out;
    std::size_t kept_from = 0;
    for (const dataaccess::EntrySpan& e : dataaccess::SpanEntries(s)) {
        if (e.quoted_end == e.quoted_begin && !e.unbalanced) continue;
        const std::string_view key = dataaccess::EntryKey(s, e);
        if (!TextEquals(key, "Password") && !TextEquals(key, "PWD")) continue;
        out.append(s.substr(kept_from, e.begin - kept_from));
        // A value never closed runs on to the end of the text.
        kept_from = e.unbalanced ? s.size() : e.end;
        if (e.unbalanced) break;
    }
    out.append(s.substr(kept_from));
    return out;
}

std::string WithoutPasswords(std::string_view text, int depth = 0);

// "Extended Properties" holds a connection string of its own (the data source's, for the ODBC bridge),
// which may carry the password the host typed: its braced or quoted value is cleaned as a string of its
// own, its delimiters and everything else in it kept as written.
std::string WithoutNestedPasswords(std::string_view s, int depth) {
    std::string out;
    std::size_t kept_from = 0;
    for (const dataaccess::EntrySpan& e : dataaccess::SpanEntries(s)) {
        if (e.quoted_end - e.quoted_begin < 2) continue;
        if (!TextEquals(dataaccess::EntryKey(s, e), "Extended Properties")) continue;
        const std::size_t inner = e.quoted_begin + 1;
        const std::size_t inner_end = e.quoted_end - 1;
        out.append(s.substr(kept_from, inner - kept_from));
        out.append(WithoutPasswords(s.substr(inner, inner_end - inner), depth + 1));
        kept_from = inner_end;
    }
    out.append(s.substr(kept_from));
    return out;
}

std::string WithoutPasswords(std::string_view text, int depth) {
    std::string s(text);
    for (std::string_view key : {"Password", "PWD"}) {
        if (std::optional<Cut> cut = PasswordEntry(s, std::string(key) + "="))
            s.erase(cut->begin, cut->end - cut->begin);
    }
    s = WithoutDelimitedPasswords(s);
    // Two levels are all a connection string nests; a deeper one is left as it is rather than recursed.
    return depth < 2 ? WithoutNestedPasswords(s, depth) : s;
}

// A path shows as its last part followed by the whole path: "sales.mdb (C:\data\sales.mdb)", or for a
// folder ending in a separator, "data (C:\data\)". Both separators count: Windows paths come from
// Windows data sources reached through ODBC, "/" paths from files on this system.
std::string ShortenPath(const std::string& dsn) {
    std::size_t p = dsn.find_last_of("\\/");
    if (p == std::string::npos) return dsn;
    std::string short_name;
    if (p + 1 < dsn.size()) {
        short_name = dsn.substr(p + 1);
    } else {
        std::size_t q = p == 0 ? std::string::npos : dsn.find_last_of("\\/", p - 1);
        short_name = q == std::string::npos ? dsn.substr(0, p) : dsn.substr(q + 1, p - q - 1);
    }
    return short_name + " (" + dsn + ")";
}

}  // namespace

// ---- lifecycle -----------------------------------------------------------------------------------------------

clsADO::clsADO() {
    Try(At("Class_Initialize"), [&] {
        g_CurrentConnection = Ref<clsADO>(this);
        g_ADOError = MakeRef<clsADOError>();
        g_ADOError->Constructor(Ref<Dispatch>(this));
        m_Dictionary = MakeRef<clsDictionary>();
        m_Dictionary->Constructor(Ref<clsADO>(this));
        m_AllowTransactions = true;
        m_User.clear();
        m_Password.clear();
        m_ExtendedProperties.clear();
    });
}

clsADO::~clsADO() { Destructor(); }

ado::Connection& clsADO::Conn() {
    if (!m_Connection) RaiseRuntime(rt::ObjectNotSet);
    return *m_Connection;
}

void clsADO::Constructor(const Ref<Dispatch>& Tabulon_SQLPlus, bool AllowTransactions, std::int32_t TimeOut,
                         std::int32_t DefaultParamMode, std::int32_t DefaultParamDataType,
                         std::int32_t DefaultPageSize, std::int32_t DefaultLargePageSize) {
    TryWith(
        [&] {
            m_Connection = NewPlatformConnection();
            g_HostObject = Tabulon_SQLPlus;
            m_AllowTransactions = AllowTransactions;
            m_TimeOut = TimeOut;
            m_DefaultParamMode = DefaultParamMode;
            m_DefaultParamDataType = DefaultParamDataType;
            m_DefaultPageSize = DefaultPageSize;
            m_DefaultLargePageSize = DefaultLargePageSize;
        },
        [&](const Error& e) {
            if (e.Number() == hr::ERROR_PROC_NOT_FOUND) {
                Raise(NewADOConnectionError,
                      "Could not make a new ADO connection. Please check the MDAC installation. The problem could "
                      "also occur if there is no available memory anymore.");
            }
            HandleError(kClass, "Constructor");
        });
}

bool clsADO::Connect(std::string& User, std::string& Pass, std::string& DSN, Variant& ADOConnectionString) {
    bool result = false;
    TryPassOwn(At("Connect"), [&] {
        if (m_Connect(User, Pass, DSN, ADOConnectionString)) {
            m_User = User;
            m_Password = Pass;
            m_ExtendedProperties = ConnectionProperty("Extended Properties");
            result = true;
        } else {
            m_User.clear();
            m_Password.clear();
            m_ExtendedProperties.clear();
        }
    });
    return result;
}

bool clsADO::m_Connect(std::string& User, std::string& Pass, std::string& DSN, Variant& ADOConnectionString) {
    bool result = false;
    TryPassOwn(At("m_Connect"), [&] {
        m_SpareCommand = nullptr;
        Ref<ado::DataLinks> links;
        TryWith([&] { links = CreateObjectAs<ado::DataLinks>("DataLinks"); },
                [](const Error&) { Raise(MDACProblem, "Unable to use MDAC. Try reinstalling or upgrading MDAC from Microsoft."); });

        SplitCombinedLogin(User, Pass, DSN);

        if (!ADOConnectionString.IsNull() && !Equals(ADOConnectionString, Variant(std::string()))) {
            m_Connection = nullptr;
            TryWith([&] { m_Connection = NewPlatformConnection(); },
                    [](const Error& e) {
                        if (e.Number() != rt::CannotCreateObject) throw e;
                        Raise(ADODBError,
                              "Could not use ADO. Possible corruption or misconfiguration of MS MDAC. Please obtain "
                              "the latest version at " +
                                  std::string(diagnoses::DriverDownloadLocation()));
                    });
            m_Connection->SetConnectionString(CStr(ADOConnectionString));
            TryWith([&] { m_Connection->Open("", User.empty() ? "" : User, Pass, ado::adOptionUnspecified); },
                    [&](const Error& e) { Raise(ConnectionError, ConnectFailureDiagnosis(e, *m_Connection)); });
        } else {
            m_Connection = links->PromptNew();
            if (!m_Connection) return;
            std::string chosen = m_Connection->ConnectionString();
            if (chosen.empty()) return;
            ADOConnectionString = chosen;
        }

        bool opened = m_Connection && m_Connection->State() == ado::adStateOpen;

        auto property_text = [&](const char* name, std::string& out) {
            TryIgnore([&] { out = CStr(m_Connection->Properties()->Item(name)->Value()); });
        };
        property_text("User Id", User);
        if (User.empty()) property_text("User Name", User);

        property_text("Current Catalog", DSN);
        if (DSN.empty()) property_text("Data Source", DSN);
        if (DSN.empty()) property_text("Data Source Name", DSN);
        if (DSN.empty()) {
            std::string extended;
            property_text("Extended Properties", extended);
            if (std::size_t dbq = extended.find("DBQ="); dbq != std::string::npos) {
                DSN = extended.substr(dbq + 4);
                if (std::size_t semi = DSN.find(';'); semi != std::string::npos) DSN.resize(semi);
            }
        }
        DSN = ShortenPath(DSN);

        ADOConnectionString = m_RemovePassword(CStr(ADOConnectionString));

        if (opened) {
            BeginTransaction();
            m_BindVariables = MakeRef<clsBindVariables>();
            m_BindVariables->Constructor(Ref<clsADO>(this));
            m_SubstVariables = MakeRef<clsSubstVariables>();
            m_SubstVariables->Constructor(Ref<clsADO>(this));
        }
        result = opened;
    });
    return result;
}

std::string clsADO::m_RemovePassword(const std::string& ConnectionString) {
    std::string s;
    Try(At("m_RemovePassword"), [&] { s = WithoutPasswords(ConnectionString); });
    return s;
}

void clsADO::Reconnect() {
    // Work that this commit cannot save went with the server's session.
    const bool had_work = m_Connection && m_Connection->HasUncommittedWork();
    const bool committed = TryIgnore([&] { Conn().CommitTrans(); });
    const bool work_lost = had_work && !committed;
    TryIgnore([&] { Conn().Cancel(); });
    TryIgnore([&] { Conn().Close(); });
    Try(At("Reconnect"), [&] {
        Conn().Open("", m_User, m_Password, ado::adOptionUnspecified);
        if (work_lost && g_ADOError) g_ADOError->Exception(std::string(kWorkRolledBack), GeneralException);
    });
    TryIgnore([&] { Conn().BeginTrans(); });
}

void clsADO::Disconnect() {
    std::string dbms;
    TryWith(
        [&] {
            m_SpareCommand = nullptr;
            dbms = DBMSName();
            if (m_Connection && m_Connection->State() != ado::adStateClosed) m_Connection->Close();
            m_Connection = nullptr;
            m_User.clear();
            m_Password.clear();
        },
        [&](const Error& e) {
            if (e.Source() == "ADODB.Connection" && e.Number() == ado::adErrInTransaction) {
                // MySQL refuses to close inside a transaction yet closes with the session; Jet's refusal is real.
                if (dbms == "MySQL") return;
                if (dbms == "MS Jet") Raise(DisconnectProblem, e.Description());
            }
            HandleError(kClass, "Disconnect");
        });
}

KORADO_HOT bool clsADO::IsConnected() {
    bool result = false;
    Try(At("IsConnected"), [&]() KORADO_HOT {
        // Asked before every statement: a live link is taken at its word, and only a dropped one is
        // re-established and looked at again.
        if (m_IsConnected(m_Connection)) {
            result = true;
            return;
        }
        Reconnect();
        result = m_IsConnected(m_Connection);
    });
    return result;
}

KORADO_HOT bool clsADO::m_IsConnected(const Ref<ado::Connection>& conn) {
    bool result = false;
    Try(At("m_IsConnected"), [&]() KORADO_HOT {
        if (!conn || conn->State() != ado::adStateOpen) return;
        // Asked twice before every statement: the name is built once.
        static const Variant kStatus("Connection Status");
        Ref<ado::Property> status;
        TryIgnore([&]() KORADO_HOT { status = conn->Properties()->FindItem(kStatus); });
        if (!status) {
            result = true;
            return;
        }
        // Providers report the status as a Long; any other kind takes the general comparison.
        const Variant value = status->Value();
        const auto* code = value.get_if<std::int32_t>();
        result = code ? *code == 1 : Equals(value, Variant(1));
    });
    return result;
}

void clsADO::Destructor() {
    Try(At("Destructor"), [&] {
        m_SpareCommand = nullptr;
        m_Connection = nullptr;
        m_BindVariables = nullptr;
        m_Dictionary = nullptr;
        m_SubstVariables = nullptr;
    });
}

// ---- simple properties --------------------------------------------------------------------------------------

bool clsADO::AllowTransactions() { return m_AllowTransactions; }

void clsADO::SetAllowTransactions(bool value) {
    TryPassOwn(At("Let AllowTransactions"), [&] {
        // Both calls test the stored flag before the new value is stored.
        if (value) {
            BeginTransaction();
        } else {
            CommitTransaction();
        }
        m_AllowTransactions = value;
    });
}

bool clsADO::DisplayAlerts() {
    bool result = false;
    Try(At("Get DisplayAlerts"), [&] {
        if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
        result = g_ADOError->DisplayAlerts();
    });
    return result;
}

void clsADO::SetDisplayAlerts(bool value) {
    Try(At("Let DisplayAlerts"), [&] {
        if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
        g_ADOError->SetDisplayAlerts(value);
    });
}

std::int32_t clsADO::DefaultParameterMode() { return m_DefaultParamMode; }
std::int32_t clsADO::DefaultParameterDataType() { return m_DefaultParamDataType; }
Ref<clsBindVariables> clsADO::BindVariables() { return m_BindVariables; }
Ref<clsSubstVariables> clsADO::SubstVariables() { return m_SubstVariables; }
Ref<ado::Connection> clsADO::Connection() { return m_Connection; }
Ref<clsDictionary> clsADO::Dictionary() { return m_Dictionary; }

void clsADO::About() {
    Try(At("About"), [&] {
        const Ref<about::frmAbout> form = about::AboutForm();
        form->Constructor(m_Connection);
        form->Show();
    });
}

// ---- SQL execution -------------------------------------------------------------------------------------------

KORADO_HOT void clsADO::ExecuteSQL(std::string& SQL, Ref<Collection>& ParamNames,
                                   std::int32_t& RecordsAffected, Ref<ado::Recordset>& ADORecordset) {
    TryPassOwn(At("ExecuteSQL"), [&]() KORADO_HOT {
        std::int32_t parameters = ParamNames ? ParamNames->Count() : 0;
        if (!IsConnected()) Raise(NoDBConnection, "No live database connection");

        // Hosts run one statement over and over: the command the last one ran in is bound again where it
        // holds just what binding this text and these names would give it; otherwise a new one is made.
        Ref<ado::Command> command = std::move(m_SpareCommand);
        if (command && command->ActiveConnection() == m_Connection && m_BindVariables &&
            m_BindVariables->BindInPlace(*command, ParamNames, SQL)) {
            command->SetCommandTimeout(m_TimeOut);
        } else {
            command = CreateObjectAs<ado::Command>("ADODB.Command");
            command->SetCommandType(ado::adCmdText);
            command->SetCommandTimeout(m_TimeOut);
            command->SetActiveConnection(m_Connection);
            if (!m_BindVariables) RaiseRuntime(rt::ObjectNotSet, "BindVariables");
            m_BindVariables->AddParametersToCommand(command, ParamNames, SQL);
        }
        command->SetCommandText(SQL);

        Variant affected;
        Ref<ado::Recordset> recordset;
        bool reported = false;
        TryWith([&] { recordset = command->Execute(&affected, Variant::Missing(), ado::adOptionUnspecified); },
                [&](const Error& e) {
                    diagnoses::Failure f{e.Source(), e.Number(), e.Description(), e.NativeError()};
                    auto outcome = diagnoses::ExecuteFailure(f, parameters, SQL, m_ExtendedProperties);
                    if (outcome.kind == diagnoses::ExecuteOutcome::Raise) Raise(outcome.code, outcome.text);
                    if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
                    g_ADOError->Exception(outcome.text, outcome.exception_type);
                    reported = true;
                });
        if (reported) return;

        m_BindVariables->PopulateOutputParameters(command, ParamNames);
        RecordsAffected = affected.IsEmpty() || affected.IsMissing() ? 0 : CLng(affected);
        if (recordset && recordset->Fields()->Count() >= 1) {
            ADORecordset = recordset;
        } else {
            ADORecordset = nullptr;
        }
        recordset = nullptr;
        if (!ADORecordset && command->RefCount() == 1) m_SpareCommand = std::move(command);
    });
}

// ---- result sets ---------------------------------------------------------------------------------------------

namespace {

// MSDAORA lists no marker for a procedure's result set: the call's first "?" goes, and with it a comma
// (and the blanks) before it. A "?" that opens the text stays.
void RemoveResultSetMarker(std::string& SQL) {
    const std::size_t p = SQL.find('?');
    if (p == std::string::npos || p == 0) return;
    const std::size_t i = SQL.find_last_not_of(' ', p - 1);
    if (i == std::string::npos) return;
    SQL.erase(SQL[i] == ',' ? i : p, SQL[i] == ',' ? p + 1 - i : 1);
}

}  // namespace

Ref<clsDynasetADO> clsADO::CreateDynaset(std::string& SQL, Ref<Collection>& BindVariables,
                                         bool& IsLargeRecordset) {
    Ref<clsDynasetADO> result;
    TryPassOwn(At("CreateDynaset"), [&] {
        const std::int32_t page_size = IsLargeRecordset ? m_DefaultLargePageSize : m_DefaultPageSize;
        Ref<clsDynasetADO> dynaset = MakeRef<clsDynasetADO>();
        dynaset->Constructor(SQL, Ref<clsADO>(this), BindVariables, IsLargeRecordset, m_TimeOut, page_size);
        if (dynaset->Error() != 1) result = std::move(dynaset);
    });
    return result;
}

Ref<clsDynasetADO> clsADO::CreateDynasetFromProc(std::string& SQL, Ref<Collection>& BindVariables,
                                                 bool& IsLargeRecordset) {
    Ref<clsDynasetADO> result;
    TryPassOwn(At("CreateDynasetFromProc"), [&] {
        if (ContainsText(Provider(), "MSDAORA")) RemoveResultSetMarker(SQL);
        Ref<clsDynasetADO> dynaset = MakeRef<clsDynasetADO>();
        dynaset->Constructor1(SQL, Ref<clsADO>(this), BindVariables, IsLargeRecordset, m_TimeOut);
        if (dynaset->Error() != 1) result = std::move(dynaset);
    });
    return result;
}

Ref<ado::Error> clsADO::Errors(const Variant& Index) {
    Ref<ado::Error> result;
    Try(At("Errors"), [&] { result = Conn().Errors()->Item(Index); });
    return result;
}

void clsADO::ClearErrors() {
    Try(At("ClearErrors"), [&] { Conn().Errors()->Clear(); });
}

std::int32_t clsADO::LastServerErr() {
    std::int32_t result = 0;
    Try(At("Get LastServerErr"), [&] {
        if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
        result = g_ADOError->LastErr();
    });
    return result;
}

std::int32_t clsADO::LastServerErrPos() {
    std::int32_t result = 0;
    Try(At("Get LastServerErrPos"), [&] {
        if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
        result = g_ADOError->SQLErrPosition();
    });
    return result;
}

std::string clsADO::LastServerErrText() {
    std::string result;
    Try(At("Get LastServerErrText"), [&] {
        if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
        result = g_ADOError->LastErrText();
    });
    return result;
}

void clsADO::LastServerErrReset() {
    Try(At("LastServerErrReset"), [&] {
        if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
        g_ADOError->Reset();
    });
}

// ---- database and table creation ---------------------------------------------------------------------------

namespace {

constexpr std::string_view kJet = "Microsoft JET Database Engine";
// The platform's array flag as a column type: such a column is not made nullable.
constexpr std::int32_t kArrayType = 8192;

// The providers whose refusal to append a table is the driver's word on the table (a bad name, type,
// precision or scale, a table that exists or is in use) rather than a fault of the library.
bool IsTableRefusal(const Error& e) {
    static constexpr std::string_view kSources[] = {"Microsoft Access Database Engine", kJet, "OraOLEDB",
                                                    "Microsoft OLE DB Provider for SQL Server"};
    static constexpr std::int32_t kNumbers[] = {
        hr::E_FAIL,       hr::DB_E_BADPRECISION,     hr::DB_E_BADSCALE,
        hr::DB_E_BADTYPE, hr::DB_E_DUPLICATETABLEID, hr::DB_E_TABLEINUSE};
    return std::ranges::find(kSources, e.Source()) != std::end(kSources) &&
           std::ranges::find(kNumbers, e.Number()) != std::end(kNumbers);
}

Variant AsObject(const Ref<Dispatch>& object) { return Variant(object); }

}  // namespace

Variant clsADO::Create(std::string& ConnectionString) {
    TryWith(
        [&] {
            Ref<adox::Catalog> catalog = CreateObjectAs<adox::Catalog>("ADOX.Catalog");
            catalog->Create(ConnectionString);
            m_Connection = catalog->ActiveConnection();
            // The last statement's command still holds the connection that was replaced.
            m_SpareCommand = nullptr;
        },
        [&](const Error& e) {
            const bool own_range = !IsForeignError(e.Number());
            if (own_range && e.Source() == kJet && e.Number() == hr::DB_E_DUPLICATEDATASOURCE)
                Raise(DatabaseAlreadyExists, "Database already exists.");
            if (own_range && e.Source() == "Microsoft OLE DB Service Components" &&
                e.Number() == hr::REGDB_E_CLASSNOTREG)
                Raise(ProviderNotInstalled, "Provder is not registered (installed)");
            if (!own_range && e.Source() == kJet && e.Number() == hr::E_FAIL)
                Raise(NotSupportedByProvider, "Create database is not supported by the Provider.");
            HandleError(kClass, "Create");
        });
    return Variant();
}

void clsADO::CreateTableFromRecordset(const std::string& TableName,
                                      const Ref<ado::Recordset>& ADODBRecordset) {
    bool appending = false;
    TryWith(
        [&] {
            const std::string provider = Provider();
            if (provider == "MSDASQL" || provider == "MSDAORA")
                Raise(NotImplementedByProvider, "Method unavailable for this provider");

            Ref<adox::Catalog> catalog = CreateObjectAs<adox::Catalog>("ADOX.Catalog");
            catalog->SetActiveConnection(m_Connection);
            Ref<adox::Table> table = CreateObjectAs<adox::Table>("ADOX.Table");
            table->SetName(TableName);
            table->SetParentCatalog(catalog);

            if (!ADODBRecordset) RaiseRuntime(rt::ObjectNotSet);
            Ref<ado::Fields> fields = ADODBRecordset->Fields();
            const std::int32_t count = fields->Count();
            for (std::int32_t i = 0; i < count; ++i) {
                Ref<adox::Column> column = m_CopyField(fields->Item(Variant(i)));
                table->Columns()->Append(AsObject(column));
                m_SetFieldProperties(table->Columns()->Item(Variant(column->Name())));
            }

            appending = true;
            catalog->Tables()->Append(AsObject(table));
        },
        [&](const Error& e) {
            if (appending) {
                if (IsTableRefusal(e))
                    Raise(AppendTableError, "Unable to add a new table. Driver error: " + e.Description());
                if (e.Source() == "ADOX.Tables" && e.Number() == ado::adErrFeatureNotAvailable)
                    Raise(AppendTableError,
                          "Unable to add the new table to the database.\r\n\r\nProvider error: " +
                              e.Description());
                return HandleError(kClass, "CreateTableFromRecordset");
            }
            if (IsForeignError(e.Number()) && e.Source() == "ADOX.Table" &&
                e.Number() == ado::adErrInvalidArgument)
                Raise(CreateTableError,
                      "Could not create table " + TableName + ".\r\n\r\nDriver error: " + e.Description());
            PassOwnOrHandle(At("CreateTableFromRecordset"), e);
        });
}

Ref<adox::Column> clsADO::m_CopyField(const Ref<ado::Field>& Field) {
    Ref<adox::Column> result;
    Ref<adox::Column> column;
    TryWith(
        [&] {
            if (!Field) RaiseRuntime(rt::ObjectNotSet);
            const std::string name = column_copy::ColumnName(Field->Name());
            column = CreateObjectAs<adox::Column>("ADOX.Column");
            column->SetName(name);

            const column_copy::FieldDefinition field{Field->Type(), Field->DefinedSize(), Field->Precision(),
                                                     Field->NumericScale()};
            // The provider is asked only for a type whose column differs between providers.
            const column_copy::Target target = column_copy::DependsOnTarget(field.type)
                                                   ? column_copy::TargetOf(Provider())
                                                   : column_copy::Target::kOther;
            column_copy::Apply(field, target, *column);
            result = column;
        },
        [&](const Error& e) {
            if (column && IsForeignError(e.Number()) && e.Source() == "ADOX.Column" &&
                e.Number() == ado::adErrInvalidArgument)
                Raise(NewColumnError, e.Description() + "\r\n" + column_copy::Settings(*column));
            HandleError(kClass, "m_CopyField");
        });
    return result;
}

void clsADO::m_SetFieldProperties(const Ref<adox::Column>& Column) {
    Try(At("m_SetFieldProperties"), [&] {
        if (!Column) RaiseRuntime(rt::ObjectNotSet);
        Ref<ado::Property> nullable;
        TryIgnore([&] { nullable = Column->Properties()->Item(Variant("Nullable")); });
        if (nullable && Column->Type() != kArrayType) nullable->SetValue(Variant(true));
        if (Provider() == "Microsoft.Jet.OLEDB.4")
            Column->Properties()->Item(Variant("Jet OLEDB:Allow Zero Length"))->SetValue(Variant(true));
    });
}

// ---- transactions and capabilities -----------------------------------------------------------------------------

bool clsADO::AreTransactionsAvailable() {
    bool result = false;
    Try(At("AreTransactionsAvailable"), [&] {
        if (m_TransactionsAvailable.IsEmpty()) {
            if (!m_Connection) {
                m_TransactionsAvailable = false;
            } else {
                Variant ddl = m_Connection->Properties()->Item("Transaction DDL")->Value();
                m_TransactionsAvailable = CLng(ddl) >= 1;
            }
        }
        result = CBool(m_TransactionsAvailable);
    });
    return result;
}

void clsADO::BeginTransaction() {
    TryWith(
        [&] {
            if (m_AllowTransactions && AreTransactionsAvailable()) Conn().BeginTrans();
        },
        [&](const Error& e) {
            // A provider without transactions says so once; no transaction is attempted again.
            if (e.Source() == "ADODB.Connection" && e.Number() == ado::adErrFeatureNotAvailable) {
                m_TransactionsAvailable = false;
                return;
            }
            HandleError(kClass, "BeginTransaction");
        });
}

void clsADO::CommitTransaction() {
    bool committing = false;
    TryWith(
        [&] {
            if (m_AllowTransactions && AreTransactionsAvailable() && m_Connection &&
                m_Connection->State() == ado::adStateOpen) {
                committing = true;
                m_Connection->CommitTrans();
            }
        },
        [&](const Error& e) {
            if (!committing) return HandleError(kClass, "CommitTransaction");
            if (ContainsText(e.Description(), "MySQL") && e.Number() == Hr(0x80040005))
                Raise(NoDBConnection, "Lost the connection to the database. Please login to the database.");
            Raise(CommitError, std::to_string(e.Number()) + ":" + e.Description());
        });
}

void clsADO::Commit() {
    TryPassOwn(At("Commit"), [&] {
        if (AreTransactionsAvailable() && m_IsConnected(m_Connection)) {
            CommitTransaction();
            BeginTransaction();
        }
    });
}

void clsADO::RollbackTransaction() {
    Try(At("RollbackTransaction"), [&] {
        if (m_AllowTransactions) Conn().RollbackTrans();
    });
}

void clsADO::Rollback() {
    Try(At("Rollback"), [&] {
        if (AreTransactionsAvailable()) {
            RollbackTransaction();
            BeginTransaction();
        }
    });
}

bool clsADO::Supports(const std::string& Property) {
    bool result = false;
    Try(At("Supports"), [&] {
        if (Property == "Transactions") {
            result = m_AllowTransactions && AreTransactionsAvailable();
        } else if (Property == "Write Access") {
            Ref<ado::Property> read_only;
            TryIgnore([&] { read_only = Conn().Properties()->Item("Read-Only Data Source"); });
            result = !read_only || !CBool(read_only->Value());
        } else {
            result = true;
        }
    });
    return result;
}

// ---- introspection ---------------------------------------------------------------------------------------------

Ref<ado::Property> clsADO::m_GetProperty(const std::string& Name) {
    Ref<ado::Property> result;
    Try(At("m_GetProperty"), [&] { TryIgnore([&] { result = Conn().Properties()->Item(Name); }); });
    return result;
}

std::string clsADO::Provider() {
    std::string p;
    Try(At("Get Provider"), [&] {
        if (!m_Connection) return;
        p = m_Connection->Provider();
        // Only one version suffix goes: "Microsoft.Jet.OLEDB.4.0" becomes "Microsoft.Jet.OLEDB.4".
        std::size_t dot = p.rfind('.');
        if (dot != std::string::npos && IsNumeric(Variant(p.substr(dot + 1)))) p.resize(dot);
    });
    return p;
}

std::string clsADO::ConnectionProperty(const std::string& Name) {
    std::string result;
    Try(At("Get ConnectionProperty"),
        [&] { TryIgnore([&] { result = CStr(Conn().Properties()->Item(Name)->Value()); }); });
    return result;
}

std::string clsADO::DBMSName() {
    std::string result;
    Try(At("Get DBMSName"), [&] {
        if (Ref<ado::Property> p = m_GetProperty("DBMS Name")) result = CStr(p->Value());
    });
    return result;
}

std::string clsADO::CurrentCatalog() {
    std::string result;
    Try(At("CurrentCatalog"), [&] {
        if (Ref<ado::Property> p = m_GetProperty("Current Catalog")) result = CStr(p->Value());
    });
    return result;
}

std::string clsADO::ServerName() {
    std::string result;
    Try(At("Get ServerName"),
        [&] { TryIgnore([&] { result = CStr(Conn().Properties()->Item("Server Name")->Value()); }); });
    return result;
}

std::string clsADO::SchemaTerm() {
    std::string result;
    Try(At("Get SchemaTerm"), [&] {
        if (Ref<ado::Property> p = m_GetProperty("Schema Term")) result = CStr(p->Value());
        // Some providers cut the term to four letters.
        if (TextEquals(result, "owne")) result = "Owner";
    });
    return result;
}

std::string clsADO::Version() {
    std::string result;
    Try(At("Version"), [&] { result = Conn().Version(); });
    return result;
}

// ---- late binding --------------------------------------------------------------------------------------------------

const MemberTable* clsADO::Members() const noexcept {
    static const MemberTable t =
        MemberTable::Of<clsADO>()
            .Method<&clsADO::About>("About")
            .Get<&clsADO::AllowTransactions>("AllowTransactions")
            .Let<&clsADO::SetAllowTransactions>("AllowTransactions")
            .Method<&clsADO::AreTransactionsAvailable>("AreTransactionsAvailable")
            .Method<&clsADO::BeginTransaction>("BeginTransaction")
            .Get<&clsADO::BindVariables>("BindVariables")
            .Method<&clsADO::ClearErrors>("ClearErrors")
            .Method<&clsADO::Commit>("Commit")
            .Method<&clsADO::CommitTransaction>("CommitTransaction")
            .Method<&clsADO::Create>("Create")
            .Method<&clsADO::CreateDynaset>("CreateDynaset")
            .Method<&clsADO::CreateDynasetFromProc>("CreateDynasetFromProc")
            .Method<&clsADO::CreateTableFromRecordset>("CreateTableFromRecordset")
            .Method<&clsADO::Connect>("Connect")
            .Get<&clsADO::Connection>("Connection")
            .Method<&clsADO::Constructor>("Constructor")
            .Method<&clsADO::CurrentCatalog>("CurrentCatalog")
            .Get<&clsADO::DBMSName>("DBMSName")
            .Get<&clsADO::DefaultParameterMode>("DefaultParameterMode")
            .Get<&clsADO::DefaultParameterDataType>("DefaultParameterDataType")
            .Get<&clsADO::Dictionary>("Dictionary")
            .Method<&clsADO::Destructor>("Destructor")
            .Method<&clsADO::Disconnect>("Disconnect")
            .Get<&clsADO::DisplayAlerts>("DisplayAlerts")
            .Let<&clsADO::SetDisplayAlerts>("DisplayAlerts")
            .Method<&clsADO::Errors>("Errors")
            .Method<&clsADO::ExecuteSQL>("ExecuteSQL")
            .Get<&clsADO::LastServerErr>("LastServerErr")
            .Get<&clsADO::LastServerErrPos>("LastServerErrPos")
            .Method<&clsADO::LastServerErrReset>("LastServerErrReset")
            .Get<&clsADO::LastServerErrText>("LastServerErrText")
            .Get<&clsADO::Provider>("Provider")
            .Get<&clsADO::ConnectionProperty>("ConnectionProperty")
            .Method<&clsADO::Reconnect>("Reconnect")
            .Method<&clsADO::Rollback>("Rollback")
            .Method<&clsADO::RollbackTransaction>("RollbackTransaction")
            .Get<&clsADO::SchemaTerm>("SchemaTerm")
            .Get<&clsADO::ServerName>("ServerName")
            .Get<&clsADO::SubstVariables>("SubstVariables")
            .Method<&clsADO::Supports>("Supports")
            .Get<&clsADO::Version>("Version")
            .Method<&clsADO::IsConnected>("IsConnected")
            .Build();
    return &t;
}

}  // namespace korado
