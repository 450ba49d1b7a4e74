// clsADO: the connection object, the spine of the library. A host creates one per database session
// ("korADO.clsADO"), calls Constructor once with its script object and the session defaults, Connect, then
// runs statements and opens result sets through it, and ends with Disconnect and Destructor.
//
// Ownership: the object owns its platform connection and its two variable collections (created on each
// successful connect). Creating one makes it the library's current connection (g_CurrentConnection) and
// gives the library a new shared error object (g_ADOError) bound to it; both hold counted references, so
// a host ends a session with Disconnect and Destructor rather than by dropping its reference.
//
// Failures: every public operation guards itself. Unless its description says otherwise, a failure goes
// to the standard error path (class "clsADO", the operation's label) and the operation returns its result
// as it stood; Connect, ExecuteSQL and Commit pass the library's own errors (diagnoses with advice, source
// "korADO") on to the host unchanged.
//
// Reconnects: IsConnected re-establishes a dropped link silently, so that a host whose server restarted
// between two statements just goes on. Silence would be wrong where the link took uncommitted work with
// it: the server rolled that work back, nothing replays it, and a host that goes on and commits would
// believe it saved. So a reconnect after work since the last commit tells the host, through the shared
// error object's Exception, that those changes were rolled back; one with nothing to lose says nothing. A
// commit cut off by a dropped link cannot know whether the server committed; its failure says so.
#pragma once

#include <cstdint>
#include <string>

#include "korado/platform/adodb.h"
#include "korado/platform/adox.h"
#include "korado/runtime/collection.h"
#include "korado/runtime/dispatch.h"

namespace korado {

class clsBindVariables;
class clsDictionary;
class clsDynasetADO;
class clsSubstVariables;

class KORADO_EXPORT clsADO : public Dispatch {
public:
    clsADO();  // initialisation: becomes the current connection, gets a new shared error object
    ~clsADO() override;

    // ---- lifecycle ----
    void Constructor(const Ref<Dispatch>& Tabulon_SQLPlus, bool AllowTransactions, std::int32_t TimeOut,
                     std::int32_t DefaultParamMode, std::int32_t DefaultParamDataType, std::int32_t DefaultPageSize,
                     std::int32_t DefaultLargePageSize);
    // All four arguments may come back changed: the user and data-source name as the provider reports them,
    // the password taken from a combined login, the connection string without its password.
    bool Connect(std::string& User, std::string& Pass, std::string& DSN, Variant& ADOConnectionString);
    void Reconnect();
    void Disconnect();
    bool IsConnected();
    void Destructor();

    // ---- simple properties ----
    bool AllowTransactions();
    void SetAllowTransactions(bool value);
    bool DisplayAlerts();
    void SetDisplayAlerts(bool value);
    std::int32_t DefaultParameterMode();
    std::int32_t DefaultParameterDataType();
    Ref<clsBindVariables> BindVariables();
    Ref<clsSubstVariables> SubstVariables();
    Ref<ado::Connection> Connection();
    Ref<clsDictionary> Dictionary();
    void About();

    // ---- SQL execution ----
    void ExecuteSQL(std::string& SQL, Ref<Collection>& ParamNames, std::int32_t& RecordsAffected,
                    Ref<ado::Recordset>& ADORecordset);
    Ref<ado::Error> Errors(const Variant& Index);
    void ClearErrors();
    std::int32_t LastServerErr();
    std::int32_t LastServerErrPos();
    std::string LastServerErrText();
    void LastServerErrReset();

    // ---- result sets ----
    // A dynaset over the query, or null when it could not be opened (the dynaset reported why). A large
    // one streams its rows forward only, read-only. All three arguments are by reference: binding may hand
    // back a rewritten name collection, and for "MSDAORA" the procedure call loses its first "?".
    Ref<clsDynasetADO> CreateDynaset(std::string& SQL, Ref<Collection>& BindVariables, bool& IsLargeRecordset);
    Ref<clsDynasetADO> CreateDynasetFromProc(std::string& SQL, Ref<Collection>& BindVariables,
                                             bool& IsLargeRecordset);

    // ---- database and table creation ----
    // A new database from the connection string, which the connection object then uses; empty on success.
    // Raises DatabaseAlreadyExists, ProviderNotInstalled or NotSupportedByProvider for the refusals it
    // recognises; any other failure is reported and the connection object keeps its connection.
    Variant Create(std::string& ConnectionString);
    // A new table of the connection with one column per field of the recordset, which is left as it was.
    // Raises NotImplementedByProvider (the ODBC bridge, "MSDAORA"), NewColumnError, CreateTableError and
    // AppendTableError; other failures are reported. A table that could not be appended does not exist.
    void CreateTableFromRecordset(const std::string& TableName, const Ref<ado::Recordset>& ADODBRecordset);

    // ---- transactions and capabilities ----
    bool AreTransactionsAvailable();
    void BeginTransaction();
    void CommitTransaction();
    void Commit();
    void RollbackTransaction();
    void Rollback();
    bool Supports(const std::string& Property);

    // ---- introspection ----
    std::string Provider();
    std::string ConnectionProperty(const std::string& Name);
    std::string DBMSName();
    std::string CurrentCatalog();
    std::string ServerName();
    std::string SchemaTerm();
    std::string Version();

    // Removes the first "Password=...;" and the first "PWD=...;" entry (keys in any letter case), reading
    // braced and quoted values whole, and every other password entry with a braced or quoted value; an
    // unquoted value not followed by ";" stays. Public for the tests and fuzzers; not part of the late-bound
    // interface.
    static std::string m_RemovePassword(const std::string& ConnectionString);

    std::string_view ClassName() const noexcept override { return "clsADO"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    bool m_Connect(std::string& User, std::string& Pass, std::string& DSN, Variant& ADOConnectionString);
    bool m_IsConnected(const Ref<ado::Connection>& conn);
    Ref<ado::Property> m_GetProperty(const std::string& Name);
    // A new, unattached catalog column copying the field's name and definition for the target provider;
    // null when it failed (the failure was reported).
    Ref<adox::Column> m_CopyField(const Ref<ado::Field>& Field);
    void m_SetFieldProperties(const Ref<adox::Column>& Column);
    // The platform connection; raises 91 when there is none.
    ado::Connection& Conn();

    Ref<ado::Connection> m_Connection;
    // The command of the last statement, when nothing else holds it: ExecuteSQL runs the same statement
    // in it again. Its parameters hold that statement's values until the next statement or Disconnect.
    Ref<ado::Command> m_SpareCommand;
    bool m_AllowTransactions = true;
    Variant m_TransactionsAvailable;  // Empty until determined, then a Boolean
    Ref<clsBindVariables> m_BindVariables;
    Ref<clsDictionary> m_Dictionary;
    std::int32_t m_DefaultLargePageSize = 0;
    std::int32_t m_DefaultPageSize = 0;
    std::int32_t m_DefaultParamMode = 0;
    std::int32_t m_DefaultParamDataType = 0;
    std::string m_Password;
    Ref<clsSubstVariables> m_SubstVariables;
    std::int32_t m_TimeOut = 0;
    std::string m_User;
    std::string m_ExtendedProperties;
};

}  // namespace korado
