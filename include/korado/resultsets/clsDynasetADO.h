// clsDynasetADO: a result set ("dynaset"): one platform recordset with the connection object that opened
// it, the SQL text as the host gave it, and the fields of the current row.
//
// A host gets one from clsADO::CreateDynaset (a query) or CreateDynasetFromProc (a procedure call), or
// makes one and calls Constructor itself. A large dynaset reads server-side, forward-only and read-only,
// holding a block of rows at a time; any other buffers its rows client-side and moves in every direction.
//
// The host's script object (g_HostObject) takes part through its Breaks collection: ResetALL before the
// fields exist, CheckBreaks(dynaset) after every MoveNext from a row.
//
// Ownership: the dynaset holds its connection object, command, recordset and fields; Destructor (also run
// when the last reference goes) drops them without closing anything; Detach closes the recordset.
//
// Failures: opening never raises a provider failure: a failed open is diagnosed (by provider, DBMS, error
// number and native error) into one of the library's errors raised to the host, a message shown through
// the shared error object, a retry, or the default report with the SQL text, and Error then reads 1.
// Every other member guards itself (class "clsDynasetADO") and returns false, 0 or null after a handled
// failure; EOF, MoveFirst and MoveNext raise the library's errors their failures mean.
//
// Files: Save writes the rows in one of the platform's persistence formats; Constructor3 opens such a file
// without any database. A file dynaset has no connection object, so every move that would first ask the
// connection whether it is still there does without: EOF, MoveFirst and MoveNext (whose recordset has no
// active connection), and also MoveLast and MovePrevious, which on a database dynaset ask the connection
// object unconditionally. A file dynaset's rows are all at hand, and a host that pages back through a file
// expects it to move as a query's rows do, not to report a missing connection.
#pragma once

#include <cstdint>
#include <string>

#include "korado/platform/adodb.h"
#include "korado/runtime/collection.h"
#include "korado/runtime/dispatch.h"

namespace korado {

namespace open_diagnoses {
struct RetryFlags;
}

class clsADO;
class clsFieldsADO;

enum enumDynasetSource : std::int32_t { DynasetSourceFile = 1, DynasetSourceDatabase = 2 };

class KORADO_EXPORT clsDynasetADO : public Dispatch {
public:
    clsDynasetADO();
    ~clsDynasetADO() override;

    // ---- opening ----
    // SQL and BindVariables are by reference: binding may hand back a rewritten name collection.
    void Constructor(std::string& SQL, const Ref<clsADO>& Connection, Ref<Collection>& BindVariables,
                     bool IsLargeRecordset, std::int32_t TimeOut, std::int32_t PageSize);
    // A procedure call.
    void Constructor1(std::string& PLSQL, const Ref<clsADO>& ADOConnection, Ref<Collection>& BindVariables,
                      bool IsLargeRecordset, std::int32_t TimeOut);
    // Wraps a recordset that is already open (the caller's object itself).
    void Constructor2(const Ref<ado::Recordset>& ADORecordset, const std::string& SQLText,
                      const Ref<clsADO>& ADOConnection);
    // Opens the rows saved in FileName, without a connection; CommonSQLPLus becomes the library's host
    // object. A failure goes to the standard error path and leaves the dynaset without open rows.
    void Constructor3(const Ref<Dispatch>& CommonSQLPLus, const std::string& FileName);
    void Destructor();
    void Detach();
    void CloseRecordset();
    bool IsOpen();

    // ---- state ----
    Ref<ado::Recordset> Recordset();
    std::string SQLText();
    std::int32_t Source();
    std::int32_t Error();
    void ResetError();
    // Without Index: the fields collection; with Index: that field (a clsFieldADO), by position or name.
    Variant Fields(const Variant& Index);

    // ---- files ----
    // Writes the rows to FileName in persistence format Format (0, the binary one, when missing; anything
    // convertible to a number). Raises InvalidFileFormat for a Format that is no number and SaveFileError
    // for any failure of the save itself (the platform's reason is not kept).
    void Save(const std::string& FileName, const Variant& Format);
    // The file Constructor3 opened; empty for a dynaset of a query.
    std::string FileName();

    // ---- navigation ----
    bool EOF_();  // "EOF" by name: EOF is a C macro
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();
    bool IsCursorTypeForwardOnly();
    std::int32_t RecordCount();
    std::int32_t Row();
    Ref<clsDynasetADO> NextRecordset();
    Variant Filter();
    void SetFilter(const Variant& value);

    // ---- editing ----
    // False, after a message box, when the provider cannot add rows.
    bool AddNew();
    // 6 when the recordset can be updated, 7 when not; changes nothing.
    std::int32_t Edit();
    bool Updatable();
    // Stores the pending change: 0 when stored (or when the recordset cannot be updated at all: a message,
    // and Error reads 1), 1 when storing failed: the failure is never raised; advice is shown for the
    // failures it is known for, and the pending change is cancelled.
    std::int32_t Update();
    void CancelUpdate();
    // Stores every pending change; does nothing for a dynaset without a connection object. Raises
    // NoDBConnection when the connection is gone, TooManyRecordsAffected and CommitError for the failures
    // they mean.
    void UpdateBatch();

    // The fields collection itself, for C++ hosts (null before a successful open).
    const Ref<clsFieldsADO>& FieldsCollection() const noexcept { return m_Fields; }

    std::string_view ClassName() const noexcept override { return "clsDynasetADO"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    // What one attempt to open the query came to.
    enum class Attempt { Opened, Again, Failed };

    void m_ReportQueryError(const std::string& Description, const std::string& SQL);
    bool m_is_move_supported();
    // The open-failure handler: classifies a failed Open and carries out the outcome; raises for a raising
    // outcome. `SQL`: the text that ran.
    Attempt m_OpenFailed(const korado::Error& e, const std::string& SQL, open_diagnoses::RetryFlags& flags);
    // Breaks.ResetALL on the host's script object; remembers whether the host has break definitions.
    void m_ResetHostBreaks();
    void m_NewRecordset(bool IsLargeRecordset);
    void m_SetUpFields();
    void m_RefreshFields();
    // The recordset; raises 91 when there is none.
    ado::Recordset& m_Rs();
    // The connection object; raises 91 when there is none.
    clsADO& m_Connection();
    // The connection object reports IsConnected true; a file dynaset, which has none, counts as connected.
    bool m_ConnectedOrFile();
    // The Errors of the connection object's platform connection; null when there is none.
    Ref<ado::Errors> m_PlatformErrors();

    Ref<clsADO> m_ADO;
    Ref<ado::Command> m_Command;
    std::int32_t m_Error = 0;
    bool m_EOF = true;
    Ref<clsFieldsADO> m_Fields;
    std::string m_FileName;
    bool m_MovePrevious = false;
    Ref<ado::Recordset> m_Recordset;
    std::int32_t m_Row = 1;
    std::int32_t m_Source = 0;
    std::string m_SQL;
    bool m_Updatable = false;
    // The host's Breaks collection as the last construction found it (Nothing when the host gave no script
    // object), so that the break check after every MoveNext does not look it up again.
    Variant m_HostBreaks;
};

}  // namespace korado
