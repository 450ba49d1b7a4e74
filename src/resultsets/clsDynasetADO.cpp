#include "korado/resultsets/clsDynasetADO.h"

#include <optional>

#include "korado/connection/clsADO.h"
#include "korado/errors/clsADOError.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/platform/modGlobals.h"
#include "korado/platform/services.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/registry.h"
#include "korado/runtime/strings.h"
#include "resultsets/host_breaks.h"
#include "resultsets/open_diagnoses.h"
#include "resultsets/update_advice.h"

namespace korado {
namespace {

constexpr std::string_view kClass = "clsDynasetADO";
constexpr std::string_view kTitle = "Tabulon Universal";

Site At(std::string_view routine) { return {kClass, routine}; }

// OraOLEDB hands a procedure's ref cursor back without a marker for it: the call's first "?" goes, with
// the comma or the empty parentheses it leaves behind.
std::string WithoutRefCursorMarker(const std::string& call) {
    const std::size_t q = call.find('?');
    if (q == std::string::npos) return call;
    const std::string before = Trim(call.substr(0, q));
    const std::string after = Trim(call.substr(q + 1));
    if (after.empty() || before.empty()) return call;
    const char last = before.back();
    const char next = after.front();
    if (last == '(' && next == ',') return before + after.substr(1);
    if (last == '(' && next == ')') return before.substr(0, before.size() - 1) + after.substr(1);
    if (last == ',' && (next == ')' || next == ',')) return before.substr(0, before.size() - 1) + after;
    return call;
}

}  // namespace

clsDynasetADO::clsDynasetADO() {
    Try(At("Class_Initialise"), [&] { m_Command = CreateObjectAs<ado::Command>("ADODB.Command"); });
}

clsDynasetADO::~clsDynasetADO() { Destructor(); }

// ---- opening ----------------------------------------------------------------------------------------------

void clsDynasetADO::Constructor(std::string& SQL, const Ref<clsADO>& Connection,
                                Ref<Collection>& BindVariables, bool IsLargeRecordset, std::int32_t TimeOut,
                                std::int32_t PageSize) {
    TryPassOwn(At("Constructor"), [&] {
        m_Source = DynasetSourceDatabase;
        if (!Connection) RaiseRuntime(rt::ObjectNotSet);
        if (!Connection->IsConnected())
            Raise(NoDBConnection, "Not connected to a database. Please connect to a database first.");
        m_SQL = SQL;
        m_ADO = Connection;
        m_ResetHostBreaks();

        m_NewRecordset(IsLargeRecordset);

        if (!m_Command) RaiseRuntime(rt::ObjectNotSet);
        m_Command->SetCommandType(ado::adCmdText);
        m_Command->SetCommandTimeout(TimeOut);
        m_Command->SetActiveConnection(Connection->Connection());
        if (!g_CurrentConnection || !g_CurrentConnection->BindVariables()) RaiseRuntime(rt::ObjectNotSet);
        g_CurrentConnection->BindVariables()->AddParametersToCommand(m_Command, BindVariables, SQL,
                                                                     Variant(true));
        m_Command->SetCommandText(SQL);

        TryIgnore([&] { m_Recordset->SetCacheSize(100); });
        m_Recordset->SetLockType(IsLargeRecordset ? ado::adLockReadOnly : ado::adLockPessimistic);
        m_Recordset->SetPageSize(PageSize);

        open_diagnoses::RetryFlags flags;
        Attempt attempt = Attempt::Opened;
        do {
            attempt = Attempt::Opened;
            TryWith(
                [&] {
                    m_Recordset->Open(Variant(m_Command), Variant::Missing(), ado::adOpenUnspecified,
                                      ado::adLockUnspecified, ado::adOptionUnspecified);
                },
                [&](const korado::Error& e) { attempt = m_OpenFailed(e, SQL, flags); });
            m_ADO->ClearErrors();
        } while (attempt == Attempt::Again);
        if (attempt == Attempt::Failed) {
            m_Error = 1;
            return;
        }

        m_SetUpFields();
        m_Error = 0;
        m_EOF = m_Recordset->Eof();
    });
}

clsDynasetADO::Attempt clsDynasetADO::m_OpenFailed(const korado::Error& e, const std::string& SQL,
                                                   open_diagnoses::RetryFlags& flags) {
    using open_diagnoses::OpenOutcome;
    open_diagnoses::OpenFailure failure{e.Source(), e.Number(), e.Description()};
    TryIgnore([&] {
        Ref<ado::Errors> errors = m_PlatformErrors();
        if (!errors || errors->Count() == 0) return;
        Ref<ado::Error> first = errors->Item(0);
        failure.native_error = first->NativeError();
        failure.first_number = first->Number();
        failure.first_source = first->Source();
        failure.first_description = first->Description();
    });
    if (open_diagnoses::NeedsDbmsName(failure.source) && g_CurrentConnection)
        failure.dbms_name = g_CurrentConnection->DBMSName();
    failure.sql = m_SQL;

    const OpenOutcome outcome = open_diagnoses::Classify(failure, flags);
    switch (outcome.kind) {
        case OpenOutcome::Raise:
            Raise(outcome.code, outcome.text);
        case OpenOutcome::Report:
            if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
            g_ADOError->Exception(outcome.text, GeneralException);
            return Attempt::Failed;
        case OpenOutcome::Box:
            platform::MsgBox(outcome.text, platform::vbInformation, outcome.title);
            return Attempt::Failed;
        case OpenOutcome::DefaultReport:
            m_ReportQueryError(outcome.text, SQL);
            return Attempt::Failed;
        case OpenOutcome::StandardPath:
            SetCurrentError(e);  // the look-ups above may have left another
            HandleError(kClass, "Constructor");
            return Attempt::Failed;
        case OpenOutcome::Retry:
            return Attempt::Again;
        case OpenOutcome::ReconnectRetry:
            m_Connection().Reconnect();
            m_Command->SetActiveConnection(m_Connection().Connection());
            return Attempt::Again;
        case OpenOutcome::GiveUp:
            return Attempt::Failed;
    }
    return Attempt::Failed;
}

void clsDynasetADO::m_ReportQueryError(const std::string& Description, const std::string& SQL) {
    Try(At("m_ReportQueryError"), [&] {
        std::string text;
        if (Ref<ado::Errors> errors = m_PlatformErrors()) {
            const std::int32_t count = errors->Count();
            for (std::int32_t i = 1; i <= count; ++i) {
                Ref<ado::Error> entry = errors->Item(i - 1);
                if (i > 1) text += "\r\n";
                if (count > 1) text += "Error " + std::to_string(i) + ": ";
                text += std::to_string(entry->Number()) + ": " + entry->Description();
            }
        }
        if (text.empty()) text = Description;
        // The statement is cut before its closing quotation mark, so that a long one still shows as cut.
        text = Left(text + "\r\n\r\nSQL=\"" + SQL, 1000) + "\"";
        if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
        g_ADOError->Exception(text, ODBCException);
    });
}

void clsDynasetADO::Constructor1(std::string& PLSQL, const Ref<clsADO>& ADOConnection,
                                 Ref<Collection>& BindVariables, bool IsLargeRecordset,
                                 std::int32_t TimeOut) {
    TryWith(
        [&] {
            m_Source = DynasetSourceDatabase;
            m_SQL = PLSQL;
            m_ADO = ADOConnection;
            m_ResetHostBreaks();

            m_NewRecordset(IsLargeRecordset);

            if (!m_Command) RaiseRuntime(rt::ObjectNotSet);
            m_Command->SetCommandType(ado::adCmdStoredProc);
            m_Command->SetCommandTimeout(TimeOut);
            m_Command->SetActiveConnection(m_Connection().Connection());
            if (!g_CurrentConnection || !g_CurrentConnection->BindVariables()) RaiseRuntime(rt::ObjectNotSet);
            g_CurrentConnection->BindVariables()->AddParametersToCommand(m_Command, BindVariables, PLSQL);
            m_Command->SetCommandText(
                ContainsText(m_Connection().Provider(), "OraOLEDB") ? WithoutRefCursorMarker(PLSQL) : PLSQL);

            m_Recordset->SetCacheSize(100);
            m_Recordset->SetLockType(ado::adLockPessimistic);
            TryIgnore([&] {
                if (Ref<ado::Property> rset = m_Command->Properties()->FindItem(Variant("PLSQLRSet")))
                    rset->SetValue(Variant(true));
            });
            m_Recordset = m_Command->Execute(nullptr, Variant::Missing(), ado::adOptionUnspecified);

            m_SetUpFields();
            m_Error = 0;
            m_EOF = false;
        },
        [&](const korado::Error& e) {
            m_ReportQueryError(e.Description(), PLSQL);
            m_Error = 1;
        });
}

void clsDynasetADO::Constructor2(const Ref<ado::Recordset>& ADORecordset, const std::string& SQLText,
                                 const Ref<clsADO>& ADOConnection) {
    // Copies: NextRecordset passes the dynaset's own SQL text and connection.
    const std::string sql = SQLText;
    const Ref<clsADO> connection = ADOConnection;
    TryWith(
        [&] {
            m_Source = DynasetSourceDatabase;
            m_SQL = sql;
            m_ADO = connection;
            m_ResetHostBreaks();
            m_Recordset = ADORecordset;
            m_SetUpFields();
            m_Error = 0;
            m_EOF = false;
        },
        [&](const korado::Error& e) {
            m_ReportQueryError(e.Description(), sql);
            m_Error = 1;
        });
}

void clsDynasetADO::Constructor3(const Ref<Dispatch>& CommonSQLPLus, const std::string& FileName) {
    const Ref<Dispatch> host = CommonSQLPLus;
    const std::string file = FileName;
    Try(At("Constructor3"), [&] {
        m_Source = DynasetSourceFile;
        m_FileName = file;
        m_Recordset = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        m_ADO = nullptr;
        m_Command = nullptr;
        g_HostObject = host;
        m_Recordset->SetCursorLocation(ado::adUseServer);
        m_Recordset->Open(Variant(file), Variant::Missing(), ado::adOpenStatic, ado::adLockUnspecified,
                          ado::adOptionUnspecified);
        Constructor2(m_Recordset, std::string(), nullptr);
        m_Source = DynasetSourceFile;
    });
}

// A large result streams server-side and forward only; any other is buffered client-side.
void clsDynasetADO::m_NewRecordset(bool IsLargeRecordset) {
    m_Recordset = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    m_Recordset->SetCursorLocation(IsLargeRecordset ? ado::adUseServer : ado::adUseClient);
    m_Recordset->SetActiveConnection(m_Connection().Connection());
    m_Recordset->SetCursorType(IsLargeRecordset ? ado::adOpenForwardOnly : ado::adOpenDynamic);
}

// The fields of the opened recordset; break columns make the dynaset read-only.
void clsDynasetADO::m_SetUpFields() {
    m_Fields = MakeRef<clsFieldsADO>();
    m_Fields->Constructor(m_Recordset, m_Error);
    m_Updatable = m_Fields->BreaksDefined() ? false : m_Rs().Supports(ado::adUpdate);
    m_MovePrevious = m_Rs().Supports(ado::adMovePrevious);
}

void clsDynasetADO::m_ResetHostBreaks() {
    m_HostBreaks = host_breaks::Breaks();
    if (!m_HostBreaks.IsNothing()) CallMethod(m_HostBreaks, "ResetALL");
}

// ---- lifecycle and state ----------------------------------------------------------------------------------

void clsDynasetADO::Destructor() {
    Try(At("Destructor"), [&] {
        m_ADO = nullptr;
        m_Command = nullptr;
        m_Fields = nullptr;
        m_Recordset = nullptr;
        m_HostBreaks = Variant();
    });
}

void clsDynasetADO::Detach() {
    Try(At("Detach"), [&] {
        m_ADO = nullptr;
        if (m_Rs().State() != ado::adStateClosed) m_Rs().Close();
    });
}

void clsDynasetADO::CloseRecordset() {
    Try(At("CloseRecordset"), [&] { m_Rs().Close(); });
}

bool clsDynasetADO::IsOpen() {
    bool result = false;
    Try(At("IsOpen"), [&] { result = m_Recordset && m_Recordset->State() == ado::adStateOpen; });
    return result;
}

Ref<ado::Recordset> clsDynasetADO::Recordset() {
    Ref<ado::Recordset> result;
    Try(At("Get Recordset"), [&] { result = m_Recordset; });
    return result;
}

std::string clsDynasetADO::SQLText() {
    std::string result;
    Try(At("Get SQLText"), [&] { result = m_SQL; });
    return result;
}

std::int32_t clsDynasetADO::Source() {
    std::int32_t result = 0;
    Try(At("Get Source"), [&] { result = m_Source; });
    return result;
}

std::int32_t clsDynasetADO::Error() {
    std::int32_t result = 0;
    Try(At("Get Error"), [&] { result = m_Error; });
    return result;
}

void clsDynasetADO::ResetError() {
    Try(At("ResetError"), [&] {
        m_Error = 0;
        if (!m_Fields) return;
        const std::int32_t count = m_Fields->Count();
        for (std::int32_t i = 0; i < count; ++i) {
            if (Ref<clsFieldADO> field = m_Fields->Item(Variant(i))) field->SetError(0);
        }
    });
}

Variant clsDynasetADO::Fields(const Variant& Index) {
    Variant result;
    Try(At("Get Fields"), [&] {
        if (Index.IsMissing()) {
            result = Variant(m_Fields);
            return;
        }
        if (!m_Fields) RaiseRuntime(rt::ObjectNotSet);
        result = Variant(m_Fields->Item(Index));
    });
    return result;
}

// ---- files ------------------------------------------------------------------------------------------------

namespace {

// The format number of Save's Format argument: 0 when it is missing.
std::int32_t PersistFormat(const Variant& Format) {
    if (Format.IsMissing()) return ado::adPersistADTG;
    std::int32_t format = 0;
    TryWith([&] { format = CLng(Format); },
            [&](const korado::Error&) {
                Raise(enumDynasetADOErrors::InvalidFileFormat,
                      "Format " + VariantToString(Format) + " is not an element in PersistFormatEnum.");
            });
    return format;
}

}  // namespace

void clsDynasetADO::Save(const std::string& FileName, const Variant& Format) {
    const std::int32_t format = PersistFormat(Format);
    // The number goes to the platform unchecked: the platform refuses what it cannot write.
    TryWith(
        [&] { m_Rs().Save(Variant(FileName), format); },
        [&](const korado::Error&) { Raise(enumDynasetADOErrors::SaveFileError, "Unable to save the file"); });
}

std::string clsDynasetADO::FileName() {
    std::string result;
    Try(At("Get FileName"), [&] { result = m_FileName; });
    return result;
}

// ---- navigation -------------------------------------------------------------------------------------------

bool clsDynasetADO::m_is_move_supported() {
    bool result = false;
    Try(At("m_is_move_supported"), [&] {
        if (!m_MovePrevious) {
            platform::MsgBox(
                "Moving though this recordset is not supported.\r\n\r\n"
                "If the Large Recordset option is selected please try it again with this option unselected.",
                platform::vbOKOnly | platform::vbInformation, kTitle);
        }
        result = m_MovePrevious;
    });
    return result;
}

void clsDynasetADO::m_RefreshFields() {
    bool field_error = false;
    m_Fields->Refresh(field_error);
    if (field_error) m_Updatable = false;
}

bool clsDynasetADO::EOF_() {
    bool result = false;
    TryPassOwn(At("Get EOF"), [&] {
        if (!m_Recordset) Raise(NoRecordset, "No recordset.");
        if (m_Recordset->ActiveConnection() && !m_Connection().IsConnected()) {
            result = true;
            return;
        }
        result = m_Recordset->State() == ado::adStateOpen ? m_EOF : true;
    });
    return result;
}

void clsDynasetADO::MoveFirst() {
    TryWith(
        [&] {
            if (!m_is_move_supported() || !m_Recordset) return;
            if (m_Recordset->Bof() && m_Recordset->Eof()) {
                m_EOF = true;
            } else if (m_Recordset->State() == ado::adStateOpen) {
                m_Recordset->MoveFirst();
                m_Row = 1;
                m_RefreshFields();
                m_EOF = m_Recordset->Eof();
            } else {
                m_EOF = true;
            }
        },
        [&](const korado::Error& e) {
            if (e.Source() == "Microsoft Cursor Engine" && e.Number() == Hr(0x80004005))
                Raise(MoveFirstEFAIL, e.Description());
            HandleError(kClass, "MoveFirst");
        });
}

void clsDynasetADO::MoveLast() {
    Try(At("MoveLast"), [&] {
        if (!m_is_move_supported() || !m_ConnectedOrFile()) return;
        if (m_Rs().State() == ado::adStateOpen) {
            if (!(m_Rs().Bof() && m_Rs().Eof())) {
                m_Rs().MoveLast();
                m_RefreshFields();
            }
            m_EOF = m_Rs().Eof();
        } else {
            m_EOF = true;
        }
        m_Row = m_Rs().RecordCount();
    });
}

void clsDynasetADO::MoveNext() {
    TryWith(
        [&] {
            ado::Recordset& rs = m_Rs();
            if (rs.ActiveConnection() && !m_Connection().IsConnected()) return;
            if (rs.State() != ado::adStateOpen) {
                m_EOF = true;
                return;
            }
            m_EOF = rs.Eof();
            if (m_EOF) return;
            rs.MoveNext();
            if (!rs.Eof()) {
                ++m_Row;
                m_RefreshFields();
            }
            m_EOF = rs.Eof();
            if (!m_HostBreaks.IsNothing()) CallMethod(m_HostBreaks, "CheckBreaks", Ref<Dispatch>(this));
        },
        [&](const korado::Error& e) {
            if (e.Source() == "Microsoft" && e.Number() == Hr(0x8007000E)) {
                Raise(OutOfMemory,
                      "Out of memory. Rerun the query using the large resultset option in the Resultset Options "
                      "dialog. Alternatively increase the available memory by closing programs, configuring more "
                      "virtual memory or adding more physical memory.");
            }
            if (e.Source() == "Microsoft Cursor Engine" && e.Number() == Hr(0x80004005)) {
                Raise(RecordsetMoveNext,
                      "An error occurred while moving through the recordset. Source=Microsoft Cursor Engine, "
                      "number=-2147467259. Advice: Rerun your query.");
            }
            PassOwnOrHandle(At("MoveNext"), e);
        });
}

void clsDynasetADO::MovePrevious() {
    Try(At("MovePrevious"), [&] {
        if (!m_is_move_supported() || !m_ConnectedOrFile()) return;
        ado::Recordset& rs = m_Rs();
        if (rs.State() != ado::adStateOpen || (rs.Bof() && rs.Eof())) return;
        if (m_EOF) MoveLast();
        rs.MovePrevious();
        if (!rs.Bof()) {
            --m_Row;
            m_RefreshFields();
            m_EOF = false;
        } else {
            MoveFirst();
        }
    });
}

bool clsDynasetADO::IsCursorTypeForwardOnly() {
    bool result = false;
    Try(At("IsCursorTypeForwardOnly"), [&] { result = m_Rs().CursorType() == ado::adOpenForwardOnly; });
    return result;
}

std::int32_t clsDynasetADO::RecordCount() {
    std::int32_t result = 0;
    Try(At("Get RecordCount"), [&] {
        std::int32_t count = m_Rs().RecordCount();
        if (count == -1) {
            count = 0;
            MoveFirst();
            while (!m_Rs().Eof()) {
                ++count;
                const std::int32_t row = m_Row;
                MoveNext();
                // A move that failed (and was reported) would count the same row for ever.
                if (m_Row == row && !m_Rs().Eof()) break;
            }
        }
        result = count;
    });
    return result;
}

std::int32_t clsDynasetADO::Row() {
    std::int32_t result = 0;
    Try(At("Get Row"), [&] {
        ado::Recordset& rs = m_Rs();
        result = rs.State() == ado::adStateClosed || (rs.Bof() && rs.Eof()) ? 0 : m_Row;
    });
    return result;
}

Ref<clsDynasetADO> clsDynasetADO::NextRecordset() {
    Ref<clsDynasetADO> result;
    Try(At("NextRecordset"), [&] {
        if (TextEquals(Left(m_Rs().Source(), 6), "select")) return;
        Ref<ado::Recordset> next;
        if (!TryIgnore([&] { next = m_Recordset->NextRecordset(); })) {
            m_Recordset = nullptr;
            return;
        }
        m_Recordset = next;
        if (!m_Recordset) return;
        Constructor2(m_Recordset, m_SQL, m_ADO);
        result = Ref<clsDynasetADO>(this);
    });
    return result;
}

Variant clsDynasetADO::Filter() {
    Variant result;
    Try(At("Get Filter"), [&] { result = m_Rs().Filter(); });
    return result;
}

void clsDynasetADO::SetFilter(const Variant& value) {
    Try(At("Let Filter"), [&] { m_Rs().SetFilter(value); });
}

ado::Recordset& clsDynasetADO::m_Rs() {
    if (!m_Recordset) RaiseRuntime(rt::ObjectNotSet);
    return *m_Recordset;
}

Ref<ado::Errors> clsDynasetADO::m_PlatformErrors() {
    Ref<ado::Connection> connection = m_ADO ? m_ADO->Connection() : nullptr;
    return connection ? connection->Errors() : nullptr;
}

clsADO& clsDynasetADO::m_Connection() {
    if (!m_ADO) RaiseRuntime(rt::ObjectNotSet);
    return *m_ADO;
}

bool clsDynasetADO::m_ConnectedOrFile() {
    if (m_Source == DynasetSourceFile && !m_ADO) return true;
    return m_Connection().IsConnected();
}

// ---- editing ----------------------------------------------------------------------------------------------

bool clsDynasetADO::AddNew() {
    bool result = false;
    TryWith(
        [&] {
            if (!m_Rs().Supports(ado::adAddNew)) {
                // Shown whatever the error object's settings: the host asked for a row it cannot have.
                platform::MsgBox(
                    "The driver does not support adding rows. Try it again with a different driver / "
                    "Provider.",
                    platform::vbOKOnly | platform::vbInformation, "korADO Information");
                return;
            }
            m_Rs().AddNew();
            result = true;
        },
        [&](const korado::Error& e) {
            if (e.Number() == Hr(0x8007000E)) Raise(OutOfMemory, "Out of memory");
            HandleError(kClass, "AddNew");
        });
    return result;
}

std::int32_t clsDynasetADO::Edit() {
    std::int32_t result = 0;
    Try(At("Edit"), [&] { result = m_Rs().Supports(ado::adUpdate) ? 6 : 7; });
    return result;
}

bool clsDynasetADO::Updatable() {
    bool result = false;
    Try(At("Updatable"), [&] { result = m_Updatable; });
    return result;
}

std::int32_t clsDynasetADO::Update() {
    std::int32_t result = 0;
    TryWith(
        [&] {
            if (!m_Rs().Supports(ado::adUpdate)) {
                if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
                g_ADOError->Exception("Recordset does not support updates", GeneralException);
                m_Error = 1;
                return;
            }
            // The host learns of a failed store from the result; the failure itself goes no further.
            std::optional<korado::Error> failed;
            TryWith([&] { m_Rs().Update(); }, [&](const korado::Error& e) { failed = e; });
            if (!failed) return;
            Err().Clear();
            result = 1;

            update_advice::UpdateFailure failure{failed->Number(), failed->Description(), failed->Source()};
            TryIgnore([&] {
                Ref<ado::Errors> errors = m_PlatformErrors();
                if (!errors || errors->Count() == 0) return;
                Ref<ado::Error> first = errors->Item(0);
                failure.native_error = first->NativeError();
                failure.first_source = first->Source();
            });
            const std::string advice = update_advice::Advice(failure);
            if (!advice.empty()) {
                if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
                g_ADOError->Exception(advice, GeneralException);
            }
            m_Rs().CancelUpdate();
        },
        [&](const korado::Error&) {
            HandleError(kClass, "Update");
            m_Error = 1;
        });
    return result;
}

void clsDynasetADO::CancelUpdate() {
    Try(At("CancelUpdate"), [&] { m_Rs().CancelUpdate(); });
}

void clsDynasetADO::UpdateBatch() {
    TryWith(
        [&] {
            if (!m_ADO) return;
            if (!m_ADO->IsConnected()) Raise(NoDBConnection, "No live database connection");
            m_Rs().UpdateBatch(ado::adAffectAll);
        },
        [&](const korado::Error& e) {
            const std::int32_t n = e.Number();
            if (e.Source() == "Microsoft Cursor Engine" && (n == Hr(0x80004005) || n == Hr(0x80040018)))
                Raise(TooManyRecordsAffected, e.Description());
            if (e.Source() == "ADODB.Recordset" && n == ado::adErrFeatureNotAvailable)
                Raise(CommitError, e.Description());
            PassOwnOrHandle(At("UpdateBatch"), e);
        });
}

// ---- late binding -----------------------------------------------------------------------------------------

const MemberTable* clsDynasetADO::Members() const noexcept {
    static const MemberTable t =
        MemberTable::Of<clsDynasetADO>()
            .Method<&clsDynasetADO::CloseRecordset>("CloseRecordset")
            .Method<&clsDynasetADO::Constructor>("Constructor")
            .Method<&clsDynasetADO::Constructor1>("Constructor1")
            .Method<&clsDynasetADO::Constructor2>("Constructor2")
            .Method<&clsDynasetADO::Constructor3>("Constructor3")
            .Method<&clsDynasetADO::AddNew>("AddNew")
            .Method<&clsDynasetADO::CancelUpdate>("CancelUpdate")
            .Method<&clsDynasetADO::Destructor>("Destructor")
            .Method<&clsDynasetADO::Detach>("Detach")
            .Method<&clsDynasetADO::Edit>("Edit")
            .Get<&clsDynasetADO::EOF_>("EOF")
            .Get<&clsDynasetADO::Error>("Error")
            .Get<&clsDynasetADO::Fields>("Fields")
            .Get<&clsDynasetADO::FileName>("FileName")
            .Get<&clsDynasetADO::Filter>("Filter")
            .Let<&clsDynasetADO::SetFilter>("Filter")
            .Method<&clsDynasetADO::IsCursorTypeForwardOnly>("IsCursorTypeForwardOnly")
            .Method<&clsDynasetADO::IsOpen>("IsOpen")
            .Method<&clsDynasetADO::MoveFirst>("MoveFirst")
            .Method<&clsDynasetADO::MoveLast>("MoveLast")
            .Method<&clsDynasetADO::MoveNext>("MoveNext")
            .Method<&clsDynasetADO::MovePrevious>("MovePrevious")
            .Method<&clsDynasetADO::NextRecordset>("NextRecordset")
            .Get<&clsDynasetADO::RecordCount>("RecordCount")
            .Get<&clsDynasetADO::Recordset>("Recordset")
            .Method<&clsDynasetADO::ResetError>("ResetError")
            .Get<&clsDynasetADO::Row>("Row")
            .Method<&clsDynasetADO::Save>("Save")
            .Get<&clsDynasetADO::Source>("Source")
            .Get<&clsDynasetADO::SQLText>("SQLText")
            .Get<&clsDynasetADO::Updatable>("Updatable")
            .Method<&clsDynasetADO::Update>("Update")
            .Method<&clsDynasetADO::UpdateBatch>("UpdateBatch")
            .Build();
    return &t;
}

}  // namespace korado
